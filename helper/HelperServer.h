#pragma once

#include "core/vst/SandboxProtocol.h"
#include "core/vst/Vst3Plugin.h"
#include "core/vst/hosting/EditorWindow.h"

#include <string>
#include <vector>

namespace orvane::vst {

/// Exit statuses of the helper program.
enum HelperExitStatus { helperQuit = 0, helperUsage = 1, helperNoSocket = 2, helperNoListen = 3 };

/// Serves the sandbox protocol for one in-process plug-in, one connection at a time. The
/// listening socket or the open connection is registered with the editor run loop, so requests
/// and the plug-in's editor window are served from the same single-threaded loop.
class HelperServer : public Steinberg::Linux::IEventHandler {
  public:
    explicit HelperServer(std::string socketPath);
    ~HelperServer();
    HelperServer(const HelperServer &) = delete;
    HelperServer &operator=(const HelperServer &) = delete;

    /// Creates, binds and listens; returns `helperQuit` on success, otherwise the exit status.
    HelperExitStatus listen();
    /// Serves requests until one asks to "QUIT"; then removes the socket file.
    void serve();

    void PLUGIN_API onFDIsSet(Steinberg::Linux::FileDescriptor fd) override;
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **object) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

  private:
    void acceptConnection();
    void endConnection();
    void serveOneRequest();
    /// The reply to one request line; empty when the request sends no reply line.
    std::string dispatch(const std::string &line);
    std::string load(const std::string &arguments);
    std::string prepare(const std::string &arguments);
    std::string setParameter(const std::string &arguments);
    void processBlock(const std::string &arguments);
    std::string getState();
    std::string setState(const std::string &arguments);
    std::string openEditor();
    void watch(int fd);

    std::string socketPath;
    int listenFd = -1;
    int connectionFd = -1;
    bool quitRequested = false;
    Vst3Plugin plugin;
    double sampleRate = 48000.0;
    int blockSize = 512;
    std::vector<float> interleaved, left, right;
    BlockNotes pendingNotes;
};

} // namespace orvane::vst
