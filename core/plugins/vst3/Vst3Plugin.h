#pragma once

#include "core/plugins/Plugin.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace orvane::vst {

using Vst3Program = PluginProgram;

/// Hosts one VST 3 audio plug-in instance in this process.
///
/// Threads: `process`, `processRt` and `processInstrument` run on the audio thread; everything
/// else on the main thread. The audio thread never waits: it only tries the instance's
/// processing lock and leaves the block untouched while `prepare` or `unload` hold it.
/// Parameter values reach the audio thread through a lock-free hand-over; the edit controller
/// is only ever called from the main thread.
class Vst3Plugin final : public Plugin {
  public:
    Vst3Plugin();
    ~Vst3Plugin() override;

    /// Latency in samples reported at the last `prepare`; 0 after `load` and `unload`.
    int32_t latency = 0;

    /// Loads the bundle at `path`. A `uid` of 32 hexadecimal digits picks the audio class whose
    /// id, in uppercase hexadecimal, equals it exactly; any other uid (empty, a path) takes the
    /// bundle's first audio class.
    [[nodiscard]] bool load(const std::string &path, const std::string &uid);
    [[nodiscard]] bool prepare(double sampleRate, int blockSize) override;
    int32_t latencySamples() const override { return latency; }
    /// Processes the two buffers in place.
    void process(float *left, float *right, int frames);
    /// Audio thread: processes in place. True when the buffers hold the plug-in's output; false
    /// when they were left as they were: the instance was busy with a main-thread request or is
    /// not loaded.
    [[nodiscard]] bool process(float *left, float *right, int frames, Deadline deadline);
    /// Audio thread: as above, starting and stopping notes at the start of the block (note-offs
    /// first; at most 50 events a block).
    [[nodiscard]] bool process(float *left, float *right, int frames, Deadline deadline,
                               std::span<const NoteOn> noteOns, std::span<const int> noteOffs);
    /// Audio thread: every note on its own frame. The block is cut where notes start or stop,
    /// and each piece starts with its notes.
    [[nodiscard]] bool processRt(float *left, float *right, int32_t frames, Deadline deadline,
                                 std::span<const PluginMidiEvent> events) noexcept override;
    /// Processes in place and starts and stops notes at the start of the block (note-offs
    /// first; at most 50 events a block).
    void processInstrument(float *left, float *right, int frames, std::span<const NoteOn> noteOns,
                           std::span<const int> noteOffs);

    [[nodiscard]] bool getState(std::vector<uint8_t> &state) override;
    [[nodiscard]] bool setState(const std::vector<uint8_t> &state) override;

    std::vector<PluginParameterInfo> listParameters() override;
    /// Clamps the value to [0, 1] and keeps it for every later block.
    [[nodiscard]] bool setParameterNormalized(uint32_t id, float value) override;
    /// Main thread: makes `id` settable from the audio thread, keeping its current value.
    void prepareParameterForAutomation(uint32_t id) override;
    /// Audio thread: the value reaches the plug-in with the next block through its parameter
    /// changes, never through the edit controller. False for an id that was not prepared.
    [[nodiscard]] bool setParameterNormalizedRt(uint32_t id, float value) noexcept override;
    float getParameterNormalized(uint32_t id) override;
    /// The plug-in's own text for the value `normalized` would give `id` (without units);
    /// empty when it has none to offer.
    std::string parameterValueText(uint32_t id, float normalized) override;

    bool hasEditor() override;
    /// Opens the editor in a window of its own (at least 400 × 300), titled with the plug-in's
    /// name.
    [[nodiscard]] bool openEditor() override;
    void closeEditor() override;
    /// `closed` once the user closed the window with its title bar's button (which closes the
    /// editor here); the values the user sets reach the host as the plug-in's own edits.
    EditorStatus pollEditor(std::vector<ParameterValue> &edits) override;
    /// X11 id of the open editor window, 0 when none is open.
    unsigned long editorWindowId() const;

    void unload() override;
    bool isLoaded() const override;

    /// The programs of the plug-in's program lists (through its unit information) that a
    /// program-change parameter chooses, in the order of the lists; empty when it has none.
    std::vector<Vst3Program> factoryPrograms() override;
    /// Loads another instance from the same bundle, chooses the program in it and plays one
    /// short block, for the processor to take it, before reading its state.
    [[nodiscard]] bool programState(const Vst3Program &program, std::vector<uint8_t> &state,
                                    std::string &error) override;
    /// As `programState`, in `fresh`, an instance loaded for the purpose.
    [[nodiscard]] static bool stateOfProgram(Vst3Plugin &fresh, const Vst3Program &program,
                                             std::vector<uint8_t> &state, std::string &error);

    /// Main thread: takes the parameter edits the plug-in reported from inside `process` and
    /// keeps them as edits made here; returns how many there were. Parameter reads do it too.
    size_t collectProcessEdits();

  private:
    struct Impl;

    void rememberParameter(uint32_t id, float value);
    void refreshParametersFromController();
    void flushParametersToProcessor();
    bool hasUnsentParameters();
    void queueChangedParameters();
    void processBlock(float *left, float *right, int frames, std::span<const NoteOn> noteOns,
                      std::span<const int> noteOffs);
    [[nodiscard]] bool processWithin(float *left, float *right, int frames,
                                     std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                                     const Deadline *budget);

    std::unique_ptr<Impl> impl;
};

} // namespace orvane::vst
