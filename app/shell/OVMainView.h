#pragma once

#include "app/shell/ApplicationUi.h"
#include "app/shell/LongJob.h"
#include "core/audiofile/AudioExport.h"
#include "core/audiofile/AudioFile.h"
#include "core/audiofile/Loudness.h"
#include "core/commands/CommandStack.h"
#include "core/engine/Engine.h"
#include "core/midifile/MidiConversion.h"
#include "core/project_io/ProjectFolder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

class AudioDeviceEngine;
class AutomationTools;
class MidiLearning;
class RecordingWorkflow;
class TempoTools;
namespace vst {
class PluginRack;
}

/// The document side of the workspace view: new, open, save, collect, autosave, recovery,
/// relink, import, export and undo/redo over the application's services, asking the user
/// through `ApplicationUi` and reporting in the status line. Main thread only; every touch
/// of the project happens under the engine's project lock.
/// An audio file decoded for import, ready to be placed on the main thread. Decoding is the
/// slow part, so the window does it on a worker.
struct AudioImport {
    std::string path;
    DecodedAudio audio;
    std::string error; // why it cannot be imported, when `decoded` is false
    bool decoded = false;
};

/// Checks and decodes one file at the project rate; safe on any thread.
AudioImport decodeAudioForImport(const std::string &path, double sampleRate);

class OVMainView {
  public:
    OVMainView(Engine &engine, AudioDeviceEngine *audio, vst::PluginRack &rack,
               CommandStack &commands, HVLoggingStatusField &status, ApplicationUi &ui);
    ~OVMainView();
    OVMainView(const OVMainView &) = delete;
    OVMainView &operator=(const OVMainView &) = delete;

    // Document state.
    std::string projectPath; // empty for a project never saved
    bool projectDirty = false;
    uint64_t selectedTrackId = 0;
    uint64_t selectedClipId = 0;
    double timelineScrollBeats = 0.0;
    double timelinePpb = 36.0;
    /// Beats the timeline shows after fitting it to the content.
    double timelineVisibleBeats = 0.0;
    enum class Tab : uint8_t { Timeline, Session };
    Tab tab = Tab::Timeline;
    /// The timeline scrolls with the playhead.
    bool followPlayhead = false;

    /// Automation write mode, latch and lane (the mixer's drags write through it).
    AutomationTools &automation() { return *automationTools; }
    /// Tempo analysis, tap tempo, the tempo follower and flashback capture.
    TempoTools &tempoTools() { return *tempoToolsPtr; }
    /// The record command, count-in, punch and the session recording modes.
    RecordingWorkflow &recording() { return *recordingPtr; }
    /// Learned MIDI controllers: learning, forgetting, and the values they move.
    MidiLearning &midiLearning() { return *midiLearningPtr; }
    void fitTimelineToContent();

    void markDocumentDirty() {
        projectDirty = true;
        ++documentEdits;
    }
    /// Counts the edits made to the document, so that work on a snapshot can tell whether the
    /// document changed while it ran.
    uint64_t documentEdits = 0;
    /// Saves the user asked for that have not finished yet.
    int savesInFlight = 0;
    /// What a save to a newly chosen place does when another project is already there: the
    /// window asks; without a window nobody can be asked, so it refuses unless told to replace.
    enum class ExistingProject : uint8_t { Ask, Refuse, Replace };
    ExistingProject existingProject = ExistingProject::Ask;
    /// Before an operation that replaces the document: with unsaved changes, asks to save,
    /// discard or cancel. True when the operation may go on.
    [[nodiscard]] bool confirmDiscardingChanges(const std::string &title,
                                                const std::string &discardButton);

    void newProject();
    void openProject();
    [[nodiscard]] bool
    loadProjectFromBundle(const std::string &path,
                          const std::optional<std::string> &statusMessage = std::nullopt);
    [[nodiscard]] bool saveProject();
    [[nodiscard]] bool collectAllAndSave();
    /// Asks for a new location even when the project has one.
    [[nodiscard]] bool saveProjectAs();
    [[nodiscard]] bool saveProjectToPath(const std::string &path, bool markSaved,
                                         bool collectAll = false);
    /// Whether a save may write the project to the newly chosen `path`: never through a
    /// symbolic link, and over another project only as `existingProject` says. Shows why not.
    [[nodiscard]] bool maySaveAsTo(const std::string &path);

    [[nodiscard]] bool performAutosaveSilently();

    // The long operations, each split into a "prepare" step on the main thread (asks the
    // user, checks, takes a snapshot) that returns the job, a "perform" step that works on
    // the snapshot alone on any thread, and a "finish" step back on the main thread that
    // reports and changes the document. Nothing is returned when the user cancelled or a
    // check failed (the status line says why). The synchronous operations above and below
    // run the same jobs on the calling thread.
    std::optional<LongJob> prepareSave();
    std::optional<LongJob> prepareCollectAllAndSave();
    /// Asks where, then saves there on a worker, as "save-as" does.
    std::optional<LongJob> prepareSaveAs();
    /// `done` learns whether the copy was written; called at once when there is nothing to
    /// save or no place to save it (and nothing is returned).
    std::optional<LongJob> prepareAutosave(std::function<void(bool written)> done);
    std::optional<LongJob> prepareExportWav();
    std::optional<LongJob> prepareExportLoopWav();
    std::optional<LongJob> prepareExportSelectedTrackWav();
    /// Asks for a folder, then writes one file per track and return there (see
    /// `renderProjectStems`).
    std::optional<LongJob> prepareExportStems();
    /// Reads a Standard MIDI File and adds a MIDI track with one clip at `startSamples` for
    /// each of its tracks with notes, as one undoable step; with `takeTimeMaps` its tempo and
    /// meter replace the project's. A damaged file changes nothing; the status line says why.
    [[nodiscard]] bool importMidiFile(const std::string &path, int64_t startSamples,
                                      bool takeTimeMaps);
    /// Asks for a .mid file, then imports it at the start with its tempo and meter.
    void importMidiFileFromMenu();
    /// The same as a job: the file is read and its notes and tempo map placed on the worker
    /// (a file of many tempo changes takes a while), the clips added on the main thread.
    /// Cancelling, or opening another project meanwhile, adds nothing.
    std::optional<LongJob> prepareImportMidiFile();
    /// Reads and plans the import of `path` on the worker, then adds it as `importMidiFile`.
    LongJob importMidiJob(const std::string &path, int64_t startSamples, bool takeTimeMaps);
    /// Asks where, then writes the selected MIDI track, or the whole song when no MIDI track
    /// is selected.
    void exportMidiFileFromMenu();
    /// Writes the song, a MIDI track or a MIDI clip as a format 1 file with the tempo map.
    [[nodiscard]] bool exportMidiFile(const std::string &path, midifile::MidiExportScope scope,
                                      uint64_t id);
    /// The format and normalisation every export from the window uses.
    ExportFormat exportFormat;
    Normalization exportNormalization;
    std::optional<LongJob> prepareImportAudio();
    /// Asks to discard unsaved changes and for the project; the job reads it and decodes its
    /// media, and its finish replaces the document.
    std::optional<LongJob> prepareOpenProject();
    /// Opens the project folder at `path` (a recent project) after the unsaved-changes question.
    std::optional<LongJob> prepareOpenProjectAt(const std::string &path);
    /// A project read and decoded, not yet the document.
    struct OpenedProject;
    /// Decodes the dropped files that can be imported and places them as `dropDecodedFiles`.
    LongJob prepareDropImport(const std::vector<std::string> &paths, uint64_t trackId,
                              int64_t startSamples);
    /// Reads the audio or MIDI file at `path` (decoded, or its notes gathered into one clip)
    /// and places it in the free session cell (`row`, launcher `column`) of `trackId` as one
    /// undoable step; the status says why when it cannot.
    LongJob prepareSessionCellImport(const std::string &path, uint64_t trackId, int32_t row,
                                     int32_t column);
    /// Places decoded files as the import command does: each on a new audio track at the
    /// playhead, reporting how many made it.
    void placeImportedFiles(const std::vector<AudioImport> &imports);
    /// Why the last autosave failed.
    std::string lastAutosaveError;
    /// False when the copy did not open; it is then kept aside and the status says where.
    [[nodiscard]] bool loadRecoveryProject(const std::string &storedName);
    /// Set when a recovery copy that did not open could not be moved aside: the quit keeps it.
    bool keepRecoveryAtQuit = false;
    void relinkMissingMedia(const std::vector<project_io::MissingMediaEntry> &missing);
    /// Offers the takes a recording of the open project left when the program died (see
    /// `readInterruptedTakes`): recovered, they are placed where they were recorded as one
    /// undoable edit; discarded, their files go; otherwise they are offered again next time.
    void offerInterruptedTakes();

    void importAudio();
    [[nodiscard]] bool importAudioFileAtPath(const std::string &path, std::string &errorMessage);
    [[nodiscard]] bool importAudioFileAtPath(const std::string &path, uint64_t trackId,
                                             int64_t startSamples, bool usePlayheadIfZero,
                                             std::string &errorMessage);
    /// Files dropped on the view: onto `trackId` (0: a new audio track) at `startSamples`.
    void dropFiles(const std::vector<std::string> &paths, uint64_t trackId, int64_t startSamples);
    /// Places decoded files as `dropFiles` does, each through an undoable "Import Audio".
    void dropDecodedFiles(const std::vector<AudioImport> &imports, uint64_t trackId,
                          int64_t startSamples);
    /// Places one decoded file (undoable); false with the reason when it cannot.
    [[nodiscard]] bool placeImportedAudio(const AudioImport &import, uint64_t trackId,
                                          int64_t startSamples, bool usePlayheadIfZero,
                                          std::string &errorMessage);

    void exportWav();
    void exportLoopWav();
    void exportSelectedTrackWav();

    /// Runs an edit through the command stack and marks the document dirty.
    void executeEdit(std::unique_ptr<Command> command);
    /// Arms or disarms a track for recording. It is a setting of the session at hand, as the
    /// monitoring is, not an edit of the song: it takes no undo step.
    void setTrackArmed(uint64_t trackId, bool armed);
    void undoEdit();
    void redoEdit();

    /// Play, locate and a new cycle first have the disk side read what will play there, so
    /// that the first blocks find their media in memory.
    void play();
    void stop();
    void locate(int64_t position);
    /// The cycle range in samples, which the cycle export renders.
    void setCycle(int64_t start, int64_t end, bool enabled);
    /// Reads the media that play from a position before the transport goes there; set by
    /// the application, which owns the disk thread.
    std::function<void(int64_t position)> readAhead;
    /// Reads where a cycle being set jumps back to, keeping what plays now.
    std::function<void(int64_t start)> readCycleStart;

    int64_t arrangementExportLength() const;
    int64_t projectEndSamples() const;
    /// The running device's rate, which every opened project adopts; 0 without a device
    /// (a project then keeps its own rate).
    double deviceSampleRate() const;

  private:
    void keepUnloadableRecovery();
    void reportUnreadableMedia(const std::vector<project_io::MediaLoadFailure> &unreadable);
    void showStatus(const std::string &text) { status.setText(text); }
    void ensureReturnTracksAndPublish();
    void selectFirstTrack();
    /// Makes a read project the document, or says that it could not be opened.
    [[nodiscard]] bool adoptOpenedProject(OpenedProject &opened,
                                          const std::optional<std::string> &statusMessage);
    /// The grid position nearest `position` that is not before it (so clips never overlap).
    int64_t snapNotBefore(int64_t position) const;
    void stepHistory(bool undo);
    struct SaveTask;
    struct ExportTask;
    std::shared_ptr<SaveTask> snapshotForSave(const std::string &path, bool markSaved,
                                              bool collectAll);
    LongJob saveJob(std::shared_ptr<SaveTask> task);
    void finishSave(SaveTask &task);
    LongJob openProjectJob(const std::string &path);
    std::optional<LongJob> prepareSaveWithPrompt(bool collectAll, bool alwaysAsk,
                                                 const std::string &doneText,
                                                 std::shared_ptr<bool> saved = nullptr);
    [[nodiscard]] bool saveWithPrompt(bool collectAll, bool alwaysAsk, const std::string &doneText);
    std::optional<LongJob> prepareExport(const std::string &defaultName, int64_t start,
                                         int64_t frames, uint64_t soloTrackId,
                                         const std::string &doneFormat,
                                         const std::string &failedText);
    LongJob exportJob(std::shared_ptr<ExportTask> task);
    void finishExport(const ExportTask &task);
    void runHere(std::optional<LongJob> job);

    Engine &engine;
    AudioDeviceEngine *audio;
    vst::PluginRack &rack;
    CommandStack &commands;
    HVLoggingStatusField &status;
    ApplicationUi &ui;
    std::unique_ptr<AutomationTools> automationTools;
    std::unique_ptr<TempoTools> tempoToolsPtr;
    std::unique_ptr<RecordingWorkflow> recordingPtr;
    std::unique_ptr<MidiLearning> midiLearningPtr;
};

/// The project "New" makes: the start-up song's "MIDI 1" phrase with volume and pan
/// automation, an empty "Аудио 1", and a tempo change to 140 BPM at bar 5.
Project buildNewProject(double sampleRate);

/// Accepted by the import and drop paths, compared without regard to case.
bool isImportableAudioFile(const std::string &path, bool dropped);
/// A Standard MIDI File by its name (".mid" or ".midi", any case).
bool isMidiFileName(const std::string &path);

} // namespace orvane
