#include "core/plugins/PluginPresets.h"

#include "core/plugins/lv2/Lv2Presets.h"
#include "core/plugins/lv2/Lv2World.h"
#include "core/plugins/vst3/PluginScanner.h"
#include "core/plugins/vst3/Vst3Plugin.h"
#include "core/plugins/vst3/VstPresetFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace orvane::vst {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view lv2BundleSuffix = ".preset.lv2";
constexpr std::string_view vstPresetSuffix = ".vstpreset";
/// Larger files are no presets: a preset holds a plug-in's settings, not its samples.
constexpr std::uintmax_t largestPresetFile = 16u * 1024u * 1024u;

bool isVst3ClassId(const std::string &pluginId) {
    return pluginId.size() == 32 && std::all_of(pluginId.begin(), pluginId.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
           });
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    return text;
}

/// A folder or file name for `text`: characters that a path would read as structure, or
/// that hide a file, become "_".
std::string safeName(const std::string &text) {
    std::string name;
    for (const char c : text)
        name += (static_cast<unsigned char>(c) < 0x20 || c == '/' || c == '\\') ? '_' : c;
    if (name.empty() || name[0] == '.') name.insert(name.begin(), '_');
    // Names stay well below the 255 bytes a file name may have, suffix included.
    if (name.size() > 180) name.resize(180);
    return name;
}

std::string uriFolderName(const std::string &uri) {
    std::string name;
    for (const char c : uri)
        name += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
    return safeName(name);
}

bool endsWith(const std::string &text, std::string_view suffix) {
    return text.size() > suffix.size() && text.ends_with(suffix);
}

std::vector<fs::path> entriesEndingIn(const fs::path &folder, std::string_view suffix) {
    std::vector<fs::path> found;
    std::error_code fault;
    for (fs::directory_iterator entry(folder, fault), end; !fault && entry != end;
         entry.increment(fault))
        if (endsWith(entry->path().filename().string(), suffix)) found.push_back(entry->path());
    std::sort(found.begin(), found.end());
    return found;
}

bool readFileBytes(const fs::path &path, std::vector<uint8_t> &bytes, std::string &error) {
    std::error_code fault;
    const std::uintmax_t size = fs::file_size(path, fault);
    if (fault) {
        error = "the preset " + path.string() + " cannot be read: " + fault.message();
        return false;
    }
    if (size > largestPresetFile) {
        error = "the preset " + path.string() + " is too large to be a preset";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.eof() && !in.good()) {
        error = "the preset " + path.string() + " cannot be read";
        return false;
    }
    return true;
}

bool readVstPreset(const std::string &classId, const fs::path &path, std::vector<uint8_t> &state,
                   std::string &error) {
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, bytes, error)) return false;
    VstPresetFile preset;
    if (!readVstPresetFile(bytes, preset, error)) {
        error = "the preset " + path.string() + " is damaged: " + error;
        return false;
    }
    if (preset.classId != upper(classId)) {
        error = "the preset " + path.string() + " is for another plug-in";
        return false;
    }
    state = std::move(preset.componentState);
    return true;
}

void listUserLv2(const std::string &uri, const fs::path &folder, PresetListing &listing) {
    std::vector<PluginPreset> found;
    for (const fs::path &bundle : entriesEndingIn(folder, lv2BundleSuffix)) {
        std::string name, problem;
        std::vector<uint8_t> state;
        if (lv2::readLv2PresetBundle(uri, bundle.string(), name, state, problem))
            found.push_back({name, PresetOrigin::user, bundle.string()});
        else
            listing.problems.push_back(problem);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto &a, const auto &b) { return a.name < b.name; });
    listing.presets.insert(listing.presets.end(), found.begin(), found.end());
}

void listUserVst3(const std::string &classId, const fs::path &folder, PresetListing &listing) {
    for (const fs::path &file : entriesEndingIn(folder, vstPresetSuffix)) {
        std::vector<uint8_t> state;
        std::string problem;
        const std::string fileName = file.filename().string();
        if (readVstPreset(classId, file, state, problem))
            listing.presets.push_back({fileName.substr(0, fileName.size() - vstPresetSuffix.size()),
                                       PresetOrigin::user, file.string()});
        else
            listing.problems.push_back(problem);
    }
}

constexpr std::string_view programPrefix = "program:";

std::string programLocation(const Vst3Program &program) {
    char value[32];
    std::snprintf(value, sizeof value, "%.9g", static_cast<double>(program.normalized));
    return std::string(programPrefix) + std::to_string(program.parameterId) + ":" + value;
}

bool parseProgramLocation(const std::string &location, uint32_t &parameterId, float &normalized) {
    if (!location.starts_with(programPrefix)) return false;
    const char *text = location.c_str() + programPrefix.size();
    char *end = nullptr;
    const unsigned long id = std::strtoul(text, &end, 10);
    if (end == text || *end != ':' || id > UINT32_MAX) return false;
    text = end + 1;
    normalized = std::strtof(text, &end);
    parameterId = static_cast<uint32_t>(id);
    return end != text && *end == '\0' && normalized >= 0.0f && normalized <= 1.0f;
}

bool programOfPreset(const PluginPreset &preset, Vst3Program &program, std::string &error) {
    program = {preset.name};
    if (parseProgramLocation(preset.location, program.parameterId, program.normalized)) return true;
    error = "\"" + preset.name + "\" is no program of the plug-in";
    return false;
}

bool loadVst3(Vst3Plugin &plugin, const std::string &bundle, const std::string &classId,
              std::string &error) {
    if (!plugin.load(bundle, upper(classId)) || upper(plugin.description.uid) != upper(classId)) {
        error = "the VST 3 plug-in " + classId + " cannot be loaded from " + bundle;
        return false;
    }
    return true;
}

bool listPrograms(const std::string &classId, const std::string &bundle, PresetListing &listing,
                  std::string &error) {
    Vst3Plugin plugin;
    if (!loadVst3(plugin, bundle, classId, error)) return false;
    for (const Vst3Program &program : plugin.factoryPrograms())
        listing.presets.push_back({program.name, PresetOrigin::factory, programLocation(program)});
    return true;
}

bool programState(const std::string &classId, const std::string &bundle, const PluginPreset &preset,
                  std::vector<uint8_t> &state, std::string &error) {
    Vst3Program program;
    Vst3Plugin plugin;
    return programOfPreset(preset, program, error) && loadVst3(plugin, bundle, classId, error) &&
           Vst3Plugin::stateOfProgram(plugin, program, state, error);
}

bool writeFileReplacing(const fs::path &target, const std::vector<uint8_t> &bytes,
                        std::string &error) {
    std::string pattern = (target.parent_path() / ".writing-XXXXXX").string();
    const int descriptor = mkstemp(pattern.data());
    if (descriptor < 0) {
        error = "the preset folder " + target.parent_path().string() + " cannot be written";
        return false;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t wrote = ::write(descriptor, bytes.data() + written, bytes.size() - written);
        if (wrote <= 0) break;
        written += static_cast<std::size_t>(wrote);
    }
    const bool complete = written == bytes.size() && ::fsync(descriptor) == 0;
    ::close(descriptor);
    std::error_code fault;
    if (complete) fs::rename(pattern, target, fault);
    if (!complete || fault) {
        fs::remove(pattern, fault);
        error = "the preset could not be written to " + target.string();
        return false;
    }
    return true;
}

} // namespace

std::string userPresetRoot() { return (fs::path(userDataHome()) / "halvora" / "presets").string(); }

std::string userPresetFolder(const std::string &pluginId) {
    if (lv2::isLv2PluginId(pluginId))
        return (fs::path(userPresetRoot()) / "lv2" / uriFolderName(lv2::uriFromPluginId(pluginId)))
            .string();
    if (isVst3ClassId(pluginId))
        return (fs::path(userPresetRoot()) / "vst3" / upper(pluginId)).string();
    return {};
}

bool listPluginPresets(const std::string &pluginId, PresetListing &listing, std::string &error,
                       const std::string &vst3Bundle) {
    listing = {};
    const fs::path folder = userPresetFolder(pluginId);
    if (lv2::isLv2PluginId(pluginId)) {
        const std::string uri = lv2::uriFromPluginId(pluginId);
        std::vector<lv2::Lv2FactoryPreset> factory;
        if (!lv2::listLv2FactoryPresets(uri, factory, error)) return false;
        for (const lv2::Lv2FactoryPreset &preset : factory)
            listing.presets.push_back({preset.name, PresetOrigin::factory, preset.uri});
        listUserLv2(uri, folder, listing);
        return true;
    }
    if (isVst3ClassId(pluginId)) {
        if (!vst3Bundle.empty() && !listPrograms(pluginId, vst3Bundle, listing, error))
            return false;
        listUserVst3(pluginId, folder, listing);
        return true;
    }
    error = "\"" + pluginId + "\" is neither an LV2 plug-in id (lv2:URI) nor a VST 3 class id";
    return false;
}

bool listPresetsOf(Plugin &live, PresetListing &listing, std::string &error) {
    const std::string &pluginId = live.description.uid;
    if (!isVst3ClassId(pluginId)) return listPluginPresets(pluginId, listing, error);
    listing = {};
    for (const Vst3Program &program : live.factoryPrograms())
        listing.presets.push_back({program.name, PresetOrigin::factory, programLocation(program)});
    listUserVst3(pluginId, userPresetFolder(pluginId), listing);
    return true;
}

bool readPresetStateOf(Plugin &live, const PluginPreset &preset, std::vector<uint8_t> &state,
                       std::string &error) {
    const std::string &pluginId = live.description.uid;
    if (!isVst3ClassId(pluginId) || preset.origin == PresetOrigin::user)
        return readPresetState(pluginId, preset, state, error);
    Vst3Program program;
    return programOfPreset(preset, program, error) && live.programState(program, state, error);
}

std::string findVst3Bundle(const std::string &classId) {
    PluginScanner scanner;
    scanner.setSearchPaths(defaultVst3Paths());
    (void)scanner.loadBlacklist(defaultVstBlacklistPath());
    for (const PluginDescription &description :
         scanner.scanWithDescriber(describeBundleInProcess, defaultVstScanCachePath()))
        if (upper(description.uid) == upper(classId)) return description.path;
    return {};
}

std::optional<PluginPreset> findPresetByName(const PresetListing &listing,
                                             const std::string &name) {
    for (const PluginPreset &preset : listing.presets)
        if (preset.name == name) return preset;
    return std::nullopt;
}

bool readPresetState(const std::string &pluginId, const PluginPreset &preset,
                     std::vector<uint8_t> &state, std::string &error,
                     const std::string &vst3Bundle) {
    if (lv2::isLv2PluginId(pluginId)) {
        const std::string uri = lv2::uriFromPluginId(pluginId);
        if (preset.origin == PresetOrigin::factory)
            return lv2::lv2FactoryPresetState(uri, preset.location, state, error);
        std::string name;
        return lv2::readLv2PresetBundle(uri, preset.location, name, state, error);
    }
    if (isVst3ClassId(pluginId) && preset.origin == PresetOrigin::user)
        return readVstPreset(pluginId, preset.location, state, error);
    if (isVst3ClassId(pluginId) && !vst3Bundle.empty())
        return programState(pluginId, vst3Bundle, preset, state, error);
    error = "the plug-in " + pluginId + " has no preset \"" + preset.name + "\"";
    return false;
}

bool saveUserPreset(const std::string &pluginId, const std::string &name,
                    const std::vector<uint8_t> &state, std::string &error, std::string *savedPath) {
    const fs::path folder = userPresetFolder(pluginId);
    if (folder.empty()) {
        error = "\"" + pluginId + "\" is neither an LV2 plug-in id (lv2:URI) nor a VST 3 class id";
        return false;
    }
    if (name.empty()) {
        error = "a preset needs a name";
        return false;
    }
    std::error_code fault;
    fs::create_directories(folder, fault);
    if (fault) {
        error = "the preset folder " + folder.string() + " cannot be made: " + fault.message();
        return false;
    }
    fs::path target;
    if (lv2::isLv2PluginId(pluginId)) {
        target = folder / (safeName(name) + std::string(lv2BundleSuffix));
        if (!lv2::writeLv2PresetBundle(lv2::uriFromPluginId(pluginId), name, state, target.string(),
                                       error))
            return false;
    } else {
        target = folder / (safeName(name) + std::string(vstPresetSuffix));
        VstPresetFile preset;
        preset.classId = upper(pluginId);
        preset.componentState = state;
        if (!writeFileReplacing(target, writeVstPresetFile(preset), error)) return false;
    }
    if (savedPath) *savedPath = target.string();
    return true;
}

} // namespace orvane::vst
