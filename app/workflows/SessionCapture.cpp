#include "app/workflows/SessionCapture.h"

#include "core/commands/SessionCommands.h"

#include <algorithm>
#include <mutex>

namespace orvane {

namespace {

/// One pass of the session clip `source`: its loop when it loops, else the clip.
int64_t passLength(const Clip &source) {
    const bool loops =
        source.loop && source.loopLength > 0 && source.launchMode != SessionLaunchMode::PlayOnce;
    return std::max<int64_t>(loops ? source.loopLength : source.length, 1);
}

/// Makes `copy` the whole pass of `source` that was sounding `played` samples in, from where
/// that pass began: on the bar it was launched or looped on, as it was heard.
void holdWholePass(Clip &copy, const Clip &source, int64_t played) {
    const int64_t pass = passLength(source);
    copy.arrangeStart =
        std::max<int64_t>(copy.arrangeStart - std::clamp<int64_t>(played, 0, pass), 0);
    if (copy.kind == ClipKind::Audio) {
        copy.length =
            std::min(pass, std::max({source.length, int64_t{1}, source.audioFrameCount()}));
        return;
    }
    copy.length = pass;
    std::vector<MidiNote> notes;
    for (MidiNote note : source.notes) {
        if (note.start >= pass) continue;
        note.length = std::min(note.length, pass - note.start);
        notes.push_back(note);
    }
    copy.notes = std::move(notes);
}

} // namespace

std::vector<uint64_t> captureWholePasses(Engine &engine) {
    std::lock_guard lock(engine.projectMutex);
    const SessionTableCopy table = engine.readSessionTable();
    const std::vector<uint64_t> captured = engine.captureSessionToArrangement();
    // The engine captures the table's entries in order, skipping those it cannot place.
    std::size_t next = 0;
    for (int32_t i = 0; i < table.count && next < captured.size(); ++i) {
        const ActiveSessionClip &entry = table.entries[static_cast<std::size_t>(i)];
        if (!entry.playing && entry.offset < 1) continue;
        const auto source = engine.project.findClip(entry.clipId);
        if (!source) continue;
        const auto copy = engine.project.findClip(captured[next]);
        if (!copy || copy->trackId != source->trackId || copy->kind != source->kind) continue;
        ++next;
        holdWholePass(*copy, *source, entry.offset);
    }
    engine.publishGraph();
    return captured;
}

std::vector<uint64_t> captureSessionAsUndoableStep(Engine &engine, CommandStack &stack) {
    std::lock_guard lock(engine.projectMutex);
    const std::vector<uint64_t> captured = captureWholePasses(engine);
    if (captured.empty()) return captured;
    // The clips are in the project already: the step only records them for undo.
    stack.execute(engine.project,
                  CaptureSessionToArrangeCommand::fromCaptured(engine.project, captured));
    engine.publishGraph();
    return captured;
}

} // namespace orvane
