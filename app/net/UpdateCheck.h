#pragma once

#include "app/net/HttpClient.h"
#include "app/shell/BackgroundCall.h"

#include <functional>
#include <string>

namespace orvane {

class ApplicationUi;
class HVLoggingStatusField;

struct UpdateInfo {
    bool available = false; // a newer version exists
    std::string version;    // announced version
    std::string url;        // download address
    std::string notes;
    std::string message; // text for the user
};

/// The value between `"key":"` and the next double quote (escapes are not interpreted);
/// empty when the key is missing or the value has no closing quote.
std::string jsonStringField(const std::string &text, const std::string &key);

/// Compares dot-separated versions piece by piece, a missing or empty piece counting as 0.
/// Each piece counts by its leading digits only ("2-beta" is 2, "beta" is 0), and a number
/// too large to hold stays at the largest one: what a server announces never ends the
/// program.
bool isNewerVersion(const std::string &current, const std::string &candidate);

/// Fetches "HALVORA_UPDATE_URL" and compares the announced version with `currentVersion`.
/// Blocks for at most the limits: call it off the main thread.
UpdateInfo checkForUpdates(const std::string &currentVersion, const NetworkLimits &limits = {});
/// The same against an endpoint already read from the environment.
UpdateInfo checkForUpdatesAt(const std::string &endpoint, const std::string &currentVersion,
                             const NetworkLimits &limits = {});

/// The "Проверить обновления…" menu action: runs the check on a worker and, from the
/// user-interface tick, shows the answer once it arrived. Main thread only.
class UpdateCheckAction {
  public:
    UpdateCheckAction(ApplicationUi &ui, HVLoggingStatusField &status);

    /// Starts a check unless one is still running (then false).
    [[nodiscard]] bool start(const std::string &currentVersion);
    bool pending() const { return call.running(); }
    /// Shows the answer when it has arrived; true when it did.
    bool presentIfDone();
    /// Waits for a running check and shows its answer.
    void finish();

    NetworkLimits limits;
    /// Opens a download address in the user's browser; only ever given http and https.
    std::function<void(const std::string &url)> openDownload;

  private:
    void present(const UpdateInfo &info);

    ApplicationUi &ui;
    HVLoggingStatusField &status;
    BackgroundCall<UpdateInfo> call;
};

/// Hands `url` to the desktop's opener ("xdg-open") without a shell and without waiting.
void openUrlWithDesktop(const std::string &url);

} // namespace orvane
