#include "core/plugins/PluginRack.h"

#include "core/model/Translate.h"
#include "core/plugins/PluginRackParts.h"
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/Lv2World.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/SandboxedChain.h"
#include "core/plugins/sandbox/SandboxedChainMember.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "core/plugins/vst3/Vst3Plugin.h"
#include "core/rt/RtThread.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace orvane::vst {

using namespace rack;

// Loading, restoring and saving the inserts: the main thread's side of the rack.

namespace fs = std::filesystem;

/// A project's insert record, taken out of its track while the rack rebuilds.
struct SavedInsert {
    uint64_t trackId = 0;
    InsertSlot insert;
    bool inHelper = false;
};

namespace {

/// What the user set on an insert, which loading it again must not forget.
void keepUsersChoices(InsertSlot &restored, InsertSlot &saved) {
    restored.bypassed = saved.bypassed;
    restored.automParamId = saved.automParamId;
    restored.paramAutomation = std::move(saved.paramAutomation);
    restored.inProcess = saved.inProcess;
    restored.editorOpen = saved.editorOpen;
}

/// Why plug-ins cannot keep files in `folder`, or nothing when they can: the folder is made when
/// missing, and a file is written into it and taken away again.
// A link would let whoever prepared a project send its owner's plug-in files to any folder
// the owner can write; only a real folder inside the project holds them.
bool isLink(const fs::path &path) {
    std::error_code fault;
    return fs::is_symlink(fs::symlink_status(path, fault));
}

std::string stateFolderProblem(const std::string &folder) {
    if (isLink(folder)) return "it is a link, which plug-in files are not written through";
    std::error_code fault;
    fs::create_directories(folder, fault);
    if (fault) return fault.message();
    if (!fs::is_directory(folder, fault)) return std::strerror(ENOTDIR);
    const std::string probe = (fs::path(folder) / ".halvora-write-check").string();
    const int file = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (file < 0) return std::strerror(errno);
    const bool written = ::write(file, "x", 1) == 1 && ::fsync(file) == 0;
    const int writeError = errno;
    ::close(file);
    ::unlink(probe.c_str());
    return written ? std::string() : std::strerror(writeError);
}

std::string canonicalOrEmpty(const std::string &path) {
    if (path.empty()) return {};
    std::error_code error;
    fs::path canonical = fs::weakly_canonical(path, error);
    return error ? std::string{} : canonical.string();
}

std::string unavailableLine(const InsertSlot &insert) {
    const std::string &name = insert.displayName.empty() ? insert.pluginId : insert.displayName;
    // An id of the LV2 kind names no VST 3 bundle, even when its URI is missing.
    if (insert.pluginId.starts_with("lv2:")) {
        const std::string uri = lv2::uriFromPluginId(insert.pluginId);
        return withArguments(translate("PluginRack", "LV2 unavailable: %1 (%2)"),
                             {name, uri.empty() ? translate("PluginRack", "no URI") : uri}) +
               "\n";
    }
    const std::string where =
        insert.bundlePath.empty() ? translate("PluginRack", "no path") : insert.bundlePath;
    return withArguments(translate("PluginRack", "VST3 unavailable: %1 (%2)"), {name, where}) +
           "\n";
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

} // namespace

SandboxGroup::SandboxGroup(PluginSandboxController &controller)
    : chain(std::make_unique<SandboxedChain>(controller)) {}

SandboxGroup::~SandboxGroup() = default;

bool sandboxEnabledFromEnvironment() {
    const char *value = std::getenv("HALVORA_VST_SANDBOX");
    return value == nullptr || value[0] != '0';
}

bool PluginRack::runsInHelperLocked(const Track *track, const InsertSlot *insert) const {
    if (!sandboxEnabled) return false;
    if (host.project && host.project->pluginsInProcess) return false;
    if (track && track->pluginsInProcess) return false;
    return !(insert && insert->inProcess);
}

bool PluginRack::runsInHelper(uint64_t trackId) {
    if (!host.project || !host.projectMutex) return sandboxEnabled;
    std::lock_guard projectLock(*host.projectMutex);
    return runsInHelperLocked(host.project->findTrack(trackId).get(), nullptr);
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

int32_t PluginRack::liveAheadFramesOrNone() const {
    const int32_t ahead = liveAheadFramesFor(sampleRate.load());
    return gathersLiveBlocks && ahead > blockSize.load() ? ahead : 0;
}

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
    (void)followLiveInputsLocked();
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
                                                 const std::vector<uint8_t> *state, bool inHelper) {
    lastCreateFailure.clear();
    std::shared_ptr<Plugin> made;
    if (inHelper) {
        if (sandbox.refreshHealth) sandbox.refreshHealth();
        if (!sandbox.ensureSandboxRunning || !sandbox.ensureSandboxRunning() || !sandbox.controller)
            return nullptr;
        auto plugin = std::make_shared<SandboxedPlugin>(*sandbox.controller);
        plugin->setLiveAheadFrames(liveAheadFramesOrNone());
        if (!plugin->load(path, classFilterOf(uid)) || !plugin->prepare(sampleRate, blockSize)) {
            // A plug-in that took its own helper down would do it again on the next load.
            // Unsaved, the block lasts this session; the next would find the crash again.
            if (plugin->ownHelperCrashed()) {
                lastCreateFailure = sandbox.controller->lastError;
                (void)blacklistPluginUid(uid.empty() ? path : uid);
            }
            return nullptr;
        }
        // The helper says only that the plug-in loaded; the scan knows what it is.
        if (scannedAsInstrument(path, uid)) plugin->description.isInstrument = true;
        if (state && !state->empty()) (void)plugin->setState(*state);
        return survivingHelper(std::move(plugin));
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
    // The lane starts on the plug-in's first parameter wherever it runs: a helper lists them
    // too, and a VST 3's ids need not start at 0.
    const std::vector<PluginParameterInfo> parameters = plugin->listParameters();
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

std::string PluginRack::projectStateFolder() const {
    if (!host.project || host.project->rootPath.empty()) return {};
    return (fs::path(host.project->rootPath) / "plugin-files").string();
}

std::string PluginRack::lv2StateFolder() const {
    std::string folder = projectStateFolder();
    // Refused, the plug-ins write to their scratch folder and the save says so.
    return isLink(folder) ? std::string() : folder;
}

std::shared_ptr<lv2::Lv2Plugin> PluginRack::createLv2Plugin(const std::string &uri,
                                                            const std::vector<uint8_t> *state,
                                                            std::string *error) {
    lastCreateFailure.clear();
    auto plugin = std::make_shared<lv2::Lv2Plugin>();
    (void)plugin->setStateFolder(lv2StateFolder()); // an LV2 plug-in in process takes any
    const bool loaded = plugin->load(uri) && plugin->prepare(sampleRate, blockSize);
    if (!loaded) {
        if (error) *error = plugin->lastError;
        // Installed but unusable is a failure to name; not installed is only missing.
        std::lock_guard lock(lv2::Lv2World::lock());
        if (const LilvPlugin *found = lv2::Lv2World::instance().findAnyPlugin(uri))
            lastCreateFailure = lv2::lv2DataRefusal(found);
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

/// What the data files say of the plug-in; reading them runs none of its code. None when it is
/// not installed, or when its data could not be read safely (`refusal` then says why).
std::optional<PluginDescription> lv2DescriptionOf(const std::string &uri, uint32_t *firstControl,
                                                  std::string *refusal = nullptr) {
    std::lock_guard lock(lv2::Lv2World::lock());
    const LilvPlugin *found = lv2::Lv2World::instance().findAnyPlugin(uri);
    if (!found) return std::nullopt;
    if (std::string why = lv2::lv2DataRefusal(found); !why.empty()) {
        if (refusal) *refusal = std::move(why);
        return std::nullopt;
    }
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
    lastCreateFailure.clear();
    const std::string pluginId = std::string(lv2::pluginIdPrefix) + uri;
    uint32_t firstControl = 0;
    std::optional<PluginDescription> description =
        lv2DescriptionOf(uri, &firstControl, &lastCreateFailure);
    if (!description) return nullptr;
    if (sandbox.refreshHealth) sandbox.refreshHealth();
    if (!sandbox.ensureSandboxRunning || !sandbox.ensureSandboxRunning() || !sandbox.controller)
        return nullptr;
    auto plugin = std::make_shared<SandboxedPlugin>(*sandbox.controller);
    plugin->setLiveAheadFrames(liveAheadFramesOrNone());
    if (!plugin->setStateFolder(lv2StateFolder())) return nullptr;
    if (!plugin->load(pluginId, "") || !plugin->prepare(sampleRate, blockSize)) {
        if (plugin->ownHelperCrashed()) { // as in createPlugin
            lastCreateFailure = sandbox.controller->lastError;
            (void)blacklistPluginUid(pluginId);
        }
        return nullptr;
    }
    if (state && !state->empty()) (void)plugin->setState(*state);
    plugin->description = std::move(*description);
    return survivingHelper(std::move(plugin));
}

// A rejected state is not fatal: the insert keeps the saved bytes for a later attempt. A helper
// that died or hung taking it is: the insert would play nothing, without a word.
std::shared_ptr<SandboxedPlugin>
PluginRack::survivingHelper(std::shared_ptr<SandboxedPlugin> plugin) {
    if (plugin->isLoaded()) return plugin;
    lastCreateFailure =
        withArguments(translate("PluginRack", "helper lost while restoring the state: %1"),
                      {sandbox.controller->lastError});
    return nullptr;
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
    if (runsInHelper(trackId)) {
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
    std::shared_ptr<Plugin> plugin = createPlugin(path, uid, state, runsInHelper(trackId));
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

void PluginRack::closeEditor(uint64_t trackId, int32_t insertIndex) {
    expectMainThread("PluginRack::closeEditor");
    std::lock_guard lock(slotsMutex);
    for (Slot &slot : slots) {
        if (slot.trackId != trackId || slot.insertIndex != insertIndex || !slot.plugin) continue;
        if (slot.group)
            slot.group->chain->closeEditor(slot.groupMember);
        else
            slot.plugin->closeEditor();
        return;
    }
}

EditorStatus PluginRack::pollEditor(uint64_t trackId, int32_t insertIndex,
                                    std::vector<ParameterValue> &edits) {
    expectMainThread("PluginRack::pollEditor");
    edits.clear();
    std::lock_guard lock(slotsMutex);
    for (Slot &slot : slots) {
        if (slot.trackId != trackId || slot.insertIndex != insertIndex || !slot.plugin) continue;
        return slot.group ? slot.group->chain->pollEditor(slot.groupMember, edits)
                          : slot.plugin->pollEditor(edits);
    }
    return EditorStatus::closed;
}

void PluginRack::saveStatesIntoProject() {
    expectMainThread("PluginRack::saveStatesIntoProject");
    if (!host.project || !host.projectMutex) return;
    std::lock_guard projectLock(*host.projectMutex);
    std::lock_guard lock(slotsMutex);
    stateFolderWarning.clear();
    const std::string folder = projectStateFolder();
    const bool keepsFiles = std::any_of(slots.begin(), slots.end(), [](const Slot &slot) {
        return slot.plugin && lv2::isLv2PluginId(slot.plugin->description.uid);
    });
    // Told now, while the user can still put the project somewhere else: the states below
    // still save, but files a plug-in writes beside them would be lost.
    if (keepsFiles && !folder.empty())
        if (const std::string problem = stateFolderProblem(folder); !problem.empty())
            stateFolderWarning = "“" + folder + "”: " + problem;
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
            for (InsertSlot &insert : track->inserts) {
                const bool inHelper = runsInHelperLocked(track.get(), &insert);
                saved.push_back({track->id, std::move(insert), inHelper});
            }
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
            restoreLv2(entry, std::move(insert), warnings, placeholders);
            continue;
        }
        // Loaded outside the project mutex: loading can take long and the main thread's other
        // readers of the project would wait for it.
        const std::string path = trustedBundleFor(insert, foundBundles);
        std::shared_ptr<Plugin> plugin;
        if (!path.empty())
            plugin = createPlugin(path, insert.pluginId, &insert.state, entry.inHelper);
        std::lock_guard projectLock(*host.projectMutex);
        if (plugin && appendVst3(entry.trackId, std::move(plugin), path, &insert.state)) {
            keepUsersChoices(host.project->findTrack(entry.trackId)->inserts.back(), insert);
            continue;
        }
        if (!host.project->findTrack(entry.trackId)) continue;
        ++placeholders;
        if (warnings) *warnings += unavailableLine(insert);
        noteCreateFailure(entry.trackId, insert);
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

void PluginRack::restoreLv2(const SavedInsert &entry, InsertSlot insert, std::string *warnings,
                            int &placeholders) {
    const uint64_t trackId = entry.trackId;
    // A blacklisted plug-in stays out, as a VST 3 one does.
    const bool blocked = std::find(scanner.blacklist.begin(), scanner.blacklist.end(),
                                   insert.pluginId) != scanner.blacklist.end() ||
                         std::any_of(plugins.begin(), plugins.end(), [&](const auto &description) {
                             return description.uid == insert.pluginId && description.blacklisted;
                         });
    const std::string uri = lv2::uriFromPluginId(insert.pluginId);
    std::shared_ptr<lv2::Lv2Plugin> plugin;
    std::shared_ptr<SandboxedPlugin> sandboxed;
    if (!blocked && entry.inHelper)
        sandboxed = createSandboxedLv2(uri, &insert.state);
    else if (!blocked)
        plugin = createLv2Plugin(uri, &insert.state, nullptr);
    std::lock_guard projectLock(*host.projectMutex);
    const bool appended = sandboxed
                              ? appendSandboxedLv2(trackId, std::move(sandboxed), &insert.state)
                          : plugin ? appendLv2(trackId, std::move(plugin), &insert.state)
                                   : false;
    if (appended) {
        keepUsersChoices(host.project->findTrack(trackId)->inserts.back(), insert);
        return;
    }
    if (!host.project->findTrack(trackId)) return;
    ++placeholders;
    if (warnings) *warnings += unavailableLine(insert);
    noteCreateFailure(trackId, insert);
    restorePlaceholder(trackId, std::move(insert));
}

// A plug-in whose helper died making it failed, where one that is not installed is only
// missing.
void PluginRack::noteCreateFailure(uint64_t trackId, const InsertSlot &insert) {
    if (lastCreateFailure.empty()) return;
    std::lock_guard lock(slotsMutex);
    insertFailures.push_back({trackId,
                              insert.displayName.empty() ? insert.pluginId : insert.displayName,
                              std::exchange(lastCreateFailure, {}), false});
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

bool PluginRack::insertAvailable(uint64_t trackId, int32_t insertIndex) {
    std::lock_guard lock(slotsMutex);
    for (const Slot &slot : slots)
        if (slot.trackId == trackId && slot.insertIndex == insertIndex) return slot.available;
    return false;
}

bool PluginRack::insertFailed(uint64_t trackId, int32_t insertIndex) {
    std::lock_guard lock(slotsMutex);
    const Slot *slot = slotAtLocked(trackId, insertIndex);
    if (!slot || !slot->plugin) return false;
    const bool helperLost = slot->sandboxed && !slot->group && !slot->sandboxed->isLoaded();
    return helperLost || slot->health->gaveNonFinite.load(std::memory_order_relaxed);
}

InsertLoad PluginRack::takeInsertLoad(uint64_t trackId, int32_t insertIndex) {
    std::lock_guard lock(slotsMutex);
    const Slot *slot = slotAtLocked(trackId, insertIndex);
    return slot ? takeLoadLocked(*slot) : InsertLoad{};
}

InsertLoad PluginRack::takeLoadLocked(const Slot &slot) {
    InsertLoad load;
    load.sandboxed = slot.sandboxed != nullptr || slot.group != nullptr;
    if (slot.group && slot.group->chain)
        load.inHelper = slot.group->chain->takeHelperLoad(slot.groupMember);
    else if (slot.sandboxed)
        load.inHelper = slot.sandboxed->takeHelperLoad();
    if (!slot.health) return load;
    const LoadStretch taken = slot.health->load.take();
    load.blocks = taken.blocks;
    load.mean = taken.mean;
    load.peak = taken.peak;
    return load;
}

const std::vector<InsertLoadReport> &PluginRack::insertLoads() {
    expectMainThread("PluginRack::insertLoads");
    const auto now = std::chrono::steady_clock::now();
    if (now - loadsTakenAt < std::chrono::seconds(1)) return lastLoads;
    loadsTakenAt = now;
    lastLoads.clear();
    std::lock_guard lock(slotsMutex);
    for (const Slot &slot : slots)
        lastLoads.push_back({slot.trackId, slot.insertIndex, takeLoadLocked(slot)});
    return lastLoads;
}

bool PluginRack::holdsInstance(const Plugin *instance) {
    std::lock_guard lock(slotsMutex);
    const auto *member = dynamic_cast<const SandboxedChainMember *>(instance);
    return std::ranges::any_of(slots, [instance, member](const Slot &slot) {
        if (member)
            return slot.group && slot.group->chain.get() == member->chainShown() &&
                   slot.groupMember == member->memberShown();
        return slot.plugin && slot.plugin.get() == instance;
    });
}

std::shared_ptr<Plugin> PluginRack::editablePluginLocked(const Slot &slot) {
    if (!slot.group || !slot.group->chain || !slot.plugin) return slot.plugin;
    // Shares the group's life: the helper stays while the window holds the view.
    std::shared_ptr<SandboxedChain> chain(slot.group, slot.group->chain.get());
    return std::make_shared<SandboxedChainMember>(std::move(chain), slot.groupMember,
                                                  slot.plugin->description);
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

std::optional<std::vector<uint8_t>>
PluginRack::setStateAndReadState(uint64_t trackId, int32_t insertIndex,
                                 const std::vector<uint8_t> &state) {
    expectMainThread("PluginRack::setStateAndReadState");
    std::lock_guard lock(slotsMutex);
    Slot *slot = slotAtLocked(trackId, insertIndex);
    if (!slot || slot->isStock || !slot->available) return std::nullopt;
    std::vector<uint8_t> after;
    if (slot->group) {
        SandboxedChain &chain = *slot->group->chain;
        if (!chain.setState(slot->groupMember, state) || !chain.getState(slot->groupMember, after))
            return std::nullopt;
        return after;
    }
    if (!slot->plugin) return std::nullopt;
    if (slot->lv2Plugin) (void)slot->lv2Plugin->setStateFolder(lv2StateFolder());
    if (!slot->plugin->setState(state) || !slot->plugin->getState(after)) return std::nullopt;
    return after;
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

bool restoreRackForRender(PluginRack &rack, double sampleRate, int32_t blockSize,
                          std::string *warnings) {
    rack.prepare(sampleRate, blockSize);
    return rack.restoreFromProject(warnings, true) == 0;
}

} // namespace orvane::vst
