#include "app/cli/tests/RunProgram.h"
#include "app/shell/DocumentOperations.h"
#include "app/shell/SessionState.h"
#include "app/shell/tests/ApplicationTestSupport.h"
#include "core/project_io/ProjectFolder.h"
#include "tests/support/JackServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

/// `Halvora --headless` with a pipe on standard input and one on standard output; with
/// `addressSpaceKiB`, started through a shell that first limits its address space.
class HeadlessProgram {
  public:
    HeadlessProgram(const std::vector<std::string> &arguments, const fs::path &errorsFile,
                    long addressSpaceKiB = 0) {
        int input[2], output[2];
        if (::pipe(input) != 0 || ::pipe(output) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorsFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addclose(&actions, input[1]);
        posix_spawn_file_actions_addclose(&actions, output[0]);
        std::vector<std::string> all = {HALVORA_EXECUTABLE, "--headless"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::string program = HALVORA_EXECUTABLE;
        if (addressSpaceKiB > 0) {
            program = "/bin/sh";
            all.insert(all.begin(),
                       {program, "-c",
                        "ulimit -v " + std::to_string(addressSpaceKiB) + " && exec \"$0\" \"$@\""});
        }
        std::vector<char *> argv;
        for (auto &argument : all)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(output[1]);
        toProgram = input[1];
        fromProgram = output[0];
    }
    ~HeadlessProgram() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        closeInput();
        if (fromProgram >= 0) ::close(fromProgram);
    }

    bool started() const { return pid > 0; }
    void send(const std::string &lines) {
        ASSERT_EQ(::write(toProgram, lines.data(), lines.size()),
                  static_cast<ssize_t>(lines.size()));
    }
    /// Reads until `text` has appeared `count` times; false when the program ended first.
    bool waitFor(const std::string &text, int count = 1) {
        while (occurrences(text) < count)
            if (!readSome()) return false;
        return true;
    }
    /// Closes standard input and waits for the program to exit; its exit status.
    int finish() {
        closeInput();
        if (pid <= 0) return -1;
        while (readSome()) {
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void killHard() {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
    const std::string &output() const { return printed; }

  private:
    int occurrences(const std::string &text) const {
        int found = 0;
        for (auto at = printed.find(text); at != std::string::npos;
             at = printed.find(text, at + text.size()))
            ++found;
        return found;
    }
    bool readSome() {
        // A generous bound so that a hung program fails the test instead of the run.
        pollfd entry{fromProgram, POLLIN, 0};
        if (::poll(&entry, 1, 120000) <= 0) return false;
        char buffer[4096];
        const ssize_t got = ::read(fromProgram, buffer, sizeof buffer);
        if (got <= 0) return false;
        printed.append(buffer, static_cast<std::size_t>(got));
        return true;
    }
    void closeInput() {
        if (toProgram >= 0) ::close(toProgram);
        toProgram = -1;
    }

    pid_t pid = -1;
    int toProgram = -1;
    int fromProgram = -1;
    std::string printed;
};

std::string readText(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> trackNamesOf(const Project &project) {
    std::vector<std::string> names;
    for (const auto &track : project.tracks)
        names.push_back(track->name);
    return names;
}

TEST(HeadlessEndToEnd, EditsAndSavesAProjectWhilePlayingOnAJackServer) {
    TemporaryHome home("headless-jack");
    JackServer server(256, 48000);
    ASSERT_TRUE(server.ready()) << server.failure();
    home.rememberOutputDevice("JACK");

    Project song = buildStartupProject(48000.0);
    song.name = "Ballad";
    const fs::path folder = home.root() / "ballad.halvora";
    ASSERT_TRUE(project_io::saveProject(song, folder.string(), false).ok);

    HeadlessProgram program({folder.string()}, home.root() / "errors.txt");
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.waitFor("Открыт: Ballad"))
        << program.output() << readText(home.root() / "errors.txt");
    program.send("play\nadd-track Гитара\nundo\nredo\nstop\nsave\nquit\n");
    EXPECT_EQ(program.finish(), 0) << readText(home.root() / "errors.txt");
    const std::string &printed = program.output();
    EXPECT_EQ(printed.rfind("48000 Hz JACK→JACK\n", 0), 0u) << printed;
    for (const char *status :
         {"Отмена: Добавить дорожку\n", "Повтор: Добавить дорожку\n", "Проект сохранён\n"})
        EXPECT_NE(printed.find(status), std::string::npos) << status << " in " << printed;
    EXPECT_EQ(printed.find("error"), std::string::npos) << printed;

    const auto saved = project_io::loadProject(folder.string());
    ASSERT_TRUE(saved);
    EXPECT_EQ(trackNamesOf(*saved),
              (std::vector<std::string>{"MIDI 1", "Аудио 1", "Reverb A", "Delay B", "Гитара"}));
    // Saved again untouched, the document comes out byte for byte the same.
    Project again = *saved;
    ASSERT_TRUE(project_io::saveProject(again, (home.root() / "again.halvora").string(), false).ok);
    EXPECT_EQ(readText(home.root() / "again.halvora" / "project.json"),
              readText(folder / "project.json"));
    EXPECT_EQ(invalidLogLines(halvoraLogDir()), std::vector<std::string>{});
    EXPECT_FALSE(recoverySnapshotExists());
}

TEST(HeadlessEndToEnd, OffersTheAutosaveAfterTheProcessWasKilled) {
    TemporaryHome home("headless-crash");
    const fs::path errors = home.root() / "errors.txt";
    {
        HeadlessProgram first({}, errors);
        ASSERT_TRUE(first.waitFor("Hz Null→Null\n")) << readText(errors);
        first.send("add-track Спасти\nautosave\nstatus\n");
        ASSERT_TRUE(first.waitFor("Hz Null→Null\n", 2)) << first.output();
        first.killHard();
    }
    const fs::path recovered = home.root() / "recovered.halvora";
    {
        HeadlessProgram second({}, errors);
        second.send("Восстановить\nsave-as " + recovered.string() + "\nquit\n");
        EXPECT_EQ(second.finish(), 0) << readText(errors);
        const std::string &printed = second.output();
        EXPECT_NE(printed.find("? Восстановить проект? Обнаружено аварийное завершение. "
                               "Восстановить «Untitled»? [1 Восстановить / 2 Начать заново]"),
                  std::string::npos)
            << printed;
        EXPECT_NE(printed.find("Восстановлено: Untitled\nПроект сохранён\n"), std::string::npos)
            << printed;
    }
    const auto saved = project_io::loadProject(recovered.string());
    ASSERT_TRUE(saved);
    EXPECT_EQ(trackNamesOf(*saved).back(), "Спасти");
    {
        HeadlessProgram third({}, errors);
        third.send("quit\n");
        EXPECT_EQ(third.finish(), 0);
        EXPECT_EQ(third.output().find('?'), std::string::npos) << third.output();
    }
    EXPECT_EQ(invalidLogLines(halvoraLogDir()), std::vector<std::string>{});
}

TEST(HeadlessEndToEnd, AProjectThatCannotBeOpenedEndsTheRun) {
    TemporaryHome home("headless-missing");
    HeadlessProgram program({(home.root() / "missing.halvora").string()},
                            home.root() / "errors.txt");
    EXPECT_EQ(program.finish(), 1);
    EXPECT_NE(program.output().find("Не удалось открыть проект: "), std::string::npos)
        << program.output();
    EXPECT_TRUE(readSessionMeta().cleanShutdown);
}

} // namespace

namespace {

/// A 16-bit stereo WAV file whose header promises `frames` frames of silence, written sparse
/// so that it takes no room on disk.
void writeSparseWav(const fs::path &path, uint32_t frames) {
    const uint32_t dataBytes = frames * 4;
    std::ofstream out(path, std::ios::binary);
    const auto put32 = [&out](uint32_t value) { out.write(reinterpret_cast<char *>(&value), 4); };
    const auto put16 = [&out](uint16_t value) { out.write(reinterpret_cast<char *>(&value), 2); };
    out.write("RIFF", 4);
    put32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    put32(16);
    put16(1);
    put16(2);
    put32(48000);
    put32(48000 * 4);
    put16(4);
    put16(16);
    out.write("data", 4);
    put32(dataBytes);
    out.close();
    fs::resize_file(path, 44 + static_cast<uintmax_t>(dataBytes));
}

} // namespace

TEST(HeadlessEndToEnd, RunningOutOfMemoryIsAMessageAndTheDocumentStays) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer reserves terabytes of shadow memory at start, which no address-space limit
    // that makes a big import fail leaves room for.
    GTEST_SKIP() << "an address-space limit cannot be set under a sanitizer";
#endif
    TemporaryHome home("headless-memory");
    home.rememberOutputDevice("Null");
    Project song = buildStartupProject(48000.0);
    song.name = "Small";
    const fs::path folder = home.root() / "small.halvora";
    ASSERT_TRUE(project_io::saveProject(song, folder.string(), false).ok);
    const std::vector<std::string> tracksBefore = trackNamesOf(song);
    // Decoded as floats this is 3.2 GB, three times what the process may map.
    const fs::path big = home.root() / "BIG.wav";
    writeSparseWav(big, 400'000'000);
    const fs::path copy = home.root() / "after.halvora";

    const fs::path errors = home.root() / "errors.txt";
    HeadlessProgram program({folder.string()}, errors, 1024L * 1024L);
    ASSERT_TRUE(program.started());
    program.send("import " + big.string() + "\nsave-as " + copy.string() + "\nquit\n");
    EXPECT_EQ(program.finish(), 0) << program.output() << readText(errors);
    EXPECT_NE(program.output().find("BIG.wav: Недостаточно памяти\n"), std::string::npos)
        << program.output();
    EXPECT_NE(program.output().find("Проект сохранён\n"), std::string::npos) << program.output();
    const auto saved = project_io::loadProject(copy.string());
    ASSERT_TRUE(saved);
    EXPECT_EQ(trackNamesOf(*saved), tracksBefore);
}

TEST(HeadlessEndToEnd, AnAcceptedRecoveryIsNotReplacedByTheNamedProjectUnasked) {
    TemporaryHome home("headless-recovery-first");
    home.rememberOutputDevice("Null");
    const fs::path errors = home.root() / "errors.txt";
    const fs::path song = home.root() / "song.halvora";
    {
        HeadlessProgram first({}, errors);
        first.send("save-as " + song.string() + "\nadd-track Precious\nautosave\nstatus\n");
        // "status" answers once the autosave before it is written.
        ASSERT_TRUE(first.waitFor("Проект сохранён\n", 2)) << first.output() << readText(errors);
        first.killHard();
    }
    const fs::path kept = home.root() / "kept.halvora";
    HeadlessProgram second({song.string()}, errors);
    second.send("Восстановить\nОтмена\nsave-as " + kept.string() + "\nquit\n");
    EXPECT_EQ(second.finish(), 0) << readText(errors);
    EXPECT_NE(second.output().find("? Открыть проект? "), std::string::npos) << second.output();
    const auto saved = project_io::loadProject(kept.string());
    ASSERT_TRUE(saved) << second.output();
    EXPECT_EQ(trackNamesOf(*saved).back(), "Precious");
}

TEST(HeadlessEndToEnd, NamesReachTheTerminalEscapedAndOverlongLinesAreDropped) {
    TemporaryHome home("headless-terminal");
    home.rememberOutputDevice("Null");
    Project song = buildStartupProject(48000.0);
    song.name = "x\x1b]0;owned\x07";
    const fs::path folder = home.root() / "named.halvora";
    ASSERT_TRUE(project_io::saveProject(song, folder.string(), false).ok);
    const fs::path errors = home.root() / "errors.txt";
    HeadlessProgram program({folder.string()}, errors);
    ASSERT_TRUE(program.started());
    const std::string hostileFile = (home.root() / "a\x1b[31mb.wav").string();
    program.send("import " + hostileFile + "\n" + std::string(3 << 20, 'B') +
                 "\nnope\x1b[2J\nstatus\nquit\n");
    EXPECT_EQ(program.finish(), 0) << readText(errors);
    const std::string &printed = program.output();
    EXPECT_EQ(printed.find('\x1b'), std::string::npos) << printed;
    EXPECT_EQ(printed.find('\x07'), std::string::npos) << printed;
    EXPECT_NE(printed.find("Открыт: x\\x1b]0;owned\\x07\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("error: a line longer than 1048576 bytes was ignored\n"),
              std::string::npos)
        << printed;
    EXPECT_NE(printed.find("error: unknown operation \"nope\\x1b[2J\""), std::string::npos)
        << printed;
    EXPECT_LT(printed.size(), 4096u) << "the long line is not echoed";

    const auto analysed = runHalvora({"analyze", hostileFile}, home.root());
    EXPECT_EQ(analysed.exitStatus, 1);
    EXPECT_EQ(analysed.errors.find('\x1b'), std::string::npos) << analysed.errors;
    EXPECT_NE(analysed.errors.find("a\\x1b[31mb.wav"), std::string::npos) << analysed.errors;
}

namespace {

std::vector<std::string> savedTrackNames(const fs::path &folder) {
    const auto saved = project_io::loadProject(folder.string());
    return saved ? trackNamesOf(*saved) : std::vector<std::string>{};
}

} // namespace

TEST(HeadlessEndToEnd, StatusLinesAndNewNamesFollowTheLanguageAndThePreferenceOverridesIt) {
    struct Case {
        const char *label;
        std::optional<std::string> languageVariable; // LANGUAGE for the program
        const char *preference;                      // "hv.language" in the settings file
        const char *saved;
        const char *firstAudioTrack;
        const char *addedTrack;
    };
    const Case cases[] = {
        {"ru-locale", "ru", "", "Проект сохранён\n", "Аудио 1", "Аудио"},
        {"en-locale", "en_GB", "", "Project saved\n", "Audio 1", "Audio"},
        {"no-locale", std::nullopt, "", "Project saved\n", "Audio 1", "Audio"},
        {"en-preferred", "ru", "hv.language=en\n", "Project saved\n", "Audio 1", "Audio"},
        {"ru-preferred", "en", "hv.language=ru\n", "Проект сохранён\n", "Аудио 1", "Аудио"},
    };
    for (const Case &c : cases) {
        TemporaryHome home(std::string("headless-") + c.label);
        home.rememberOutputDevice("Null");
        std::ofstream(home.root() / "config" / "Halvora" / "settings.ini", std::ios::app)
            << c.preference;
        const ScopedEnvironment language("LANGUAGE", c.languageVariable);
        const ScopedEnvironment lang("LANG", std::optional<std::string>("C.UTF-8"));
        const ScopedEnvironment all("LC_ALL", std::nullopt);
        const ScopedEnvironment messages("LC_MESSAGES", std::nullopt);
        const fs::path errors = home.root() / "errors.txt";
        const fs::path folder = home.root() / "song.halvora";

        HeadlessProgram program({}, errors);
        ASSERT_TRUE(program.waitFor("Hz Null→Null\n")) << c.label << readText(errors);
        program.send("add-track\nsave-as " + folder.string() + "\nquit\n");
        EXPECT_EQ(program.finish(), 0) << c.label << readText(errors);
        EXPECT_NE(program.output().find(c.saved), std::string::npos)
            << c.label << ": " << program.output();
        EXPECT_EQ(savedTrackNames(folder),
                  (std::vector<std::string>{"MIDI 1", c.firstAudioTrack, "Reverb A", "Delay B",
                                            c.addedTrack}))
            << c.label;
    }
}

TEST(HeadlessEndToEnd, TheHelpStaysEnglishInARussianLocale) {
    const fs::path scratch = makeScratchFolder("headless-help-language");
    const ScopedEnvironment language("LANGUAGE", std::optional<std::string>("ru"));
    const ProgramRun help = runHalvora({"--headless", "--help"}, scratch);
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.output.rfind("usage: Halvora --headless", 0), 0u) << help.output;
    EXPECT_EQ(help.output.find("\xD0"), std::string::npos) << "no Cyrillic: " << help.output;
}
