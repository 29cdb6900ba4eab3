#pragma once

#include "core/engine/BlockIo.h"
#include "core/model/MidiMappings.h"
#include "core/model/Project.h"
#include "core/rt/RtPublished.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace orvane {

/// At most this many learned controllers take effect; later ones stay in the project unused.
inline constexpr std::size_t mostMidiMappings = 256;

/// The learned mappings as the audio thread matches them: built on the main thread from the
/// project's list, never changed once published.
struct ControllerTable {
    struct Entry {
        /// `controllerKey` of the source.
        uint32_t key = 0;
        /// The mapping's place in the project's list when the table was built.
        uint32_t slot = 0;
        float minimum = 0.0f;
        float maximum = 1.0f;
    };
    /// Sorted by key; a controller that moves several targets has one entry for each.
    std::vector<Entry> entries;
    /// Counts tables, so that a value moved under one table is never applied under the next.
    uint32_t generation = 0;
};

/// The controller a learned mapping listens to, as the learn slot hands it over.
struct LearnedController {
    int32_t channel = 0;
    MidiSourceKind kind = MidiSourceKind::ControlChange;
    int32_t number = 0;
};

/// One mapping the audio thread moved since the main thread last looked, with the value it
/// moved its target to.
struct MovedControl {
    MidiMapping mapping;
    float value = 0.0f;
};

/// The source of a mapping packed for matching: kind, channel and number.
constexpr uint32_t controllerKey(MidiSourceKind kind, int32_t channel, int32_t number) {
    return (static_cast<uint32_t>(kind) & 3u) << 11 | (static_cast<uint32_t>(channel) & 15u) << 7 |
           (static_cast<uint32_t>(number) & 127u);
}

/// Learned MIDI controllers between the main thread and the audio thread.
///
/// Threads: `publish`, `beginLearning`, `cancelLearning`, `takeLearned` and `takeMoved` on
/// the main thread; `takeEventRt` on the rendering thread, which neither allocates nor
/// locks. The table travels to the audio thread as an immutable copy; moved values come back
/// through one atomic word per mapping (value and table generation together) and a flag, so
/// that a controller sending faster than the window looks only ever leaves its latest value;
/// the learned controller comes back through one atomic word.
class ControllerMap {
  public:
    ControllerMap();
    ControllerMap(const ControllerMap &) = delete;
    ControllerMap &operator=(const ControllerMap &) = delete;

    /// Makes `mappings` (the project's list) the ones the next block matches; does nothing when
    /// they are the ones already published.
    void publish(const std::vector<MidiMapping> &mappings);

    /// The next controller that moves is handed to `takeLearned` instead of moving anything.
    void beginLearning();
    void cancelLearning();
    bool learning() const;
    /// The controller that moved while learning, once; learning then stops.
    std::optional<LearnedController> takeLearned();

    /// Every mapping moved since the last call, with its latest value, in the list's order.
    std::vector<MovedControl> takeMoved();

    /// Rendering thread: true when `event` was the learned controller or moved a mapping, so
    /// it plays nothing else.
    bool takeEventRt(const MidiEvent &event);

  private:
    enum LearnState : uint32_t { idle = 0, armed = 1 };
    static constexpr uint32_t learnedFlag = 1u << 31;

    RtPublished<ControllerTable> tables;
    /// The list the current table was built from (main thread).
    std::vector<MidiMapping> published;
    uint32_t generation = 0;
    std::atomic<uint32_t> learnState{idle};
    /// `learnedFlag` with the controller's key, or 0.
    std::atomic<uint32_t> learned{0};
    /// Per slot: the float bits of the latest value above, the table generation below.
    std::array<std::atomic<uint64_t>, mostMidiMappings> values{};
    std::array<std::atomic<bool>, mostMidiMappings> moved{};
};

/// Where a moved control lands in the project when it names a track's volume, pan, send or
/// a built-in effect's setting; false, with nothing changed, for a plug-in's parameter (which
/// the rack sets) or a target that no longer exists. Main thread, project mutex held.
bool applyControlToProject(Project &project, const MidiMapping &mapping, float value);

/// What a new mapping of `target` (its track, lane and parameter) spans when learned: the
/// fader's whole travel, pan from left to right, a send or a plug-in parameter from 0 to 1,
/// a built-in setting over its range.
void setLearnedRange(const Project &project, MidiMapping &mapping);

} // namespace orvane
