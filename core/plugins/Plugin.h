#pragma once

#include "core/plugins/Deadline.h"
#include "core/plugins/PluginDescription.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orvane::vst {

/// One parameter as the plug-in describes it.
struct PluginParameterInfo {
    uint32_t id = 0;
    std::string name;
    float normalizedValue = 0.0f;
    /// "dB", "Hz" and the like, as the plug-in labels the value; may be empty.
    std::string units;
    /// 0 for a continuous value, 1 for a switch, N for N + 1 choices.
    int32_t stepCount = 0;
    /// False for values the plug-in only reports (meters) or keeps to itself.
    bool editable = true;
    /// The name of the group the plug-in puts it in; empty when none.
    std::string group;
};

/// One program of a plug-in's own program lists: chosen by giving its list's program-change
/// parameter a value.
struct PluginProgram {
    std::string name;
    uint32_t parameterId = 0;
    float normalized = 0.0f;
    bool operator==(const PluginProgram &) const = default;
};

/// A note to start at the beginning of the next block.
struct NoteOn {
    int pitch = 0;
    float velocity = 0.0f;
    /// The frame of its block it starts on.
    int32_t frame = 0;
};

/// A parameter and its normalized value.
struct ParameterValue {
    uint32_t id = 0;
    float value = 0.0f;
    bool operator==(const ParameterValue &) const = default;
};

/// Keeps `edit` among the editor's edits not reported yet, the latest value per parameter:
/// a control turned twice is reported once, at where it stopped.
inline void noteEditorEdit(std::vector<ParameterValue> &edits, ParameterValue edit) {
    for (ParameterValue &held : edits)
        if (held.id == edit.id) {
            held = edit;
            return;
        }
    edits.push_back(edit);
}

/// What became of the editor window `openEditor` opened: still open, closed by the user, or
/// ended because the process showing it died.
enum class EditorStatus { open, closed, crashed };

/// A short MIDI message at a frame of the block it goes with.
struct PluginMidiEvent {
    int32_t frame = 0;
    uint8_t size = 3;
    uint8_t bytes[3] = {};
};

/// What the rack and the sandbox know of a hosted plug-in, whatever its format and wherever it
/// runs: one instance, processed in place as a stereo insert or instrument.
///
/// Parameters are named by id: a VST 3 parameter id, an LV2 control port's index.
///
/// Threads: `processRt`, `processLiveRt` and `setParameterNormalizedRt` run on the audio
/// thread and never wait: an instance busy with a main-thread request leaves the block as it
/// was. Everything else runs on the main thread.
class Plugin {
  public:
    Plugin() = default;
    virtual ~Plugin() = default;
    Plugin(const Plugin &) = delete;
    Plugin &operator=(const Plugin &) = delete;

    /// Filled by loading, cleared by `unload`.
    PluginDescription description;

    [[nodiscard]] virtual bool prepare(double sampleRate, int maxBlockSize) = 0;
    virtual bool isLoaded() const = 0;
    virtual void unload() = 0;
    /// Samples the plug-in delays its output by, as it reported at the last `prepare`.
    virtual int32_t latencySamples() const = 0;
    /// Whether the plug-in plays the notes of its track.
    virtual bool takesNotes() const { return description.isInstrument; }

    /// Audio thread: processes in place within `deadline`, with `events` (note-ons, note-offs
    /// and an all-notes-off controller, by frame) for an instrument. True when the buffers
    /// hold the plug-in's output; false when they were left as they were.
    [[nodiscard]] virtual bool processRt(float *left, float *right, int32_t frames,
                                         Deadline deadline,
                                         std::span<const PluginMidiEvent> events) noexcept = 0;
    /// Audio thread, live playback: hands the block on and returns the one finished a period
    /// earlier, so the output lags by `liveLatency` frames. The note-offs stop on the frames
    /// `noteOffFrames` gives (on the first frame where it has none). False when the instance
    /// cannot run behind; the caller then uses `processRt`.
    [[nodiscard]] virtual bool processLiveRt(float *, float *, int32_t, Deadline,
                                             std::span<const NoteOn>, std::span<const int>,
                                             std::span<const int32_t> /*noteOffFrames*/) noexcept {
        return false;
    }
    /// Frames `processLiveRt` adds to the latency.
    virtual int32_t liveLatency() const { return 0; }

    virtual std::vector<PluginParameterInfo> listParameters() = 0;
    [[nodiscard]] virtual bool setParameterNormalized(uint32_t id, float value) = 0;
    virtual float getParameterNormalized(uint32_t id) = 0;
    /// Makes `id` settable from the audio thread, keeping its current value.
    virtual void prepareParameterForAutomation(uint32_t) {}
    /// Audio thread: the value reaches the plug-in with the next block. False for an id that
    /// was not prepared.
    [[nodiscard]] virtual bool setParameterNormalizedRt(uint32_t id, float value) noexcept = 0;
    /// The plug-in's own text for a value of `id`, without units; empty when it has none.
    virtual std::string parameterValueText(uint32_t, float) { return {}; }

    [[nodiscard]] virtual bool getState(std::vector<uint8_t> &state) = 0;
    [[nodiscard]] virtual bool setState(const std::vector<uint8_t> &state) = 0;
    /// The plug-in's own factory programs, in its order; empty when it has none.
    virtual std::vector<PluginProgram> factoryPrograms() { return {}; }
    /// The state the plug-in has with `program` chosen, taken from another instance of it so
    /// that this one plays on unchanged; false, with `error` saying why, when it gives none.
    [[nodiscard]] virtual bool programState(const PluginProgram &program,
                                            std::vector<uint8_t> &state, std::string &error) {
        (void)program;
        (void)state;
        error = "the plug-in has no programs";
        return false;
    }
    /// Where the plug-in keeps the files it writes with its state (inside the project folder).
    [[nodiscard]] virtual bool setStateFolder(const std::string &) { return true; }

    /// Whether `openEditor` can show the plug-in's own editor in a window of its own.
    virtual bool hasEditor() { return false; }
    [[nodiscard]] virtual bool openEditor() { return false; }
    virtual void closeEditor() {}
    /// Asked a few times a second while the editor is open: what became of it, and in `edits`
    /// the values (normalised) the user set in it since the last call, which the plug-in has
    /// already and the caller records as its own edits.
    virtual EditorStatus pollEditor(std::vector<ParameterValue> &edits) {
        (void)edits;
        return EditorStatus::open;
    }

    /// Whether the plug-in runs in a helper process.
    virtual bool runsInHelper() const { return false; }
};

} // namespace orvane::vst
