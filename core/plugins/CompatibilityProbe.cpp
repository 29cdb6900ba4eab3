#include "core/plugins/CompatibilityProbe.h"

#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/Lv2World.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "core/plugins/vst3/PluginScanner.h"
#include "core/plugins/vst3/Vst3Plugin.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

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

    // LV2 instruments run silence like effects do, so they are checked too.
    bool qualifies(const PluginDescription &description) const {
        return !description.blacklisted &&
               (!description.isInstrument || description.format == "LV2") &&
               pluginMatchesWhitelist(description, whitelist);
    }

    std::unique_ptr<Plugin> makePlugin() {
        if (settings.sandboxed) return std::make_unique<SandboxedPlugin>(controller);
        return std::make_unique<Vst3Plugin>();
    }

    /// Sandboxed, an LV2 plug-in is loaded by its id, which tells the helper its format; in
    /// process an LV2 plug-in is probed on its own path.
    static bool loadPlugin(Plugin &plugin, const PluginDescription &description) {
        if (auto *sandboxed = dynamic_cast<SandboxedPlugin *>(&plugin))
            return description.format == "LV2" ? sandboxed->load(description.uid, "")
                                               : sandboxed->load(description.path, description.uid);
        auto *inProcess = dynamic_cast<Vst3Plugin *>(&plugin);
        return inProcess && inProcess->load(description.path, description.uid);
    }

    bool processBlock(lv2::Lv2Plugin &plugin) {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        return plugin.process(left.data(), right.data(), probeBlock);
    }

    /// One block of silence; false when the plug-in did not process it (out of process: its
    /// helper failed or missed a generous deadline).
    bool processBlock(Plugin &plugin) {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        if (!plugin.runsInHelper()) {
            (void)plugin.processRt(left.data(), right.data(), probeBlock, Deadline::never(), {});
            return true;
        }
        return plugin.processRt(left.data(), right.data(), probeBlock,
                                Deadline::after(sandboxedBlockWait), {});
    }
};

void scanForProbe(ProbeRun &run, VstCompatibilityResult &result) {
    run.scanner.setSearchPaths(defaultVst3Paths());
    (void)run.scanner.loadBlacklist(defaultVstBlacklistPath()); // none yet: nothing blocked
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
    // LV2 plug-ins are listed from their data files, which runs none of their code.
    for (vst::PluginDescription &description :
         lv2::describeInstalledLv2Plugins(run.scanner.blacklist))
        run.descriptions.push_back(std::move(description));
    result.found = static_cast<int>(run.descriptions.size() + run.scanner.crashedBundles.size());
}

// The failure text of a sandboxed plug-in whose helper gave up, or `fallback`.
std::string failureNote(ProbeRun &run, Plugin &plugin, const std::string &fallback) {
    auto *sandboxed = dynamic_cast<SandboxedPlugin *>(&plugin);
    if (sandboxed && sandboxed->collectTransportFailure())
        return fallback + ": " + run.controller.lastError;
    if (sandboxed && sandboxed->ownHelperCrashed()) return fallback + ": helper crashed";
    return fallback;
}

bool displayAvailable() {
    const char *display = std::getenv("DISPLAY");
    return display != nullptr && *display != '\0';
}

CompatibilityEntry entryFor(const PluginDescription &description) {
    CompatibilityEntry entry;
    entry.name = description.name;
    entry.id = description.uid;
    entry.format = description.format;
    return entry;
}

CompatibilityEntry failedAt(CompatibilityEntry entry, const char *stage, std::string note) {
    entry.failedStage = stage;
    entry.note = std::move(note);
    return entry;
}

// The same checks as for a plug-in in a helper, through the LV2 host in this process.
CompatibilityEntry testLv2InProcess(ProbeRun &run, const PluginDescription &description,
                                    bool &passed) {
    CompatibilityEntry entry = entryFor(description);
    passed = false;
    lv2::Lv2Plugin plugin;
    if (!plugin.load(lv2::uriFromPluginId(description.uid)))
        return failedAt(entry, "load", "load failed: " + plugin.lastError);
    entry.loaded = true;
    if (!plugin.prepare(probeSampleRate, probeBlock))
        return failedAt(entry, "prepare", "prepare failed: " + plugin.lastError);
    std::vector<uint8_t> state;
    if (!plugin.getState(state)) return failedAt(entry, "state", "getState failed");
    entry.stateSaved = true;
    if (!run.processBlock(plugin)) return failedAt(entry, "audio", "process failed");
    if (!plugin.setState(state)) return failedAt(entry, "state", "setState failed");
    if (!run.processBlock(plugin)) return failedAt(entry, "audio", "process failed");
    entry.note = "ok (no editor)";
    passed = true;
    return entry;
}

CompatibilityEntry testOne(ProbeRun &run, const PluginDescription &description, bool &passed) {
    if (description.format == "LV2" && !run.settings.sandboxed)
        return testLv2InProcess(run, description, passed);
    CompatibilityEntry entry = entryFor(description);
    passed = false;
    std::unique_ptr<Plugin> plugin = run.makePlugin();
    if (!ProbeRun::loadPlugin(*plugin, description))
        return failedAt(entry, "load", failureNote(run, *plugin, "load failed"));
    entry.loaded = true;
    if (!plugin->prepare(probeSampleRate, probeBlock))
        return failedAt(entry, "prepare", failureNote(run, *plugin, "prepare failed"));
    std::vector<uint8_t> state;
    if (!plugin->getState(state))
        return failedAt(entry, "state", failureNote(run, *plugin, "getState failed"));
    entry.stateSaved = true;
    if (!run.processBlock(*plugin))
        return failedAt(entry, "audio", failureNote(run, *plugin, "process failed"));
    if (!plugin->setState(state))
        return failedAt(entry, "state", failureNote(run, *plugin, "setState failed"));
    if (!run.processBlock(*plugin))
        return failedAt(entry, "audio", failureNote(run, *plugin, "process failed"));
    if (plugin->hasEditor()) {
        entry.editorOpened = plugin->openEditor();
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
    // One plug-in of each format: the helper hosts both.
    std::vector<std::string> formatsChecked;
    for (const PluginDescription &description : run.descriptions) {
        if (!run.qualifies(description) || std::find(formatsChecked.begin(), formatsChecked.end(),
                                                     description.format) != formatsChecked.end())
            continue;
        SandboxedPlugin plugin(controller);
        if (!ProbeRun::loadPlugin(plugin, description) ||
            !plugin.prepare(probeSampleRate, probeBlock))
            continue;
        formatsChecked.push_back(description.format);
        ok = run.processBlock(plugin) && ok;
        if (ok && displayAvailable() && plugin.hasEditor()) ok = plugin.openEditor();
        plugin.closeEditor();
        plugin.unload();
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
        int done = 0;
        if (description.format == "LV2" && !run.settings.sandboxed) {
            lv2::Lv2Plugin plugin;
            if (!plugin.load(lv2::uriFromPluginId(description.uid)) ||
                !plugin.prepare(probeSampleRate, probeBlock))
                continue;
            while (done < blocks && run.processBlock(plugin))
                ++done;
            return done;
        }
        std::unique_ptr<Plugin> plugin = run.makePlugin();
        if (!ProbeRun::loadPlugin(*plugin, description) ||
            !plugin->prepare(probeSampleRate, probeBlock))
            continue;
        while (done < blocks && run.processBlock(*plugin))
            ++done;
        return done;
    }
    return 0;
}

} // namespace

std::vector<std::string> probeSummaryByFormat(const std::vector<CompatibilityEntry> &entries) {
    struct Counts {
        int plugins = 0, passed = 0;
        std::map<std::string, int> failedAt;
    };
    std::map<std::string, Counts> byFormat;
    for (const CompatibilityEntry &entry : entries) {
        Counts &counts = byFormat[entry.format];
        ++counts.plugins;
        if (entry.failedStage.empty() && entry.loaded)
            ++counts.passed;
        else
            ++counts.failedAt[entry.failedStage.empty() ? "load" : entry.failedStage];
    }
    std::vector<std::string> lines;
    for (const auto &[format, counts] : byFormat) {
        std::ostringstream line;
        line << format << ": plug-ins " << counts.plugins << ", passed " << counts.passed;
        for (const char *stage : {"load", "prepare", "state", "audio"}) {
            const auto failed = counts.failedAt.find(stage);
            line << ", failed " << stage << ' '
                 << (failed == counts.failedAt.end() ? 0 : failed->second);
        }
        lines.push_back(line.str());
    }
    return lines;
}

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
    // The entries go back to the caller either way; the file is only a copy for later.
    if (!result.entries.empty())
        (void)saveCompatibilityReport(defaultVstCompatPath(), result.entries);
    if (soakSeconds > 0 && result.passed > 0) result.soakBlocks = soak(run, soakSeconds, passedIds);
    run.controller.shutdownSandbox();
    return result;
}

} // namespace orvane::vst
