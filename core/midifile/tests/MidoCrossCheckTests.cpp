#include "core/midifile/MidiFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include <unistd.h>

namespace orvane::midifile {
namespace {

namespace fs = std::filesystem;

/// mido, from the system's own Python, through the test-only script beside this test.
std::string runMido(const std::string &mode, const fs::path &file) {
    const std::string command =
        "/usr/bin/python3 '" HALVORA_MIDO_SCRIPT "' " + mode + " '" + file.string() + "' 2>&1";
    std::string output;
    std::FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, got);
    ::pclose(pipe);
    return output;
}

/// The same lines the script prints, from what our reader read.
std::string linesOf(const MidiFile &file) {
    std::ostringstream lines;
    for (const FileTempo &tempo : file.tempos)
        lines << "tempo " << tempo.tick << ' ' << tempo.microsecondsPerQuarter << '\n';
    for (std::size_t track = 0; track < file.tracks.size(); ++track)
        for (const FileNote &note : file.tracks[track].notes)
            lines << track << ' ' << note.channel << ' ' << note.pitch << ' ' << note.velocity
                  << ' ' << note.startTick << ' ' << note.lengthTicks << '\n';
    return lines.str();
}

class MidoCrossCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("halvora-mido-" + std::to_string(::getpid()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    fs::path folder;
};

TEST_F(MidoCrossCheck, AFileMidoWroteReadsNoteForNote) {
    const fs::path file = folder / "mido.mid";
    const std::string fromMido = runMido("write", file);
    ASSERT_NE(fromMido.find("tempo 0 600000"), std::string::npos) << fromMido;
    MidiFile read;
    std::string error;
    ASSERT_TRUE(readMidiFileAt(file.string(), read, error)) << error;
    EXPECT_EQ(linesOf(read), fromMido);
    ASSERT_EQ(read.meters.size(), 1u);
    EXPECT_EQ(read.meters[0], (FileMeter{0, 6, 8}));
    EXPECT_EQ(read.tracks[1].name, "Lead");
}

TEST_F(MidoCrossCheck, AFileWeWroteReadsNoteForNoteInMido) {
    MidiFile written;
    written.ticksPerQuarter = 960;
    written.tempos = {{0, 500000}, {3840, 750000}};
    written.meters = {{0, 4, 4}};
    written.tracks.push_back(
        {"Keys", {{0, 48, 70, 0, 960}, {0, 52, 71, 0, 960}, {0, 55, 72, 480, 3000}}});
    written.tracks.push_back({"Bass", {{1, 28, 127, 10, 1}, {1, 28, 1, 11, 5000}}});
    const fs::path file = folder / "ours.mid";
    std::string error;
    ASSERT_TRUE(writeMidiFileAt(file.string(), written, error)) << error;
    MidiFile expected = written;
    expected.tracks.insert(expected.tracks.begin(), FileTrack{}); // the map track
    EXPECT_EQ(runMido("read", file), linesOf(expected));
}

} // namespace
} // namespace orvane::midifile
