#include "app/shell/ProjectRender.h"

#include "app/shell/DocumentOperations.h"
#include "app/shell/RenderOutput.h"
#include "core/audiofile/AudioFile.h"
#include "core/model/Translate.h"
#include "core/plugins/PluginRack.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace orvane {

namespace fs = std::filesystem;

namespace {

constexpr int32_t renderBlockSize = offlineRenderMaxBlock;

/// Names in messages come from documents and plug-ins; none may drive the terminal.
void printLine(std::FILE *stream, const std::string &text) {
    std::fputs(printableText(text).c_str(), stream);
    std::fputc('\n', stream);
}

/// Lets the rack notice the helpers that failed since the last block, and names each insert that
/// failed, with its track, into `lines` (each once).
void collectFailedInserts(PreparedEngine &prepared, std::vector<std::string> &lines) {
    (void)prepared.rack->collectHelperFailures();
    for (const vst::InsertFailure &failure : prepared.rack->takeInsertFailures()) {
        std::string track = "#" + std::to_string(failure.trackId);
        {
            std::lock_guard lock(prepared.engine.projectMutex);
            if (const auto found = prepared.engine.project.findTrack(failure.trackId))
                track = found->name;
        }
        std::string line =
            withArguments(translate("ProjectRender", "plug-in “%1” on track “%2” failed: %3"),
                          {failure.plugins, track, failure.reason});
        if (failure.restarted)
            line += " " + translate("ProjectRender", "(restarted; the blocks before went dry)");
        if (std::find(lines.begin(), lines.end(), line) == lines.end())
            lines.push_back(std::move(line));
    }
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
    engine.options.capturesFlashback = false;
    engine.prepareToPlay(sampleRate, blockSize);
    vst::installPluginRackHooks(engine, *prepared.rack);
    // A plug-in that cannot be restored is left out with a warning, as opening would.
    std::string rackWarnings;
    if (!vst::restoreRackForRender(*prepared.rack, sampleRate, blockSize, &rackWarnings))
        printLine(errors, program + ": warning: " + rackWarnings);
}

namespace {

/// The figures of the summary and, when there is one, the meter, both from what goes to the
/// file.
class SummaryTap final : public ExportTap {
  public:
    SummaryTap(RenderSummary &summary, LoudnessMeter *meter) : summary_(summary), meter_(meter) {}
    void take(const float *interleaved, int64_t frames) override {
        summary_.add(interleaved, frames);
        if (meter_) meter_->take(interleaved, frames);
    }

  private:
    RenderSummary &summary_;
    LoudnessMeter *meter_;
};

/// A copy of `project` whose tracks in `soloed` (and only those) are soloed. Tracks are
/// shared between copies of a project, so the ones changed are copied first.
void soloOnly(Project &project, const std::vector<uint64_t> &soloed) {
    if (soloed.empty()) return;
    for (auto &track : project.tracks) {
        if (!track) continue;
        const bool solo = std::find(soloed.begin(), soloed.end(), track->id) != soloed.end();
        if (track->solo == solo) continue;
        track = std::make_shared<Track>(*track);
        track->solo = solo;
    }
}

/// What a return adds to the mix is the mix of its sources with it, less the mix without it:
/// the second, rendered first as raw float samples into a file, is taken off the first as
/// it renders.
struct DrySubtraction {
    int descriptor = -1;
    int64_t readSamples = 0;
    std::vector<float> dry;
    std::vector<float> difference;

    bool apply(const float *block, std::size_t count) {
        dry.resize(count);
        difference.resize(count);
        const auto bytes = static_cast<ssize_t>(count * sizeof(float));
        if (::pread(descriptor, dry.data(), static_cast<std::size_t>(bytes),
                    static_cast<off_t>(readSamples) * static_cast<off_t>(sizeof(float))) != bytes)
            return false;
        readSamples += static_cast<int64_t>(count);
        for (std::size_t index = 0; index < count; ++index)
            difference[index] = block[index] - dry[index];
        return true;
    }
};

/// Keeps the raw float samples a pass renders.
class RawFloatTap final : public ExportTap {
  public:
    explicit RawFloatTap(int descriptor) : descriptor_(descriptor) {}
    void take(const float *interleaved, int64_t frames) override {
        const auto bytes = static_cast<std::size_t>(frames) * channels * sizeof(float);
        failed_ =
            failed_ || ::write(descriptor_, interleaved, bytes) != static_cast<ssize_t>(bytes);
    }
    int32_t channels = 2;
    bool failed() const { return failed_; }

  private:
    int descriptor_;
    bool failed_ = false;
};

struct PassOutcome {
    bool rendered = false;
    bool writeFailed = false;
    bool cancelled = false;
    std::string renderError;
    /// Tracks the engine silenced for turning out non-finite values.
    std::vector<std::string> silencedTracks;
    std::vector<std::string> failedInserts;
};

/// Renders the request's span into `writer`, which is open already.
PassOutcome renderPass(Project project, const WavRenderRequest &request, AudioExportWriter &writer,
                       DrySubtraction *subtraction = nullptr) {
    soloOnly(project, request.soloTracks);
    PassOutcome outcome;
    PreparedEngine prepared;
    prepareEngineForRender(prepared, std::move(project), renderBlockSize, request.program,
                           request.warnings);
    const auto sink = [&](const float *block, int32_t count) {
        outcome.cancelled = request.cancelled && request.cancelled();
        if (outcome.cancelled) return false;
        collectSilencedTracks(prepared.engine, outcome.silencedTracks);
        collectFailedInserts(prepared, outcome.failedInserts);
        if (subtraction) {
            if (!subtraction->apply(block, static_cast<std::size_t>(count) * request.channels)) {
                outcome.writeFailed = true;
                return false;
            }
            block = subtraction->difference.data();
        }
        outcome.writeFailed = !writer.append(block, count);
        return !outcome.writeFailed;
    };
    Engine &engine = prepared.engine;
    outcome.rendered =
        request.trackId != 0
            ? renderTrackMixdownTo(engine, request.trackId, request.start, request.frames,
                                   request.channels, sink, &outcome.renderError, request.progress)
            : renderMixdownTo(engine, request.start, request.frames, request.channels, sink,
                              &outcome.renderError, request.progress);
    if (outcome.rendered && !writer.finish()) outcome.writeFailed = true;
    collectFailedInserts(prepared, outcome.failedInserts);
    return outcome;
}

WavRenderResult failedPass(const PassOutcome &outcome, const std::string &writeError,
                           std::string &error) {
    if (outcome.cancelled) {
        error = "the render was cancelled";
        return WavRenderResult::Cancelled;
    }
    // The sink refuses a block only when writing it failed; the writer's error says why.
    if (!outcome.rendered && !outcome.writeFailed && !outcome.renderError.empty()) {
        error = outcome.renderError;
        return WavRenderResult::RenderFailed;
    }
    if (error.empty()) error = writeError;
    return WavRenderResult::WriteFailed;
}

} // namespace

std::optional<double> measureNormalizationGain(Project project, const WavRenderRequest &request,
                                               std::string &error,
                                               std::optional<double> *heldBackFromDb) {
    if (request.gain) return request.gain;
    if (request.normalization.mode == NormalizeMode::Off) return 1.0;
    AudioExportWriter writer;
    if (!writer.openMeasureOnly(request.format, request.channels, project.sampleRate, error))
        return std::nullopt;
    LoudnessMeter meter(request.channels, exportRateOf(request.format, project.sampleRate));
    writer.setTap(&meter);
    const PassOutcome outcome = renderPass(std::move(project), request, writer);
    if (!outcome.rendered || outcome.writeFailed) {
        failedPass(outcome, writer.error(), error);
        return std::nullopt;
    }
    const LoudnessFigures figures = meter.figures();
    const double wantedDb = wantedNormalizationGainDb(figures, request.normalization);
    if (heldBackFromDb && wantedDb > largestNormalizationGainDb) *heldBackFromDb = wantedDb;
    return normalizationGain(figures, request.normalization);
}

namespace {

WavRenderResult renderToFile(Project project, const WavRenderRequest &request,
                             RenderSummary &summary, std::string &error,
                             DrySubtraction *subtraction) {
    const double sampleRate = project.sampleRate;
    const double fileRate = exportRateOf(request.format, sampleRate);
    summary = {};
    summary.channels = request.channels;
    summary.sampleRate = fileRate;
    if (!checkExportFormat(request.format, sampleRate, error)) return WavRenderResult::WriteFailed;
    std::optional<double> gain = 1.0;
    std::optional<double> heldBackFromDb;
    if (request.gain || request.normalization.mode != NormalizeMode::Off) {
        gain = measureNormalizationGain(project, request, error, &heldBackFromDb);
        if (!gain)
            return request.cancelled && request.cancelled() ? WavRenderResult::Cancelled
                                                            : WavRenderResult::RenderFailed;
    }
    // The mix goes to the file block by block as it is rendered: a long render never holds
    // its whole output in memory.
    std::optional<LoudnessMeter> meter;
    if (request.measureLoudness) meter.emplace(request.channels, fileRate);
    SummaryTap tap(summary, meter ? &*meter : nullptr);
    PassOutcome outcome;
    std::string writerError;
    int writerErrorNumber = 0;
    const bool written = writeRenderOutputWith(
        request.outputPath,
        [&](int descriptor) {
            AudioExportWriter writer;
            if (!writer.open(descriptor, request.format, request.channels, sampleRate,
                             request.start, writerError)) {
                outcome.writeFailed = true;
                writerErrorNumber = writer.writeErrorNumber();
                if (writerErrorNumber != 0) errno = writerErrorNumber;
                return false;
            }
            writer.setGain(*gain);
            writer.setTap(&tap);
            outcome = renderPass(std::move(project), request, writer, subtraction);
            summary.silencedTracks = outcome.silencedTracks;
            summary.failedInserts = outcome.failedInserts;
            if (outcome.writeFailed) {
                writerError = writer.error();
                writerErrorNumber = writer.writeErrorNumber();
                // The system's reason (a full disk) is the one the message gives.
                if (writerErrorNumber != 0) errno = writerErrorNumber;
            }
            return outcome.rendered && !outcome.writeFailed;
        },
        error);
    if (written) {
        if (meter) summary.loudness = meter->figures();
        summary.normalizationHeldBackFromDb = heldBackFromDb;
        return WavRenderResult::Written;
    }
    if (!writerError.empty() && !outcome.cancelled && writerErrorNumber == 0)
        error += " (" + writerError + ")";
    return failedPass(outcome, writerError, error);
}

/// Whether two paths name one file, through links and `..` alike.
bool sameFile(const std::string &first, const std::string &second) {
    std::error_code fault;
    const fs::path one = fs::weakly_canonical(fs::absolute(first), fault);
    if (fault) return false;
    const fs::path other = fs::weakly_canonical(fs::absolute(second), fault);
    return !fault && one == other;
}

/// A temporary file of our own in `folder`, gone from the folder as soon as it is open.
int openScratchFile(const std::string &folder) {
    return ::open(folder.empty() ? "." : folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
}

WavRenderResult renderReturnStem(const Project &project, const WavRenderRequest &request,
                                 uint64_t returnId, const std::vector<uint64_t> &sources,
                                 RenderSummary &summary, std::string &error) {
    const int descriptor = openScratchFile(fs::path(request.outputPath).parent_path().string());
    if (descriptor < 0) {
        error = std::string("cannot keep the mix without the return: ") + std::strerror(errno);
        return WavRenderResult::WriteFailed;
    }
    WavRenderRequest dry = request;
    dry.soloTracks = sources;
    AudioExportWriter drySamples;
    RawFloatTap keep(descriptor);
    keep.channels = request.channels;
    ExportFormat asRendered{ExportContainer::Wav, 32, 0.0, false, 0.0};
    PassOutcome outcome;
    if (drySamples.openMeasureOnly(asRendered, request.channels, project.sampleRate, error)) {
        drySamples.setTap(&keep);
        outcome = renderPass(project, dry, drySamples);
    }
    if (!outcome.rendered || outcome.writeFailed || keep.failed()) {
        ::close(descriptor);
        if (error.empty()) error = "cannot keep the mix without the return";
        return failedPass(outcome, drySamples.error(), error);
    }
    WavRenderRequest wet = request;
    wet.soloTracks = sources;
    wet.soloTracks.push_back(returnId);
    DrySubtraction subtraction;
    subtraction.descriptor = descriptor;
    const WavRenderResult result = renderToFile(project, wet, summary, error, &subtraction);
    ::close(descriptor);
    return result;
}

} // namespace

WavRenderResult renderProjectToWav(Project project, const WavRenderRequest &request,
                                   RenderSummary &summary, std::string &error) {
    return renderToFile(std::move(project), request, summary, error, nullptr);
}

std::string stemFileName(const Track &track, ExportContainer container,
                         std::vector<std::string> &taken) {
    std::string base;
    for (const char byte : track.name) {
        const auto value = static_cast<unsigned char>(byte);
        base += value < 0x20 || value == 0x7F || byte == '/' || byte == '\\' ? '_' : byte;
    }
    if (base.empty() || base == "." || base == "..") base = "Track " + std::to_string(track.id);
    // Room for the counter and the extension within a file name's 255 bytes.
    if (base.size() > 200) base.resize(200);
    const std::string extension = "." + std::string(exportContainerName(container));
    std::string name = base + extension;
    for (int counter = 2; std::find(taken.begin(), taken.end(), name) != taken.end(); ++counter)
        name = base + " " + std::to_string(counter) + extension;
    taken.push_back(name);
    return name;
}

WavRenderResult renderProjectStems(const Project &project, const std::string &folder,
                                   const WavRenderRequest &request, std::vector<StemFile> &stems,
                                   std::string &error) {
    stems.clear();
    WavRenderRequest shared = request;
    shared.trackId = 0;
    shared.soloTracks.clear();
    // Every stem takes the gain the whole mix needs, so that they still add up to it.
    std::optional<double> heldBackFromDb;
    const std::optional<double> gain =
        measureNormalizationGain(project, shared, error, &heldBackFromDb);
    if (!gain)
        return request.cancelled && request.cancelled() ? WavRenderResult::Cancelled
                                                        : WavRenderResult::RenderFailed;
    shared.gain = *gain;
    Project withReturns = project;
    HVEnsureReturnTracks(withReturns);
    std::vector<uint64_t> sources;
    for (const auto &track : withReturns.tracks)
        if (track && track->type != TrackType::Return) sources.push_back(track->id);
    std::vector<std::string> taken;
    std::vector<StemFile> planned;
    for (const auto &track : withReturns.tracks) {
        if (!track) continue;
        StemFile stem;
        stem.trackId = track->id;
        stem.path =
            (fs::path(folder) / stemFileName(*track, request.format.container, taken)).string();
        // Each stem's own file is held to what any output is, before anything is written.
        if (!checkOutputTarget(stem.path, request.projectFolder, error))
            return WavRenderResult::WriteFailed;
        if (!request.outputPath.empty() && sameFile(stem.path, request.outputPath)) {
            error = withArguments(translate("ProjectRender", "the stem %1 would replace the mix "
                                                             "written to the same file"),
                                  {"\"" + printableText(stem.path) + "\""});
            return WavRenderResult::WriteFailed;
        }
        planned.push_back(std::move(stem));
    }
    for (StemFile &stem : planned) {
        const std::shared_ptr<Track> track = withReturns.findTrack(stem.trackId);
        WavRenderRequest one = shared;
        one.outputPath = stem.path;
        one.soloTracks = {track->id};
        const WavRenderResult result =
            track->type == TrackType::Return
                ? renderReturnStem(withReturns, one, track->id, sources, stem.summary, error)
                : renderToFile(withReturns, one, stem.summary, error, nullptr);
        if (result != WavRenderResult::Written) return result;
        stem.summary.normalizationHeldBackFromDb = heldBackFromDb;
        stems.push_back(std::move(stem));
    }
    return WavRenderResult::Written;
}

bool checkRenderOutput(const std::string &path, const std::string &projectFolder, int64_t frames,
                       int32_t channels, std::string &error) {
    if (!checkOutputTarget(path, projectFolder, error)) return false;
    if (frames <= largestWavFrames(channels)) return true;
    error = withArguments(translate("ProjectRender", "the render would be %1 frames long, more "
                                                     "than a 16-bit WAV file holds"),
                          {std::to_string(frames)});
    return false;
}

} // namespace orvane
