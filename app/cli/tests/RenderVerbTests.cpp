#include "app/cli/RenderVerb.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvane;

TEST(ParseRenderArguments, ReadsEveryOptionInAnyOrder) {
    RenderVerbOptions options;
    std::string error;
    ASSERT_TRUE(parseRenderArguments({"--quiet", "-o", "out.wav", "--channels", "1", "song.halvora",
                                      "--start", "100", "--length", "2000", "--track", "7"},
                                     options, error))
        << error;
    EXPECT_EQ(options.projectFolder, "song.halvora");
    EXPECT_EQ(options.outputPath, "out.wav");
    EXPECT_EQ(options.channels, 1);
    EXPECT_EQ(options.start, 100);
    EXPECT_EQ(options.length, 2000);
    EXPECT_EQ(options.trackId, 7u);
    EXPECT_TRUE(options.quiet);
    EXPECT_FALSE(options.demo);

    ASSERT_TRUE(parseRenderArguments({"--demo", "--output", "x.wav"}, options, error));
    EXPECT_TRUE(options.demo);
    EXPECT_FALSE(options.start.has_value()) << "a second parse starts from the defaults";
    EXPECT_EQ(options.channels, 2);
}

TEST(ParseRenderArguments, HelpNeedsNothingElse) {
    RenderVerbOptions options;
    std::string error;
    EXPECT_TRUE(parseRenderArguments({"--help"}, options, error));
    EXPECT_TRUE(options.help);
}

TEST(ParseRenderArguments, RefusesMalformedValues) {
    const std::vector<std::vector<std::string>> malformed{
        {"p", "-o", "o.wav", "--start", "1e3"},
        {"p", "-o", "o.wav", "--start", ""},
        {"p", "-o", "o.wav", "--length", "99999999999999999999"},
        {"p", "-o", "o.wav", "--track", "0"},
        {"p", "-o", "o.wav", "--track", "-1"},
        {"p", "-o", "o.wav", "--channels", "2.0"},
        {"p", "q", "-o", "o.wav"},
        {"p", "-o"},
    };
    for (const auto &arguments : malformed) {
        RenderVerbOptions options;
        std::string error;
        EXPECT_FALSE(parseRenderArguments(arguments, options, error)) << arguments.back();
        EXPECT_FALSE(error.empty());
    }
}

TEST(RenderSummary, MeasuresPeakAndMidLoudness) {
    // Left and right in opposition cancel in the mid signal but not in the peak.
    const std::vector<float> opposed{0.5f, -0.5f, -0.25f, 0.25f};
    const RenderSummary cancelled = summariseRender(opposed, 2, 48000.0);
    EXPECT_EQ(cancelled.frames, 2);
    EXPECT_FLOAT_EQ(cancelled.peak, 0.5f);
    EXPECT_DOUBLE_EQ(cancelled.meanSquare, 0.0);

    const std::vector<float> mono{0.5f, -0.5f, 0.5f, -0.5f};
    const RenderSummary square = summariseRender(mono, 1, 44100.0);
    EXPECT_EQ(square.frames, 4);
    EXPECT_DOUBLE_EQ(square.meanSquare, 0.25);
    const std::string line = describeRenderSummary(square, "x.wav");
    EXPECT_NE(line.find("rendered 4 frames"), std::string::npos) << line;
    EXPECT_NE(line.find("1 channel)"), std::string::npos) << line;
    EXPECT_NE(line.find("peak -6.02 dBFS, loudness -6.02 dBFS RMS"), std::string::npos) << line;
    EXPECT_NE(describeRenderSummary(cancelled, "x.wav").find("loudness -inf"), std::string::npos);
}

TEST(ParseRenderArguments, ReadsTheExportFormat) {
    RenderVerbOptions options;
    std::string error;
    ASSERT_TRUE(parseRenderArguments({"--demo", "-o", "x.flac", "--format", "flac", "--bits", "24",
                                      "--rate", "88.2", "--dither", "off", "--normalize",
                                      "lufs:-23:-2", "--stems", "stems"},
                                     options, error))
        << error;
    EXPECT_EQ(options.format.container, ExportContainer::Flac);
    EXPECT_EQ(options.format.bits, 24);
    EXPECT_EQ(options.format.sampleRate, 88200.0);
    EXPECT_FALSE(options.format.dither);
    EXPECT_EQ(options.normalization.mode, NormalizeMode::Loudness);
    EXPECT_EQ(options.normalization.target, -23.0);
    EXPECT_EQ(options.normalization.ceilingDb, -2.0);
    EXPECT_EQ(options.stemsFolder, "stems");

    // Stems alone need no -o; a lossy format needs no depth.
    ASSERT_TRUE(parseRenderArguments(
        {"--demo", "--stems", "s", "--format", "mp3", "--quality", "0.2"}, options, error))
        << error;
    EXPECT_EQ(options.format.container, ExportContainer::Mp3);
    EXPECT_TRUE(options.format.dither) << "dither is on unless turned off";
    EXPECT_EQ(options.format.quality, 0.2);
}

TEST(ParseRenderArguments, RefusesExportFormatsThatCannotBeWritten) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused{
        {{"--demo", "-o", "x", "--format", "aiff"}, "--format takes"},
        {{"--demo", "-o", "x", "--bits", "8"}, "--bits takes"},
        {{"--demo", "-o", "x", "--format", "flac", "--bits", "32"}, "FLAC is written with"},
        {{"--demo", "-o", "x", "--format", "mp3", "--bits", "16"}, "--bits applies to"},
        {{"--demo", "-o", "x", "--format", "mp3", "--rate", "96000"}, "MP3 is written at"},
        {{"--demo", "-o", "x", "--rate", "22050"}, "--rate takes"},
        {{"--demo", "-o", "x", "--dither", "yes"}, "--dither takes"},
        {{"--demo", "-o", "x", "--quality", "2"}, "--quality takes"},
        {{"--demo", "-o", "x", "--normalize", "lufs:loud"}, "--normalize takes"},
        {{"--demo", "--format", "flac"}, "no output file"},
    };
    for (const auto &[arguments, message] : refused) {
        RenderVerbOptions options;
        std::string error;
        EXPECT_FALSE(parseRenderArguments(arguments, options, error)) << message;
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}

TEST(RenderSummary, NamesTheMeasuredLoudnessAndTruePeak) {
    RenderSummary summary = summariseRender({0.5f, 0.5f}, 2, 48000.0);
    summary.loudness = LoudnessFigures{-14.004, -1.2345, -1.5};
    const std::string line = describeRenderSummary(summary, "x.wav");
    EXPECT_NE(line.find("integrated -14.00 LUFS, true peak -1.23 dBTP"), std::string::npos) << line;
}
