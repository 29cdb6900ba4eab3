#include "app/cli/PerformVerb.h"

#include "app/cli/RenderVerb.h"
#include "app/cli/VerbArguments.h"
#include "app/shell/RenderOutput.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <new>
#include <optional>

namespace orvane {

namespace {

constexpr int32_t largestBlock = 8192;

bool parseOption(const std::vector<std::string> &arguments, std::size_t &index,
                 PerformOptions &options, std::string &error) {
    const std::string &option = arguments[index];
    if (option == "--help" || option == "-h") {
        options.help = true;
    } else if (option == "--quiet") {
        options.quiet = true;
    } else if (option == "-o" || option == "--output") {
        if (!needsValue(arguments, index, error)) return false;
        options.outputPath = arguments[++index];
    } else if (option == "--length") {
        if (!needsValue(arguments, index, error)) return false;
        const std::string &text = arguments[++index];
        if (!parseNumber(text, options.length) || options.length < 1) {
            error = "--length takes a number of samples above 0, not \"" + text + "\"";
            return false;
        }
    } else if (option == "--block") {
        if (!needsValue(arguments, index, error)) return false;
        const std::string &text = arguments[++index];
        if (!parseNumber(text, options.block) || options.block < 1 ||
            options.block > largestBlock) {
            error = "--block takes a number of frames from 1 to " + std::to_string(largestBlock) +
                    ", not \"" + text + "\"";
            return false;
        }
    } else {
        error = "unknown option \"" + option + "\"";
        return false;
    }
    return true;
}

std::vector<std::string_view> splitAtColons(std::string_view text) {
    std::vector<std::string_view> parts;
    while (true) {
        const auto colon = text.find(':');
        parts.push_back(text.substr(0, colon));
        if (colon == std::string_view::npos) return parts;
        text.remove_prefix(colon + 1);
    }
}

bool actionNeedsId(PerformAction::Kind kind) { return kind != PerformAction::Kind::Stop; }

/// Ids that the project does not hold would launch nothing; the user learns which.
bool checkActionIds(const Project &project, const std::vector<PerformAction> &actions,
                    std::string &error) {
    for (const auto &action : actions) {
        if (action.kind == PerformAction::Kind::Stop) continue;
        if (action.kind == PerformAction::Kind::LaunchScene) {
            const auto &scenes = project.session.scenes;
            if (std::none_of(scenes.begin(), scenes.end(),
                             [&](const Scene &s) { return s.id == action.id; })) {
                error = "no scene with id " + std::to_string(action.id) + " in the project";
                return false;
            }
        } else if (const auto clip = project.findClip(action.id); !clip) {
            error = "no clip with id " + std::to_string(action.id) + " in the project";
            return false;
        } else if (!clip->isSessionClip()) {
            error =
                "clip " + std::to_string(action.id) + " is an arrangement clip, not a session clip";
            return false;
        }
    }
    return true;
}

Request requestFor(const PerformAction &action) {
    switch (action.kind) {
    case PerformAction::Kind::LaunchClip: return Request::launchClip(action.id);
    case PerformAction::Kind::LaunchScene: return Request::launchScene(action.id);
    case PerformAction::Kind::Release: return Request::releaseClip(action.id);
    case PerformAction::Kind::Stop: break;
    }
    return Request::stop();
}

/// Plays the session from sample 0 and keeps what the master produced, interleaved stereo.
bool perform(Engine &engine, const PerformOptions &options, std::vector<float> &samples,
             std::string &error) {
    std::vector<PerformAction> actions = options.actions;
    std::stable_sort(actions.begin(), actions.end(),
                     [](const auto &a, const auto &b) { return a.sample < b.sample; });
    const auto block = static_cast<std::size_t>(options.block);
    std::vector<float> left(block), right(block);
    std::array<float *, 2> channels{left.data(), right.data()};
    samples.assign(static_cast<std::size_t>(options.length) * 2, 0.0f);
    if (!engine.pushRequest(RequestProducer::MainThread, Request::play())) {
        error = "the engine's request queue is full";
        return false;
    }
    auto next = actions.begin();
    for (int64_t position = 0; position < options.length; position += options.block) {
        const auto frames =
            static_cast<int32_t>(std::min<int64_t>(options.block, options.length - position));
        for (; next != actions.end() && next->sample < position + frames; ++next) {
            // A launch after a stop starts the transport again, as a click in the grid would.
            const bool launches = next->kind == PerformAction::Kind::LaunchClip ||
                                  next->kind == PerformAction::Kind::LaunchScene;
            if ((launches && !engine.pushRequest(RequestProducer::MainThread, Request::play())) ||
                !engine.pushRequest(RequestProducer::MainThread, requestFor(*next))) {
                error = "too many actions at sample " + std::to_string(next->sample);
                return false;
            }
        }
        engine.processBlock(channels.data(), 2, frames);
        for (int32_t i = 0; i < frames; ++i) {
            const auto at = static_cast<std::size_t>(position + i) * 2;
            samples[at] = left[static_cast<std::size_t>(i)];
            samples[at + 1] = right[static_cast<std::size_t>(i)];
        }
        Notification seen;
        while (engine.popNotification(seen)) {
        }
    }
    return true;
}

/// A performance renders faster than real time, with launches no disk thread can foresee:
/// its clips are read whole first, so that what it writes never depends on the disk.
void readMediaWhole(Project &project) {
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            if (clip->audio && clip->audio->file())
                clip->audio = makeSampleBuffer(clip->audio->toVector());
}

int fail(std::FILE *errors, const std::string &error, int status) {
    std::fputs(("Halvora perform: " + error + "\n").c_str(), errors);
    return status;
}

} // namespace

bool parsePerformAction(const std::string &text, PerformAction &action, std::string &error) {
    const auto parts = splitAtColons(text);
    error = "bad action \"" + text +
            "\": expected SAMPLE:launch-clip:ID, SAMPLE:launch-scene:ID, SAMPLE:release:ID or "
            "SAMPLE:stop";
    if (parts.size() < 2 || !parseNumber(parts[0], action.sample) || action.sample < 0)
        return false;
    const std::string_view verb = parts[1];
    if (verb == "launch-clip")
        action.kind = PerformAction::Kind::LaunchClip;
    else if (verb == "launch-scene")
        action.kind = PerformAction::Kind::LaunchScene;
    else if (verb == "release")
        action.kind = PerformAction::Kind::Release;
    else if (verb == "stop")
        action.kind = PerformAction::Kind::Stop;
    else
        return false;
    action.id = 0;
    if (!actionNeedsId(action.kind)) return parts.size() == 2;
    if (parts.size() != 3 || !parseNumber(parts[2], action.id) || action.id == 0) return false;
    error.clear();
    return true;
}

bool parsePerformArguments(const std::vector<std::string> &arguments, PerformOptions &options,
                           std::string &error) {
    options = {};
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string &argument = arguments[index];
        if (argument.size() > 1 && argument[0] == '-') {
            if (!parseOption(arguments, index, options, error)) return false;
        } else if (options.projectFolder.empty()) {
            options.projectFolder = argument;
        } else {
            PerformAction action;
            if (!parsePerformAction(argument, action, error)) return false;
            options.actions.push_back(action);
        }
    }
    if (options.help) return true;
    if (options.projectFolder.empty()) {
        error = "no project folder given";
        return false;
    }
    if (options.outputPath.empty()) {
        error = "no output file: give -o OUT.wav";
        return false;
    }
    if (options.length < 1) {
        error = "no length: give --length SAMPLES";
        return false;
    }
    for (const auto &action : options.actions)
        if (action.sample >= options.length) {
            error = "action at sample " + std::to_string(action.sample) +
                    " lies beyond the performance (--length " + std::to_string(options.length) +
                    ")";
            return false;
        }
    return true;
}

namespace {

int runPerformation(const PerformOptions &options, std::FILE *output, std::FILE *errors);

} // namespace

int runPerformVerb(const std::vector<std::string> &arguments, std::FILE *output,
                   std::FILE *errors) {
    PerformOptions options;
    std::string error;
    if (!parsePerformArguments(arguments, options, error)) {
        fail(errors, error, 2);
        return fail(errors, "see \"Halvora perform --help\"", 2);
    }
    if (options.help) {
        std::fputs(performVerbHelp(), output);
        return 0;
    }
    removeRenderTemporaryOnInterrupt();
    // The whole performance is held in memory: a length the machine cannot hold is said.
    try {
        return runPerformation(options, output, errors);
    } catch (const std::bad_alloc &) {
        return fail(errors,
                    "not enough memory to play \"" + printableText(options.projectFolder) +
                        "\" for " + std::to_string(options.length) + " samples",
                    1);
    }
}

namespace {

int runPerformation(const PerformOptions &options, std::FILE *output, std::FILE *errors) {
    std::string error;
    if (!checkRenderOutput(options.outputPath, options.projectFolder, options.length, 2, error))
        return fail(errors, error, 1);
    std::optional<Project> project = loadProjectForVerb(options.projectFolder, errors, error);
    if (!project) return fail(errors, error, 1);
    if (!checkActionIds(*project, options.actions, error)) return fail(errors, error, 2);
    const double sampleRate = project->sampleRate;
    readMediaWhole(*project);

    std::vector<float> samples;
    {
        PreparedEngine prepared;
        prepareEngineForRender(prepared, std::move(*project), options.block, "Halvora perform",
                               errors);
        if (!perform(prepared.engine, options, samples, error)) return fail(errors, error, 1);
    }
    if (!writeRenderOutput(options.outputPath, samples, options.length, 2, sampleRate, error))
        return fail(errors, error, 1);
    if (!options.quiet)
        std::fputs(
            (describeRenderSummary(summariseRender(samples, 2, sampleRate), options.outputPath) +
             "\n")
                .c_str(),
            output);
    return 0;
}

} // namespace

const char *performVerbHelp() {
    return R"(usage: Halvora perform PROJECT.halvora -o OUT.wav --length SAMPLES [--block FRAMES] ACTION...

Plays the session of a project folder from sample 0, as if a player launched clips and
scenes in the grid, and writes what the master produced as a 16-bit stereo WAV file at
the project's sample rate (no metronome, no live input, the cue level as the project
says).

  PROJECT.halvora    a project folder holding "project.json" and its "media" folder
  -o, --output OUT   the WAV file to write (replaced only once the performance succeeded)
  --length SAMPLES   number of frames to play
  --block FRAMES     frames per block, 1 to 8192 (default 512); actions take effect at
                     the top of the block that holds their sample
  --quiet            no summary line
  -h, --help         this text

Each ACTION is one of
  SAMPLE:launch-clip:ID    launch the session clip with that id
  SAMPLE:launch-scene:ID   launch the scene with that id
  SAMPLE:release:ID        release a clip (ends a gate-mode clip)
  SAMPLE:stop              stop: the session empties and playback rewinds to sample 0;
                           a later launch starts playing again
Launches are quantised as the clips and the grid say.

On success one summary line goes to standard output: frames, duration, peak and loudness.
Exit status: 0 played, 1 the project or output cannot be used, 2 bad arguments (a bad
action, or an id the project does not hold).
)";
}

} // namespace orvane
