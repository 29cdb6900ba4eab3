#include "core/commands/AudioProcessingCommands.h"

#include "core/model/FrozenTrack.h"
#include "core/model/SaturatingMath.h"
#include "core/music/AudioAnalysis.h"
#include "core/music/Scales.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace orvane {

namespace {

int32_t interleavedChannels(const Clip &clip) { return clip.channels < 2 ? 1 : clip.channels; }

bool holdsSamples(const Clip &clip) { return clip.audio && !clip.audio->empty(); }

/// The clip's samples with `change` applied to a copy, which becomes the clip's buffer.
template <typename Change> void rewriteSamples(Clip &clip, Change change) {
    auto samples = std::make_shared<std::vector<float>>(clip.audio->toVector());
    change(*samples);
    clip.audio = std::move(samples);
}

float largestMagnitude(const SampleBuffer &buffer) {
    // A file-backed clip is read once in large reads, not sample by sample.
    const FloatSamples samples(buffer);
    float peak = 0.0f;
    for (int64_t i = 0; i < samples.size(); ++i)
        peak = std::max(peak, std::abs(samples.data()[i]));
    return peak;
}

/// Whether some channel of the frame is louder than the threshold.
bool isLoudFrame(const FloatSamples &samples, int64_t frame, int32_t channels, float threshold) {
    for (int32_t c = 0; c < channels; ++c)
        if (std::abs(samples.data()[frame * channels + c]) > threshold) return true;
    return false;
}

/// Resamples the clip's buffer by `semitones` and scales its window on the source with it.
void shiftClipPitch(Clip &clip, float semitones) {
    std::vector<float> shifted = clip.audio->toVector();
    if (!pitchShiftInterleaved(shifted, interleavedChannels(clip), semitones)) return;
    const double ratio = std::pow(2.0, static_cast<double>(semitones) / 12.0);
    const auto scaled = [ratio](int64_t frames) {
        // A damaged position shifted down could leave the range of the type.
        return static_cast<int64_t>(
            std::clamp(static_cast<double>(frames) / ratio, -9.2e18, 9.2e18));
    };
    clip.sourceOffset = scaled(clip.sourceOffset);
    clip.audio = std::make_shared<const std::vector<float>>(std::move(shifted));
    // A clip without a length of its own plays its whole buffer.
    clip.length =
        clip.length < 1 ? clip.audioFrameCount() : std::max<int64_t>(1, scaled(clip.length));
}

/// A clip holding a rendered or captured stereo buffer; its id.
uint64_t addStereoClip(Project &project, uint64_t trackId, const char *name, int64_t start,
                       int64_t length, const SharedSamples &samples) {
    const auto clip = project.addClip(trackId, ClipKind::Audio);
    clip->name = name;
    clip->arrangeStart = start;
    clip->length = length;
    clip->audio = samples;
    clip->channels = 2;
    return clip->id;
}

} // namespace

AudioClipEditCommand::AudioClipEditCommand(uint64_t clipId, bool needsSamples)
    : clipId_(clipId), needsSamples_(needsSamples) {}

void AudioClipEditCommand::redo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip || clip->kind != ClipKind::Audio) return;
    if (needsSamples_ && !holdsSamples(*clip)) return;
    if (!captured_) {
        previousAudio_ = clip->audio;
        previousLength_ = clip->length;
        previousSourceOffset_ = clip->sourceOffset;
        previousArrangeStart_ = clip->arrangeStart;
        previousStretchRatio_ = clip->stretchRatio;
        captured_ = true;
    }
    apply(*clip);
}

void AudioClipEditCommand::undo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip || !captured_) return;
    clip->audio = previousAudio_;
    clip->length = previousLength_;
    clip->sourceOffset = previousSourceOffset_;
    clip->arrangeStart = previousArrangeStart_;
    clip->stretchRatio = previousStretchRatio_;
}

NormalizeAudioClipCommand::NormalizeAudioClipCommand(uint64_t clipId, float targetPeak)
    : AudioClipEditCommand(clipId, true), targetPeak_(targetPeak) {}

void NormalizeAudioClipCommand::apply(Clip &clip) {
    const float peak = largestMagnitude(*clip.audio);
    if (!(peak > 1e-6f) || !std::isfinite(targetPeak_)) return;
    const float scale = targetPeak_ / peak;
    rewriteSamples(clip, [scale](std::vector<float> &samples) {
        for (float &value : samples)
            value *= scale;
    });
}

std::string NormalizeAudioClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Normalize Audio");
}

ReverseAudioClipCommand::ReverseAudioClipCommand(uint64_t clipId)
    : AudioClipEditCommand(clipId, true) {}

void ReverseAudioClipCommand::apply(Clip &clip) {
    const int32_t channels = interleavedChannels(clip);
    const int64_t frames = clip.audioFrameCount();
    auto reversed = std::make_shared<std::vector<float>>(clip.audio->size(), 0.0f);
    for (int64_t frame = 0; frame < frames; ++frame)
        clip.audio->copyTo((frames - 1 - frame) * channels, channels,
                           reversed->data() + frame * channels);
    clip.audio = std::move(reversed);
}

std::string ReverseAudioClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Reverse Audio");
}

InvertAudioPhaseCommand::InvertAudioPhaseCommand(uint64_t clipId)
    : AudioClipEditCommand(clipId, true) {}

void InvertAudioPhaseCommand::apply(Clip &clip) {
    rewriteSamples(clip, [](std::vector<float> &samples) {
        for (float &value : samples)
            value = -value;
    });
}

std::string InvertAudioPhaseCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Invert Phase");
}

TrimAudioSilenceCommand::TrimAudioSilenceCommand(uint64_t clipId, float threshold)
    : AudioClipEditCommand(clipId, true), threshold_(threshold) {}

void TrimAudioSilenceCommand::apply(Clip &clip) {
    const int32_t channels = interleavedChannels(clip);
    const int64_t frames = clip.audioFrameCount();
    if (frames < 2) return;
    const FloatSamples samples(*clip.audio);
    int64_t first = 0;
    while (first < frames && !isLoudFrame(samples, first, channels, threshold_))
        ++first;
    if (first == frames) return;
    int64_t last = frames - 1;
    while (!isLoudFrame(samples, last, channels, threshold_))
        --last;
    auto trimmed = std::make_shared<std::vector<float>>(
        static_cast<std::size_t>((last + 1 - first) * channels));
    std::copy_n(samples.data() + first * channels, (last + 1 - first) * channels, trimmed->data());
    clip.audio = std::move(trimmed);
    clip.length = last - first + 1;
    clip.sourceOffset = std::max<int64_t>(clip.sourceOffset - first, 0);
}

std::string TrimAudioSilenceCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Trim Silence");
}

PitchShiftAudioClipCommand::PitchShiftAudioClipCommand(uint64_t clipId, float semitones)
    : AudioClipEditCommand(clipId, true), semitones_(semitones) {}

void PitchShiftAudioClipCommand::apply(Clip &clip) { shiftClipPitch(clip, semitones_); }

std::string PitchShiftAudioClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Pitch Shift");
}

PitchCorrectAudioClipCommand::PitchCorrectAudioClipCommand(uint64_t clipId, double sampleRate,
                                                           int32_t scaleRoot, bool minor)
    : AudioClipEditCommand(clipId, true), sampleRate_(sampleRate), scaleRoot_(scaleRoot),
      minor_(minor) {}

void PitchCorrectAudioClipCommand::apply(Clip &clip) {
    const auto window = clipAnalysisWindow(clip);
    const double fundamental =
        estimateAudioFundamentalHz(window.samples, window.frames, window.channels, sampleRate_);
    if (!(fundamental >= 20.0)) return;
    const float semitones =
        pitchCorrectSemitones(static_cast<float>(fundamental), scaleRoot_, minor_);
    if (!(std::abs(semitones) >= 0.05f)) return;
    shiftClipPitch(clip, semitones);
}

std::string PitchCorrectAudioClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Pitch Correct");
}

AlignAudioOnsetCommand::AlignAudioOnsetCommand(uint64_t clipId, int64_t onsetOffset)
    : AudioClipEditCommand(clipId, false), onsetOffset_(onsetOffset) {}

void AlignAudioOnsetCommand::apply(Clip &clip) {
    if (onsetOffset_ < 1) return;
    int64_t available = 0;
    if (clip.length > 0)
        available = clip.length;
    else if (clip.audio && clip.channels >= 1)
        available = clip.audioFrameCount();
    const int64_t shift = available >= 1 && available < onsetOffset_ ? available : onsetOffset_;
    clip.sourceOffset = saturatingAdd(clip.sourceOffset, shift);
    if (saturatingSubtract(clip.length, shift) > 0) clip.length -= shift;
    clip.arrangeStart = saturatingAdd(clip.arrangeStart, shift);
}

std::string AlignAudioOnsetCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Align Onset");
}

SnapAudioOnsetToPlayheadCommand::SnapAudioOnsetToPlayheadCommand(uint64_t clipId, int64_t playhead,
                                                                 int64_t onsetOffset)
    : AudioClipEditCommand(clipId, false), playhead_(playhead), onsetOffset_(onsetOffset) {}

void SnapAudioOnsetToPlayheadCommand::apply(Clip &clip) {
    clip.arrangeStart = std::max<int64_t>(saturatingSubtract(playhead_, onsetOffset_), 0);
}

std::string SnapAudioOnsetToPlayheadCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Snap Onset");
}

SplitAudioStemsCommand::SplitAudioStemsCommand(uint64_t clipId) : clipId_(clipId) {}

void SplitAudioStemsCommand::redo(Project &project) {
    if (done_) return;
    const auto clip = project.findClip(clipId_);
    if (!clip || clip->kind != ClipKind::Audio || !holdsSamples(*clip)) return;
    // Only what the clip plays is split, so that the stems line up with the clip.
    const auto window = clipAnalysisWindow(*clip);
    SimpleStemBuffers bands;
    if (!splitSimpleStems(window.samples, window.frames, window.channels, bands)) return;
    arrangeStart_ = clip->arrangeStart;
    std::array<std::vector<float> *, 3> buffers{&bands.bass, &bands.mid, &bands.high};
    const SameIdsOnRedo sameIds(firstRunIds_, project);
    const std::string sourceName = clip->name;
    for (std::size_t i = 0; i < stems_.size(); ++i) {
        Stem &stem = stems_[i];
        stem.samples = std::make_shared<const std::vector<float>>(std::move(*buffers[i]));
        stem.channels = window.channels;
        stem.trackId = project.addTrack(TrackType::Audio, sourceName + " " + kNames[i])->id;
        const auto stemClip = project.addClip(stem.trackId, ClipKind::Audio);
        stemClip->name = kNames[i];
        stemClip->arrangeStart = arrangeStart_;
        stemClip->length = window.frames;
        stemClip->audio = stem.samples;
        stemClip->channels = stem.channels;
        stem.clipId = stemClip->id;
    }
    done_ = true;
}

void SplitAudioStemsCommand::undo(Project &project) {
    if (!done_) return;
    for (auto stem = stems_.rbegin(); stem != stems_.rend(); ++stem) {
        project.removeClip(stem->clipId);
        project.removeTrack(stem->trackId);
        *stem = Stem{};
    }
    done_ = false;
}

std::string SplitAudioStemsCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Split Stems");
}

SliceAudioAtTransientsCommand::SliceAudioAtTransientsCommand(uint64_t clipId) : clipId_(clipId) {}

void SliceAudioAtTransientsCommand::redo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip || clip->kind != ClipKind::Audio || !holdsSamples(*clip) || clip->length < 1) return;
    const auto window = clipAnalysisWindow(*clip);
    auto positions = detectAudioTransients(window.samples, window.frames, window.channels,
                                           project.sampleRate, 0.015f, 32);
    if (positions.size() < 2) return;
    if (!captured_) {
        previousLength_ = clip->length;
        captured_ = true;
    }
    std::sort(positions.begin(), positions.end());
    std::erase_if(positions, [](int64_t position) { return position < 1; });
    if (positions.size() < 2) return;
    sliceIds_.clear();
    const SameIdsOnRedo sameIds(firstRunIds_, project);
    for (std::size_t k = positions.size() - 1; k >= 1; --k) {
        const int64_t cut = positions[k];
        if (cut >= clip->length) continue;
        const auto slice = project.addClip(clip->trackId, ClipKind::Audio);
        if (!slice) return;
        slice->name = clip->name + " " + std::to_string(k);
        slice->arrangeStart = saturatingAdd(clip->arrangeStart, cut);
        slice->length = clip->length - cut;
        slice->sourceOffset = saturatingAdd(clip->sourceOffset, cut);
        slice->audioFile = clip->audioFile;
        slice->audio = clip->audio;
        slice->channels = clip->channels;
        slice->gain = clip->gain;
        sliceIds_.push_back(slice->id);
        clip->length = cut;
    }
}

void SliceAudioAtTransientsCommand::undo(Project &project) {
    if (!captured_) return;
    for (const uint64_t id : sliceIds_)
        project.removeClip(id);
    sliceIds_.clear();
    if (const auto clip = project.findClip(clipId_)) clip->length = previousLength_;
    captured_ = false;
}

std::string SliceAudioAtTransientsCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Slice At Transients");
}

BounceTrackInPlaceCommand::BounceTrackInPlaceCommand(uint64_t trackId, int64_t start,
                                                     int64_t length, SharedSamples rendered)
    : trackId_(trackId), start_(start), length_(length), rendered_(std::move(rendered)) {}

std::shared_ptr<Track> BounceTrackInPlaceCommand::targetTrack(const Project &project) const {
    if (!rendered_ || rendered_->empty() || length_ < 1) return nullptr;
    auto track = project.findTrack(trackId_);
    return track && track->type == TrackType::Audio ? track : nullptr;
}

namespace {

/// Whether the clip's timeline span meets [start, end); a clip without a length spans its
/// buffer, and without a buffer it spans nothing.
bool overlapsSpan(const Clip &clip, int64_t start, int64_t end) {
    int64_t length = clip.length;
    if (length < 1) {
        if (!clip.audio || clip.channels < 1) return false;
        length = clip.audioFrameCount();
    }
    return clip.arrangeStart < end && saturatingAdd(clip.arrangeStart, length) > start;
}

} // namespace

void BounceTrackInPlaceCommand::placeRendered(Project &project, Track &track, const char *clipName,
                                              bool everyClip) {
    const int64_t end = saturatingAdd(start_, length_);
    silenced_.clear();
    for (const auto &clip : track.clips) {
        if (clip->isSessionClip() || !(everyClip || overlapsSpan(*clip, start_, end))) continue;
        silenced_.push_back({clip->id, clip->takeActive});
        clip->takeActive = false;
    }
    const SameIdsOnRedo sameIds(firstRunIds_, project);
    renderedClipId_ = addStereoClip(project, track.id, clipName, start_, length_, rendered_);
}

void BounceTrackInPlaceCommand::removeRendered(Project &project) {
    for (const auto &entry : silenced_)
        if (const auto clip = project.findClip(entry.clipId)) clip->takeActive = entry.takeActive;
    project.removeClip(renderedClipId_);
    renderedClipId_ = 0;
    silenced_.clear();
}

void BounceTrackInPlaceCommand::redo(Project &project) {
    if (const auto track = targetTrack(project)) placeRendered(project, *track, "Bounce", false);
}

void BounceTrackInPlaceCommand::undo(Project &project) {
    if (renderedClipId_ != 0) removeRendered(project);
}

std::string BounceTrackInPlaceCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Bounce In Place");
}

FreezeTrackInPlaceCommand::FreezeTrackInPlaceCommand(uint64_t trackId, int64_t start,
                                                     int64_t length, SharedSamples rendered)
    : BounceTrackInPlaceCommand(trackId, start, length, std::move(rendered)) {}

void FreezeTrackInPlaceCommand::redo(Project &project) {
    const auto track = targetTrack(project);
    if (!track) return;
    previousFrozen_ = track->frozen;
    track->frozen = true;
    placeRendered(project, *track, freezeClipName.data(), true);
}

void FreezeTrackInPlaceCommand::undo(Project &project) {
    if (renderedClipId_ == 0) return;
    if (const auto track = project.findTrack(trackId_)) track->frozen = previousFrozen_;
    removeRendered(project);
}

std::string FreezeTrackInPlaceCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Freeze Track");
}

ToggleTrackFrozenCommand::ToggleTrackFrozenCommand(uint64_t trackId) : trackId_(trackId) {}

void ToggleTrackFrozenCommand::redo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track) return;
    if (!captured_) {
        previousFrozen_ = track->frozen;
        newFrozen_ = !track->frozen;
        captured_ = true;
    }
    track->frozen = newFrozen_;
}

void ToggleTrackFrozenCommand::undo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (track && captured_) track->frozen = previousFrozen_;
}

std::string ToggleTrackFrozenCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Toggle Freeze");
}

CaptureFlashbackCommand::CaptureFlashbackCommand(uint64_t trackId, int64_t start, int64_t length,
                                                 SharedSamples captured)
    : trackId_(trackId), start_(start), length_(length), captured_(std::move(captured)) {}

namespace {

/// "Flashback " and the lowest number from 1 that no track of the project is named with.
std::string freeFlashbackTrackName(const Project &project) {
    for (int number = 1;; ++number) {
        const std::string candidate = "Flashback " + std::to_string(number);
        const bool taken = std::any_of(project.tracks.begin(), project.tracks.end(),
                                       [&](const auto &track) { return track->name == candidate; });
        if (!taken) return candidate;
    }
}

} // namespace

std::shared_ptr<Track> CaptureFlashbackCommand::targetTrack(Project &project) {
    auto track = project.findTrack(trackId_);
    if (track && track->type == TrackType::Audio) return track;
    track = project.addTrack(TrackType::Audio, freeFlashbackTrackName(project));
    trackId_ = addedTrackId_ = track->id;
    return track;
}

void CaptureFlashbackCommand::redo(Project &project) {
    if (!captured_ || captured_->empty() || length_ < 1) return;
    const SameIdsOnRedo sameIds(firstRunIds_, project);
    const auto track = targetTrack(project);
    clipId_ = addStereoClip(project, track->id, "Flashback", start_, length_, captured_);
}

void CaptureFlashbackCommand::undo(Project &project) {
    if (clipId_ == 0) return;
    project.removeClip(clipId_);
    clipId_ = 0;
    // The track came with the capture and goes with it; a redo adds it again under its id.
    if (addedTrackId_ != 0) project.removeTrack(addedTrackId_);
    addedTrackId_ = 0;
}

std::string CaptureFlashbackCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Flashback Capture");
}

} // namespace orvane
