#include "app/cli/tests/RunProgram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace orvane::testing {

namespace fs = std::filesystem;

namespace {

std::string readWholeFile(const fs::path &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

uint32_t readLittleEndian(const std::string &bytes, std::size_t at, std::size_t width) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

} // namespace

RunningProgram startHalvora(const std::vector<std::string> &arguments,
                            const fs::path &scratchFolder, const std::string &input) {
    const fs::path inputFile = scratchFolder / "stdin.txt";
    if (!input.empty()) std::ofstream(inputFile, std::ios::binary | std::ios::trunc) << input;
    const fs::path outputFile = scratchFolder / "stdout.txt";
    const fs::path errorFile = scratchFolder / "stderr.txt";
    std::vector<std::string> words{HALVORA_EXECUTABLE};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (auto &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.empty() ? "/dev/null" : inputFile.c_str(),
                                     O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t child = 0;
    RunningProgram program{-1, scratchFolder};
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned == 0) program.pid = child;
    return program;
}

ProgramRun finishHalvora(const RunningProgram &program) {
    ProgramRun run;
    if (program.pid < 0) {
        run.errors = "the program did not start";
        return run;
    }
    int status = 0;
    while (waitpid(program.pid, &status, 0) < 0) {
    }
    if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    run.output = readWholeFile(program.scratchFolder / "stdout.txt");
    run.errors = readWholeFile(program.scratchFolder / "stderr.txt");
    return run;
}

ProgramRun runHalvora(const std::vector<std::string> &arguments, const fs::path &scratchFolder,
                      const std::string &input) {
    return finishHalvora(startHalvora(arguments, scratchFolder, input));
}

fs::path makeScratchFolder(const std::string &name) {
    const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
    fs::path folder = fs::path(::testing::TempDir()) /
                      ("halvora_app_" + std::to_string(::getpid()) + "_" +
                       (test ? std::string(test->name()) : std::string("none")) + "_" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

WrittenWav readWrittenWav(const fs::path &path) {
    const std::string bytes = readWholeFile(path);
    WrittenWav wav;
    if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        return wav;
    wav.channels = static_cast<int32_t>(readLittleEndian(bytes, 22, 2));
    wav.sampleRate = readLittleEndian(bytes, 24, 4);
    const uint32_t dataBytes = readLittleEndian(bytes, 40, 4);
    if (bytes.size() != 44u + dataBytes || readLittleEndian(bytes, 34, 2) != 16) return wav;
    wav.samples.resize(dataBytes / 2);
    std::memcpy(wav.samples.data(), bytes.data() + 44, dataBytes);
    wav.valid = true;
    return wav;
}

std::shared_ptr<std::vector<float>> stereoTone(double frequency, int64_t frames, float level,
                                               double sampleRate) {
    auto samples = std::make_shared<std::vector<float>>(static_cast<std::size_t>(frames) * 2);
    for (int64_t frame = 0; frame < frames; ++frame) {
        const double phase = 2.0 * std::numbers::pi * frequency * frame / sampleRate;
        (*samples)[2 * frame] = level * static_cast<float>(std::sin(phase));
        (*samples)[2 * frame + 1] = level * static_cast<float>(std::cos(1.01 * phase));
    }
    return samples;
}

} // namespace orvane::testing
