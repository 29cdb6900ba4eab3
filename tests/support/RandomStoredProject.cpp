#include "tests/support/RandomStoredProject.h"

#include "core/model/StoredFields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace orvane::testing {

namespace {

// The document carries 64-bit integers through doubles, exactly within 2^53.
constexpr double exactInteger = 9007199254740992.0;

class RandomSource {
  public:
    explicit RandomSource(uint32_t seed) : engine_(seed) {}

    int64_t integer(int64_t low, int64_t high) {
        return std::uniform_int_distribution<int64_t>(low, high)(engine_);
    }
    bool flip() { return integer(0, 1) == 1; }
    std::size_t count(std::size_t high) { return static_cast<std::size_t>(integer(0, high)); }
    uint8_t byte() { return static_cast<uint8_t>(integer(0, 255)); }
    double unit() { return std::uniform_real_distribution<double>(0.0, 1.0)(engine_); }
    std::string text() {
        std::string result(count(12), '\0');
        for (char &character : result)
            character = static_cast<char>(byte());
        return result;
    }

  private:
    std::mt19937 engine_;
};

/// The values the field's storage can hold, as far as the document carries them exactly.
std::pair<double, double> storableRange(FieldType type) {
    switch (type) {
    case FieldType::Bool: return {0.0, 1.0};
    case FieldType::Byte: return {0.0, 255.0};
    case FieldType::Int32: return {-2147483648.0, 2147483647.0};
    case FieldType::Uint32: return {0.0, 4294967295.0};
    case FieldType::Uint64: return {0.0, exactInteger};
    default: return {-exactInteger, exactInteger};
    }
}

/// A value of the field's type within its meaningful range that the document carries
/// exactly: integers within 2^53, doubles of at most 15 significant digits, floats of any
/// magnitude the range allows.
template <typename Owner>
double randomNumber(const StoredField<Owner> &field, RandomSource &random) {
    const auto [storableLow, storableHigh] = storableRange(field.type);
    const double low = std::max(field.lowest, storableLow);
    const double high = std::min(field.highest, storableHigh);
    if (field.type == FieldType::Float) {
        if (std::isinf(field.lowest) && std::isinf(field.highest)) {
            const double magnitudes[] = {1.0, 1e-3, 1e3, 1e30};
            return (random.unit() * 2.0 - 1.0) * magnitudes[random.count(3)];
        }
        return low + random.unit() * (high - low);
    }
    const double scale = field.type == FieldType::Double ? 1000.0 : 1.0;
    const double scaledLow = std::max(low * scale, -99999999999999.0);
    const double scaledHigh = std::min(high * scale, 99999999999999.0);
    return static_cast<double>(random.integer(static_cast<int64_t>(std::ceil(scaledLow)),
                                              static_cast<int64_t>(std::floor(scaledHigh)))) /
           scale;
}

/// Every scalar and string field of the table; composites are left to the caller.
template <typename Owner>
void randomiseFields(StoredFieldTable<Owner> fields, Owner &owner, RandomSource &random) {
    for (const StoredField<Owner> &field : fields) {
        if (field.type == FieldType::String)
            *field.text(owner) = random.text();
        else if (field.isScalar())
            field.set(owner, randomNumber(field, random));
    }
}

template <typename Owner> Owner randomObject(StoredFieldTable<Owner> fields, RandomSource &random) {
    Owner owner{};
    randomiseFields(fields, owner, random);
    return owner;
}

template <typename Owner, typename Fill>
std::vector<Owner> randomList(std::size_t least, std::size_t most, RandomSource &random,
                              Fill fill) {
    std::vector<Owner> list(least + random.count(most - least));
    for (Owner &element : list)
        fill(element);
    return list;
}

template <typename Owner>
std::vector<Owner> randomObjects(StoredFieldTable<Owner> fields, std::size_t most,
                                 RandomSource &random) {
    return randomList<Owner>(0, most, random,
                             [&](Owner &element) { element = randomObject(fields, random); });
}

std::vector<AutomationPoint> randomAutomation(RandomSource &random) {
    return randomObjects(stored::automationPointFields(), 4, random);
}

template <std::size_t Size>
void randomiseSlots(std::array<float, Size> &slots, double low, double high, RandomSource &random) {
    for (float &slot : slots)
        slot = static_cast<float>(low + random.unit() * (high - low));
}

ChannelEq8 randomEq(RandomSource &random) {
    ChannelEq8 eq = randomObject(stored::channelEqFields(), random);
    for (EqBandSettings &band : eq.bands)
        band = randomObject(stored::eqBandFields(), random);
    return eq;
}

/// Sends and macros of a snapshot are not stored; they get values a load must drop.
MixerSnapshot randomSnapshot(StoredFieldTable<MixerSnapshot> fields,
                             StoredFieldTable<TrackMixerSnapshot> trackFields,
                             RandomSource &random) {
    MixerSnapshot snapshot = randomObject(fields, random);
    snapshot.controlRoom = randomObject(stored::controlRoomFields(), random);
    snapshot.tracks = randomList<TrackMixerSnapshot>(0, 3, random, [&](auto &track) {
        track = randomObject(trackFields, random);
        track.sends[0] = {7, 0.5f, true};
        track.macros = {0.1f, 0.2f, 0.3f, 0.4f};
    });
    return snapshot;
}

InsertSlot randomInsert(RandomSource &random) {
    InsertSlot insert = randomObject(stored::insertFields(), random);
    insert.state.resize(random.count(40));
    for (uint8_t &byte : insert.state)
        byte = random.byte();
    insert.paramAutomation = randomAutomation(random);
    return insert;
}

/// Fields that are not stored get values other than their load defaults.
std::shared_ptr<Clip> randomClip(RandomSource &random, uint64_t trackId) {
    auto clip = std::make_shared<Clip>(randomObject(stored::clipFields(), random));
    clip->trackId = trackId;
    clip->warpMarkers = randomObjects(stored::warpMarkerFields(), 3, random);
    clip->notes = randomList<MidiNote>(0, 6, random, [&](MidiNote &note) {
        note = randomObject(stored::noteFields(), random);
        note.expression = 0.5f;
        note.bendCents = 12.0f;
    });
    clip->gainEnvelope = randomAutomation(random);
    clip->audio = std::make_shared<const std::vector<float>>(6, 0.5f);
    clip->channels = 3;
    return clip;
}

std::shared_ptr<Track> randomTrack(RandomSource &random) {
    auto track = std::make_shared<Track>(randomObject(stored::trackFields(), random));
    track->armed = true;
    track->peakL = 0.9f;
    track->peakR = 0.7f;
    track->eq = randomEq(random);
    track->inserts = randomList<InsertSlot>(
        0, 3, random, [&](InsertSlot &insert) { insert = randomInsert(random); });
    for (SendSlot &send : track->sends)
        send = randomObject(stored::sendFields(), random);
    track->volumeAutomation = randomAutomation(random);
    track->panAutomation = randomAutomation(random);
    track->muteAutomation = randomAutomation(random);
    track->automationClips = randomList<AutomationClip>(0, 3, random, [&](AutomationClip &clip) {
        clip = randomObject(stored::automationClipFields(), random);
        clip.points = randomAutomation(random);
    });
    randomiseSlots(track->macros, 0.0, 1.0, random);
    for (std::size_t index = random.count(4); index > 0; --index)
        track->clips.push_back(randomClip(random, track->id));
    return track;
}

/// Empty groove pools and expression map lists read back as the defaults, so both get some.
void randomiseGroovesAndMaps(RandomSource &random, Project &p) {
    p.groovePool = randomList<GrooveTemplate>(1, 4, random, [&](GrooveTemplate &groove) {
        groove = randomObject(stored::grooveFields(), random);
        randomiseSlots(groove.timingPattern, -1.0, 1.0, random);
        randomiseSlots(groove.velocityPattern, 0.0, 2.0, random);
    });
    p.expressionMaps = randomList<ExpressionMap>(1, 4, random, [&](ExpressionMap &map) {
        map = randomObject(stored::expressionMapFields(), random);
        map.articulations = randomObjects(stored::articulationFields(), 3, random);
    });
}

void randomiseLists(RandomSource &random, Project &p) {
    randomiseGroovesAndMaps(random, p);
    p.markers = randomObjects(stored::markerFields(), 4, random);
    p.tempoMarkers = randomObjects(stored::tempoMarkerFields(), 4, random);
    p.meterMarkers = randomObjects(stored::meterMarkerFields(), 4, random);
    // An empty chord reads back as "C", so only non-empty chords survive unchanged.
    p.chordMarkers = randomList<ChordMarker>(0, 4, random, [&](ChordMarker &marker) {
        marker = randomObject(stored::chordMarkerFields(), random);
        marker.chord = "n" + marker.chord;
    });
    p.beatMarkers = randomObjects(stored::beatMarkerFields(), 4, random);
    p.mixerSnapshots = randomList<MixerSnapshot>(0, 3, random, [&](MixerSnapshot &snapshot) {
        snapshot =
            randomSnapshot(stored::mixerSnapshotFields(), stored::snapshotTrackFields(), random);
    });
    p.mixerSnapshotHistory =
        randomList<MixerSnapshotEvent>(0, 3, random, [&](MixerSnapshotEvent &event) {
            event = randomObject(stored::historyEntryFields(), random);
            event.snapshot = randomSnapshot(stored::historySnapshotFields(),
                                            stored::historyTrackFields(), random);
        });
    // Random field values would mostly make mappings the reader refuses: draw valid ones.
    p.midiMappings = randomList<MidiMapping>(0, 3, random, [&](MidiMapping &mapping) {
        mapping.channel = static_cast<int32_t>(random.integer(0, 15));
        mapping.kind = static_cast<MidiSourceKind>(random.integer(0, 2));
        mapping.number = static_cast<int32_t>(random.integer(0, 127));
        mapping.trackId = static_cast<uint64_t>(random.integer(1, 1000));
        mapping.lane =
            static_cast<int32_t>(random.integer(sendMappingLane(3), firstInsertLane + 4));
        if (mapping.lane > panMappingLane && mapping.lane < firstInsertLane) mapping.lane = 0;
        mapping.paramId = static_cast<uint32_t>(random.integer(0, 100000));
        mapping.minimum = static_cast<float>(random.unit() * 4.0 - 2.0);
        mapping.maximum = static_cast<float>(random.unit() * 4.0 - 2.0);
    });
    // A tag entry without tags is not stored at all.
    for (std::size_t index = random.count(4); index > 0; --index) {
        p.pluginUserTags[random.text()] = {random.text()};
        p.audioMediaTags[random.text()] = {random.text(), random.text()};
    }
}

void randomiseSession(RandomSource &random, Project &p) {
    p.session = randomObject(stored::sessionFields(), random);
    p.session.scenes = randomList<Scene>(0, 4, random, [&](Scene &scene) {
        scene = randomObject(stored::sceneFields(), random);
        scene.clips = randomList<uint64_t>(0, 5, random, [&](uint64_t &clip) {
            clip = static_cast<uint64_t>(random.integer(0, int64_t{1} << 53));
        });
    });
}

/// The project's tuning, control room, master section and meter.
void randomiseObjectSettings(RandomSource &random, Project &p) {
    randomiseSlots(p.scalaCents, -1200.0, 1200.0, random);
    p.kbmDegrees = randomList<int32_t>(0, 8, random, [&](int32_t &degree) {
        degree = static_cast<int32_t>(random.integer(INT32_MIN, INT32_MAX));
    });
    p.controlRoom = randomObject(stored::controlRoomFields(), random);
    p.masterEq = randomEq(random);
    p.mastering = randomObject(stored::masteringFields(), random);
    p.timeSignature = randomObject(stored::timeSignatureFields(), random);
}

// A consistent project: the structure is drawn by hand so that it agrees with itself, the
// settings come from the table's rows.

/// A setting whose row bounds what it can mean, or names: it gets a random value from the
/// row. Positions, lengths, ids and counters are unbounded; they are the structure's.
template <typename Owner> bool isBoundedSetting(const StoredField<Owner> &field) {
    return field.type == FieldType::String ||
           (field.isScalar() && std::isfinite(field.lowest) && std::isfinite(field.highest));
}

template <typename Owner>
void randomiseSettings(StoredFieldTable<Owner> fields, Owner &owner, RandomSource &source) {
    for (const StoredField<Owner> &field : fields) {
        if (!isBoundedSetting(field)) continue;
        if (field.type == FieldType::String)
            *field.text(owner) = source.text();
        else
            field.set(owner, randomNumber(field, source));
    }
}

/// Rising times from the caller's stream, values from the table's row.
std::vector<AutomationPoint> consistentPoints(Random &random, RandomSource &source, int count) {
    std::vector<AutomationPoint> points(static_cast<std::size_t>(count));
    int64_t time = 0;
    for (AutomationPoint &point : points) {
        randomiseSettings(stored::automationPointFields(), point, source);
        time += between(random, 1, 20000);
        point.t = time;
    }
    return points;
}

std::shared_ptr<const std::vector<float>> randomSamples(Random &random, int32_t channels) {
    const int64_t frames = between(random, 0, 48);
    std::vector<float> samples;
    for (int64_t i = 0; i < frames * std::max(channels, 1); ++i)
        samples.push_back(static_cast<float>(between(random, -1000, 1000)) / 1000.0f);
    return std::make_shared<const std::vector<float>>(std::move(samples));
}

/// Mono, stereo or a channel count of 0; a buffer of the track's shared, one of its own or
/// none, as when the file is missing.
void placeAudio(Random &random, Clip &clip, const SharedSamples &shared) {
    clip.audioFile = "media/clip_" + std::to_string(clip.id) + ".wav";
    clip.channels = static_cast<int32_t>(between(random, 0, 2));
    if (shared && chance(random, 25))
        clip.audio = shared;
    else if (chance(random, 80))
        clip.audio = randomSamples(random, clip.channels);
}

void placeNotes(Random &random, RandomSource &source, Clip &clip) {
    clip.audioFile.clear();
    clip.notes.resize(static_cast<std::size_t>(between(random, 0, 6)));
    for (MidiNote &note : clip.notes) {
        randomiseSettings(stored::noteFields(), note, source);
        note.start = between(random, -100, clip.length + 100);
        note.length = between(random, 0, std::max<int64_t>(clip.length, 1));
    }
}

/// Where the clip lies and what it plays: starts shared by groups of takes, lengths down to
/// nothing, now and then a session slot in the track's column.
void placeClip(Random &random, RandomSource &source, Clip &clip, int32_t column,
               const SharedSamples &shared) {
    static constexpr int64_t takeStarts[] = {0, 48000, 96000};
    clip.arrangeStart =
        chance(random, 50) ? takeStarts[between(random, 0, 2)] : between(random, 0, 200000);
    clip.length = chance(random, 10) ? between(random, 0, 1) : between(random, 2, 96000);
    clip.sourceOffset = between(random, 0, 4000);
    clip.loopLength = chance(random, 50) ? 0 : between(random, 1, 96000);
    clip.fadeIn = between(random, 0, 2000);
    clip.fadeOut = between(random, 0, 2000);
    if (chance(random, 20)) clip.warpMarkers = {{0, 0}, {between(random, 1, 9000), 4800}};
    if (chance(random, 20)) clip.gainEnvelope = consistentPoints(random, source, 3);
    clip.takeLane = static_cast<int32_t>(between(random, 0, 3));
    if (chance(random, 20)) {
        clip.sessionRow = static_cast<int32_t>(between(random, 0, 3));
        clip.sessionCol = column;
    }
    if (clip.kind == ClipKind::Audio)
        placeAudio(random, clip, shared);
    else
        placeNotes(random, source, clip);
}

void addConsistentClips(Random &random, RandomSource &source, Project &project, Track &track,
                        int32_t column) {
    const ClipKind usual = track.type == TrackType::Midi ? ClipKind::Midi : ClipKind::Audio;
    const ClipKind other = usual == ClipKind::Midi ? ClipKind::Audio : ClipKind::Midi;
    SharedSamples shared;
    for (int64_t count = between(random, 0, 6); count > 0; --count) {
        const ClipKind kind = chance(random, 10) ? other : usual;
        const auto clip = project.addClip(track.id, kind);
        randomiseSettings(stored::clipFields(), *clip, source);
        clip->kind = kind;
        placeClip(random, source, *clip, column, shared);
        if (clip->audio) shared = clip->audio;
    }
}

void addConsistentTrack(Random &random, RandomSource &source, Project &project, int32_t column) {
    static constexpr TrackType types[] = {TrackType::Audio, TrackType::Midi, TrackType::Audio,
                                          TrackType::Midi, TrackType::Return};
    const TrackType type = types[between(random, 0, 4)];
    const auto track = project.addTrack(type, "");
    randomiseSettings(stored::trackFields(), *track, source);
    track->type = type;
    track->eq = randomEq(source);
    for (SendSlot &send : track->sends)
        randomiseSettings(stored::sendFields(), send, source);
    track->volumeAutomation =
        consistentPoints(random, source, static_cast<int>(between(random, 0, 3)));
    if (chance(random, 30))
        track->automationClips.push_back({7, 0, 48000, 1, consistentPoints(random, source, 2)});
    if (chance(random, 20))
        track->inserts.push_back({"stock.compressor", "Comp", "", {1, 2, 3}, false, true, 0, {}});
    addConsistentClips(random, source, project, *track, column);
}

/// Scenes whose slots hold session clips of the project, or nothing.
void addConsistentScenes(Random &random, RandomSource &source, Project &project) {
    std::vector<uint64_t> sessionClipIds{0};
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            if (clip->isSessionClip()) sessionClipIds.push_back(clip->id);
    for (int64_t count = between(random, 0, 3); count > 0; --count) {
        Scene scene;
        randomiseSettings(stored::sceneFields(), scene, source);
        scene.id = project.nextSceneId++;
        for (std::size_t slot = 0; slot < project.tracks.size(); ++slot)
            scene.clips.push_back(sessionClipIds[static_cast<std::size_t>(
                between(random, 0, static_cast<int64_t>(sessionClipIds.size()) - 1))]);
        project.session.scenes.push_back(scene);
    }
}

/// Google Test expectations: every stored field of the table is the same, named by `path`.
template <typename Owner>
void expectSameFields(StoredFieldTable<Owner> fields, const Owner &expected, const Owner &actual,
                      const std::string &path) {
    for (const StoredField<Owner> &field : fields)
        EXPECT_TRUE(field.same(expected, actual)) << path << field.key << " differs";
}

} // namespace

Project makeRandomProject(uint32_t seed) {
    RandomSource random(seed);
    Project project = randomObject(stored::projectFields(), random);
    project.rootPath = "/somewhere";
    project.gridQuantize = GridQuantize::SixteenthTriplet;
    project.metronomeEnabled = true;
    project.lengthSamples = 123456;
    randomiseObjectSettings(random, project);
    randomiseLists(random, project);
    randomiseSession(random, project);
    for (std::size_t index = random.count(4); index > 0; --index)
        project.tracks.push_back(randomTrack(random));
    return project;
}

Project makeConsistentRandomProject(Random &random) {
    RandomSource source(static_cast<uint32_t>(random()));
    Project project;
    randomiseSettings(stored::projectFields(), project, source);
    randomiseObjectSettings(source, project);
    randomiseGroovesAndMaps(source, project);
    randomiseSettings(stored::sessionFields(), project.session, source);
    const auto trackCount = static_cast<int32_t>(between(random, 1, 4));
    for (int32_t column = 0; column < trackCount; ++column)
        addConsistentTrack(random, source, project, column);
    // The grid holds every session slot in use: four rows, a column for each of the four
    // tracks at most.
    project.session.rows = static_cast<int32_t>(between(random, 4, 8));
    project.session.cols = static_cast<int32_t>(between(random, 4, 8));
    addConsistentScenes(random, source, project);
    // Ids of deleted objects are never handed out again, so counters usually run ahead.
    project.nextTrackId += static_cast<uint64_t>(between(random, 0, 2));
    project.nextClipId += static_cast<uint64_t>(between(random, 0, 2));
    return project;
}

void expectSameStoredFields(const Project &expected, const Project &actual) {
    expectSameFields(stored::projectFields(), expected, actual, "");
    expectSameFields(stored::sessionFields(), expected.session, actual.session, "session.");
    ASSERT_EQ(expected.tracks.size(), actual.tracks.size());
    for (std::size_t index = 0; index < expected.tracks.size(); ++index) {
        const Track &one = *expected.tracks[index];
        const Track &other = *actual.tracks[index];
        const std::string path = "tracks[" + std::to_string(index) + "].";
        expectSameFields(stored::trackFields(), one, other, path);
        ASSERT_EQ(one.clips.size(), other.clips.size()) << path;
        for (std::size_t clip = 0; clip < one.clips.size(); ++clip) {
            expectSameFields(stored::clipFields(), *one.clips[clip], *other.clips[clip],
                             path + "clips[" + std::to_string(clip) + "].");
            EXPECT_EQ(other.clips[clip]->trackId, other.id);
        }
    }
}

void expectNotStoredFieldsAtLoadDefaults(const Project &p) {
    EXPECT_EQ(p.rootPath, "");
    EXPECT_EQ(p.gridQuantize, GridQuantize::Quarter);
    EXPECT_FALSE(p.metronomeEnabled);
    EXPECT_EQ(p.lengthSamples, 0);
    const TrackMixerSnapshot freshEntry;
    const auto expectFreshEntries = [&](const MixerSnapshot &snapshot) {
        for (const auto &track : snapshot.tracks) {
            EXPECT_EQ(track.sends, freshEntry.sends);
            EXPECT_EQ(track.macros, freshEntry.macros);
        }
    };
    for (const auto &snapshot : p.mixerSnapshots)
        expectFreshEntries(snapshot);
    for (const auto &event : p.mixerSnapshotHistory)
        expectFreshEntries(event.snapshot);
    for (const auto &track : p.tracks) {
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

} // namespace orvane::testing
