#pragma once

#include "app/shell/ApplicationUi.h"
#include "app/shell/LongJob.h"
#include "app/shell/SessionState.h"
#include "core/engine/EngineRings.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

class AudioDeviceEngine;
class MidiInput;
class MediaPrefetcher;
class CommandStack;
class Engine;
class LiveTick;
class OVMainView;
class RemoteControl;
class UpdateCheckAction;
namespace vst {
class PluginRack;
class PluginSandboxController;
} // namespace vst

/// Points the insert-list commands at `rack`, so that it saves its plug-ins' states before a
/// list changes and rebuilds them after; `rack` must outlive the commands run until the hooks
/// are cleared (`setInsertListHooks({})`).
void keepRackInStepWithInsertLists(vst::PluginRack &rack);

/// What the audio settings panel hands over on "Применить".
struct AudioSettingsChoice {
    std::string outputDevice; // by name, as the device list shows it
    std::string inputDevice;
    int32_t bufferFrames = 0;
    double inputLatencyMs = 0.0;
    double outputLatencyMs = 0.0;
};

/// The application object: owns the long-lived services for the whole process (engine,
/// audio device, plug-in rack, command stack), builds the start-up project, starts audio,
/// offers crash recovery, and runs the user-interface tick (every 1/30 s) and the autosave
/// tick (every 60 s) when the program's loop calls them. Main thread only.
class OVApplication {
  public:
    static constexpr double uiTickSeconds = 1.0 / 30.0;
    static constexpr double autosaveTickSeconds = 60.0;

    explicit OVApplication(ApplicationUi &ui);
    /// Stops the device before the rack and the engine go, whether or not
    /// `willTerminate` ran.
    ~OVApplication();
    OVApplication(const OVApplication &) = delete;
    OVApplication &operator=(const OVApplication &) = delete;

    /// The start-up sequence. With `startAudio` false the engine stays without a device
    /// (the project keeps its own rate).
    void didFinishLaunching(bool startAudio = true);
    /// Offers the autosave copy when the previous session ended without a clean quit after
    /// writing it. True when the user took it and it opened.
    bool offerRecoveryIfNeeded();
    void onTick();
    void onAutosave();
    /// The autosave as a job for a worker (see `OVMainView::prepareAutosave`); nothing when
    /// there is nothing to write or no place for it, which is reported at once.
    std::optional<LongJob> prepareAutosave();
    /// Asks about unsaved changes; false when the user cancelled the quit.
    [[nodiscard]] bool shouldTerminate();
    /// The shutdown sequence; afterwards the next start offers no recovery.
    void willTerminate();
    /// Reads the stored device choice and hands it to the device; false when the device
    /// refused it.
    [[nodiscard]] bool applyPersistedAudioSettings();
    /// The audio settings panel's "Применить": switches devices, sets the latency
    /// calibration of the project and remembers the choice. False when refused or failed
    /// (the status line says why).
    [[nodiscard]] bool applyAudioSettings(const AudioSettingsChoice &choice);
    /// The privacy panel's switches, saved and announced in the status line.
    void applyPrivacyPreferences(const PrivacyPreferences &prefs);
    /// "Проверить обновления…": the check runs on a worker; the tick shows its answer.
    void checkForUpdates();
    UpdateCheckAction &updateCheck() { return *updateCheckPtr; }

    Engine &engine() { return *enginePtr; }
    AudioDeviceEngine &audio() { return *audioPtr; }
    vst::PluginRack &rack() { return *rackPtr; }
    CommandStack &commands() { return *commandsPtr; }
    OVMainView &view() { return *viewPtr; }
    /// The session manager's client and the OSC port, from `didFinishLaunching` on.
    RemoteControl &remote() { return *remotePtr; }
    HVLoggingStatusField &status() { return statusField; }
    /// Alerts and file choosers, for the window's own questions.
    ApplicationUi &userInterface() { return ui; }
    bool audioRunning() const;
    /// Opens the audio device again with the stored choice, after it went away (the server
    /// stopped or dropped Halvora); false, with the reason on the status line, when it cannot.
    bool reconnectAudio();

  private:
    /// Logs each line of a tick's helper report and puts it on the status line.
    void tellOfHelpers(const std::vector<std::string> &lines, const std::string &logPrefix,
                       const std::string &statusText);
    void copyExampleEnvironmentFile();
    void startAudio();
    void offerToReconnectAudio(const std::string &reason);
    void stopServices();

    ApplicationUi &ui;
    HVLoggingStatusField statusField;
    /// What the previous session left behind, read before this one overwrites it.
    SessionMeta previousSession;
    int64_t sessionStart = 0;
    bool terminated = false;
    bool audioLostReported = false;

    // Declared in creation order; `stopServices` ends them in the safe order.
    std::unique_ptr<Engine> enginePtr;
    std::unique_ptr<AudioDeviceEngine> audioPtr;
    std::unique_ptr<MidiInput> midiPtr;
    std::unique_ptr<MediaPrefetcher> mediaPrefetcher;
    std::unique_ptr<vst::PluginSandboxController> sandboxPtr;
    std::unique_ptr<vst::PluginRack> rackPtr;
    std::unique_ptr<CommandStack> commandsPtr;
    std::unique_ptr<LiveTick> liveTick;
    std::unique_ptr<OVMainView> viewPtr;
    std::unique_ptr<UpdateCheckAction> updateCheckPtr;
    std::unique_ptr<RemoteControl> remotePtr;
};

/// The beta-log message for one engine notification; empty for kinds that are not logged.
/// Sets `category`.
std::string describeNotification(const Notification &notification, std::string &category);

} // namespace orvane
