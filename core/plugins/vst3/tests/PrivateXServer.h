#pragma once

#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace orvane::vst::testing {

/// A private X server for tests that open editor windows: Xvfb picks a free display number itself
/// and reports it on a pipe once it accepts connections. A missing Xvfb fails the tests.
class PrivateXServer {
  public:
    bool start(std::string &errorText) {
        int ready[2];
        if (pipe(ready) != 0) {
            errorText = "pipe failed";
            return false;
        }
        std::string fd = std::to_string(ready[1]);
        std::vector<std::string> arguments = {"Xvfb", "-displayfd", fd,  "-noreset",    "-nolisten",
                                              "tcp",  "-screen",    "0", "1280x1024x24"};
        std::vector<char *> argv;
        for (auto &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, ready[0]);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        int spawned = posix_spawnp(&pid, "Xvfb", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(ready[1]);
        if (spawned != 0) {
            close(ready[0]);
            pid = -1;
            errorText =
                "cannot start Xvfb (install the xvfb package): " + std::string(strerror(spawned));
            return false;
        }
        std::string number = readDisplayNumber(ready[0]);
        close(ready[0]);
        if (number.empty()) {
            errorText = "Xvfb did not report a display";
            stop();
            return false;
        }
        display = ":" + number;
        return true;
    }

    // A server told to end while it is still starting can lose the request and wait for
    // clients forever; after three seconds it is killed.
    void stop() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        for (int waited = 0; waited < 300; ++waited) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = -1;
                return;
            }
            usleep(10000);
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }

    const std::string &name() const { return display; }

  private:
    static std::string readDisplayNumber(int fd) {
        std::string number;
        pollfd waiting{fd, POLLIN, 0};
        while (poll(&waiting, 1, 10000) > 0) {
            char c;
            if (read(fd, &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        return number;
    }

    pid_t pid = -1;
    std::string display;
};

} // namespace orvane::vst::testing
