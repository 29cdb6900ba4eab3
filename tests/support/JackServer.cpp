#include "tests/support/JackServer.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace orvane::testing {

namespace {

/// The null-terminated argument vector exec wants, pointing into `words`.
std::vector<char *> argumentVector(std::vector<std::string> &words) {
    std::vector<char *> argv;
    for (auto &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    return argv;
}

pid_t spawnTool(const std::vector<std::string> &arguments, const std::string &logFile) {
    std::vector<std::string> words = arguments;
    const std::vector<char *> argv = argumentVector(words);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const char *target = logFile.empty() ? "/dev/null" : logFile.c_str();
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, target, O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t child = -1;
    const int failed = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? child : -1;
}

/// Like `spawnTool`, but the server is told to stop (SIGTERM, so that it leaves the server
/// registry clean) when the test process dies without reaching the fixture's destructor.
pid_t spawnServer(const std::vector<std::string> &arguments, const std::string &logFile) {
    std::vector<std::string> words = arguments;
    const std::vector<char *> argv = argumentVector(words);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child != 0) return child;
    // Only async-signal-safe calls between fork and exec.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    const int input = ::open("/dev/null", O_RDONLY);
    const int output = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (input < 0 || output < 0) ::_exit(127);
    ::dup2(input, 0);
    ::dup2(output, 1);
    ::dup2(output, 2);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

int waitForExit(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string uniqueServerName() {
    static std::atomic<int> counter{0};
    return "halvora_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
}

} // namespace

int runTool(const std::vector<std::string> &arguments, const std::string &logFile) {
    const pid_t child = spawnTool(arguments, logFile);
    return child < 0 ? -1 : waitForExit(child);
}

bool realtimeSchedulingAllowed() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0) return true;
    // Without an rtprio limit only a privileged process may; ask the kernel on a throwaway
    // thread rather than guessing from the user id.
    bool allowed = false;
    std::thread probe([&allowed] {
        sched_param priority{};
        priority.sched_priority = 1;
        allowed = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &priority) == 0;
    });
    probe.join();
    return allowed;
}

// Clients of this process find this server, and none is started behind the test's back; the
// previous choice comes back when the server goes.
void JackServer::becomeDefaultServer() {
    logPath = (std::filesystem::temp_directory_path() / (serverName + ".log")).string();
    std::filesystem::remove(logPath);
    if (const char *previous = std::getenv("JACK_DEFAULT_SERVER")) {
        previousServer = previous;
        hadPreviousServer = true;
    }
    ::setenv("JACK_NO_START_SERVER", "1", 1);
    ::setenv("JACK_DEFAULT_SERVER", serverName.c_str(), 1);
}

JackServer::JackServer(int32_t periodFrames, int32_t sampleRate, bool synchronous,
                       bool realtime)
    : serverName(uniqueServerName()) {
    becomeDefaultServer();
    std::vector<std::string> command{"jackd", realtime ? "--realtime" : "--no-realtime", "--name",
                                     serverName};
    if (synchronous) command.push_back("-S");
    for (const std::string word : {"-d", "dummy", "-r"})
        command.push_back(word);
    for (const std::string &word :
         {std::to_string(sampleRate), std::string("-p"), std::to_string(periodFrames),
          std::string("-C"), std::string("2"), std::string("-P"), std::string("2")})
        command.push_back(word);
    launch(command);
}

JackServer::JackServer(const std::vector<std::string> &driverArguments)
    : serverName(uniqueServerName()) {
    becomeDefaultServer();
    std::vector<std::string> command{"jackd", "--no-realtime", "--name", serverName, "-d"};
    command.insert(command.end(), driverArguments.begin(), driverArguments.end());
    launch(command);
}

void JackServer::launch(const std::vector<std::string> &command) {
    // Servers starting side by side (tests run in parallel) now and then contend for the
    // machine-wide registry and never answer; a second start settles it.
    for (int attempt = 0; attempt < 3 && !isReady; ++attempt) {
        if (attempt > 0) end(SIGTERM);
        pid = spawnServer(command, logPath);
        if (pid < 0) return;
        isReady = runTool({"jack_wait", "-s", serverName, "-w", "-t", "10"}, logPath) == 0;
    }
}

JackServer::~JackServer() {
    stop();
    if (hadPreviousServer)
        ::setenv("JACK_DEFAULT_SERVER", previousServer.c_str(), 1);
    else
        ::unsetenv("JACK_DEFAULT_SERVER");
    std::error_code ignored;
    std::filesystem::remove(logPath, ignored);
}

std::string JackServer::failure() const {
    std::ifstream log(logPath);
    const std::string text{std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()};
    return (pid < 0 ? "jackd could not be started" : "jackd did not become ready") +
           std::string(":\n") + text;
}

bool JackServer::setPeriod(int32_t frames) {
    return isReady && runTool({"jack_bufsize", std::to_string(frames)}, logPath) == 0;
}

void JackServer::kill() {
    if (pid < 0) return;
    end(SIGKILL);
    // A killed server leaves its entry in the machine-wide server registry, which has room
    // for eight; only a server of the same name reclaims it. Start one and stop it politely.
    pid = spawnServer({"jackd", "--no-realtime", "--name", serverName, "-d", "dummy"}, logPath);
    if (pid < 0) return;
    runTool({"jack_wait", "-s", serverName, "-w", "-t", "10"}, logPath);
    end(SIGTERM);
}

void JackServer::stop() { end(SIGTERM); }

void JackServer::end(int signal) {
    if (pid < 0) return;
    ::kill(pid, signal);
    waitForExit(pid);
    pid = -1;
    isReady = false;
}

} // namespace orvane::testing
