#include "core/plugins/sandbox/PluginSandboxController.h"

#include "core/plugins/sandbox/SandboxProtocol.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace orvane::vst {

namespace fs = std::filesystem;

namespace {

constexpr const char *helperName = "HalvoraVstHelper";
constexpr int listenAttempts = 40;
constexpr auto listenAttemptInterval = std::chrono::milliseconds(25);
constexpr auto quitGracePeriod = std::chrono::seconds(2);
constexpr auto exitPollInterval = std::chrono::milliseconds(5);
// A Unix-domain address holds 108 bytes; longer paths would be cut and bind somewhere else.
constexpr size_t longestSocketPath = 103;

void removeFile(const std::string &path) {
    if (path.empty()) return;
    std::error_code ignored;
    fs::remove(path, ignored);
}

/// The private folder made when the runtime folder is missing; removed when the process ends.
struct PrivateSocketFolder {
    std::string path;
    PrivateSocketFolder() {
        char pattern[] = "/tmp/halvora-XXXXXX";
        if (mkdtemp(pattern) != nullptr) path = pattern;
    }
    ~PrivateSocketFolder() {
        std::error_code ignored;
        if (!path.empty()) fs::remove_all(path, ignored);
    }
};

bool isPrivateFolder(const std::string &folder) {
    struct stat info {};
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 077) == 0;
}

// Reaps the process when it has exited. A crashed helper stays a zombie until reaped, and a
// zombie still answers signal 0, so existence alone cannot tell a dead helper from a live one.
bool reapIfExited(HelperProcess &helper) {
    if (helper.pid < 1) return true;
    int status = 0;
    pid_t result = waitpid(helper.pid, &status, WNOHANG);
    if (result == helper.pid || (result < 0 && errno == ECHILD)) {
        helper.pid = -1;
        return true;
    }
    return false;
}

bool waitForExit(HelperProcess &helper, std::chrono::milliseconds grace) {
    auto until = std::chrono::steady_clock::now() + grace;
    while (!reapIfExited(helper)) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(exitPollInterval);
    }
    return true;
}

void terminateHelper(HelperProcess &helper) {
    if (reapIfExited(helper)) return;
    kill(helper.pid, SIGTERM);
    // A stopped process only acts on the termination once it runs again.
    kill(helper.pid, SIGCONT);
    if (waitForExit(helper, quitGracePeriod)) return;
    kill(helper.pid, SIGKILL);
    waitpid(helper.pid, nullptr, 0);
    helper.pid = -1;
}

void askToQuit(HelperProcess &helper) {
    if (reapIfExited(helper)) return;
    int fd = connectToSocket(helper.socketPath);
    if (fd < 0) return;
    (void)oopWriteLine(fd, "QUIT"); // unheard, the wait below ends in a kill
    close(fd);
    waitForExit(helper, quitGracePeriod);
}

bool spawnHelper(const std::string &program, const std::string &socketPath, pid_t &pid) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Other plug-ins' connections must not live on in this helper, or their helpers would never
    // see those connections close.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // Plug-ins print as they please; whatever the application writes to its own output must
    // not be mixed with that.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char *arguments[] = {const_cast<char *>(program.c_str()),
                         const_cast<char *>(socketPath.c_str()), nullptr};
    int result = posix_spawn(&pid, program.c_str(), &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0;
}

bool waitUntilListening(HelperProcess &helper) {
    for (int attempt = 0; attempt < listenAttempts; ++attempt) {
        std::this_thread::sleep_for(listenAttemptInterval);
        int fd = connectToSocket(helper.socketPath);
        if (fd >= 0) {
            close(fd);
            return true;
        }
        if (reapIfExited(helper)) return false;
    }
    return false;
}

} // namespace

std::string sandboxSocketFolder() {
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR")) {
        std::string folder = runtime;
        if (!folder.empty() && folder.size() < longestSocketPath - 40 && isPrivateFolder(folder))
            return folder;
    }
    static PrivateSocketFolder privateFolder;
    return privateFolder.path;
}

std::string nextHelperSocketPath() {
    static std::atomic<int> helpersNamed{0};
    std::string folder = sandboxSocketFolder();
    if (folder.empty()) return {};
    int index = helpersNamed.fetch_add(1);
    std::string name = "halvora_vst_" + std::to_string(getpid());
    if (index > 0) name += "_" + std::to_string(index);
    return folder + "/" + name + ".sock";
}

std::string findHelperProgram(const std::string &folder) {
    std::error_code error;
    for (fs::path candidate : {fs::path(folder) / helperName,
                               fs::path(folder) / ".." / "libexec" / "halvora" / helperName}) {
        if (fs::is_regular_file(candidate, error)) return fs::weakly_canonical(candidate, error);
    }
    return {};
}

std::string executableFolder() {
    std::error_code error;
    fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error || executable.empty()) return {};
    return executable.parent_path().string();
}

bool helperProcessExists(int32_t pid) { return pid >= 1 && kill(pid, 0) == 0; }

bool helperExitedWithin(HelperProcess &helper, std::chrono::milliseconds grace) {
    return waitForExit(helper, grace);
}

bool startHelperProcess(const std::string &program, const std::string &socketPath,
                        HelperProcess &helper, std::string &errorText) {
    helper.socketPath = socketPath;
    removeFile(socketPath);
    pid_t pid = -1;
    if (!spawnHelper(program, socketPath, pid)) {
        errorText = "posix_spawn failed";
        helper.pid = -1;
        return false;
    }
    helper.pid = pid;
    if (waitUntilListening(helper)) return true;
    errorText = "Helper did not start listening";
    terminateHelper(helper);
    removeFile(socketPath);
    return false;
}

void stopHelperProcess(HelperProcess &helper, bool askFirst) {
    if (askFirst) askToQuit(helper);
    terminateHelper(helper);
    removeFile(helper.socketPath);
}

PluginSandboxController::~PluginSandboxController() { shutdownSandbox(); }

std::string PluginSandboxController::helperProgram() {
    std::string folder = helperSearchFolder.empty() ? executableFolder() : helperSearchFolder;
    if (folder.empty()) {
        lastError = "Cannot resolve app path";
        return {};
    }
    std::string program = findHelperProgram(folder);
    if (program.empty()) lastError = "HalvoraVstHelper not found";
    return program;
}

// A helper that failed a check is not asked to quit: it has just shown that it does not answer.
void PluginSandboxController::stopOwnHelper() {
    HelperProcess helper{helperPid, socketPath};
    terminateHelper(helper);
    helperPid = -1;
    removeFile(socketPath);
    running = false;
}

bool PluginSandboxController::ensureSandboxRunning() {
    if (!enabled) {
        running = true;
        lastError.clear();
        return true;
    }
    if (running && helperProcessExists(helperPid) && fs::exists(socketPath) && pingSandbox())
        return true;
    if (running && lastError.empty()) lastError = "Helper health check failed";
    stopOwnHelper();
    if (socketPath.empty()) socketPath = nextHelperSocketPath();
    if (socketPath.empty()) {
        lastError = "Cannot create socket folder";
        return false;
    }
    removeFile(socketPath);
    std::string program = helperProgram();
    if (program.empty()) return false;
    HelperProcess helper;
    if (!startHelperProcess(program, socketPath, helper, lastError)) {
        helperPid = -1;
        return false;
    }
    helperPid = helper.pid;
    running = true;
    lastError.clear();
    return true;
}

bool PluginSandboxController::pingSandbox() {
    if (!enabled) return true;
    if (!running) return false;
    int fd = connectToSocket(socketPath);
    if (fd < 0) return false;
    std::string reply;
    bool answered = oopWriteLine(fd, "PING") &&
                    oopReadLine(fd, reply, replyLineLimit, Deadline::after(controlReplyDeadline));
    close(fd);
    return answered && reply == "PONG";
}

bool PluginSandboxController::refreshHealth() {
    if (!enabled) return running;
    HelperProcess helper{helperPid, socketPath};
    if (helperPid >= 1 && reapIfExited(helper)) {
        helperPid = -1;
        if (lastError.empty()) lastError = "Helper process exited unexpectedly";
    } else {
        if (!running) return false;
        if (pingSandbox()) return true;
        lastError = "Helper not responding";
    }
    stopOwnHelper();
    return false;
}

void PluginSandboxController::shutdownSandbox() {
    HelperProcess helper{helperPid, socketPath};
    if (helperPid >= 1) stopHelperProcess(helper);
    helperPid = -1;
    removeFile(socketPath);
    running = false;
}

void PluginSandboxController::noteHelperCrash(const std::string &text) {
    lastError = text;
    running = false;
}

bool PluginSandboxController::startPluginHelper(HelperProcess &helper) {
    std::string program = helperProgram();
    if (program.empty()) return false;
    std::string path = nextHelperSocketPath();
    if (path.empty()) {
        lastError = "Cannot create socket folder";
        return false;
    }
    return startHelperProcess(program, path, helper, lastError);
}

namespace {

// Loading a large bundle can take a while; one that takes longer than this counts as hung.
constexpr auto describeDeadline = std::chrono::seconds(10);
constexpr auto crashGrace = std::chrono::milliseconds(500);

} // namespace

SandboxBundleDescriber::SandboxBundleDescriber(PluginSandboxController &owner)
    : controller(owner) {}

SandboxBundleDescriber::~SandboxBundleDescriber() { stop(true); }

bool SandboxBundleDescriber::connect() {
    if (fd >= 0) return true;
    if (!controller.startPluginHelper(helper)) return false;
    fd = connectToSocket(helper.socketPath);
    if (fd >= 0) return true;
    stop(false);
    return false;
}

void SandboxBundleDescriber::stop(bool askFirst) {
    if (fd >= 0) close(fd);
    fd = -1;
    if (helper.pid >= 1) stopHelperProcess(helper, askFirst);
}

BundleClasses SandboxBundleDescriber::operator()(const std::string &bundle) {
    BundleClasses found;
    if (!isSafeRequestArgument(bundle) || !connect()) return found;
    Deadline deadline = Deadline::after(describeDeadline);
    std::string line;
    if (!oopWriteLine(fd, "DESCRIBE " + bundle) ||
        !oopReadLine(fd, line, replyLineLimit, deadline)) {
        // The bundle took its helper down, or hung it: either way it must not run again.
        bool died = helperExitedWithin(helper, crashGrace);
        controller.lastError = died ? "Helper crashed in DESCRIBE" : "Helper not responding";
        found.outcome = BundleClasses::crashed;
        stop(false);
        return found;
    }
    int count = -1;
    if (line.starts_with("CLASSES ")) {
        auto [end, error] = std::from_chars(line.data() + 8, line.data() + line.size(), count);
        if (error != std::errc() || end != line.data() + line.size()) count = -1;
    }
    if (count < 0 || count > maximumDescribedClasses) return found;
    for (int index = 0; index < count; ++index) {
        if (!oopReadLine(fd, line, replyLineLimit, deadline)) {
            stop(false);
            return found;
        }
        if (std::optional<PluginDescription> description = parseClassLine(line)) {
            description->path = bundle;
            found.classes.push_back(std::move(*description));
        }
    }
    found.outcome = BundleClasses::described;
    return found;
}

} // namespace orvane::vst
