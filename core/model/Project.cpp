#include "core/model/Project.h"

#include "core/model/Translate.h"

#include <algorithm>

namespace orvane {

const char *sessionLaunchModeLabel(SessionLaunchMode mode) {
    switch (mode) {
    case SessionLaunchMode::Trigger: return "Tr";
    case SessionLaunchMode::Gate: return "Gt";
    case SessionLaunchMode::Toggle: return "Tg";
    case SessionLaunchMode::PlayOnce: return "1x";
    }
    return "Tr";
}

const char *followActionLabel(FollowAction action) {
    switch (action) {
    case FollowAction::None: return "";
    case FollowAction::Again: return "↻";
    case FollowAction::NextScene: return "↓S";
    case FollowAction::PreviousScene: return "↑S";
    case FollowAction::NextClipInColumn: return "→";
    }
    return "";
}

const char *automationWriteModeLabel(AutomationWriteMode mode) {
    switch (mode) {
    case AutomationWriteMode::Read: return "Read";
    case AutomationWriteMode::Touch: return "Touch";
    case AutomationWriteMode::Latch: return "Latch";
    case AutomationWriteMode::Write: return "Write";
    }
    return "Read";
}

const char *sessionPlayerKindLabel(SessionPlayerKind kind) {
    switch (kind) {
    case SessionPlayerKind::DrumsFourFour: return QT_TRANSLATE_NOOP("SessionPlayer", "Drums 4/4");
    case SessionPlayerKind::DrumsBreak: return QT_TRANSLATE_NOOP("SessionPlayer", "Drums Break");
    case SessionPlayerKind::BassRoot: return QT_TRANSLATE_NOOP("SessionPlayer", "Bass Root");
    case SessionPlayerKind::ChordsPad: return QT_TRANSLATE_NOOP("SessionPlayer", "Chords Pad");
    }
    return QT_TRANSLATE_NOOP("SessionPlayer", "Player");
}

uint64_t TimeSignature::packed() const {
    return static_cast<uint64_t>(static_cast<uint32_t>(numerator)) |
           (static_cast<uint64_t>(static_cast<uint32_t>(denominator)) << 32);
}

TimeSignature TimeSignature::fromPacked(uint64_t word) {
    return TimeSignature{static_cast<int32_t>(static_cast<uint32_t>(word & 0xffffffffu)),
                         static_cast<int32_t>(static_cast<uint32_t>(word >> 32))};
}

std::array<EqBandSettings, 8> ChannelEq8::defaultBands() {
    auto band = [](uint8_t type, float freq, float q) {
        return EqBandSettings{type, freq, 0.0f, q, true};
    };
    return {band(0, 20.0f, 0.7f),   band(1, 75.0f, 0.7f),   band(2, 100.0f, 1.0f),
            band(2, 250.0f, 1.0f),  band(2, 750.0f, 1.0f),  band(2, 2500.0f, 1.0f),
            band(3, 7500.0f, 0.7f), band(4, 20000.0f, 0.7f)};
}

int64_t Clip::audioFrameCount() const {
    if (!audio) return 0;
    const int64_t channelCount = channels < 2 ? 1 : channels;
    return static_cast<int64_t>(audio->size()) / channelCount;
}

std::shared_ptr<Track> Project::findTrack(uint64_t id) const {
    for (const auto &track : tracks)
        if (track && track->id == id) return track;
    return nullptr;
}

std::shared_ptr<Clip> Project::findClip(uint64_t id) const {
    for (const auto &track : tracks) {
        if (!track) continue;
        for (const auto &clip : track->clips)
            if (clip && clip->id == id) return clip;
    }
    return nullptr;
}

std::shared_ptr<Track> Project::addTrack(TrackType type, const std::string &trackName) {
    auto track = std::make_shared<Track>();
    track->id = nextTrackId++;
    track->type = type;
    track->name = trackName.empty() ? "Track " + std::to_string(track->id) : trackName;
    tracks.push_back(track);
    return track;
}

std::shared_ptr<Clip> Project::addClip(uint64_t trackId, ClipKind kind) {
    auto track = findTrack(trackId);
    if (!track) return nullptr;
    auto clip = std::make_shared<Clip>();
    clip->id = nextClipId++;
    clip->trackId = trackId;
    clip->kind = kind;
    clip->name = (kind == ClipKind::Midi ? "MIDI " : "Audio ") + std::to_string(clip->id);
    track->clips.push_back(clip);
    return clip;
}

void Project::removeClip(uint64_t id) {
    for (auto &track : tracks) {
        if (!track) continue;
        std::erase_if(track->clips, [id](const auto &clip) { return clip && clip->id == id; });
    }
}

bool Project::moveClipToTrack(const std::shared_ptr<Clip> &clip, uint64_t trackId) {
    if (!clip || trackId == 0 || clip->trackId == trackId) return true;
    auto source = findTrack(clip->trackId);
    auto target = findTrack(trackId);
    if (!source || !target || source->type != target->type) return false;
    std::erase_if(source->clips, [&clip](const auto &held) { return held == clip; });
    clip->trackId = trackId;
    target->clips.push_back(clip);
    return true;
}

void Project::removeTrack(uint64_t id) {
    std::vector<uint64_t> clipIds;
    for (const auto &track : tracks) {
        if (!track || track->id != id) continue;
        for (const auto &clip : track->clips)
            if (clip) clipIds.push_back(clip->id);
    }
    for (auto &scene : session.scenes)
        for (auto &slot : scene.clips)
            if (std::find(clipIds.begin(), clipIds.end(), slot) != clipIds.end()) slot = 0;
    std::erase_if(tracks, [id](const auto &track) { return track && track->id == id; });
}

} // namespace orvane
