#include "app/shell/OVApplication.h"

#include "app/net/Telemetry.h"
#include "app/net/UpdateCheck.h"
#include "app/shell/DocumentOperations.h"
#include "app/shell/LiveTick.h"
#include "app/shell/OVMainView.h"
#include "app/shell/RemoteControl.h"
#include "app/workflows/MidiLearning.h"
#include "app/workflows/RecordingWorkflow.h"
#include "app/workflows/TempoTools.h"
#include "core/commands/CommandStack.h"
#include "core/commands/InsertEdits.h"
#include "core/engine/Engine.h"
#include "core/engine/MediaPrefetch.h"
#include "core/model/Translate.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/vst3/PluginScanner.h"
#include "device/AudioDeviceEngine.h"
#include "device/DeviceSettings.h"
#include "device/MidiInput.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace orvane {

namespace fs = std::filesystem;

namespace {

constexpr const char *versionText = "1.0.0";

#ifndef HALVORA_SOURCE_RESOURCES
#define HALVORA_SOURCE_RESOURCES ""
#endif

/// A resource installed beside the program ("<exe dir>/../share/halvora"), else, for a program
/// run from its build tree, the source tree's; empty when neither has it.
fs::path bundleResource(const std::string &name) {
    std::error_code error;
    std::vector<fs::path> candidates;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (!error) candidates.push_back(executable.parent_path() / ".." / "share" / "halvora" / name);
    if (*HALVORA_SOURCE_RESOURCES) candidates.push_back(fs::path(HALVORA_SOURCE_RESOURCES) / name);
    for (const fs::path &candidate : candidates)
        if (fs::is_regular_file(candidate, error)) return candidate;
    return {};
}

/// Copies the resource `name` to `target` unless `target` is there already; a resource that
/// is missing or cannot be copied is left out without a word, as the first start allows.
void copyResourceUnlessPresent(const std::string &name, const fs::path &target) {
    std::error_code error;
    if (target.empty() || fs::exists(target, error)) return;
    const fs::path resource = bundleResource(name);
    if (!resource.empty()) fs::copy_file(resource, target, error);
}

std::string transportMessage(float value) {
    if (value == 1.0f) return "play";
    if (value == 0.0f) return "stop";
    return "tempo " + std::to_string(static_cast<int64_t>(std::trunc(value))) + " bpm";
}

} // namespace

std::string describeNotification(const Notification &notification, std::string &category) {
    const std::string id = std::to_string(notification.id);
    switch (notification.kind) {
    case NotificationKind::transport:
        category = "transport";
        return transportMessage(notification.value);
    case NotificationKind::deviceUnderrun: category = "audio"; return "xrun";
    case NotificationKind::sessionClipLaunched:
        category = "session";
        return "clip launched id=" + id;
    case NotificationKind::sceneLaunched: category = "session"; return "scene launched id=" + id;
    case NotificationKind::sessionClipEnded: category = "session"; return "clip finished id=" + id;
    case NotificationKind::trackSilenced:
        // A track that produced non-finite samples went quiet: worth a line for the tester.
        category = "audio";
        return "track silenced id=" + id;
    }
    category.clear();
    return {};
}

OVApplication::OVApplication(ApplicationUi &ui)
    : ui(ui), statusField(ui),
      updateCheckPtr(std::make_unique<UpdateCheckAction>(ui, statusField)) {}

void keepRackInStepWithInsertLists(vst::PluginRack &rack) {
    setInsertListHooks(
        {[&rack] { rack.saveStatesIntoProject(); }, [&rack] { rack.restoreFromProject(); }});
}

OVApplication::~OVApplication() { stopServices(); }

bool OVApplication::audioRunning() const { return audioPtr && audioPtr->outputRunning.load(); }

void OVApplication::copyExampleEnvironmentFile() {
    copyResourceUnlessPresent("beta.env.example", betaEnvironmentPath());
}

void OVApplication::didFinishLaunching(bool withAudio) {
    previousSession = readSessionMeta();
    sessionStart = unixTimeNow();
    halvoraSupportDir();
    copyExampleEnvironmentFile();
    loadBetaEnvironmentFile();

    installCrashLogging();
    logBreadcrumb("launch");
    betaSessionLog("action", "app", std::string("launch Halvora ") + versionText);
    recordTelemetryEvent("app_launch", versionText);
    copyResourceUnlessPresent("vst_whitelist.txt", vst::defaultVstWhitelistPath());

    enginePtr = std::make_unique<Engine>();
    audioPtr = std::make_unique<AudioDeviceEngine>(*enginePtr);
    // The device's and the recording's own lines belong in the session log with the rest.
    audioPtr->log = [](const std::string &line) { betaSessionLog("action", "audio", line); };
    midiPtr = std::make_unique<MidiInput>(*enginePtr);
    mediaPrefetcher = std::make_unique<MediaPrefetcher>(*enginePtr);
    sandboxPtr = std::make_unique<vst::PluginSandboxController>();
    sandboxPtr->enabled = vst::sandboxEnabledFromEnvironment();
    rackPtr = std::make_unique<vst::PluginRack>(vst::pluginRackHostFor(*enginePtr),
                                                vst::pluginRackSandboxFor(*sandboxPtr));
    commandsPtr = std::make_unique<CommandStack>();

    CommandStack::setAuditHook([](const char *verb, const char *name) {
        betaSessionLog("action", "command", std::string(verb) + ": " + name);
    });
    vst::installPluginRackHooks(*enginePtr, *rackPtr);
    vst::PluginRack &rackRef = *rackPtr;
    enginePtr->setDeviceFormatHook([&rackRef](double rate, int32_t frames) {
        if (rate != rackRef.sampleRate || frames > rackRef.blockSize) rackRef.prepare(rate, frames);
    });
    // Bypass and automation edits made through commands must be heard from the next block,
    // not when the rack next happens to publish.
    setInsertEditHook([&rackRef] { rackRef.publishRtView(); });
    setPluginParameterHook([&rackRef](const PluginParameterAddress &address, float normalized) {
        return rackRef.setParameterAndReadState(address.trackId, address.insertIndex,
                                                address.parameterId, normalized);
    });
    setPluginStateHook(
        [&rackRef](uint64_t trackId, int32_t insertIndex, const std::vector<uint8_t> &state) {
            return rackRef.setStateAndReadState(trackId, insertIndex, state);
        });
    keepRackInStepWithInsertLists(rackRef);

    enginePtr->replaceProject(buildStartupProject(enginePtr->sampleRate.load()));
    {
        std::lock_guard lock(enginePtr->projectMutex);
        HVEnsureReturnTracks(enginePtr->project);
        enginePtr->publishGraph();
    }

    liveTick = std::make_unique<LiveTick>(*enginePtr, *audioPtr, rackPtr.get());
    viewPtr = std::make_unique<OVMainView>(*enginePtr, audioPtr.get(), *rackPtr, *commandsPtr,
                                           statusField, ui);
    viewPtr->selectedTrackId = enginePtr->project.tracks.front()->id;
    viewPtr->readAhead = [prefetcher = mediaPrefetcher.get()](int64_t position) {
        prefetcher->readAhead(position);
    };
    viewPtr->readCycleStart = [prefetcher = mediaPrefetcher.get()](int64_t start) {
        prefetcher->readCycleStart(start);
    };

    if (withAudio) startAudio();
    // MIDI from the system's sequencer; the JACK device reads its own MIDI port.
    if (withAudio && midiPtr->start())
        logBreadcrumb("midi input: " + std::to_string(midiPtr->connectedSources()) + " sources");

    // Remote control comes last: what it carries out needs the document, audio and MIDI.
    remotePtr = std::make_unique<RemoteControl>(*this);
    std::error_code noProgram;
    const std::string program =
        std::filesystem::read_symlink("/proc/self/exe", noProgram).filename().string();
    (void)remotePtr->joinSessionFromEnvironment(program.empty() ? "Halvora" : program);
    (void)remotePtr->applyPreferences(readRemotePreferences()); // a refusal is on the status line

    std::string projectName;
    {
        std::lock_guard lock(enginePtr->projectMutex);
        projectName = enginePtr->project.name;
    }
    writeSessionMeta(SessionMeta{false, unixTimeNow(), sessionStart, projectName});
}

bool OVApplication::applyPersistedAudioSettings() {
    AudioDeviceEngine &device = *audioPtr;
    const fs::path settingsPath = deviceSettingsPath();
    std::string warnings;
    DeviceSettings settings = loadDeviceSettings(settingsPath, &warnings);
    if (!warnings.empty()) betaSessionLog("error", "audio", "settings: " + warnings);
    device.listDevices();

    bool forget = false;
    uint32_t output = device.deviceIdByName(settings.outputDevice);
    if (!settings.outputDevice.empty() && !device.isValidDevice(output, false, true)) {
        settings.outputDevice.clear();
        forget = true;
    }
    if (settings.outputDevice.empty()) output = device.defaultOutputDeviceId();
    uint32_t input = device.deviceIdByName(settings.inputDevice);
    if (!settings.inputDevice.empty() && !device.isValidDevice(input, true, false)) {
        settings.inputDevice.clear();
        forget = true;
    }
    if (settings.inputDevice.empty()) input = 0;
    std::string error;
    if (forget && !saveDeviceSettings(settingsPath, settings, error))
        betaSessionLog("error", "audio", "settings: " + error);
    device.setTransportSync(settings.sync);
    return device.applySettings(output, input, clampBufferFrames(settings.bufferSize));
}

void OVApplication::startAudio() {
    AudioDeviceEngine &device = *audioPtr;
    if (!applyPersistedAudioSettings() || !device.start()) {
        statusField.setText(
            withArguments(translate("OVApplication", "Audio: %1"), {device.lastError}));
        logBreadcrumb("audio start failed: " + device.lastError);
        betaSessionLog("error", "audio", "start failed: " + device.lastError);
        return;
    }
    rackPtr->prepare(device.sampleRate, device.bufferFrames);
    // The audio thread must not wait on a page that was swapped out.
    if (!lockMemoryIfAllowed())
        betaSessionLog("action", "audio", "memory not locked: the lock limit does not allow it");
    {
        std::lock_guard lock(enginePtr->projectMutex);
        enginePtr->project.sampleRate = device.sampleRate;
    }
    const std::string input =
        device.inputDeviceName.empty() ? device.outputDeviceName : device.inputDeviceName;
    statusField.setText(std::to_string(static_cast<int64_t>(std::lround(device.sampleRate))) +
                        " Hz " + device.outputDeviceName + "→" + input);
}

namespace {
int32_t latencySamples(double rate, double milliseconds) {
    return rate > 0.0 ? static_cast<int32_t>(std::lround(rate * milliseconds / 1000.0)) : 0;
}
} // namespace

bool OVApplication::applyAudioSettings(const AudioSettingsChoice &choice) {
    AudioDeviceEngine &device = *audioPtr;
    if (enginePtr->transport.recording.load()) {
        statusField.setText(translate("OVApplication", "Stop recording before changing devices"));
        return false;
    }
    if (device.listDevices().empty()) {
        statusField.setText(translate("OVApplication", "No audio devices found"));
        return false;
    }
    if (choice.outputDevice.empty() || choice.inputDevice.empty() || choice.bufferFrames < 1) {
        statusField.setText(translate("OVApplication", "Choose the input and output devices"));
        return false;
    }
    const uint32_t output = device.deviceIdByName(choice.outputDevice);
    const uint32_t input = device.deviceIdByName(choice.inputDevice);
    if (output == 0 || input == 0) {
        // A device that went away since the panel listed it: never fall back silently.
        const std::string &gone = output == 0 ? choice.outputDevice : choice.inputDevice;
        statusField.setText(
            withArguments(translate("OVApplication", "Audio error: no device “%1”"), {gone}));
        return false;
    }
    if (!device.applySettings(output, input, choice.bufferFrames) ||
        (!device.outputRunning.load() && !device.start())) {
        statusField.setText(
            withArguments(translate("OVApplication", "Audio error: %1"), {device.lastError}));
        return false;
    }
    const double rate = device.sampleRate;
    rackPtr->prepare(rate, device.bufferFrames);
    {
        std::lock_guard lock(enginePtr->projectMutex);
        enginePtr->project.sampleRate = rate;
        enginePtr->project.inputLatencyOffsetSamples = latencySamples(rate, choice.inputLatencyMs);
        enginePtr->project.outputLatencyOffsetSamples =
            latencySamples(rate, choice.outputLatencyMs);
    }
    viewPtr->markDocumentDirty();
    std::string error;
    // The transport and clock choices are stored beside the devices and stay as they were.
    DeviceSettings stored = loadDeviceSettings(deviceSettingsPath());
    stored.outputDevice = choice.outputDevice;
    stored.inputDevice = choice.inputDevice;
    stored.bufferSize = clampBufferFrames(choice.bufferFrames);
    if (!saveDeviceSettings(deviceSettingsPath(), stored, error))
        betaSessionLog("error", "audio", "settings: " + error);
    statusField.setText(
        withArguments(translate("OVApplication", "Audio: %1 → %2 · %3 samples · %4 Hz"),
                      {choice.outputDevice, choice.inputDevice, std::to_string(choice.bufferFrames),
                       std::to_string(static_cast<int64_t>(std::lround(rate)))}));
    return true;
}

void OVApplication::applyPrivacyPreferences(const PrivacyPreferences &prefs) {
    writePrivacyPreferences(prefs);
    recordTelemetryEvent("privacy_updated", prefs.telemetry ? "telemetry=on" : "telemetry=off");
    statusField.setText(prefs.telemetry ? translate("OVApplication", "Telemetry on (offline-first)")
                                        : translate("OVApplication", "Telemetry off"));
}

void OVApplication::checkForUpdates() {
    if (!updateCheckPtr->start(versionText))
        statusField.setText(translate("OVApplication", "An update check is already under way"));
}

bool OVApplication::offerRecoveryIfNeeded() {
    if (!recoverySnapshotExists() || previousSession.cleanShutdown) return false;
    // An autosave older than the crashed session's start belongs to an earlier session (its
    // project may not be the one named in the metadata): never offer it.
    if (recoverySnapshotTime() < previousSession.sessionStart) return false;
    const std::string &name = previousSession.projectName;
    const std::string text =
        name.empty() ? translate("OVApplication",
                                 "Halvora did not shut down properly. Recover the autosaved copy?")
                     : withArguments(translate("OVApplication",
                                               "Halvora did not shut down properly. Recover “%1”?"),
                                     {name});
    if (ui.runAlert(translate("OVApplication", "Recover the project?"), text,
                    {translate("OVApplication", "Recover"),
                     translate("OVApplication", "Start Afresh")}) != 0)
        return false;
    return viewPtr->loadRecoveryProject(name);
}

void OVApplication::onTick() {
    updateCheckPtr->presentIfDone();
    viewPtr->recording().tickCountIn();
    viewPtr->tempoTools().onUiTick();
    viewPtr->midiLearning().onUiTick();
    // The server may report a new latency when its connections change.
    enginePtr->playbackLatencyFrames.store(audioPtr->playbackLatencyFrames());
    const LiveTickReport report = liveTick->run([](const Notification &notification) {
        std::string category;
        const std::string message = describeNotification(notification, category);
        if (!message.empty()) betaSessionLog("action", category, message);
    });
    if (report.helperFailures > 0)
        betaSessionLog("error", "plugins",
                       "helper failed: " + std::to_string(report.helperFailures) + " inserts");
    tellOfHelpers(report.helperRestarts, "helper restarted: ",
                  translate("OVApplication", "A plug-in's helper stopped and was restarted: %1"));
    tellOfHelpers(
        report.helperFailureNotes, "helper not restarted: ",
        translate("OVApplication", "A plug-in's helper stopped and could not be restarted: %1"));
    for (const auto &[plugin, track] : report.nonFiniteInserts) {
        statusField.setText(withArguments(
            translate("OVApplication",
                      "Plug-in “%1” on track “%2” gave invalid values (NaN or infinity): those "
                      "blocks play dry"),
            {plugin, track}));
        betaSessionLog("error", "plugins", "non-finite output: " + plugin + " on " + track);
    }
    if (!audioLostReported && audioPtr->deviceWasLost()) {
        audioLostReported = true;
        statusField.setText(
            withArguments(translate("OVApplication", "Audio: %1"), {audioPtr->lostReason()}));
        betaSessionLog("error", "audio", "device lost: " + audioPtr->lostReason());
        offerToReconnectAudio(audioPtr->lostReason());
    }
    if (remotePtr) remotePtr->onTick();
}

// The song stays as it was; only the sound stopped. Asked once per loss: a user who says
// "Later" finds the same step in the Studio menu.
void OVApplication::offerToReconnectAudio(const std::string &reason) {
    const int choice = ui.runAlert(
        translate("OVApplication", "The audio device went away"),
        withArguments(translate("OVApplication",
                                "Halvora lost its audio device (%1). Nothing of the project is "
                                "lost. Reconnect now?"),
                      {reason}),
        {translate("OVApplication", "Reconnect"), translate("OVApplication", "Later")});
    if (choice == 0) (void)reconnectAudio();
}

bool OVApplication::reconnectAudio() {
    if (enginePtr->transport.recording.load()) {
        statusField.setText(translate("OVApplication", "Stop recording before changing devices"));
        return false;
    }
    audioPtr->stop();
    audioLostReported = false;
    startAudio();
    if (!audioPtr->outputRunning.load()) return false;
    betaSessionLog("action", "audio", "reconnected: " + audioPtr->outputDeviceName);
    return true;
}

// Each line goes to the log; the status line keeps the last.
void OVApplication::tellOfHelpers(const std::vector<std::string> &lines,
                                  const std::string &logPrefix, const std::string &statusText) {
    for (const std::string &line : lines) {
        betaSessionLog("error", "plugins", logPrefix + line);
        statusField.setText(withArguments(statusText, {line}));
    }
}

void OVApplication::onAutosave() {
    if (auto job = prepareAutosave()) runLongJobHere(*job);
}

std::optional<LongJob> OVApplication::prepareAutosave() {
    return viewPtr->prepareAutosave([this](bool written) {
        if (written) {
            logBreadcrumb("autosave_tick");
            return;
        }
        statusField.setText(withArguments(translate("OVApplication", "Autosave failed: %1"),
                                          {viewPtr->lastAutosaveError}));
        betaSessionLog("error", "autosave", "failed: " + viewPtr->lastAutosaveError);
    });
}

bool OVApplication::shouldTerminate() {
    // The take is kept before the question, so that the save the user may choose holds it; a
    // take that cannot be kept is named on the status line beside the question.
    if (viewPtr->recording().isRecordingActive())
        (void)viewPtr->recording().stopRecordingAndSaveClip();
    return viewPtr->confirmDiscardingChanges(translate("OVApplication", "Quit Halvora?"),
                                             translate("OVApplication", "Don't Save"));
}

void OVApplication::willTerminate() {
    if (terminated) return;
    terminated = true;
    logBreadcrumb("terminate");
    betaSessionLog("action", "app", "terminate");
    // A take still running was never part of the question about unsaved changes: it is kept,
    // and its autosave stays to be offered at the next start until a save holds it.
    const bool takeKeptNow = viewPtr->recording().isRecordingActive() &&
                             viewPtr->recording().stopRecordingAndSaveClip() &&
                             viewPtr->projectDirty && recoverySnapshotExists();
    std::string projectName;
    {
        std::lock_guard lock(enginePtr->projectMutex);
        projectName = enginePtr->project.name;
    }
    if (takeKeptNow || viewPtr->keepRecoveryAtQuit) {
        betaSessionLog("action", "app", "a take kept while quitting stays in the autosave");
    } else {
        // The user has saved or discarded the changes; a copy left behind could only be
        // offered later as if it were a crashed session's work.
        removeRecoverySnapshot();
    }
    writeSessionMeta(SessionMeta{!takeKeptNow, unixTimeNow(), sessionStart, projectName});
    // The upload runs beside the shutdown of the services; only its own time limit can make
    // the quit wait for it.
    BackgroundCall<int32_t> upload;
    const std::string machine = telemetryMachineIdentifier();
    const char *endpoint = std::getenv("HALVORA_TELEMETRY_URL");
    (void)upload.start([machine, url = std::string(endpoint ? endpoint : "")] { // a fresh call
        return uploadTelemetryQueueTo(url, versionText, machine);
    });
    stopServices();
    const int32_t sent = upload.wait().value_or(0);
    if (sent > 0)
        betaSessionLog("action", "telemetry", "uploaded " + std::to_string(sent) + " events");
}

void OVApplication::stopServices() {
    if (!enginePtr) return;
    // The device's callbacks reach the rack and the engine: it stops first.
    if (midiPtr) midiPtr->stop();
    if (audioPtr) audioPtr->stop();
    enginePtr->setInsertHook({});
    enginePtr->setLatencyHook({});
    enginePtr->setDeviceFormatHook({});
    setInsertEditHook({});
    setPluginParameterHook({});
    setPluginStateHook({});
    setInsertListHooks({});
    CommandStack::setAuditHook({});
    remotePtr.reset();
    viewPtr.reset();
    liveTick.reset();
    enginePtr->collectRetiredGraphs();
    if (rackPtr) {
        rackPtr->unloadAll();
        rackPtr->collectRetiredViews();
    }
    rackPtr.reset();
    sandboxPtr.reset();
    commandsPtr.reset();
    audioPtr.reset();
    midiPtr.reset();
    mediaPrefetcher.reset();
    enginePtr.reset();
}

} // namespace orvane
