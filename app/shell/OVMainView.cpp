#include "app/shell/OVMainView.h"

#include "app/shell/DocumentJobs.h"
#include "app/shell/DocumentOperations.h"
#include "app/shell/ProjectRender.h"
#include "app/shell/RenderOutput.h"
#include "app/shell/SessionState.h"
#include "app/workflows/AutomationWriter.h"
#include "app/workflows/MidiLearning.h"
#include "app/workflows/RecordingWorkflow.h"
#include "app/workflows/TakeRecovery.h"
#include "app/workflows/TempoTools.h"
#include "core/audiofile/AudioFile.h"
#include "core/commands/ImportAudioCommand.h"
#include "core/commands/ImportMidiCommand.h"
#include "core/commands/SessionCommands.h"
#include "core/model/MusicalTime.h"
#include "core/model/Translate.h"
#include "core/plugins/PluginRack.h"
#include "device/AudioDeviceEngine.h"
#include "device/OfflineRender.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include <sys/stat.h>

namespace orvane {

namespace fs = std::filesystem;

namespace {

/// The lines of `text` joined with "; ", for one status line.
std::string joinedLines(const std::string &text) {
    std::string joined;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) joined += (joined.empty() ? "" : "; ") + text.substr(start, end - start);
        start = end + 1;
    }
    return joined;
}

} // namespace

namespace {

/// Every container the media reader decodes (libsndfile, then FFmpeg for M4A), the
/// formats the export writes among them: a file the program wrote must come back in.
const std::vector<std::string> importTypes = {"wav",  "wave", "aif", "aiff", "aifc", "caf", "w64",
                                              "flac", "ogg",  "oga", "opus", "mp3",  "m4a"};

std::string projectSavedText() { return translate("OVMainView", "Project saved"); }

std::string mediaCollectedText() {
    return translate("OVMainView", "Project saved (media collected into its folder)");
}

std::string notEnoughMemoryText() { return translate("OVMainView", "Not enough memory"); }

std::string lowerExtension(const std::string &path) {
    std::string extension = fs::path(path).extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    for (char &c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

std::string withProjectSuffix(std::string path) {
    if (fs::path(path).extension() != ".halvora") path += ".halvora";
    return path;
}

/// Rewrites the session metadata after a save: the session is still running, so the
/// shutdown stays unclean, and the session's start time is kept.
void recordSaveInSessionMeta(const std::string &projectName) {
    SessionMeta meta = readSessionMeta();
    meta.cleanShutdown = false;
    meta.lastAutosave = unixTimeNow();
    meta.projectName = projectName;
    writeSessionMeta(meta);
}

int64_t beatSamples(const Project &project, double beats) {
    return musicalBeatsToSamples(beats, project.sampleRate, project.tempoMarkers, project.tempoBpm);
}

int64_t fadeFor(const Project &project, int64_t frames) {
    return std::min(beatSamples(project, 0.05), frames / 20);
}

/// Decodes every audio clip's file again at `rate`, for a project made at another rate.
void convertMediaTo(Project &project, double rate) {
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips) {
            if (clip->kind != ClipKind::Audio || clip->audioFile.empty() || !clip->audio) continue;
            DecodedAudio decoded;
            const std::string path = (fs::path(project.rootPath) / clip->audioFile).string();
            if (!decodeAudioFile(path, rate, decoded)) continue;
            clip->audio = decoded.samples;
            clip->channels = decoded.channels;
        }
}

/// Puts the project on the device's rate (0: none, the project keeps its own). Positions stay
/// in samples as stored; only the media are decoded again.
void adoptRate(Project &project, double deviceRate) {
    if (!(deviceRate > 0.0) || project.sampleRate == deviceRate) return;
    convertMediaTo(project, deviceRate);
    project.sampleRate = deviceRate;
}

std::string formatHz(double rate) { return std::to_string(static_cast<int64_t>(rate)) + " Hz"; }

} // namespace

bool isImportableAudioFile(const std::string &path, bool) {
    const std::string extension = lowerExtension(path);
    return std::find(importTypes.begin(), importTypes.end(), extension) != importTypes.end();
}

Project buildNewProject(double sampleRate) {
    Project project = buildStartupProject(sampleRate);
    // The start-up song's session loop is not part of a new project.
    auto midi = project.tracks.front();
    std::erase_if(midi->clips, [](const auto &clip) { return clip->isSessionClip(); });
    const int64_t bar = beatSamples(project, beatsPerBar(usableMeter(project.timeSignature)));
    midi->volumeAutomation = {{0, 1.0f}, {2 * bar, 0.85f}, {4 * bar, 1.0f}};
    midi->panAutomation = {{0, 0.0f}, {2 * bar, -0.35f}, {4 * bar, 0.35f}};
    project.tempoMarkers.push_back(TempoMarker{4 * bar, 140.0});
    return project;
}

OVMainView::OVMainView(Engine &engine, AudioDeviceEngine *audio, vst::PluginRack &rack,
                       CommandStack &commands, HVLoggingStatusField &status, ApplicationUi &ui)
    : engine(engine), audio(audio), rack(rack), commands(commands), status(status), ui(ui),
      automationTools(std::make_unique<AutomationTools>(
          WorkspaceServices{engine, audio, rack, commands, status}, *this)),
      tempoToolsPtr(std::make_unique<TempoTools>(
          WorkspaceServices{engine, audio, rack, commands, status}, *this)),
      recordingPtr(std::make_unique<RecordingWorkflow>(
          WorkspaceServices{engine, audio, rack, commands, status}, *this)),
      midiLearningPtr(std::make_unique<MidiLearning>(
          WorkspaceServices{engine, audio, rack, commands, status}, *this)) {}

OVMainView::~OVMainView() = default;

double OVMainView::deviceSampleRate() const {
    return audio && audio->outputRunning.load() ? audio->sampleRate : 0.0;
}

bool OVMainView::confirmDiscardingChanges(const std::string &title,
                                          const std::string &discardButton) {
    if (!projectDirty) return true;
    const int choice = ui.runAlert(
        title, translate("OVMainView", "Unsaved changes will be lost."),
        {translate("OVMainView", "Save"), discardButton, translate("OVMainView", "Cancel")});
    if (choice == 0) return saveProject();
    return choice == 1;
}

void OVMainView::ensureReturnTracksAndPublish() {
    std::lock_guard lock(engine.projectMutex);
    HVEnsureReturnTracks(engine.project);
    engine.publishGraph();
}

void OVMainView::selectFirstTrack() {
    std::lock_guard lock(engine.projectMutex);
    selectedTrackId = engine.project.tracks.empty() ? 0 : engine.project.tracks.front()->id;
    selectedClipId = 0;
}

void OVMainView::fitTimelineToContent() {
    timelineScrollBeats = 0.0;
    timelineVisibleBeats = engine.samplesToBeats(projectEndSamples());
}

void OVMainView::newProject() {
    if (!confirmDiscardingChanges(translate("OVMainView", "New project?"),
                                  translate("OVMainView", "Create")))
        return;
    rack.unloadAll();
    Project project = buildNewProject(engine.sampleRate.load());
    engine.replaceProject(std::move(project));
    ensureReturnTracksAndPublish();
    commands.clear();
    projectPath.clear();
    projectDirty = false;
    selectFirstTrack();
    timelineScrollBeats = 0.0;
    timelinePpb = 36.0;
    (void)engine.pushRequest(RequestProducer::MainThread, Request::stop());
    showStatus(translate("OVMainView", "New project"));
}

/// A project read from its folder, its media decoded, ready to replace the document.
struct OVMainView::OpenedProject {
    std::string path;
    std::optional<Project> project;
    std::vector<project_io::MissingMediaEntry> missing;
    std::string hydrateWarning;
    /// Media that exist but cannot be read (missing ones are offered for relinking instead).
    std::vector<project_io::MediaLoadFailure> unreadable;
    /// Why `project` is empty when reading it failed.
    std::string failure;
    double fileRate = 0.0;
};

namespace {

void readProjectAndMedia(OVMainView::OpenedProject &opened, double deviceRate,
                         JobControl *control) {
    const auto cancelled = [control] { return control && control->cancelled(); };
    opened.project = project_io::loadProject(opened.path, &opened.failure);
    if (!opened.project || cancelled()) return opened.project.reset();
    if (control) control->report(0.3);
    std::vector<project_io::MediaLoadFailure> failures;
    if (!project_io::hydrateProjectMedia(*opened.project, failures) && !failures.empty())
        opened.hydrateWarning =
            "hydrate warning: cannot load " + failures.back().path + ": " + failures.back().reason;
    opened.missing = project_io::findMissingMedia(*opened.project);
    for (project_io::MediaLoadFailure &failure : failures) {
        const bool missing =
            std::any_of(opened.missing.begin(), opened.missing.end(),
                        [&failure](const auto &entry) { return entry.clipId == failure.clipId; });
        if (!missing) opened.unreadable.push_back(std::move(failure));
    }
    opened.fileRate = opened.project->sampleRate;
    if (cancelled()) return opened.project.reset();
    if (control) control->report(0.7);
    adoptRate(*opened.project, deviceRate);
}

/// Reads the project at `path` and decodes its media, at `deviceRate` when one is given
/// (the engine keeps the device's rate). Touches nothing but its own result, so it may run on
/// any thread; stops early, with no project, when `control` asks it to, and with no project
/// and the reason when it cannot be read or held.
void readProjectForOpening(OVMainView::OpenedProject &opened, double deviceRate,
                           JobControl *control) {
    try {
        readProjectAndMedia(opened, deviceRate, control);
    } catch (const std::bad_alloc &) {
        opened.project.reset();
        opened.failure = "not enough memory to read it";
    }
}

} // namespace

void OVMainView::openProject() { runHere(prepareOpenProject()); }

std::optional<LongJob> OVMainView::prepareOpenProject() {
    if (!confirmDiscardingChanges(translate("OVMainView", "Open project?"),
                                  translate("OVMainView", "Don't Save")))
        return std::nullopt;
    const auto chosen = ui.chooseFilesToOpen(
        translate("OVMainView", "Choose a Halvora project (.halvora)"), {"halvora"}, false);
    if (chosen.empty() || chosen.front().empty()) return std::nullopt;
    return openProjectJob(chosen.front());
}

std::optional<LongJob> OVMainView::prepareOpenProjectAt(const std::string &path) {
    if (path.empty() || !confirmDiscardingChanges(translate("OVMainView", "Open project?"),
                                                  translate("OVMainView", "Don't Save")))
        return std::nullopt;
    return openProjectJob(path);
}

LongJob OVMainView::openProjectJob(const std::string &path) {
    auto opened = std::make_shared<OpenedProject>();
    opened->path = path;
    auto stopped = std::make_shared<bool>(false);
    LongJob job;
    job.title = translate("OVMainView", "Opening the project");
    job.perform = [opened, stopped, rate = deviceSampleRate()](JobControl &control) {
        readProjectForOpening(*opened, rate, &control);
        *stopped = control.cancelled();
    };
    job.finish = [this, opened, stopped] {
        if (*stopped)
            showStatus(translate("OVMainView", "Opening cancelled"));
        else
            (void)adoptOpenedProject(*opened, std::nullopt); // a failure is on the status line
    };
    return job;
}

bool OVMainView::loadProjectFromBundle(const std::string &path,
                                       const std::optional<std::string> &statusMessage) {
    if (path.empty()) return false;
    OpenedProject opened;
    opened.path = path;
    readProjectForOpening(opened, deviceSampleRate(), nullptr);
    return adoptOpenedProject(opened, statusMessage);
}

bool OVMainView::adoptOpenedProject(OpenedProject &opened,
                                    const std::optional<std::string> &statusMessage) {
    if (!opened.project) {
        showStatus(opened.failure.empty()
                       ? translate("OVMainView", "Could not open the project")
                       : withArguments(translate("OVMainView", "Could not open the project: %1"),
                                       {opened.failure}));
        if (!opened.failure.empty())
            betaSessionLog("error", "open", opened.path + ": " + opened.failure);
        return false;
    }
    if (!opened.hydrateWarning.empty()) logBreadcrumb(opened.hydrateWarning);
    Project &project = *opened.project;
    // The device may have changed its rate while the project was read on a worker.
    adoptRate(project, deviceSampleRate());
    const auto &missing = opened.missing;
    const double fileRate = opened.fileRate;
    const double openedRate = project.sampleRate;
    const std::string name = project.name;
    const std::string path = opened.path;

    rack.unloadAll();
    const int64_t cycleStart = project.cycleStart, cycleEnd = project.cycleEnd;
    const bool cycleEnabled = project.cycleEnabled;
    engine.replaceProject(std::move(project));
    // The cycle comes back as it was saved; a song saved without one leaves none on.
    setCycle(cycleStart, cycleEnd, cycleEnabled && cycleEnd > cycleStart);
    ensureReturnTracksAndPublish();
    rack.prepare(engine.sampleRate.load(), engine.blockSize.load());
    std::string rackWarnings;
    rack.restoreFromProject(&rackWarnings);
    if (!rackWarnings.empty()) betaSessionLog("error", "plugins", rackWarnings);
    const std::string unavailable = joinedLines(rackWarnings);

    commands.clear();
    projectPath = path;
    projectDirty = false;
    // After the flag is reset: relinked paths are a change the document must save.
    if (!missing.empty()) relinkMissingMedia(missing);
    selectFirstTrack();
    fitTimelineToContent();
    showStatus(statusMessage ? *statusMessage
                             : withArguments(translate("OVMainView", "Opened: %1"), {name}));
    reportUnreadableMedia(opened.unreadable);
    // After the "Opened" line, so that it is the one left to read.
    if (!unavailable.empty())
        showStatus(withArguments(translate("OVMainView", "Plug-ins that could not be loaded: %1"),
                                 {unavailable}));
    if (fileRate != openedRate)
        showStatus(withArguments(
            translate("OVMainView",
                      "Project of %1 opened at the device rate of %2 (positions not converted)"),
            {formatHz(fileRate), formatHz(openedRate)}));
    // Last: what a recording cut short left is the most urgent question about this project.
    offerInterruptedTakes();
    return true;
}

void OVMainView::offerInterruptedTakes() {
    if (projectPath.empty()) return;
    InterruptedTakes found = readInterruptedTakes(projectPath, engine.sampleRate.load());
    for (const std::string &problem : found.problems) {
        showStatus(withArguments(translate("OVMainView", "A cut-short take could not be read: %1"),
                                 {printableText(problem)}));
        betaSessionLog("error", "recording", problem);
    }
    if (found.takes.empty()) {
        // Journals whose files hold no frame yet: nothing was recorded to offer.
        forgetInterruptedTakes(found.journals);
        return;
    }
    const int count = static_cast<int>(found.takes.size());
    const int choice = ui.runAlert(
        translate("OVMainView", "Recover takes?"),
        translate("OVMainView",
                  "A recording of this project was cut short. Recover %n take(s) and place "
                  "them where they were recorded?",
                  nullptr, count),
        {translate("OVMainView", "Recover"), translate("OVMainView", "Discard"),
         translate("OVMainView", "Later")});
    if (choice == 1) {
        forgetInterruptedTakes(found.journals);
        showStatus(translate("OVMainView", "Cut-short takes discarded"));
        return;
    }
    if (choice != 0) {
        showStatus(translate("OVMainView",
                             "The cut-short takes are kept; they are offered again next time"));
        return;
    }
    auto command = std::make_unique<RecoverTakesCommand>(std::move(found.takes));
    const RecoverTakesCommand &placed = *command;
    executeEdit(std::move(command));
    if (!placed.placed().empty()) {
        selectedTrackId = placed.placed().back().first;
        selectedClipId = placed.placed().back().second;
    }
    logBreadcrumb("recover_takes count=" + std::to_string(placed.placed().size()));
    // As with a take kept in the ordinary way, the autosave holds it from now on.
    (void)performAutosaveSilently();
    forgetInterruptedTakes(found.journals);
    fitTimelineToContent();
    const int recovered = static_cast<int>(placed.placed().size());
    showStatus(translate("OVMainView", "%n take(s) recovered", nullptr, recovered));
}

struct OVMainView::SaveTask {
    Project snapshot;
    std::string path;
    std::string name;
    bool markSaved = true;
    bool collectAll = false;
    bool autosave = false;
    /// The status shown and the path remembered as the project's after a save the user
    /// asked for; none for a plain save to a path.
    std::string doneText;
    /// Why plug-ins could not keep their files with this save; empty when they could.
    std::string stateFolderWarning;
    uint64_t editsAtSnapshot = 0;
    uint64_t generation = 0;
    SavedDocument saved;
    std::function<void(bool)> done;
};

std::shared_ptr<OVMainView::SaveTask> OVMainView::snapshotForSave(const std::string &path,
                                                                  bool markSaved, bool collectAll) {
    auto task = std::make_shared<SaveTask>();
    {
        std::lock_guard lock(engine.projectMutex);
        rack.saveStatesIntoProject();
        task->stateFolderWarning = rack.stateFolderWarning;
        engine.project.cycleStart = engine.transport.loopStart.load();
        engine.project.cycleEnd = engine.transport.loopEnd.load();
        engine.project.cycleEnabled = engine.transport.loopEnabled.load();
        task->snapshot = copyProjectDocument(engine.project);
        task->name = engine.project.name;
    }
    task->path = path;
    task->markSaved = markSaved;
    task->collectAll = collectAll;
    task->editsAtSnapshot = documentEdits;
    task->generation = engine.projectGeneration.load();
    return task;
}

LongJob OVMainView::saveJob(std::shared_ptr<SaveTask> task) {
    LongJob job;
    job.title = task->autosave ? translate("OVMainView", "Autosaving…")
                               : translate("OVMainView", "Saving the project…");
    // A save cut off halfway would leave a document that names media never written.
    job.cancellable = false;
    job.perform = [task](JobControl &) {
        task->saved = saveDocumentSnapshot(task->snapshot, task->path, task->collectAll);
        if (!task->saved.result.ok) return;
        // The document on disk now holds everything the autosave held: the copy was taken
        // before this snapshot, and no autosave runs while a save does.
        if (task->markSaved && !task->autosave) removeRecoverySnapshot();
        recordSaveInSessionMeta(task->name);
        logBreadcrumb(task->autosave ? std::string("autosave") : "save " + task->path);
    };
    job.finish = [this, task] { finishSave(*task); };
    return job;
}

void OVMainView::finishSave(SaveTask &task) {
    const project_io::SaveResult &result = task.saved.result;
    if (!result.ok) {
        if (task.autosave)
            lastAutosaveError = result.error;
        else
            showStatus(withArguments(translate("OVMainView", "Error: %1"), {result.error}));
        if (task.done) task.done(false);
        return;
    }
    // A document opened or made while the save ran is not the one that was saved.
    const bool sameDocument = engine.projectGeneration.load() == task.generation;
    if (!task.autosave && sameDocument) {
        {
            std::lock_guard lock(engine.projectMutex);
            adoptSavedMediaNames(engine.project, task.saved.renames, task.saved.instrumentRenames);
            engine.project.rootPath = task.path;
        }
        // Edits made while the save ran are not in the file: the document stays dirty.
        if (task.markSaved && documentEdits == task.editsAtSnapshot) projectDirty = false;
        if (!task.doneText.empty()) projectPath = task.path;
    }
    if (!task.doneText.empty()) showStatus(task.doneText);
    if (!task.autosave && !task.stateFolderWarning.empty()) {
        const std::string warning =
            withArguments(translate("OVMainView", "Plug-in files could not be written to %1"),
                          {task.stateFolderWarning});
        logBreadcrumb(warning);
        showStatus(warning);
    }
    if (task.done) task.done(true);
}

void OVMainView::runHere(std::optional<LongJob> job) {
    if (job) runLongJobHere(*job);
}

bool OVMainView::saveProjectToPath(const std::string &path, bool markSaved, bool collectAll) {
    const auto task = snapshotForSave(path, markSaved, collectAll);
    runHere(saveJob(task));
    return task->saved.result.ok;
}

std::optional<LongJob> OVMainView::prepareSaveWithPrompt(bool collectAll, bool alwaysAsk,
                                                         const std::string &doneText,
                                                         std::shared_ptr<bool> saved) {
    if (savesInFlight > 0) {
        // The one on its way may still choose the project's place; a second would ask again
        // or write the same files at the same time.
        showStatus(translate("OVMainView", "A save is already under way"));
        return std::nullopt;
    }
    std::string path = projectPath;
    if (path.empty() || alwaysAsk) {
        const auto chosen =
            ui.chooseSaveLocation("halvora", translate("OVMainView", "New Project.halvora"));
        if (!chosen || chosen->empty()) return std::nullopt;
        path = withProjectSuffix(*chosen);
        if (!maySaveAsTo(path)) return std::nullopt;
    }
    const auto task = snapshotForSave(path, true, collectAll);
    task->doneText = doneText;
    ++savesInFlight;
    task->done = [this, saved](bool written) {
        --savesInFlight;
        if (saved) *saved = written;
    };
    return saveJob(task);
}

namespace {

bool isSameFolder(const std::string &first, const std::string &second) {
    std::error_code error;
    return !first.empty() && !second.empty() && fs::equivalent(first, second, error);
}

} // namespace

bool OVMainView::maySaveAsTo(const std::string &path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return true; // a new project folder
    const std::string shown = withArguments(translate("OVMainView", "“%1”"), {printableText(path)});
    if (S_ISLNK(status.st_mode)) {
        showStatus(withArguments(
            translate("OVMainView", "Error: %1 is a symbolic link; the project was not saved"),
            {shown}));
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        showStatus(withArguments(
            translate("OVMainView", "Error: %1 is not a folder; the project was not saved"),
            {shown}));
        return false;
    }
    std::error_code error;
    if (isSameFolder(path, projectPath) || !fs::exists(fs::path(path) / "project.json", error))
        return true;
    switch (existingProject) {
    case ExistingProject::Replace: return true;
    case ExistingProject::Refuse:
        showStatus(withArguments(
            translate("OVMainView",
                      "Error: %1 already holds another project; the project was not saved"),
            {shown}));
        return false;
    case ExistingProject::Ask: break;
    }
    return ui.runAlert(
               translate("OVMainView", "Replace the project?"),
               withArguments(translate("OVMainView",
                                       "The folder %1 already holds another project. Replace it?"),
                             {shown}),
               {translate("OVMainView", "Replace"), translate("OVMainView", "Cancel")}) == 0;
}

bool OVMainView::saveWithPrompt(bool collectAll, bool alwaysAsk, const std::string &doneText) {
    const auto saved = std::make_shared<bool>(false);
    runHere(prepareSaveWithPrompt(collectAll, alwaysAsk, doneText, saved));
    return *saved;
}

bool OVMainView::saveProject() { return saveWithPrompt(false, false, projectSavedText()); }

bool OVMainView::saveProjectAs() { return saveWithPrompt(false, true, projectSavedText()); }

bool OVMainView::collectAllAndSave() { return saveWithPrompt(true, false, mediaCollectedText()); }

std::optional<LongJob> OVMainView::prepareSave() {
    return prepareSaveWithPrompt(false, false, projectSavedText());
}

std::optional<LongJob> OVMainView::prepareSaveAs() {
    return prepareSaveWithPrompt(false, true, projectSavedText());
}

std::optional<LongJob> OVMainView::prepareCollectAllAndSave() {
    return prepareSaveWithPrompt(true, false, mediaCollectedText());
}

std::optional<LongJob> OVMainView::prepareAutosave(std::function<void(bool)> done) {
    if (!projectDirty) {
        done(true);
        return std::nullopt;
    }
    const fs::path bundle = autosaveBundlePath();
    if (bundle.empty()) {
        lastAutosaveError = "no home folder";
        done(false);
        return std::nullopt;
    }
    // The copy is written from a snapshot, so the project keeps its own folder and names.
    const auto task = snapshotForSave(bundle.string(), false, false);
    task->autosave = true;
    task->done = std::move(done);
    return saveJob(task);
}

bool OVMainView::performAutosaveSilently() {
    bool written = false;
    runHere(prepareAutosave([&written](bool ok) { written = ok; }));
    return written;
}

bool OVMainView::loadRecoveryProject(const std::string &storedName) {
    if (!loadProjectFromBundle(
            autosaveBundlePath().string(),
            withArguments(translate("OVMainView", "Recovered: %1"), {storedName}))) {
        keepUnloadableRecovery();
        return false;
    }
    projectPath.clear();
    markDocumentDirty();
    return true;
}

void OVMainView::keepUnloadableRecovery() {
    // The copy may hold the only trace of the crashed session's work: it is never thrown away
    // for failing to open here.
    const fs::path aside = setAsideRecoverySnapshot();
    if (aside.empty()) {
        keepRecoveryAtQuit = true;
        showStatus(withArguments(
            translate("OVMainView", "The recovery copy did not open; it is kept at %1"),
            {printableText(autosaveBundlePath().string())}));
    } else {
        showStatus(withArguments(
            translate("OVMainView", "The recovery copy did not open; it is kept at %1"),
            {printableText(aside.string())}));
    }
    betaSessionLog("error", "recovery", "unopened copy kept: " + aside.string());
}

void OVMainView::reportUnreadableMedia(
    const std::vector<project_io::MediaLoadFailure> &unreadable) {
    if (unreadable.empty()) return;
    // They play and export as silence: the user must learn which and why.
    std::string text = withArguments(
        translate("OVMainView", "Could not read %1 audio file(s); they play as silence:"),
        {std::to_string(unreadable.size())});
    for (const project_io::MediaLoadFailure &failure : unreadable) {
        text += "\n" + printableText(fs::path(failure.path).filename().string()) + ": " +
                printableText(failure.reason);
        betaSessionLog("error", "media", failure.path + ": " + failure.reason);
    }
    showStatus(text);
}

void OVMainView::relinkMissingMedia(const std::vector<project_io::MissingMediaEntry> &missing) {
    if (missing.empty()) return;
    const std::string text =
        withArguments(translate("OVMainView", "Could not load %1 audio file(s). Choose a folder to "
                                              "search, or pick the files by hand."),
                      {std::to_string(missing.size())});
    if (ui.runAlert(translate("OVMainView", "Media files not found"), text,
                    {translate("OVMainView", "Choose Folder"), translate("OVMainView", "Skip")}) !=
        0)
        return;
    const auto folder =
        ui.chooseFolder(translate("OVMainView", "Folder with the audio files to relink"));
    if (!folder) return;
    int relinked = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        relinked = project_io::relinkMissingFromFolder(engine.project, missing, *folder);
        engine.publishGraph();
    }
    if (relinked > 0) markDocumentDirty();
    showStatus(relinked > 0 ? withArguments(translate("OVMainView", "Files relinked: %1"),
                                            {std::to_string(relinked)})
                            : translate("OVMainView", "No files found in the chosen folder"));
}

bool OVMainView::importAudioFileAtPath(const std::string &path, std::string &errorMessage) {
    return importAudioFileAtPath(path, 0, 0, true, errorMessage);
}

namespace {

/// The reader's own words name a library call; the user reads what it means.
std::string plainDecodeFailure(const std::string &reason) {
    if (reason.empty()) return translate("OVMainView", "the file holds no sound");
    if (reason == "sf_open failed")
        return translate("OVMainView", "the file is not recognised as audio, or it is damaged");
    if (reason == "bad path") return translate("OVMainView", "the file's name cannot be used");
    if (reason == "set client format failed")
        return translate("OVMainView", "the file's sample rate cannot be converted");
    return withArguments(translate("OVMainView", "the file could not be read as audio (%1)"),
                         {reason});
}

} // namespace

AudioImport decodeAudioForImport(const std::string &path, double sampleRate) {
    AudioImport import;
    import.path = path;
    if (path.empty()) {
        import.error = translate("OVMainView", "No path to the file");
    } else if (!isImportableAudioFile(path, true)) {
        import.error = translate("OVMainView", "Unsupported format");
    } else {
        try {
            std::string reason;
            import.decoded = decodeAudioFile(path, sampleRate, import.audio, &reason);
            if (!import.decoded) import.error = plainDecodeFailure(reason);
        } catch (const std::bad_alloc &) {
            import.audio = DecodedAudio{};
            import.decoded = false;
            import.error = notEnoughMemoryText();
        }
    }
    return import;
}

bool OVMainView::importAudioFileAtPath(const std::string &path, uint64_t trackId,
                                       int64_t startSamples, bool usePlayheadIfZero,
                                       std::string &errorMessage) {
    return placeImportedAudio(decodeAudioForImport(path, engine.sampleRate.load()), trackId,
                              startSamples, usePlayheadIfZero, errorMessage);
}

bool OVMainView::placeImportedAudio(const AudioImport &import, uint64_t trackId,
                                    int64_t startSamples, bool usePlayheadIfZero,
                                    std::string &errorMessage) {
    if (!import.decoded) {
        errorMessage = import.error;
        return false;
    }
    std::string trackName = fs::path(import.path).stem().string();
    if (trackName.empty()) trackName = translate("Track", "Audio");

    std::unique_ptr<ImportAudioCommand> command;
    {
        std::lock_guard lock(engine.projectMutex);
        const Project &project = engine.project;
        if (trackId != 0) {
            const auto track = project.findTrack(trackId);
            if (!track) {
                errorMessage = translate("OVMainView", "Track not found");
                return false;
            }
            if (track->type == TrackType::Midi) {
                errorMessage =
                    translate("OVMainView", "Audio cannot be imported onto a MIDI track");
                return false;
            }
        }
        int64_t start = startSamples;
        if (start == 0 && usePlayheadIfZero) start = engine.heardPlayhead();
        Clip clip;
        clip.name = trackName;
        clip.audio = import.audio.samples;
        clip.channels = import.audio.channels;
        clip.arrangeStart = engine.quantizeSamples(start, project.gridQuantize, 0.0f);
        clip.length = import.audio.frames;
        clip.fadeIn = clip.fadeOut = fadeFor(project, import.audio.frames);
        command = std::make_unique<ImportAudioCommand>(trackId, trackName, std::move(clip));
    }
    // Checked above, so the command places its clip; the stack keeps it alive to be asked.
    const ImportAudioCommand &placed = *command;
    executeEdit(std::move(command));
    const uint64_t placedTrack = placed.placedTrackId();
    selectedTrackId = placedTrack;
    logBreadcrumb("import_audio track=" + std::to_string(placedTrack) +
                  " frames=" + std::to_string(import.audio.frames));
    return true;
}

namespace {

/// Decodes `paths` at `rate` on whatever thread performs the job, file by file, and hands the
/// results to `place` on the main thread; with `cancelled` set when the user stopped it or
/// another document was opened meanwhile.
LongJob decodeForImportJob(std::vector<std::string> paths, double rate, const Engine &engine,
                           std::function<void(const std::vector<AudioImport> &, bool)> place) {
    struct Decoding {
        std::vector<std::string> paths;
        std::vector<AudioImport> imports;
        bool cancelled = false;
    };
    auto task = std::make_shared<Decoding>();
    task->paths = std::move(paths);
    LongJob job;
    job.title = translate("OVMainView", "Importing audio…");
    job.perform = [task, rate](JobControl &control) {
        const std::size_t count = task->paths.size();
        for (std::size_t i = 0; i < count; ++i) {
            if (control.cancelled()) {
                task->cancelled = true;
                return;
            }
            task->imports.push_back(decodeAudioForImport(task->paths[i], rate));
            control.report(static_cast<double>(i + 1) / static_cast<double>(count));
        }
    };
    job.finish = [task, place = std::move(place), &engine,
                  generation = engine.projectGeneration.load()] {
        place(task->imports, task->cancelled || engine.projectGeneration.load() != generation);
    };
    return job;
}

} // namespace

std::optional<LongJob> OVMainView::prepareImportAudio() {
    auto files = ui.chooseFilesToOpen(
        translate("OVMainView", "Import Audio: the first file goes onto the selected audio "
                                "track when it is empty, every other onto a new track"),
        importTypes, true);
    if (files.empty()) return std::nullopt;
    return decodeForImportJob(std::move(files), engine.sampleRate.load(), engine,
                              [this](const std::vector<AudioImport> &imports, bool cancelled) {
                                  if (cancelled)
                                      showStatus(translate("OVMainView", "Import cancelled"));
                                  else
                                      placeImportedFiles(imports);
                              });
}

void OVMainView::importAudio() { runHere(prepareImportAudio()); }

void OVMainView::placeImportedFiles(const std::vector<AudioImport> &imports) {
    // An empty audio track the user selected is where the first file is wanted; the others
    // get tracks of their own.
    uint64_t emptyTrack = 0;
    std::string emptyTrackName;
    {
        std::lock_guard lock(engine.projectMutex);
        const auto selected = engine.project.findTrack(selectedTrackId);
        if (selected && selected->type == TrackType::Audio && selected->clips.empty()) {
            emptyTrack = selected->id;
            emptyTrackName = selected->name;
        }
    }
    int imported = 0;
    bool ontoSelected = false;
    std::string errors;
    for (const auto &import : imports) {
        std::string error;
        const uint64_t target = ontoSelected ? 0 : emptyTrack;
        if (placeImportedAudio(import, target, 0, true, error)) {
            ontoSelected = ontoSelected || target != 0;
            ++imported;
        } else {
            if (!errors.empty()) errors += "\n";
            errors += fs::path(import.path).filename().string() + ": " + error;
        }
    }
    if (imported == 0) {
        showStatus(errors.empty() ? translate("OVMainView", "Import failed") : errors);
        return;
    }
    markDocumentDirty();
    if (imported == 1 && ontoSelected)
        showStatus(
            withArguments(translate("OVMainView", "Imported 1 file onto the selected track “%1”"),
                          {emptyTrackName}));
    else
        showStatus(imported == 1
                       ? translate("OVMainView", "Imported 1 file onto a new track")
                       : translate("OVMainView", "Imported %n file(s) onto tracks of their own",
                                   nullptr, int(imported)));
    fitTimelineToContent();
}

int64_t OVMainView::snapNotBefore(int64_t position) const {
    const GridQuantize grid = engine.project.gridQuantize;
    const int64_t snapped = engine.quantizeSamples(position, grid, 0.0f);
    if (snapped >= position) return snapped;
    const int64_t step = engine.beatsToSamples(engine.gridBeats(grid));
    return engine.quantizeSamples(saturatingAdd(position, step), grid, 0.0f);
}

bool isMidiFileName(const std::string &path) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char &letter : extension)
        letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    return extension == ".mid" || extension == ".midi";
}

LongJob OVMainView::prepareDropImport(const std::vector<std::string> &paths, uint64_t trackId,
                                      int64_t startSamples) {
    std::vector<std::string> importable;
    bool midiImported = false;
    for (const auto &path : paths) {
        // A dropped MIDI file brings its own tracks at once; its tempo stays the project's.
        if (isMidiFileName(path))
            midiImported =
                importMidiFile(path, std::max<int64_t>(startSamples, 0), false) || midiImported;
        else if (isImportableAudioFile(path, true))
            importable.push_back(path);
    }
    return decodeForImportJob(std::move(importable), engine.sampleRate.load(), engine,
                              [this, trackId, startSamples, midiImported](
                                  const std::vector<AudioImport> &imports, bool cancelled) {
                                  if (cancelled)
                                      showStatus(translate("OVMainView", "Import cancelled"));
                                  else if (!imports.empty() || !midiImported)
                                      dropDecodedFiles(imports, trackId, startSamples);
                              });
}

namespace {

/// Every note of the file's tracks in one clip from its start, as a slot plays one clip.
std::string beyondTimeline() {
    return translate("OVMainView", "its notes reach beyond the end of the timeline");
}

std::optional<Clip> midiClipOf(const midifile::MidiImport &plan, const std::string &name) {
    if (plan.tracks.empty()) return std::nullopt;
    Clip clip = plan.tracks.front().clip;
    for (std::size_t index = 1; index < plan.tracks.size(); ++index) {
        const Clip &other = plan.tracks[index].clip;
        clip.notes.insert(clip.notes.end(), other.notes.begin(), other.notes.end());
        clip.length = std::max(clip.length, other.length);
    }
    std::stable_sort(clip.notes.begin(), clip.notes.end(),
                     [](const MidiNote &a, const MidiNote &b) { return a.start < b.start; });
    clip.kind = ClipKind::Midi;
    clip.name = name;
    return clip;
}

} // namespace

LongJob OVMainView::prepareSessionCellImport(const std::string &path, uint64_t trackId, int32_t row,
                                             int32_t column) {
    struct Reading {
        std::string path;
        bool midi = false;
        AudioImport audio;
        midifile::MidiFile file;
        std::string error;
        bool read = false;
    };
    auto task = std::make_shared<Reading>();
    task->path = path;
    task->midi = isMidiFileName(path);
    LongJob job;
    job.title = translate("OVMainView", "Importing audio…");
    job.cancellable = false;
    job.perform = [task, rate = engine.sampleRate.load()](JobControl &) {
        if (task->midi) {
            task->read = midifile::readMidiFileAt(task->path, task->file, task->error);
            return;
        }
        task->audio = decodeAudioForImport(task->path, rate);
        task->read = task->audio.decoded;
        task->error = task->audio.error;
    };
    job.finish = [this, task, trackId, row, column, generation = engine.projectGeneration.load()] {
        if (engine.projectGeneration.load() != generation) {
            showStatus(translate("OVMainView", "Import cancelled"));
            return;
        }
        const std::string fileName = fs::path(task->path).filename().string();
        if (!task->read) {
            showStatus(fileName + ": " + task->error);
            return;
        }
        std::optional<Clip> clip;
        const std::string name = fs::path(task->path).stem().string();
        if (task->midi) {
            std::lock_guard lock(engine.projectMutex);
            const midifile::MidiImport plan =
                midifile::planMidiImport(task->file, engine.project, false);
            if (!midifile::planFitsTimeline(plan, 0)) {
                showStatus(fileName + ": " + beyondTimeline());
                return;
            }
            clip = midiClipOf(plan, name);
        } else {
            clip.emplace();
            clip->kind = ClipKind::Audio;
            clip->name = name;
            clip->audio = task->audio.audio.samples;
            clip->channels = task->audio.audio.channels;
            clip->length = task->audio.audio.frames;
        }
        if (!clip) {
            showStatus(translate("OVMainView", "The MIDI file has no notes"));
            return;
        }
        bool fits = false;
        {
            std::lock_guard lock(engine.projectMutex);
            fits =
                ImportToSessionCellCommand::cellTakes(engine.project, trackId, row, column, *clip);
        }
        if (!fits) {
            showStatus(translate("OVMainView", "The slot cannot take this file"));
            return;
        }
        executeEdit(
            std::make_unique<ImportToSessionCellCommand>(trackId, row, column, std::move(*clip)));
        showStatus(withArguments(translate("OVMainView", "Imported %1 into the slot"), {fileName}));
    };
    return job;
}

void OVMainView::dropFiles(const std::vector<std::string> &paths, uint64_t trackId,
                           int64_t startSamples) {
    runHere(prepareDropImport(paths, trackId, startSamples));
}

bool OVMainView::importMidiFile(const std::string &path, int64_t startSamples, bool takeTimeMaps) {
    midifile::MidiFile file;
    std::string error;
    if (!midifile::readMidiFileAt(path, file, error)) {
        showStatus(
            withArguments(translate("OVMainView", "Could not import the MIDI file: %1"), {error}));
        return false;
    }
    midifile::MidiImport plan;
    {
        std::lock_guard lock(engine.projectMutex);
        plan = midifile::planMidiImport(file, engine.project, takeTimeMaps);
    }
    if (plan.tracks.empty()) {
        showStatus(translate("OVMainView", "The MIDI file has no notes"));
        return false;
    }
    // Refused whole rather than cut: a note at such a place is damage, and the song is kept as
    // it was.
    if (!midifile::planFitsTimeline(plan, startSamples)) {
        showStatus(withArguments(translate("OVMainView", "Could not import the MIDI file: %1"),
                                 {beyondTimeline()}));
        return false;
    }
    const std::size_t tracks = plan.tracks.size();
    executeEdit(std::make_unique<ImportMidiCommand>(std::move(plan), startSamples));
    showStatus(translate("OVMainView", "MIDI file imported (%n track(s))", nullptr, int(tracks)));
    fitTimelineToContent();
    return true;
}

void OVMainView::importMidiFileFromMenu() { runHere(prepareImportMidiFile()); }

std::optional<LongJob> OVMainView::prepareImportMidiFile() {
    const std::vector<std::string> chosen =
        ui.chooseFilesToOpen("Import MIDI File…", {"mid", "midi"}, false);
    if (chosen.empty() || chosen.front().empty()) return std::nullopt;
    return importMidiJob(chosen.front(), 0, true);
}

LongJob OVMainView::importMidiJob(const std::string &path, int64_t startSamples,
                                  bool takeTimeMaps) {
    struct Reading {
        std::string path;
        /// The maps the notes are placed under when the file's own are not taken.
        Project timing;
        midifile::MidiImport plan;
        std::string error;
        bool cancelled = false;
    };
    auto task = std::make_shared<Reading>();
    task->path = path;
    {
        std::lock_guard lock(engine.projectMutex);
        const Project &project = engine.project;
        task->timing.sampleRate = project.sampleRate;
        task->timing.tempoBpm = project.tempoBpm;
        task->timing.tempoMarkers = project.tempoMarkers;
        task->timing.timeSignature = project.timeSignature;
        task->timing.meterMarkers = project.meterMarkers;
    }
    LongJob job;
    job.title = translate("OVMainView", "Importing the MIDI file…");
    job.perform = [task, takeTimeMaps](JobControl &control) {
        midifile::MidiFile file;
        if (!midifile::readMidiFileAt(task->path, file, task->error)) return;
        control.report(0.2);
        task->plan =
            midifile::planMidiImport(file, task->timing, takeTimeMaps, [&control](double done) {
                control.report(0.2 + 0.8 * done);
                return !control.cancelled();
            });
        task->cancelled = control.cancelled();
    };
    job.finish = [this, task, startSamples, generation = engine.projectGeneration.load()] {
        if (task->cancelled || engine.projectGeneration.load() != generation) {
            showStatus(translate("OVMainView", "MIDI import cancelled"));
            return;
        }
        if (!task->error.empty()) {
            showStatus(withArguments(translate("OVMainView", "Could not import the MIDI file: %1"),
                                     {task->error}));
            return;
        }
        if (task->plan.tracks.empty()) {
            showStatus(translate("OVMainView", "The MIDI file has no notes"));
            return;
        }
        // Refused whole rather than cut: a note at such a place is damage, and the song is
        // kept as it was.
        if (!midifile::planFitsTimeline(task->plan, startSamples)) {
            showStatus(withArguments(translate("OVMainView", "Could not import the MIDI file: %1"),
                                     {beyondTimeline()}));
            return;
        }
        const std::size_t tracks = task->plan.tracks.size();
        executeEdit(std::make_unique<ImportMidiCommand>(std::move(task->plan), startSamples));
        showStatus(
            translate("OVMainView", "MIDI file imported (%n track(s))", nullptr, int(tracks)));
        fitTimelineToContent();
    };
    return job;
}

void OVMainView::exportMidiFileFromMenu() {
    std::string name = "song";
    uint64_t trackId = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        const auto track = selectedTrackId ? engine.project.findTrack(selectedTrackId) : nullptr;
        if (track && track->type == TrackType::Midi) {
            trackId = track->id;
            name = track->name;
        }
    }
    const auto chosen = ui.chooseSaveLocation("mid", name + ".mid");
    if (!chosen || chosen->empty()) return;
    // A failure is on the status line.
    (void)exportMidiFile(
        *chosen, trackId != 0 ? midifile::MidiExportScope::Track : midifile::MidiExportScope::Song,
        trackId);
}

bool OVMainView::exportMidiFile(const std::string &path, midifile::MidiExportScope scope,
                                uint64_t id) {
    std::string error;
    std::optional<midifile::MidiFile> file;
    std::string projectFolder;
    {
        std::lock_guard lock(engine.projectMutex);
        file = midifile::midiFileFromProject(engine.project, scope, id, error);
        projectFolder = engine.project.rootPath;
    }
    // The same refusals and the same way of replacing the file as an audio export: never the
    // open project's own files, never a device or a pipe, nothing left behind when it fails.
    if (!file || !checkOutputTarget(path, projectFolder, error) ||
        !writeRenderOutputWith(
            path, [&](int descriptor) { return midifile::writeMidiFileTo(descriptor, *file); },
            error)) {
        showStatus(withArguments(translate("OVMainView", "MIDI export failed: %1"), {error}));
        return false;
    }
    showStatus(translate("OVMainView", "MIDI file exported"));
    return true;
}

void OVMainView::dropDecodedFiles(const std::vector<AudioImport> &imports, uint64_t trackId,
                                  int64_t startSamples) {
    int added = 0;
    int64_t start = startSamples;
    for (const auto &import : imports) {
        std::string error;
        if (!placeImportedAudio(import, trackId, start, false, error)) continue;
        ++added;
        std::lock_guard lock(engine.projectMutex);
        // The first file made the target track when there was none; the next ones follow
        // the last arrangement clip on it.
        if (trackId == 0) trackId = selectedTrackId;
        if (auto track = engine.project.findTrack(trackId))
            for (const auto &clip : track->clips)
                if (!clip->isSessionClip())
                    start = std::max(start, saturatingAdd(clip->arrangeStart, clip->length));
        start = snapNotBefore(start);
    }
    if (added == 0) {
        showStatus(translate("OVMainView", "Could not import the file"));
        return;
    }
    markDocumentDirty();
    showStatus(added == 1
                   ? translate("OVMainView", "File added to the track")
                   : translate("OVMainView", "Added %n file(s) to the track", nullptr, int(added)));
    fitTimelineToContent();
}

struct OVMainView::ExportTask {
    Project snapshot;
    WavRenderRequest request;
    std::string doneFormat; // "%1" stands for the frames written
    std::string failedText;
    /// The open project's own folder, which an export must never write into.
    std::string projectFolder;
    WavRenderResult result = WavRenderResult::RenderFailed;
    std::string error;
    std::string stemsFolder; // stems instead of one file when set
    std::vector<std::string> silencedTracks;
    std::vector<std::string> failedInserts;
    std::optional<double> normalizationHeldBackFromDb;
    std::optional<LoudnessFigures> loudness; // of the file written, when it was metered
};

namespace {

/// `name` with the extension of the chosen format in place of its own.
std::string withExportExtension(const std::string &name, ExportContainer container) {
    const std::size_t dot = name.rfind('.');
    return name.substr(0, dot) + "." + std::string(exportContainerName(container));
}

bool checkExportLength(const WavRenderRequest &request, double sampleRate, std::string &error) {
    const int64_t frames = exportFramesOf(request.format, sampleRate, request.frames);
    if (frames <= largestExportFrames(request.format, request.channels)) return true;
    error =
        "the export would be " + std::to_string(frames) + " frames long, more than the file holds";
    return false;
}

} // namespace

std::optional<LongJob> OVMainView::prepareExport(const std::string &defaultName, int64_t start,
                                                 int64_t frames, uint64_t soloTrackId,
                                                 const std::string &doneFormat,
                                                 const std::string &failedText) {
    const ExportContainer container = exportFormat.container;
    const auto chosen = ui.chooseSaveLocation(std::string(exportContainerName(container)),
                                              withExportExtension(defaultName, container));
    if (!chosen || chosen->empty()) return std::nullopt;
    auto task = std::make_shared<ExportTask>();
    task->request.outputPath = *chosen;
    task->request.format = exportFormat;
    task->request.normalization = exportNormalization;
    task->request.start = start;
    task->request.frames = frames;
    task->request.trackId = soloTrackId;
    task->doneFormat = doneFormat;
    task->failedText = failedText;
    {
        // The file holds the song as it is now: edits made while it renders do not reach it.
        std::lock_guard lock(engine.projectMutex);
        rack.saveStatesIntoProject();
        task->snapshot = copyProjectDocument(engine.project);
        task->projectFolder = engine.project.rootPath;
    }
    return exportJob(task);
}

LongJob OVMainView::exportJob(std::shared_ptr<ExportTask> task) {
    LongJob job;
    job.title = task->stemsFolder.empty() ? translate("OVMainView", "Exporting WAV…")
                                          : translate("OVMainView", "Exporting stems…");
    job.perform = [task](JobControl &control) {
        WavRenderRequest &request = task->request;
        // Stems are checked as one file in their folder.
        if (!checkRenderOutput(request.outputPath, task->projectFolder, request.frames,
                               request.channels, task->error) ||
            !checkExportFormat(request.format, task->snapshot.sampleRate, task->error) ||
            !checkExportLength(request, task->snapshot.sampleRate, task->error)) {
            task->result = WavRenderResult::WriteFailed;
            return;
        }
        request.progress = [&control](int64_t done, int64_t total) {
            control.report(static_cast<double>(done) /
                           static_cast<double>(std::max<int64_t>(total, 1)));
        };
        request.cancelled = [&control] { return control.cancelled(); };
        RenderSummary summary;
        try {
            if (!task->stemsFolder.empty()) {
                std::vector<StemFile> stems;
                task->result = renderProjectStems(task->snapshot, task->stemsFolder, request, stems,
                                                  task->error);
            } else {
                task->result =
                    renderProjectToWav(std::move(task->snapshot), request, summary, task->error);
                task->silencedTracks = summary.silencedTracks;
                task->failedInserts = summary.failedInserts;
                task->normalizationHeldBackFromDb = summary.normalizationHeldBackFromDb;
                task->loudness = summary.loudness;
            }
        } catch (const std::bad_alloc &) {
            task->result = WavRenderResult::WriteFailed;
            task->error = withArguments(translate("OVMainView", "not enough memory to render %1"),
                                        {request.outputPath});
        }
        request.progress = {};
        request.cancelled = {};
    };
    job.finish = [this, task] { finishExport(*task); };
    return job;
}

namespace {

// What a done message calls the file: "WAV", "FLAC", "OGG", "MP3".
std::string formatShown(ExportContainer container) {
    std::string name(exportContainerName(container));
    for (char &letter : name)
        letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    return name;
}

std::string oneDecimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// What was written, as a mastering engineer reads a delivery: the integrated loudness, the
// true peak and the loudness range, and whether a loudness target was met.
std::string exportReport(const LoudnessFigures &written, const Normalization &normalization) {
    if (!std::isfinite(written.integratedLufs)) return translate("OVMainView", "silent");
    std::string report = withArguments(
        translate("OVMainView", "%1 LUFS integrated, true peak %2 dBTP, loudness range %3 LU"),
        {oneDecimal(written.integratedLufs), oneDecimal(written.truePeakDb),
         oneDecimal(written.loudnessRangeLu)});
    if (normalization.mode == NormalizeMode::Loudness) {
        // The same half unit within which the held-back warning counts a target as reached.
        const bool met = std::fabs(written.integratedLufs - normalization.target) <= 0.5;
        report += withArguments(met ? translate("OVMainView", " · target %1 LUFS met")
                                    : translate("OVMainView", " · target %1 LUFS not met"),
                                {oneDecimal(normalization.target)});
    }
    return report;
}

} // namespace

void OVMainView::finishExport(const ExportTask &task) {
    switch (task.result) {
    case WavRenderResult::Written:
        showStatus(withArguments(task.doneFormat, {std::to_string(task.request.frames),
                                                   formatShown(task.request.format.container)}) +
                   (task.loudness ? " · " + exportReport(*task.loudness, task.request.normalization)
                                  : std::string()));
        for (const std::string &track : task.silencedTracks)
            showStatus(withArguments(
                translate("OVMainView",
                          "Track “%1” muted: it produced invalid values (NaN or infinity)"),
                {track}));
        if (task.normalizationHeldBackFromDb) {
            char wanted[32], held[32];
            std::snprintf(wanted, sizeof wanted, "%+.1f", *task.normalizationHeldBackFromDb);
            std::snprintf(held, sizeof held, "%+.0f", largestNormalizationGainDb);
            showStatus(withArguments(translate("OVMainView",
                                               "Normalisation wanted %1 dB and was held to %2 dB: "
                                               "the file is quieter than the target"),
                                     {wanted, held}));
        }
        if (const Normalization &normalization = task.request.normalization;
            task.loudness && stoppedAtTruePeakCeiling(*task.loudness, normalization)) {
            char ceiling[32], reached[32], target[32];
            std::snprintf(ceiling, sizeof ceiling, "%.1f", normalization.ceilingDb);
            std::snprintf(reached, sizeof reached, "%.1f", task.loudness->integratedLufs);
            std::snprintf(target, sizeof target, "%.1f", normalization.target);
            showStatus(
                withArguments(translate("OVMainView", "The true-peak ceiling of %1 dBTP held the "
                                                      "loudness at %2 LUFS (target %3 LUFS)"),
                              {ceiling, reached, target}));
        }
        for (const std::string &failure : task.failedInserts) {
            showStatus(withArguments(translate("OVMainView", "Exported without a plug-in: %1"),
                                     {failure}));
            betaSessionLog("error", "plugins", "export: " + failure);
        }
        return;
    case WavRenderResult::Cancelled:
        showStatus(translate("OVMainView", "Export cancelled"));
        return;
    case WavRenderResult::RenderFailed: showStatus(task.failedText); break;
    case WavRenderResult::WriteFailed:
        // A refused target or a full disk is the user's to correct, so the reason is shown,
        // not only logged.
        showStatus(!task.error.empty()
                       ? withArguments(translate("OVMainView", "Export failed: %1"), {task.error})
                       : translate("OVMainView", "Export failed"));
        break;
    }
    betaSessionLog("error", "export", task.request.outputPath + ": " + task.error);
}

std::optional<LongJob> OVMainView::prepareExportWav() {
    return prepareExport("mixdown.wav", 0, arrangementExportLength(), 0,
                         translate("OVMainView", "%2 exported (%1 samples)"),
                         translate("OVMainView", "Export failed"));
}

std::optional<LongJob> OVMainView::prepareExportLoopWav() {
    if (!engine.transport.loopEnabled.load()) {
        showStatus(translate("OVMainView", "Turn on the cycle (C) to export the loop"));
        return std::nullopt;
    }
    const int64_t start = engine.transport.loopStart.load(), end = engine.transport.loopEnd.load();
    if (end <= start) {
        showStatus(translate("OVMainView", "Invalid loop range"));
        return std::nullopt;
    }
    return prepareExport("loop.wav", start, end - start, 0,
                         translate("OVMainView", "Loop %2 (%1 samples)"),
                         translate("OVMainView", "Export failed"));
}

std::optional<LongJob> OVMainView::prepareExportSelectedTrackWav() {
    std::string trackName;
    {
        std::lock_guard lock(engine.projectMutex);
        const auto track = selectedTrackId ? engine.project.findTrack(selectedTrackId) : nullptr;
        if (track) trackName = track->name;
    }
    if (selectedTrackId == 0 || trackName.empty()) {
        showStatus(translate("OVMainView", "Choose a track"));
        return std::nullopt;
    }
    return prepareExport(trackName + ".wav", 0, arrangementExportLength(), selectedTrackId,
                         translate("OVMainView", "Track exported (%1 samples)"),
                         translate("OVMainView", "Track export failed"));
}

std::optional<LongJob> OVMainView::prepareExportStems() {
    const std::optional<std::string> folder =
        ui.chooseFolder(translate("OVMainView", "Folder for the stems"));
    if (!folder || folder->empty()) return std::nullopt;
    auto task = std::make_shared<ExportTask>();
    task->request.outputPath = (std::filesystem::path(*folder) / "stems").string();
    task->request.frames = arrangementExportLength();
    task->request.format = exportFormat;
    task->request.normalization = exportNormalization;
    task->stemsFolder = *folder;
    task->doneFormat = translate("OVMainView", "Stems exported (%1 samples)");
    task->failedText = translate("OVMainView", "Stem export failed");
    {
        std::lock_guard lock(engine.projectMutex);
        rack.saveStatesIntoProject();
        task->snapshot = copyProjectDocument(engine.project);
        // Stems never go into the open project's folder either.
        task->projectFolder = engine.project.rootPath;
        task->request.projectFolder = task->projectFolder;
    }
    return exportJob(task);
}

void OVMainView::exportWav() { runHere(prepareExportWav()); }

void OVMainView::exportLoopWav() { runHere(prepareExportLoopWav()); }

void OVMainView::exportSelectedTrackWav() { runHere(prepareExportSelectedTrackWav()); }

void OVMainView::executeEdit(std::unique_ptr<Command> command) {
    {
        std::lock_guard lock(engine.projectMutex);
        commands.execute(engine.project, std::move(command));
        engine.publishGraph();
    }
    markDocumentDirty();
}

void OVMainView::setTrackArmed(uint64_t trackId, bool armed) {
    {
        std::lock_guard lock(engine.projectMutex);
        const auto track = engine.project.findTrack(trackId);
        if (!track || track->armed == armed) return;
        track->armed = armed;
        engine.publishGraph();
    }
    markDocumentDirty();
}

void OVMainView::stepHistory(bool undo) {
    std::lock_guard lock(engine.projectMutex);
    const std::string name = undo ? commands.undoName() : commands.redoName();
    if (name.empty()) return;
    if (undo)
        commands.undo(engine.project);
    else
        commands.redo(engine.project);
    engine.publishGraph();
    markDocumentDirty();
    const std::string shown = shownCommandName(name);
    showStatus(undo ? withArguments(translate("OVMainView", "Undo: %1"), {shown})
                    : withArguments(translate("OVMainView", "Redo: %1"), {shown}));
}

void OVMainView::undoEdit() { stepHistory(true); }

void OVMainView::redoEdit() { stepHistory(false); }

void OVMainView::play() {
    if (readAhead) readAhead(engine.transport.playhead.load());
    (void)engine.pushRequest(RequestProducer::MainThread, Request::play());
}

void OVMainView::locate(int64_t position) {
    position = std::max<int64_t>(position, 0);
    if (readAhead) readAhead(position);
    (void)engine.pushRequest(RequestProducer::MainThread, Request::locate(position));
}

void OVMainView::stop() {
    // Stop ends a take where it was pressed: a capture left running would lay whatever the
    // input hears afterwards over the following bars.
    RecordingWorkflow &takes = recording();
    if (takes.countInActive || takes.isRecordingActive()) {
        takes.toggleRecording(); // cancels the count-in, or keeps the take and stops
        return;
    }
    (void)engine.pushRequest(RequestProducer::MainThread, Request::stop());
}

void OVMainView::setCycle(int64_t start, int64_t end, bool enabled) {
    // The jump back to the cycle's start must find its media read.
    if (enabled && readCycleStart) readCycleStart(std::max<int64_t>(start, 0));
    (void)engine.pushRequest(RequestProducer::MainThread, Request::setCycle(start, end, enabled));
    // Without a device nobody consumes the request; the range is plain atomics, and the
    // export reads it right away.
    engine.transport.loopStart.store(std::max<int64_t>(start, 0));
    engine.transport.loopEnd.store(std::max<int64_t>(end, 0));
    engine.transport.loopEnabled.store(enabled);
}

int64_t OVMainView::arrangementExportLength() const {
    std::lock_guard lock(engine.projectMutex);
    return orvane::arrangementExportLength(engine.project);
}

int64_t OVMainView::projectEndSamples() const {
    std::lock_guard lock(engine.projectMutex);
    const Project &project = engine.project;
    int64_t end =
        std::max(beatSamples(project, 4.0 * beatsPerBar(usableMeter(project.timeSignature))),
                 project.lengthSamples);
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips) {
            if (clip->isSessionClip()) continue;
            int64_t length = std::max<int64_t>(clip->length, 1);
            if (clip->kind == ClipKind::Audio && clip->audio)
                length = std::max(length, clip->audioFrameCount());
            end = std::max(end, saturatingAdd(clip->arrangeStart, length));
        }
    for (const auto &marker : project.markers)
        end = std::max(end, marker.position);
    return std::max<int64_t>(end, 1);
}

} // namespace orvane
