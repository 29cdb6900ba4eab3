#include "core/plugins/PluginRack.h"

#include "core/model/Translate.h"
#include "core/plugins/PluginRackParts.h"
#include "core/plugins/lv2/Lv2World.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/SandboxedChain.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "core/rt/RtThread.h"

#include <algorithm>

namespace orvane::vst {

using namespace rack;

// The inserts' helper processes: lost and failed helpers, and the helpers a track's inserts
// share.

namespace {

// What a shared helper loads for an insert: its bundle and class, or an LV2 plug-in's id.
SandboxedChain::Member memberOf(const Slot &slot) {
    const std::string &uid = slot.plugin->description.uid;
    if (isLv2Member(slot)) return {uid, ""};
    return {slot.bundlePath, classFilterOf(uid)};
}

} // namespace

int PluginRack::collectHelperFailures() {
    expectMainThread("PluginRack::collectHelperFailures");
    int failures = 0;
    std::lock_guard lock(slotsMutex);
    const std::size_t notesBefore = helperRestartNotes.size();
    for (Slot &slot : slots) {
        if (slot.group) {
            if (slot.groupMember == 0) failures += recoverGroupLocked(slot.trackId, *slot.group);
            continue;
        }
        if (!slot.sandboxed) continue;
        const std::string &name = slot.plugin->description.name;
        if (slot.sandboxed->restartLostHelper()) {
            noteHelperLocked(helperRestartNotes, slot.trackId, name);
            continue;
        }
        if (!slot.sandboxed->collectTransportFailure()) continue;
        noteHelperLocked(helperFailureNotes, slot.trackId, name);
        ++failures;
    }
    for (Slot &slot : slots)
        if (slot.plugin && !slot.nonFiniteReported &&
            slot.health->gaveNonFinite.load(std::memory_order_relaxed)) {
            slot.nonFiniteReported = true;
            insertFailures.push_back(
                {slot.trackId, slot.plugin->description.name,
                 translate("PluginRack",
                           "it gave non-finite values (NaN or infinity), played dry instead"),
                 false, true});
        }
    // A plug-in dropped or restarted may leave or rejoin a run that shares a helper.
    if (failures > 0 || helperRestartNotes.size() != notesBefore)
        rackChanges.fetch_add(1, std::memory_order_acq_rel);
    return failures;
}

// A group whose helper could not come back fails as its members would have failed alone:
// each counts, so that the user hears of every insert that went silent.
int PluginRack::recoverGroupLocked(uint64_t trackId, const SandboxGroup &group) {
    switch (group.chain->restartLostHelper()) {
    case SandboxedChain::Recovery::notNeeded: return 0;
    case SandboxedChain::Recovery::restarted:
        noteHelperLocked(helperRestartNotes, trackId, group.names);
        return 0;
    case SandboxedChain::Recovery::failed:
        noteHelperLocked(helperFailureNotes, trackId, group.names);
        return static_cast<int>(group.insertIndices.size());
    }
    return 0;
}

// The controller's last error says what became of the helper just looked at.
void PluginRack::noteHelperLocked(std::vector<std::string> &notes, uint64_t trackId,
                                  const std::string &names) {
    const std::string reason = sandbox.controller ? sandbox.controller->lastError : std::string();
    notes.push_back(names + ": " + reason);
    insertFailures.push_back({trackId, names, reason, &notes == &helperRestartNotes});
}

std::vector<InsertFailure> PluginRack::takeInsertFailures() {
    expectMainThread("PluginRack::takeInsertFailures");
    std::lock_guard lock(slotsMutex);
    return std::exchange(insertFailures, {});
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
// the members' own helpers go, so a helper that will not start costs nothing. They go after
// the view that plays the group is out (`leaving`): until then the audio thread still hands
// them blocks, and an instance unloaded under it would pass its blocks on dry.
void PluginRack::formGroupLocked(uint64_t trackId, const std::vector<int32_t> &insertIndices,
                                 std::vector<std::shared_ptr<Plugin>> &leaving) {
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
        leaving.push_back(slot.plugin);
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
                                          : createPlugin(slot.bundlePath, uid, &state, true);
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
    std::vector<std::shared_ptr<Plugin>> leaving;
    bool changed = false;
    {
        std::lock_guard projectLock(*host.projectMutex);
        std::lock_guard lock(slotsMutex);
        changed = regroupLocked(leaving);
        if (changed) publishViewLocked();
        regroupedAt = rackChanges.load(std::memory_order_relaxed);
    }
    if (leaving.empty()) return changed;
    // The members' own instances stay loaded, and heard, until no view plays them any more.
    releaseRetiredViews(true);
    std::lock_guard lock(slotsMutex);
    for (const std::shared_ptr<Plugin> &member : leaving) {
        PluginDescription description = member->description;
        member->unload();
        member->description = std::move(description);
    }
    return changed;
}

bool PluginRack::regroupLocked(std::vector<std::shared_ptr<Plugin>> &leaving) {
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
            formGroupLocked(track->id, insertIndices, leaving);
        if (runningGroupsLocked(track->id) != wanted)
            refusedGroupings.emplace_back(track->id, wanted);
        changed = true;
    }
    return dissolveGroupsOfRemovedTracksLocked() || changed;
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

} // namespace orvane::vst
