#include "core/project_io/tests/RandomProject.h"

#include <gtest/gtest.h>

#include <random>

namespace orvane::project_io::testing {

namespace {

class RandomSource {
  public:
    explicit RandomSource(uint32_t seed) : engine_(seed) {}

    int64_t integer(int64_t low, int64_t high) {
        return std::uniform_int_distribution<int64_t>(low, high)(engine_);
    }
    bool flip() { return integer(0, 1) == 1; }
    std::size_t count(std::size_t high) { return static_cast<std::size_t>(integer(0, high)); }
    int32_t int32() { return static_cast<int32_t>(integer(INT32_MIN, INT32_MAX)); }
    /// The document carries 64-bit integers through doubles, exactly within 2^53.
    int64_t int64() { return integer(-(int64_t{1} << 53), int64_t{1} << 53); }
    uint64_t id() { return static_cast<uint64_t>(integer(0, int64_t{1} << 53)); }
    uint8_t byte() { return static_cast<uint8_t>(integer(0, 255)); }
    float real() {
        const int64_t scale = integer(0, 3);
        const double magnitude = scale == 0 ? 1.0 : scale == 1 ? 1e-3 : scale == 2 ? 1e3 : 1e30;
        return static_cast<float>(std::uniform_real_distribution<double>(-1.0, 1.0)(engine_) *
                                  magnitude);
    }
    /// At most 15 significant digits, so that the general notation gives the value back.
    double decimal() { return static_cast<double>(integer(-99999999999, 99999999999)) / 1000.0; }
    std::string text() {
        std::string result(count(12), '\0');
        for (char &character : result)
            character = static_cast<char>(byte());
        return result;
    }
    std::string nonEmptyText() { return "n" + text(); }

  private:
    std::mt19937 engine_;
};

std::vector<AutomationPoint> randomAutomation(RandomSource &random) {
    std::vector<AutomationPoint> points(random.count(4));
    for (auto &point : points)
        point = {random.int64(), random.real()};
    return points;
}

ControlRoomSettings randomControlRoom(RandomSource &random) {
    return {random.real(), random.real(), random.flip(), random.flip(), random.flip()};
}

ChannelEq8 randomEq(RandomSource &random) {
    ChannelEq8 eq{random.flip(), random.flip(), random.real(), {}};
    for (auto &band : eq.bands)
        band = {random.byte(), random.real(), random.real(), random.real(), random.flip()};
    return eq;
}

MixerSnapshot randomSnapshot(RandomSource &random) {
    MixerSnapshot snapshot{random.text(), {}, randomControlRoom(random)};
    snapshot.tracks.resize(random.count(3));
    for (auto &track : snapshot.tracks) {
        track = {random.id(), random.real(), random.real(), random.flip(), random.flip(), {}, {}};
        // Sends and macros of a snapshot are not stored; give them values a load must drop.
        track.sends[0] = {random.id() + 1, 0.5f, true};
        track.macros = {0.1f, 0.2f, 0.3f, 0.4f};
    }
    return snapshot;
}

std::shared_ptr<Clip> randomClip(RandomSource &random, uint64_t trackId) {
    auto clip = std::make_shared<Clip>();
    clip->id = random.id();
    clip->trackId = trackId;
    clip->kind = static_cast<ClipKind>(random.byte());
    clip->name = random.text();
    clip->arrangeStart = random.int64();
    clip->length = random.int64();
    clip->sourceOffset = random.int64();
    clip->loop = random.flip();
    clip->loopLength = random.int64();
    clip->gain = random.real();
    clip->fadeIn = random.int64();
    clip->fadeOut = random.int64();
    clip->audioFile = random.text();
    clip->stretchRatio = random.decimal();
    clip->warpMarkers.resize(random.count(3));
    for (auto &marker : clip->warpMarkers)
        marker = {random.int64(), random.int64()};
    clip->audio = std::make_shared<const std::vector<float>>(6, 0.5f);
    clip->channels = 3;
    clip->notes.resize(random.count(6));
    for (auto &note : clip->notes)
        note = {random.int32(), random.real(), random.int64(), random.int64(), 0.5f, 12.0f};
    clip->sessionRow = random.int32();
    clip->sessionCol = random.int32();
    clip->launchQuantize = static_cast<LaunchQuantize>(random.integer(0, 3));
    clip->launchMode = static_cast<SessionLaunchMode>(random.byte());
    clip->legatoLaunch = random.flip();
    clip->gainEnvelope = randomAutomation(random);
    clip->takeLane = random.int32();
    clip->takeActive = random.flip();
    clip->followAction = static_cast<FollowAction>(random.byte());
    return clip;
}

std::shared_ptr<Track> randomTrack(RandomSource &random) {
    auto track = std::make_shared<Track>();
    track->id = random.id();
    track->type = static_cast<TrackType>(random.byte());
    track->name = random.text();
    track->color = 0x12345678u;
    track->armed = true;
    track->gain = random.real();
    track->pan = random.real();
    track->mute = random.flip();
    track->solo = random.flip();
    track->peakL = 0.9f;
    track->peakR = 0.7f;
    track->eq = randomEq(random);
    track->inserts.resize(random.count(3));
    for (auto &insert : track->inserts) {
        insert = {random.text(),
                  random.text(),
                  random.text(),
                  {},
                  random.flip(),
                  random.flip(),
                  static_cast<uint32_t>(random.integer(0, UINT32_MAX)),
                  randomAutomation(random)};
        insert.state.resize(random.count(40));
        for (auto &byte : insert.state)
            byte = random.byte();
    }
    for (auto &send : track->sends)
        send = {random.id(), random.real(), random.flip()};
    for (std::size_t index = random.count(4); index > 0; --index)
        track->clips.push_back(randomClip(random, track->id));
    track->volumeAutomation = randomAutomation(random);
    track->panAutomation = randomAutomation(random);
    track->muteAutomation = randomAutomation(random);
    track->automationClips.resize(random.count(3));
    for (auto &clip : track->automationClips)
        clip = {random.id(), random.int64(), random.int64(), random.int32(),
                randomAutomation(random)};
    for (auto &macro : track->macros)
        macro = random.real();
    track->expressionMapIndex = random.int32();
    track->mpeEnabled = random.flip();
    track->frozen = random.flip();
    return track;
}

void randomiseSettings(RandomSource &random, Project &p) {
    p.formatVersion = random.int32();
    p.name = random.text();
    p.rootPath = "/somewhere";
    p.sampleRate = random.decimal();
    p.tempoBpm = random.decimal();
    p.timeSignature = {random.int32(), random.int32()};
    p.gridQuantize = GridQuantize::SixteenthTriplet;
    p.swingAmount = random.real();
    p.grooveTimingAmount = random.real();
    p.grooveVelocityAmount = random.real();
    p.quantizeStrength = random.real();
    p.scaleRoot = random.int32();
    p.scaleMinor = random.flip();
    p.scaleSnapEnabled = random.flip();
    p.metronomeVolume = random.real();
    p.automationWriteMode = static_cast<AutomationWriteMode>(random.byte());
    p.smartTempoMode = random.byte();
    p.metronomeEnabled = true;
    p.countInBars = random.int32();
    p.punchEnabled = random.flip();
    p.punchIn = random.int64();
    p.punchOut = random.int64();
    p.lengthSamples = 123456;
    p.nextTrackId = random.id();
    p.nextClipId = random.id();
    p.nextSceneId = random.id();
    p.nextMarkerId = random.id();
    p.controlRoom = randomControlRoom(random);
    p.masterEq = randomEq(random);
    p.mastering = {random.flip(), random.flip(), random.int32(), random.real(),
                   random.flip(), random.real(), random.real(),  random.flip()};
    p.activeGrooveIndex = random.int32();
    p.tempoFollowerEnabled = random.flip();
    p.tempoFollowerSmoothing = random.real();
    p.tempoFollowerFromInput = random.flip();
    p.lowLatencyMode = random.flip();
    p.flashbackBufferSeconds = random.int32();
    p.scalaPresetIndex = random.int32();
    for (auto &cents : p.scalaCents)
        cents = random.real();
    p.scalaName = random.text();
    p.kbmName = random.text();
    p.kbmDegrees.resize(random.count(8));
    for (auto &degree : p.kbmDegrees)
        degree = random.int32();
    p.inputLatencyOffsetSamples = random.int32();
    p.outputLatencyOffsetSamples = random.int32();
}

void randomiseMaps(RandomSource &random, Project &p) {
    p.markers.resize(random.count(4));
    for (auto &marker : p.markers)
        marker = {random.id(), random.text(), random.int64()};
    p.tempoMarkers.resize(random.count(4));
    for (auto &marker : p.tempoMarkers)
        marker = {random.int64(), random.decimal()};
    p.meterMarkers.resize(random.count(4));
    for (auto &marker : p.meterMarkers)
        marker = {random.int64(), random.int32(), random.int32()};
    // An empty chord reads back as "C", so only non-empty chords survive unchanged.
    p.chordMarkers.resize(random.count(4));
    for (auto &marker : p.chordMarkers)
        marker = {random.int64(), random.nonEmptyText()};
    p.beatMarkers.resize(random.count(4));
    for (auto &marker : p.beatMarkers)
        marker = {random.int64(), random.flip()};
}

void randomiseLists(RandomSource &random, Project &p) {
    // Empty groove pools and expression map lists read back as the defaults.
    p.groovePool.resize(1 + random.count(3));
    for (auto &groove : p.groovePool) {
        groove = {random.text(), random.real(), random.real(), {}, {}};
        for (auto &step : groove.timingPattern)
            step = random.real();
        for (auto &step : groove.velocityPattern)
            step = random.real();
    }
    p.expressionMaps.resize(1 + random.count(3));
    for (auto &map : p.expressionMaps) {
        map.name = random.text();
        map.articulations.resize(random.count(3));
        for (auto &articulation : map.articulations)
            articulation = {random.text(), random.int32(), random.real(), random.int32(),
                            random.int32()};
    }
    p.mixerSnapshots.resize(random.count(3));
    for (auto &snapshot : p.mixerSnapshots)
        snapshot = randomSnapshot(random);
    p.mixerSnapshotHistory.resize(random.count(3));
    for (auto &event : p.mixerSnapshotHistory)
        event = {random.text(), randomSnapshot(random)};
    // A tag entry without tags is not stored at all.
    for (std::size_t index = random.count(4); index > 0; --index) {
        p.pluginUserTags[random.text()] = {random.text()};
        p.audioMediaTags[random.text()] = {random.text(), random.text()};
    }
}

void randomiseSession(RandomSource &random, Project &p) {
    p.session.rows = random.int32();
    p.session.cols = random.int32();
    p.session.launchQuantize = static_cast<LaunchQuantize>(random.integer(0, 3));
    p.session.scenes.resize(random.count(4));
    for (auto &scene : p.session.scenes) {
        scene = {random.id(),
                 random.text(),
                 {},
                 static_cast<FollowAction>(random.byte()),
                 random.flip(),
                 random.decimal(),
                 random.flip(),
                 random.int32(),
                 random.int32()};
        scene.clips.resize(random.count(5));
        for (auto &clip : scene.clips)
            clip = random.id();
    }
}

void expectSameClip(const Clip &expected, const Clip &actual) {
    EXPECT_EQ(expected.id, actual.id);
    EXPECT_EQ(expected.trackId, actual.trackId);
    EXPECT_EQ(expected.kind, actual.kind);
    EXPECT_EQ(expected.name, actual.name);
    EXPECT_EQ(expected.arrangeStart, actual.arrangeStart);
    EXPECT_EQ(expected.length, actual.length);
    EXPECT_EQ(expected.sourceOffset, actual.sourceOffset);
    EXPECT_EQ(expected.loop, actual.loop);
    EXPECT_EQ(expected.loopLength, actual.loopLength);
    EXPECT_EQ(expected.gain, actual.gain);
    EXPECT_EQ(expected.fadeIn, actual.fadeIn);
    EXPECT_EQ(expected.fadeOut, actual.fadeOut);
    EXPECT_EQ(expected.audioFile, actual.audioFile);
    EXPECT_EQ(expected.stretchRatio, actual.stretchRatio);
    EXPECT_EQ(expected.warpMarkers, actual.warpMarkers);
    ASSERT_EQ(expected.notes.size(), actual.notes.size());
    for (std::size_t index = 0; index < expected.notes.size(); ++index) {
        EXPECT_EQ(expected.notes[index].pitch, actual.notes[index].pitch);
        EXPECT_EQ(expected.notes[index].velocity, actual.notes[index].velocity);
        EXPECT_EQ(expected.notes[index].start, actual.notes[index].start);
        EXPECT_EQ(expected.notes[index].length, actual.notes[index].length);
    }
    EXPECT_EQ(expected.sessionRow, actual.sessionRow);
    EXPECT_EQ(expected.sessionCol, actual.sessionCol);
    EXPECT_EQ(expected.launchMode, actual.launchMode);
    EXPECT_EQ(expected.legatoLaunch, actual.legatoLaunch);
    EXPECT_EQ(expected.launchQuantize, actual.launchQuantize);
    EXPECT_EQ(expected.gainEnvelope, actual.gainEnvelope);
    EXPECT_EQ(expected.takeLane, actual.takeLane);
    EXPECT_EQ(expected.takeActive, actual.takeActive);
    EXPECT_EQ(expected.followAction, actual.followAction);
}

void expectSameTrack(const Track &expected, const Track &actual) {
    EXPECT_EQ(expected.id, actual.id);
    EXPECT_EQ(expected.type, actual.type);
    EXPECT_EQ(expected.name, actual.name);
    EXPECT_EQ(expected.gain, actual.gain);
    EXPECT_EQ(expected.pan, actual.pan);
    EXPECT_EQ(expected.mute, actual.mute);
    EXPECT_EQ(expected.solo, actual.solo);
    EXPECT_EQ(expected.eq, actual.eq);
    EXPECT_EQ(expected.inserts, actual.inserts);
    EXPECT_EQ(expected.sends, actual.sends);
    EXPECT_EQ(expected.volumeAutomation, actual.volumeAutomation);
    EXPECT_EQ(expected.panAutomation, actual.panAutomation);
    EXPECT_EQ(expected.muteAutomation, actual.muteAutomation);
    EXPECT_EQ(expected.automationClips, actual.automationClips);
    EXPECT_EQ(expected.macros, actual.macros);
    EXPECT_EQ(expected.expressionMapIndex, actual.expressionMapIndex);
    EXPECT_EQ(expected.mpeEnabled, actual.mpeEnabled);
    EXPECT_EQ(expected.frozen, actual.frozen);
    ASSERT_EQ(expected.clips.size(), actual.clips.size());
    for (std::size_t index = 0; index < expected.clips.size(); ++index)
        expectSameClip(*expected.clips[index], *actual.clips[index]);
}

/// Only the five stored values of each track entry of a snapshot.
void expectSameSnapshot(const MixerSnapshot &expected, const MixerSnapshot &actual) {
    EXPECT_EQ(expected.name, actual.name);
    EXPECT_EQ(expected.controlRoom, actual.controlRoom);
    ASSERT_EQ(expected.tracks.size(), actual.tracks.size());
    for (std::size_t index = 0; index < expected.tracks.size(); ++index) {
        EXPECT_EQ(expected.tracks[index].trackId, actual.tracks[index].trackId);
        EXPECT_EQ(expected.tracks[index].gain, actual.tracks[index].gain);
        EXPECT_EQ(expected.tracks[index].pan, actual.tracks[index].pan);
        EXPECT_EQ(expected.tracks[index].mute, actual.tracks[index].mute);
        EXPECT_EQ(expected.tracks[index].solo, actual.tracks[index].solo);
    }
}

} // namespace

Project makeRandomProject(uint32_t seed) {
    RandomSource random(seed);
    Project project;
    randomiseSettings(random, project);
    randomiseMaps(random, project);
    randomiseLists(random, project);
    randomiseSession(random, project);
    for (std::size_t index = random.count(4); index > 0; --index)
        project.tracks.push_back(randomTrack(random));
    return project;
}

void expectSameStoredFields(const Project &e, const Project &a) {
    EXPECT_EQ(e.formatVersion, a.formatVersion);
    EXPECT_EQ(e.name, a.name);
    EXPECT_EQ(e.sampleRate, a.sampleRate);
    EXPECT_EQ(e.tempoBpm, a.tempoBpm);
    EXPECT_EQ(e.timeSignature, a.timeSignature);
    EXPECT_EQ(e.swingAmount, a.swingAmount);
    EXPECT_EQ(e.grooveTimingAmount, a.grooveTimingAmount);
    EXPECT_EQ(e.grooveVelocityAmount, a.grooveVelocityAmount);
    EXPECT_EQ(e.quantizeStrength, a.quantizeStrength);
    EXPECT_EQ(e.scaleRoot, a.scaleRoot);
    EXPECT_EQ(e.scaleMinor, a.scaleMinor);
    EXPECT_EQ(e.scaleSnapEnabled, a.scaleSnapEnabled);
    EXPECT_EQ(e.metronomeVolume, a.metronomeVolume);
    EXPECT_EQ(e.automationWriteMode, a.automationWriteMode);
    EXPECT_EQ(e.smartTempoMode, a.smartTempoMode);
    EXPECT_EQ(e.countInBars, a.countInBars);
    EXPECT_EQ(e.punchEnabled, a.punchEnabled);
    EXPECT_EQ(e.punchIn, a.punchIn);
    EXPECT_EQ(e.punchOut, a.punchOut);
    EXPECT_EQ(e.session.rows, a.session.rows);
    EXPECT_EQ(e.session.cols, a.session.cols);
    EXPECT_EQ(e.session.launchQuantize, a.session.launchQuantize);
    EXPECT_EQ(e.session.scenes, a.session.scenes);
    EXPECT_EQ(e.nextTrackId, a.nextTrackId);
    EXPECT_EQ(e.nextClipId, a.nextClipId);
    EXPECT_EQ(e.nextSceneId, a.nextSceneId);
    EXPECT_EQ(e.nextMarkerId, a.nextMarkerId);
    EXPECT_EQ(e.markers, a.markers);
    EXPECT_EQ(e.tempoMarkers, a.tempoMarkers);
    EXPECT_EQ(e.meterMarkers, a.meterMarkers);
    EXPECT_EQ(e.chordMarkers, a.chordMarkers);
    EXPECT_EQ(e.beatMarkers, a.beatMarkers);
    EXPECT_EQ(e.controlRoom, a.controlRoom);
    EXPECT_EQ(e.masterEq, a.masterEq);
    EXPECT_EQ(e.mastering, a.mastering);
    ASSERT_EQ(e.mixerSnapshots.size(), a.mixerSnapshots.size());
    for (std::size_t index = 0; index < e.mixerSnapshots.size(); ++index)
        expectSameSnapshot(e.mixerSnapshots[index], a.mixerSnapshots[index]);
    ASSERT_EQ(e.mixerSnapshotHistory.size(), a.mixerSnapshotHistory.size());
    for (std::size_t index = 0; index < e.mixerSnapshotHistory.size(); ++index) {
        EXPECT_EQ(e.mixerSnapshotHistory[index].label, a.mixerSnapshotHistory[index].label);
        expectSameSnapshot(e.mixerSnapshotHistory[index].snapshot,
                           a.mixerSnapshotHistory[index].snapshot);
    }
    EXPECT_EQ(e.expressionMaps, a.expressionMaps);
    EXPECT_EQ(e.groovePool, a.groovePool);
    EXPECT_EQ(e.activeGrooveIndex, a.activeGrooveIndex);
    EXPECT_EQ(e.tempoFollowerEnabled, a.tempoFollowerEnabled);
    EXPECT_EQ(e.tempoFollowerSmoothing, a.tempoFollowerSmoothing);
    EXPECT_EQ(e.tempoFollowerFromInput, a.tempoFollowerFromInput);
    EXPECT_EQ(e.lowLatencyMode, a.lowLatencyMode);
    EXPECT_EQ(e.flashbackBufferSeconds, a.flashbackBufferSeconds);
    EXPECT_EQ(e.pluginUserTags, a.pluginUserTags);
    EXPECT_EQ(e.audioMediaTags, a.audioMediaTags);
    EXPECT_EQ(e.scalaPresetIndex, a.scalaPresetIndex);
    EXPECT_EQ(e.scalaCents, a.scalaCents);
    EXPECT_EQ(e.scalaName, a.scalaName);
    EXPECT_EQ(e.kbmName, a.kbmName);
    EXPECT_EQ(e.kbmDegrees, a.kbmDegrees);
    EXPECT_EQ(e.inputLatencyOffsetSamples, a.inputLatencyOffsetSamples);
    EXPECT_EQ(e.outputLatencyOffsetSamples, a.outputLatencyOffsetSamples);
    ASSERT_EQ(e.tracks.size(), a.tracks.size());
    for (std::size_t index = 0; index < e.tracks.size(); ++index)
        expectSameTrack(*e.tracks[index], *a.tracks[index]);
}

void expectNotStoredFieldsAtLoadDefaults(const Project &p) {
    EXPECT_EQ(p.rootPath, "");
    EXPECT_EQ(p.gridQuantize, GridQuantize::Quarter);
    EXPECT_FALSE(p.metronomeEnabled);
    EXPECT_EQ(p.lengthSamples, 0);
    const TrackMixerSnapshot freshEntry;
    for (const auto &snapshot : p.mixerSnapshots)
        for (const auto &track : snapshot.tracks) {
            EXPECT_EQ(track.sends, freshEntry.sends);
            EXPECT_EQ(track.macros, freshEntry.macros);
        }
    for (const auto &event : p.mixerSnapshotHistory)
        for (const auto &track : event.snapshot.tracks) {
            EXPECT_EQ(track.sends, freshEntry.sends);
            EXPECT_EQ(track.macros, freshEntry.macros);
        }
    for (const auto &track : p.tracks) {
        EXPECT_EQ(track->color, 0xFF4A90D9u);
        EXPECT_FALSE(track->armed);
        EXPECT_EQ(track->peakL, 0.0f);
        EXPECT_EQ(track->peakR, 0.0f);
        for (const auto &clip : track->clips) {
            EXPECT_EQ(clip->audio, nullptr);
            EXPECT_EQ(clip->channels, 2);
            for (const auto &note : clip->notes) {
                EXPECT_EQ(note.expression, 1.0f);
                EXPECT_EQ(note.bendCents, 0.0f);
            }
        }
    }
}

} // namespace orvane::project_io::testing
