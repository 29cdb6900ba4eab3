#include "core/plugins/PluginRack.h"

#include "core/plugins/FramedNotes.h"

#include "core/model/Translate.h"
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/Lv2World.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/SandboxedChain.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "core/plugins/vst3/Vst3Plugin.h"
#include "core/rt/RtThread.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <thread>
#include <type_traits>
#include <utility>

namespace orvane::vst {

namespace fs = std::filesystem;

/// A project's insert record, taken out of its track while the rack rebuilds.
struct SavedInsert {
    uint64_t trackId = 0;
    InsertSlot insert;
};

namespace {

constexpr float noAutomationValue = std::numeric_limits<float>::quiet_NaN();
// An offline render waits this long for a sandboxed insert's block before the helper counts
// as stuck.
constexpr std::chrono::seconds offlineWait{5};

// Bypassed or not, an insert delays by the same amount, so that toggling it while playing
// moves neither its track nor the others.
int32_t delayOf(const RtSlotView &entry, bool live) {
    return entry.latency + (live ? entry.liveLatency : 0);
}

/// Delays the block by `delayFrames` (at most the line's length less one): live a sandboxed
/// insert delays by a block more than in a render, and one line serves both.
void runBypassDelayRt(PluginRackBypassDelay &delay, float *left, float *right, int32_t frames,
                      int32_t delayFrames) {
    const std::size_t length = delay.left.size();
    if (length == 0 || delayFrames <= 0) return;
    const auto behind = std::min(static_cast<std::size_t>(delayFrames), length - 1);
    std::size_t read = (delay.position + length - behind) % length;
    for (int32_t i = 0; i < frames; ++i) {
        delay.left[delay.position] = left[i];
        delay.right[delay.position] = right[i];
        left[i] = delay.left[read];
        right[i] = delay.right[read];
        if (++delay.position == length) delay.position = 0;
        if (++read == length) read = 0;
    }
}

std::string canonicalOrEmpty(const std::string &path) {
    if (path.empty()) return {};
    std::error_code error;
    fs::path canonical = fs::weakly_canonical(path, error);
    return error ? std::string{} : canonical.string();
}

std::string unavailableLine(const InsertSlot &insert) {
    const std::string &name = insert.displayName.empty() ? insert.pluginId : insert.displayName;
    if (lv2::isLv2PluginId(insert.pluginId))
        return withArguments(translate("PluginRack", "LV2 unavailable: %1 (%2)"),
                             {name, lv2::uriFromPluginId(insert.pluginId)}) +
               "\n";
    const std::string where =
        insert.bundlePath.empty() ? translate("PluginRack", "no path") : insert.bundlePath;
    return withArguments(translate("PluginRack", "VST3 unavailable: %1 (%2)"), {name, where}) +
           "\n";
}

// Out of process a plug-in's uid is its bundle path. Any uid other than a class id picks the
// bundle's first class anyway, and the helper would read a path sent as uid as part of the
// bundle path, so only class ids are passed on.
std::string classFilterOf(const std::string &uid) {
    const bool classId = uid.size() == 32 && std::all_of(uid.begin(), uid.end(), [](char c) {
                             return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                         });
    return classId ? uid : std::string{};
}

// A sandboxed LV2 insert runs in a helper as a VST 3 one does, known by its id.
bool isLv2Member(const Slot &slot) {
    return slot.sandboxed && lv2::isLv2PluginId(slot.plugin->description.uid);
}

// What a shared helper loads for an insert: its bundle and class, or an LV2 plug-in's id.
SandboxedChain::Member memberOf(const Slot &slot) {
    const std::string &uid = slot.plugin->description.uid;
    if (isLv2Member(slot)) return {uid, ""};
    return {slot.bundlePath, classFilterOf(uid)};
}

/// The bundles of `found` that the plug-in inserts of `saved` name: the same bundle, or when
/// that is gone one of the same name elsewhere in the folders (a plug-in reinstalled).
std::vector<std::string> bundlesUsedBy(const std::vector<SavedInsert> &saved,
                                       const std::vector<PluginDescription> &found) {
    std::vector<std::string> used;
    const auto use = [&used](const std::string &bundle) {
        if (std::find(used.begin(), used.end(), bundle) == used.end()) used.push_back(bundle);
    };
    for (const SavedInsert &entry : saved) {
        if (entry.insert.isStock || entry.insert.bundlePath.empty()) continue;
        const std::string wanted = canonicalOrEmpty(entry.insert.bundlePath);
        bool present = false;
        for (const PluginDescription &bundle : found)
            if (!wanted.empty() && canonicalOrEmpty(bundle.path) == wanted) {
                use(bundle.path);
                present = true;
            }
        if (present) continue;
        const auto name = std::filesystem::path(entry.insert.bundlePath).filename();
        for (const PluginDescription &bundle : found)
            if (std::filesystem::path(bundle.path).filename() == name) use(bundle.path);
    }
    return used;
}

/// The note-ons and note-offs of the track's MIDI clips, by position (note-offs first where
/// they meet a note-on), for an instrument insert.
std::vector<RtNoteEvent> noteEventsOf(const Track &track) {
    std::vector<RtNoteEvent> events;
    for (const std::shared_ptr<Clip> &clip : track.clips) {
        if (!clip || clip->kind != ClipKind::Midi) continue;
        for (const MidiNote &note : clip->notes) {
            if (note.start < 0 || note.start >= clip->length || note.pitch < 0 || note.pitch > 127)
                continue;
            const int64_t start = clip->arrangeStart + note.start;
            const int64_t end =
                clip->arrangeStart + std::min(note.start + note.length, clip->length);
            const auto pitch = static_cast<uint8_t>(note.pitch);
            const auto velocity =
                static_cast<uint8_t>(std::clamp(std::lround(note.velocity * 127.0f), 1l, 127l));
            events.push_back({start, 0x90, pitch, velocity});
            events.push_back({end, 0x80, pitch, 0});
        }
    }
    std::stable_sort(events.begin(), events.end(), [](const RtNoteEvent &a, const RtNoteEvent &b) {
        return a.position != b.position ? a.position < b.position : a.status < b.status;
    });
    return events;
}

// Enough for any block a device asks for; more events in one block than this are dropped.
constexpr std::size_t maxEventsPerBlock = FramedNotes::capacity;

/// How many notes of each pitch sound just before `position`: what a jump away from there
/// leaves held.
std::array<uint16_t, 128> notesHeldAt(std::span<const RtNoteEvent> events, int64_t position) {
    std::array<uint16_t, 128> held{};
    for (const RtNoteEvent &event : events) {
        if (event.position >= position) break;
        uint16_t &count = held[event.pitch & 0x7F];
        if (event.status == 0x90)
            ++count;
        else if (count > 0)
            --count;
    }
    return held;
}

/// The events of [playhead, playhead + frames) as MIDI at their frames. After a jump of the
/// playhead (a cycle's wrap, a locate) they start with an all-notes-off and a note-off for
/// every note that was sounding where it left: not every plug-in interface has the first, and
/// the notes would hang. Nothing while the playhead stands still.
std::size_t blockEventsRt(const RtSlotView &entry, std::atomic<int64_t> &blockEnd, int64_t playhead,
                          int32_t frames, std::array<PluginMidiEvent, maxEventsPerBlock> &out) {
    const int64_t previousEnd = blockEnd.exchange(playhead + frames, std::memory_order_relaxed);
    if (previousEnd == playhead + frames) return 0;
    std::size_t count = 0;
    if (previousEnd != playhead) {
        out[count++] = PluginMidiEvent{0, 3, {0xB0, 123, 0}};
        const std::array<uint16_t, 128> held = notesHeldAt(entry.noteEvents, previousEnd);
        for (int pitch = 0; pitch < 128 && count < out.size(); ++pitch)
            if (held[static_cast<std::size_t>(pitch)] > 0)
                out[count++] = PluginMidiEvent{0, 3, {0x80, static_cast<uint8_t>(pitch), 0}};
    }
    auto next = std::lower_bound(
        entry.noteEvents.begin(), entry.noteEvents.end(), playhead,
        [](const RtNoteEvent &event, int64_t position) { return event.position < position; });
    for (;
         next != entry.noteEvents.end() && next->position < playhead + frames && count < out.size();
         ++next)
        out[count++] = PluginMidiEvent{static_cast<int32_t>(next->position - playhead),
                                       3,
                                       {next->status, next->pitch, next->velocity}};
    return count;
}

} // namespace

SandboxGroup::SandboxGroup(PluginSandboxController &controller)
    : chain(std::make_unique<SandboxedChain>(controller)) {}

SandboxGroup::~SandboxGroup() = default;

bool sandboxEnabledFromEnvironment() {
    const char *value = std::getenv("HALVORA_VST_SANDBOX");
    return value != nullptr && value[0] == '1';
}

std::optional<float> pluginAutomationValueAt(std::span<const AutomationPoint> points,
                                             int64_t playhead) {
    if (points.size() < 2) return std::nullopt;
    const auto next = std::upper_bound(
        points.begin(), points.end(), playhead,
        [](int64_t position, const AutomationPoint &point) { return position < point.t; });
    float value = 0.0f;
    if (next == points.begin()) {
        value = points.front().v;
    } else if (next == points.end()) {
        value = points.back().v;
    } else {
        const AutomationPoint &p0 = *(next - 1);
        const AutomationPoint &p1 = *next;
        const float span = static_cast<float>(std::max<int64_t>(1, p1.t - p0.t));
        const float t = std::clamp(static_cast<float>(playhead - p0.t) / span, 0.0f, 1.0f);
        value = p0.v + (p1.v - p0.v) * t;
    }
    if (std::isnan(value)) return 0.0f;
    return std::clamp(value, 0.0f, 1.0f);
}

PluginRack::PluginRack(PluginRackHost rackHost, PluginRackSandbox rackSandbox)
    : host(std::move(rackHost)), sandbox(std::move(rackSandbox)) {
    sandboxEnabled = sandboxEnabledFromEnvironment();
    {
        std::lock_guard lock(slotsMutex);
        publishViewLocked();
    }
    // Started with the application so that the first plug-in does not wait for the helper;
    // a failure shows when a plug-in is loaded.
    if (sandboxEnabled && sandbox.ensureSandboxRunning) sandbox.ensureSandboxRunning();
}

PluginRack::~PluginRack() {
    if (detachFromEngine) detachFromEngine();
    std::lock_guard lock(slotsMutex);
    views.publish(nullptr);
    views.waitForRetired();
    takeSlots();
}

// --- Main thread ------------------------------------------------------------------------

void PluginRack::prepare(double newSampleRate, int32_t newBlockSize) {
    sampleRate = newSampleRate;
    blockSize = newBlockSize;
    std::unique_lock<std::recursive_mutex> projectLock;
    if (host.projectMutex) projectLock = std::unique_lock(*host.projectMutex);
    std::lock_guard lock(slotsMutex);
    // There is no one to tell here: an insert that refuses the new format plays as it can.
    for (Slot &slot : slots) {
        if (slot.group) {
            if (slot.groupMember == 0) (void)slot.group->chain->prepare(sampleRate, blockSize);
            continue;
        }
        if (slot.plugin) (void)slot.plugin->prepare(sampleRate, blockSize);
    }
    // Latencies may have changed with the new settings.
    publishViewLocked();
}

// With the sandbox on, the bundles' classes are read in helpers and kept in the scan cache:
// this process never runs a plug-in's code, and a bundle that crashes is blacklisted by path.
std::vector<PluginDescription> scanInstalledPlugins(PluginScanner &scanner, bool sandboxed,
                                                    PluginSandboxController *describerController) {
    (void)scanner.loadBlacklist(defaultVstBlacklistPath()); // none yet before the first crash
    scanner.setSearchPaths(defaultVst3Paths());
    std::vector<PluginDescription> bundles = scanner.scan();
    std::vector<PluginDescription> classes;
    if (!sandboxed) {
        classes = scanner.scanWithFactory();
    } else if (describerController) {
        SandboxBundleDescriber describer(*describerController);
        classes = scanner.scanWithDescriber(std::ref(describer), defaultVstScanCachePath());
        if (!scanner.crashedBundles.empty()) {
            // Unsaved, a crashed bundle is found again by the next scan, in a helper.
            (void)scanner.saveBlacklist(defaultVstBlacklistPath());
            bundles = scanner.scan();
        }
    }
    std::vector<PluginDescription> found = classes.empty() ? bundles : classes;
    // LV2 plug-ins are described by their data files alone, so no helper is needed for them.
    for (PluginDescription &description : lv2::describeInstalledLv2Plugins(scanner.blacklist)) {
        assignPluginTags(description);
        found.push_back(std::move(description));
    }
    return found;
}

void PluginRack::scan() {
    expectMainThread("PluginRack::scan");
    plugins = scanInstalledPlugins(scanner, sandboxEnabled, sandbox.controller);
}

// Only the bundles the project names are looked inside: another bundle in the folders, however
// broken, never runs its code here.
void PluginRack::scanBundlesUsedBy(const std::vector<SavedInsert> &saved) {
    (void)scanner.loadBlacklist(defaultVstBlacklistPath()); // none yet before the first crash
    scanner.setSearchPaths(defaultVst3Paths());
    const std::vector<std::string> used = bundlesUsedBy(saved, scanner.scan());
    if (sandboxEnabled && sandbox.controller) {
        SandboxBundleDescriber describer(*sandbox.controller);
        plugins = scanner.describeBundles(used, std::ref(describer), defaultVstScanCachePath());
        if (!scanner.crashedBundles.empty())
            (void)scanner.saveBlacklist(defaultVstBlacklistPath()); // as in a scan
    } else {
        plugins = scanner.describeBundles(used, describeBundleInProcess, {});
    }
}

bool PluginRack::blacklistPluginUid(const std::string &uid) {
    expectMainThread("PluginRack::blacklistPluginUid");
    if (uid.empty()) return true;
    scanner.addToBlacklist(uid);
    for (PluginDescription &description : plugins)
        if (description.uid == uid) description.blacklisted = true;
    return scanner.saveBlacklist(defaultVstBlacklistPath());
}

bool PluginRack::loadStock(uint64_t trackId, const std::string &stockId) {
    expectMainThread("PluginRack::loadStock");
    if (!host.project || !host.projectMutex) return false;
    std::lock_guard projectLock(*host.projectMutex);
    std::shared_ptr<Track> track = host.project->findTrack(trackId);
    if (!track) return false;
    InsertSlot insert;
    insert.pluginId = stockId;
    insert.displayName = stockId;
    insert.isStock = true;
    track->inserts.push_back(std::move(insert));
    Slot slot;
    slot.trackId = trackId;
    slot.insertIndex = static_cast<int32_t>(track->inserts.size()) - 1;
    slot.isStock = 1;
    slot.stockId = stockId;
    appendSlot(std::move(slot));
    if (host.publishGraph) host.publishGraph();
    return true;
}

std::shared_ptr<Plugin> PluginRack::createPlugin(const std::string &path, const std::string &uid,
                                                 const std::vector<uint8_t> *state) {
    std::shared_ptr<Plugin> made;
    if (sandboxEnabled) {
        if (sandbox.refreshHealth) sandbox.refreshHealth();
        if (!sandbox.ensureSandboxRunning || !sandbox.ensureSandboxRunning() || !sandbox.controller)
            return nullptr;
        auto plugin = std::make_shared<SandboxedPlugin>(*sandbox.controller);
        if (!plugin->load(path, classFilterOf(uid)) || !plugin->prepare(sampleRate, blockSize)) {
            // A plug-in that took its own helper down would do it again on the next load.
            // Unsaved, the block lasts this session; the next would find the crash again.
            if (plugin->ownHelperCrashed()) (void)blacklistPluginUid(uid.empty() ? path : uid);
            return nullptr;
        }
        // The helper says only that the plug-in loaded; the scan knows what it is.
        if (scannedAsInstrument(path, uid)) plugin->description.isInstrument = true;
        made = std::move(plugin);
    } else {
        auto plugin = std::make_shared<Vst3Plugin>();
        if (!plugin->load(path, classFilterOf(uid)) || !plugin->prepare(sampleRate, blockSize))
            return nullptr;
        made = std::move(plugin);
    }
    // A rejected state is not fatal: the insert keeps the saved bytes for a later attempt.
    if (state && !state->empty()) (void)made->setState(*state);
    return made;
}

bool PluginRack::scannedAsInstrument(const std::string &path, const std::string &uid) const {
    return std::ranges::any_of(plugins, [&](const PluginDescription &description) {
        return description.isInstrument &&
               (uid.empty() ? description.path == path : description.uid == uid);
    });
}

bool PluginRack::appendVst3(uint64_t trackId, std::shared_ptr<Plugin> plugin,
                            const std::string &path, const std::vector<uint8_t> *state) {
    std::vector<PluginParameterInfo> parameters;
    if (!plugin->runsInHelper()) parameters = plugin->listParameters();
    std::lock_guard projectLock(*host.projectMutex);
    std::shared_ptr<Track> track = host.project->findTrack(trackId);
    if (!track) return false;
    InsertSlot insert;
    insert.pluginId = plugin->description.uid;
    insert.displayName = plugin->description.name;
    insert.bundlePath = path;
    if (state && !state->empty()) insert.state = *state;
    insert.automParamId = parameters.empty() ? 0 : parameters.front().id;
    track->inserts.push_back(std::move(insert));
    Slot slot;
    slot.trackId = trackId;
    slot.insertIndex = static_cast<int32_t>(track->inserts.size()) - 1;
    slot.bundlePath = path;
    slot.sandboxed = dynamic_cast<SandboxedPlugin *>(plugin.get());
    slot.plugin = std::move(plugin);
    appendSlot(std::move(slot));
    return true;
}

std::string PluginRack::lv2StateFolder() const {
    if (!host.project || host.project->rootPath.empty()) return {};
    return (fs::path(host.project->rootPath) / "plugin-files").string();
}

std::shared_ptr<lv2::Lv2Plugin> PluginRack::createLv2Plugin(const std::string &uri,
                                                            const std::vector<uint8_t> *state,
                                                            std::string *error) {
    auto plugin = std::make_shared<lv2::Lv2Plugin>();
    (void)plugin->setStateFolder(lv2StateFolder()); // an LV2 plug-in in process takes any
    const bool loaded = plugin->load(uri) && plugin->prepare(sampleRate, blockSize);
    if (!loaded) {
        if (error) *error = plugin->lastError;
        return nullptr;
    }
    // As for VST 3, a rejected state is not fatal: the insert keeps the saved bytes.
    if (state && !state->empty()) (void)plugin->setState(*state);
    return plugin;
}

bool PluginRack::appendLv2(uint64_t trackId, std::shared_ptr<lv2::Lv2Plugin> plugin,
                           const std::vector<uint8_t> *state) {
    std::shared_ptr<Track> track = host.project->findTrack(trackId);
    if (!track) return false;
    InsertSlot insert;
    insert.pluginId = plugin->description.uid;
    insert.displayName = plugin->description.name;
    if (state && !state->empty()) insert.state = *state;
    insert.automParamId = plugin->parameters.empty() ? 0 : plugin->parameters.front().portIndex;
    track->inserts.push_back(std::move(insert));
    Slot slot;
    slot.trackId = trackId;
    slot.insertIndex = static_cast<int32_t>(track->inserts.size()) - 1;
    slot.plugin = plugin;
    slot.lv2Plugin = std::move(plugin);
    appendSlot(std::move(slot));
    return true;
}

namespace {

/// What the data files say of the plug-in; reading them runs none of its code.
std::optional<PluginDescription> lv2DescriptionOf(const std::string &uri, uint32_t *firstControl) {
    std::lock_guard lock(lv2::Lv2World::lock());
    const LilvPlugin *found = lv2::Lv2World::instance().findPlugin(uri);
    if (!found) return std::nullopt;
    if (firstControl) *firstControl = lv2::firstControlInputPort(found);
    PluginDescription description = lv2::describeLv2Plugin(found);
    assignPluginTags(description);
    return description;
}

} // namespace

// Sandboxed, an LV2 plug-in runs in a helper as a VST 3 one does, behind the same client;
// the helper tells the formats apart by the id it is asked to load.
std::shared_ptr<SandboxedPlugin> PluginRack::createSandboxedLv2(const std::string &uri,
                                                                const std::vector<uint8_t> *state) {
    const std::string pluginId = std::string(lv2::pluginIdPrefix) + uri;
    uint32_t firstControl = 0;
    std::optional<PluginDescription> description = lv2DescriptionOf(uri, &firstControl);
    if (!description) return nullptr;
    if (sandbox.refreshHealth) sandbox.refreshHealth();
    if (!sandbox.ensureSandboxRunning || !sandbox.ensureSandboxRunning() || !sandbox.controller)
        return nullptr;
    auto plugin = std::make_shared<SandboxedPlugin>(*sandbox.controller);
    if (!plugin->setStateFolder(lv2StateFolder())) return nullptr;
    if (!plugin->load(pluginId, "") || !plugin->prepare(sampleRate, blockSize)) {
        if (plugin->ownHelperCrashed()) (void)blacklistPluginUid(pluginId); // as in createPlugin
        return nullptr;
    }
    if (state && !state->empty()) (void)plugin->setState(*state);
    plugin->description = std::move(*description);
    return plugin;
}

bool PluginRack::appendSandboxedLv2(uint64_t trackId, std::shared_ptr<SandboxedPlugin> plugin,
                                    const std::vector<uint8_t> *state) {
    uint32_t firstControl = 0;
    lv2DescriptionOf(lv2::uriFromPluginId(plugin->description.uid), &firstControl);
    if (!appendVst3(trackId, std::move(plugin), "", state)) return false;
    host.project->findTrack(trackId)->inserts.back().automParamId = firstControl;
    return true;
}

bool PluginRack::loadLv2(uint64_t trackId, const std::string &uri,
                         const std::vector<uint8_t> *state) {
    expectMainThread("PluginRack::loadLv2");
    if (!host.project || !host.projectMutex) return false;
    if (sandboxEnabled) {
        std::shared_ptr<SandboxedPlugin> plugin = createSandboxedLv2(uri, state);
        if (!plugin) return false;
        std::lock_guard projectLock(*host.projectMutex);
        if (!appendSandboxedLv2(trackId, std::move(plugin), state)) return false;
        if (host.publishGraph) host.publishGraph();
        return true;
    }
    std::shared_ptr<lv2::Lv2Plugin> plugin = createLv2Plugin(uri, state, nullptr);
    if (!plugin) return false;
    std::lock_guard projectLock(*host.projectMutex);
    if (!appendLv2(trackId, std::move(plugin), state)) return false;
    if (host.publishGraph) host.publishGraph();
    return true;
}

lv2::Lv2Plugin *PluginRack::lv2PluginAt(uint64_t trackId, int32_t insertIndex) {
    std::lock_guard lock(slotsMutex);
    for (const Slot &slot : slots)
        if (slot.trackId == trackId && slot.insertIndex == insertIndex) return slot.lv2Plugin.get();
    return nullptr;
}

bool PluginRack::loadVst3(uint64_t trackId, const std::string &path, const std::string &uid,
                          const std::vector<uint8_t> *state) {
    expectMainThread("PluginRack::loadVst3");
    if (lv2::isLv2PluginId(uid)) return loadLv2(trackId, lv2::uriFromPluginId(uid), state);
    if (!host.project || !host.projectMutex) return false;
    std::shared_ptr<Plugin> plugin = createPlugin(path, uid, state);
    if (!plugin) return false;
    std::lock_guard projectLock(*host.projectMutex);
    if (!appendVst3(trackId, std::move(plugin), path, state)) return false;
    if (host.publishGraph) host.publishGraph();
    return true;
}

bool PluginRack::openEditor(uint64_t trackId, int32_t insertIndex) {
    expectMainThread("PluginRack::openEditor");
    if (sandboxEnabled && sandbox.refreshHealth) sandbox.refreshHealth();
    std::lock_guard lock(slotsMutex);
    auto found = std::find_if(slots.begin(), slots.end(), [&](const Slot &slot) {
        return slot.trackId == trackId && slot.insertIndex == insertIndex && slot.plugin;
    });
    if (found == slots.end()) return false;
    // A group's member opens in the shared helper, which a failure there does not blame on it.
    if (found->group) return found->group->chain->openEditor(found->groupMember);
    const std::string uid = found->plugin->description.uid;
    if (found->plugin->openEditor()) return true;
    if (found->sandboxed && found->sandboxed->ownHelperCrashed())
        (void)blacklistPluginUid(uid); // as in createPlugin
    return false;
}

void PluginRack::saveStatesIntoProject() {
    expectMainThread("PluginRack::saveStatesIntoProject");
    if (!host.project || !host.projectMutex) return;
    std::lock_guard projectLock(*host.projectMutex);
    std::lock_guard lock(slotsMutex);
    std::vector<uint8_t> state;
    for (Slot &slot : slots) {
        // Placeholders have no plug-in: their saved record goes back to disk untouched.
        if (!slot.plugin) continue;
        std::shared_ptr<Track> track = host.project->findTrack(slot.trackId);
        if (!track || slot.insertIndex < 0 ||
            slot.insertIndex >= static_cast<int32_t>(track->inserts.size()))
            continue;
        InsertSlot &insert = track->inserts[static_cast<std::size_t>(slot.insertIndex)];
        if (slot.group) {
            // An LV2 member writes its files where the project now lives; one that cannot be
            // told so keeps the state saved last rather than files left in the old place.
            const bool folderSet = !isLv2Member(slot) || slot.group->chain->setStateFolder(
                                                             slot.groupMember, lv2StateFolder());
            if (folderSet && slot.group->chain->getState(slot.groupMember, state))
                insert.state = state;
            insert.bundlePath = slot.bundlePath;
            continue;
        }
        // An LV2 plug-in writes its files where the project now lives. A sandboxed one that
        // cannot be told keeps writing where it did; its state below says where.
        if (lv2::isLv2PluginId(slot.plugin->description.uid))
            (void)slot.plugin->setStateFolder(lv2StateFolder());
        if (slot.plugin->getState(state)) insert.state = state;
        if (!slot.lv2Plugin) insert.bundlePath = slot.bundlePath;
    }
}

void PluginRack::unloadAll() {
    expectMainThread("PluginRack::unloadAll");
    std::vector<Slot> taken;
    {
        std::lock_guard lock(slotsMutex);
        taken = takeSlots();
        publishViewLocked();
    }
    releaseRetiredViews(true);
    taken.clear();
    if (!host.project || !host.projectMutex) return;
    std::lock_guard projectLock(*host.projectMutex);
    for (const std::shared_ptr<Track> &track : host.project->tracks)
        if (track) track->inserts.clear();
    if (host.publishGraph) host.publishGraph();
}

std::string PluginRack::trustedBundleFor(const InsertSlot &insert,
                                         const std::vector<std::string> &foundBundles) const {
    if (!insert.pluginId.empty())
        for (const PluginDescription &description : plugins)
            if (description.uid == insert.pluginId && !description.blacklisted)
                return description.path;
    // Compared in canonical form, so that ".." or a symbolic link in the document cannot
    // lead out of the scanned folders.
    const std::string wanted = canonicalOrEmpty(insert.bundlePath);
    if (wanted.empty()) return {};
    for (const std::string &bundle : foundBundles)
        if (canonicalOrEmpty(bundle) == wanted) return bundle;
    return {};
}

void PluginRack::restoreStock(uint64_t trackId, InsertSlot insert) {
    std::lock_guard projectLock(*host.projectMutex);
    std::shared_ptr<Track> track = host.project->findTrack(trackId);
    if (!track) return;
    Slot slot;
    slot.trackId = trackId;
    slot.isStock = 1;
    slot.stockId = insert.pluginId;
    track->inserts.push_back(std::move(insert));
    slot.insertIndex = static_cast<int32_t>(track->inserts.size()) - 1;
    appendSlot(std::move(slot));
}

void PluginRack::restorePlaceholder(uint64_t trackId, InsertSlot insert) {
    std::lock_guard projectLock(*host.projectMutex);
    std::shared_ptr<Track> track = host.project->findTrack(trackId);
    if (!track) return;
    Slot slot;
    slot.trackId = trackId;
    slot.bundlePath = insert.bundlePath;
    slot.available = false;
    track->inserts.push_back(std::move(insert));
    slot.insertIndex = static_cast<int32_t>(track->inserts.size()) - 1;
    appendSlot(std::move(slot));
}

int PluginRack::restoreFromProject(std::string *warnings, bool rescan) {
    expectMainThread("PluginRack::restoreFromProject");
    if (!host.project || !host.projectMutex) return 0;
    std::vector<SavedInsert> saved;
    {
        std::lock_guard projectLock(*host.projectMutex);
        for (const std::shared_ptr<Track> &track : host.project->tracks) {
            if (!track) continue;
            for (InsertSlot &insert : track->inserts)
                saved.push_back({track->id, std::move(insert)});
            track->inserts.clear();
        }
    }
    std::vector<Slot> taken;
    {
        std::lock_guard lock(slotsMutex);
        taken = takeSlots();
        publishViewLocked();
    }
    releaseRetiredViews(true);
    taken.clear();
    // A project of stock inserts only needs no scan: the factory pass loads every plug-in on
    // the machine, which is slow and lets them print.
    const bool anyPluginInsert = std::any_of(
        saved.begin(), saved.end(), [](const SavedInsert &entry) { return !entry.insert.isStock; });
    // Only now: the factory pass enters and exits every module, and a module must not be
    // exited while instances of it are alive.
    if (rescan && anyPluginInsert) scanBundlesUsedBy(saved);

    // Only bundles a walk of the VST 3 folders finds may run: a document must not be able to
    // point the application at code anywhere else.
    std::vector<std::string> foundBundles;
    for (const PluginDescription &description : plugins)
        if (!description.blacklisted) foundBundles.push_back(description.path);
    if (plugins.empty() && anyPluginInsert) {
        scanner.setSearchPaths(defaultVst3Paths());
        for (const PluginDescription &description : scanner.scan())
            foundBundles.push_back(description.path);
    }

    int placeholders = 0;
    for (SavedInsert &entry : saved) {
        InsertSlot &insert = entry.insert;
        if (insert.isStock) {
            restoreStock(entry.trackId, std::move(insert));
            continue;
        }
        if (lv2::isLv2PluginId(insert.pluginId)) {
            restoreLv2(entry.trackId, std::move(insert), warnings, placeholders);
            continue;
        }
        // Loaded outside the project mutex: loading can take long and the main thread's other
        // readers of the project would wait for it.
        const std::string path = trustedBundleFor(insert, foundBundles);
        std::shared_ptr<Plugin> plugin;
        if (!path.empty()) plugin = createPlugin(path, insert.pluginId, &insert.state);
        std::lock_guard projectLock(*host.projectMutex);
        if (plugin && appendVst3(entry.trackId, std::move(plugin), path, &insert.state)) {
            InsertSlot &restored = host.project->findTrack(entry.trackId)->inserts.back();
            restored.bypassed = insert.bypassed;
            restored.automParamId = insert.automParamId;
            restored.paramAutomation = std::move(insert.paramAutomation);
            continue;
        }
        if (!host.project->findTrack(entry.trackId)) continue;
        ++placeholders;
        if (warnings) *warnings += unavailableLine(insert);
        restorePlaceholder(entry.trackId, std::move(insert));
    }
    {
        std::lock_guard projectLock(*host.projectMutex);
        if (host.publishGraph) host.publishGraph();
        std::lock_guard lock(slotsMutex);
        refusedGroupings.clear();
        publishViewLocked();
    }
    regroupSandboxedInserts();
    return placeholders;
}

void PluginRack::restoreLv2(uint64_t trackId, InsertSlot insert, std::string *warnings,
                            int &placeholders) {
    // A blacklisted plug-in stays out, as a VST 3 one does.
    const bool blocked = std::find(scanner.blacklist.begin(), scanner.blacklist.end(),
                                   insert.pluginId) != scanner.blacklist.end() ||
                         std::any_of(plugins.begin(), plugins.end(), [&](const auto &description) {
                             return description.uid == insert.pluginId && description.blacklisted;
                         });
    const std::string uri = lv2::uriFromPluginId(insert.pluginId);
    std::shared_ptr<lv2::Lv2Plugin> plugin;
    std::shared_ptr<SandboxedPlugin> sandboxed;
    if (!blocked && sandboxEnabled)
        sandboxed = createSandboxedLv2(uri, &insert.state);
    else if (!blocked)
        plugin = createLv2Plugin(uri, &insert.state, nullptr);
    std::lock_guard projectLock(*host.projectMutex);
    const bool appended = sandboxed
                              ? appendSandboxedLv2(trackId, std::move(sandboxed), &insert.state)
                          : plugin ? appendLv2(trackId, std::move(plugin), &insert.state)
                                   : false;
    if (appended) {
        InsertSlot &restored = host.project->findTrack(trackId)->inserts.back();
        restored.bypassed = insert.bypassed;
        restored.automParamId = insert.automParamId;
        restored.paramAutomation = std::move(insert.paramAutomation);
        return;
    }
    if (!host.project->findTrack(trackId)) return;
    ++placeholders;
    if (warnings) *warnings += unavailableLine(insert);
    restorePlaceholder(trackId, std::move(insert));
}

void PluginRack::appendSlot(Slot slot) {
    std::lock_guard lock(slotsMutex);
    slots.push_back(std::move(slot));
    publishViewLocked();
}

std::vector<Slot> PluginRack::takeSlots() {
    std::vector<Slot> taken;
    taken.reserve(slots.size());
    while (!slots.empty()) {
        taken.push_back(std::move(slots.back()));
        slots.pop_back();
    }
    return taken;
}

void PluginRack::publishRtView() {
    expectMainThread("PluginRack::publishRtView");
    std::unique_lock<std::recursive_mutex> projectLock;
    if (host.projectMutex) projectLock = std::unique_lock(*host.projectMutex);
    std::lock_guard lock(slotsMutex);
    publishViewLocked();
}

void listGroupMemberEntries(std::vector<RtSlotView> &entries) {
    for (RtSlotView &first : entries) {
        if (!first.group) continue;
        for (std::size_t index = 0; index < entries.size(); ++index)
            if (entries[index].groupChain == first.group) first.groupMemberEntries.push_back(index);
    }
}

// Called with `slotsMutex` held (and the project mutex, when there is a project).
void PluginRack::publishViewLocked() {
    auto view = std::make_shared<PluginRackView>();
    view->entries.reserve(slots.size());
    for (Slot &slot : slots) {
        if (!slot.plugin) continue;
        RtSlotView entry;
        entry.trackId = slot.trackId;
        entry.insertIndex = slot.insertIndex;
        entry.isStock = slot.isStock;
        entry.plugin = slot.plugin.get();
        entry.latency = std::max<int32_t>(slot.plugin->latencySamples(), 0);
        entry.liveLatency = slot.plugin->liveLatency();
        fillRtEntryFromInsert(slot, entry);
        if (slot.group) {
            // The first member stands for the group: its delays are the whole group's.
            const bool first = slot.groupMember == 0;
            entry.group = first ? slot.group->chain.get() : nullptr;
            entry.groupFollower = !first;
            entry.groupChain = slot.group->chain.get();
            entry.groupMember = slot.groupMember;
            // The helper keeps a bypassed member's latency, so the group's delays hold.
            entry.latency = first ? std::max<int32_t>(slot.group->chain->latency(), 0) : 0;
            entry.liveLatency = first ? slot.group->chain->liveLatency() : 0;
            if (first) view->groups.push_back(slot.group);
        }
        if (entry.latency + entry.liveLatency > 0) {
            // Room for the live delay too, and the frame being written.
            const auto length = static_cast<std::size_t>(entry.latency + entry.liveLatency) + 1;
            // Reused while the latency holds, so a bypassed insert's delayed tail carries over.
            if (!slot.bypassDelay || slot.bypassDelay->left.size() != length) {
                auto delay = std::make_shared<PluginRackBypassDelay>();
                delay->left.assign(length, 0.0f);
                delay->right.assign(length, 0.0f);
                slot.bypassDelay = std::move(delay);
            }
            entry.bypassDelay = slot.bypassDelay.get();
            view->bypassDelays.push_back(slot.bypassDelay);
        } else {
            slot.bypassDelay.reset();
        }
        view->plugins.push_back(slot.plugin);
        view->entries.push_back(std::move(entry));
    }
    listGroupMemberEntries(view->entries);
    view->automationValues = std::make_unique<std::atomic<float>[]>(view->entries.size());
    view->noteBlockEnds = std::make_unique<std::atomic<int64_t>[]>(view->entries.size());
    for (std::size_t i = 0; i < view->entries.size(); ++i)
        view->noteBlockEnds[i].store(std::numeric_limits<int64_t>::min(),
                                     std::memory_order_relaxed);
    const PluginRackView *previousRaw = views.current().get();
    for (std::size_t i = 0; i < view->entries.size(); ++i) {
        float carried = noAutomationValue;
        if (previousRaw)
            for (std::size_t j = 0; j < previousRaw->entries.size(); ++j)
                if (previousRaw->entries[j].plugin == view->entries[i].plugin) {
                    carried = previousRaw->automationValues[j].load(std::memory_order_relaxed);
                    view->noteBlockEnds[i].store(
                        previousRaw->noteBlockEnds[j].load(std::memory_order_relaxed),
                        std::memory_order_relaxed);
                }
        view->automationValues[i].store(carried, std::memory_order_relaxed);
    }
    view->projectGeneration = host.projectGeneration ? host.projectGeneration->load() : 0;
    const bool perTrackAsked =
        host.project && std::ranges::any_of(host.project->tracks, [](const auto &track) {
            return track && track->sandboxGrouping == SandboxGrouping::PerTrack;
        });
    groupingInUse.store(perTrackAsked || !view->groups.empty(), std::memory_order_release);
    views.publish(std::move(view));
    rackChanges.fetch_add(1, std::memory_order_acq_rel);
}

// Called with `slotsMutex` held (and the project mutex, when there is a project).
void PluginRack::fillRtEntryFromInsert(Slot &slot, RtSlotView &entry) {
    std::shared_ptr<Track> track = host.project ? host.project->findTrack(slot.trackId) : nullptr;
    if (!track || slot.insertIndex < 0 ||
        slot.insertIndex >= static_cast<int32_t>(track->inserts.size()))
        return;
    const InsertSlot &insert = track->inserts[static_cast<std::size_t>(slot.insertIndex)];
    entry.bypassed = insert.bypassed;
    entry.automParamId = insert.automParamId;
    if (slot.plugin->takesNotes() && track->type == TrackType::Midi)
        entry.noteEvents = noteEventsOf(*track);
    if (insert.isStock || insert.paramAutomation.size() < 2) return;
    // An LV2 plug-in in process has no such control: its lane is not played.
    if (slot.lv2Plugin && slot.lv2Plugin->parameterIndexForPort(insert.automParamId) < 0) return;
    entry.paramAutomation = insert.paramAutomation;
    // The audio thread may only set parameters the main thread made known. A group's member
    // is reached through the group's helper, which takes any parameter.
    if (!slot.group) slot.plugin->prepareParameterForAutomation(insert.automParamId);
}

void PluginRack::collectRetiredViews() {
    expectMainThread("PluginRack::collectRetiredViews");
    releaseRetiredViews(false);
}

int PluginRack::collectHelperFailures() {
    expectMainThread("PluginRack::collectHelperFailures");
    int failures = 0;
    std::lock_guard lock(slotsMutex);
    const std::size_t notesBefore = helperRestartNotes.size();
    for (Slot &slot : slots) {
        if (slot.group) {
            if (slot.groupMember == 0) failures += recoverGroupLocked(*slot.group);
            continue;
        }
        if (!slot.sandboxed) continue;
        const std::string &name = slot.plugin->description.name;
        if (slot.sandboxed->restartLostHelper()) {
            noteHelperLocked(helperRestartNotes, name);
            continue;
        }
        if (!slot.sandboxed->collectTransportFailure()) continue;
        noteHelperLocked(helperFailureNotes, name);
        ++failures;
    }
    // A plug-in dropped or restarted may leave or rejoin a run that shares a helper.
    if (failures > 0 || helperRestartNotes.size() != notesBefore)
        rackChanges.fetch_add(1, std::memory_order_acq_rel);
    return failures;
}

// A group whose helper could not come back fails as its members would have failed alone:
// each counts, so that the user hears of every insert that went silent.
int PluginRack::recoverGroupLocked(const SandboxGroup &group) {
    switch (group.chain->restartLostHelper()) {
    case SandboxedChain::Recovery::notNeeded: return 0;
    case SandboxedChain::Recovery::restarted:
        noteHelperLocked(helperRestartNotes, group.names);
        return 0;
    case SandboxedChain::Recovery::failed:
        noteHelperLocked(helperFailureNotes, group.names);
        return static_cast<int>(group.insertIndices.size());
    }
    return 0;
}

// The controller's last error says what became of the helper just looked at.
void PluginRack::noteHelperLocked(std::vector<std::string> &notes, const std::string &names) {
    notes.push_back(names + ": " +
                    (sandbox.controller ? sandbox.controller->lastError : std::string()));
}

std::vector<std::string> PluginRack::takeHelperRestartNotes() {
    expectMainThread("PluginRack::takeHelperRestartNotes");
    std::lock_guard lock(slotsMutex);
    return std::exchange(helperRestartNotes, {});
}

std::vector<std::string> PluginRack::takeHelperFailureNotes() {
    expectMainThread("PluginRack::takeHelperFailureNotes");
    std::lock_guard lock(slotsMutex);
    return std::exchange(helperFailureNotes, {});
}

// --- Shared helpers ------------------------------------------------------------------------

Slot *PluginRack::slotAtLocked(uint64_t trackId, int32_t insertIndex) {
    for (Slot &slot : slots)
        if (slot.trackId == trackId && slot.insertIndex == insertIndex) return &slot;
    return nullptr;
}

const Slot *PluginRack::slotAtLocked(uint64_t trackId, int32_t insertIndex) const {
    for (const Slot &slot : slots)
        if (slot.trackId == trackId && slot.insertIndex == insertIndex) return &slot;
    return nullptr;
}

namespace {

// What the shared helper can take over: a sandboxed VST 3 or LV2 plug-in, bypassed and automated
// ones included, since every member's flag and values go with the block.
bool joinsSharedHelper(const Slot *slot, const InsertSlot &insert) {
    if (!slot || !slot->available || !slot->sandboxed || insert.isStock) return false;
    return slot->group != nullptr || slot->sandboxed->isLoaded();
}

// The block's notes reach the helper's first plug-in alone.
bool headsItsRun(const Slot &slot) { return slot.plugin->description.isInstrument; }

} // namespace

// Runs of two or more: a plug-in alone in a helper costs the same either way.
std::vector<std::vector<int32_t>> PluginRack::wantedGroupsLocked(const Track &track) const {
    std::vector<std::vector<int32_t>> groups;
    if (track.sandboxGrouping != SandboxGrouping::PerTrack) return groups;
    std::vector<int32_t> run;
    const auto closeRun = [&] {
        if (run.size() >= 2) groups.push_back(run);
        run.clear();
    };
    for (std::size_t index = 0; index < track.inserts.size(); ++index) {
        const auto insertIndex = static_cast<int32_t>(index);
        const Slot *slot = slotAtLocked(track.id, insertIndex);
        if (!joinsSharedHelper(slot, track.inserts[index])) {
            closeRun();
            continue;
        }
        if (headsItsRun(*slot)) closeRun();
        run.push_back(insertIndex);
        if (run.size() == maximumChainLength) closeRun();
    }
    closeRun();
    return groups;
}

std::vector<std::vector<int32_t>> PluginRack::runningGroupsLocked(uint64_t trackId) const {
    std::vector<std::vector<int32_t>> groups;
    for (const Slot &slot : slots)
        if (slot.trackId == trackId && slot.group && slot.groupMember == 0)
            groups.push_back(slot.group->insertIndices);
    std::sort(groups.begin(), groups.end());
    return groups;
}

// The shared helper starts with every member in the state its own helper had; only then do
// the members' own helpers go, so a helper that will not start costs nothing.
void PluginRack::formGroupLocked(uint64_t trackId, const std::vector<int32_t> &insertIndices) {
    auto group = std::make_shared<SandboxGroup>(*sandbox.controller);
    std::vector<SandboxedChain::Member> members;
    std::vector<std::vector<uint8_t>> states(insertIndices.size());
    std::vector<Slot *> joining;
    for (std::size_t member = 0; member < insertIndices.size(); ++member) {
        Slot *slot = slotAtLocked(trackId, insertIndices[member]);
        if (!slot || !slot->plugin->getState(states[member])) return;
        members.push_back(memberOf(*slot));
        joining.push_back(slot);
        group->names += (member == 0 ? "" : ", ") + slot->plugin->description.name;
    }
    SandboxedChain &chain = *group->chain;
    bool started = chain.load(members) && chain.prepare(sampleRate, blockSize);
    for (std::size_t member = 0; started && member < members.size(); ++member)
        started =
            (!isLv2Member(*joining[member]) || chain.setStateFolder(member, lv2StateFolder())) &&
            chain.setState(member, states[member]);
    if (!started) return;
    group->insertIndices = insertIndices;
    for (std::size_t member = 0; member < joining.size(); ++member) {
        Slot &slot = *joining[member];
        PluginDescription description = slot.plugin->description;
        slot.plugin->unload();
        slot.plugin->description = std::move(description);
        slot.group = group;
        slot.groupMember = static_cast<uint32_t>(member);
    }
}

// Each member gets a helper of its own again, with the state it has in the shared one (or,
// when that helper cannot say, the state last saved into the project).
void PluginRack::dissolveGroupsLocked(uint64_t trackId) {
    std::shared_ptr<Track> track = host.project->findTrack(trackId);
    for (Slot &slot : slots) {
        if (slot.trackId != trackId || !slot.group) continue;
        std::vector<uint8_t> state;
        if (!slot.group->chain->getState(slot.groupMember, state) && track &&
            slot.insertIndex < static_cast<int32_t>(track->inserts.size()))
            state = track->inserts[static_cast<std::size_t>(slot.insertIndex)].state;
        const std::string uid = slot.plugin->description.uid;
        const bool lv2Member = isLv2Member(slot);
        slot.group.reset();
        slot.groupMember = 0;
        // A fresh instance: a retired view may still hand the old one a block.
        std::shared_ptr<Plugin> own = lv2Member
                                          ? createSandboxedLv2(lv2::uriFromPluginId(uid), &state)
                                          : createPlugin(slot.bundlePath, uid, &state);
        auto *ownSandboxed = dynamic_cast<SandboxedPlugin *>(own.get());
        if (ownSandboxed) {
            slot.plugin = std::move(own);
            slot.sandboxed = ownSandboxed;
        } else {
            slot.available = false;
        }
    }
}

bool PluginRack::groupingMayHaveChanged() const {
    return rackChanges.load(std::memory_order_acquire) != regroupedAt &&
           groupingInUse.load(std::memory_order_acquire);
}

bool PluginRack::regroupSandboxedInserts() {
    expectMainThread("PluginRack::regroupSandboxedInserts");
    if (!sandboxEnabled || !sandbox.controller || !host.project || !host.projectMutex) return false;
    if (!groupingMayHaveChanged()) return false;
    std::lock_guard projectLock(*host.projectMutex);
    std::lock_guard lock(slotsMutex);
    bool changed = false;
    for (const std::shared_ptr<Track> &track : host.project->tracks) {
        if (!track) continue;
        const std::vector<std::vector<int32_t>> wanted = wantedGroupsLocked(*track);
        if (wanted == runningGroupsLocked(track->id)) continue;
        const auto refused = std::find(refusedGroupings.begin(), refusedGroupings.end(),
                                       std::make_pair(track->id, wanted));
        if (refused != refusedGroupings.end()) continue;
        dissolveGroupsLocked(track->id);
        for (const std::vector<int32_t> &insertIndices : wanted)
            formGroupLocked(track->id, insertIndices);
        if (runningGroupsLocked(track->id) != wanted)
            refusedGroupings.emplace_back(track->id, wanted);
        changed = true;
    }
    changed = dissolveGroupsOfRemovedTracksLocked() || changed;
    if (changed) publishViewLocked();
    regroupedAt = rackChanges.load(std::memory_order_relaxed);
    return changed;
}

// A removed track's inserts stay in the rack for an undo to bring back, but none of them is
// heard: its shared helper goes, and its members wait in helpers of their own, as the track's
// other sandboxed inserts do.
bool PluginRack::dissolveGroupsOfRemovedTracksLocked() {
    std::vector<uint64_t> removed;
    for (const Slot &slot : slots)
        if (slot.group && !host.project->findTrack(slot.trackId) &&
            std::find(removed.begin(), removed.end(), slot.trackId) == removed.end())
            removed.push_back(slot.trackId);
    for (const uint64_t trackId : removed)
        dissolveGroupsLocked(trackId);
    return !removed.empty();
}

std::vector<std::shared_ptr<SandboxGroup>> PluginRack::sandboxGroupsOf(uint64_t trackId) {
    std::lock_guard lock(slotsMutex);
    std::vector<std::shared_ptr<SandboxGroup>> groups;
    for (const Slot &slot : slots)
        if (slot.trackId == trackId && slot.group && slot.groupMember == 0)
            groups.push_back(slot.group);
    return groups;
}

void PluginRack::releaseRetiredViews(bool waitForAudioThread) {
    std::vector<std::shared_ptr<const PluginRackView>> released;
    {
        std::lock_guard lock(slotsMutex);
        // Waiting is bounded by one audio-thread call: a call that starts now reads the newer
        // view.
        if (waitForAudioThread)
            while (views.retiredCount() != 0) {
                for (auto &view : views.takeUnread())
                    released.push_back(std::move(view));
                if (views.retiredCount() != 0) std::this_thread::yield();
            }
        for (auto &view : views.takeUnread())
            released.push_back(std::move(view));
    }
    // Destroying the last view of a plug-in unloads it, which may talk to the helper: done
    // outside the lock.
    released.clear();
}

bool PluginRack::insertAvailable(uint64_t trackId, int32_t insertIndex) {
    std::lock_guard lock(slotsMutex);
    for (const Slot &slot : slots)
        if (slot.trackId == trackId && slot.insertIndex == insertIndex) return slot.available;
    return false;
}

bool PluginRack::holdsInstance(const void *instance) {
    std::lock_guard lock(slotsMutex);
    return std::ranges::any_of(slots, [instance](const Slot &slot) {
        return slot.plugin && slot.plugin.get() == instance;
    });
}

std::optional<std::vector<uint8_t>> PluginRack::setParameterAndReadState(uint64_t trackId,
                                                                         int32_t insertIndex,
                                                                         uint32_t parameterId,
                                                                         float normalized) {
    expectMainThread("PluginRack::setParameterAndReadState");
    std::lock_guard lock(slotsMutex);
    for (Slot &slot : slots) {
        if (slot.trackId != trackId || slot.insertIndex != insertIndex) continue;
        std::vector<uint8_t> state;
        // The parameter panel names an LV2 plug-in's controls by their place in its list.
        if (slot.lv2Plugin) {
            if (!slot.lv2Plugin->setParameterNormalizedAt(parameterId, normalized))
                return std::nullopt;
            (void)slot.lv2Plugin->setStateFolder(lv2StateFolder());
            if (!slot.lv2Plugin->getState(state)) return std::nullopt;
            return state;
        }
        if (slot.group) {
            SandboxedChain &chain = *slot.group->chain;
            if (!chain.setParameter(slot.groupMember, parameterId, normalized) ||
                !chain.getState(slot.groupMember, state))
                return std::nullopt;
            return state;
        }
        if (!slot.plugin || !slot.plugin->setParameterNormalized(parameterId, normalized) ||
            !slot.plugin->getState(state))
            return std::nullopt;
        return state;
    }
    return std::nullopt;
}

std::optional<float> PluginRack::lastAutomationValue(uint64_t trackId, int32_t insertIndex) const {
    const PluginRackView *view = views.current().get();
    if (!view) return std::nullopt;
    for (std::size_t i = 0; i < view->entries.size(); ++i) {
        const RtSlotView &entry = view->entries[i];
        if (entry.trackId != trackId || entry.insertIndex != insertIndex) continue;
        const float value = view->automationValues[i].load(std::memory_order_relaxed);
        if (std::isnan(value)) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

std::size_t PluginRack::livePluginCount() const {
    std::vector<const Plugin *> seen;
    auto note = [&seen](const Plugin *plugin) {
        if (plugin && std::find(seen.begin(), seen.end(), plugin) == seen.end())
            seen.push_back(plugin);
    };
    auto noteView = [&](const PluginRackView &view) {
        for (const auto &plugin : view.plugins)
            note(plugin.get());
    };
    for (const Slot &slot : slots)
        note(slot.plugin.get());
    for (const auto &view : views.retiredCopies())
        noteView(*view);
    if (views.current()) noteView(*views.current());
    return seen.size();
}

// --- Audio thread -------------------------------------------------------------------------

void PluginRack::processTrack(uint64_t trackId, float *left, float *right,
                              int32_t frames) noexcept {
    expectAudioThread("PluginRack::processTrack");
    if (left == nullptr || right == nullptr || frames <= 0) return;
    const auto reader = views.read();
    const PluginRackView *view = usableView(reader.get());
    if (!view) return;
    const int64_t playhead = host.playhead ? host.playhead->load(std::memory_order_relaxed) : 0;
    for (std::size_t i = 0; i < view->entries.size(); ++i) {
        const RtSlotView &entry = view->entries[i];
        if (entry.trackId != trackId || entry.groupFollower) continue;
        if (entry.group) {
            if (!processGroupRt(*view, i, playhead, left, right, frames))
                passOnDryRt(entry, left, right, frames);
            continue;
        }
        if (!entry.plugin) continue;
        if (entry.bypassed) {
            passOnDryRt(entry, left, right, frames);
            continue;
        }
        if (!processPluginRt(*view, i, playhead, left, right, frames))
            passOnDryRt(entry, left, right, frames);
    }
}

// A value for a parameter the plug-in does not have goes nowhere, as it would on the wire.
// Live, a sandboxed insert or group runs a block behind and never makes the block wait;
// offline it is waited for as long as a single helper is, so that the render is the same to
// the bit as in process.
bool PluginRack::processPluginRt(const PluginRackView &view, std::size_t index, int64_t playhead,
                                 float *left, float *right, int32_t frames) noexcept {
    const RtSlotView &entry = view.entries[index];
    if (const auto value = pluginAutomationValueAt(entry.paramAutomation, playhead)) {
        view.automationValues[index].store(*value, std::memory_order_relaxed);
        (void)entry.plugin->setParameterNormalizedRt(entry.automParamId, *value);
    }
    std::array<PluginMidiEvent, maxEventsPerBlock> events;
    std::size_t count = 0;
    if (!entry.noteEvents.empty())
        count = blockEventsRt(entry, view.noteBlockEnds[index], playhead, frames, events);
    const std::span<const PluginMidiEvent> blockEvents(events.data(), count);
    // The block's budget is the sandboxed inserts' to share; a plug-in in process does not wait.
    const Deadline budget =
        entry.plugin->runsInHelper() ? sandboxBudgetRt(frames, playhead) : Deadline::never();
    if (entry.liveLatency > 0 && playingLive()) {
        const FramedNotes notes = FramedNotes::from(blockEvents);
        return entry.plugin->processLiveRt(left, right, frames, budget, notes.noteOns(),
                                           notes.noteOffs());
    }
    return entry.plugin->processRt(left, right, frames, budget, blockEvents);
}

bool PluginRack::processGroupRt(const PluginRackView &view, std::size_t index, int64_t playhead,
                                float *left, float *right, int32_t frames) noexcept {
    const RtSlotView &entry = view.entries[index];
    stageGroupMembersRt(view, entry, playhead);
    // An instrument heads its group: the first member's notes are the group's, at the start
    // of the block as the helper's protocol takes them.
    std::array<PluginMidiEvent, maxEventsPerBlock> events;
    std::size_t count = 0;
    if (!entry.noteEvents.empty())
        count = blockEventsRt(entry, view.noteBlockEnds[index], playhead, frames, events);
    const FramedNotes notes = FramedNotes::from(std::span(events.data(), count));
    const Deadline budget = sandboxBudgetRt(frames, playhead);
    if (entry.liveLatency > 0 && playingLive())
        return entry.group->processLive(left, right, frames, budget, notes.noteOns(),
                                        notes.noteOffs());
    return entry.group->process(left, right, frames, budget, notes.noteOns(), notes.noteOffs());
}

// Every member's bypass flag and automation go with the block, as they reach an insert of its
// own: a bypassed member hears no automation.
void PluginRack::stageGroupMembersRt(const PluginRackView &view, const RtSlotView &first,
                                     int64_t playhead) noexcept {
    for (const std::size_t index : first.groupMemberEntries) {
        const RtSlotView &member = view.entries[index];
        first.group->setMemberBypassRt(member.groupMember, member.bypassed);
        if (member.bypassed) continue;
        if (const auto value = pluginAutomationValueAt(member.paramAutomation, playhead)) {
            view.automationValues[index].store(*value, std::memory_order_relaxed);
            (void)first.group->setMemberParameterRt(member.groupMember, member.automParamId,
                                                    *value); // one value a block: always room
        }
    }
}

const PluginRackView *PluginRack::usableView(const PluginRackView *view) const noexcept {
    if (!view) return nullptr;
    if (host.projectGeneration && host.projectGeneration->load() != view->projectGeneration)
        return nullptr;
    return view;
}

bool PluginRack::playingLive() const noexcept {
    return host.renderingOffline && !host.renderingOffline();
}

Deadline PluginRack::sandboxBudgetRt(int32_t frames, int64_t playhead) noexcept {
    if (!host.renderingOffline || host.renderingOffline()) return Deadline::after(offlineWait);
    const auto now = std::chrono::steady_clock::now();
    const auto period = std::chrono::duration<double>(
        frames / std::max(sampleRate.load(std::memory_order_relaxed), 1.0));
    if (!blockBudget.made || blockBudget.playhead != playhead ||
        now - blockBudget.madeAt >= period) {
        blockBudget.made = true;
        blockBudget.madeAt = now;
        blockBudget.playhead = playhead;
        blockBudget.deadline = {
            now + std::chrono::duration_cast<std::chrono::nanoseconds>(period * sandboxBudgetShare),
            false};
    }
    return blockBudget.deadline;
}

// A block the insert did not process goes on dry, delayed as the insert would have delayed
// it, so that compensation keeps the track in line.
void PluginRack::passOnDryRt(const RtSlotView &entry, float *left, float *right,
                             int32_t frames) const noexcept {
    if (entry.bypassDelay)
        runBypassDelayRt(*entry.bypassDelay, left, right, frames, delayOf(entry, playingLive()));
}

int32_t PluginRack::latencySamples(uint64_t trackId) const noexcept {
    const auto reader = views.read();
    const PluginRackView *view = usableView(reader.get());
    if (!view) return 0;
    const bool live = playingLive();
    int32_t total = 0;
    for (const RtSlotView &entry : view->entries)
        if (entry.trackId == trackId) total += delayOf(entry, live);
    return total;
}

int32_t PluginRack::maxLatencySamples() const noexcept {
    const auto reader = views.read();
    const PluginRackView *view = usableView(reader.get());
    if (!view) return 0;
    const bool live = playingLive();
    int32_t largest = 0;
    for (const RtSlotView &entry : view->entries)
        largest = std::max(largest, delayOf(entry, live));
    return largest;
}

// --- Headless render ----------------------------------------------------------------------

bool restoreRackForRender(PluginRack &rack, double sampleRate, int32_t blockSize,
                          std::string *warnings) {
    rack.prepare(sampleRate, blockSize);
    return rack.restoreFromProject(warnings, true) == 0;
}

} // namespace orvane::vst
