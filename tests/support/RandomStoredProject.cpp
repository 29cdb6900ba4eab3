#include "tests/support/RandomStoredProject.h"

#include "core/model/StoredFields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

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

void randomiseLists(RandomSource &random, Project &p) {
    // Empty groove pools and expression map lists read back as the defaults.
    p.groovePool = randomList<GrooveTemplate>(1, 4, random, [&](GrooveTemplate &groove) {
        groove = randomObject(stored::grooveFields(), random);
        randomiseSlots(groove.timingPattern, -1.0, 1.0, random);
        randomiseSlots(groove.velocityPattern, 0.0, 2.0, random);
    });
    p.expressionMaps = randomList<ExpressionMap>(1, 4, random, [&](ExpressionMap &map) {
        map = randomObject(stored::expressionMapFields(), random);
        map.articulations = randomObjects(stored::articulationFields(), 3, random);
    });
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
    randomiseSlots(project.scalaCents, -1200.0, 1200.0, random);
    project.kbmDegrees = randomList<int32_t>(0, 8, random, [&](int32_t &degree) {
        degree = static_cast<int32_t>(random.integer(INT32_MIN, INT32_MAX));
    });
    project.controlRoom = randomObject(stored::controlRoomFields(), random);
    project.masterEq = randomEq(random);
    project.mastering = randomObject(stored::masteringFields(), random);
    project.timeSignature = randomObject(stored::timeSignatureFields(), random);
    randomiseLists(random, project);
    randomiseSession(random, project);
    for (std::size_t index = random.count(4); index > 0; --index)
        project.tracks.push_back(randomTrack(random));
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
