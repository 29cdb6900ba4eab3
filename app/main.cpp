#include "app/cli/AnalyzeVerb.h"
#include "app/cli/EngineSelfCheck.h"
#include "app/cli/HeadlessVerb.h"
#include "app/cli/PerformVerb.h"
#include "app/cli/PlayVerb.h"
#include "app/cli/PresetsVerb.h"
#include "app/cli/ProbePluginsVerb.h"
#include "app/cli/RecordVerb.h"
#include "app/cli/ReferenceProjectVerb.h"
#include "app/cli/RenderVerb.h"
#include "app/window/WindowModule.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

#ifndef HALVORA_VERSION
#define HALVORA_VERSION "0.0.0"
#endif

namespace {

void printUsage(std::FILE *stream) {
    std::fputs("usage: Halvora [--version] [--self-check]\n"
               "       Halvora PROJECT.halvora   (opens the project in the window)\n"
               "       Halvora render PROJECT.halvora -o OUT.wav [options]   (see render --help)\n"
               "       Halvora render --demo -o OUT.wav [options]\n"
               "       Halvora perform PROJECT.halvora -o OUT.wav --length N ACTION...\n"
               "       Halvora reference-project DIR [--tracks N] [--seconds S]\n"
               "       Halvora analyze FILE.wav [--json]\n"
               "       Halvora probe-plugins [--soak SECONDS] [--sandbox]\n"
               "       Halvora presets PLUGIN-ID   (see presets --help)\n"
               "       Halvora play PROJECT.halvora [options]   (see play --help)\n"
               "       Halvora record PROJECT.halvora --track ID --seconds S [options]\n"
               "       Halvora --headless [--osc-port PORT] [PROJECT.halvora]   (see --headless --help)\n",
               stream);
}

int runShellOptions(int argc, char **argv) {
    bool showVersion = argc < 2;
    bool selfCheck = argc < 2;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            showVersion = true;
        } else if (std::strcmp(argv[i], "--self-check") == 0) {
            selfCheck = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printUsage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "Halvora: unknown argument \"%s\"\n", argv[i]);
            printUsage(stderr);
            return 2;
        }
    }
    if (showVersion) std::printf("Halvora %s\n", HALVORA_VERSION);
    if (!selfCheck) return 0;
    const auto report = orvane::runEngineSelfCheck(48000.0, 512, 8);
    std::fputs(orvane::describeSelfCheck(report).c_str(), stdout);
    return report.passed ? 0 : 1;
}

/// Whether a display is there to open the window on.
bool displayAvailable() {
    const char *x11 = std::getenv("DISPLAY");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

/// Opens the window's module, installed under the prefix or beside the program in a build
/// folder; null with `error` saying why when neither opens.
void *openWindowModule(std::string &error) {
    std::error_code ignored;
    const auto programFolder = std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path();
    const std::filesystem::path candidates[] = {
        programFolder.parent_path() / windowModuleInstallFolder / windowModuleFileName,
        programFolder / windowModuleFileName};
    error = std::string(windowModuleFileName) + " is not installed beside the program";
    for (const auto &candidate : candidates) {
        if (!std::filesystem::exists(candidate, ignored)) continue;
        if (void *module = dlopen(candidate.c_str(), RTLD_LAZY | RTLD_LOCAL)) return module;
        error = dlerror();
    }
    return nullptr;
}

template <typename Entry> Entry findEntry(void *module, const char *name, std::string &error) {
    if (!module) return nullptr;
    if (void *entry = dlsym(module, name)) return reinterpret_cast<Entry>(entry);
    error = dlerror();
    return nullptr;
}

int runWindowFromModule(int argc, char **argv) {
    std::string error;
    const auto run = findEntry<RunWindowEntry>(openWindowModule(error), "halvoraRunWindow", error);
    if (!run) {
        std::fprintf(stderr, "Halvora: the window cannot be loaded: %s\n", error.c_str());
        return 1;
    }
    return run(argc, argv);
}

/// The headless status lines speak the user's language, read from the catalogue the window's
/// module holds; without it they stay English and the program goes on.
void useUserLanguage() {
    std::string error;
    const auto lookupOfLanguage = findEntry<UserLanguageEntry>(
        openWindowModule(error), "halvoraUserLanguageLookup", error);
    char reason[256] = {};
    const orvane::TranslationLookup lookup =
        lookupOfLanguage ? lookupOfLanguage(reason, sizeof reason) : nullptr;
    if (lookup) {
        orvane::installTranslationLookup(lookup);
        return;
    }
    std::fprintf(stderr, "Halvora: %s; status lines stay English\n",
                 lookupOfLanguage ? reason : error.c_str());
}

/// Without a display there is no window to open: say how to work without one.
int explainHeadlessUse() {
    std::fputs(
        "Halvora: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset).\n"
        "Without a window, run the application core and type document operations:\n"
        "       Halvora --headless [PROJECT.halvora]   (open, save, import, export, play, "
        "stop, undo, redo, quit; see --headless --help)\n"
        "or one of the offline commands:\n",
        stdout);
    printUsage(stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2)
        return displayAvailable() ? runWindowFromModule(argc, argv) : explainHeadlessUse();
    if (argc >= 2) {
        const std::string subcommand = argv[1];
        const std::vector<std::string> rest(argv + 2, argv + argc);
        if (subcommand == "render") return orvane::runRenderVerb(rest, stdout, stderr);
        if (subcommand == "play") return orvane::runPlayVerb(rest, stdout, stderr);
        if (subcommand == "record") return orvane::runRecordVerb(rest, stdout, stderr);
        if (subcommand == "--headless") {
            if (rest.size() == 1 && (rest[0] == "--help" || rest[0] == "-h")) {
                std::fputs(orvane::headlessHelp(), stdout);
                return 0;
            }
            // Its status lines are the application's, in the user's language; its command-line
            // help and messages stay English.
            useUserLanguage();
            return orvane::runHeadless(rest, STDIN_FILENO, stdout, stderr);
        }
        if (subcommand == "perform") return orvane::runPerformVerb(rest, stdout, stderr);
        if (subcommand == "reference-project")
            return orvane::runReferenceProjectVerb(rest, stdout, stderr);
        if (subcommand == "analyze") return orvane::runAnalyzeVerb(rest, stdout, stderr);
        if (subcommand == "probe-plugins") return orvane::runProbePluginsVerb(rest, stdout, stderr);
        if (subcommand == "presets") return orvane::runPresetsVerb(rest, stdout, stderr);
        // A file manager, the desktop entry and a user at the prompt name a project alone.
        if (argc == 2 && !subcommand.empty() && subcommand.front() != '-') {
            if (displayAvailable()) return runWindowFromModule(argc, argv);
            std::fprintf(stderr,
                         "Halvora: no display to open \"%s\" on; without a window, run\n"
                         "       Halvora --headless \"%s\"\n",
                         argv[1], argv[1]);
            return 2;
        }
    }
    return runShellOptions(argc, argv);
}
