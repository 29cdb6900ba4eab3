#include "device/DeviceSettings.h"
#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <pwd.h>
#include <unistd.h>

using namespace orvane;
using orvane::testing::ScopedEnvironment;
namespace fs = std::filesystem;

namespace {

fs::path scratchFolder(const std::string &name) {
    const fs::path folder =
        fs::path(::testing::TempDir()) / ("halvora_settings_" + std::to_string(::getpid()) + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

void writeText(const fs::path &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const fs::path &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct PathCase {
    std::optional<std::string> xdgConfigHome;
    std::optional<std::string> home;
    std::string expected; // "" = the user database's home + "/.config/Halvora/settings.ini"
};

TEST(DeviceSettingsPath, FollowsTheBaseDirectoryRules) {
    const passwd *entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    const std::string databaseHome = entry->pw_dir;
    const std::vector<PathCase> cases{
        {"/cfg", "/home/someone", "/cfg/Halvora/settings.ini"},
        {std::nullopt, "/home/someone", "/home/someone/.config/Halvora/settings.ini"},
        {"", "/home/someone", "/home/someone/.config/Halvora/settings.ini"},
        {"relative/cfg", "/home/someone", "/home/someone/.config/Halvora/settings.ini"},
        {std::nullopt, std::nullopt, databaseHome + "/.config/Halvora/settings.ini"},
    };
    for (const auto &test : cases) {
        ScopedEnvironment config("XDG_CONFIG_HOME", test.xdgConfigHome);
        ScopedEnvironment home("HOME", test.home);
        EXPECT_EQ(deviceSettingsPath(), fs::path(test.expected));
    }
}

TEST(DeviceSettings, MissingFileGivesTheDefaults) {
    const DeviceSettings settings = loadDeviceSettings(scratchFolder("missing") / "settings.ini");
    EXPECT_EQ(settings.outputDevice, "");
    EXPECT_EQ(settings.inputDevice, "");
    EXPECT_EQ(settings.bufferSize, 512);
}

TEST(DeviceSettings, SavedChoicesComeBackAndOtherLinesStay) {
    const fs::path path = scratchFolder("roundtrip") / "Halvora" / "settings.ini";
    fs::create_directories(path.parent_path());
    writeText(path, "# written by hand\nhv.firstRunDone=1\nhv.bufferSize=128\n"
                    "hv.bufferSize=256\n[Section]\n");
    std::string error;
    ASSERT_TRUE(saveDeviceSettings(path, {"ALSA: USB Audio = hw:1,0", "JACK", 1024}, error))
        << error;
    const DeviceSettings loaded = loadDeviceSettings(path);
    EXPECT_EQ(loaded.outputDevice, "ALSA: USB Audio = hw:1,0");
    EXPECT_EQ(loaded.inputDevice, "JACK");
    EXPECT_EQ(loaded.bufferSize, 1024);
    const std::string text = readText(path);
    EXPECT_NE(text.find("# written by hand\nhv.firstRunDone=1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Section]"), std::string::npos);
    // The duplicate line is folded into the one value now stored.
    EXPECT_EQ(text.find("hv.bufferSize=256"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(path.string() + ".partial"));
}

TEST(DeviceSettings, BufferSizesAreClampedAndNonsenseIsReported) {
    struct Case {
        std::string value;
        int32_t expected;
        bool warned;
    };
    const fs::path path = scratchFolder("buffers") / "settings.ini";
    for (const Case &test : std::vector<Case>{{"16", 64, false},
                                              {"10000", 4096, false},
                                              {"256", 256, false},
                                              {"-5", 64, false},
                                              {"0", 512, false},
                                              {"lots", 512, true},
                                              {"", 512, true},
                                              {"12abc", 512, true}}) {
        writeText(path, "hv.outputDevice = Null \nhv.bufferSize=" + test.value + "\n");
        std::string warnings;
        const DeviceSettings settings = loadDeviceSettings(path, &warnings);
        EXPECT_EQ(settings.bufferSize, test.expected) << test.value;
        EXPECT_EQ(!warnings.empty(), test.warned) << test.value << ": " << warnings;
        EXPECT_EQ(settings.outputDevice, "Null");
    }
}

TEST(DeviceSettings, TransportSyncChoicesComeBackAndNonsenseIsReported) {
    const fs::path path = scratchFolder("sync") / "settings.ini";
    std::string error;
    DeviceSettings chosen;
    chosen.sync = {JackTransportMode::follow, MidiClockMode::in, true};
    ASSERT_TRUE(saveDeviceSettings(path, chosen, error)) << error;
    EXPECT_EQ(loadDeviceSettings(path).sync, chosen.sync);
    EXPECT_NE(readText(path).find("hv.jackTransport=follow\n"), std::string::npos);

    struct Case {
        std::string line;
        TransportSyncSettings expected;
        bool warned;
    };
    for (const Case &test : std::vector<Case>{
             {"hv.jackTransport=lead", {JackTransportMode::lead}, false},
             {"hv.jackTransport=master", {}, true},
             {"hv.midiClock = out ", {JackTransportMode::off, MidiClockMode::out}, false},
             {"hv.midiClock=OUT", {}, true},
             {"hv.followClockTempo=1", {JackTransportMode::off, MidiClockMode::off, true}, false},
             {"hv.followClockTempo=yes", {}, true}}) {
        writeText(path, test.line + "\n");
        std::string warnings;
        EXPECT_EQ(loadDeviceSettings(path, &warnings).sync, test.expected) << test.line;
        EXPECT_EQ(!warnings.empty(), test.warned) << test.line << ": " << warnings;
    }
}

TEST(DeviceSettings, ALineBreakInANameCannotAddSettings) {
    const fs::path path = scratchFolder("linebreak") / "settings.ini";
    std::string error;
    ASSERT_TRUE(saveDeviceSettings(path, {"Card\nhv.bufferSize=64", "", 2048}, error)) << error;
    const DeviceSettings loaded = loadDeviceSettings(path);
    EXPECT_EQ(loaded.outputDevice, "Card hv.bufferSize=64");
    EXPECT_EQ(loaded.bufferSize, 2048);
}

TEST(DeviceSettings, AnUnwritableFolderIsAnErrorAndLeavesNothingBehind) {
    const fs::path folder = scratchFolder("unwritable");
    const fs::path blocker = folder / "file";
    writeText(blocker, "x");
    std::string error;
    EXPECT_FALSE(saveDeviceSettings(blocker / "settings.ini", {}, error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
}

} // namespace
