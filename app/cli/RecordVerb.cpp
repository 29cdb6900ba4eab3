#include "app/cli/RecordVerb.h"

#include "app/cli/PlayVerb.h"
#include "app/cli/RenderVerb.h"
#include "app/cli/VerbArguments.h"
#include "app/shell/LiveTick.h"
#include "core/engine/MediaPrefetch.h"
#include "core/plugins/PluginRack.h"
#include "core/project_io/ProjectFolder.h"
#include "device/AudioDeviceEngine.h"
#include "device/DeviceSettings.h"
#include "device/OfflineRender.h"
#include "device/Recording.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

namespace orvane {

namespace {

/// The largest period a device is asked for; a cycle must hold at least one.
constexpr int64_t largestRecordPeriod = 4096;

} // namespace

namespace {

const std::string commandPrefix = "Halvora record: ";
constexpr auto tickInterval = std::chrono::milliseconds(20);
/// How long the device may take to carry out the first requests before we give up on it.
constexpr auto deviceStartTimeout = std::chrono::seconds(10);

void printLine(std::FILE *stream, const std::string &text) {
    std::fputs(text.c_str(), stream);
    std::fputc('\n', stream);
}

int fail(std::FILE *errors, const std::string &error, int status) {
    printLine(errors, commandPrefix + error);
    return status;
}

bool parseValueOption(const std::string &option, const std::string &text,
                      RecordVerbOptions &options, std::string &error) {
    if (option == "--track") {
        uint64_t trackId = 0;
        if (parseNumber(text, trackId) && trackId != 0) {
            options.trackIds.push_back(trackId);
            return true;
        }
        error = "--track takes a track id (a whole number above 0), not \"" + text + "\"";
    } else if (option == "--seconds") {
        if (parseNumber(text, options.seconds) && std::isfinite(options.seconds) &&
            options.seconds > 0.0 && options.seconds <= 86400.0)
            return true;
        error = "--seconds takes a positive number of seconds up to a day, not \"" + text + "\"";
    } else if (option == "--punch" || option == "--cycle") {
        auto &range = option == "--punch" ? options.punch : options.cycle;
        range = parseSampleRange(text);
        if (range) return true;
        error = option + " takes START:END in samples with START below END, not \"" + text + "\"";
    } else if (option == "--device") {
        options.device = text;
        return true;
    } else if (option == "--buffer") {
        int32_t frames = 0;
        if (parseNumber(text, frames) && frames >= smallestBufferFrames &&
            frames <= largestBufferFrames) {
            options.bufferFrames = frames;
            return true;
        }
        error = "--buffer takes a number of frames from 64 to 4096, not \"" + text + "\"";
    } else {
        if (parseNumber(text, options.start) && options.start >= 0) return true;
        error = "--start takes a whole number of samples, not \"" + text + "\"";
    }
    return false;
}

bool parseOption(const std::vector<std::string> &arguments, std::size_t &index,
                 RecordVerbOptions &options, std::string &error) {
    const std::string &option = arguments[index];
    if (option == "--no-connect") {
        options.connect = false;
    } else if (option == "--help" || option == "-h") {
        options.help = true;
    } else if (option == "--follow-clock-tempo") {
        options.sync.followClockTempo = true;
    } else if (isSyncValueOption(option)) {
        if (!needsValue(arguments, index, error)) return false;
        return parseSyncValueOption(option, arguments[++index], options.sync, error);
    } else if (option == "--demo") {
        options.demo = true;
    } else if (option == "--track" || option == "--seconds" || option == "--punch" ||
               option == "--cycle" || option == "--device" || option == "--buffer" ||
               option == "--start") {
        if (!needsValue(arguments, index, error)) return false;
        return parseValueOption(option, arguments[++index], options, error);
    } else {
        error = "unknown option \"" + option + "\"";
        return false;
    }
    return true;
}

/// Everything one recording run holds, torn down in the application's order: no more
/// blocks, then no more hooks into the rack.
struct LiveRecording {
    PreparedEngine prepared;
    /// Reads the project's media from disk ahead of what plays.
    std::unique_ptr<MediaPrefetcher> media;
    std::unique_ptr<AudioDeviceEngine> device;

    ~LiveRecording() {
        if (device) device->stop();
        prepared.engine.setRenderHooks({}, {});
        prepared.engine.setDeviceFormatHook({});
        prepared.engine.collectRetiredGraphs();
        if (prepared.rack) prepared.rack->collectRetiredViews();
    }
};

/// The tracks of one run: audio tracks in input-pair order, and the MIDI track (0 = none).
struct RecordingTracks {
    std::vector<uint64_t> audio;
    uint64_t midi = 0;
};

bool openDevice(LiveRecording &live, const RecordVerbOptions &options, int32_t inputPairs,
                std::string &error) {
    std::string warnings;
    const DeviceSettings settings = loadDeviceSettings(deviceSettingsPath(), &warnings);
    live.device = std::make_unique<AudioDeviceEngine>(live.prepared.engine);
    AudioDeviceEngine &device = *live.device;
    device.connectPorts = options.connect;
    device.setTransportSync(options.sync.over(settings.sync));
    device.inputPairs = std::max(inputPairs, 1);
    std::vector<std::string> names;
    for (const auto &entry : device.listDevices())
        if (entry.hasInput && entry.hasOutput) names.push_back(entry.name);
    const std::string wanted = options.device.empty() ? "jack" : options.device;
    const std::string name = resolveDeviceChoice(wanted, names);
    if (name.empty()) {
        error = "no device \"" + wanted + "\" that can capture input is available";
        return false;
    }
    const uint32_t id = device.deviceIdByName(name);
    if (!device.applySettings(id, id, options.bufferFrames.value_or(settings.bufferSize))) {
        error = "cannot open \"" + name + "\": " + device.lastError;
        return false;
    }
    if (device.capturedInputPairs() < inputPairs) {
        error = "\"" + name + "\" captures " + std::to_string(device.capturedInputPairs()) +
                " stereo input pairs, not the " + std::to_string(inputPairs) +
                " the audio tracks need";
        return false;
    }
    // Prepared for the device's period, as `Halvora play` prepares them: a sandboxed insert
    // runs one such block behind. A later change of format prepares them again through the
    // engine's format hook.
    live.prepared.rack->prepare(device.sampleRate, device.bufferFrames);
    // A take must not wait on a page that was swapped out.
    lockMemoryIfAllowed();
    return true;
}

/// Waits until the device's audio thread has carried out the queued requests, so that the
/// take begins from the position asked for.
bool waitUntilRolling(Engine &engine, AudioDeviceEngine &device, LiveTick &tick) {
    const auto giveUp = std::chrono::steady_clock::now() + deviceStartTimeout;
    while (!engine.transport.playing.load()) {
        if (device.deviceWasLost() || std::chrono::steady_clock::now() > giveUp) return false;
        tick.run();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct TakeResult {
    std::vector<RecordingOutcome> outcomes; // audio tracks first, then the MIDI track
    uint64_t overflowFrames = 0;
    std::string lostDevice; // why the take ended early, empty when it ran its length
};

/// Records for the requested length on the running device and places the takes.
std::optional<TakeResult> recordTake(LiveRecording &live, const RecordVerbOptions &options,
                                     const RecordingTracks &tracks, std::string &error) {
    Engine &engine = live.prepared.engine;
    AudioDeviceEngine &device = *live.device;
    LiveTick tick(engine, device, live.prepared.rack.get());
    if (!waitUntilRolling(engine, device, tick)) {
        error = "the device did not start playing";
        return std::nullopt;
    }
    const int64_t midiStart = engine.transport.playhead.load();
    if (tracks.midi != 0 && !engine.beginMidiRecording(midiStart)) {
        error = "the engine's request queue is full";
        return std::nullopt;
    }
    std::vector<InputRecordingTarget> targets;
    for (std::size_t pair = 0; pair < tracks.audio.size(); ++pair)
        targets.push_back({static_cast<int32_t>(pair), RecordingDestination{tracks.audio[pair]}});
    // Written beside the project as they are recorded: a run killed mid-take leaves them to
    // be placed the next time the project opens.
    device.keepTakesOnDisk(options.projectFolder, targets);
    if (!tracks.audio.empty() && !device.beginRecording()) {
        error = device.lastError;
        return std::nullopt;
    }
    const auto length = static_cast<uint64_t>(std::llround(options.seconds * device.sampleRate));
    const uint64_t end = device.renderedFrames() + length;
    while (device.renderedFrames() < end && !device.deviceWasLost()) {
        tick.run();
        std::this_thread::sleep_for(tickInterval);
    }
    TakeResult result;
    // What was captured before the server went away is kept and saved all the same.
    if (device.deviceWasLost())
        result.lostDevice = "the audio server stopped during the recording (" +
                            device.lostReason() + "); what was recorded until then is kept";
    if (!tracks.audio.empty()) {
        result.outcomes = device.finishRecordingInputsIntoProject(engine, targets);
        result.overflowFrames = device.lastRecordingOverflowFrames;
    }
    if (tracks.midi != 0) {
        auto notes = engine.endMidiRecording(engine.transport.playhead.load());
        alignRecordedNotes(notes, device.midiInputLatencyFrames());
        const auto passes =
            placeCyclePassNotes(engine, tracks.midi, notes, midiStart, engine.midiTakeFrames());
        result.outcomes.push_back(passes ? *passes
                                         : placeRecordedNotes(engine, tracks.midi, std::move(notes),
                                                              midiStart,
                                                              static_cast<int64_t>(length)));
    }
    (void)engine.pushRequest(RequestProducer::MainThread, Request::pause());
    return result;
}

/// Sorts the requested tracks into audio tracks (in order) and the one MIDI track; each must
/// exist once, and the device's input pairs must go round.
std::optional<RecordingTracks> sortRecordingTracks(const Project &project,
                                                   const std::vector<uint64_t> &trackIds,
                                                   std::string &error) {
    RecordingTracks tracks;
    for (std::size_t index = 0; index < trackIds.size(); ++index) {
        const uint64_t trackId = trackIds[index];
        const std::string name = "track " + std::to_string(trackId);
        const auto track = project.findTrack(trackId);
        if (!track) {
            error = "the project has no " + name;
            return std::nullopt;
        }
        if (std::find(trackIds.begin(), trackIds.begin() + static_cast<std::ptrdiff_t>(index),
                      trackId) != trackIds.begin() + static_cast<std::ptrdiff_t>(index)) {
            error = name + " is named twice";
            return std::nullopt;
        }
        if (track->type == TrackType::Audio) {
            tracks.audio.push_back(trackId);
        } else if (track->type == TrackType::Midi && tracks.midi == 0) {
            tracks.midi = trackId;
        } else {
            error = track->type == TrackType::Midi ? "only one MIDI track can record at a time"
                                                   : name + " is not an audio or MIDI track";
            return std::nullopt;
        }
    }
    if (tracks.audio.size() > static_cast<std::size_t>(maxInputPairs)) {
        error = "at most " + std::to_string(maxInputPairs) +
                " audio tracks can record at once, one per stereo input pair";
        return std::nullopt;
    }
    return tracks;
}

std::string describeTakes(const TakeResult &take, const RecordingTracks &tracks, double rate) {
    std::string text;
    for (const RecordingOutcome &outcome : take.outcomes) {
        if (outcome.clipId == 0) continue;
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f",
                      rate > 0.0 ? static_cast<double>(outcome.frames) / rate : 0.0);
        const bool notes = outcome.trackId == tracks.midi;
        text += std::string("recorded ") + (notes ? "notes for " : "") + seconds +
                " s into track " + std::to_string(outcome.trackId) + ", clip " +
                std::to_string(outcome.clipId) + "; ";
    }
    return text + std::to_string(take.overflowFrames) + " frames lost in the hand-off";
}

} // namespace

std::optional<SampleRange> parseSampleRange(const std::string &text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    SampleRange range;
    if (!parseNumber(text.substr(0, colon), range.start) ||
        !parseNumber(text.substr(colon + 1), range.end) || range.start < 0 ||
        range.end <= range.start)
        return std::nullopt;
    return range;
}

bool parseRecordArguments(const std::vector<std::string> &arguments, RecordVerbOptions &options,
                          std::string &error) {
    options = {};
    const auto option = [&](std::size_t &index, std::string &fault) {
        return parseOption(arguments, index, options, fault);
    };
    if (!readProjectVerbArguments(arguments, options, option, error)) return false;
    if (options.help) return true;
    if (options.demo) {
        error = "a recording needs a project folder to save into, not --demo";
        return false;
    }
    if (options.trackIds.empty() || options.seconds <= 0.0) {
        error = options.trackIds.empty() ? "--track is required" : "--seconds is required";
        return false;
    }
    // Every pass of the cycle becomes a take of its own: a cycle shorter than a block would
    // write a media file for every block recorded.
    const int64_t shortestCycle = options.bufferFrames.value_or(largestRecordPeriod);
    if (options.cycle && options.cycle->end - options.cycle->start < shortestCycle) {
        error = "--cycle must span at least " + std::to_string(shortestCycle) +
                " samples (one block), not " +
                std::to_string(options.cycle->end - options.cycle->start);
        return false;
    }
    return true;
}

int runRecordVerb(const std::vector<std::string> &arguments, std::FILE *output, std::FILE *errors) {
    RecordVerbOptions options;
    std::string error;
    if (!parseRecordArguments(arguments, options, error)) {
        printLine(errors, commandPrefix + error);
        return fail(errors, "see \"Halvora record --help\"", 2);
    }
    if (options.help) {
        std::fputs(recordVerbHelp(), output);
        return 0;
    }
    std::optional<Project> project = loadProjectForVerb(options.projectFolder, errors, error);
    if (!project) return fail(errors, error, 1);
    const auto tracks = sortRecordingTracks(*project, options.trackIds, error);
    if (!tracks) return fail(errors, error, 1);
    if (const auto waiting = interruptedTakeJournals(options.projectFolder); !waiting.empty())
        printLine(errors, commandPrefix + "note: " + std::to_string(waiting.size()) +
                              " recording(s) of this project were cut short; open the project "
                              "(in the window, or with --headless) to recover their takes");
    if (options.punch) {
        project->punchEnabled = true;
        project->punchIn = options.punch->start;
        project->punchOut = options.punch->end;
    }

    LiveRecording live;
    prepareEngineForRender(live.prepared, std::move(*project), offlineRenderMaxBlock,
                           "Halvora record", errors);
    Engine &engine = live.prepared.engine;
    live.media = std::make_unique<MediaPrefetcher>(engine);
    if (!openDevice(live, options, static_cast<int32_t>(tracks->audio.size()), error))
        return fail(errors, error, 1);
    live.media->readAhead(options.start);
    const Request cycle = options.cycle
                              ? Request::setCycle(options.cycle->start, options.cycle->end, true)
                              : Request::setCycle(0, 0, false);
    // A followed transport starts the take where it stands; Halvora only waits for it.
    const bool waits = transportFollowsOthers(live.device->transportSync());
    if (!engine.pushRequest(RequestProducer::MainThread, cycle) ||
        (!waits &&
         (!engine.pushRequest(RequestProducer::MainThread, Request::locate(options.start)) ||
          !engine.pushRequest(RequestProducer::MainThread, Request::play()))))
        return fail(errors, "the engine's request queue is full", 1);
    if (!live.device->start())
        return fail(errors, "cannot start the device: " + live.device->lastError, 1);

    const auto take = recordTake(live, options, *tracks, error);
    const double rate = live.device->sampleRate;
    live.device->stop();
    if (!take) return fail(errors, error, 1);
    if (take->overflowFrames > 0)
        printLine(errors, commandPrefix + "warning: " + std::to_string(take->overflowFrames) +
                              " input frames were lost: the main thread fell behind");
    const int status = take->lostDevice.empty() ? 0 : 1;
    if (!take->lostDevice.empty()) printLine(errors, commandPrefix + take->lostDevice);
    if (std::none_of(take->outcomes.begin(), take->outcomes.end(),
                     [](const RecordingOutcome &outcome) { return outcome.clipId != 0; })) {
        printLine(output, "nothing was recorded (the punch range or the input held nothing); "
                          "the project is unchanged");
        live.device->forgetTakesOnDisk();
        return status;
    }
    project_io::SaveResult saved;
    {
        std::lock_guard lock(engine.projectMutex);
        saved = project_io::saveProject(engine.project, options.projectFolder, false);
    }
    if (!saved.ok)
        return fail(errors,
                    "the recording was not saved: " + saved.error + "; its takes stay in " +
                        takeJournalFolder(options.projectFolder) +
                        " and are offered when the project next opens",
                    1);
    live.device->forgetTakesOnDisk();
    printLine(output, describeTakes(*take, *tracks, rate));
    return status;
}

const char *recordVerbHelp() {
    return R"(usage: Halvora record PROJECT.halvora --track TRACK_ID --seconds S [options]

Plays the project from --start on the sound device while the tracks record, then places
the takes and saves the project. Audio tracks record the device's stereo input pairs in
the order given (JACK: the first Halvora:in_1 and in_2, the second in_3 and in_4, and so
on, up to 8); one MIDI track may record the notes of the MIDI input (JACK:
Halvora:midi_in). Takes are aligned by the latency the device reports.

  --track TRACK_ID    a track to record into (its id in project.json); repeat for more
  --seconds S         how long to record
  --punch START:END   keep only what falls between these samples
  --cycle START:END   loop between these samples; each full pass becomes a take
  --start SAMPLES     where playback and recording begin (default 0)
  --device DEVICE     jack (default), alsa, null, or the exact name of a device
  --buffer FRAMES     period to ask the device for, 64 to 4096
  --no-connect        leave Halvora's JACK ports unconnected (connect them yourself)
  --jack-transport lead|follow|off
                      keep time with the JACK transport: lead it (Halvora is the
                      timebase master), follow it (the take starts, stops and moves
                      when another program moves it) or neither (default: the setting)
  --midi-clock out|in|off
                      send MIDI clock, start, stop and song position from
                      Halvora:clock_out, or follow those arriving at Halvora:clock_in
  --follow-clock-tempo
                      with --midi-clock in, take the tempo of the arriving clock
  -h, --help          this text

One summary line goes to standard output. Exit status: 0 saved (or nothing recorded,
project unchanged), 1 the project or device cannot be used or saving failed, 2 bad
arguments.
)";
}

} // namespace orvane
