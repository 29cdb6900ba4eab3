#include "app/cli/ProbePluginsVerb.h"

#include "core/plugins/CompatibilityProbe.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/vst3/PluginScanner.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace orvane {

namespace {

// An hour of audio is already far more than any plug-in needs to show a leak or a drift.
constexpr int longestSoakSeconds = 3600;
constexpr int exitBadArguments = 2;

struct ProbeArguments {
    int soakSeconds = 0;
    bool sandboxed = false;
    bool help = false;
};

bool parseSeconds(const std::string &text, int &seconds) {
    const char *end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, seconds);
    return error == std::errc() && stop == end && seconds >= 0 && seconds <= longestSoakSeconds;
}

bool parseArguments(const std::vector<std::string> &arguments, ProbeArguments &parsed,
                    std::string &problem) {
    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string &argument = arguments[index];
        if (argument == "--sandbox") {
            parsed.sandboxed = true;
        } else if (argument == "--help" || argument == "-h") {
            parsed.help = true;
        } else if (argument == "--soak") {
            if (index + 1 >= arguments.size() ||
                !parseSeconds(arguments[++index], parsed.soakSeconds)) {
                problem = "--soak needs a whole number of seconds from 0 to 3600";
                return false;
            }
        } else {
            problem = "unknown argument \"" + argument + "\"";
            return false;
        }
    }
    return true;
}

// Names and notes come from plug-in code: control characters must not reach the terminal.
std::string printable(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; }, '?');
    return text;
}

const char *flag(bool value) { return value ? "1" : "0"; }

void printEntries(std::FILE *output, const std::vector<vst::CompatibilityEntry> &entries) {
    size_t nameWidth = 4;
    size_t idWidth = 2;
    for (const vst::CompatibilityEntry &entry : entries) {
        nameWidth = std::max(nameWidth, entry.name.size());
        idWidth = std::max(idWidth, entry.id.size());
    }
    std::fprintf(output, "%-*s  %-*s  loaded  state  editor  note\n", int(nameWidth), "name",
                 int(idWidth), "id");
    for (const vst::CompatibilityEntry &entry : entries)
        std::fprintf(output, "%-*s  %-*s  %-6s  %-5s  %-6s  %s\n", int(nameWidth),
                     printable(entry.name).c_str(), int(idWidth), printable(entry.id).c_str(),
                     flag(entry.loaded), flag(entry.stateSaved), flag(entry.editorOpened),
                     printable(entry.note).c_str());
}

} // namespace

const char *probePluginsHelp() {
    return "usage: Halvora probe-plugins [--soak SECONDS] [--sandbox]\n"
           "  Loads every installed VST 3 effect (VST3_PATH, else the standard folders) and LV2\n"
           "  plug-in (LV2_PATH, else the standard folders), checks\n"
           "  prepare, a state round trip, audio and the editor, checks the sandbox helper,\n"
           "  and merges the outcome into the compatibility report.\n"
           "  --soak SECONDS  afterwards run one plug-in for that much audio (0 to 3600)\n"
           "  --sandbox       scan and test every plug-in in a helper, so a crash is recorded\n"
           "  HALVORA_VST_WHITELIST limits the plug-ins tested (a pattern file, or 1 for the\n"
           "  support folder's list).\n";
}

int runProbePluginsVerb(const std::vector<std::string> &arguments, std::FILE *output,
                        std::FILE *errors) {
    ProbeArguments parsed;
    std::string problem;
    if (!parseArguments(arguments, parsed, problem)) {
        std::fprintf(errors, "Halvora probe-plugins: %s\n%s", problem.c_str(), probePluginsHelp());
        return exitBadArguments;
    }
    if (parsed.help) {
        std::fputs(probePluginsHelp(), output);
        return 0;
    }
    vst::ProbeSettings settings;
    settings.sandboxed = parsed.sandboxed;
    settings.helperFolder = vst::executableFolder();
    const vst::VstCompatibilityResult result = vst::runVstCompatibilityProbe(
        std::numeric_limits<int>::max(), parsed.soakSeconds, settings);
    printEntries(output, result.entries);
    std::fprintf(output,
                 "found %d, tested %d, passed %d, soak blocks %d, sandbox %s, whitelist %d\n",
                 result.found, result.tested, result.passed, result.soakBlocks,
                 result.sandboxOk ? "ok" : "failed", result.whitelistSize);
    for (const std::string &line : vst::probeSummaryByFormat(result.entries))
        std::fprintf(output, "%s\n", printable(line).c_str());
    std::fputs("built-in matrix:\n", output);
    printEntries(output, vst::builtInTestMatrix());
    std::fprintf(output, "report: %s\n", printable(vst::defaultVstCompatPath()).c_str());
    std::fflush(output);
    return 0;
}

} // namespace orvane
