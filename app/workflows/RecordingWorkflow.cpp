#include "app/workflows/RecordingWorkflow.h"

#include "app/shell/ApplicationUi.h"
#include "app/shell/OVMainView.h"
#include "core/engine/Engine.h"
#include "core/model/Translate.h"
#include "core/plugins/PluginRack.h"
#include "device/AudioDeviceEngine.h"
#include "device/Recording.h"

#include <algorithm>
#include <mutex>
#include <optional>

namespace orvane {

namespace {

std::string couldNotStart() { return translate("RecordingWorkflow", "Could not start recording"); }

std::string quoted(const std::string &name) {
    return withArguments(translate("RecordingWorkflow", "“%1”"), {name});
}

/// What a live-loop take says, `pattern` holding the row as %1, the column as %2 and
/// `detail` as %3.
std::string liveLoopText(const char *pattern, int32_t row, int32_t column,
                         const std::string &detail) {
    return withArguments(translate("RecordingWorkflow", pattern),
                         {std::to_string(row), std::to_string(column), detail});
}

bool isRecordableTrack(const Track &track) {
    return track.type == TrackType::Audio || track.type == TrackType::Midi;
}

} // namespace

RecordingWorkflow::RecordingWorkflow(const WorkspaceServices &services, OVMainView &view)
    : services(services), view(view) {}

void RecordingWorkflow::show(const std::string &text) { services.status.setText(text); }

void RecordingWorkflow::post(const Request &request) {
    (void)services.engine.pushRequest(RequestProducer::MainThread, request);
}

bool RecordingWorkflow::isRecordingActive() const {
    return midiTakeRunning || (services.audio && services.audio->recording.load());
}

uint64_t RecordingWorkflow::armedOrSelectedRecordTrackId() const {
    std::lock_guard lock(services.engine.projectMutex);
    const Project &project = services.engine.project;
    for (const auto &track : project.tracks)
        if (track->armed && isRecordableTrack(*track)) return track->id;
    const auto selected = project.findTrack(view.selectedTrackId);
    return selected && isRecordableTrack(*selected) ? selected->id : 0;
}

void RecordingWorkflow::armOnly(uint64_t trackId) {
    for (const auto &track : services.engine.project.tracks)
        track->armed = track->id == trackId;
    services.engine.publishGraph();
}

uint64_t RecordingWorkflow::pickOrAddTarget() {
    const uint64_t candidate = armedOrSelectedRecordTrackId();
    std::lock_guard lock(services.engine.projectMutex);
    Project &project = services.engine.project;
    if (candidate != 0) {
        // Armed tracks stay armed: every armed audio track records its own input pair and an
        // armed MIDI track its notes, all on the same press. A track that is only selected is
        // armed alone.
        const auto chosen = project.findTrack(candidate);
        if (!chosen || !chosen->armed) armOnly(candidate);
        return candidate;
    }
    const auto selected = project.findTrack(view.selectedTrackId);
    const bool midi = selected && selected->type == TrackType::Midi;
    const std::string number = std::to_string(project.tracks.size() + 1);
    const auto added = project.addTrack(
        midi ? TrackType::Midi : TrackType::Audio,
        withArguments(midi ? translate("Track", "MIDI %1") : translate("Track", "Audio %1"),
                      {number}));
    if (!added) return 0;
    armOnly(added->id);
    view.selectedTrackId = added->id;
    view.markDocumentDirty();
    show(midi ? translate("RecordingWorkflow", "MIDI track added (R records)")
              : translate("RecordingWorkflow", "Empty audio track added (R records)"));
    return added->id;
}

void RecordingWorkflow::toggleRecording() {
    Engine &engine = services.engine;
    if (countInActive) {
        countInActive = false;
        post(Request::stop());
        show(translate("RecordingWorkflow", "Count-in cancelled"));
        return;
    }
    if (isRecordingActive()) {
        (void)stopRecordingAndSaveClip(); // a failure is on the status line
        return;
    }
    if (engine.transport.recording.load()) {
        post(Request::recordToggle());
        post(Request::stop());
        recordingTargetTrackId = 0;
        return;
    }
    // Linux has no microphone permission to ask for: access counts as granted.
    const uint64_t target = pickOrAddTarget();
    if (target == 0) {
        show(couldNotStart());
        return;
    }
    recordingTargetTrackId = target;
    openInputPairsOfArmedTracks();
    int32_t countInBars = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        countInBars = engine.project.countInBars;
        if (!engine.project.metronomeEnabled || !engine.transport.metronomeOn.load()) {
            engine.project.metronomeEnabled = true;
            engine.transport.metronomeOn.store(true);
        }
    }
    view.followPlayhead = true;
    if (!sessionModeOn() && !slotRequested) view.tab = OVMainView::Tab::Timeline;
    if (countInBars < 1) {
        startActualRecordingOnTrack(target);
        return;
    }
    const int64_t playhead = engine.transport.playhead.load();
    const int64_t preRoll = engine.barLengthSamples() * countInBars;
    const int64_t from = std::max<int64_t>(0, playhead - preRoll);
    countInTargetTrack = target;
    countInRecordStartSamples = playhead;
    countInPlayheadRewound = from >= playhead;
    // The jump back must find its media read, as any locate of the window does.
    if (view.readAhead) view.readAhead(from);
    post(Request::locate(from));
    post(Request::play());
    countInActive = true;
    show(translate("RecordingWorkflow", "Count-in of %n bar(s)…", nullptr, int(countInBars)));
}

void RecordingWorkflow::tickCountIn() {
    if (!countInActive || !services.audio) return;
    const int64_t playhead = services.engine.transport.playhead.load();
    if (!countInPlayheadRewound) {
        if (playhead >= countInRecordStartSamples) return;
        countInPlayheadRewound = true;
    }
    if (playhead < countInRecordStartSamples) return;
    countInActive = false;
    startActualRecordingOnTrack(countInTargetTrack);
}

void RecordingWorkflow::chooseSessionDestination() {
    Project &project = services.engine.project;
    const bool sessionShown = view.tab == OVMainView::Tab::Session;
    const auto selectedClip = [&]() -> std::shared_ptr<Clip> {
        for (const auto &track : project.tracks)
            for (const auto &clip : track->clips)
                if (clip->id == view.selectedClipId) return clip;
        return nullptr;
    }();
    if (sessionOverdubMode && sessionShown && selectedClip &&
        selectedClip->kind == ClipKind::Audio && selectedClip->isSessionClip()) {
        sessionOverdubClipId = selectedClip->id;
        return;
    }
    int32_t row = hoveredSessionRow, column = hoveredSessionCol;
    if (slotRequested) {
        // Asked for by name: this take only, whatever the modes.
        slotRequested = false;
        row = requestedSlotRow;
        column = requestedSlotCol;
    } else {
        if (sessionOverdubMode || !liveLoopMode || !sessionShown) return;
        if (selectedClip && selectedClip->isSessionClip()) {
            row = selectedClip->sessionRow;
            column = selectedClip->sessionCol;
        }
    }
    // Columns are the project's tracks in order; a cell beyond them has no track.
    if (row < 0 || column < 0 || static_cast<std::size_t>(column) >= project.tracks.size()) return;
    sessionRecordSlotValid = true;
    sessionRecordRow = row;
    sessionRecordCol = column;
    recordingTargetTrackId = project.tracks[static_cast<std::size_t>(column)]->id;
}

void RecordingWorkflow::startActualRecordingOnTrack(uint64_t trackId) {
    Engine &engine = services.engine;
    recordingTargetTrackId = trackId;
    midiTargetTrackId = 0;
    alsoMidiTrackIds.clear();
    sessionOverdubClipId = 0;
    sessionRecordSlotValid = false;
    bool audioTake = false;
    {
        std::lock_guard lock(engine.projectMutex);
        chooseSessionDestination();
        const Project &project = engine.project;
        const auto target = project.findTrack(recordingTargetTrackId);
        const bool targetIsMidi = target && target->type == TrackType::Midi;
        if (sessionOverdubClipId != 0 || sessionRecordSlotValid) {
            // A slot or an overdub is one track's take.
            if (targetIsMidi) midiTargetTrackId = recordingTargetTrackId;
            audioTake = !targetIsMidi;
        } else {
            // In the arrangement every armed MIDI track records the keys it hears while the
            // armed audio tracks record their inputs; the audio take leads.
            uint64_t firstAudio = target && !targetIsMidi ? recordingTargetTrackId : 0;
            midiTargetTrackId = targetIsMidi ? recordingTargetTrackId : 0;
            for (const auto &track : project.tracks) {
                if (!track->armed) continue;
                if (track->type == TrackType::Audio && firstAudio == 0) firstAudio = track->id;
                if (track->type != TrackType::Midi || track->id == midiTargetTrackId) continue;
                if (midiTargetTrackId == 0)
                    midiTargetTrackId = track->id;
                else
                    alsoMidiTrackIds.push_back(track->id);
            }
            audioTake = firstAudio != 0 || !targetIsMidi;
            if (firstAudio != 0) recordingTargetTrackId = firstAudio;
        }
    }
    if (midiTargetTrackId != 0 && !startMidiRecording()) {
        show(couldNotStart());
        post(Request::stop());
        return;
    }
    if (audioTake && !startAudioRecording()) {
        if (midiTakeRunning) {
            midiTakeRunning = false;
            (void)engine.endMidiRecording(engine.transport.playhead.load());
        }
        post(Request::stop());
        return;
    }
    // A running take is an unsaved change: quitting or opening another project must ask.
    view.markDocumentDirty();
    post(Request::recordToggle());
    if (!engine.transport.playing.load()) post(Request::play());
    if (!audioTake) show(translate("RecordingWorkflow", "Recording MIDI…"));
}

bool RecordingWorkflow::startMidiRecording() {
    Engine &engine = services.engine;
    const int64_t playhead = engine.transport.playhead.load();
    if (!engine.beginMidiRecording(playhead)) return false;
    midiTakeRunning = true;
    midiTakeStart = playhead;
    return true;
}

bool RecordingWorkflow::startAudioRecording() {
    AudioDeviceEngine *audio = services.audio;
    // An arrangement take of a saved project is written beside it as it is recorded, so that
    // a crash leaves it to be placed the next time the project opens; a session take, or one
    // of a project without a folder yet, lives in memory until it is kept.
    if (audio)
        audio->keepTakesOnDisk(
            sessionOverdubClipId != 0 || sessionRecordSlotValid ? std::string() : view.projectPath,
            inputTargets());
    if (!audio || !audio->beginRecording()) {
        show(audio && !audio->lastError.empty() ? audio->lastError : couldNotStart());
        return false;
    }
    services.rack.prepare(audio->sampleRate, audio->bufferFrames);
    const std::string input = quoted(audio->inputDeviceName);
    if (sessionOverdubClipId != 0)
        show(withArguments(translate("RecordingWorkflow", "Overdubbing from %1…"), {input}));
    else if (sessionRecordSlotValid)
        show(liveLoopText(QT_TRANSLATE_NOOP("RecordingWorkflow", "Live Loop R%1 C%2 — %3…"),
                          sessionRecordRow, sessionRecordCol, input));
    else if (midiTakeRunning)
        show(withArguments(translate("RecordingWorkflow", "Recording from %1 and MIDI…"), {input}));
    else
        show(withArguments(translate("RecordingWorkflow", "Recording from %1…"), {input}));
    return true;
}

bool RecordingWorkflow::stopRecordingAndSaveClip() {
    const bool audioRunning = services.audio && services.audio->recording.load();
    if (!midiTakeRunning && !audioRunning) return false;
    Engine &engine = services.engine;
    // The notes end where Stop was pressed, before the audio take is placed.
    std::optional<KeptTake> midi;
    if (midiTakeRunning) midi = stopMidiRecording();
    std::optional<KeptTake> audio;
    if (audioRunning) audio = stopAudioRecording();
    if (engine.transport.recording.load()) post(Request::recordToggle());
    post(Request::stop());
    sessionOverdubClipId = 0;
    sessionRecordSlotValid = false;
    const KeptTake *lead = audio && audio->clipId != 0 ? &*audio
                           : midi && midi->clipId != 0 ? &*midi
                                                       : nullptr;
    if (lead) keepTake(lead->trackId, lead->clipId);
    // From here the document and its autosave hold the audio take.
    if (audio && audio->clipId != 0) services.audio->forgetTakesOnDisk();
    std::string text;
    for (const auto *take : {audio ? &*audio : nullptr, midi ? &*midi : nullptr})
        if (take) text += (text.empty() ? "" : " · ") + take->status;
    show(text);
    return true;
}

void RecordingWorkflow::keepTake(uint64_t trackId, uint64_t clipId) {
    view.selectedTrackId = trackId;
    view.selectedClipId = clipId;
    view.followPlayhead = true;
    view.fitTimelineToContent();
    view.markDocumentDirty();
    // Failing, it leaves the last autosave, and the document stays marked unsaved.
    (void)view.performAutosaveSilently();
}

RecordingWorkflow::KeptTake RecordingWorkflow::stopAudioRecording() {
    AudioDeviceEngine *audio = services.audio;
    Engine &engine = services.engine;
    const std::vector<InputRecordingTarget> targets = inputTargets();
    const std::vector<RecordingOutcome> outcomes =
        audio->finishRecordingInputsIntoProject(engine, targets);
    const uint64_t trackId = outcomes.front().trackId, clipId = outcomes.front().clipId;
    const int64_t frames = outcomes.front().frames;
    const auto alsoRecorded = std::count_if(outcomes.begin() + 1, outcomes.end(),
                                            [](const RecordingOutcome &o) { return o.frames > 0; });
    if (frames < 1 || trackId == 0) {
        audio->forgetTakesOnDisk();
        return {0, 0,
                !audio->lastError.empty()
                    ? withArguments(translate("RecordingWorkflow", "Recording failed: %1"),
                                    {audio->lastError})
                    : translate("RecordingWorkflow",
                                "The recording is empty: check the access to the microphone")};
    }
    const bool overdub = sessionOverdubClipId != 0;
    view.tab =
        overdub || sessionRecordSlotValid ? OVMainView::Tab::Session : OVMainView::Tab::Timeline;
    std::string count =
        withArguments(translate("RecordingWorkflow", "%1 samples"), {std::to_string(frames)});
    // The take was patched with silence where input was lost: it is kept, and said so.
    if (audio->lastRecordingOverflowFrames > 0)
        count += withArguments(
            translate("RecordingWorkflow", " (input frames lost: %1, filled with silence)"),
            {std::to_string(audio->lastRecordingOverflowFrames)});
    std::string text;
    if (overdub)
        text = withArguments(translate("RecordingWorkflow", "Session overdub — %1"), {count});
    else if (sessionRecordSlotValid)
        text = liveLoopText(QT_TRANSLATE_NOOP("RecordingWorkflow", "Live Loop R%1 C%2 — %3"),
                            sessionRecordRow, sessionRecordCol, count);
    else if (alsoRecorded > 0)
        text = withArguments(translate("RecordingWorkflow", "Recording saved: %1 (+%n track(s))",
                                       nullptr, int(alsoRecorded)),
                             {count});
    else
        text = withArguments(translate("RecordingWorkflow", "Recording saved: %1"), {count});
    return {trackId, clipId, text};
}

std::vector<InputRecordingTarget> RecordingWorkflow::inputTargets() const {
    Engine &engine = services.engine;
    std::lock_guard lock(engine.projectMutex);
    const auto main = engine.project.findTrack(recordingTargetTrackId);
    std::vector<InputRecordingTarget> targets{
        {main ? main->inputPair : 0,
         RecordingDestination{recordingTargetTrackId, sessionOverdubClipId,
                              sessionRecordSlotValid ? sessionRecordRow : -1,
                              sessionRecordSlotValid ? sessionRecordCol : -1}}};
    // A take for a session slot or an overdub is one track's; in the arrangement every armed
    // audio track records its own input pair on the same frames.
    if (sessionOverdubClipId != 0 || sessionRecordSlotValid) return targets;
    for (const auto &track : engine.project.tracks)
        if (track->armed && track->type == TrackType::Audio && track->id != recordingTargetTrackId)
            targets.push_back({track->inputPair, RecordingDestination{track->id}});
    return targets;
}

void RecordingWorkflow::openInputPairsOfArmedTracks() {
    AudioDeviceEngine *audio = services.audio;
    if (!audio) return;
    int32_t needed = 1;
    for (const InputRecordingTarget &target : inputTargets())
        needed = std::max(needed, target.inputPair + 1);
    needed = std::min(needed, maxInputPairs);
    // Only a running device with too few pairs: the first pair is always open, and a stopped
    // device has no input to capture at all.
    if (needed <= 1 || !audio->outputRunning.load() || audio->capturedInputPairs() >= needed)
        return;
    // The device captures only the pairs it opened: it is opened again, before the take.
    audio->inputPairs = needed;
    if (!audio->applySettings(audio->outputDeviceId, audio->inputDeviceId,
                              audio->requestedBufferFrames))
        show(withArguments(translate("RecordingWorkflow", "Inputs for %n pair(s) not opened: %1",
                                     nullptr, int(needed)),
                           {audio->lastError}));
}

RecordingWorkflow::KeptTake RecordingWorkflow::stopMidiRecording() {
    Engine &engine = services.engine;
    midiTakeRunning = false;
    std::vector<MidiNote> notes = engine.endMidiRecording(engine.transport.playhead.load());
    if (services.audio) alignRecordedNotes(notes, services.audio->midiInputLatencyFrames());
    const auto empty = [] {
        return KeptTake{0, 0, translate("RecordingWorkflow", "The MIDI recording is empty")};
    };
    const auto noTarget = [] {
        return KeptTake{0, 0, translate("RecordingWorkflow", "MIDI recording: no target track")};
    };
    if (notes.empty()) return empty();
    if (sessionRecordSlotValid) return keepMidiLoop(std::move(notes));
    int64_t start = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        const auto track = engine.project.findTrack(midiTargetTrackId);
        if (!track || track->type != TrackType::Midi) return noTarget();
        start = engine.quantizeSamples(midiTakeStart, engine.project.gridQuantize, 0.0f);
    }
    const auto passes = placeCyclePassNotes(engine, midiTargetTrackId, notes, midiTakeStart,
                                            engine.midiTakeFrames());
    if (passes)
        for (const uint64_t also : alsoMidiTrackIds)
            (void)placeCyclePassNotes(engine, also, notes, midiTakeStart, engine.midiTakeFrames());
    // Every note was played before the cycle began.
    if (passes && passes->clipId == 0) return empty();
    // The notes were timed from the recording start; the clip starts on the grid.
    const int64_t shift = midiTakeStart - start;
    for (auto &note : notes)
        note.start = std::max<int64_t>(note.start + shift, 0);
    if (!passes)
        for (const uint64_t also : alsoMidiTrackIds)
            (void)placeRecordedNotes(engine, also, notes, start, 0);
    const auto outcome =
        passes ? *passes
               : placeRecordedNotes(engine, midiTargetTrackId, std::move(notes), start, 0);
    if (outcome.clipId == 0) return noTarget();
    const std::size_t count = [&] {
        std::lock_guard lock(engine.projectMutex);
        const auto track = engine.project.findTrack(outcome.trackId);
        for (const auto &clip : track->clips)
            if (clip->id == outcome.clipId) return clip->notes.size();
        return std::size_t{0};
    }();
    view.tab = OVMainView::Tab::Timeline;
    view.markDocumentDirty();
    return {
        outcome.trackId, outcome.clipId,
        translate("RecordingWorkflow", "MIDI recording saved: %n note(s)", nullptr, int(count))};
}

void RecordingWorkflow::recordIntoSessionSlot(uint64_t trackId, int32_t row, int32_t column) {
    if (countInActive || isRecordingActive() || row < 0 || column < 0) return;
    slotRequested = true;
    requestedSlotRow = row;
    requestedSlotCol = column;
    view.selectedTrackId = trackId;
    view.selectedClipId = 0;
    toggleRecording();
    // Refused at once: a later press is an ordinary one.
    if (!countInActive && !isRecordingActive()) slotRequested = false;
}

RecordingWorkflow::KeptTake RecordingWorkflow::keepMidiLoop(std::vector<MidiNote> notes) {
    Engine &engine = services.engine;
    std::lock_guard lock(engine.projectMutex);
    Project &project = engine.project;
    const auto track = project.findTrack(midiTargetTrackId);
    if (!track || track->type != TrackType::Midi)
        return {0, 0, translate("RecordingWorkflow", "MIDI recording: no target track")};
    // As an audio loop: the slot's clip gives way, and the take loops in whole bars.
    for (const auto &other : project.tracks)
        std::erase_if(other->clips, [&](const auto &clip) {
            return clip->sessionRow == sessionRecordRow && clip->sessionCol == sessionRecordCol;
        });
    const int64_t bar = std::max<int64_t>(engine.barLengthSamples(), 1);
    int64_t end = engine.midiTakeFrames();
    for (const MidiNote &note : notes)
        end = std::max(end, note.start + std::max<int64_t>(note.length, 1));
    const int64_t length = std::max<int64_t>((end + bar - 1) / bar, 1) * bar;
    const auto clip = project.addClip(track->id, ClipKind::Midi);
    if (!clip) return {0, 0, translate("RecordingWorkflow", "MIDI recording: no target track")};
    clip->name =
        "Loop R" + std::to_string(sessionRecordRow) + "C" + std::to_string(sessionRecordCol);
    clip->sessionRow = sessionRecordRow;
    clip->sessionCol = sessionRecordCol;
    clip->loop = true;
    clip->length = clip->loopLength = length;
    const std::size_t count = notes.size();
    clip->notes = std::move(notes);
    engine.publishGraph();
    view.tab = OVMainView::Tab::Session;
    view.markDocumentDirty();
    return {track->id, clip->id,
            liveLoopText(QT_TRANSLATE_NOOP("RecordingWorkflow", "Live Loop R%1 C%2 — %3"),
                         sessionRecordRow, sessionRecordCol,
                         translate("RecordingWorkflow", "%n note(s)", nullptr, int(count)))};
}

void RecordingWorkflow::togglePunch() {
    bool on = false;
    {
        std::lock_guard lock(services.engine.projectMutex);
        on = services.engine.project.punchEnabled = !services.engine.project.punchEnabled;
    }
    view.markDocumentDirty();
    show(on ? translate("RecordingWorkflow", "Punch on: [ ] set the bounds")
            : translate("RecordingWorkflow", "Punch off"));
}

void RecordingWorkflow::setPunchInAtPlayhead() {
    std::lock_guard lock(services.engine.projectMutex);
    services.engine.project.punchIn = services.engine.transport.playhead.load();
    view.markDocumentDirty();
}

void RecordingWorkflow::setPunchOutAtPlayhead() {
    std::lock_guard lock(services.engine.projectMutex);
    services.engine.project.punchOut = services.engine.transport.playhead.load();
    view.markDocumentDirty();
}

void RecordingWorkflow::toggleSessionOverdub() {
    sessionOverdubMode = !sessionOverdubMode;
    show(sessionOverdubMode
             ? translate("RecordingWorkflow", "Session overdub on: Ctrl+R records into the clip")
             : translate("RecordingWorkflow", "Session overdub off"));
}

void RecordingWorkflow::toggleLiveLoop() {
    liveLoopMode = !liveLoopMode;
    show(liveLoopMode ? translate("RecordingWorkflow",
                                  "Live Loop on: Ctrl+R records into a Session slot (Ctrl+Shift+R)")
                      : translate("RecordingWorkflow", "Live Loop off"));
}

} // namespace orvane
