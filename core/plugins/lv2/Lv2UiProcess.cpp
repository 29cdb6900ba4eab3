#include "core/plugins/lv2/Lv2UiProcess.h"

#include "core/plugins/lv2/Lv2UiProtocol.h"
#include "core/plugins/lv2/Lv2World.h"

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

/// How long a host asked to close has before it is made to.
constexpr int closeWaitMilliseconds = 1000;
/// How much may wait for a host that falls behind before atoms to it are dropped: a scope's
/// or analyser's stream is worth losing, a program that stalls on its interface is not.
constexpr size_t outgoingLimit = 4 * 1024 * 1024;

AtomTypeIds programTypeIds() {
    return atomTypeIds([](const char *uri) { return Lv2World::uridMap().map(uri); });
}

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

std::string Lv2UiProcess::findProgram(const std::string &programName, const std::string &folder) {
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
    // The window's id comes first; what the interface wrote meanwhile (names, atoms, values
    // as it started) is kept in order for `poll`.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
    size_t looked = 0;
    while (window == 0) {
        const size_t end = pending.find('\n', looked);
        if (end != std::string::npos) {
            UiMessage message;
            const bool known = parseUiMessage(pending.substr(looked, end - looked), message);
            if (known && message.kind == UiMessage::Kind::open) {
                window = message.window;
                pending.erase(looked, end + 1 - looked);
                break;
            }
            if (known && message.kind == UiMessage::Kind::error) {
                reap();
                lastError = message.symbol;
                return false;
            }
            looked = end + 1;
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd watched{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&watched, 1, static_cast<int>(left)) <= 0 || !receive()) {
            reap();
            if (lastError.empty() || lastError == "closed")
                lastError = "the interface did not open";
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

void Lv2UiProcess::flush() {
    size_t sent = 0;
    while (fd >= 0 && sent < outgoing.size()) {
        const ssize_t count =
            ::send(fd, outgoing.data() + sent, outgoing.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break; // full, or gone: a gone host shows in `poll`
        sent += static_cast<size_t>(count);
    }
    outgoing.erase(0, sent);
}

void Lv2UiProcess::sendValue(uint32_t port, float value) {
    if (fd < 0) return;
    outgoing += formatUiValue(port, value) + "\n";
    flush();
}

void Lv2UiProcess::sendAtom(uint32_t port, const uint8_t *atom, size_t size) {
    if (fd < 0 || size > largestUiAtom) return;
    if (outgoing.size() > outgoingLimit) {
        ++dropped;
        return;
    }
    std::vector<uint8_t> copy(atom, atom + size);
    std::vector<uint32_t> untold;
    const bool readable = translateAtomUrids(
        copy.data(), copy.size(),
        [&](uint32_t number) {
            if (!numbersTold.contains(number)) untold.push_back(number);
            return number;
        },
        programTypeIds());
    if (!readable) return;
    for (uint32_t number : untold) {
        const char *uri = Lv2World::uridMap().unmap(number);
        if (!uri) return; // a number this process never gave: nothing the host could read
        if (numbersTold.insert(number).second) outgoing += formatUiUrid(number, uri) + "\n";
    }
    outgoing += formatUiAtom(port, atom, size) + "\n";
    flush();
}

bool Lv2UiProcess::fromHostNumbers(std::vector<uint8_t> &atom) const {
    return translateAtomUrids(
        atom.data(), atom.size(),
        [this](uint32_t number) {
            const auto found = hostNumbers.find(number);
            return found == hostNumbers.end() ? 0u : found->second;
        },
        programTypeIds());
}

void Lv2UiProcess::poll(const std::function<void(uint32_t, float)> &onValue,
                        const std::function<void(uint32_t, const std::vector<uint8_t> &)> &onAtom) {
    if (fd < 0) return;
    flush();
    const bool open = receive();
    bool closed = false;
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        UiMessage message;
        if (parseUiMessage(pending.substr(0, end), message)) {
            if (message.kind == UiMessage::Kind::value && onValue)
                onValue(message.port, message.value);
            if (message.kind == UiMessage::Kind::urid)
                hostNumbers[message.urid] = Lv2World::uridMap().map(message.symbol);
            if (message.kind == UiMessage::Kind::atom && onAtom && fromHostNumbers(message.atom))
                onAtom(message.port, message.atom);
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
    outgoing.clear();
    hostNumbers.clear();
    numbersTold.clear();
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
    lastError =
        done == pid && WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL ? "crashed" : "closed";
    pid = -1;
}

void Lv2UiProcess::stop() {
    if (pid <= 0 && fd < 0) return;
    // What waits is dropped, a line the socket took in part ended first so that the host
    // reads the request whole.
    const std::string request = outgoing.empty() ? "CLOSE\n" : "\nCLOSE\n";
    if (fd >= 0) (void)sendAll(fd, request); // a host that has gone is reaped all the same
    reap();
}

} // namespace orvane::lv2
