#pragma once

#include "app/remote/NsmClient.h"
#include "app/remote/OscSocket.h"
#include "app/remote/RemoteRequest.h"
#include "app/shell/SessionState.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

class OVApplication;

/// The application under remote control: a session manager's client (when NSM_URL names one)
/// and the OSC port for control surfaces (when turned on). Both only queue on their reader
/// threads; `onTick`, on the main thread, takes a bounded turn's worth and carries it out
/// through the same operations and undoable commands the window uses.
class RemoteControl {
  public:
    explicit RemoteControl(OVApplication &app);
    ~RemoteControl();
    RemoteControl(const RemoteControl &) = delete;
    RemoteControl &operator=(const RemoteControl &) = delete;

    /// Announces Halvora to the session manager named by NSM_URL; false (the status line
    /// says why) when the variable is unset or names no server. Under a session manager the
    /// project's place is the manager's, SIGTERM quits (see `terminationRequested`), and the
    /// window offers no New, Open or Save As.
    bool joinSessionFromEnvironment(const std::string &executable);
    bool underSessionManager() const { return nsm && nsm->started(); }
    const remote::NsmClient *sessionClient() const { return nsm.get(); }

    /// Opens, moves or closes the OSC port as `prefs` say; false (the status line says why)
    /// when the port cannot be had.
    bool applyPreferences(const RemotePreferences &prefs);
    /// The port listened on; 0 when off.
    uint16_t oscPort() const { return osc.port(); }
    remote::OscSocket::Counts oscCounts() const { return osc.counts(); }
    /// Messages well formed but outside the namespace or its ranges.
    uint64_t refusedRequests() const { return refused; }

    /// Carries out what arrived since the last turn and tells the session manager whether the
    /// document has unsaved changes. Main thread.
    void onTick();

    /// SIGTERM from here on only asks the program to quit, which its loop then does cleanly.
    static void watchForTermination();
    static bool terminationRequested();

  private:
    remote::NsmOutcome openForSession(const remote::NsmOpenRequest &request);
    remote::NsmOutcome saveForSession();
    void carryOut(const remote::RemoteRequest &request, const remote::Endpoint &sender);
    void refuse(const remote::Endpoint &sender, const std::string &path, const std::string &why);
    void sendState(const remote::Endpoint &sender);
    void sendTrack(const remote::Endpoint &sender, int32_t number, remote::RemoteAction what,
                   int32_t send = 0);
    /// The id of the track numbered `number` (from 1) in the mixer's order; 0 when none.
    uint64_t trackIdAt(int32_t number) const;

    OVApplication &app;
    std::unique_ptr<remote::NsmClient> nsm;
    remote::OscSocket osc;
    uint64_t refused = 0;
    /// State answers owed after a transport change, sent once the engine has taken it.
    struct PendingState {
        remote::Endpoint to;
        std::optional<bool> playing;
        int ticksLeft = 0;
    };
    std::vector<PendingState> pendingStates;
    /// What the log last said of refused and dropped messages, and the turns since.
    uint64_t refusalsLogged = 0;
    int turnsSinceLog = 0;
    void logRefusals();
};

} // namespace orvane
