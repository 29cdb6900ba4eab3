#pragma once

#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/SandboxProtocol.h"
#include "core/plugins/vst3/tests/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace orvane::vst::testing {

using namespace std::chrono_literals;

inline std::string helperProgramPath() { return HALVORA_HELPER_PATH; }
inline std::string helperProgramFolder() {
    return std::filesystem::path(helperProgramPath()).parent_path().string();
}

/// Sanitizer options for the helpers a test starts: `extra` is added to what is already set.
/// A sanitizer build's helper otherwise spends longer on a crash report than an audio block may
/// wait, or reports the leaks of third-party editors at exit.
inline std::string withSanitizerOption(const char *variable, const std::string &extra) {
    const char *current = std::getenv(variable);
    return current && *current ? std::string(current) + ":" + extra : extra;
}

/// The real helper program, started on a socket in a private folder of the test's own.
class RunningHelper {
  public:
    RunningHelper() : socketPath((folder.path() / "helper.sock").string()) {
        std::string errorText;
        if (!startHelperProcess(helperProgramPath(), socketPath, process, errorText))
            ADD_FAILURE() << "helper did not start: " << errorText;
    }
    ~RunningHelper() { stopHelperProcess(process, false); }
    RunningHelper(const RunningHelper &) = delete;
    RunningHelper &operator=(const RunningHelper &) = delete;

    /// Waits for the helper to end by itself and returns its exit status, or -1.
    int waitForExit() {
        int status = 0;
        if (process.pid < 1 || waitpid(process.pid, &status, 0) != process.pid) return -1;
        process.pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TemporaryFolder folder;
    std::string socketPath;
    HelperProcess process;
};

/// A client of our own that speaks the wire protocol byte for byte.
class RawClient {
  public:
    explicit RawClient(const std::string &socketPath) : fd(connectToSocket(socketPath)) {
        EXPECT_GE(fd, 0) << "cannot connect to " << socketPath;
    }
    ~RawClient() { disconnect(); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    void disconnect() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    bool send(const std::string &line) { return oopWriteLine(fd, line); }
    bool sendBytes(const void *data, size_t size) {
        return oopWriteAll(fd, data, size, Deadline::after(5s));
    }
    std::string reply() {
        std::string line;
        if (!oopReadReply(fd, line, Deadline::after(10s))) return "<no reply>";
        return line;
    }
    std::string request(const std::string &line) {
        if (!send(line)) return "<send failed>";
        return reply();
    }
    bool receiveBytes(void *data, size_t size) {
        return oopReadExact(fd, data, size, Deadline::after(10s));
    }
    /// True when nothing more arrives within a short wait.
    bool silent() {
        char byte;
        return !oopReadExact(fd, &byte, 1, Deadline::after(100ms));
    }

    int fd = -1;
};

} // namespace orvane::vst::testing
