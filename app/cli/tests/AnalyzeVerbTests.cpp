#include "app/cli/AnalyzeVerb.h"
#include "core/audiofile/AudioFile.h"
#include "core/music/tests/AudioSignals.h"
#include "core/project_io/JsonReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <unistd.h>

namespace orvane {
namespace {

namespace fs = std::filesystem;
constexpr double rate = 44100.0;

struct CommandRun {
    int status = -1;
    std::string output;
    std::string errors;
};

std::string readAll(std::FILE *stream) {
    std::rewind(stream);
    std::string text;
    char buffer[4096];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, stream))
        text.append(buffer, count);
    return text;
}

CommandRun analyze(const std::vector<std::string> &arguments) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE *)> output(std::tmpfile(), std::fclose);
    const std::unique_ptr<std::FILE, int (*)(std::FILE *)> errors(std::tmpfile(), std::fclose);
    CommandRun run;
    run.status = runAnalyzeVerb(arguments, output.get(), errors.get());
    run.output = readAll(output.get());
    run.errors = readAll(errors.get());
    return run;
}

class AnalyzeCommand : public ::testing::Test {
  protected:
    fs::path folder = fs::temp_directory_path() / ("halvora_analyze_" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(folder); }
    void TearDown() override { fs::remove_all(folder); }

    std::string write(const std::string &name, const std::vector<float> &stereo) {
        const std::string path = (folder / name).string();
        EXPECT_TRUE(exportWav(path, stereo.data(), static_cast<int>(stereo.size() / 2), 2, rate));
        return path;
    }
};

TEST_F(AnalyzeCommand, PrintsTheTempoAndTheFundamentalOfAFile) {
    const auto clicks = write("clicks.wav", testing::clickTrack(120.0, 20.0, rate, 2));
    const auto run = analyze({clicks});
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.output.find("tempo: 120.0 BPM\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("sample rate: 44100 Hz"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("  frame 22050 (0.500 s)\n"), std::string::npos) << run.output;

    const auto tone = write("tone.wav", testing::sine(441.0, 44100, rate, 2));
    const auto toneRun = analyze({tone});
    EXPECT_NE(toneRun.output.find("fundamental: 441.0 Hz\n"), std::string::npos) << toneRun.output;
    EXPECT_NE(toneRun.output.find("transients: "), std::string::npos) << toneRun.output;

    const auto silence = write("silence.wav", std::vector<float>(2 * 20000, 0.0f));
    const auto silentRun = analyze({silence});
    EXPECT_NE(silentRun.output.find("tempo: none\nfundamental: none\nonset: none\ntransients: 0\n"),
              std::string::npos)
        << silentRun.output;
}

TEST_F(AnalyzeCommand, JsonCarriesWhatTheDetectorsFindInTheFile) {
    const auto path = write("clicks.wav", testing::clickTrack(150.0, 20.0, rate, 2));
    const auto run = analyze({path, "--json"});
    ASSERT_EQ(run.status, 0) << run.errors;
    project_io::Parser parser(run.output);
    const auto document = parser.parseValue();
    ASSERT_TRUE(parser.error().empty()) << run.output;
    ASSERT_TRUE(document.isObject());
    EXPECT_EQ(document.find("file")->string, path);
    EXPECT_NEAR(document.find("tempoBpm")->number, 150.0, 1.0);

    ImportedWav wav;
    ASSERT_TRUE(importWav(path, wav));
    const auto report = analyseAudio(*wav.samples, 2, rate);
    const auto &transients = document.find("transients")->elements;
    ASSERT_EQ(transients.size(), report.transients.size());
    ASSERT_GE(transients.size(), 2u);
    for (std::size_t i = 0; i < transients.size(); ++i)
        EXPECT_EQ(static_cast<int64_t>(transients[i].number), report.transients[i]);
    EXPECT_EQ(static_cast<int64_t>(transients[0].number), testing::clickFrame(150.0, 1, rate));
    EXPECT_EQ(static_cast<int64_t>(document.find("onsetFrame")->number), report.onsetFrame);
    EXPECT_TRUE(document.find("fundamentalHz")->isNull() || report.fundamentalHz > 0.0);
}

TEST_F(AnalyzeCommand, RefusesWhatItCannotReadOrUnderstand) {
    const auto missing = analyze({(folder / "missing.wav").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.errors.find("cannot read"), std::string::npos) << missing.errors;
    EXPECT_TRUE(missing.output.empty());
    EXPECT_EQ(analyze({}).status, 2);
    EXPECT_EQ(analyze({"a.wav", "--tempo"}).status, 2);
    EXPECT_EQ(analyze({"a.wav", "b.wav"}).status, 2);
    const auto help = analyze({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("usage: Halvora analyze"), std::string::npos);
}

} // namespace
} // namespace orvane
