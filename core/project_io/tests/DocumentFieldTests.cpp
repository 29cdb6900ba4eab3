#include "core/project_io/DocumentFields.h"
#include "core/project_io/ProjectDocument.h"
#include "tests/support/RandomStoredProject.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace orvane::project_io {
namespace {

/// Where an object of a table sits in a document: the text around it, and how to find it
/// in the loaded project.
template <typename Owner> struct Placement {
    const char *name;
    FieldTable<Owner> (*fields)();
    std::string before;
    std::string after;
    std::function<const Owner &(const Project &)> find;
};

/// `{...}` with every field of the table except `skipped` (null: none).
template <typename Owner>
std::string objectWithout(FieldTable<Owner> fields, const Owner &owner, const char *skipped) {
    std::string text = "{";
    for (const Field<Owner> &field : fields) {
        if (skipped && std::string_view(field.key) == skipped) continue;
        if (text.size() > 1) text += ',';
        text += '"';
        text += field.key;
        text += "\":";
        field.write(text, field, owner);
    }
    return text + "}";
}

template <typename Owner>
Project loadPlaced(const Placement<Owner> &place, const std::string &object) {
    std::string error;
    std::optional<Project> project = fromJson(place.before + object + place.after, &error);
    EXPECT_TRUE(project.has_value()) << error;
    return project ? std::move(*project) : Project{};
}

/// A source object whose every field differs from the defaults, as the random kit makes it.
template <typename Owner>
const Owner &sourceOf(const Placement<Owner> &place, const Project &random) {
    return place.find(random);
}

/// Each key left out alone takes its default; every other key keeps its value.
template <typename Owner>
void expectDefaultsOfMissingKeys(const Placement<Owner> &place, const Project &random,
                                 const std::function<double(const Field<Owner> &)> &expected) {
    const Owner &source = sourceOf(place, random);
    for (const Field<Owner> &missing : place.fields()) {
        if (missing.type == FieldType::Composite) continue;
        SCOPED_TRACE(std::string(place.name) + "." + missing.key);
        const Project loaded =
            loadPlaced(place, objectWithout(place.fields(), source, missing.key));
        const Owner &read = place.find(loaded);
        if (missing.type == FieldType::String) {
            EXPECT_EQ(*missing.text(const_cast<Owner &>(read)), missing.fallbackText);
        } else {
            EXPECT_EQ(missing.get(read), expected(missing));
        }
        for (const Field<Owner> &other : place.fields()) {
            if (&other != &missing && other.type != FieldType::Composite) {
                EXPECT_TRUE(other.same(source, read)) << other.key << " lost its value";
            }
        }
    }
}

template <typename Owner> double tableDefault(const Field<Owner> &field) {
    // The number the field's own type makes of the default (a float default is a float).
    Owner owner{};
    field.set(owner, field.fallback);
    return field.get(owner);
}

/// A project with at least one of everything, so that every placement finds its object.
Project fullRandomProject() {
    for (uint32_t seed = 1;; ++seed) {
        Project project = orvane::testing::makeRandomProject(seed);
        const auto hasAll = [&] {
            if (project.tracks.empty() || project.markers.empty() || project.tempoMarkers.empty() ||
                project.meterMarkers.empty() || project.chordMarkers.empty() ||
                project.beatMarkers.empty() || project.mixerSnapshots.empty() ||
                project.mixerSnapshotHistory.empty() || project.session.scenes.empty())
                return false;
            const Track &track = *project.tracks[0];
            if (track.clips.empty() || track.inserts.empty() || track.automationClips.empty() ||
                track.volumeAutomation.empty() || project.expressionMaps[0].articulations.empty() ||
                project.mixerSnapshots[0].tracks.empty() ||
                project.mixerSnapshotHistory[0].snapshot.tracks.empty())
                return false;
            return !track.clips[0]->notes.empty() && !track.clips[0]->warpMarkers.empty();
        };
        if (hasAll()) return project;
    }
}

const Track &firstTrack(const Project &p) { return *p.tracks.at(0); }
const Clip &firstClip(const Project &p) { return *firstTrack(p).clips.at(0); }

class DocumentFields : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { random_ = new Project(fullRandomProject()); }
    static void TearDownTestSuite() { delete random_; }

    template <typename Owner> void checkMissingKeys(const Placement<Owner> &place) {
        expectDefaultsOfMissingKeys<Owner>(place, *random_, tableDefault<Owner>);
    }

    static Project *random_;
};

Project *DocumentFields::random_ = nullptr;

TEST_F(DocumentFields, EachKeyMissingAloneTakesTheDefaultOfTheTable) {
    checkMissingKeys<Project>(
        {"project", projectFields, "", "", [](const Project &p) -> const Project & { return p; }});
    checkMissingKeys<SessionGrid>(
        {"session", sessionFields, R"({"session":)", "}",
         [](const Project &p) -> const SessionGrid & { return p.session; }});
    checkMissingKeys<Scene>(
        {"scene", sceneFields, R"({"session":{"scenes":[)", "]}}",
         [](const Project &p) -> const Scene & { return p.session.scenes.at(0); }});
    checkMissingKeys<Track>({"track", trackFields, R"({"tracks":[)", "]}", firstTrack});
    checkMissingKeys<Clip>({"clip", clipFields, R"({"tracks":[{"clips":[)", "]}]}", firstClip});
    checkMissingKeys<MidiNote>(
        {"note", noteFields, R"({"tracks":[{"clips":[{"notes":[)", "]}]}]}",
         [](const Project &p) -> const MidiNote & { return firstClip(p).notes.at(0); }});
    checkMissingKeys<WarpMarker>(
        {"warp marker", warpMarkerFields, R"({"tracks":[{"clips":[{"warpMarkers":[)", "]}]}]}",
         [](const Project &p) -> const WarpMarker & { return firstClip(p).warpMarkers.at(0); }});
    checkMissingKeys<AutomationPoint>({"automation point", automationPointFields,
                                       R"({"tracks":[{"volumeAutomation":[)", "]}]}",
                                       [](const Project &p) -> const AutomationPoint & {
                                           return firstTrack(p).volumeAutomation.at(0);
                                       }});
    checkMissingKeys<AutomationClip>({"automation clip", automationClipFields,
                                      R"({"tracks":[{"automationClips":[)", "]}]}",
                                      [](const Project &p) -> const AutomationClip & {
                                          return firstTrack(p).automationClips.at(0);
                                      }});
    checkMissingKeys<InsertSlot>(
        {"insert", insertFields, R"({"tracks":[{"inserts":[)", "]}]}",
         [](const Project &p) -> const InsertSlot & { return firstTrack(p).inserts.at(0); }});
    checkMissingKeys<SendSlot>(
        {"send", sendFields, R"({"tracks":[{"sends":[)", "]}]}",
         [](const Project &p) -> const SendSlot & { return firstTrack(p).sends[0]; }});
    checkMissingKeys<ChannelEq8>(
        {"eq", channelEqFields, R"({"masterEq":)", "}",
         [](const Project &p) -> const ChannelEq8 & { return p.masterEq; }});
    checkMissingKeys<ControlRoomSettings>(
        {"control room", controlRoomFields, R"({"controlRoom":)", "}",
         [](const Project &p) -> const ControlRoomSettings & { return p.controlRoom; }});
    checkMissingKeys<MasteringUtility>(
        {"mastering", masteringFields, R"({"mastering":)", "}",
         [](const Project &p) -> const MasteringUtility & { return p.mastering; }});
    checkMissingKeys<TimeSignature>(
        {"time signature", timeSignatureFields, R"({"timeSignature":)", "}",
         [](const Project &p) -> const TimeSignature & { return p.timeSignature; }});
    checkMissingKeys<GrooveTemplate>(
        {"groove", grooveFields, R"({"groovePool":[)", "]}",
         [](const Project &p) -> const GrooveTemplate & { return p.groovePool.at(0); }});
    checkMissingKeys<Marker>({"marker", markerFields, R"({"markers":[)", "]}",
                              [](const Project &p) -> const Marker & { return p.markers.at(0); }});
    checkMissingKeys<TempoMarker>(
        {"tempo marker", tempoMarkerFields, R"({"tempoMarkers":[)", "]}",
         [](const Project &p) -> const TempoMarker & { return p.tempoMarkers.at(0); }});
    checkMissingKeys<MeterMarker>(
        {"meter marker", meterMarkerFields, R"({"meterMarkers":[)", "]}",
         [](const Project &p) -> const MeterMarker & { return p.meterMarkers.at(0); }});
    checkMissingKeys<ChordMarker>(
        {"chord marker", chordMarkerFields, R"({"chordMarkers":[)", "]}",
         [](const Project &p) -> const ChordMarker & { return p.chordMarkers.at(0); }});
    checkMissingKeys<BeatMarker>(
        {"beat marker", beatMarkerFields, R"({"beatMarkers":[)", "]}",
         [](const Project &p) -> const BeatMarker & { return p.beatMarkers.at(0); }});
    checkMissingKeys<ExpressionMap>(
        {"expression map", expressionMapFields, R"({"expressionMaps":[)", "]}",
         [](const Project &p) -> const ExpressionMap & { return p.expressionMaps.at(0); }});
    checkMissingKeys<ExpressionArticulation>(
        {"articulation", articulationFields, R"({"expressionMaps":[{"articulations":[)", "]}]}",
         [](const Project &p) -> const ExpressionArticulation & {
             return p.expressionMaps.at(0).articulations.at(0);
         }});
    checkMissingKeys<MixerSnapshot>(
        {"mixer snapshot", mixerSnapshotFields, R"({"mixerSnapshots":[)", "]}",
         [](const Project &p) -> const MixerSnapshot & { return p.mixerSnapshots.at(0); }});
    checkMissingKeys<TrackMixerSnapshot>({"snapshot track", snapshotTrackFields,
                                          R"({"mixerSnapshots":[{"tracks":[)", "]}]}",
                                          [](const Project &p) -> const TrackMixerSnapshot & {
                                              return p.mixerSnapshots.at(0).tracks.at(0);
                                          }});
    checkMissingKeys<MixerSnapshotEvent>({"history entry", historyEntryFields,
                                          R"({"mixerSnapshotHistory":[)", "]}",
                                          [](const Project &p) -> const MixerSnapshotEvent & {
                                              return p.mixerSnapshotHistory.at(0);
                                          }});
    checkMissingKeys<TrackMixerSnapshot>(
        {"history track", historyTrackFields, R"({"mixerSnapshotHistory":[{"snapshot":{"tracks":[)",
         "]}}]}", [](const Project &p) -> const TrackMixerSnapshot & {
             return p.mixerSnapshotHistory.at(0).snapshot.tracks.at(0);
         }});
}

TEST_F(DocumentFields, AMissingBandKeyKeepsTheDefaultOfThatBandsPlace) {
    // Band defaults depend on the band's place; the table's default is only the generic band.
    const Placement<EqBandSettings> lastBand{
        "last band", eqBandFields, R"({"masterEq":{"bands":[{},{},{},{},{},{},{},)", "]}}",
        [](const Project &p) -> const EqBandSettings & { return p.masterEq.bands[7]; }};
    const EqBandSettings expected = ChannelEq8::defaultBands()[7];
    EqBandSettings source{3, 900.0f, -6.0f, 2.5f, false};
    Project holder;
    holder.masterEq.bands[7] = source;
    expectDefaultsOfMissingKeys<EqBandSettings>(
        lastBand, holder, [&](const Field<EqBandSettings> &field) { return field.get(expected); });
}

/// The defaults the format documents, against the table (so a slip in either shows).
TEST(DocumentFieldDefaults, TablesCarryTheDocumentedDefaults) {
    const auto fallbackOf = [](auto table, std::string_view key) {
        for (const auto &field : table)
            if (key == field.key) return field.fallback;
        ADD_FAILURE() << "no key " << key;
        return -12345.0;
    };
    EXPECT_EQ(fallbackOf(tempoMarkerFields(), "bpm"), 120.0);
    EXPECT_EQ(fallbackOf(meterMarkerFields(), "num"), 4.0);
    EXPECT_EQ(fallbackOf(meterMarkerFields(), "den"), 4.0);
    EXPECT_EQ(fallbackOf(trackFields(), "gain"), 1.0);
    EXPECT_EQ(fallbackOf(trackFields(), "pan"), 0.0);
    EXPECT_EQ(fallbackOf(trackFields(), "expressionMapIndex"), -1.0);
    EXPECT_EQ(fallbackOf(sceneFields(), "useSceneMeter"), 0.0);
    EXPECT_EQ(fallbackOf(sceneFields(), "sceneMeterNum"), 4.0);
    EXPECT_EQ(fallbackOf(sceneFields(), "sceneMeterDen"), 4.0);
    EXPECT_EQ(fallbackOf(sceneFields(), "sceneTempoBpm"), 120.0);
    EXPECT_EQ(fallbackOf(insertFields(), "bypassed"), 0.0);
    EXPECT_EQ(fallbackOf(insertFields(), "isStock"), 0.0);
    EXPECT_EQ(fallbackOf(insertFields(), "automParamId"), 0.0);
    EXPECT_EQ(fallbackOf(automationClipFields(), "lane"), 0.0);
    EXPECT_EQ(fallbackOf(masteringFields(), "enabled"), 1.0);
    EXPECT_EQ(fallbackOf(masteringFields(), "loudness"), static_cast<double>(0.35f));
    EXPECT_EQ(fallbackOf(masteringFields(), "exciteAmt"), static_cast<double>(0.25f));
    EXPECT_EQ(fallbackOf(masteringFields(), "width"), 1.0);
    EXPECT_EQ(fallbackOf(masteringFields(), "loudCmp"), 1.0);
    EXPECT_EQ(fallbackOf(controlRoomFields(), "masterGain"), 1.0);
    EXPECT_EQ(fallbackOf(controlRoomFields(), "cueGain"), 1.0);
    EXPECT_EQ(fallbackOf(projectFields(), "punchIn"), 0.0);
    EXPECT_EQ(fallbackOf(projectFields(), "swingAmount"), 0.0);
    EXPECT_EQ(fallbackOf(projectFields(), "scaleSnapEnabled"), 0.0);
    EXPECT_EQ(fallbackOf(projectFields(), "lowLatencyMode"), 0.0);
    EXPECT_EQ(fallbackOf(projectFields(), "tempoFollowerEnabled"), 0.0);
    EXPECT_EQ(fallbackOf(projectFields(), "tempoFollowerFromInput"), 1.0);
    EXPECT_EQ(fallbackOf(projectFields(), "inputLatencyOffsetSamples"), 0.0);
    EXPECT_EQ(fallbackOf(projectFields(), "smartTempoMode"), 0.0);
    EXPECT_EQ(fallbackOf(projectFields(), "flashbackBufferSeconds"), 30.0);
    EXPECT_EQ(fallbackOf(articulationFields(), "keyswitch"), 36.0);
    EXPECT_EQ(fallbackOf(articulationFields(), "cc"), 11.0);
    EXPECT_EQ(fallbackOf(articulationFields(), "ccVal"), 127.0);
    EXPECT_EQ(fallbackOf(noteFields(), "pitch"), 60.0);
    EXPECT_EQ(fallbackOf(clipFields(), "sessionRow"), -1.0);
    EXPECT_EQ(fallbackOf(clipFields(), "takeActive"), 1.0);
}

struct ClampCase {
    const char *what;
    std::string document;
    std::function<double(const Project &)> value;
    double expected;
};

/// Values that once turned the whole mix into infinities, and their neighbours.
TEST(DocumentFieldClamping, AbsurdValuesAreHeldInTheirMeaningfulRange) {
    const std::vector<ClampCase> cases{
        {"note pitch 1e9", R"({"tracks":[{"clips":[{"notes":[{"pitch":1e9}]}]}]})",
         [](const Project &p) { return p.tracks[0]->clips[0]->notes[0].pitch; }, 127},
        {"note pitch -7", R"({"tracks":[{"clips":[{"notes":[{"pitch":-7}]}]}]})",
         [](const Project &p) { return p.tracks[0]->clips[0]->notes[0].pitch; }, 0},
        {"velocity 1e30", R"({"tracks":[{"clips":[{"notes":[{"velocity":1e30}]}]}]})",
         [](const Project &p) { return p.tracks[0]->clips[0]->notes[0].velocity; }, 1},
        {"cents 3e38", R"({"scalaCents":[3e38,-3e38]})",
         [](const Project &p) { return p.scalaCents[0] - p.scalaCents[1]; }, 2400},
        {"automation 3e38", R"({"tracks":[{"volumeAutomation":[{"t":0,"v":3e38}]}]})",
         [](const Project &p) { return p.tracks[0]->volumeAutomation[0].v; }, 16},
        {"automation -3e38", R"({"tracks":[{"panAutomation":[{"t":0,"v":-3e38}]}]})",
         [](const Project &p) { return p.tracks[0]->panAutomation[0].v; }, -16},
        {"stretch 1e308", R"({"tracks":[{"clips":[{"stretchRatio":1e308}]}]})",
         [](const Project &p) { return p.tracks[0]->clips[0]->stretchRatio; }, 100},
        {"stretch 0", R"({"tracks":[{"clips":[{"stretchRatio":0}]}]})",
         [](const Project &p) { return p.tracks[0]->clips[0]->stretchRatio; }, 0.01},
        {"track gain 1e38", R"({"tracks":[{"gain":1e38,"pan":-9}]})",
         [](const Project &p) { return p.tracks[0]->gain + p.tracks[0]->pan; }, 15},
        {"send level 1e38", R"({"tracks":[{"sends":[{"level":1e38}]}]})",
         [](const Project &p) { return p.tracks[0]->sends[0].level; }, 16},
        // A tempo or meter that means nothing is read as the default, as the model reads it.
        {"tempo 0", R"({"tempoBpm":0})", [](const Project &p) { return p.tempoBpm; }, 120},
        {"tempo -140", R"({"tempoBpm":-140})", [](const Project &p) { return p.tempoBpm; }, 120},
        {"tempo marker 1e9", R"({"tempoMarkers":[{"bpm":1e9}]})",
         [](const Project &p) { return p.tempoMarkers[0].bpm; }, 120},
        {"eq band gain 1e30",
         R"({"masterEq":{"outDb":1e30,"bands":[{"gainDb":-1e30,"freq":0,"q":0}]}})",
         [](const Project &p) {
             const auto &band = p.masterEq.bands[0];
             return p.masterEq.outDb + band.gainDb + band.freq + band.q;
         },
         48 - 48 + 10 + 0.05f},
        {"unknown track type", R"({"tracks":[{"type":200}]})",
         [](const Project &p) { return static_cast<double>(p.tracks[0]->type); }, 0},
        {"unknown follow action", R"({"tracks":[{"clips":[{"followAction":9,"launchMode":-1}]}]})",
         [](const Project &p) {
             const Clip &clip = *p.tracks[0]->clips[0];
             return static_cast<double>(clip.followAction) + static_cast<double>(clip.launchMode);
         },
         0},
        {"count-in 1e12", R"({"countInBars":1e12})", [](const Project &p) { return p.countInBars; },
         16},
        {"meter 0/0", R"({"timeSignature":{"numerator":0,"denominator":0}})",
         [](const Project &p) { return p.timeSignature.numerator + p.timeSignature.denominator; },
         8},
    };
    for (const ClampCase &clamp : cases) {
        SCOPED_TRACE(clamp.what);
        std::string error;
        const std::optional<Project> project = fromJson(clamp.document, &error);
        ASSERT_TRUE(project.has_value()) << error;
        EXPECT_NEAR(clamp.value(*project), clamp.expected, 1e-6);
    }
}

/// Every bounded number of every table, read far beyond each end, lands on that end (or on
/// its default, where a value out of range means the default).
template <typename Owner> void expectClampedAtBothEnds(const Placement<Owner> &place) {
    for (const Field<Owner> &field : place.fields()) {
        if (!field.isScalar() || field.type == FieldType::Bool || field.type == FieldType::Byte ||
            std::isinf(field.highest))
            continue;
        SCOPED_TRACE(std::string(place.name) + "." + field.key);
        for (const double beyond : {1e300, -1e300}) {
            std::string document = place.before + "{\"" + field.key +
                                   "\":" + (beyond > 0 ? "1e300" : "-1e300") + "}" + place.after;
            const std::optional<Project> project = fromJson(document);
            ASSERT_TRUE(project.has_value());
            Owner edge{};
            field.set(edge, field.defaultOutsideRange ? field.fallback
                            : beyond > 0              ? field.highest
                                                      : field.lowest);
            EXPECT_EQ(field.get(place.find(*project)), field.get(edge));
        }
    }
}

TEST(DocumentFieldClamping, EveryBoundedFieldOfTheMixIsClampedAtBothEnds) {
    expectClampedAtBothEnds<Track>({"track", trackFields, R"({"tracks":[)", "]}", firstTrack});
    expectClampedAtBothEnds<Clip>(
        {"clip", clipFields, R"({"tracks":[{"clips":[)", "]}]}", firstClip});
    expectClampedAtBothEnds<MidiNote>(
        {"note", noteFields, R"({"tracks":[{"clips":[{"notes":[)", "]}]}]}",
         [](const Project &p) -> const MidiNote & { return firstClip(p).notes.at(0); }});
    expectClampedAtBothEnds<Project>(
        {"project", projectFields, "", "", [](const Project &p) -> const Project & { return p; }});
    expectClampedAtBothEnds<MasteringUtility>(
        {"mastering", masteringFields, R"({"mastering":)", "}",
         [](const Project &p) -> const MasteringUtility & { return p.mastering; }});
    expectClampedAtBothEnds<ControlRoomSettings>(
        {"control room", controlRoomFields, R"({"controlRoom":)", "}",
         [](const Project &p) -> const ControlRoomSettings & { return p.controlRoom; }});
    expectClampedAtBothEnds<Scene>(
        {"scene", sceneFields, R"({"session":{"scenes":[)", "]}}",
         [](const Project &p) -> const Scene & { return p.session.scenes.at(0); }});
}

} // namespace
} // namespace orvane::project_io
