#include "core/vst/CompatibilityProbe.h"

#include "core/vst/PluginSandboxController.h"
#include "core/vst/PluginScanner.h"
#include "core/vst/Vst3Plugin.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace orvane::vst {

namespace {

constexpr double probeSampleRate = 48000.0;
constexpr int probeBlock = 512;
// 48,000 / 512 blocks make one second.
constexpr double blocksPerSecond = 93.75;
// A sandboxed block waits this long before its helper counts as stuck.
constexpr auto sandboxedBlockWait = std::chrono::seconds(5);

// A note or name is one field of one line: tabs and line breaks in it would break the file.
std::string fieldText(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return text;
}

std::vector<std::string> whitelistFromEnvironment() {
    const char *value = std::getenv("HALVORA_VST_WHITELIST");
    if (value == nullptr || *value == '\0') return {};
    std::string text = value;
    if (text[0] == '1' || text == "true") return loadVstWhitelist(defaultVstWhitelistPath());
    return loadVstWhitelist(text);
}

/// Everything one probe run shares: the scan, the allow-list and, when sandboxed, the
/// controller whose helpers host the plug-ins.
struct ProbeRun {
    ProbeSettings settings;
    PluginScanner scanner;
    std::vector<PluginDescription> descriptions;
    std::vector<std::string> whitelist;
    PluginSandboxController controller;
    std::vector<float> left = std::vector<float>(probeBlock, 0.0f);
    std::vector<float> right = std::vector<float>(probeBlock, 0.0f);

    bool qualifies(const PluginDescription &description) const {
        return !description.blacklisted && !description.isInstrument &&
               pluginMatchesWhitelist(description, whitelist);
    }

    std::unique_ptr<Vst3Plugin> makePlugin() {
        auto plugin = std::make_unique<Vst3Plugin>();
        if (settings.sandboxed) plugin->setUseOutOfProcess(true, &controller);
        return plugin;
    }

    /// One block of silence; false when the plug-in did not process it (out of process: its
    /// helper failed or missed a generous deadline).
    bool processBlock(Vst3Plugin &plugin) {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        if (!plugin.usesOutOfProcess()) {
            plugin.process(left.data(), right.data(), probeBlock);
            return true;
        }
        return plugin.process(left.data(), right.data(), probeBlock,
                              Deadline::after(sandboxedBlockWait));
    }
};

void scanForProbe(ProbeRun &run, VstCompatibilityResult &result) {
    run.scanner.setSearchPaths(defaultVst3Paths());
    run.scanner.loadBlacklist(defaultVstBlacklistPath());
    if (!run.settings.sandboxed) {
        run.descriptions = run.scanner.scanWithFactory();
    } else {
        SandboxBundleDescriber describer(run.controller);
        run.descriptions = run.scanner.scanWithDescriber(std::ref(describer), {});
        // A bundle that crashed while being looked at is an outcome of its own.
        for (const std::string &bundle : run.scanner.crashedBundles) {
            CompatibilityEntry entry;
            entry.name = std::filesystem::path(bundle).stem().string();
            entry.id = bundle;
            entry.note = "crashed while loading";
            result.entries.push_back(std::move(entry));
        }
    }
    result.found = static_cast<int>(run.descriptions.size() + run.scanner.crashedBundles.size());
}

// The failure text of a sandboxed plug-in whose helper gave up, or `fallback`.
std::string failureNote(ProbeRun &run, Vst3Plugin &plugin, const std::string &fallback) {
    if (plugin.usesOutOfProcess() && plugin.collectTransportFailure())
        return fallback + ": " + run.controller.lastError;
    if (plugin.usesOutOfProcess() && plugin.ownHelperCrashed())
        return fallback + ": helper crashed";
    return fallback;
}

bool displayAvailable() {
    const char *display = std::getenv("DISPLAY");
    return display != nullptr && *display != '\0';
}

CompatibilityEntry testOne(ProbeRun &run, const PluginDescription &description, bool &passed) {
    CompatibilityEntry entry;
    entry.name = description.name;
    entry.id = description.uid;
    passed = false;
    std::unique_ptr<Vst3Plugin> plugin = run.makePlugin();
    if (!plugin->load(description.path, description.uid)) {
        entry.note = failureNote(run, *plugin, "load failed");
        return entry;
    }
    entry.loaded = true;
    if (!plugin->prepare(probeSampleRate, probeBlock)) {
        entry.note = failureNote(run, *plugin, "prepare failed");
        return entry;
    }
    std::vector<uint8_t> state;
    if (!plugin->getState(state)) {
        entry.note = failureNote(run, *plugin, "getState failed");
        return entry;
    }
    entry.stateSaved = true;
    if (!run.processBlock(*plugin)) {
        entry.note = failureNote(run, *plugin, "process failed");
        return entry;
    }
    if (!plugin->setState(state)) {
        entry.note = failureNote(run, *plugin, "setState failed");
        return entry;
    }
    if (!run.processBlock(*plugin)) {
        entry.note = failureNote(run, *plugin, "process failed");
        return entry;
    }
    if (plugin->hasEditor()) {
        entry.editorOpened = plugin->attachEditor(nullptr);
        plugin->closeEditor();
    }
    entry.note = entry.editorOpened ? "ok" : "ok (no editor)";
    passed = true;
    return entry;
}

// The helper must start; when a plug-in qualifies and loads in it, it must also run a block
// in it, and open its editor when it has one and a display is there to show it. A machine
// without plug-ins has nothing to host, which is no fault of the sandbox.
bool checkSandbox(ProbeRun &run) {
    PluginSandboxController controller;
    controller.enabled = true;
    controller.helperSearchFolder = run.settings.helperFolder;
    bool ok = controller.ensureSandboxRunning();
    if (!ok) return false;
    for (const PluginDescription &description : run.descriptions) {
        if (!run.qualifies(description)) continue;
        Vst3Plugin plugin;
        plugin.setUseOutOfProcess(true, &controller);
        if (!plugin.load(description.path, description.uid) ||
            !plugin.prepare(probeSampleRate, probeBlock))
            continue;
        ok = run.processBlock(plugin);
        if (ok && displayAvailable() && plugin.hasEditor()) ok = plugin.attachEditor(nullptr);
        plugin.closeEditor();
        plugin.unload();
        break;
    }
    controller.shutdownSandbox();
    return ok;
}

// Soaks the first plug-in that passed: one that failed its two blocks has nothing to show.
int soak(ProbeRun &run, int soakSeconds, const std::vector<std::string> &passedIds) {
    auto blocks = static_cast<int>(soakSeconds * blocksPerSecond);
    for (const PluginDescription &description : run.descriptions) {
        if (!run.qualifies(description) ||
            std::find(passedIds.begin(), passedIds.end(), description.uid) == passedIds.end())
            continue;
        std::unique_ptr<Vst3Plugin> plugin = run.makePlugin();
        if (!plugin->load(description.path, description.uid) ||
            !plugin->prepare(probeSampleRate, probeBlock))
            continue;
        int done = 0;
        while (done < blocks && run.processBlock(*plugin))
            ++done;
        return done;
    }
    return 0;
}

} // namespace

std::vector<CompatibilityEntry> builtInTestMatrix() {
    return {
        {"Surge XT", "", false, false, false, "Free synth — primary smoke test"},
        {"Vital", "", false, false, false, "Free wavetable"},
        {"Valhalla Supermassive", "", false, false, false, "Free reverb/delay"},
        {"TAL-NoiseMaker", "", false, false, false, "Free synth"},
        {"Stock EQ", "stock.eq", true, true, true, "Built-in"},
        {"Stock Compressor", "stock.compressor", true, true, true, "Built-in"},
        {"Stock Delay", "stock.delay", true, true, true, "Built-in"},
        {"Stock Reverb", "stock.reverb", true, true, true, "Built-in"},
    };
}

std::vector<CompatibilityEntry> loadCompatibilityReport(const std::string &path) {
    std::vector<CompatibilityEntry> entries;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        if (line.empty()) continue;
        std::vector<std::string> fields = splitTabs(line);
        // Five tab-terminated fields, then the note (the rest of the line).
        if (fields.size() < 6) continue;
        CompatibilityEntry entry;
        entry.id = fields[0];
        entry.name = fields[1];
        entry.loaded = fields[2] == "1";
        entry.stateSaved = fields[3] == "1";
        entry.editorOpened = fields[4] == "1";
        entry.note = fields[5];
        for (size_t index = 6; index < fields.size(); ++index)
            entry.note += "\t" + fields[index];
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool saveCompatibilityReport(const std::string &path,
                             const std::vector<CompatibilityEntry> &entries) {
    std::vector<CompatibilityEntry> merged = loadCompatibilityReport(path);
    for (const CompatibilityEntry &entry : entries) {
        auto same =
            std::find_if(merged.begin(), merged.end(),
                         [&entry](const CompatibilityEntry &old) { return old.id == entry.id; });
        if (same != merged.end())
            *same = entry;
        else
            merged.push_back(entry);
    }
    std::error_code ignored;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
    std::ofstream file(path, std::ios::trunc);
    if (!file) return false;
    for (const CompatibilityEntry &entry : merged)
        file << fieldText(entry.id) << '\t' << fieldText(entry.name) << '\t'
             << (entry.loaded ? "1" : "0") << '\t' << (entry.stateSaved ? "1" : "0") << '\t'
             << (entry.editorOpened ? "1" : "0") << '\t' << fieldText(entry.note) << '\n';
    return true;
}

VstCompatibilityResult runVstCompatibilityProbe(int maximumPlugins, int soakSeconds,
                                                const ProbeSettings &settings) {
    VstCompatibilityResult result;
    ProbeRun run;
    run.settings = settings;
    run.controller.enabled = settings.sandboxed;
    run.controller.helperSearchFolder = settings.helperFolder;
    scanForProbe(run, result);
    run.whitelist = whitelistFromEnvironment();
    result.whitelistSize = static_cast<int>(run.whitelist.size());
    std::vector<std::string> passedIds;
    for (const PluginDescription &description : run.descriptions) {
        if (result.tested >= maximumPlugins) break;
        if (!run.qualifies(description)) continue;
        ++result.tested;
        bool passed = false;
        result.entries.push_back(testOne(run, description, passed));
        if (passed) passedIds.push_back(description.uid);
    }
    result.passed = static_cast<int>(passedIds.size());
    result.sandboxOk = checkSandbox(run);
    if (!result.entries.empty()) saveCompatibilityReport(defaultVstCompatPath(), result.entries);
    if (soakSeconds > 0 && result.passed > 0) result.soakBlocks = soak(run, soakSeconds, passedIds);
    run.controller.shutdownSandbox();
    return result;
}

} // namespace orvane::vst
