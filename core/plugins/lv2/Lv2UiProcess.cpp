#include "core/plugins/lv2/Lv2UiProcess.h"

#include "core/plugins/lv2/Lv2UiProtocol.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace orvane::lv2 {

namespace fs = std::filesystem;

namespace {

constexpr const char *programName = "HalvoraUiHost";
/// How long a host asked to close has before it is made to.
constexpr int closeWaitMilliseconds = 1000;

bool sendAll(int fd, const std::string &text) {
    size_t sent = 0;
    while (sent < text.size()) {
        // Not a signal when the host has gone: that is found out by reading.
        const ssize_t count = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        sent += static_cast<size_t>(count);
    }
    return true;
}

} // namespace

Lv2UiProcess::~Lv2UiProcess() { stop(); }

std::string Lv2UiProcess::findProgram(const std::string &folder) {
    std::error_code error;
    fs::path base = folder;
    if (base.empty()) {
        const fs::path executable = fs::read_symlink("/proc/self/exe", error);
        if (error) return {};
        base = executable.parent_path();
    }
    for (const fs::path &candidate :
         {base / programName, base / ".." / "libexec" / "halvora" / programName})
        if (fs::is_regular_file(candidate, error)) return fs::weakly_canonical(candidate, error);
    return {};
}

bool Lv2UiProcess::start(const std::string &program, const Launch &launch, int waitMilliseconds) {
    stop();
    lastError.clear();
    if (program.empty()) {
        lastError = "the interface host program is missing";
        return false;
    }
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        lastError = "no socket for the interface host";
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    std::vector<std::string> arguments{program,          launch.pluginUri,  launch.uiUri,
                                       launch.uiTypeUri, launch.bundlePath, launch.binaryPath,
                                       launch.title};
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    if (spawned != 0) {
        close(ends[0]);
        lastError = "the interface host program did not start";
        return false;
    }
    pid = child;
    fd = ends[0];
    std::string greeting;
    for (const auto &[symbol, index] : launch.ports)
        greeting += "PORT " + symbol + " " + std::to_string(index) + "\n";
    greeting += "SHOW\n";
    for (const auto &[index, value] : launch.values)
        greeting += formatUiValue(index, value) + "\n";
    if (!sendAll(fd, greeting)) {
        reap();
        lastError = "the interface host ended at once";
        return false;
    }
    // The window's id comes first; anything the interface wrote meanwhile waits in `pending`.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
    while (window == 0) {
        const size_t end = pending.find('\n');
        if (end != std::string::npos) {
            UiMessage message;
            const bool known = parseUiMessage(pending.substr(0, end), message);
            if (known && message.kind == UiMessage::Kind::open) {
                window = message.window;
                pending.erase(0, end + 1);
                break;
            }
            if (known && message.kind == UiMessage::Kind::error) {
                reap();
                lastError = message.symbol;
                return false;
            }
            pending.erase(0, end + 1);
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd watched{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&watched, 1, static_cast<int>(left)) <= 0 || !receive()) {
            reap();
            if (lastError.empty() || lastError == "closed") lastError = "the interface did not open";
            return false;
        }
    }
    return true;
}

bool Lv2UiProcess::receive() {
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (count > 0) {
            pending.append(buffer, static_cast<size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

void Lv2UiProcess::sendValue(uint32_t port, float value) {
    if (fd >= 0) (void)sendAll(fd, formatUiValue(port, value) + "\n"); // a gone host shows in poll
}

void Lv2UiProcess::poll(const std::function<void(uint32_t, float)> &onValue) {
    if (fd < 0) return;
    const bool open = receive();
    bool closed = false;
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        UiMessage message;
        if (parseUiMessage(pending.substr(0, end), message)) {
            if (message.kind == UiMessage::Kind::value && onValue)
                onValue(message.port, message.value);
            closed = closed || message.kind == UiMessage::Kind::closed;
        }
        pending.erase(0, end + 1);
    }
    if (closed) {
        stop();
        lastError = "closed";
    } else if (!open) {
        reap();
    }
}

void Lv2UiProcess::reap() {
    if (fd >= 0) close(fd);
    fd = -1;
    pending.clear();
    window = 0;
    if (pid <= 0) return;
    int status = 0;
    pid_t done = 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(closeWaitMilliseconds);
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        usleep(5000);
    if (done == 0) {
        kill(pid, SIGKILL);
        done = waitpid(pid, &status, 0);
    }
    lastError = done == pid && WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL ? "crashed"
                                                                                   : "closed";
    pid = -1;
}

void Lv2UiProcess::stop() {
    if (pid <= 0 && fd < 0) return;
    if (fd >= 0) (void)sendAll(fd, "CLOSE\n"); // a host that has gone is reaped all the same
    reap();
}

} // namespace orvane::lv2
