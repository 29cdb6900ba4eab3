#include "app/cli/PlayVerb.h"

#include "app/cli/RenderVerb.h"
#include "app/cli/VerbArguments.h"
#include "app/shell/DocumentOperations.h"
#include "app/shell/LiveTick.h"
#include "core/engine/Engine.h"
#include "core/engine/MediaPrefetch.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "device/AudioDeviceEngine.h"
#include "device/DeviceSettings.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <limits>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace orvane {

namespace {

constexpr double demoSampleRate = 48000.0;
/// The display and the main-thread chores run at the user interface's pace.
constexpr auto tickInterval = std::chrono::milliseconds(33);
const std::string commandPrefix = "Halvora play: ";

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

/// Ctrl-C and a polite kill end playback at the next tick instead of killing the process
/// under the audio server's feet; the previous handlers come back afterwards.
class StopSignals {
  public:
    StopSignals() {
        stopRequested = 0;
        struct sigaction action {};
        action.sa_handler = requestStop;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &previousInterrupt);
        ::sigaction(SIGTERM, &action, &previousTerminate);
    }
    ~StopSignals() {
        ::sigaction(SIGINT, &previousInterrupt, nullptr);
        ::sigaction(SIGTERM, &previousTerminate, nullptr);
    }
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

  private:
    struct sigaction previousInterrupt {};
    struct sigaction previousTerminate {};
};

bool parseValueOption(const std::string &option, const std::string &text, PlayVerbOptions &options,
                      std::string &error) {
    if (option == "--device") {
        options.device = text;
    } else if (option == "--buffer") {
        int32_t frames = 0;
        if (!parseNumber(text, frames) || frames < smallestBufferFrames ||
            frames > largestBufferFrames) {
            error = "--buffer takes a number of frames from 64 to 4096, not \"" + text + "\"";
            return false;
        }
        options.bufferFrames = frames;
    } else if (option == "--start") {
        if (!parseNumber(text, options.start) || options.start < 0) {
            error = "--start takes a whole number of samples, not \"" + text + "\"";
            return false;
        }
    } else {
        double seconds = 0.0;
        if (!parseNumber(text, seconds) || !std::isfinite(seconds) || seconds <= 0.0 ||
            seconds > 86400.0 * 365) {
            error = "--seconds takes a positive number of seconds, not \"" + text + "\"";
            return false;
        }
        options.seconds = seconds;
    }
    return true;
}

bool parseOption(const std::vector<std::string> &arguments, std::size_t &index,
                 PlayVerbOptions &options, std::string &error) {
    const std::string &option = arguments[index];
    if (option == "--demo") {
        options.demo = true;
    } else if (option == "--no-connect") {
        options.connect = false;
    } else if (option == "--help" || option == "-h") {
        options.help = true;
    } else if (option == "--follow-clock-tempo") {
        options.sync.followClockTempo = true;
    } else if (isSyncValueOption(option)) {
        if (!needsValue(arguments, index, error)) return false;
        return parseSyncValueOption(option, arguments[++index], options.sync, error);
    } else if (option == "--device" || option == "--buffer" || option == "--start" ||
               option == "--seconds") {
        if (!needsValue(arguments, index, error)) return false;
        return parseValueOption(option, arguments[++index], options, error);
    } else {
        error = "unknown option \"" + option + "\"";
        return false;
    }
    return true;
}

void printLine(std::FILE *stream, const std::string &text) {
    std::fputs(text.c_str(), stream);
    std::fputc('\n', stream);
}

int fail(std::FILE *errors, const std::string &error, int status) {
    printLine(errors, commandPrefix + error);
    return status;
}

std::string percent(double load) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", load * 100.0);
    return text;
}

std::string clockTime(int64_t frames, double sampleRate) {
    const double seconds = sampleRate > 0.0 ? static_cast<double>(frames) / sampleRate : 0.0;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%06.3f", static_cast<int>(seconds / 60.0),
                  std::fmod(seconds, 60.0));
    return text;
}

std::vector<std::string> namesOf(const std::vector<AudioDeviceDesc> &devices) {
    std::vector<std::string> names;
    for (const auto &device : devices)
        if (device.hasOutput) names.push_back(device.name);
    return names;
}

std::string joinNames(const std::vector<std::string> &names) {
    std::string text;
    for (const auto &name : names)
        text += (text.empty() ? "\"" : ", \"") + name + "\"";
    return text;
}

/// The output device: the option, else the remembered choice while it still exists, else
/// the first one that answers (JACK, then ALSA, then the null device).
bool chooseDevice(const PlayVerbOptions &options, const DeviceSettings &settings,
                  const std::vector<std::string> &names, std::string &device, std::string &error) {
    if (!options.device.empty()) {
        device = resolveDeviceChoice(options.device, names);
        if (!device.empty()) return true;
        if (options.device == "jack")
            error = "JACK is unavailable: no JACK server answers (is one running?)";
        else if (options.device == "alsa")
            error = "no ALSA playback device found";
        else
            error = "unknown device \"" + options.device + "\": use jack, alsa, null or one of " +
                    joinNames(names);
        return false;
    }
    if (!settings.outputDevice.empty() &&
        std::find(names.begin(), names.end(), settings.outputDevice) != names.end()) {
        device = settings.outputDevice;
        return true;
    }
    device = names.empty() ? nullDeviceName : names.front();
    return true;
}

struct Playback {
    int64_t start = 0;
    int64_t end = 0;
};

std::optional<Playback> resolvePlayback(const PlayVerbOptions &options, const Project &project,
                                        double deviceRate, std::string &error) {
    Playback span{options.start, 0};
    if (options.seconds) {
        const double frames = std::max(std::round(*options.seconds * deviceRate), 1.0);
        // The end must be a position too: near the largest one it would wrap around.
        if (frames >= static_cast<double>(std::numeric_limits<int64_t>::max() - span.start)) {
            error = "--start " + std::to_string(span.start) + " leaves no room to play --seconds " +
                    std::to_string(*options.seconds);
            return std::nullopt;
        }
        span.end = span.start + static_cast<int64_t>(frames);
        return span;
    }
    const int64_t songEnd = arrangementExportLength(project);
    if (span.start >= songEnd) {
        error = "--start " + std::to_string(span.start) +
                " lies beyond the end of the arrangement (" + std::to_string(songEnd) +
                " samples); give --seconds as well";
        return std::nullopt;
    }
    span.end = songEnd;
    return span;
}

class StatusLine {
  public:
    StatusLine(std::FILE *stream, bool shown) : stream(stream), shown(shown) {}
    void show(int64_t position, const Playback &span, double rate, const DspLoadMeter &meter,
              uint64_t xruns) {
        // The load of the blocks since the last display, so that a spike shows when it happens.
        const uint64_t blocks = meter.blocks();
        const double sum = meter.loadSum();
        const double recent = blocks > shownBlocks ? (sum - shownSum) / (blocks - shownBlocks) : 0;
        shownBlocks = blocks;
        shownSum = sum;
        if (!shown) return;
        std::fprintf(stream, "\rplaying %s / %s   DSP %s   xruns %llu   ",
                     clockTime(std::min(position, span.end) - span.start, rate).c_str(),
                     clockTime(span.end - span.start, rate).c_str(), percent(recent).c_str(),
                     static_cast<unsigned long long>(xruns));
        std::fflush(stream);
    }
    void finish() {
        if (shown) std::fputc('\n', stream);
    }

  private:
    std::FILE *stream;
    bool shown;
    uint64_t shownBlocks = 0;
    double shownSum = 0.0;
};

enum class PlayEnd { Finished, Interrupted, DeviceLost };

PlayEnd playUntilDone(Engine &engine, AudioDeviceEngine &device, vst::PluginRack &rack,
                      const Playback &span, std::FILE *errors) {
    LiveTick tick(engine, device, &rack);
    StatusLine status(errors, ::isatty(::fileno(errors)) == 1);
    PlayEnd end = PlayEnd::Finished;
    while (true) {
        tick.run();
        const int64_t position = engine.transport.playhead.load();
        status.show(position, span, device.sampleRate, device.dspLoadMeter(), device.xrunCount());
        if (device.deviceWasLost()) {
            end = PlayEnd::DeviceLost;
            break;
        }
        if (stopRequested) {
            end = PlayEnd::Interrupted;
            break;
        }
        if (position >= span.end) break;
        std::this_thread::sleep_for(tickInterval);
    }
    status.finish();
    return end;
}

/// The application's shutdown order: no more blocks, then no more hooks into the rack, then
/// nothing left that refers to a plug-in, before the rack (and after it the engine) goes.
void tearDown(Engine &engine, AudioDeviceEngine &device, vst::PluginRack &rack) {
    device.stop();
    engine.setRenderHooks({}, {});
    engine.setDeviceFormatHook({});
    engine.collectRetiredGraphs();
    rack.collectRetiredViews();
}

} // namespace

bool parsePlayArguments(const std::vector<std::string> &arguments, PlayVerbOptions &options,
                        std::string &error) {
    options = {};
    const auto option = [&](std::size_t &index, std::string &fault) {
        return parseOption(arguments, index, options, fault);
    };
    return readProjectVerbArguments(arguments, options, option, error);
}

std::string resolveDeviceChoice(const std::string &choice,
                                const std::vector<std::string> &deviceNames) {
    const auto has = [&](const std::string &name) {
        return std::find(deviceNames.begin(), deviceNames.end(), name) != deviceNames.end();
    };
    if (choice == "jack") return has(jackDeviceName) ? jackDeviceName : "";
    if (choice == "null") return has(nullDeviceName) ? nullDeviceName : "";
    if (choice == "alsa") {
        for (const auto &name : deviceNames)
            if (backendKindOf(name) == AudioBackendKind::RtAudio) return name;
        return "";
    }
    return has(choice) ? choice : "";
}

std::string describePlaySummary(const PlaySummary &summary) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f",
                  summary.sampleRate > 0.0 ? summary.playedFrames / summary.sampleRate : 0.0);
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.0f", summary.sampleRate);
    return std::string(summary.interrupted ? "stopped after " : "played ") + seconds + " s on \"" +
           summary.device + "\" (" + rate + " Hz, " + std::to_string(summary.bufferFrames) +
           " frames): " + std::to_string(summary.blocks) + " blocks, " +
           std::to_string(summary.xruns) + " xruns, DSP load mean " + percent(summary.meanLoad) +
           ", worst " + percent(summary.worstLoad);
}

int runPlayVerb(const std::vector<std::string> &arguments, std::FILE *output, std::FILE *errors) {
    PlayVerbOptions options;
    std::string error;
    if (!parsePlayArguments(arguments, options, error)) {
        printLine(errors, commandPrefix + error);
        return fail(errors, "see \"Halvora play --help\"", 2);
    }
    if (options.help) {
        std::fputs(playVerbHelp(), output);
        return 0;
    }
    std::optional<Project> project =
        options.demo ? std::optional<Project>(buildStartupProject(demoSampleRate))
                     : loadProjectForVerb(options.projectFolder, errors, error);
    if (!project) return fail(errors, error, 1);

    std::string warnings;
    const DeviceSettings settings = loadDeviceSettings(deviceSettingsPath(), &warnings);
    if (!warnings.empty()) printLine(errors, commandPrefix + "warning: " + warnings);
    const int32_t bufferFrames = options.bufferFrames.value_or(settings.bufferSize);
    const double projectRate = project->sampleRate;

    Engine engine;
    // The sandbox outlives the rack, whose plug-ins may run inside it.
    vst::PluginSandboxController sandbox;
    sandbox.enabled = vst::sandboxEnabledFromEnvironment();
    vst::PluginRack rack(vst::pluginRackHostFor(engine), vst::pluginRackSandboxFor(sandbox));
    engine.replaceProject(std::move(*project));
    {
        std::lock_guard lock(engine.projectMutex);
        HVEnsureReturnTracks(engine.project);
        engine.publishGraph();
    }

    AudioDeviceEngine device(engine);
    MediaPrefetcher mediaPrefetcher(engine);
    device.connectPorts = options.connect;
    const TransportSyncSettings sync = options.sync.over(settings.sync);
    device.setTransportSync(sync);
    std::string deviceName;
    if (!chooseDevice(options, settings, namesOf(device.listDevices()), deviceName, error))
        return fail(errors, error, 1);
    if (!device.applySettings(device.deviceIdByName(deviceName), 0, bufferFrames))
        return fail(errors, "cannot open \"" + deviceName + "\": " + device.lastError, 1);
    if (device.sampleRate != projectRate)
        printLine(errors, commandPrefix + "warning: the project's rate is " +
                              std::to_string(static_cast<int64_t>(projectRate)) +
                              " Hz and the device runs at " +
                              std::to_string(static_cast<int64_t>(device.sampleRate)) +
                              " Hz; positions are played at the device's rate");
    std::optional<Playback> span;
    {
        std::lock_guard lock(engine.projectMutex);
        span = resolvePlayback(options, engine.project, device.sampleRate, error);
    }
    if (!span) return fail(errors, error, 1);

    // Plug-ins are prepared for the device's period, which is also the block a sandboxed insert
    // runs behind: prepared for more, it would lag that much more. The engine never hands them
    // a longer block (a longer period is rendered in pieces until the format hook prepares
    // them again).
    std::string rackWarnings;
    if (!vst::restoreRackForRender(rack, device.sampleRate, device.bufferFrames, &rackWarnings))
        printLine(errors, commandPrefix + "warning: " + rackWarnings);
    vst::installPluginRackHooks(engine, rack);

    mediaPrefetcher.readAhead(span->start);
    // A followed transport starts playback where it stands; Halvora only waits for it.
    const bool waits = transportFollowsOthers(sync);
    if (waits)
        printLine(errors, commandPrefix + "waiting for the " +
                              (sync.jackTransport == JackTransportMode::follow ? "JACK transport"
                                                                               : "MIDI clock") +
                              " to start");
    if (!waits && (!engine.pushRequest(RequestProducer::MainThread, Request::locate(span->start)) ||
                   !engine.pushRequest(RequestProducer::MainThread, Request::play()))) {
        tearDown(engine, device, rack);
        return fail(errors, "the engine's request queue is full", 1);
    }
    lockMemoryIfAllowed();
    StopSignals signals;
    if (!device.start()) {
        tearDown(engine, device, rack);
        return fail(errors, "cannot start \"" + deviceName + "\": " + device.lastError, 1);
    }
    const PlayEnd end = playUntilDone(engine, device, rack, *span, errors);

    PlaySummary summary;
    summary.device = deviceName;
    summary.sampleRate = device.sampleRate;
    summary.bufferFrames = device.bufferFrames;
    summary.playedFrames = std::max<int64_t>(engine.transport.playhead.load() - span->start, 0);
    const DspLoadSummary load = device.dspLoad();
    summary.blocks = load.blocks;
    summary.meanLoad = load.mean;
    summary.worstLoad = load.worst;
    summary.xruns = device.xrunCount();
    summary.interrupted = end == PlayEnd::Interrupted;
    const std::string reason = device.lostReason();
    tearDown(engine, device, rack);
    printLine(output, describePlaySummary(summary));
    if (const uint64_t dry = mediaPrefetcher.dryBlocks(); dry > 0)
        printLine(errors, commandPrefix + "warning: " + std::to_string(dry) +
                              " blocks played a clip silent: its media were not read in time");
    const bool mediaChanged = reportChangedMedia(errors, "Halvora play");
    if (end == PlayEnd::DeviceLost)
        return fail(errors, "the audio server stopped during playback (" + reason + ")", 1);
    return mediaChanged ? 3 : 0;
}

const char *playVerbHelp() {
    return R"(usage: Halvora play PROJECT.halvora [options]
       Halvora play --demo [options]

Plays the arrangement of a project folder in real time through the sound server, the
way the application plays it (without the metronome).

  PROJECT.halvora    a project folder holding "project.json" and its "media" folder
  --demo             play the built-in start-up project instead
  --device DEVICE    jack, alsa, null, or the exact name of a device (default: the
                     device remembered in the settings, else JACK when a server
                     answers, else the first ALSA device, else the null device)
  --buffer FRAMES    period to ask the device for, 64 to 4096 (a JACK server keeps its
                     own; default: the remembered size, 512)
  --start SAMPLES    first sample to play (default 0)
  --seconds S        how long to play (default: to the end of the song)
  --no-connect       leave Halvora's JACK ports unconnected
  --jack-transport lead|follow|off
                     keep time with the JACK transport: lead it (Halvora is the
                     timebase master), follow it (playback starts, stops and moves
                     when another program moves it) or neither (default: the setting)
  --midi-clock out|in|off
                     send MIDI clock, start, stop and song position from
                     Halvora:clock_out, or follow those arriving at Halvora:clock_in
  --follow-clock-tempo
                     with --midi-clock in, take the tempo of the arriving clock
  -h, --help         this text

While playing, the position, the DSP load and the xrun count are shown on standard
error when it is a terminal; Ctrl-C stops. One summary line goes to standard output:
blocks, xruns, mean and worst DSP load.
Exit status: 0 played (or stopped with Ctrl-C), 1 the project or device cannot be used
or the device went away, 2 bad arguments, 3 played, but a media file was cut short,
replaced or deleted meanwhile (each named once on standard error; what could not be read
played silent).
)";
}

} // namespace orvane
