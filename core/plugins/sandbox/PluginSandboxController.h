#pragma once

#include "core/plugins/vst3/PluginScanner.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace orvane::vst {

/// One running helper program listening on its own socket.
struct HelperProcess {
    int32_t pid = -1;
    std::string socketPath;
};

/// Where helper sockets live: `$XDG_RUNTIME_DIR`, else a private folder (mode 0700) made once
/// per process under /tmp and removed at exit. Empty when no such folder can be made.
std::string sandboxSocketFolder();
/// A socket path for one more helper of this process: the first is "halvora_vst_<pid>.sock",
/// every later one adds "_<n>" before ".sock".
std::string nextHelperSocketPath();
/// The helper program beside the executable in `folder`, or in the installed layout
/// (`folder`/../libexec/halvora); empty when neither exists.
std::string findHelperProgram(const std::string &folder);
/// Folder of the running executable; empty when it cannot be resolved.
std::string executableFolder();

/// Starts `program` listening on `socketPath` (a stale file there is removed first) and waits
/// until it accepts connections, 40 attempts 25 ms apart. On failure the process is stopped,
/// the socket file removed, and `errorText` holds the reason.
[[nodiscard]] bool startHelperProcess(const std::string &program, const std::string &socketPath,
                                      HelperProcess &helper, std::string &errorText);
/// Asks the helper to "QUIT" (unless `askFirst` is false: a helper that stopped answering is
/// terminated at once), terminates it if it has not gone within two seconds, reaps it and
/// removes its socket file. Safe on a helper that has already died or was never started.
void stopHelperProcess(HelperProcess &helper, bool askFirst = true);
/// True while the process exists (signal 0 succeeds).
bool helperProcessExists(int32_t pid);
/// True when the helper has exited (it is then reaped) or exits within `grace`. A helper that
/// broke its connection by dying needs a moment before it can be reaped.
bool helperExitedWithin(HelperProcess &helper, std::chrono::milliseconds grace);

/// Finds, starts, checks and stops the sandbox helper of the plug-in rack. Out-of-process
/// plug-ins do not share this helper: each starts one of its own through `startPluginHelper`,
/// so that a plug-in that crashes or hangs silences only itself and no request ever waits for
/// another plug-in's connection. The helper kept here answers the health checks.
class PluginSandboxController {
  public:
    PluginSandboxController() = default;
    /// Stops the helper: none outlives its controller.
    ~PluginSandboxController();
    PluginSandboxController(const PluginSandboxController &) = delete;
    PluginSandboxController &operator=(const PluginSandboxController &) = delete;

    bool enabled = false;
    /// Cleared by the audio thread when an out-of-process transfer fails.
    std::atomic<bool> running{false};
    std::string lastError;
    std::string socketPath;
    int32_t helperPid = -1;
    /// Where to look for the helper program; empty means the running executable's folder.
    std::string helperSearchFolder;

    [[nodiscard]] bool ensureSandboxRunning();
    bool refreshHealth();
    [[nodiscard]] bool pingSandbox();
    void shutdownSandbox();
    void noteHelperCrash(const std::string &text);

    /// Starts a helper of its own for one out-of-process plug-in, on a fresh socket path.
    /// Failures leave their text in `lastError`.
    [[nodiscard]] bool startPluginHelper(HelperProcess &helper);

  private:
    std::string helperProgram();
    void stopOwnHelper();
};

/// Describes bundles for the plug-in scan in a helper, so that the application never runs a
/// bundle's code itself. A bundle that crashes (or hangs) its helper is reported as crashed;
/// the next bundle gets a fresh helper. One thread at a time: its controller's.
class SandboxBundleDescriber {
  public:
    explicit SandboxBundleDescriber(PluginSandboxController &controller);
    ~SandboxBundleDescriber();
    SandboxBundleDescriber(const SandboxBundleDescriber &) = delete;
    SandboxBundleDescriber &operator=(const SandboxBundleDescriber &) = delete;

    BundleClasses operator()(const std::string &bundle);

  private:
    [[nodiscard]] bool connect();
    void stop(bool askFirst);

    PluginSandboxController &controller;
    HelperProcess helper;
    int fd = -1;
};

} // namespace orvane::vst
