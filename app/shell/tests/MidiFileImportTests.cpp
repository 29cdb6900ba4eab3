#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/shell/tests/ApplicationTestSupport.h"
#include "core/midifile/MidiFile.h"
#include "core/project_io/ProjectDocument.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

class MidiFileImport : public ::testing::Test {
  protected:
    TemporaryHome home{"midi-file"};
    ScriptedUi ui;
    std::unique_ptr<OVApplication> app;

    void SetUp() override {
        home.rememberOutputDevice("Null");
        app = std::make_unique<OVApplication>(ui);
        app->didFinishLaunching();
        app->offerRecoveryIfNeeded();
    }
    void TearDown() override {
        app.reset();
        EXPECT_TRUE(ui.scriptUsedUp());
    }

    OVMainView &view() { return app->view(); }
    Project &project() { return app->engine().project; }
    fs::path file(const std::string &name) const { return home.root() / name; }

    /// A file of two tracks at 100 BPM in 3/4: a chord and a bass line.
    fs::path writeSong() {
        midifile::MidiFile song;
        song.ticksPerQuarter = 240;
        song.tempos = {{0, 600000}};
        song.meters = {{0, 3, 4}};
        song.tracks.push_back({"Chords", {{0, 60, 90, 0, 240}, {0, 64, 90, 0, 240}}});
        song.tracks.push_back({"Bass", {{1, 36, 110, 240, 480}}});
        const fs::path path = file("song.mid");
        std::string error;
        EXPECT_TRUE(midifile::writeMidiFileAt(path.string(), song, error)) << error;
        return path;
    }
};

TEST_F(MidiFileImport, TheMenuImportsTracksAndTempoAsOneUndoableStep) {
    const std::size_t tracksBefore = project().tracks.size();
    const double tempoBefore = project().tempoBpm;
    ui.filesToOpen.push_back({writeSong().string()});
    view().importMidiFileFromMenu();
    ASSERT_EQ(project().tracks.size(), tracksBefore + 2) << ui.lastStatus();
    EXPECT_EQ(project().tracks[tracksBefore]->name, "Chords");
    EXPECT_EQ(project().tracks[tracksBefore + 1]->type, TrackType::Midi);
    EXPECT_EQ(project().tracks[tracksBefore + 1]->clips.at(0)->notes.size(), 1u);
    EXPECT_DOUBLE_EQ(project().tempoBpm, 100.0);
    EXPECT_EQ(project().timeSignature.numerator, 3);

    view().undoEdit();
    EXPECT_EQ(project().tracks.size(), tracksBefore);
    EXPECT_DOUBLE_EQ(project().tempoBpm, tempoBefore);
}

TEST_F(MidiFileImport, ADroppedFileKeepsTheProjectsTempoAndLandsWhereDropped) {
    const double tempoBefore = project().tempoBpm;
    view().dropFiles({writeSong().string()}, 0, 48000);
    const auto &added = project().tracks.back();
    ASSERT_EQ(added->name, "Bass") << ui.lastStatus();
    EXPECT_EQ(added->clips.at(0)->arrangeStart, 48000);
    EXPECT_DOUBLE_EQ(project().tempoBpm, tempoBefore);
}

TEST_F(MidiFileImport, ADamagedFileIsNamedWithItsReasonAndChangesNothing) {
    const fs::path damaged = file("damaged.mid");
    // A track that claims 256 bytes and holds none.
    const char bytes[] = "MThd\0\0\0\6\0\1\0\1\1\340MTrk\0\0\1\0";
    std::ofstream(damaged, std::ios::binary).write(bytes, sizeof bytes - 1);
    const std::string before = project_io::toJson(project());
    ui.filesToOpen.push_back({damaged.string()});
    view().importMidiFileFromMenu();
    EXPECT_NE(ui.lastStatus().find("Не удалось импортировать MIDI-файл"), std::string::npos);
    EXPECT_NE(ui.lastStatus().find("damaged.mid"), std::string::npos) << ui.lastStatus();
    EXPECT_EQ(project_io::toJson(project()), before);
}

TEST_F(MidiFileImport, TheSongExportsAsAFormatOneFileThatReadsBack) {
    ui.filesToOpen.push_back({writeSong().string()});
    view().importMidiFileFromMenu();
    const fs::path out = file("out.mid");
    ASSERT_TRUE(view().exportMidiFile(out.string(), midifile::MidiExportScope::Song, 0))
        << ui.lastStatus();
    midifile::MidiFile read;
    std::string error;
    ASSERT_TRUE(midifile::readMidiFileAt(out.string(), read, error)) << error;
    EXPECT_EQ(read.format, 1);
    ASSERT_FALSE(read.tempos.empty());
    EXPECT_EQ(read.tempos[0].microsecondsPerQuarter, 600000u);
    // From the menu, the selected MIDI track alone.
    view().selectedTrackId = project().tracks.back()->id;
    const fs::path bass = file("bass.mid");
    ui.saveLocations.push_back(bass.string());
    view().exportMidiFileFromMenu();
    ASSERT_TRUE(midifile::readMidiFileAt(bass.string(), read, error)) << ui.lastStatus();
    ASSERT_EQ(read.tracks.size(), 2u);
    EXPECT_EQ(read.tracks[1].name, "Bass");
    ASSERT_TRUE(midifile::readMidiFileAt(out.string(), read, error)) << error;
    bool foundBass = false;
    for (const auto &track : read.tracks)
        if (track.name == "Bass") {
            foundBass = true;
            ASSERT_EQ(track.notes.size(), 1u);
            EXPECT_EQ(track.notes[0].startTick, 480) << "one beat at 480 ticks a beat";
            EXPECT_EQ(track.notes[0].lengthTicks, 960);
        }
    EXPECT_TRUE(foundBass);
}

} // namespace
