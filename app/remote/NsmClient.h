#pragma once

#include "app/remote/OscSocket.h"

#include <functional>
#include <optional>
#include <string>

namespace orvane::remote {

/// The session manager's error codes, as its protocol numbers them.
namespace nsm_error {
constexpr int general = -1;
constexpr int incompatibleApi = -2;
constexpr int blacklisted = -3;
constexpr int launchFailed = -4;
constexpr int noSuchFile = -5;
constexpr int noSessionOpen = -6;
constexpr int unsavedChanges = -7;
constexpr int notNow = -8;
constexpr int badProject = -9;
constexpr int createFailed = -10;
} // namespace nsm_error

/// What the application says of an open or a save: `code` 0 for success, else one of
/// `nsm_error`; `message` goes to the session manager either way.
struct NsmOutcome {
    int code = 0;
    std::string message;
};

/// What `/nsm/client/open` asks for.
struct NsmOpenRequest {
    std::string path;        // where this client keeps its files; no extension
    std::string displayName; // the session's name for this client
    std::string clientId;
};

/// A client of a session manager speaking its OSC protocol (API 1.2) over UDP: announces
/// itself to the address in NSM_URL, then opens and saves when told, and reports the
/// document's unsaved state. Messages from anyone but the server are ignored. All of it runs
/// on the main thread through `poll`; only the socket's reader runs beside it.
class NsmClient {
  public:
    static constexpr int apiMajor = 1;
    static constexpr int apiMinor = 2;
    /// The protocol's capabilities this client has.
    static constexpr const char *capabilities = ":switch:dirty:";

    struct Handlers {
        std::function<NsmOutcome(const NsmOpenRequest &)> open;
        std::function<NsmOutcome()> save;
    };

    /// NSM_URL, when set and not empty.
    static std::optional<std::string> urlFromEnvironment();

    /// Opens a socket and announces `applicationName`/`executable` to the server at `url`.
    /// False with `error` when the address is no server's.
    [[nodiscard]] bool start(const std::string &url, const std::string &applicationName,
                             const std::string &executable, std::string &error);
    bool started() const { return socket.isOpen(); }
    /// Handles what the server sent since the last turn. Main thread.
    void poll(const Handlers &handlers);
    /// Tells the server of the unsaved state when it changed since it was last told.
    void reportDirty(bool dirty);

    /// The server took the announce.
    bool announced() const { return acknowledged; }
    /// The server refused the announce (then this client works as if no session were there).
    const std::string &announceError() const { return refusal; }
    const std::string &serverName() const { return server; }
    /// An open arrived and succeeded: the document is the session's.
    bool sessionOpen() const { return opened; }
    OscSocket::Counts counts() const { return socket.counts(); }
    /// Messages that were not the protocol's, or came from elsewhere.
    uint64_t ignored() const { return ignoredMessages; }

  private:
    void handle(const OscMessage &message, const Handlers &handlers);
    void answer(const std::string &path, const NsmOutcome &outcome);

    OscSocket socket;
    Endpoint serverAddress;
    std::string server;
    std::string refusal;
    bool acknowledged = false;
    bool opened = false;
    std::optional<bool> dirtyTold;
    uint64_t ignoredMessages = 0;
};

} // namespace orvane::remote
