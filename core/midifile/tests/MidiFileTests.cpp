#include "core/midifile/MidiFile.h"

#include <gtest/gtest.h>

#include <array>

namespace orvane::midifile {
namespace {

/// A file from its header fields and raw track bodies.
std::vector<uint8_t> fileOf(int format, int division,
                            const std::vector<std::vector<uint8_t>> &tracks) {
    std::vector<uint8_t> bytes{'M',
                               'T',
                               'h',
                               'd',
                               0,
                               0,
                               0,
                               6,
                               0,
                               static_cast<uint8_t>(format),
                               0,
                               static_cast<uint8_t>(tracks.size()),
                               static_cast<uint8_t>(division >> 8),
                               static_cast<uint8_t>(division)};
    for (const auto &body : tracks) {
        bytes.insert(bytes.end(), {'M', 'T', 'r', 'k', 0, 0, static_cast<uint8_t>(body.size() >> 8),
                                   static_cast<uint8_t>(body.size())});
        bytes.insert(bytes.end(), body.begin(), body.end());
    }
    return bytes;
}

TEST(MidiFile, WhatIsWrittenReadsBackNoteForNote) {
    MidiFile written;
    written.ticksPerQuarter = 96;
    written.tempos = {{0, 500000}, {384, 400000}};
    written.meters = {{0, 3, 4}, {288, 7, 8}};
    written.tracks.push_back(
        {"Piano",
         {{0, 60, 100, 0, 96}, {0, 64, 90, 0, 96}, {0, 60, 80, 48, 200}, {3, 36, 127, 96, 20000}}});
    written.tracks.push_back({"", {}});
    written.tracks.push_back({"Бас", {{9, 42, 1, 1000000, 1}}});
    const std::vector<uint8_t> bytes = writeMidiFile(written);
    MidiFile read;
    std::string error;
    ASSERT_TRUE(readMidiFile(bytes, read, error)) << error;
    EXPECT_EQ(read.format, 1);
    EXPECT_EQ(read.ticksPerQuarter, 96);
    EXPECT_EQ(read.tempos, written.tempos);
    EXPECT_EQ(read.meters, written.meters);
    ASSERT_EQ(read.tracks.size(), 4u) << "the map track comes first";
    EXPECT_TRUE(read.tracks[0].notes.empty());
    for (std::size_t index = 0; index < written.tracks.size(); ++index) {
        EXPECT_EQ(read.tracks[index + 1].name, written.tracks[index].name);
        EXPECT_EQ(read.tracks[index + 1].notes, written.tracks[index].notes) << index;
    }
}

TEST(MidiFile, RunningStatusSysexAndMetaEventsAreReadSafely) {
    const std::vector<uint8_t> track{
        0x00, 0xFF, 0x03, 0x04, 'L',  'e',  'a', 'd', // name
        0x00, 0xF0, 0x03, 0x7E, 0x09, 0xF7,           // sysex
        0x00, 0x91, 0x3C, 0x40,                       // note on, channel 2
        0x10, 0x3E, 0x50,                             // running status: another note on
        0x00, 0xB1, 0x07, 0x64,                       // a controller
        0x00, 0xFF, 0x06, 0x02, 'h',  'i',            // a marker
        0x10, 0x81, 0x3C, 0x00,                       // note off
        0x00, 0x3E, 0x00,                             // running status note off
        0x08, 0xF7, 0x02, 0x01, 0x02,                 // an escape
        0x00, 0x92, 0x40, 0x30,                       // left sounding at the end
        0x20, 0xFF, 0x2F, 0x00,                       // end of track
        0x00, 0x90, 0x41, 0x41,                       // after the end: ignored
    };
    MidiFile read;
    std::string error;
    ASSERT_TRUE(readMidiFile(fileOf(0, 480, {track}), read, error)) << error;
    EXPECT_EQ(read.format, 0);
    ASSERT_EQ(read.tracks.size(), 1u);
    EXPECT_EQ(read.tracks[0].name, "Lead");
    const std::vector<FileNote> expected{
        {1, 60, 64, 0, 32}, {1, 62, 80, 16, 16}, {2, 64, 48, 40, 32}};
    EXPECT_EQ(read.tracks[0].notes, expected);
}

TEST(MidiFile, DamagedFilesAreRefusedWithTheirReasonAndChangeNothing) {
    const std::vector<uint8_t> note{0x00, 0x90, 0x3C, 0x40, 0x10, 0x80, 0x3C, 0x00};
    std::vector<uint8_t> cutTrack = fileOf(1, 480, {note});
    cutTrack.resize(cutTrack.size() - 3);
    struct Case {
        std::vector<uint8_t> bytes;
        const char *reason;
    };
    const std::array<Case, 10> cases{{
        {{'R', 'I', 'F', 'F'}, "not a Standard MIDI File"},
        {{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1}, "header is cut short"},
        {fileOf(2, 480, {note}), "format 2 is not supported"},
        {fileOf(1, 0xE728, {note}), "SMPTE"},
        {cutTrack, "claims more bytes than the file holds"},
        {fileOf(1, 480, {{0x00, 0x3C, 0x40}}), "running status before any event"},
        {fileOf(1, 480, {{0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1}}), "tempo event"},
        {fileOf(1, 480, {{0x00, 0x90, 0x3C}}), "channel event is cut short"},
        {fileOf(1, 480, {{0xFF, 0xFF, 0xFF, 0xFF, 0x7F}}), "event time is cut short"},
        {fileOf(1, 480, {{0x00, 0xF0, 0x7F, 0x01}}), "sysex event claims more bytes"},
    }};
    for (const Case &row : cases) {
        MidiFile file;
        file.tracks.push_back({"kept", {}});
        std::string error;
        EXPECT_FALSE(readMidiFile(row.bytes, file, error)) << row.reason;
        EXPECT_NE(error.find(row.reason), std::string::npos) << error;
        ASSERT_EQ(file.tracks.size(), 1u);
        EXPECT_EQ(file.tracks[0].name, "kept");
    }
}

TEST(MidiFile, WriterUsesRunningStatusAndEndsEveryTrack) {
    MidiFile file;
    file.tracks.push_back({"", {{0, 60, 100, 0, 10}, {0, 62, 100, 0, 10}}});
    const std::vector<uint8_t> bytes = writeMidiFile(file);
    const std::vector<uint8_t> noteTrack{'M',  'T',  'r',  'k',  0,    0,  0,   17,
                                         0x00, 0x90, 60,   100,  0x00, 62, 100, // running status
                                         0x0A, 60,   0,    0x00, 62,   0, // note-ons of velocity 0
                                         0x00, 0xFF, 0x2F, 0x00};
    ASSERT_GT(bytes.size(), noteTrack.size());
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - static_cast<std::ptrdiff_t>(noteTrack.size()),
                                   bytes.end()),
              noteTrack);
}

} // namespace
} // namespace orvane::midifile
