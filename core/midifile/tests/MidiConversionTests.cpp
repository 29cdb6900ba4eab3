#include "core/midifile/MidiConversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace orvane::midifile {
namespace {

constexpr double rate = 48000.0;

/// Two quarter notes per track at 120 BPM (a beat is 24000 samples), then 60 BPM from beat 4.
MidiFile twoTrackFile() {
    MidiFile file;
    file.ticksPerQuarter = 480;
    file.tempos = {{0, 500000}, {4 * 480, 1000000}};
    file.meters = {{0, 3, 4}, {6 * 480, 6, 8}};
    file.tracks.push_back({"Conductor", {}});
    file.tracks.push_back({"Keys", {{0, 60, 127, 0, 480}, {0, 67, 64, 480, 240}}});
    file.tracks.push_back({"", {{1, 40, 100, 5 * 480, 480}}});
    return file;
}

TEST(MidiImportPlan, EachTrackWithNotesBecomesOneClipUnderTheFilesTempo) {
    Project project;
    project.sampleRate = rate;
    const MidiImport plan = planMidiImport(twoTrackFile(), project, true);
    ASSERT_TRUE(plan.maps);
    EXPECT_DOUBLE_EQ(plan.maps->tempoBpm, 120.0);
    ASSERT_EQ(plan.maps->tempoMarkers.size(), 1u);
    EXPECT_EQ(plan.maps->tempoMarkers[0].position, 4 * 24000);
    EXPECT_DOUBLE_EQ(plan.maps->tempoMarkers[0].bpm, 60.0);
    EXPECT_EQ(plan.maps->timeSignature.numerator, 3);
    ASSERT_EQ(plan.maps->meterMarkers.size(), 1u);
    EXPECT_EQ(plan.maps->meterMarkers[0].position, 4 * 24000 + 2 * 48000);

    ASSERT_EQ(plan.tracks.size(), 2u) << "the conductor track has no notes";
    EXPECT_EQ(plan.tracks[0].name, "Keys");
    EXPECT_EQ(plan.tracks[1].name, "MIDI 3");
    const auto &keys = plan.tracks[0].clip.notes;
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0], (MidiNote{60, 1.0f, 0, 24000}));
    EXPECT_EQ(keys[1].start, 24000);
    EXPECT_EQ(keys[1].length, 12000);
    EXPECT_NEAR(keys[1].velocity, 64.0f / 127.0f, 1e-6);
    // Beat 5 comes after the change to 60 BPM: one second a beat.
    EXPECT_EQ(plan.tracks[1].clip.notes[0].start, 4 * 24000 + 48000);
    EXPECT_EQ(plan.tracks[1].clip.notes[0].length, 48000);
    EXPECT_EQ(plan.tracks[0].clip.length, 3 * 24000) << "to the end of the first 3/4 bar";
    EXPECT_EQ(plan.tracks[0].clip.kind, ClipKind::Midi);
}

TEST(MidiImportPlan, WithoutItsMapsAFileFollowsTheProjectsTempo) {
    Project project;
    project.sampleRate = rate;
    project.tempoBpm = 90.0;
    const MidiImport plan = planMidiImport(twoTrackFile(), project, false);
    EXPECT_FALSE(plan.maps);
    EXPECT_EQ(plan.tracks[1].clip.notes[0].start, 5 * 32000) << "beat 5 at 90 BPM";
}

// A file can place a note at ticks no song reaches; such an import is refused whole, before
// the song holds a clip that no render would take.
TEST(MidiImportPlan, NotesPastTheEndOfTheTimelineDoNotFit) {
    Project project;
    project.sampleRate = rate;
    struct Case {
        int64_t startTick;
        int64_t startSamples;
        bool fits;
    };
    // At the slowest tempo and one tick a beat, a beat is some 805 306 samples: the timeline
    // ends near beat 2.86e12.
    const Case cases[] = {
        {1'000'000'000'000, 0, true},          {2'800'000'000'000, 0, true},
        {2'900'000'000'000, 0, false},         {int64_t{1} << 44, 0, false},
        {0, timelineLimit - 1'000'000, false}, {0, -1, false},
    };
    for (const Case &row : cases) {
        MidiFile file;
        file.ticksPerQuarter = 1;
        file.tempos = {{0, 0xFFFFFF}};
        file.tracks.push_back({"Far", {{0, 60, 100, row.startTick, 1}}});
        const MidiImport plan = planMidiImport(file, project, true);
        ASSERT_EQ(plan.tracks.size(), 1u);
        EXPECT_EQ(planFitsTimeline(plan, row.startSamples), row.fits) << row.startTick;
        EXPECT_GE(plan.tracks[0].clip.length, plan.tracks[0].clip.notes[0].start)
            << "the clip holds its note, without overflowing: " << row.startTick << " length "
            << plan.tracks[0].clip.notes[0].length;
    }
}

TEST(MidiExport, TheSongATrackAndAClipReadBackAtTheirBeats) {
    Project project;
    project.sampleRate = rate;
    project.tempoBpm = 120.0;
    project.tempoMarkers.push_back({8 * 24000, 60.0});
    auto keys = project.addTrack(TrackType::Midi, "Keys");
    auto clip = project.addClip(keys->id, ClipKind::Midi);
    clip->arrangeStart = 2 * 24000;
    clip->length = 8 * 24000;
    clip->notes = {{60, 0.5f, 0, 24000}, {64, 1.0f, 6 * 24000, 24000}};
    project.addTrack(TrackType::Audio, "Voice");

    std::string error;
    const auto song = midiFileFromProject(project, MidiExportScope::Song, 0, error);
    ASSERT_TRUE(song) << error;
    MidiFile read;
    ASSERT_TRUE(readMidiFile(writeMidiFile(*song), read, error)) << error;
    ASSERT_EQ(read.tracks.size(), 2u) << "the map track and the one MIDI track";
    EXPECT_EQ(read.tracks[1].name, "Keys");
    const std::vector<FileNote> expected{{0, 60, 64, 2 * 480, 480}, {0, 64, 127, 8 * 480, 240}};
    EXPECT_EQ(read.tracks[1].notes, expected) << "the second note lies after the change to 60";
    ASSERT_EQ(read.tempos.size(), 2u);
    EXPECT_EQ(read.tempos[1], (FileTempo{8 * 480, 1000000}));

    const auto one = midiFileFromProject(project, MidiExportScope::Clip, clip->id, error);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->tracks[0].notes[0].startTick, 0) << "a clip starts at its own beginning";
    EXPECT_FALSE(midiFileFromProject(project, MidiExportScope::Track, 999, error));
    EXPECT_NE(error.find("no MIDI track"), std::string::npos);

    // Imported again, the notes land where they were.
    Project fresh;
    fresh.sampleRate = rate;
    const MidiImport plan = planMidiImport(read, fresh, true);
    ASSERT_EQ(plan.tracks.size(), 1u);
    EXPECT_EQ(plan.tracks[0].clip.notes[0].start, 2 * 24000);
    EXPECT_EQ(plan.tracks[0].clip.notes[1].start, 8 * 24000);
    EXPECT_EQ(plan.tracks[0].clip.notes[1].length, 24000);
}

/// `changes` tempo changes one tick apart from the top, cycling through 400,000 to 400,999 µs a
/// quarter, beside one note on the tick after the last change.
MidiFile manyTempoChanges(int64_t changes) {
    MidiFile file;
    file.ticksPerQuarter = 480;
    for (int64_t i = 0; i < changes; ++i)
        file.tempos.push_back({i, static_cast<uint32_t>(400000 + i % 1000)});
    file.tracks.push_back({"Conductor", {}});
    file.tracks.push_back({"Keys", {{0, 60, 100, changes, 96}}});
    return file;
}

TEST(MidiImportPlan, AHundredThousandTempoChangesLandWhereTheirTicksAdd) {
    // A correctness check of the large case; the time it takes is measured in bench/.
    constexpr int64_t changes = 100000;
    Project project;
    project.sampleRate = rate;
    const MidiImport plan = planMidiImport(manyTempoChanges(changes), project, true);
    ASSERT_TRUE(plan.maps);
    EXPECT_DOUBLE_EQ(plan.maps->tempoBpm, 60'000'000.0 / 400000.0);
    ASSERT_EQ(plan.maps->tempoMarkers.size(), static_cast<std::size_t>(changes - 1));
    // Each change starts where the ticks before it, each at its own tempo, add up to; the
    // sum is kept exactly here (whole microseconds × 48 kHz / 480 ticks).
    int64_t microsecondTimes100 = 0; // in units of 1/(480 × 1e6 / 48000 / 100) samples
    for (int64_t i = 1; i < changes; ++i) {
        microsecondTimes100 += 400000 + (i - 1) % 1000;
        // samples = Σ µs × 48000 / (480 × 1e6) = Σ µs / 10000
        const int64_t expected = microsecondTimes100 / 10000;
        const TempoMarker &marker = plan.maps->tempoMarkers[static_cast<std::size_t>(i - 1)];
        ASSERT_LE(std::abs(marker.position - expected), 1) << "change " << i;
        ASSERT_DOUBLE_EQ(marker.bpm, 60'000'000.0 / static_cast<double>(400000 + i % 1000));
    }
    ASSERT_EQ(plan.tracks.size(), 1u);
    const int64_t noteAt = (microsecondTimes100 + 400000 + (changes - 1) % 1000) / 10000;
    EXPECT_LE(std::abs(plan.tracks[0].clip.notes[0].start - noteAt), 1);
}

TEST(MidiImportPlan, APlanThatIsStoppedHoldsNoTracksAndProgressReachesTheEnd) {
    Project project;
    project.sampleRate = rate;
    std::vector<double> heard;
    const MidiImport whole = planMidiImport(twoTrackFile(), project, true, [&](double done) {
        heard.push_back(done);
        return true;
    });
    EXPECT_EQ(whole.tracks.size(), 2u);
    ASSERT_FALSE(heard.empty());
    EXPECT_TRUE(std::is_sorted(heard.begin(), heard.end()));
    EXPECT_DOUBLE_EQ(heard.back(), 1.0);
    const MidiImport stopped =
        planMidiImport(twoTrackFile(), project, true, [](double) { return false; });
    EXPECT_TRUE(stopped.tracks.empty());
}

} // namespace
} // namespace orvane::midifile
