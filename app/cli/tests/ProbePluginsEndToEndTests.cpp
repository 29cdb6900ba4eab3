// `Halvora probe-plugins` run as a user runs it, against zam-plugins and the project's own
// test plug-ins, one of them set to crash.
#include "app/cli/tests/RunProgram.h"
#include "core/plugins/CompatibilityProbe.h"
#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace orvane {
namespace {

using testing::ScopedEnvironment;

const std::string zamFolder = "/usr/lib/vst3";

TEST(ProbePluginsEndToEnd,
     SandboxedProbeRecordsTheCrashingPluginsPrintsTheTableAndWritesTheReport) {
    ASSERT_TRUE(std::filesystem::exists(zamFolder + "/ZamComp.vst3"))
        << "zam-plugins missing: run scripts/install-deps.sh";
    const auto scratch = testing::makeScratchFolder("probe_plugins");
    const auto allowList = scratch / "allow.txt";
    std::ofstream(allowList) << "zam\nmisbehaving\n";
    ScopedEnvironment folders("VST3_PATH", std::string(HALVORA_CRASH_BUNDLES_DIR) + ":" +
                                               HALVORA_TEST_BUNDLES_DIR + ":" + zamFolder);
    ScopedEnvironment supportFolder("XDG_DATA_HOME", (scratch / "support").string());
    ScopedEnvironment noLv2("LV2_PATH", (scratch / "lv2").string());
    ScopedEnvironment whitelist("HALVORA_VST_WHITELIST", allowList.string());
    ScopedEnvironment crashing("HALVORA_TEST_MISBEHAVIOUR", "crash");
    const char *sanitizerOptions = std::getenv("ASAN_OPTIONS");
    ScopedEnvironment crashAtOnce("ASAN_OPTIONS",
                                  std::string(sanitizerOptions ? sanitizerOptions : "") +
                                      ":detect_leaks=0:handle_segv=0");
    const auto run = testing::runHalvora({"probe-plugins", "--sandbox", "--soak", "1"}, scratch);
    ASSERT_EQ(run.exitStatus, 0) << "signal " << run.signal << ": " << run.errors;
    for (const char *expected :
         {"ZamComp", "crashed while loading", "process failed", "soak blocks 93", "whitelist 2",
          "built-in matrix:", "Surge XT", "Stock Reverb", "report: "})
        EXPECT_NE(run.output.find(expected), std::string::npos) << expected << "\n" << run.output;
    const auto report =
        vst::loadCompatibilityReport((scratch / "support" / "Halvora" / "vst_compat.tsv").string());
    int zamPassed = 0;
    for (const vst::CompatibilityEntry &entry : report)
        if (entry.name.starts_with("Zam") && entry.loaded && entry.stateSaved &&
            entry.note.starts_with("ok"))
            ++zamPassed;
    EXPECT_GE(zamPassed, 10) << "most of the zam-plugins are effects that pass";
}

TEST(ProbePluginsEndToEnd, TheSandboxPassesWhenItsHelperStartsOnAMachineWithoutPlugins) {
    const auto scratch = testing::makeScratchFolder("probe_plugins_empty");
    std::filesystem::create_directories(scratch / "vst3");
    ScopedEnvironment folders("VST3_PATH", (scratch / "vst3").string());
    ScopedEnvironment noLv2("LV2_PATH", (scratch / "lv2").string());
    ScopedEnvironment supportFolder("XDG_DATA_HOME", (scratch / "support").string());
    const auto run = testing::runHalvora({"probe-plugins", "--sandbox"}, scratch);
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    EXPECT_NE(run.output.find("found 0, tested 0, passed 0, soak blocks 0, sandbox ok"),
              std::string::npos)
        << run.output;
}

TEST(ProbePluginsEndToEnd, RefusesArgumentsItDoesNotKnow) {
    const auto scratch = testing::makeScratchFolder("probe_plugins_arguments");
    for (const std::vector<std::string> &arguments :
         {std::vector<std::string>{"probe-plugins", "--soak"},
          std::vector<std::string>{"probe-plugins", "--soak", "-1"},
          std::vector<std::string>{"probe-plugins", "--soak", "9999"},
          std::vector<std::string>{"probe-plugins", "--fast"}}) {
        const auto run = testing::runHalvora(arguments, scratch);
        EXPECT_EQ(run.exitStatus, 2) << arguments.back();
        EXPECT_NE(run.errors.find("usage: Halvora probe-plugins"), std::string::npos);
    }
}

} // namespace
} // namespace orvane
