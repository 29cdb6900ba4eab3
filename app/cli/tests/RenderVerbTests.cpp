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
