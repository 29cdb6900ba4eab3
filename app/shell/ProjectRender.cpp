#include "app/shell/ProjectRender.h"

#include "app/shell/DocumentOperations.h"
#include "app/shell/RenderOutput.h"
#include "core/audiofile/AudioFile.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

namespace orvane {

namespace {

constexpr int32_t renderBlockSize = offlineRenderMaxBlock;

/// Names in messages come from documents and plug-ins; none may drive the terminal.
void printLine(std::FILE *stream, const std::string &text) {
    std::fputs(printableText(text).c_str(), stream);
    std::fputc('\n', stream);
}

/// Takes the engine's reports of tracks it silenced for non-finite output, which nothing else
/// reads during an offline render, into `names`.
void collectSilencedTracks(Engine &engine, std::vector<std::string> &names) {
    Notification notification;
    while (engine.popNotification(notification)) {
        if (notification.kind != NotificationKind::trackSilenced) continue;
        std::string name = "#" + std::to_string(notification.id);
        {
            std::lock_guard lock(engine.projectMutex);
            if (const auto track = engine.project.findTrack(notification.id)) name = track->name;
        }
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(std::move(name));
    }
}

} // namespace

/// A 16-bit WAV file counts its data in 32 bits, and the writer takes an int frame count.
int64_t largestWavFrames(int32_t channels) {
    const int64_t byData = (int64_t{std::numeric_limits<uint32_t>::max()} - 36) / (2 * channels);
    return std::min<int64_t>(byData, std::numeric_limits<int>::max());
}

RenderSummary summariseRender(const std::vector<float> &samples, int32_t channels,
                              double sampleRate) {
    RenderSummary summary;
    summary.channels = std::max(channels, 1);
    summary.sampleRate = sampleRate;
    summary.add(samples.data(), static_cast<int64_t>(samples.size()) / summary.channels);
    return summary;
}

void RenderSummary::add(const float *interleaved, int64_t count) {
    const auto width = static_cast<std::size_t>(channels);
    for (int64_t frame = 0; frame < count; ++frame) {
        const float *at = interleaved + static_cast<std::size_t>(frame) * width;
        const double mid = width == 1 ? at[0] : (static_cast<double>(at[0]) + at[1]) / 2.0;
        sumOfSquares += mid * mid;
        for (std::size_t channel = 0; channel < width; ++channel)
            peak = std::max(peak, std::abs(at[channel]));
    }
    frames += count;
    if (frames > 0) meanSquare = sumOfSquares / static_cast<double>(frames);
}

void prepareEngineForRender(PreparedEngine &prepared, Project project, int32_t blockSize,
                            const std::string &program, std::FILE *errors) {
    const double sampleRate = project.sampleRate;
    Engine &engine = prepared.engine;
    prepared.sandbox.enabled = vst::sandboxEnabledFromEnvironment();
    prepared.rack = std::make_unique<vst::PluginRack>(vst::pluginRackHostFor(engine),
                                                      vst::pluginRackSandboxFor(prepared.sandbox));
    engine.replaceProject(std::move(project));
    {
        std::lock_guard lock(engine.projectMutex);
        // Opening a project gives it its returns; the render must sound like playback.
        HVEnsureReturnTracks(engine.project);
    }
    engine.capturesFlashback = false;
    engine.prepareToPlay(sampleRate, blockSize);
    vst::installPluginRackHooks(engine, *prepared.rack);
    // A plug-in that cannot be restored is left out with a warning, as opening would.
    std::string rackWarnings;
    if (!vst::restoreRackForRender(*prepared.rack, sampleRate, blockSize, &rackWarnings))
        printLine(errors, program + ": warning: " + rackWarnings);
}

WavRenderResult renderProjectToWav(Project project, const WavRenderRequest &request,
                                   RenderSummary &summary, std::string &error) {
    const double sampleRate = project.sampleRate;
    summary = {};
    summary.channels = request.channels;
    summary.sampleRate = sampleRate;
    // The mix goes to the file block by block as it is rendered: a long render never holds
    // its whole output in memory.
    std::string renderError;
    bool writeFailed = false, cancelled = false, rendered = false;
    const bool written = writeRenderOutputWith(
        request.outputPath,
        [&](int descriptor) {
            if (!writeWavHeader(descriptor, request.frames, request.channels, sampleRate)) {
                writeFailed = true;
                return false;
            }
            PreparedEngine prepared;
            prepareEngineForRender(prepared, std::move(project), renderBlockSize, request.program,
                                   request.warnings);
            WavSampleStream samples(descriptor);
            const auto sink = [&](const float *block, int32_t count) {
                cancelled = request.cancelled && request.cancelled();
                if (cancelled) return false;
                summary.add(block, count);
                collectSilencedTracks(prepared.engine, summary.silencedTracks);
                writeFailed =
                    !samples.append(block, static_cast<uint64_t>(count) * request.channels);
                return !writeFailed;
            };
            Engine &engine = prepared.engine;
            rendered =
                request.trackId != 0
                    ? renderTrackMixdownTo(engine, request.trackId, request.start, request.frames,
                                           request.channels, sink, &renderError, request.progress)
                    : renderMixdownTo(engine, request.start, request.frames, request.channels, sink,
                                      &renderError, request.progress);
            if (rendered && !samples.flush()) writeFailed = true;
            return rendered && !writeFailed;
        },
        error);
    if (written) return WavRenderResult::Written;
    if (cancelled) {
        error = "the render was cancelled";
        return WavRenderResult::Cancelled;
    }
    // The sink refuses a block only when writing it failed; the writer's error says why.
    if (!rendered && !writeFailed && !renderError.empty()) {
        error = renderError;
        return WavRenderResult::RenderFailed;
    }
    return WavRenderResult::WriteFailed;
}

bool checkRenderOutput(const std::string &path, const std::string &projectFolder, int64_t frames,
                       int32_t channels, std::string &error) {
    if (!checkOutputTarget(path, projectFolder, error)) return false;
    if (frames <= largestWavFrames(channels)) return true;
    error = "the render would be " + std::to_string(frames) +
            " frames long, more than a 16-bit WAV file holds";
    return false;
}

} // namespace orvane
