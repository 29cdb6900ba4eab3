#include "app/shell/RemoteControl.h"

#include "app/shell/DocumentOperations.h"
#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/workflows/RecordingWorkflow.h"
#include "core/commands/MixerCommands.h"
#include "core/commands/TrackCommands.h"
#include "core/engine/Engine.h"
#include "core/model/MusicalTime.h"
#include "core/model/Translate.h"
#include "core/project_io/ProjectFolder.h"
#include "core/rt/RtThread.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <optional>
#include <system_error>

namespace orvane {

namespace fs = std::filesystem;
using remote::Endpoint;
using remote::NsmOutcome;
using remote::OscValue;
using remote::RemoteAction;
using remote::RemoteRequest;

namespace {

std::atomic<bool> terminationAsked{false};
/// What SIGTERM did before a session manager's client took it over.
struct sigaction terminationBefore {};
bool terminationWatched = false;

void askForTermination(int) { terminationAsked.store(true); }

bool isMixerTrack(const Track &track) { return track.type != TrackType::Unused; }

/// How many turns a state answer waits for the engine to take a transport change.
constexpr int stateWaitTicks = 15;

std::string trackPath(int32_t number, const char *what) {
    return "/halvora/track/" + std::to_string(number) + "/" + what;
}

} // namespace

RemoteControl::RemoteControl(OVApplication &app) : app(app) {}

RemoteControl::~RemoteControl() {
    // The process may go on without a session (a test's next application): SIGTERM ends it
    // again as it did before.
    if (nsm && terminationWatched) {
        sigaction(SIGTERM, &terminationBefore, nullptr);
        terminationWatched = false;
    }
}

void RemoteControl::watchForTermination() {
    struct sigaction action {};
    action.sa_handler = askForTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, terminationWatched ? nullptr : &terminationBefore);
    terminationWatched = true;
}

bool RemoteControl::terminationRequested() { return terminationAsked.load(); }

bool RemoteControl::joinSessionFromEnvironment(const std::string &executable) {
    const auto url = remote::NsmClient::urlFromEnvironment();
    if (!url) return false;
    auto client = std::make_unique<remote::NsmClient>();
    std::string error;
    if (!client->start(*url, "Halvora", executable, error)) {
        app.status().setText(
            withArguments(translate("RemoteControl", "No session manager: %1"), {error}));
        return false;
    }
    nsm = std::move(client);
    watchForTermination();
    return true;
}

bool RemoteControl::applyPreferences(const RemotePreferences &prefs) {
    const std::string host = prefs.allowNetwork ? "0.0.0.0" : "127.0.0.1";
    if (!prefs.enabled || prefs.port < 1 || prefs.port > 65535) {
        if (osc.isOpen()) {
            osc.close();
            app.status().setText(translate("RemoteControl", "Remote control off"));
        }
        return !prefs.enabled;
    }
    std::string error;
    if (!osc.open(host, static_cast<uint16_t>(prefs.port), error)) {
        app.status().setText(
            withArguments(translate("RemoteControl", "Remote control cannot listen: %1"), {error}));
        return false;
    }
    app.status().setText(
        withArguments(prefs.allowNetwork
                          ? translate("RemoteControl", "Remote control on port %1 (network)")
                          : translate("RemoteControl", "Remote control on port %1 (this computer)"),
                      {std::to_string(osc.port())}));
    return true;
}

void RemoteControl::onTick() {
    expectMainThread("RemoteControl::onTick");
    if (nsm) {
        nsm->poll(
            {[this](const remote::NsmOpenRequest &request) { return openForSession(request); },
             [this] { return saveForSession(); }});
        nsm->reportDirty(app.view().projectDirty);
    }
    if (osc.isOpen()) {
        // Answers go out in the order the messages came, refusals included.
        const std::vector<remote::OscMessage> turn = osc.take();
        std::vector<std::optional<RemoteRequest>> decoded;
        std::vector<std::string> reasons(turn.size());
        std::vector<RemoteRequest> requests;
        for (std::size_t index = 0; index < turn.size(); ++index) {
            decoded.push_back(remote::decodeRemoteRequest(turn[index], reasons[index]));
            if (decoded.back()) requests.push_back(*decoded.back());
        }
        const std::vector<bool> wanted = remote::requestsToCarryOut(requests);
        std::size_t taken = 0;
        for (std::size_t index = 0; index < turn.size(); ++index) {
            const remote::OscMessage &message = turn[index];
            if (!decoded[index]) {
                refuse(message.sender, message.path, reasons[index]);
                continue;
            }
            if (!wanted[taken++]) continue;
            try {
                carryOut(*decoded[index], message.sender);
            } catch (const std::bad_alloc &) {
                refuse(message.sender, message.path, "not enough memory");
            }
        }
    }
    logRefusals();
    const bool playing = app.engine().transport.playing.load();
    for (auto owed = pendingStates.begin(); owed != pendingStates.end();) {
        if (owed->ticksLeft-- <= 0 || !owed->playing || *owed->playing == playing) {
            sendState(owed->to);
            owed = pendingStates.erase(owed);
        } else {
            ++owed;
        }
    }
}

void RemoteControl::logRefusals() {
    // A flood writes one line a second at most, with the running totals.
    if (++turnsSinceLog < 30) return;
    turnsSinceLog = 0;
    remote::OscSocket::Counts counts = osc.counts();
    if (nsm) {
        const remote::OscSocket::Counts session = nsm->counts();
        counts.refused += session.refused + nsm->ignored();
        counts.dropped += session.dropped;
    }
    const uint64_t total = counts.refused + counts.dropped + refused;
    if (total == refusalsLogged) return;
    refusalsLogged = total;
    betaSessionLog("error", "remote",
                   "refused " + std::to_string(counts.refused + refused) +
                       " malformed or invalid, " + "dropped " + std::to_string(counts.dropped) +
                       " beyond the queue");
}

NsmOutcome RemoteControl::openForSession(const remote::NsmOpenRequest &request) {
    OVMainView &view = app.view();
    std::string path = request.path;
    if (fs::path(path).extension() != ".halvora") path += ".halvora";
    std::error_code error;
    if (fs::exists(path, error)) {
        if (!view.loadProjectFromBundle(path))
            return {remote::nsm_error::badProject, app.status().text()};
        return {0, "opened " + path};
    }
    fs::create_directories(fs::path(path).parent_path(), error);
    if (error) return {remote::nsm_error::createFailed, error.message()};
    // The new project is written first and then opened, so that a place that cannot be
    // written leaves the document as it was. The session manager saved or discarded the
    // document it switches from; nobody is asked about its unsaved changes.
    Project made = buildNewProject(app.engine().sampleRate.load());
    HVEnsureReturnTracks(made);
    if (!request.displayName.empty()) made.name = request.displayName;
    const project_io::SaveResult written = project_io::saveProject(made, path, false);
    if (!written.ok) return {remote::nsm_error::createFailed, written.error};
    if (!view.loadProjectFromBundle(path))
        return {remote::nsm_error::createFailed, app.status().text()};
    return {0, "created " + path};
}

NsmOutcome RemoteControl::saveForSession() {
    OVMainView &view = app.view();
    if (view.projectPath.empty()) return {remote::nsm_error::noSessionOpen, "no project is open"};
    if (!view.saveProjectToPath(view.projectPath, true))
        return {remote::nsm_error::general, app.status().text()};
    app.status().setText(translate("OVMainView", "Project saved"));
    return {0, "saved " + view.projectPath};
}

void RemoteControl::refuse(const Endpoint &sender, const std::string &path,
                           const std::string &why) {
    ++refused;
    osc.send(sender, "/halvora/error",
             {OscValue::ofString(path.substr(0, 256)), OscValue::ofString(why.substr(0, 512))});
}

uint64_t RemoteControl::trackIdAt(int32_t number) const {
    Engine &engine = app.engine();
    std::lock_guard lock(engine.projectMutex);
    int32_t seen = 0;
    for (const auto &track : engine.project.tracks)
        if (track && isMixerTrack(*track) && ++seen == number) return track->id;
    return 0;
}

void RemoteControl::carryOut(const RemoteRequest &request, const Endpoint &sender) {
    OVMainView &view = app.view();
    Engine &engine = app.engine();
    switch (request.action) {
    case RemoteAction::Play:
        view.play();
        pendingStates.push_back({sender, true, stateWaitTicks});
        return;
    case RemoteAction::Stop:
        view.stop();
        pendingStates.push_back({sender, false, stateWaitTicks});
        return;
    case RemoteAction::Record:
        view.recording().toggleRecording();
        pendingStates.push_back({sender, std::nullopt, 2});
        return;
    case RemoteAction::LocateSeconds:
    case RemoteAction::LocateBeats: {
        int64_t position = 0;
        {
            std::lock_guard lock(engine.projectMutex);
            const Project &project = engine.project;
            position = request.action == RemoteAction::LocateSeconds
                           ? std::llround(request.value * project.sampleRate)
                           : musicalBeatsToSamples(request.value, project.sampleRate,
                                                   project.tempoMarkers, project.tempoBpm);
        }
        view.locate(position);
        pendingStates.push_back({sender, std::nullopt, 2});
        return;
    }
    case RemoteAction::GotoMarker: {
        std::optional<int64_t> position;
        {
            std::lock_guard lock(engine.projectMutex);
            std::vector<int64_t> positions;
            for (const Marker &marker : engine.project.markers)
                positions.push_back(marker.position);
            std::sort(positions.begin(), positions.end());
            if (static_cast<std::size_t>(request.index) <= positions.size())
                position = positions[static_cast<std::size_t>(request.index) - 1];
        }
        if (!position)
            return refuse(sender, "/halvora/goto_marker",
                          "no marker " + std::to_string(request.index));
        view.locate(*position);
        pendingStates.push_back({sender, std::nullopt, 2});
        return;
    }
    case RemoteAction::State: return sendState(sender);
    case RemoteAction::Undo:
    case RemoteAction::Redo:
        if (request.action == RemoteAction::Undo)
            view.undoEdit();
        else
            view.redoEdit();
        return sendState(sender);
    case RemoteAction::SceneLaunch: {
        uint64_t sceneId = 0;
        {
            std::lock_guard lock(engine.projectMutex);
            const auto &scenes = engine.project.session.scenes;
            if (static_cast<std::size_t>(request.index) <= scenes.size())
                sceneId = scenes[static_cast<std::size_t>(request.index) - 1].id;
        }
        if (sceneId == 0)
            return refuse(sender, "/halvora/scene/launch",
                          "no scene " + std::to_string(request.index));
        // A launch with the transport stopped starts it, as the grid's pads do.
        if (!engine.transport.playing.load())
            (void)engine.pushRequest(RequestProducer::MainThread, Request::play());
        (void)engine.pushRequest(RequestProducer::MainThread, Request::launchScene(sceneId));
        osc.send(sender, "/halvora/scene/launch", {OscValue::ofInt(request.index)});
        pendingStates.push_back({sender, true, stateWaitTicks});
        return;
    }
    case RemoteAction::ClipLaunch: {
        const uint64_t trackId = trackIdAt(request.track);
        uint64_t clipId = 0;
        if (trackId != 0) {
            std::lock_guard lock(engine.projectMutex);
            if (const auto track = engine.project.findTrack(trackId))
                for (const auto &clip : track->clips)
                    if (clip && clip->sessionRow == request.index - 1) {
                        clipId = clip->id;
                        break;
                    }
        }
        if (clipId == 0)
            return refuse(sender, "/halvora/clip/launch",
                          "no clip on track " + std::to_string(request.track) + " slot " +
                              std::to_string(request.index));
        if (!engine.transport.playing.load())
            (void)engine.pushRequest(RequestProducer::MainThread, Request::play());
        (void)engine.pushRequest(RequestProducer::MainThread, Request::launchClip(clipId));
        osc.send(sender, "/halvora/clip/launch",
                 {OscValue::ofInt(request.track), OscValue::ofInt(request.index)});
        pendingStates.push_back({sender, true, stateWaitTicks});
        return;
    }
    default: break;
    }

    // The track's settings, changed through the mixer's own undoable commands (arming aside).
    const uint64_t trackId = trackIdAt(request.track);
    if (trackId == 0)
        return refuse(sender, "/halvora/track/" + std::to_string(request.track),
                      "no track " + std::to_string(request.track));
    if (request.action == RemoteAction::TrackQuery) {
        for (RemoteAction what :
             {RemoteAction::TrackMute, RemoteAction::TrackSolo, RemoteAction::TrackArm,
              RemoteAction::TrackGain, RemoteAction::TrackPan})
            sendTrack(sender, request.track, what);
        for (int32_t send = 1; send <= remote::RemoteRanges::sends; ++send)
            sendTrack(sender, request.track, RemoteAction::TrackSend, send);
        return;
    }
    std::unique_ptr<Command> command;
    std::optional<bool> armTo;
    bool feedsNoReturn = false;
    {
        std::lock_guard lock(engine.projectMutex);
        const auto track = engine.project.findTrack(trackId);
        if (!track) return;
        TrackFaderState fader{track->gain, track->pan, track->mute, track->solo};
        const bool on = request.value >= 0.5;
        switch (request.action) {
        case RemoteAction::TrackMute: fader.mute = on; break;
        case RemoteAction::TrackSolo: fader.solo = on; break;
        case RemoteAction::TrackGain: fader.gain = static_cast<float>(request.value); break;
        case RemoteAction::TrackPan: fader.pan = static_cast<float>(request.value); break;
        case RemoteAction::TrackArm:
            // Arming is no edit of the song, here as in the window: it takes no undo step.
            if (track->armed != on) armTo = on;
            break;
        case RemoteAction::TrackSend: {
            const auto slot = static_cast<std::size_t>(request.index - 1);
            if (slot >= std::size(track->sends)) break;
            SendSlot send = track->sends[slot];
            if (send.returnId == 0) break;
            send.level = static_cast<float>(request.value);
            if (!(send == track->sends[slot]))
                command = std::make_unique<SetTrackSendCommand>(trackId, request.index - 1, send);
            break;
        }
        default: break;
        }
        const bool faderAction = request.action == RemoteAction::TrackMute ||
                                 request.action == RemoteAction::TrackSolo ||
                                 request.action == RemoteAction::TrackGain ||
                                 request.action == RemoteAction::TrackPan;
        const TrackFaderState before{track->gain, track->pan, track->mute, track->solo};
        if (faderAction && (fader.gain != before.gain || fader.pan != before.pan ||
                            fader.mute != before.mute || fader.solo != before.solo))
            command = std::make_unique<SetTrackMixerCommand>(trackId, fader.gain, fader.pan,
                                                             fader.mute, fader.solo);
        if (request.action == RemoteAction::TrackSend) {
            const auto slot = static_cast<std::size_t>(request.index - 1);
            feedsNoReturn = slot >= std::size(track->sends) || track->sends[slot].returnId == 0;
        }
    }
    if (feedsNoReturn)
        return refuse(sender, trackPath(request.track, "send/") + std::to_string(request.index),
                      "send " + std::to_string(request.index) + " feeds no return");
    // A value the track already has is no edit: the history and the unsaved state stay.
    if (command) view.executeEdit(std::move(command));
    if (armTo) view.setTrackArmed(trackId, *armTo);
    sendTrack(sender, request.track, request.action, request.index);
}

void RemoteControl::sendTrack(const Endpoint &sender, int32_t number, RemoteAction what,
                              int32_t send) {
    Engine &engine = app.engine();
    const uint64_t trackId = trackIdAt(number);
    std::lock_guard lock(engine.projectMutex);
    const auto track = engine.project.findTrack(trackId);
    if (!track) return;
    switch (what) {
    case RemoteAction::TrackMute:
        osc.send(sender, trackPath(number, "mute"), {OscValue::ofInt(track->mute)});
        break;
    case RemoteAction::TrackSolo:
        osc.send(sender, trackPath(number, "solo"), {OscValue::ofInt(track->solo)});
        break;
    case RemoteAction::TrackArm:
        osc.send(sender, trackPath(number, "arm"), {OscValue::ofInt(track->armed)});
        break;
    case RemoteAction::TrackGain:
        osc.send(sender, trackPath(number, "gain"), {OscValue::ofFloat(track->gain)});
        break;
    case RemoteAction::TrackPan:
        osc.send(sender, trackPath(number, "pan"), {OscValue::ofFloat(track->pan)});
        break;
    case RemoteAction::TrackSend: {
        const auto slot = static_cast<std::size_t>(send - 1);
        if (slot >= std::size(track->sends)) break;
        osc.send(sender, trackPath(number, "send/") + std::to_string(send),
                 {OscValue::ofFloat(track->sends[slot].level)});
        break;
    }
    default: break;
    }
}

void RemoteControl::sendState(const Endpoint &sender) {
    Engine &engine = app.engine();
    const bool playing = engine.transport.playing.load();
    const bool recording = engine.transport.recording.load();
    const int64_t playhead = engine.transport.playhead.load();
    double seconds = 0.0;
    double beats = 0.0;
    {
        std::lock_guard lock(engine.projectMutex);
        const Project &project = engine.project;
        if (project.sampleRate > 0.0) seconds = static_cast<double>(playhead) / project.sampleRate;
        beats = samplesToMusicalBeats(playhead, project.sampleRate, project.tempoMarkers,
                                      project.tempoBpm);
    }
    osc.send(sender, "/halvora/state",
             {OscValue::ofString(recording ? "recording"
                                 : playing ? "playing"
                                           : "stopped"),
              OscValue::ofDouble(seconds), OscValue::ofDouble(beats),
              OscValue::ofDouble(engine.tempo.load())});
}

} // namespace orvane
