#include "device/DeviceSettings.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace orvane {

namespace fs = std::filesystem;

namespace {

constexpr const char *outputKey = "hv.outputDevice";
constexpr const char *inputKey = "hv.inputDevice";
constexpr const char *bufferKey = "hv.bufferSize";
constexpr const char *jackTransportKey = "hv.jackTransport";
constexpr const char *midiClockKey = "hv.midiClock";
constexpr const char *followClockTempoKey = "hv.followClockTempo";

std::string environmentValue(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

fs::path homeFolder() {
    const std::string home = environmentValue("HOME");
    if (!home.empty()) return home;
    // Never a shared folder: without a home there is nowhere private to keep settings.
    if (const passwd *entry = ::getpwuid(::getuid()); entry && entry->pw_dir && *entry->pw_dir)
        return entry->pw_dir;
    return {};
}

std::string trim(const std::string &text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

struct SettingLine {
    std::string key;
    std::string value;
};

bool splitSettingLine(const std::string &line, SettingLine &setting) {
    const std::string text = trim(line);
    if (text.empty() || text[0] == '#' || text[0] == ';' || text[0] == '[') return false;
    const auto equals = text.find('=');
    if (equals == std::string::npos) return false;
    setting = {trim(text.substr(0, equals)), trim(text.substr(equals + 1))};
    return true;
}

std::vector<std::string> readLines(const fs::path &path) {
    std::vector<std::string> lines;
    std::ifstream file(path, std::ios::binary);
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

void addWarning(std::string *warnings, const std::string &text) {
    if (!warnings) return;
    if (!warnings->empty()) *warnings += "\n";
    *warnings += text;
}

void applySetting(const SettingLine &setting, DeviceSettings &settings, std::string *warnings) {
    if (setting.key == outputKey) {
        settings.outputDevice = setting.value;
    } else if (setting.key == inputKey) {
        settings.inputDevice = setting.value;
    } else if (setting.key == bufferKey) {
        int64_t frames = 0;
        const char *end = setting.value.data() + setting.value.size();
        const auto [stop, fault] = std::from_chars(setting.value.data(), end, frames);
        if (fault != std::errc{} || stop != end || setting.value.empty())
            addWarning(warnings, std::string(bufferKey) + " \"" + setting.value +
                                     "\" is not a number of frames; using " +
                                     std::to_string(settings.bufferSize));
        else if (frames == 0)
            // No stored size: the device starts at its default period.
            settings.bufferSize = DeviceSettings{}.bufferSize;
        else
            settings.bufferSize = clampBufferFrames(frames);
    } else if (setting.key == jackTransportKey) {
        if (const auto mode = parseJackTransportMode(setting.value))
            settings.sync.jackTransport = *mode;
        else
            addWarning(warnings, std::string(jackTransportKey) + " \"" + setting.value +
                                     "\" is none of off, lead, follow; using off");
    } else if (setting.key == midiClockKey) {
        if (const auto mode = parseMidiClockMode(setting.value))
            settings.sync.midiClock = *mode;
        else
            addWarning(warnings, std::string(midiClockKey) + " \"" + setting.value +
                                     "\" is none of off, out, in; using off");
    } else if (setting.key == followClockTempoKey) {
        if (setting.value == "0" || setting.value == "1")
            settings.sync.followClockTempo = setting.value == "1";
        else
            addWarning(warnings, std::string(followClockTempoKey) + " \"" + setting.value +
                                     "\" is neither 0 nor 1; using 0");
    }
}

/// One value per line: a device name with a line break in it would split the file.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return trim(text);
}

} // namespace

fs::path userHomeFolder() { return homeFolder(); }

int32_t clampBufferFrames(int64_t frames) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(frames, smallestBufferFrames, largestBufferFrames));
}

fs::path deviceSettingsPath() {
    fs::path base = environmentValue("XDG_CONFIG_HOME");
    // The base directory rules ignore a relative path.
    if (base.empty() || base.is_relative()) {
        const fs::path home = homeFolder();
        if (home.empty()) return {};
        base = home / ".config";
    }
    return base / "Halvora" / "settings.ini";
}

DeviceSettings loadDeviceSettings(const fs::path &path, std::string *warnings) {
    DeviceSettings settings;
    for (const std::string &line : readLines(path)) {
        SettingLine setting;
        if (splitSettingLine(line, setting)) applySetting(setting, settings, warnings);
    }
    return settings;
}

bool saveDeviceSettings(const fs::path &path, const DeviceSettings &settings, std::string &error) {
    const std::vector<std::pair<std::string, std::string>> values{
        {outputKey, oneLine(settings.outputDevice)},
        {inputKey, oneLine(settings.inputDevice)},
        {bufferKey, std::to_string(clampBufferFrames(settings.bufferSize))},
        {jackTransportKey, jackTransportModeName(settings.sync.jackTransport)},
        {midiClockKey, midiClockModeName(settings.sync.midiClock)},
        {followClockTempoKey, settings.sync.followClockTempo ? "1" : "0"}};
    std::ostringstream text;
    std::vector<bool> written(values.size(), false);
    for (const std::string &line : readLines(path)) {
        SettingLine setting;
        const auto match = std::find_if(values.begin(), values.end(), [&](const auto &value) {
            return splitSettingLine(line, setting) && setting.key == value.first;
        });
        if (match == values.end()) {
            text << line << '\n';
            continue;
        }
        const auto index = static_cast<std::size_t>(match - values.begin());
        if (!written[index]) text << match->first << '=' << match->second << '\n';
        written[index] = true;
    }
    for (std::size_t index = 0; index < values.size(); ++index)
        if (!written[index]) text << values[index].first << '=' << values[index].second << '\n';

    std::error_code fault;
    fs::create_directories(path.parent_path(), fault);
    const fs::path partial = path.string() + ".partial";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        file << text.str();
        file.flush();
        if (!file) {
            fs::remove(partial, fault);
            error = "cannot write \"" + path.string() + "\"";
            return false;
        }
    }
    fs::rename(partial, path, fault);
    if (fault) {
        fs::remove(partial, fault);
        error = "cannot write \"" + path.string() + "\": " + fault.message();
        return false;
    }
    return true;
}

} // namespace orvane
