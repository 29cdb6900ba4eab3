#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace orvane::lv2 {

/// A plug-in interface shown by the interface host program (`HalvoraUiHost`) in a process of
/// its own, in a top-level window of its own: control values and atoms cross a socket both
/// ways, and an interface that crashes ends only that process. The host numbers names
/// (URIDs) its own way; each side says which number it gives a name before the first atom
/// that holds it, and the receiver puts its own numbers in. Serves the program for plug-ins in
/// process and the sandbox helper for the plug-ins it holds alike.
///
/// Threads: one thread at a time (the main thread, or the helper's loop).
class Lv2UiProcess {
  public:
    /// What the host needs to find and show the interface.
    struct Launch {
        std::string pluginUri, uiUri, uiTypeUri, bundlePath, binaryPath, title;
        /// Each control port's symbol and index.
        std::vector<std::pair<std::string, uint32_t>> ports;
        /// The value each control port starts with, as port index and value.
        std::vector<std::pair<uint32_t, float>> values;
    };

    Lv2UiProcess() = default;
    ~Lv2UiProcess();
    Lv2UiProcess(const Lv2UiProcess &) = delete;
    Lv2UiProcess &operator=(const Lv2UiProcess &) = delete;

    /// Starts the host and waits, up to `waitMilliseconds`, until its window is shown; false,
    /// with `lastError`, when the program is missing, or the interface failed or took too long.
    [[nodiscard]] bool start(const std::string &program, const Launch &launch,
                             int waitMilliseconds = 8000);
    /// Asks the host to go and makes sure it has gone.
    void stop();
    bool running() const { return pid > 0; }
    /// Shows a value set elsewhere in the interface.
    void sendValue(uint32_t port, float value);
    /// Hands the interface an atom the plug-in wrote (in this process's numbers). When the
    /// host falls far behind, atoms are dropped rather than waited for; values never are.
    void sendAtom(uint32_t port, const uint8_t *atom, size_t size);
    /// Takes what the host said: `onValue` for each control the user moved, `onAtom` for each
    /// atom the interface wrote, in this process's numbers. Afterwards `running` is false when
    /// the window was closed or the host ended (then `lastError` says "crashed" when it ended
    /// by a signal).
    void
    poll(const std::function<void(uint32_t port, float value)> &onValue,
         const std::function<void(uint32_t port, const std::vector<uint8_t> &atom)> &onAtom = {});
    /// Atoms dropped on the way to the host because it fell behind.
    size_t droppedAtoms() const { return dropped; }
    /// The host's socket, for waiting on it; -1 when none runs.
    int socket() const { return fd; }
    int processId() const { return pid; }
    unsigned long windowId() const { return running() ? window : 0; }

    std::string lastError;

    /// The host program `programName` beside the running executable (or in the installed
    /// layout beside it), unless `folder` names where to look instead; empty when there is none.
    static std::string findProgram(const std::string &programName, const std::string &folder = {});

  private:
    /// Reads whatever is waiting; false when the host closed its end.
    bool receive();
    /// Waits until the host has ended and says how.
    void reap();
    /// Sends what waits without blocking; what the socket does not take waits for later.
    void flush();
    /// Puts this process's numbers in place of the host's; false when one was never named.
    bool fromHostNumbers(std::vector<uint8_t> &atom) const;

    int pid = -1;
    int fd = -1;
    unsigned long window = 0;
    std::string pending;
    std::string outgoing;
    size_t dropped = 0;
    /// The host's number for a name, to this process's.
    std::unordered_map<uint32_t, uint32_t> hostNumbers;
    /// This process's numbers the host has been told.
    std::unordered_set<uint32_t> numbersTold;
};

} // namespace orvane::lv2
