#include "app/shell/tests/ApplicationTestSupport.h"

#include "device/DeviceSettings.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <stdlib.h>

namespace orvane::testing {

namespace fs = std::filesystem;

namespace {
fs::path freshFolder(const std::string &label) {
    std::string pattern =
        (fs::temp_directory_path() / ("halvora_home_" + label + "_XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) return {};
    return pattern;
}
} // namespace

TemporaryHome::TemporaryHome(const std::string &label, PluginIsolation isolation)
    : folder(freshFolder(label)) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> settings = {
        {"HOME", (folder / "home").string()},
        {"XDG_DATA_HOME", (folder / "data").string()},
        {"XDG_STATE_HOME", (folder / "state").string()},
        {"XDG_CONFIG_HOME", (folder / "config").string()},
        {"JACK_NO_START_SERVER", "1"},
        {"JACK_DEFAULT_SERVER", "halvora-no-server-" + label},
        {"HALVORA_VST_SANDBOX",
         isolation == PluginIsolation::Off ? std::optional<std::string>("0") : std::nullopt},
    };
    fs::create_directories(folder / "home");
    for (const auto &[name, value] : settings)
        variables.push_back(std::make_unique<ScopedEnvironment>(name, value));
}

TemporaryHome::~TemporaryHome() {
    std::error_code ignored;
    if (!folder.empty()) fs::remove_all(folder, ignored);
}

std::string readTextFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeTextFile(const fs::path &path, const std::string &text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void TemporaryHome::rememberOutputDevice(const std::string &name) const {
    DeviceSettings settings;
    settings.outputDevice = name;
    std::string error;
    ASSERT_TRUE(saveDeviceSettings(deviceSettingsPath(), settings, error)) << error;
}

namespace {
template <class Queue> auto takeFront(Queue &queue, const char *what) {
    if (queue.empty()) {
        ADD_FAILURE() << "unexpected " << what;
        return typename Queue::value_type{};
    }
    auto value = std::move(queue.front());
    queue.pop_front();
    return value;
}
} // namespace

int ScriptedUi::runAlert(const std::string &title, const std::string &text,
                         const std::vector<std::string> &buttons) {
    alerts.push_back({title, text, buttons});
    const std::string answer = takeFront(alertAnswers, ("alert \"" + title + "\"").c_str());
    const auto found = std::find(buttons.begin(), buttons.end(), answer);
    if (found == buttons.end()) return -1;
    return static_cast<int>(found - buttons.begin());
}

std::optional<std::string> ScriptedUi::chooseSaveLocation(const std::string &,
                                                          const std::string &defaultName) {
    offeredSaveNames.push_back(defaultName);
    return takeFront(saveLocations, "save chooser");
}

std::vector<std::string>
ScriptedUi::chooseFilesToOpen(const std::string &, const std::vector<std::string> &types, bool) {
    offeredTypes = types;
    return takeFront(filesToOpen, "open chooser");
}

std::optional<std::string> ScriptedUi::chooseFolder(const std::string &) {
    return takeFront(folders, "folder chooser");
}

bool ScriptedUi::showedStatus(const std::string &text) const {
    return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
}

bool ScriptedUi::scriptUsedUp() const {
    return alertAnswers.empty() && saveLocations.empty() && filesToOpen.empty() && folders.empty();
}

std::vector<std::string> invalidLogLines(const fs::path &folder) {
    std::vector<std::string> invalid;
    std::error_code error;
    if (!fs::exists(folder, error)) return invalid;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".jsonl") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::string line;
        for (int number = 1; std::getline(in, line); ++number)
            if (!nlohmann::json::accept(line))
                invalid.push_back(entry.path().filename().string() + ":" + std::to_string(number) +
                                  ": " + line);
    }
    return invalid;
}

} // namespace orvane::testing
