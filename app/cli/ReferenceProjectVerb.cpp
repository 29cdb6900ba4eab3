#include "app/cli/ReferenceProjectVerb.h"

#include "core/engine/reference/ReferenceSession.h"
#include "core/project_io/ProjectFolder.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>

namespace orvane {

namespace {

// Every audio track writes its media at 192 kB a second; these bounds keep a typo from
// filling the disk.
constexpr int32_t mostAudioTracks = 512;
constexpr double longestSeconds = 3600.0;

struct ReferenceProjectArguments {
    std::string folder;
    ReferenceSessionOptions session;
    bool force = false;
    bool help = false;
};

bool parseCount(const std::string &text, int32_t &value) {
    char *end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < 0 || parsed > mostAudioTracks) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

bool parseSeconds(const std::string &text, double &value) {
    char *end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(parsed) || parsed <= 0.0 ||
        parsed > longestSeconds)
        return false;
    value = parsed;
    return true;
}

std::optional<ReferenceProjectArguments> parseArguments(const std::vector<std::string> &arguments,
                                                        std::string &error) {
    ReferenceProjectArguments parsed;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string &argument = arguments[index];
        const bool hasValue = index + 1 < arguments.size();
        if (argument == "--help" || argument == "-h") {
            parsed.help = true;
        } else if (argument == "--force") {
            parsed.force = true;
        } else if (argument == "--tracks") {
            if (!hasValue || !parseCount(arguments[++index], parsed.session.audioTracks)) {
                error = "--tracks takes a number of audio tracks from 0 to " +
                        std::to_string(mostAudioTracks);
                return std::nullopt;
            }
        } else if (argument == "--seconds") {
            if (!hasValue || !parseSeconds(arguments[++index], parsed.session.seconds)) {
                error = "--seconds takes a length above 0 and at most " +
                        std::to_string(static_cast<int>(longestSeconds)) + " seconds";
                return std::nullopt;
            }
        } else if (argument.size() > 1 && argument[0] == '-') {
            error = "unknown option \"" + argument + "\"";
            return std::nullopt;
        } else if (parsed.folder.empty()) {
            parsed.folder = argument;
        } else {
            error = "more than one folder given";
            return std::nullopt;
        }
    }
    if (!parsed.help && parsed.folder.empty()) {
        error = "no folder given";
        return std::nullopt;
    }
    return parsed;
}

/// An existing folder may hold someone's project; it is replaced only when asked for.
bool mayWriteInto(const std::string &folder, bool force, std::string &error) {
    std::error_code fault;
    const auto status = std::filesystem::symlink_status(folder, fault);
    if (!std::filesystem::exists(status)) return true;
    if (!std::filesystem::is_directory(status)) {
        error = "\"" + folder + "\" exists and is not a folder";
        return false;
    }
    if (force || std::filesystem::is_empty(folder, fault)) return true;
    error = "\"" + folder + "\" already exists and is not empty; give --force to overwrite it";
    return false;
}

} // namespace

int runReferenceProjectVerb(const std::vector<std::string> &arguments, std::FILE *output,
                            std::FILE *errors) {
    std::string error;
    const auto parsed = parseArguments(arguments, error);
    if (!parsed) {
        std::fprintf(errors,
                     "Halvora reference-project: %s\nsee \"Halvora reference-project "
                     "--help\"\n",
                     error.c_str());
        return 2;
    }
    if (parsed->help) {
        std::fputs(referenceProjectHelp(), output);
        return 0;
    }
    if (!mayWriteInto(parsed->folder, parsed->force, error)) {
        std::fprintf(errors, "Halvora reference-project: %s\n", error.c_str());
        return 1;
    }
    Project project = buildReferenceSession(parsed->session);
    const project_io::SaveResult saved = project_io::saveProject(project, parsed->folder, false);
    if (!saved.ok) {
        std::fprintf(errors, "Halvora reference-project: cannot write \"%s\": %s\n",
                     parsed->folder.c_str(), saved.error.c_str());
        return 1;
    }
    std::fprintf(output, "wrote \"%s\": %d audio tracks, %d MIDI tracks, 2 returns, %.3f s\n",
                 parsed->folder.c_str(), parsed->session.audioTracks, parsed->session.midiTracks,
                 parsed->session.seconds);
    return 0;
}

const char *referenceProjectHelp() {
    return R"(usage: Halvora reference-project DIR [--tracks N] [--seconds S] [--force]

Writes the reference session as a project folder DIR (with "project.json" and its
"media" folder): N stereo audio tracks (default 64) of ten-second clips, 16 MIDI tracks
playing chords, a reverb and a delay return fed by every track, master EQ and mastering
on, S seconds long (default 60). Render it with "Halvora render DIR -o OUT.wav".

DIR must not exist yet or be empty: an existing project is never overwritten unless
--force is given, which replaces its "project.json" and the media files of the session.
)";
}

} // namespace orvane
