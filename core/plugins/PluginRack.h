#pragma once

#include "core/model/Project.h"
#include "core/plugins/InsertDryPath.h"
#include "core/plugins/Plugin.h"
#include "core/plugins/sandbox/SandboxProtocol.h"
#include "core/plugins/vst3/PluginScanner.h"
#include "core/rt/RtPublished.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace orvane::lv2 {
class Lv2Plugin;
}

namespace orvane::vst {

class PluginSandboxController;
class SandboxedChain;
class SandboxedPlugin;
struct SavedInsert;

/// Consecutive sandboxed inserts of a track that share one helper ("one helper per track"),
/// processed in one round trip per block. Its members' `Vst3Plugin`s are unloaded meanwhile and
/// keep only their descriptions, so that each plug-in runs in exactly one place.
struct SandboxGroup {
    explicit SandboxGroup(PluginSandboxController &controller);
    ~SandboxGroup();
    SandboxGroup(const SandboxGroup &) = delete;
    SandboxGroup &operator=(const SandboxGroup &) = delete;

    std::unique_ptr<SandboxedChain> chain;
    /// The members' insert indices on the track, in processing order.
    std::vector<int32_t> insertIndices;
    /// For the status line: the members' names joined.
    std::string names;
};

/// What the rack needs of the engine. The plug-in library sits below the engine, so the
/// application binds these to its `Engine` (see `pluginRackHostFor`).
struct PluginRackHost {
    Project *project = nullptr;
    std::recursive_mutex *projectMutex = nullptr;
    /// Read once per `processTrack` call for parameter automation.
    const std::atomic<int64_t> *playhead = nullptr;
    std::function<void()> publishGraph;
    /// The engine's count of replaced projects: a view built for another project's tracks
    /// (whose ids start again) is not used. Null counts as always current.
    const std::atomic<uint64_t> *projectGeneration = nullptr;
    /// Audio thread: true while an offline render owns the engine. Sandboxed inserts then get
    /// all the time they need; otherwise they share the block's real-time budget. Empty: every
    /// block counts as offline.
    std::function<bool()> renderingOffline;
};

/// What the rack needs of the out-of-process helper's controller; empty functions count as a
/// helper that is not running.
struct PluginRackSandbox {
    PluginSandboxController *controller = nullptr;
    std::function<bool()> ensureSandboxRunning;
    std::function<void()> refreshHealth;
    std::function<bool()> isRunning;
};

/// Whether third-party plug-ins may run in helpers at all: they do unless "HALVORA_VST_SANDBOX"
/// begins with "0", which keeps every one in this process on this machine.
bool sandboxEnabledFromEnvironment();

/// The plug-ins installed in the default places, described class by class: in helpers that
/// `describerController` starts when `sandboxed` (the application never runs a bundle's code
/// then; a bundle that crashes its helper is blacklisted, and without a controller only the
/// bundles are listed), else in process. Falls back to the bundles when no class could be
/// described. Uses nothing but its arguments, so it may run on any thread.
std::vector<PluginDescription> scanInstalledPlugins(PluginScanner &scanner, bool sandboxed,
                                                    PluginSandboxController *describerController);

/// The value of one automated plug-in parameter at `playhead`, or none with fewer than two
/// points. Points are sorted by position; the result lies in [0, 1].
std::optional<float> pluginAutomationValueAt(std::span<const AutomationPoint> points,
                                             int64_t playhead);

/// What an instrument insert was last given, kept by its slot for whichever view plays it next:
/// where its last block ended, so that a jump of the playhead stops the notes it left sounding,
/// and the notes it holds, so that an edit that takes a sounding note away stops that note too.
/// Only the block that plays the insert touches it.
struct PlayedNotes {
    std::atomic<int64_t> blockEnd{std::numeric_limits<int64_t>::min()};
    std::array<uint16_t, 128> held{};
    /// `RtSlotView::noteListStamp` of the notes the last block played.
    uint64_t listStamp = 0;
};

/// What the audio thread tells the main thread of one insert: that a block it processed came
/// out with a NaN or an infinity in it (the block then went dry instead).
struct InsertHealth {
    std::atomic<bool> gaveNonFinite{false};
    /// The insert's processing time on the audio thread since the main thread last took it.
    LoadSums load;
};

/// What one insert cost over a stretch of blocks, as fractions of the blocks' durations (1 is
/// the whole block). A sandboxed insert's time is the helper's round trip from the audio
/// thread's side.
struct InsertLoad {
    uint64_t blocks = 0;
    double mean = 0.0;
    double peak = 0.0;
    bool sandboxed = false;
    /// A sandboxed insert's own processing, timed in its helper; what the audio thread paid
    /// above (`mean`, `peak`) is then the hand-over, the price of the sandbox. A member of a
    /// shared helper other than its first has only this: the group's hand-over is the first's.
    LoadStretch inHelper;
};

/// What one insert cost over the last stretch, for the mixer and the plug-in DSP window.
struct InsertLoadReport {
    uint64_t trackId = 0;
    int32_t insertIndex = 0;
    InsertLoad load;
};

/// An insert that stopped working because its helper died, hung or would not take its state,
/// while it was restored or between blocks: the track it sits on, the plug-in (a shared
/// helper's members joined) and why.
struct InsertFailure {
    uint64_t trackId = 0;
    std::string plugins;
    std::string reason;
    /// Its helper was started again and it plays on; the blocks in between went dry.
    bool restarted = false;
    /// It plays on, but its blocks that held NaN or infinity went dry: no helper to tell of.
    bool nonFinite = false;
};

/// One insert the rack created. Placeholders (`available` false) stand for a saved VST 3
/// insert whose plug-in could not be restored: their `InsertSlot` stays in the project as it
/// was read, and nothing processes them.
struct Slot {
    uint64_t trackId = 0;
    int32_t insertIndex = 0;
    int32_t isStock = 0;
    std::string stockId;
    std::string bundlePath;
    /// Any format, in this process or in a helper. Shared with the published views, which the
    /// main thread alone releases: the last owner of a plug-in is never the audio thread.
    std::shared_ptr<Plugin> plugin;
    /// The same plug-in as `plugin` when it is an LV2 one in this process, for its interface
    /// and its parameter panel, which name its controls by their place in its list.
    std::shared_ptr<lv2::Lv2Plugin> lv2Plugin;
    /// The same plug-in as `plugin` when it runs in a helper of its own, whose life the rack
    /// looks after.
    SandboxedPlugin *sandboxed = nullptr;
    bool available = true;
    /// The insert's dry side, whichever view the audio thread reads.
    std::shared_ptr<InsertDryPath> dryPath;
    /// The slot's own, so that a new view takes over where the last block of the old one
    /// ended, whichever of them played it.
    std::shared_ptr<PlayedNotes> playedNotes = std::make_shared<PlayedNotes>();
    std::shared_ptr<InsertHealth> health = std::make_shared<InsertHealth>();
    /// Whether its non-finite output was reported already: once is enough.
    bool nonFiniteReported = false;
    /// Set while the insert runs in its track's shared helper, as member `groupMember`.
    std::shared_ptr<SandboxGroup> group;
    uint32_t groupMember = 0;

    Slot() = default;
    Slot(Slot &&) = default;
    Slot &operator=(Slot &&) = default;
    Slot(const Slot &) = delete;
    Slot &operator=(const Slot &) = delete;
};

/// One note of an instrument insert's track, in samples from the song's start.
struct RtNoteEvent {
    int64_t position = 0;
    uint8_t status = 0x90;
    uint8_t pitch = 0;
    uint8_t velocity = 0;
};

/// What the audio thread knows about one live plug-in insert. The insert's bypass flag and
/// automation are copies taken when the view was published, so the audio thread never reads
/// the live project.
struct RtSlotView {
    uint64_t trackId = 0;
    int32_t insertIndex = 0;
    int32_t isStock = 0;
    Plugin *plugin = nullptr;
    int32_t latency = 0;
    /// The block a sandboxed insert runs behind in live playback, on top of `latency`.
    int32_t liveLatency = 0;
    /// The shared helper of a group's first member, which processes the whole group; the other
    /// members' entries are skipped. Their latency and live latency count on the first.
    SandboxedChain *group = nullptr;
    bool groupFollower = false;
    /// Every member's shared helper and its place in it, so that the first member can hand
    /// the others' bypass flags and automation to the helper with the block.
    SandboxedChain *groupChain = nullptr;
    uint32_t groupMember = 0;
    /// The first member's alone: where every member's entry is in the view, so that a block
    /// stages the members' flags and values without a search through the whole view.
    std::vector<std::size_t> groupMemberEntries;
    bool bypassed = false;
    uint32_t automParamId = 0;
    /// Empty unless the insert has at least two points and its index is still valid.
    std::vector<AutomationPoint> paramAutomation;
    /// Every entry that runs has one; a group's followers, which never run, have none.
    InsertDryPath *dryPath = nullptr;
    PlayedNotes *playedNotes = nullptr;
    InsertHealth *health = nullptr;
    /// An instrument insert on a MIDI track: its clips' note-ons and note-offs, by position.
    std::vector<RtNoteEvent> noteEvents;
    /// Tells one list of `noteEvents` from another.
    uint64_t noteListStamp = 0;
};

/// One published view; immutable once published except for the audio thread's own state
/// (dry paths, block ends, the last automation values).
struct PluginRackView {
    std::vector<RtSlotView> entries;
    std::vector<std::shared_ptr<Plugin>> plugins;
    std::vector<std::shared_ptr<InsertDryPath>> dryPaths;
    std::vector<std::shared_ptr<PlayedNotes>> playedNotes;
    std::vector<std::shared_ptr<InsertHealth>> health;
    std::vector<std::shared_ptr<SandboxGroup>> groups;
    /// Parallel to `entries`: the last automation value sent, NaN before the first.
    std::unique_ptr<std::atomic<float>[]> automationValues;
    /// The host's project generation when the view was built.
    uint64_t projectGeneration = 0;
};

/// Main thread, for the view's builder: gives each group's first entry the places of all the
/// group's entries, its own included, in the order of the view.
void listGroupMemberEntries(std::vector<RtSlotView> &entries);

/// Owns every live plug-in instance and keeps it in step with the insert lists of the
/// project's tracks.
///
/// Threads: `processTrack`, `latencySamples` and `maxLatencySamples` may run on the audio
/// thread; they read the published view without locks or allocation. Everything else runs on
/// the main thread. Lock order: project mutex, then `slotsMutex`.
class PluginRack {
  public:
    explicit PluginRack(PluginRackHost host, PluginRackSandbox sandbox = {});
    ~PluginRack();
    PluginRack(const PluginRack &) = delete;
    PluginRack &operator=(const PluginRack &) = delete;

    PluginRackHost host;
    PluginScanner scanner;
    PluginRackSandbox sandbox;
    std::vector<PluginDescription> plugins;
    std::vector<Slot> slots;
    std::mutex slotsMutex;
    // Written by `prepare` on whichever thread changes the period, read by the audio thread
    // for its sandbox budget.
    std::atomic<double> sampleRate{48000.0};
    std::atomic<int32_t> blockSize{512};
    bool sandboxEnabled = false;
    /// Whether a plug-in loaded on `track` (as `insert`, when it is one already) runs in a
    /// helper: always, unless the machine, the song, the track or the insert keeps it in this
    /// process. The caller holds the project mutex.
    bool runsInHelperLocked(const Track *track, const InsertSlot *insert) const;
    /// Whether sandboxed inserts on tracks that carry no live input take live blocks a batch
    /// at a time (`liveAheadFramesFor`): one round trip to the helper per batch instead of one
    /// per period, for a delay of two batches that compensation hides. Inserts on armed or
    /// monitoring tracks, and instruments, stay at the device's period.
    bool gathersLiveBlocks = true;
    /// About 21 ms: long enough that a helper wakes 16 times less often at 64 frames, short
    /// enough that a moved control is heard within twice that.
    static int32_t liveAheadFramesFor(double sampleRate);
    /// What a sandboxed insert made now is prepared for: the batch, or 0 when none is gathered.
    int32_t liveAheadFramesOrNone() const;

    void prepare(double newSampleRate, int32_t newBlockSize);
    void scan();
    /// Blocks the plug-in with this uid and saves the block list; false when the list could
    /// not be saved, and the block then lasts only until the program ends.
    [[nodiscard]] bool blacklistPluginUid(const std::string &uid);
    [[nodiscard]] bool loadStock(uint64_t trackId, const std::string &stockId);
    /// Loads an LV2 plug-in instead when `uid` is an LV2 id ("lv2:" + URI).
    [[nodiscard]] bool loadVst3(uint64_t trackId, const std::string &path, const std::string &uid,
                                const std::vector<uint8_t> *state = nullptr);
    /// Adds an insert of the installed LV2 plug-in with this URI; `state` as `getState` of
    /// `lv2::Lv2Plugin` gave it, empty for the default control values.
    [[nodiscard]] bool loadLv2(uint64_t trackId, const std::string &uri,
                               const std::vector<uint8_t> *state = nullptr);
    /// For tests and panels: the LV2 plug-in of an insert, or null.
    lv2::Lv2Plugin *lv2PluginAt(uint64_t trackId, int32_t insertIndex);
    [[nodiscard]] bool openEditor(uint64_t trackId, int32_t insertIndex);
    /// Closes what `openEditor` opened (in the insert's helper, when it runs in one).
    void closeEditor(uint64_t trackId, int32_t insertIndex);
    /// What became of the editor `openEditor` opened, and the values the user set in it
    /// since the last call (see `Plugin::pollEditor`); `closed` when the insert has gone.
    EditorStatus pollEditor(uint64_t trackId, int32_t insertIndex,
                            std::vector<ParameterValue> &edits);

    /// Share of a block's period that all sandboxed inserts of a real-time block may spend
    /// waiting for their helpers, together. An insert whose helper has not answered in time
    /// passes the block on dry, with its latency kept.
    static constexpr double sandboxBudgetShare = 0.5;

    // Audio thread.
    void processTrack(uint64_t trackId, float *left, float *right, int32_t frames) noexcept;
    int32_t latencySamples(uint64_t trackId) const noexcept;
    int32_t maxLatencySamples() const noexcept;

    /// Main thread: every plug-in's state into its insert record. LV2 plug-ins keep their files
    /// in the project's "plugin-files" folder; when it cannot be written, `stateFolderWarning`
    /// says which folder and why (else it is empty), for the save to report.
    void saveStatesIntoProject();
    std::string stateFolderWarning;
    void unloadAll();
    /// Rebuilds every insert from the project's records, keeping each one's bypass flag and
    /// automation. Inserts that cannot be restored stay as placeholders; each is described in
    /// one line of `warnings`. With `rescan`, the VST 3 folders are scanned again once the old
    /// plug-ins are gone. Returns the number of placeholders.
    int restoreFromProject(std::string *warnings = nullptr, bool rescan = false);

    /// Copies the inserts' bypass flags and automation into a new view for the audio thread.
    /// Call after every `Engine::publishGraph` that may have changed them.
    void publishRtView();
    /// After every `Engine::publishGraph`: a view with the project's notes, when an instrument
    /// plays them, so that a note edit reaches a playing instrument with the next block.
    void followGraph();
    /// Gives each sandboxed insert the live batch its track allows now (see
    /// `gathersLiveBlocks`); true when one changed. With `slotsMutex` and the project held.
    bool followLiveInputsLocked();
    /// Frees views (and the plug-ins only they still hold) that the audio thread has left.
    void collectRetiredViews();
    /// For tests: views retired and still held by a block.
    std::size_t retiredViewCount() const { return views.retiredCount(); }
    /// Lets every out-of-process plug-in whose helper failed during a block record the failure
    /// and stop that helper; the insert then stays silent. Returns how many failed, each
    /// member of a shared helper that could not be restarted included. A helper
    /// that was lost after it had played (its process gone, or a second of missed blocks) is
    /// restarted with its plug-in's state instead, and noted for `takeHelperRestartNotes`.
    int collectHelperFailures();
    /// Main thread: one line per helper restarted since the last call, for the status line and
    /// the log.
    std::vector<std::string> takeHelperRestartNotes();
    /// Main thread: one line per failure `collectHelperFailures` counted since the last call
    /// (a shared helper's once, with every member's name), for the status line and the log.
    std::vector<std::string> takeHelperFailureNotes();
    /// Main thread: every insert that failed since the last call, once each, the restarted
    /// ones included: what a render names before it exits with its failure status.
    std::vector<InsertFailure> takeInsertFailures();
    /// Main thread: puts the sandboxed inserts of tracks set to one helper per track into
    /// shared helpers (an instrument only at the head of one), and those of the others and of
    /// removed tracks back into one helper each, wherever what the project asks for differs
    /// from what runs. Members keep their states. True when anything
    /// changed. Run by `restoreFromProject` and from the application's tick, so it returns at
    /// once, without a lock or an allocation, unless the rack was published or a helper
    /// failed since it last looked and some track asks for a shared helper or has one.
    bool regroupSandboxedInserts();
    /// For tests and the status line: the shared helpers of a track.
    std::vector<std::shared_ptr<SandboxGroup>> sandboxGroupsOf(uint64_t trackId);

    /// False for a placeholder; true for every other insert the rack created.
    bool insertAvailable(uint64_t trackId, int32_t insertIndex);
    /// Whether the insert lost its helper for good or sent NaN or infinity, so that the window
    /// can mark it beside the status line's report.
    bool insertFailed(uint64_t trackId, int32_t insertIndex);
    /// What the insert cost since the last call (none when it did not run or does not exist),
    /// starting the next stretch. Main thread.
    InsertLoad takeInsertLoad(uint64_t trackId, int32_t insertIndex);
    /// Every insert's cost over the last stretch of about a second, taken afresh when asked a
    /// second or more after the last time (main thread). The mixer and the plug-in DSP window
    /// read the same stretch, so neither takes the blocks the other would show.
    const std::vector<InsertLoadReport> &insertLoads();
    /// Whether an insert still runs `instance` (a VST 3 or an LV2 plug-in), which a window
    /// holding on to a plug-in asks before it trusts it again.
    bool holdsInstance(const Plugin *instance);
    /// The plug-in of an insert as the window edits it: its own instance, or, while it runs in
    /// its track's shared helper, a view of its place there (which `holdsInstance` knows until
    /// the grouping changes). Null for none. Under `slotsMutex`.
    std::shared_ptr<Plugin> editablePluginLocked(const Slot &slot);
    /// Gives one parameter of an insert's plug-in a normalized value and returns the plug-in's
    /// state afterwards; none for a built-in insert, a placeholder or no insert. Main thread,
    /// with the project mutex held or not.
    std::optional<std::vector<uint8_t>> setParameterAndReadState(uint64_t trackId,
                                                                 int32_t insertIndex,
                                                                 uint32_t parameterId,
                                                                 float normalized);
    /// Gives an insert's plug-in a state (a preset's, or one it gave before) and returns its
    /// state afterwards, in whichever process it runs; none for a built-in insert, a
    /// placeholder, no insert or a state the plug-in refused. Main thread, with the project
    /// mutex held or not.
    std::optional<std::vector<uint8_t>> setStateAndReadState(uint64_t trackId, int32_t insertIndex,
                                                             const std::vector<uint8_t> &state);
    /// Last automation value the audio thread sent to the insert's plug-in, if any.
    std::optional<float> lastAutomationValue(uint64_t trackId, int32_t insertIndex) const;
    /// Number of live plug-in instances, those awaiting release included.
    std::size_t livePluginCount() const;

    /// Set by `installPluginRackHooks`: takes the rack's hooks out of the engine and waits
    /// until no block uses them. Run by the destructor first.
    std::function<void()> detachFromEngine;

  private:
    void scanBundlesUsedBy(const std::vector<SavedInsert> &saved);
    /// The view a block reads, if it belongs to the project the engine holds now.
    const PluginRackView *usableView(const PluginRackView *view) const noexcept;

    std::shared_ptr<lv2::Lv2Plugin>
    createLv2Plugin(const std::string &uri, const std::vector<uint8_t> *state, std::string *error);
    [[nodiscard]] bool appendLv2(uint64_t trackId, std::shared_ptr<lv2::Lv2Plugin> plugin,
                                 const std::vector<uint8_t> *state);
    std::string projectStateFolder() const;
    std::string lv2StateFolder() const;
    std::shared_ptr<SandboxedPlugin> createSandboxedLv2(const std::string &uri,
                                                        const std::vector<uint8_t> *state);
    [[nodiscard]] bool appendSandboxedLv2(uint64_t trackId, std::shared_ptr<SandboxedPlugin> plugin,
                                          const std::vector<uint8_t> *state);
    std::shared_ptr<Plugin> createPlugin(const std::string &path, const std::string &uid,
                                         const std::vector<uint8_t> *state, bool inHelper);
    bool runsInHelper(uint64_t trackId);
    /// Whether the scan lists the plug-in at `path` (class `uid`, when given) as an instrument.
    bool scannedAsInstrument(const std::string &path, const std::string &uid) const;
    [[nodiscard]] bool appendVst3(uint64_t trackId, std::shared_ptr<Plugin> plugin,
                                  const std::string &path, const std::vector<uint8_t> *state);
    void appendSlot(Slot slot);
    void restoreStock(uint64_t trackId, InsertSlot insert);
    void restorePlaceholder(uint64_t trackId, InsertSlot insert);
    void restoreLv2(const SavedInsert &entry, InsertSlot insert, std::string *warnings,
                    int &placeholders);
    [[nodiscard]] bool processPluginRt(const PluginRackView &view, std::size_t index,
                                       int64_t playhead, float *left, float *right,
                                       int32_t frames) noexcept;
    std::vector<Slot> takeSlots();
    void publishViewLocked();
    void fillRtEntryFromInsert(Slot &slot, RtSlotView &entry);
    void releaseRetiredViews(bool waitForAudioThread);
    [[nodiscard]] bool processGroupRt(const PluginRackView &view, std::size_t index,
                                      int64_t playhead, float *left, float *right,
                                      int32_t frames) noexcept;
    void stageGroupMembersRt(const PluginRackView &view, const RtSlotView &first,
                             int64_t playhead) noexcept;
    int recoverGroupLocked(uint64_t trackId, const SandboxGroup &group);
    void noteHelperLocked(std::vector<std::string> &notes, uint64_t trackId,
                          const std::string &names);
    /// A sandboxed plug-in just made: null, with why in `lastCreateFailure`, when its helper
    /// did not survive loading or taking the saved state.
    std::shared_ptr<SandboxedPlugin> survivingHelper(std::shared_ptr<SandboxedPlugin> plugin);
    void noteCreateFailure(uint64_t trackId, const InsertSlot &insert);
    bool groupingMayHaveChanged() const;
    Deadline sandboxBudgetRt(int32_t frames, int64_t playhead) noexcept;
    std::vector<std::vector<int32_t>> wantedGroupsLocked(const Track &track) const;
    std::vector<std::vector<int32_t>> runningGroupsLocked(uint64_t trackId) const;
    Slot *slotAtLocked(uint64_t trackId, int32_t insertIndex);
    static InsertLoad takeLoadLocked(const Slot &slot);
    std::vector<InsertLoadReport> lastLoads;
    std::chrono::steady_clock::time_point loadsTakenAt{};
    const Slot *slotAtLocked(uint64_t trackId, int32_t insertIndex) const;
    void formGroupLocked(uint64_t trackId, const std::vector<int32_t> &insertIndices,
                         std::vector<std::shared_ptr<Plugin>> &leaving);
    /// Dissolves and forms the groups the tracks ask for; true when any changed.
    bool regroupLocked(std::vector<std::shared_ptr<Plugin>> &leaving);
    void dissolveGroupsLocked(uint64_t trackId);
    bool dissolveGroupsOfRemovedTracksLocked();
    bool playingLive() const noexcept;
    void runInsertRt(const PluginRackView &view, std::size_t index, int64_t playhead, float *left,
                     float *right, int32_t frames) noexcept;
    /// Adds the block that began at `started` to the insert's load.
    void noteLoadRt(const RtSlotView &entry, std::chrono::steady_clock::time_point started,
                    int32_t frames) noexcept;
    std::string trustedBundleFor(const InsertSlot &insert,
                                 const std::vector<std::string> &foundBundles) const;

    /// Written with `slotsMutex` held.
    RtPublished<PluginRackView> views;

    /// The real-time budget of the block being rendered: made by the first `processTrack` of a
    /// block and shared by the rest, which may run on the engine's helper threads at the same
    /// time. A block is new when the playhead has moved or a period has passed since the
    /// budget was made. `busy` guards it for the few instructions a look or an update takes;
    /// only rendering threads ever hold it.
    struct BlockBudget {
        Deadline deadline;
        std::chrono::steady_clock::time_point madeAt;
        int64_t playhead = 0;
        bool made = false;
    };
    BlockBudget blockBudget;
    std::atomic_flag blockBudgetBusy;
    std::vector<std::string> helperRestartNotes;
    std::vector<std::string> helperFailureNotes;
    std::vector<InsertFailure> insertFailures;
    /// Why the last sandboxed plug-in could not be made, when its helper died or hung doing it.
    std::string lastCreateFailure;
    /// Groupings whose shared helper would not start, by track: not tried again every tick,
    /// only once the track asks for another.
    std::vector<std::pair<uint64_t, std::vector<std::vector<int32_t>>>> refusedGroupings;
    /// Bumped by every publication and by every helper failure or restart: whatever changes
    /// which inserts may share a helper does one or the other.
    std::atomic<uint64_t> rackChanges{1};
    /// As of the last publication: some track asks for one helper per track, or a shared
    /// helper runs.
    std::atomic<bool> groupingInUse{false};
    /// As of the last publication: some insert plays its track's notes.
    std::atomic<bool> instrumentsInUse{false};
    /// `rackChanges` when `regroupSandboxedInserts` last looked (main thread).
    uint64_t regroupedAt = 0;
};

/// Everything a headless render needs: prepares the rack, scans the VST 3 folders and
/// restores the project's inserts. False when an insert could not be restored (described in
/// `warnings`); the project still renders, without that insert.
[[nodiscard]] bool restoreRackForRender(PluginRack &rack, double sampleRate, int32_t blockSize,
                                        std::string *warnings);

/// Binds a rack to the application's engine. A template so that this library does not
/// depend on the engine's.
template <class EngineType> PluginRackHost pluginRackHostFor(EngineType &engine) {
    return PluginRackHost{
        &engine.project,           &engine.projectMutex,
        &engine.renderPosition,    [&engine] { engine.publishGraph(); },
        &engine.projectGeneration, [&engine] { return engine.offlineRenderActive(); }};
}

/// Binds a rack to the application's sandbox controller.
template <class Controller> PluginRackSandbox pluginRackSandboxFor(Controller &controller) {
    return PluginRackSandbox{&controller,
                             [&controller] { return controller.ensureSandboxRunning(); },
                             [&controller] { controller.refreshHealth(); },
                             [&controller] { return controller.running.load(); }};
}

/// Installs the rack as the engine's insert, latency and device format hooks. The rack takes
/// them out again when it is destroyed (and waits for the blocks using them), so it may go
/// before the engine; the engine must outlive the rack.
template <class EngineType> void installPluginRackHooks(EngineType &engine, PluginRack &rack) {
    engine.setRenderHooks(
        [&rack](uint64_t trackId, float *left, float *right, int32_t frames) {
            rack.processTrack(trackId, left, right, frames);
        },
        [&rack](uint64_t trackId) -> int64_t { return rack.latencySamples(trackId); }, true);
    engine.setDeviceFormatHook(
        [&rack](double sampleRate, int32_t maxFrames) { rack.prepare(sampleRate, maxFrames); });
    engine.setGraphPublishedHook([&rack] { rack.followGraph(); });
    rack.detachFromEngine = [&engine] {
        engine.setGraphPublishedHook({});
        engine.setDeviceFormatHook({});
        engine.setRenderHooks({}, {});
    };
}

} // namespace orvane::vst
