#include "core/audiofile/AudioFile.h"
#include "core/audiofile/tests/TestTone.h"
#include "tests/support/TestSignals.h"
#include "tests/support/TestWavFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include <fcntl.h>
#include <unistd.h>

namespace orvane {
namespace {

namespace fs = std::filesystem;
using testing::RiffBuilder;

class WavFileTest : public ::testing::Test {
  protected:
    void SetUp() override { folder_ = testing::makeScratchFolder("wav"); }
    void TearDown() override { fs::remove_all(folder_); }

    std::string path(const std::string &name) const { return (fs::path(folder_) / name).string(); }

    std::vector<uint8_t> readBytes(const std::string &file) const {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    void writeBytes(const std::string &file, const std::vector<uint8_t> &bytes) const {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }

    /// The 16-bit sample values of an exported file, after its 44-byte header.
    std::vector<int16_t> exportedSamples(const std::string &file) const {
        const std::vector<uint8_t> bytes = readBytes(file);
        std::vector<int16_t> samples;
        for (std::size_t offset = 44; offset + 1 < bytes.size(); offset += 2)
            samples.push_back(static_cast<int16_t>(bytes[offset] | (bytes[offset + 1] << 8)));
        return samples;
    }

    std::string folder_;
};

TEST_F(WavFileTest, ExportWritesTheCanonicalHeader) {
    const std::vector<float> samples{0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    ASSERT_TRUE(exportWav(path("h.wav"), samples.data(), 3, 2, 44100.7));
    const std::vector<uint8_t> bytes = readBytes(path("h.wav"));
    const std::vector<uint8_t> header{'R', 'I', 'F',  'F',  48,  0,   0,    0,    'W',  'A', 'V',
                                      'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,    1,   0,
                                      2,   0,   0x44, 0xAC, 0,   0,   0x10, 0xB1, 0x02, 0,   4,
                                      0,   16,  0,    'd',  'a', 't', 'a',  12,   0,    0,   0};
    ASSERT_EQ(bytes.size(), 56u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 44), header);
}

TEST_F(WavFileTest, ExportClampsScalesAndRoundsSamples) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> samples{1.5f,  -1.5f, 0.5f, -0.5f,        1.0f,
                                     -1.0f, nan,   0.0f, 0.4f / 32767, 0.6f / 32767};
    ASSERT_TRUE(exportWav(path("s.wav"), samples.data(), 5, 2, 48000));
    EXPECT_EQ(exportedSamples(path("s.wav")),
              (std::vector<int16_t>{32767, -32767, 16384, -16384, 32767, -32767, 0, 0, 0, 1}));
}

// A render hands its blocks over one by one; gathered into large writes they must still give
// the file that one write of everything gives, across the gathering's boundaries, and a disk
// that refuses the data must be reported, not lost quietly.
TEST_F(WavFileTest, SamplesStreamedInPiecesEqualOneWriteAndAFullDiskIsReported) {
    std::vector<float> samples = testing::uniformNoise(100003, -1.2f, 1.2f, 3);
    const auto writeWith = [&](const std::string &name, auto write) {
        const int descriptor = ::open(path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_GE(descriptor, 0);
        EXPECT_TRUE(write(descriptor));
        ::close(descriptor);
        return readBytes(path(name));
    };
    const auto whole = writeWith("whole.raw", [&](int descriptor) {
        return writeWavSamples(descriptor, samples.data(), samples.size());
    });
    const auto pieces = writeWith("pieces.raw", [&](int descriptor) {
        WavSampleStream stream(descriptor);
        for (std::size_t done = 0, piece = 7; done < samples.size();
             piece = piece * 3 % 40000 + 1) {
            const std::size_t count = std::min(piece, samples.size() - done);
            if (!stream.append(samples.data() + done, count)) return false;
            done += count;
        }
        return stream.flush();
    });
    EXPECT_EQ(whole.size(), 2 * samples.size());
    EXPECT_TRUE(pieces == whole);

    const int full = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    WavSampleStream refused(full);
    const bool appended = refused.append(samples.data(), samples.size());
    EXPECT_FALSE(appended && refused.flush());
    ::close(full);
}

TEST_F(WavFileTest, ExportRefusesEmptyInputWithoutCreatingAFile) {
    const float sample = 0.0f;
    EXPECT_FALSE(exportWav(path("a.wav"), nullptr, 1, 1, 48000));
    EXPECT_FALSE(exportWav(path("b.wav"), &sample, 0, 1, 48000));
    EXPECT_FALSE(exportWav(path("c.wav"), &sample, 1, 0, 48000));
    EXPECT_TRUE(fs::is_empty(folder_));
    EXPECT_FALSE(exportWav(path("missing/d.wav"), &sample, 1, 1, 48000));
}

// Export rounds to the nearest step of 1/32767 and import divides by the same 32767: a value
// comes back within half a step, and what was imported exports to the very same bytes.
TEST_F(WavFileTest, ExportAndImportAreInversesOnTheSixteenBitGrid) {
    std::vector<float> samples = testing::uniformNoise(2 * 5000, -1.0f, 1.0f, 11);
    samples[0] = -1.0f;
    samples[1] = 1.0f;
    ASSERT_TRUE(exportWav(path("r.wav"), samples.data(), 5000, 2, 44100));
    ImportedWav imported;
    ASSERT_TRUE(importWav(path("r.wav"), imported));
    EXPECT_EQ(imported.channels, 2);
    EXPECT_EQ(imported.frames, 5000);
    EXPECT_EQ(imported.sampleRate, 44100.0);
    ASSERT_EQ(imported.samples->size(), samples.size());
    EXPECT_EQ((*imported.samples)[0], -1.0f);
    EXPECT_EQ((*imported.samples)[1], 1.0f);
    for (std::size_t index = 0; index < samples.size(); ++index)
        ASSERT_NEAR((*imported.samples)[index], samples[index], 0.5 / 32767.0 + 1e-7) << index;
    ASSERT_TRUE(exportWav(path("again.wav"), imported.samples->data(), 5000, 2, 44100));
    EXPECT_EQ(readBytes(path("again.wav")), readBytes(path("r.wav")));
}

TEST_F(WavFileTest, EveryStepOfTheGridSurvivesImportAndExport) {
    RiffBuilder builder;
    std::vector<int16_t> steps;
    for (int value = -32767; value <= 32767; ++value)
        steps.push_back(static_cast<int16_t>(value));
    writeBytes(path("grid.wav"), builder.format(1, 1, 48000, 16).data(steps).bytes);
    ImportedWav imported;
    ASSERT_TRUE(importWav(path("grid.wav"), imported));
    std::vector<float> left(steps.size());
    for (std::size_t index = 0; index < steps.size(); ++index)
        left[index] = (*imported.samples)[2 * index];
    ASSERT_TRUE(exportWav(path("out.wav"), left.data(), static_cast<int>(left.size()), 1, 48000));
    EXPECT_EQ(exportedSamples(path("out.wav")), steps);
}

TEST_F(WavFileTest, ImportDuplicatesMonoAndKeepsTheFirstTwoOfFourChannels) {
    writeBytes(path("mono.wav"),
               RiffBuilder().format(1, 1, 22050, 16).data({100, -200, 300}).bytes);
    ImportedWav mono;
    ASSERT_TRUE(importWav(path("mono.wav"), mono));
    EXPECT_EQ(mono.frames, 3);
    EXPECT_EQ(mono.channels, 2);
    EXPECT_EQ(mono.sampleRate, 22050.0);
    EXPECT_EQ(*mono.samples, (std::vector<float>{100 / 32767.0f, 100 / 32767.0f, -200 / 32767.0f,
                                                 -200 / 32767.0f, 300 / 32767.0f, 300 / 32767.0f}));

    writeBytes(path("quad.wav"),
               RiffBuilder().format(1, 4, 48000, 16).data({1, 2, 3, 4, 5, 6, 7, 8, 9}).bytes);
    ImportedWav quad;
    ASSERT_TRUE(importWav(path("quad.wav"), quad));
    EXPECT_EQ(quad.frames, 2);
    EXPECT_EQ(*quad.samples,
              (std::vector<float>{1 / 32767.0f, 2 / 32767.0f, 5 / 32767.0f, 6 / 32767.0f}));
}

TEST_F(WavFileTest, ImportWalksPastOtherChunksHonouringThePadByte) {
    // An odd-sized chunk is followed by a pad byte that its size does not count, and a longer
    // format chunk has its tail skipped.
    writeBytes(path("walk.wav"), RiffBuilder()
                                     .chunk("LIST", 3, {'a', 'b', 'c', 0})
                                     .format(1, 2, 8000, 16, 18)
                                     .chunk("junk", 2, {0, 0})
                                     .data({-32768, 32767})
                                     .bytes);
    ImportedWav imported;
    ASSERT_TRUE(importWav(path("walk.wav"), imported));
    EXPECT_EQ(*imported.samples, (std::vector<float>{-32768 / 32767.0f, 1.0f}));
}

TEST_F(WavFileTest, AnOddSizedDataChunkGivesOnlyItsWholeSamples) {
    writeBytes(path("odd.wav"),
               RiffBuilder().format(1, 1, 48000, 16).chunk("data", 5, {1, 0, 2, 0, 3, 0}).bytes);
    ImportedWav imported;
    ASSERT_TRUE(importWav(path("odd.wav"), imported));
    EXPECT_EQ(imported.frames, 2);
    EXPECT_EQ(*imported.samples,
              (std::vector<float>{1 / 32767.0f, 1 / 32767.0f, 2 / 32767.0f, 2 / 32767.0f}));
}

TEST_F(WavFileTest, ImportReadsTheExtensibleFormWithSixteenBitPcmInside) {
    // cbSize 22, 16 valid bits, front left and right, then the PCM sub-format GUID.
    std::vector<uint8_t> extension{22, 0, 16,   0, 3,    0, 0, 0,    1, 0,    0,    0,
                                   0,  0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    RiffBuilder builder;
    builder.format(0xFFFE, 2, 44100, 16, 40);
    std::copy(extension.begin(), extension.end(), builder.bytes.end() - 24);
    writeBytes(path("ext.wav"), builder.data({300, -300}).bytes);
    ImportedWav imported;
    ASSERT_TRUE(importWav(path("ext.wav"), imported));
    EXPECT_EQ(*imported.samples, (std::vector<float>{300 / 32767.0f, -300 / 32767.0f}));

    extension[8] = 3; // a float sub-format is not for this reader
    std::copy(extension.begin(), extension.end(), builder.bytes.end() - 24 - 12);
    writeBytes(path("extfloat.wav"), builder.bytes);
    EXPECT_FALSE(importWav(path("extfloat.wav"), imported));
}

TEST_F(WavFileTest, ImportRejectsOtherFormatsAndBrokenStructure) {
    const auto fails = [&](const std::string &name, const std::vector<uint8_t> &bytes) {
        writeBytes(path(name), bytes);
        ImportedWav imported;
        imported.frames = 99;
        const bool ok = importWav(path(name), imported);
        EXPECT_EQ(imported.frames, 0) << name;
        EXPECT_EQ(imported.samples, nullptr) << name;
        return !ok;
    };
    EXPECT_TRUE(fails("before.wav", RiffBuilder().data({1, 2}).format(1, 2, 48000, 16).bytes));
    EXPECT_TRUE(fails("24bit.wav", RiffBuilder().format(1, 2, 48000, 24).data({1, 2, 3}).bytes));
    EXPECT_TRUE(fails("float.wav", RiffBuilder().format(3, 2, 48000, 32).data({1, 2}).bytes));
    EXPECT_TRUE(fails("ext.wav", RiffBuilder().format(0xFFFE, 2, 48000, 16).data({1, 2}).bytes));
    EXPECT_TRUE(fails("nodata.wav", RiffBuilder().format(1, 2, 48000, 16).bytes));
    EXPECT_TRUE(fails("empty.wav", RiffBuilder().format(1, 2, 48000, 16).data({}).bytes));
    EXPECT_TRUE(fails("zero.wav", RiffBuilder().format(1, 0, 48000, 16).data({1, 2}).bytes));
    EXPECT_TRUE(fails("rifx.wav", {'R', 'I', 'F', 'X', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}));
    EXPECT_TRUE(fails("short.wav", {'R', 'I', 'F', 'F', 0, 0}));
    ImportedWav imported;
    EXPECT_FALSE(importWav(path("absent.wav"), imported));
    EXPECT_FALSE(importWav(folder_, imported));
    EXPECT_FALSE(importWav("/dev/zero", imported)) << "a device is never read";
}

TEST_F(WavFileTest, ImportOfATruncatedDataChunkEndsAtTheEndOfTheFile) {
    std::vector<uint8_t> bytes =
        RiffBuilder().format(1, 1, 48000, 16).data({1000, 2000, 3000}).bytes;
    bytes.pop_back(); // the last sample loses its high byte, and is no sample any more
    writeBytes(path("cut.wav"), bytes);
    ImportedWav imported;
    ASSERT_TRUE(importWav(path("cut.wav"), imported));
    ASSERT_EQ(imported.frames, 2);
    EXPECT_EQ((*imported.samples)[2], 2000 / 32767.0f);
}

TEST_F(WavFileTest, ImportOfAHugeDeclaredSizeReadsOnlyWhatTheFileHolds) {
    RiffBuilder builder;
    builder.format(1, 2, 48000, 16).chunk("data", 0xFFFFFFFFu, {1, 0, 2, 0, 3, 0, 4, 0});
    writeBytes(path("huge.wav"), builder.bytes);
    ImportedWav imported;
    ASSERT_TRUE(importWav(path("huge.wav"), imported));
    EXPECT_EQ(imported.frames, 2);
    EXPECT_EQ(imported.samples->size(), 4u);
}

TEST_F(WavFileTest, ImportOfAHugeChannelCountOrSkipNeverReadsPastTheFile) {
    writeBytes(path("wide.wav"), RiffBuilder().format(1, 65535, 48000, 16).data({1, 2}).bytes);
    ImportedWav wide;
    ASSERT_TRUE(importWav(path("wide.wav"), wide));
    EXPECT_EQ(wide.frames, 0);
    writeBytes(
        path("skip.wav"),
        RiffBuilder().format(1, 2, 48000, 16).chunk("junk", 0xFFFFFFF0u, {}).data({1, 2}).bytes);
    ImportedWav skipped;
    EXPECT_FALSE(importWav(path("skip.wav"), skipped));
}

} // namespace
} // namespace orvane

namespace orvane {
namespace {

TEST_F(WavFileTest, StreamingAProjectFileReadsWhatDecodingReads) {
    const std::vector<float> tone = testing::makeTone(440.0, 48000.0, 3000, 2);
    ASSERT_TRUE(exportWav(path("clip.wav"), tone.data(), 3000, 2, 48000.0));
    StreamedMedia streamed;
    std::string error;
    ASSERT_TRUE(openStreamedMedia(path("clip.wav"), 48000.0, streamed, &error)) << error;
    DecodedAudio decoded;
    ASSERT_TRUE(readMediaFile(path("clip.wav"), 48000.0, decoded));
    EXPECT_NE(streamed.samples->file(), nullptr);
    EXPECT_EQ(streamed.channels, 2);
    EXPECT_EQ(streamed.frames, 3000);
    EXPECT_EQ(*streamed.samples, *decoded.samples);
}

TEST_F(WavFileTest, StreamingWalksOtherChunksAndEndsATruncatedDataChunkWithTheFile) {
    RiffBuilder padded;
    padded.chunk("LIST", 3, {1, 2, 3, 0}).format(1, 2, 44100, 16).data({100, -100, 7, -7});
    writeBytes(path("padded.wav"), padded.bytes);
    StreamedMedia streamed;
    ASSERT_TRUE(openStreamedMedia(path("padded.wav"), 44100.0, streamed));
    EXPECT_EQ(*streamed.samples,
              (std::vector<float>{100 / 32767.0f, -100 / 32767.0f, 7 / 32767.0f, -7 / 32767.0f}));

    RiffBuilder cut;
    cut.format(1, 2, 44100, 16).chunk("data", 4000, {1, 0, 2, 0, 3, 0, 4, 0, 5, 0});
    writeBytes(path("cut.wav"), cut.bytes);
    ASSERT_TRUE(openStreamedMedia(path("cut.wav"), 44100.0, streamed));
    EXPECT_EQ(streamed.frames, 2) << "only whole frames the file holds";
}

TEST_F(WavFileTest, StreamingRefusesEveryFileItCannotReadAsItPlays) {
    const std::vector<int16_t> four{1, 2, 3, 4};
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"mono", RiffBuilder().format(1, 1, 48000, 16).data(four).bytes});
    cases.push_back({"8-bit", RiffBuilder().format(1, 2, 48000, 8).data(four).bytes});
    cases.push_back({"64-bit float", RiffBuilder().format(3, 2, 48000, 64).data(four).bytes});
    cases.push_back({"other rate", RiffBuilder().format(1, 2, 44100, 16).data(four).bytes});
    cases.push_back({"data first", RiffBuilder().data(four).format(1, 2, 48000, 16).bytes});
    cases.push_back({"no data", RiffBuilder().format(1, 2, 48000, 16).data({}).bytes});
    cases.push_back(
        {"unpadded odd chunk", RiffBuilder().format(1, 2, 48000, 16, 17).data(four).bytes});
    cases.push_back({"not RIFF", std::vector<uint8_t>(64, 'x')});
    cases.push_back({"empty", {}});
    for (const Case &c : cases) {
        writeBytes(path("refused.wav"), c.bytes);
        StreamedMedia streamed;
        std::string error;
        EXPECT_FALSE(openStreamedMedia(path("refused.wav"), 48000.0, streamed, &error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        EXPECT_FALSE(streamed.samples) << c.name;
    }
    std::string error;
    StreamedMedia streamed;
    EXPECT_FALSE(openStreamedMedia(path("missing.wav"), 48000.0, streamed, &error));
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace orvane
