#include "app/cli/RenderVerb.h"

#include "app/cli/VerbArguments.h"
#include "app/shell/DocumentOperations.h"
#include "app/shell/ProjectRender.h"
#include "app/shell/RenderOutput.h"
#include "app/shell/SessionState.h"
#include "core/audiofile/AudioFile.h"
#include "core/engine/Engine.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/project_io/ProjectDocument.h"
#include "core/project_io/ProjectFolder.h"
#include "device/OfflineRender.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <mutex>
#include <sstream>
#include <system_error>

#include <unistd.h>

namespace orvane {

namespace fs = std::filesystem;

namespace {

constexpr double demoSampleRate = 48000.0;
// Outside this range the stock processors' filters are not designed to work, and a damaged
// document could ask for billions of frames a second.
constexpr double lowestSampleRate = 1000.0;
constexpr double highestSampleRate = 768000.0;
constexpr int progressBarWidth = 40;

bool parseSampleCount(const std::string &option, const std::string &text, int64_t &value,
                      std::string &error) {
    if (parseNumber(text, value) && value >= 0) return true;
    error = option + " takes a whole number of samples, not \"" + text + "\"";
    return false;
}

bool isExportOption(const std::string &option) {
    return option == "--format" || option == "--bits" || option == "--rate" ||
           option == "--dither" || option == "--quality" || option == "--normalize" ||
           option == "--stems";
}

/// "44100" or the usual shorthand "44.1" (kHz).
bool parseExportRate(const std::string &text, double &rate) {
    double value = 0.0;
    if (!parseNumber(text, value)) return false;
    rate = value < 1000.0 ? value * 1000.0 : value;
    return isExportSampleRate(rate);
}

bool parseExportOption(const std::string &option, const std::string &text,
                       RenderVerbOptions &options, std::string &error) {
    ExportFormat &format = options.format;
    if (option == "--format") {
        if (parseExportContainer(text, format.container)) return true;
        error = "--format takes wav, flac, ogg or mp3, not \"" + text + "\"";
    } else if (option == "--bits") {
        options.bitsGiven = true;
        if (parseNumber(text, format.bits) &&
            (format.bits == 16 || format.bits == 24 || format.bits == 32))
            return true;
        error = "--bits takes 16, 24 or 32, not \"" + text + "\"";
    } else if (option == "--rate") {
        if (parseExportRate(text, format.sampleRate)) return true;
        error = "--rate takes 44100, 48000, 88200 or 96000, not \"" + text + "\"";
    } else if (option == "--dither") {
        if (text == "on" || text == "off") {
            format.dither = text == "on";
            return true;
        }
        error = "--dither takes on or off, not \"" + text + "\"";
    } else if (option == "--quality") {
        options.qualityGiven = true;
        if (parseNumber(text, format.quality) && format.quality >= 0.0 && format.quality <= 1.0)
            return true;
        error = "--quality takes a number from 0 to 1, not \"" + text + "\"";
    } else if (option == "--normalize") {
        return parseNormalization(text, options.normalization, error);
    } else if (option == "--stems") {
        options.stemsFolder = text;
        if (!text.empty()) return true;
        error = "--stems takes a folder";
    }
    return false;
}

bool parseOption(const std::vector<std::string> &arguments, std::size_t &index,
                 RenderVerbOptions &options, std::string &error) {
    const std::string &option = arguments[index];
    if (option == "--demo") {
        options.demo = true;
    } else if (option == "--quiet") {
        options.quiet = true;
    } else if (option == "--help" || option == "-h") {
        options.help = true;
    } else if (option == "-o" || option == "--output") {
        if (!needsValue(arguments, index, error)) return false;
        options.outputPath = arguments[++index];
    } else if (option == "--start" || option == "--length") {
        if (!needsValue(arguments, index, error)) return false;
        int64_t value = 0;
        if (!parseSampleCount(option, arguments[++index], value, error)) return false;
        (option == "--start" ? options.start : options.length) = value;
    } else if (option == "--track") {
        if (!needsValue(arguments, index, error)) return false;
        const std::string &text = arguments[++index];
        if (!parseNumber(text, options.trackId) || options.trackId == 0) {
            error = "--track takes a track id (a whole number above 0), not \"" + text + "\"";
            return false;
        }
    } else if (isExportOption(option)) {
        if (!needsValue(arguments, index, error)) return false;
        return parseExportOption(option, arguments[++index], options, error);
    } else if (option == "--channels") {
        if (!needsValue(arguments, index, error)) return false;
        const std::string &text = arguments[++index];
        if (text != "1" && text != "2") {
            error = "--channels takes 1 or 2, not \"" + text + "\"";
            return false;
        }
        options.channels = text == "1" ? 1 : 2;
    } else {
        error = "unknown option \"" + option + "\"";
        return false;
    }
    return true;
}

/// Names in messages come from documents and plug-ins; none may drive the terminal.
void printLine(std::FILE *stream, const std::string &text) {
    std::fputs(printableText(text).c_str(), stream);
    std::fputc('\n', stream);
}

bool checkProjectFolder(const std::string &folder, std::string &error) {
    std::error_code fault;
    if (!fs::exists(folder, fault)) {
        error = "no project folder at \"" + folder + "\"";
        return false;
    }
    if (!fs::is_directory(folder, fault)) {
        error = "\"" + folder + "\" is not a project folder";
        return false;
    }
    const fs::path document = fs::path(folder) / "project.json";
    if (!fs::exists(document, fault)) {
        error = "no project.json in \"" + folder + "\"";
        return false;
    }
    if (!fs::is_regular_file(document, fault)) {
        error = "\"" + document.string() + "\" is not a regular file";
        return false;
    }
    return true;
}

/// Clips whose media could not be loaded play silence; the user learns which ones and why.
void warnAboutUnloadedMedia(const Project &project,
                            const std::vector<project_io::MediaLoadFailure> &failures,
                            std::FILE *errors) {
    for (const auto &failure : failures) {
        const std::shared_ptr<Clip> clip = project.findClip(failure.clipId);
        const std::string name = clip ? clip->audioFile : failure.path;
        std::error_code fault;
        const bool missing = !fs::exists(fs::symlink_status(failure.path, fault));
        printLine(errors, "Halvora render: warning: media file \"" + name + "\" of clip " +
                              std::to_string(failure.clipId) + " is " +
                              (missing ? "missing" : "unreadable (" + failure.reason + ")") +
                              "; the clip renders as silence");
    }
}

std::optional<Project> loadProjectForRender(const std::string &folder, std::FILE *errors,
                                            std::string &error) {
    if (!checkProjectFolder(folder, error)) return std::nullopt;
    std::optional<Project> project = project_io::loadProject(folder, &error);
    if (!project) return std::nullopt;
    std::vector<project_io::MediaLoadFailure> failures;
    // Each clip that did not load is in `failures`, which the warning below names.
    (void)project_io::hydrateProjectMedia(*project, failures);
    warnAboutUnloadedMedia(*project, failures, errors);
    return project;
}

bool checkSampleRate(double sampleRate, std::string &error) {
    if (std::isfinite(sampleRate) && sampleRate >= lowestSampleRate &&
        sampleRate <= highestSampleRate)
        return true;
    std::ostringstream text;
    text << "the project's sample rate " << sampleRate << " is not usable (expected "
         << lowestSampleRate << " to " << highestSampleRate << " Hz)";
    error = text.str();
    return false;
}

// Anything beyond `timelineLimit` is damage, refused before it reaches the engine.

bool withinTimeline(int64_t value) { return value > -timelineLimit && value < timelineLimit; }

bool pointsWithinTimeline(const std::vector<AutomationPoint> &points) {
    return std::all_of(points.begin(), points.end(),
                       [](const AutomationPoint &point) { return withinTimeline(point.t); });
}

bool clipWithinTimeline(const Clip &clip) {
    for (const int64_t value : {clip.arrangeStart, clip.length, clip.sourceOffset, clip.loopLength,
                                clip.fadeIn, clip.fadeOut})
        if (!withinTimeline(value)) return false;
    for (const auto &note : clip.notes)
        if (!withinTimeline(note.start) || !withinTimeline(note.length)) return false;
    for (const auto &marker : clip.warpMarkers)
        if (!withinTimeline(marker.dest) || !withinTimeline(marker.source)) return false;
    return pointsWithinTimeline(clip.gainEnvelope);
}

bool trackWithinTimeline(const Track &track) {
    if (!pointsWithinTimeline(track.volumeAutomation) ||
        !pointsWithinTimeline(track.panAutomation) || !pointsWithinTimeline(track.muteAutomation))
        return false;
    for (const auto &lane : track.automationClips)
        if (!withinTimeline(lane.start) || !withinTimeline(lane.length) ||
            !pointsWithinTimeline(lane.points))
            return false;
    for (const auto &insert : track.inserts)
        if (!pointsWithinTimeline(insert.paramAutomation)) return false;
    return true;
}

bool checkTimelineRange(const Project &project, std::string &error) {
    for (const auto &track : project.tracks) {
        if (!track) continue;
        if (!trackWithinTimeline(*track)) {
            error = "track " + std::to_string(track->id) +
                    " has automation beyond the end of the timeline";
            return false;
        }
        for (const auto &clip : track->clips) {
            if (clip && !clipWithinTimeline(*clip)) {
                error = "clip " + std::to_string(clip->id) + " on track " +
                        std::to_string(track->id) +
                        " has a position or length beyond the end of the timeline";
                return false;
            }
        }
    }
    return true;
}

std::string uppercase(std::string text) {
    for (char &letter : text)
        letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    return text;
}

struct RenderSpan {
    int64_t start = 0;
    int64_t frames = 0;
};

std::optional<RenderSpan> resolveSpan(const RenderVerbOptions &options, const Project &project,
                                      std::string &error) {
    const int64_t songEnd = arrangementExportLength(project);
    RenderSpan span{options.start.value_or(0), 0};
    if (options.length) {
        span.frames = *options.length;
    } else if (span.start < songEnd) {
        span.frames = songEnd - span.start;
    } else {
        error = "--start " + std::to_string(span.start) +
                " lies beyond the end of the arrangement (" + std::to_string(songEnd) +
                " samples); give --length as well";
        return std::nullopt;
    }
    if (span.frames < 1) {
        error = "--length must be at least 1 sample";
        return std::nullopt;
    }
    const int64_t limit = largestExportFrames(options.format, options.channels);
    if (exportFramesOf(options.format, project.sampleRate, span.frames) > limit) {
        const ExportContainer container = options.format.container;
        const std::string file = container == ExportContainer::Wav
                                     ? std::to_string(options.format.bits) + "-bit WAV"
                                     : uppercase(std::string(exportContainerName(container)));
        error = "the render would be " + std::to_string(span.frames) + " frames long, more than " +
                (container == ExportContainer::Ogg ? "an " : "a ") + file + " file holds (" +
                std::to_string(limit) + " frames of " + std::to_string(options.channels) +
                " channels)";
        return std::nullopt;
    }
    if (span.start > std::numeric_limits<int64_t>::max() - span.frames) {
        error = "--start and --length run past the end of the timeline";
        return std::nullopt;
    }
    return span;
}

class ProgressBar {
  public:
    explicit ProgressBar(std::FILE *stream) : stream(stream) {}
    void show(int64_t done, int64_t total) {
        const int percent = static_cast<int>(done * 100 / std::max<int64_t>(total, 1));
        if (percent == shownPercent) return;
        shownPercent = percent;
        const int filled = percent * progressBarWidth / 100;
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.resize(progressBarWidth, '.');
        std::fprintf(stream, "\rrendering [%s] %3d%%", bar.c_str(), percent);
        std::fflush(stream);
    }
    void finish() {
        if (shownPercent >= 0) std::fputc('\n', stream);
    }

  private:
    std::FILE *stream;
    int shownPercent = -1;
};

bool checkTrack(const Project &project, uint64_t trackId, std::string &error) {
    if (trackId == 0 || project.findTrack(trackId)) return true;
    error = "no track with id " + std::to_string(trackId) + " in the project";
    return false;
}

int fail(std::FILE *errors, const std::string &error, int status) {
    printLine(errors, "Halvora render: " + error);
    return status;
}

std::string decibels(double level) {
    if (!(level > 0.0)) return "-inf";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", 20.0 * std::log10(level));
    return text;
}

std::string decibelFigure(double value) {
    if (!std::isfinite(value)) return "-inf";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string describeLoudness(const RenderSummary &summary) {
    if (!summary.loudness) return {};
    return ", integrated " + decibelFigure(summary.loudness->integratedLufs) + " LUFS, true peak " +
           decibelFigure(summary.loudness->truePeakDb) + " dBTP";
}

/// Normalisation that wanted more than it may give is the user's to know of: the file is
/// quieter than the target.
void warnAboutHeldBackGain(const RenderSummary &summary, std::FILE *errors) {
    if (!summary.normalizationHeldBackFromDb) return;
    char text[160];
    std::snprintf(text, sizeof text,
                  "Halvora render: warning: normalisation wanted %+.1f dB and was held to %+.0f "
                  "dB; the file is quieter than the target",
                  *summary.normalizationHeldBackFromDb, largestNormalizationGainDb);
    printLine(errors, text);
}

/// Loudness normalisation held back by its true-peak ceiling is the user's to know of too.
void warnAboutCeiling(const RenderSummary &summary, const Normalization &normalization,
                      std::FILE *errors) {
    if (!summary.loudness || !stoppedAtTruePeakCeiling(*summary.loudness, normalization)) return;
    printLine(errors, "Halvora render: warning: the true-peak ceiling of " +
                          decibelFigure(normalization.ceilingDb) + " dBTP held the loudness at " +
                          decibelFigure(summary.loudness->integratedLufs) + " LUFS (target " +
                          decibelFigure(normalization.target) + " LUFS)");
}

int renderStems(const RenderVerbOptions &options, const Project &project,
                const WavRenderRequest &request, std::FILE *output, std::FILE *errors) {
    std::string error;
    if (!prepareOutputFolder(options.stemsFolder, options.projectFolder, error))
        return fail(errors, error, 1);
    std::vector<StemFile> stems;
    const WavRenderResult result =
        renderProjectStems(project, options.stemsFolder, request, stems, error);
    if (result != WavRenderResult::Written) return fail(errors, error, 1);
    // Told once with the mix when there is one; its own gain is the same.
    if (!stems.empty() && options.outputPath.empty())
        warnAboutHeldBackGain(stems[0].summary, errors);
    if (!options.quiet)
        for (const StemFile &stem : stems)
            printLine(output, describeRenderSummary(stem.summary, stem.path));
    return 0;
}

} // namespace

bool reportChangedMedia(std::FILE *errors, const std::string &program) {
    const std::vector<MediaFailure> failures = takeMediaFailures();
    for (const MediaFailure &failure : failures)
        printLine(errors, program + ": warning: media file \"" + failure.path +
                              "\" changed: " + failure.reason);
    return !failures.empty();
}

bool parseRenderArguments(const std::vector<std::string> &arguments, RenderVerbOptions &options,
                          std::string &error) {
    options = {};
    const auto option = [&](std::size_t &index, std::string &fault) {
        return parseOption(arguments, index, options, fault);
    };
    if (!readProjectVerbArguments(arguments, options, option, error)) return false;
    if (options.help) return true;
    if (options.outputPath.empty() && options.stemsFolder.empty()) {
        error = "no output file: give -o OUT.wav (or --stems FOLDER)";
        return false;
    }
    ExportFormat &format = options.format;
    if (!options.bitsGiven) {
        format.bits = defaultExportBits(format.container);
    } else if (format.container == ExportContainer::Ogg ||
               format.container == ExportContainer::Mp3) {
        error = "--bits applies to wav and flac; " +
                std::string(exportContainerName(format.container)) + " takes --quality";
        return false;
    }
    if (options.qualityGiven && format.container != ExportContainer::Ogg &&
        format.container != ExportContainer::Mp3) {
        error = "--quality applies to ogg and mp3; " +
                std::string(exportContainerName(format.container)) + " takes --bits";
        return false;
    }
    if (format.container == ExportContainer::Flac && format.bits == 32) {
        error = "FLAC is written with 16 or 24 bits, not 32";
        return false;
    }
    if (format.container == ExportContainer::Mp3 && format.sampleRate > 48000.0) {
        error = "MP3 is written at 44100 or 48000 Hz, not " +
                std::to_string(static_cast<int>(format.sampleRate));
        return false;
    }
    return true;
}

std::string describeRenderSummary(const RenderSummary &summary, const std::string &outputPath) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f",
                  summary.sampleRate > 0.0 ? summary.frames / summary.sampleRate : 0.0);
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.0f", summary.sampleRate);
    return "rendered " + std::to_string(summary.frames) + " frames (" + seconds + " s at " + rate +
           " Hz, " + std::to_string(summary.channels) + " channel" +
           (summary.channels == 1 ? "" : "s") + ") to \"" + outputPath + "\": peak " +
           decibels(summary.peak) + " dBFS, loudness " + decibels(std::sqrt(summary.meanSquare)) +
           " dBFS RMS" + describeLoudness(summary);
}

int runRenderVerb(const std::vector<std::string> &arguments, std::FILE *output, std::FILE *errors) {
    RenderVerbOptions options;
    std::string error;
    if (!parseRenderArguments(arguments, options, error)) {
        printLine(errors, "Halvora render: " + error);
        return fail(errors, "see \"Halvora render --help\"", 2);
    }
    if (options.help) {
        std::fputs(renderVerbHelp(), output);
        return 0;
    }
    if (!options.outputPath.empty() &&
        !checkOutputTarget(options.outputPath, options.projectFolder, error))
        return fail(errors, error, 1);
    removeRenderTemporaryOnInterrupt();

    std::optional<Project> project =
        options.demo ? std::optional<Project>(buildStartupProject(demoSampleRate))
                     : loadProjectForRender(options.projectFolder, errors, error);
    if (!project) return fail(errors, error, 1);
    const double sampleRate = project->sampleRate;
    if (!checkSampleRate(sampleRate, error) || !checkTimelineRange(*project, error) ||
        !checkTrack(*project, options.trackId, error))
        return fail(errors, error, 1);
    const std::optional<RenderSpan> span = resolveSpan(options, *project, error);
    if (!span) return fail(errors, error, 1);
    if (!checkExportFormat(options.format, sampleRate, error)) return fail(errors, error, 1);

    WavRenderRequest request;
    request.outputPath = options.outputPath;
    request.start = span->start;
    request.frames = span->frames;
    request.trackId = options.trackId;
    request.channels = options.channels;
    request.program = "Halvora render";
    request.warnings = errors;
    request.format = options.format;
    request.normalization = options.normalization;
    request.measureLoudness = !options.quiet;
    request.projectFolder = options.projectFolder;
    ProgressBar bar(errors);
    if (!options.quiet && ::isatty(::fileno(errors)) == 1)
        request.progress = [&bar](int64_t done, int64_t total) { bar.show(done, total); };
    if (!options.stemsFolder.empty()) {
        const int status = renderStems(options, *project, request, output, errors);
        bar.finish();
        if (status != 0 || options.outputPath.empty())
            return reportChangedMedia(errors, "Halvora render") && status == 0 ? 3 : status;
    }
    RenderSummary summary;
    const WavRenderResult result = renderProjectToWav(std::move(*project), request, summary, error);
    bar.finish();
    const bool mediaChanged = reportChangedMedia(errors, "Halvora render");
    for (const std::string &track : summary.silencedTracks)
        printLine(errors, "Halvora render: warning: track \"" + track +
                              "\" gave non-finite values and was silenced");
    // The rest of the song is written; the status says it is not what the project sounds like.
    for (const std::string &failure : summary.failedInserts) {
        printLine(errors, "Halvora render: " + failure);
        betaSessionLog("error", "plugins", "render: " + failure);
    }
    if (result != WavRenderResult::Written) return fail(errors, error, 1);
    warnAboutHeldBackGain(summary, errors);
    warnAboutCeiling(summary, request.normalization, errors);
    if (!options.quiet) printLine(output, describeRenderSummary(summary, options.outputPath));
    return mediaChanged || !summary.failedInserts.empty() ? 3 : 0;
}

const char *renderVerbHelp() {
    return R"(usage: Halvora render PROJECT.halvora -o OUT.wav [options]
       Halvora render --demo -o OUT.wav [options]

Renders the arrangement of a project folder offline into an audio file (16-bit WAV at
the project's sample rate unless asked otherwise): the same mixdown an export gives,
without the metronome and without wrapping at the cycle end.

  PROJECT.halvora    a project folder holding "project.json" and its "media" folder;
                     media files in any encoding libsndfile reads are converted to
                     the project's sample rate; media files that are missing or
                     unreadable are listed as warnings and render as silence
  --demo             render the built-in start-up project instead (no input files)
  -o, --output OUT   the WAV file to write (replaced only once the render succeeded;
                     never a device, a pipe or a file inside the project folder)
  --start SAMPLES    first sample to render (default 0)
  --length SAMPLES   number of frames to render (default: from --start to the end of
                     the song: its last clip or four bars, whichever is later, plus one
                     beat)
  --track TRACK_ID   render that track alone, as if it were the only one soloed
  --channels 1|2     stereo (default) or the left side only
  --format FORMAT    wav (default), flac, ogg (Vorbis) or mp3
  --bits 16|24|32    WAV: 16 (default), 24 or 32-bit float; FLAC: 16 (default) or 24
  --rate HZ          44100, 48000, 88200 or 96000 (or 44.1, 48, 88.2, 96): converted at
                     the best quality; default the project's rate (MP3: 44100 or 48000)
  --dither on|off    TPDF dither when rounding to 16 or 24 bits (default on)
  --quality Q        Ogg and MP3: 0 smallest file to 1 best sound (default 0.7)
  --normalize MODE   off (default); peak:DB to a sample peak in dBFS; truepeak:DB to a
                     true peak in dBTP; lufs:LUFS[:CEILING] to an integrated loudness
                     (EBU R128) whose true peak stays at or below CEILING (default -1)
  --stems FOLDER     also (or, without -o, only) write one file per track and per
                     return into FOLDER (created when missing), named after the
                     tracks, each as long as the whole render; a return's stem is
                     what it adds to the mix; they are normalised by the gain of the
                     whole mix
  --quiet            no progress bar and no summary line
  -h, --help         this text

A progress bar is drawn on standard error when it is a terminal. On success one
summary line per file goes to standard output: frames, duration, peak, loudness, and
the integrated loudness and true peak measured on what was written.
Exit status: 0 rendered, 1 the project or output cannot be used, 2 bad arguments,
3 rendered, but a media file was cut short, replaced or deleted meanwhile: each such
file is named once on standard error, and whatever of it could not be read is silent.
)";
}

std::optional<Project> loadProjectForVerb(const std::string &folder, std::FILE *errors,
                                          std::string &error) {
    std::optional<Project> project = loadProjectForRender(folder, errors, error);
    if (!project || !checkSampleRate(project->sampleRate, error) ||
        !checkTimelineRange(*project, error))
        return std::nullopt;
    return project;
}

} // namespace orvane
