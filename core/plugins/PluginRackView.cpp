#include "core/plugins/PluginRack.h"

#include "core/plugins/PluginRackParts.h"
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/sandbox/SandboxedChain.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "core/rt/RtThread.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvane::vst {

using namespace rack;

// The views the audio thread reads: built from the slots and the project, published, retired.

namespace {

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

/// Tells note lists apart (FNV-1a over every event), so that the audio thread notices an edit.
uint64_t stampOf(const std::vector<RtNoteEvent> &events) {
    uint64_t stamp = 14695981039346656037ull;
    const auto mix = [&stamp](uint64_t value) {
        for (int byte = 0; byte < 8; ++byte, value >>= 8) {
            stamp ^= value & 0xFF;
            stamp *= 1099511628211ull;
        }
    };
    for (const RtNoteEvent &event : events) {
        mix(static_cast<uint64_t>(event.position));
        mix(uint64_t{event.status} << 16 | uint64_t{event.pitch} << 8 | event.velocity);
    }
    return stamp;
}

} // namespace

void PluginRack::publishRtView() {
    expectMainThread("PluginRack::publishRtView");
    std::unique_lock<std::recursive_mutex> projectLock;
    if (host.projectMutex) projectLock = std::unique_lock(*host.projectMutex);
    std::lock_guard lock(slotsMutex);
    publishViewLocked();
}

void PluginRack::followGraph() {
    bool inputsChanged = false;
    {
        std::unique_lock<std::recursive_mutex> projectLock;
        if (host.projectMutex) projectLock = std::unique_lock(*host.projectMutex);
        std::lock_guard lock(slotsMutex);
        inputsChanged = followLiveInputsLocked();
        if (inputsChanged) publishViewLocked();
    }
    if (!inputsChanged && instrumentsInUse.load(std::memory_order_acquire)) publishRtView();
}

int32_t PluginRack::liveAheadFramesFor(double rate) {
    return static_cast<int32_t>(std::lround(std::max(rate, 8000.0) * 1024.0 / 48000.0));
}

namespace {

/// Live input reaches the track's inserts at once: they stay at the device's period.
bool carriesLiveInput(const Track &track) {
    return track.type != TrackType::Audio || track.armed || track.monitorsInput();
}

} // namespace

// A change costs the audio thread one dry block of the insert: only when a track is armed,
// disarmed or starts monitoring.
bool PluginRack::followLiveInputsLocked() {
    if (!host.project) return false;
    bool changed = false;
    for (Slot &slot : slots) {
        if (!slot.sandboxed || slot.group || slot.sandboxed->liveAheadFrames() == 0) continue;
        const std::shared_ptr<Track> track = host.project->findTrack(slot.trackId);
        const bool wanted = gathersLiveBlocks && track && !carriesLiveInput(*track);
        if (slot.sandboxed->gathersLiveBlocks() == wanted) continue;
        slot.sandboxed->gatherLiveBlocks(wanted);
        changed = true;
    }
    return changed;
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
        if (!entry.groupFollower) {
            // Room for the live delay too, and for a whole block after it.
            const int32_t delays = entry.latency + entry.liveLatency;
            // Reused while the latency holds, so the delayed input carries over.
            if (!slot.dryPath || slot.dryPath->length() !=
                                     static_cast<std::size_t>(delays) + InsertDryPath::blockRoom) {
                auto path = std::make_shared<InsertDryPath>();
                path->resize(delays);
                slot.dryPath = std::move(path);
            }
            entry.dryPath = slot.dryPath.get();
            view->dryPaths.push_back(slot.dryPath);
        } else {
            slot.dryPath.reset();
        }
        entry.playedNotes = slot.playedNotes.get();
        view->playedNotes.push_back(slot.playedNotes);
        entry.health = slot.health.get();
        view->health.push_back(slot.health);
        view->plugins.push_back(slot.plugin);
        view->entries.push_back(std::move(entry));
    }
    listGroupMemberEntries(view->entries);
    view->automationValues = std::make_unique<std::atomic<float>[]>(view->entries.size());
    const PluginRackView *previousRaw = views.current().get();
    for (std::size_t i = 0; i < view->entries.size(); ++i) {
        float carried = noAutomationValue;
        if (previousRaw)
            for (std::size_t j = 0; j < previousRaw->entries.size(); ++j)
                if (previousRaw->entries[j].plugin == view->entries[i].plugin)
                    carried = previousRaw->automationValues[j].load(std::memory_order_relaxed);
        view->automationValues[i].store(carried, std::memory_order_relaxed);
    }
    view->projectGeneration = host.projectGeneration ? host.projectGeneration->load() : 0;
    const bool perTrackAsked =
        host.project && std::ranges::any_of(host.project->tracks, [](const auto &track) {
            return track && track->sandboxGrouping == SandboxGrouping::PerTrack;
        });
    groupingInUse.store(perTrackAsked || !view->groups.empty(), std::memory_order_release);
    instrumentsInUse.store(
        std::ranges::any_of(
            slots, [](const Slot &slot) { return slot.plugin && slot.plugin->takesNotes(); }),
        std::memory_order_release);
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
    if (slot.plugin->takesNotes() && track->type == TrackType::Midi) {
        entry.noteEvents = noteEventsOf(*track);
        entry.noteListStamp = stampOf(entry.noteEvents);
    }
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

} // namespace orvane::vst
