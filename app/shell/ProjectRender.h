#pragma once

#include "core/audiofile/AudioExport.h"
#include "core/audiofile/Loudness.h"
#include "core/engine/Engine.h"
#include "core/model/Project.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "device/OfflineRender.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Rendering a project on an engine of its own: what the window's export and the command-line
// verbs share.
namespace orvane {

/// What the summary line tells about a finished render.
struct RenderSummary {
    int64_t frames = 0;
    int32_t channels = 2;
    double sampleRate = 48000.0;
    float peak = 0.0f;
    /// Mean square of the mid signal (left and right averaged), as the master meter sees it.
    double meanSquare = 0.0;
    double sumOfSquares = 0.0; // of the mid signal, over the frames so far
    /// Integrated loudness and true peak of what was written, when it was metered.
    std::optional<LoudnessFigures> loudness;
    /// Names of the tracks the engine silenced for turning out non-finite values.
    std::vector<std::string> silencedTracks;
    /// Plug-in inserts whose helper died, hung or would not take their state during the
    /// render, one line each: the plug-in, its track and why. The song was rendered without
    /// them where they failed.
    std::vector<std::string> failedInserts;
    /// Set when normalisation wanted more than `largestNormalizationGainDb`: the gain it
    /// wanted, in dB. The file was raised by the largest gain only.
    std::optional<double> normalizationHeldBackFromDb;

    /// Takes `count` more interleaved frames into the figures.
    void add(const float *interleaved, int64_t count);
};

RenderSummary summariseRender(const std::vector<float> &samples, int32_t channels,
                              double sampleRate);

/// The most frames a 16-bit WAV file of `channels` can hold.
int64_t largestWavFrames(int32_t channels);

/// An engine that plays a project as the application would, with its plug-ins restored. The
/// sandbox outlives the rack, whose plug-ins may run inside it.
struct PreparedEngine {
    Engine engine;
    vst::PluginSandboxController sandbox;
    std::unique_ptr<vst::PluginRack> rack;
};

/// Loads `project` into `prepared` with its return tracks, prepared for blocks of `blockSize`
/// at the project's rate, and restores its plug-ins; warnings go to `errors` after `program`.
void prepareEngineForRender(PreparedEngine &prepared, Project project, int32_t blockSize,
                            const std::string &program, std::FILE *errors);

/// One WAV file rendered from a project: the span, the track (0: the whole mix) and the
/// channels, with an optional progress report and a question asked before every block
/// whether to stop.
struct WavRenderRequest {
    std::string outputPath;
    int64_t start = 0;
    int64_t frames = 0;
    uint64_t trackId = 0;
    int32_t channels = 2;
    OfflineRenderProgress progress;
    std::function<bool()> cancelled;
    std::string program = "Halvora";
    std::FILE *warnings = stderr; // plug-ins that could not be restored
    ExportFormat format;
    Normalization normalization;
    /// Tracks soloed for this render beside `trackId` (a return with its sources).
    std::vector<uint64_t> soloTracks;
    /// A gain already decided (the stems of a normalised export share the mix's), when set
    /// instead of measuring for `normalization`.
    std::optional<double> gain;
    /// The open project's folder (empty for none): no file of the render may lie in it. Every
    /// stem's file is checked against it, and like any output, as `outputPath` is.
    std::string projectFolder;
    /// Whether the summary gets the integrated loudness and true peak of what was written.
    /// They cost about a quarter of a plain mix, so a render nobody reads the summary of
    /// skips them.
    bool measureLoudness = true;
};

enum class WavRenderResult : uint8_t { Written, RenderFailed, WriteFailed, Cancelled };

/// Renders `project` on its own engine straight into the file in the request's format, block
/// by block, through a temporary file beside the output that replaces it only once complete:
/// a render that fails or is cancelled leaves no file behind and the user's earlier file
/// untouched. A normalised export is rendered twice, first only to measure. Runs on any
/// thread; the project is the caller's own copy. `error` says why when not written.
[[nodiscard]] WavRenderResult renderProjectToWav(Project project, const WavRenderRequest &request,
                                                 RenderSummary &summary, std::string &error);

/// The linear gain `request.normalization` asks for, measured by rendering the project once
/// without writing, at most `largestNormalizationGainDb`. nullopt when the render failed or
/// was cancelled (`error` says why). `heldBackFromDb`, when given, is set to the gain wanted
/// when it was more than that.
std::optional<double> measureNormalizationGain(Project project, const WavRenderRequest &request,
                                               std::string &error,
                                               std::optional<double> *heldBackFromDb = nullptr);

/// One file per track and per return of `project`, in `folder`, each named after its track
/// and as long as the whole export: every track alone as its solo plays it; a return as
/// what it adds to its sources. Normalised together, by the gain the whole mix needs.
struct StemFile {
    uint64_t trackId = 0;
    std::string path;
    RenderSummary summary;
};
[[nodiscard]] WavRenderResult renderProjectStems(const Project &project, const std::string &folder,
                                                 const WavRenderRequest &request,
                                                 std::vector<StemFile> &stems, std::string &error);

/// The file name of a track's stem: its name with what no file name may hold replaced, made
/// unique among `taken`.
std::string stemFileName(const Track &track, ExportContainer container,
                         std::vector<std::string> &taken);

/// False with `error` when `path` must not be written (see `checkOutputTarget`) or a 16-bit
/// WAV file cannot hold `frames`.
[[nodiscard]] bool checkRenderOutput(const std::string &path, const std::string &projectFolder,
                                     int64_t frames, int32_t channels, std::string &error);

} // namespace orvane
