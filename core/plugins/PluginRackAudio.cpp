#include "core/plugins/PluginRack.h"

#include "core/plugins/FramedNotes.h"
#include "core/plugins/sandbox/SandboxedChain.h"
#include "core/rt/RtThread.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

namespace orvane::vst {

// The audio thread's side of the rack: every block of every track with inserts.

namespace {

// An offline render waits this long for a sandboxed insert's block before the helper counts
// as stuck.
constexpr std::chrono::seconds offlineWait{5};

// Bypassed or not, an insert delays by the same amount, so that toggling it while playing
// moves neither its track nor the others.
int32_t delayOf(const RtSlotView &entry, bool live) {
    return entry.latency + (live ? entry.liveLatency : 0);
}

bool allFinite(const float *left, const float *right, int32_t frames) {
    // A product of a sample with zero is zero unless the sample is a NaN or an infinity; the
    // sum of those products vectorises where a branch per sample would not.
    float probe = 0.0f;
    for (int32_t i = 0; i < frames; ++i)
        probe += left[i] * 0.0f + right[i] * 0.0f;
    return probe == 0.0f;
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

/// The events of [playhead, playhead + frames) as MIDI at their frames, noted in `played`.
/// After a jump of the playhead (a cycle's wrap, a locate) they start with an all-notes-off
/// and a note-off for every note the insert holds: not every plug-in interface has the first,
/// and the notes would hang. After an edit of the notes, those it holds that the edited notes
/// no longer hold stop. Nothing while the playhead stands still.
std::size_t blockEventsRt(const RtSlotView &entry, PlayedNotes &played, int64_t playhead,
                          int32_t frames, std::array<PluginMidiEvent, maxEventsPerBlock> &out) {
    const int64_t previousEnd =
        played.blockEnd.exchange(playhead + frames, std::memory_order_relaxed);
    if (previousEnd == playhead + frames) return 0;
    std::size_t count = 0;
    const auto stop = [&](std::size_t pitch) {
        if (count == out.size()) return;
        out[count++] = PluginMidiEvent{0, 3, {0x80, static_cast<uint8_t>(pitch), 0}};
        played.held[pitch] = 0;
    };
    if (previousEnd != playhead) {
        out[count++] = PluginMidiEvent{0, 3, {0xB0, 123, 0}};
        for (std::size_t pitch = 0; pitch < played.held.size(); ++pitch)
            if (played.held[pitch] > 0) stop(pitch);
    } else if (played.listStamp != entry.noteListStamp) {
        const std::array<uint16_t, 128> stillHeld = notesHeldAt(entry.noteEvents, playhead);
        for (std::size_t pitch = 0; pitch < played.held.size(); ++pitch)
            if (played.held[pitch] > 0 && stillHeld[pitch] == 0) stop(pitch);
    }
    played.listStamp = entry.noteListStamp;
    auto next = std::lower_bound(
        entry.noteEvents.begin(), entry.noteEvents.end(), playhead,
        [](const RtNoteEvent &event, int64_t position) { return event.position < position; });
    for (;
         next != entry.noteEvents.end() && next->position < playhead + frames && count < out.size();
         ++next) {
        out[count++] = PluginMidiEvent{static_cast<int32_t>(next->position - playhead),
                                       3,
                                       {next->status, next->pitch, next->velocity}};
        uint16_t &held = played.held[next->pitch & 0x7F];
        if (next->status == 0x90)
            held = static_cast<uint16_t>(std::min(held + 1, 0xFFFF));
        else if (held > 0)
            --held;
    }
    return count;
}

} // namespace

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
        if (entry.group || entry.plugin) runInsertRt(*view, i, playhead, left, right, frames);
    }
}

// A block the insert did not process, or that it is bypassed for, goes on dry, delayed as the
// insert would have delayed it, so that compensation keeps the track in line.
void PluginRack::runInsertRt(const PluginRackView &view, std::size_t index, int64_t playhead,
                             float *left, float *right, int32_t frames) noexcept {
    const RtSlotView &entry = view.entries[index];
    if (frames > InsertDryPath::blockRoom) {
        for (int32_t from = 0; from < frames; from += InsertDryPath::blockRoom)
            runInsertRt(view, index, playhead + from, left + from, right + from,
                        std::min(InsertDryPath::blockRoom, frames - from));
        return;
    }
    const auto started = std::chrono::steady_clock::now();
    // A block that comes out with a NaN or an infinity in it counts as not processed: it goes
    // dry, and the main thread hears of it, instead of the whole track falling silent.
    const auto process = [&](float *inLeft, float *inRight, int32_t count) {
        const bool processed = entry.group
                                   ? processGroupRt(view, index, playhead, inLeft, inRight, count)
                                   : processPluginRt(view, index, playhead, inLeft, inRight, count);
        if (!processed || allFinite(inLeft, inRight, count)) return processed;
        if (entry.health) entry.health->gaveNonFinite.store(true, std::memory_order_relaxed);
        return false;
    };
    // A group's members are bypassed inside its helper; the group itself never is.
    const bool bypassed = entry.bypassed && !entry.group;
    const bool live = playingLive();
    // A helper that runs a block behind keeps hearing the input while bypassed, or the first
    // block after the bypass would fade into what it played before.
    entry.dryPath->run(left, right, frames, delayOf(entry, live), bypassed,
                       live && entry.liveLatency > 0, process);
    noteLoadRt(entry, started, frames);
}

void PluginRack::noteLoadRt(const RtSlotView &entry, std::chrono::steady_clock::time_point started,
                            int32_t frames) noexcept {
    if (!entry.health) return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double blockSeconds = frames / std::max(sampleRate.load(std::memory_order_relaxed), 1.0);
    entry.health->load.addRt(seconds / blockSeconds);
}

// A value for a parameter the plug-in does not have goes nowhere, as it would on the wire.
// Live, a sandboxed insert or group runs a block behind and never makes the block wait;
// offline it is waited for as long as a single helper is, so that the render is the same to
// the bit as in process.
bool PluginRack::processPluginRt(const PluginRackView &view, std::size_t index, int64_t playhead,
                                 float *left, float *right, int32_t frames) noexcept {
    const RtSlotView &entry = view.entries[index];
    // A bypassed insert, heard only while it fades out, hears no automation, as a bypassed
    // member of a shared helper does not.
    if (const auto value = entry.bypassed
                               ? std::nullopt
                               : pluginAutomationValueAt(entry.paramAutomation, playhead)) {
        view.automationValues[index].store(*value, std::memory_order_relaxed);
        (void)entry.plugin->setParameterNormalizedRt(entry.automParamId, *value);
    }
    std::array<PluginMidiEvent, maxEventsPerBlock> events;
    std::size_t count = 0;
    if (!entry.noteEvents.empty())
        count = blockEventsRt(entry, *entry.playedNotes, playhead, frames, events);
    const std::span<const PluginMidiEvent> blockEvents(events.data(), count);
    // The block's budget is the sandboxed inserts' to share; a plug-in in process does not wait.
    const Deadline budget =
        entry.plugin->runsInHelper() ? sandboxBudgetRt(frames, playhead) : Deadline::never();
    if (entry.liveLatency > 0 && playingLive()) {
        const FramedNotes notes = FramedNotes::from(blockEvents);
        return entry.plugin->processLiveRt(left, right, frames, budget, notes.noteOns(),
                                           notes.noteOffs(), notes.noteOffFrames());
    }
    return entry.plugin->processRt(left, right, frames, budget, blockEvents);
}

bool PluginRack::processGroupRt(const PluginRackView &view, std::size_t index, int64_t playhead,
                                float *left, float *right, int32_t frames) noexcept {
    const RtSlotView &entry = view.entries[index];
    stageGroupMembersRt(view, entry, playhead);
    // An instrument heads its group: the first member's notes are the group's, each on its
    // frame.
    std::array<PluginMidiEvent, maxEventsPerBlock> events;
    std::size_t count = 0;
    if (!entry.noteEvents.empty())
        count = blockEventsRt(entry, *entry.playedNotes, playhead, frames, events);
    const FramedNotes notes = FramedNotes::from(std::span(events.data(), count));
    const Deadline budget = sandboxBudgetRt(frames, playhead);
    if (entry.liveLatency > 0 && playingLive())
        return entry.group->processLive(left, right, frames, budget, notes.noteOns(),
                                        notes.noteOffs(), notes.noteOffFrames());
    return entry.group->process(left, right, frames, budget, notes.noteOns(), notes.noteOffs(),
                                notes.noteOffFrames());
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
    while (blockBudgetBusy.test_and_set(std::memory_order_acquire)) {
        // Held for a few instructions by another rendering thread: spin, never sleep.
    }
    const struct Release {
        std::atomic_flag &flag;
        ~Release() { flag.clear(std::memory_order_release); }
    } release{blockBudgetBusy};
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

} // namespace orvane::vst
