#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace orvane::testing {

/// Runs a program found on PATH with `arguments` and waits for it; its exit status, or -1
/// when it could not start or did not exit normally. Output goes to `logFile` (appended) or
/// nowhere.
int runTool(const std::vector<std::string> &arguments, const std::string &logFile = {});

/// True when this process may give a thread real-time (FIFO) scheduling.
bool realtimeSchedulingAllowed();

/// A private JACK server for one test: `jackd --no-realtime --name <unique> -d dummy` with the
/// dummy driver's two capture and two playback ports, ready once `jack_wait` reaches it, and
/// stopped by its own process id. Synchronous by default (`-S`): the server then waits for
/// every client each period, so that a loaded machine makes periods late instead of dropping
/// a late client's period from the graph, which would tear a test's recording; benchmarks
/// that measure what the user gets pass false. While it lives, JACK_DEFAULT_SERVER names it and
/// JACK_NO_START_SERVER=1 keeps clients (ours and the programs the test starts) from starting
/// another one. `realtime` runs the server and its clients' process threads with real-time
/// scheduling (`-R`), as a tuned studio machine does; it needs the right to do so (root or an
/// rtprio limit), so only benchmarks ask for it, after `realtimeSchedulingAllowed`.
class JackServer {
  public:
    explicit JackServer(int32_t periodFrames = 256, int32_t sampleRate = 48000,
                        bool synchronous = true, bool realtime = false);
    /// A server on another driver: `driverArguments` follow "-d" (for example a network
    /// slave: {"net", "-a", "127.0.0.1", ...}). Asynchronous, as such a driver runs.
    explicit JackServer(const std::vector<std::string> &driverArguments);
    ~JackServer();
    JackServer(const JackServer &) = delete;
    JackServer &operator=(const JackServer &) = delete;

    bool ready() const { return isReady; }
    const std::string &name() const { return serverName; }
    /// What went wrong starting it, with the server's own output.
    std::string failure() const;
    /// Asks the running server for a new period, as `jack_bufsize` does.
    bool setPeriod(int32_t frames);
    /// Ends the server at once (SIGKILL), the way a crash would, and reaps it.
    void kill();
    /// Ends it politely (SIGTERM) and waits for it.
    void stop();

  private:
    void becomeDefaultServer();
    void launch(const std::vector<std::string> &command);
    void end(int signal);

    std::string serverName;
    std::string logPath;
    std::string previousServer;
    bool hadPreviousServer = false;
    pid_t pid = -1;
    bool isReady = false;
};

} // namespace orvane::testing
