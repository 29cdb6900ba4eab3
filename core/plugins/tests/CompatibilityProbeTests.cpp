#include "core/plugins/CompatibilityProbe.h"

#include "core/plugins/sandbox/tests/SandboxTestSupport.h"
#include "core/plugins/vst3/PluginScanner.h"

#include <gtest/gtest.h>

#include <fstream>

namespace orvane::vst {
namespace {

using namespace testing;

const std::string misbehavingUid = "48564C544D4953424548415645464658";

/// The probe's world: the VST 3 and LV2 folders named (no LV2 folder unless given), a private
/// support folder, an allow-list file.
class ProbeEnvironment {
  public:
    ProbeEnvironment(const std::string &folders, const std::vector<std::string> &patterns,
                     const std::string &lv2Folders = "")
        : vst3Path("VST3_PATH", folders), dataHome("XDG_DATA_HOME", support.path().string()),
          whitelist("HALVORA_VST_WHITELIST", (support.path() / "allow.txt").string()),
          lv2Path("LV2_PATH", lv2Folders.empty() ? (support.path() / "lv2").string() : lv2Folders) {
        std::ofstream file(support.path() / "allow.txt");
        file << "# what this test probes\n";
        for (const std::string &pattern : patterns)
            file << pattern << '\n';
    }

    ProbeSettings settings(bool sandboxed) const { return {sandboxed, helperProgramFolder()}; }

  private:
    TemporaryFolder support;
    ScopedEnvironment vst3Path;
    ScopedEnvironment dataHome;
    ScopedEnvironment whitelist;
    ScopedEnvironment lv2Path;
};

const CompatibilityEntry *entryFor(const std::vector<CompatibilityEntry> &entries,
                                   const std::string &id) {
    for (const CompatibilityEntry &entry : entries)
        if (entry.id == id) return &entry;
    return nullptr;
}

TEST(CompatibilityReport, MatrixListsTheTestedPluginsAndTheBuiltInProcessors) {
    std::vector<CompatibilityEntry> matrix = builtInTestMatrix();
    ASSERT_EQ(matrix.size(), 8u);
    EXPECT_EQ(matrix[0].name, "Surge XT");
    EXPECT_EQ(matrix[0].note, "Free synth — primary smoke test");
    EXPECT_FALSE(matrix[0].loaded);
    EXPECT_EQ(matrix[7].id, "stock.reverb");
    EXPECT_TRUE(matrix[7].loaded && matrix[7].stateSaved && matrix[7].editorOpened);
}

TEST(CompatibilityReport, ReadsOnlyOneAsTrueSkipsShortLinesAndMergesById) {
    TemporaryFolder folder;
    const std::string path = (folder.path() / "deep" / "vst_compat.tsv").string();
    ASSERT_TRUE(saveCompatibilityReport(path, {{"Old", "a", true, true, false, "ok (no editor)"},
                                               {"Kept", "b", false, false, false, "load failed"}}));
    {
        std::ofstream append(path, std::ios::app);
        append << "c\tTrue flags\ttrue\t1\t0\tnote\twith a tab\n";
        append << "d\tshort\t1\t1\n";
    }
    ASSERT_TRUE(saveCompatibilityReport(path, {{"New", "a", true, true, true, "ok"}}));
    std::vector<CompatibilityEntry> read = loadCompatibilityReport(path);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0].name, "New");
    EXPECT_TRUE(read[0].editorOpened);
    EXPECT_EQ(read[1].note, "load failed");
    EXPECT_FALSE(read[2].loaded) << "only \"1\" is true";
    EXPECT_TRUE(read[2].stateSaved);
    // The rest of the line is the note; written back, its tab becomes a space.
    EXPECT_EQ(read[2].note, "note with a tab");
    EXPECT_TRUE(loadCompatibilityReport((folder.path() / "missing.tsv").string()).empty());
}

TEST(CompatibilityProbe, AMaximumOfZeroFindsThePluginsAndWritesNoReport) {
    ProbeEnvironment environment(testBundlesDir(), {});
    VstCompatibilityResult result = runVstCompatibilityProbe(0, 0, environment.settings(false));
    EXPECT_EQ(result.found, 2);
    EXPECT_EQ(result.tested, 0);
    EXPECT_TRUE(result.entries.empty());
    EXPECT_FALSE(std::filesystem::exists(defaultVstCompatPath()));
}

TEST(CompatibilityProbe, TestsEffectsInProcessSoaksOneAndChecksTheSandbox) {
    ASSERT_TRUE(zamPluginsInstalled());
    ThirdPartyLeaksIgnored zamLeaks;
    ProbeEnvironment environment(testBundlesDir() + ":" + zamDir(), {"Misbehaving", "ZamCompX2"});
    VstCompatibilityResult result = runVstCompatibilityProbe(10, 2, environment.settings(false));
    EXPECT_EQ(result.whitelistSize, 2);
    EXPECT_EQ(result.tested, 2) << "the instrument and the other plug-ins are left out";
    EXPECT_EQ(result.passed, 2);
    EXPECT_EQ(result.soakBlocks, 187);
    EXPECT_TRUE(result.sandboxOk);
    std::vector<CompatibilityEntry> report = loadCompatibilityReport(defaultVstCompatPath());
    const CompatibilityEntry *effect = entryFor(report, misbehavingUid);
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(effect->loaded && effect->stateSaved);
    EXPECT_EQ(effect->note, "ok (no editor)");
}

TEST(CompatibilityProbe, SandboxedItRecordsPluginsThatCrashAndGoesOn) {
    ASSERT_TRUE(zamPluginsInstalled());
    ThirdPartyLeaksIgnored zamLeaks;
    ScopedEnvironment immediateCrash("ASAN_OPTIONS",
                                     withSanitizerOption("ASAN_OPTIONS", "handle_segv=0"));
    ScopedEnvironment crashing("HALVORA_TEST_MISBEHAVIOUR", "crash");
    ProbeEnvironment environment(crashBundlesDir() + ":" + testBundlesDir() + ":" + zamDir(),
                                 {"Misbehaving", "ZamCompX2", "ZamEQ2"});
    VstCompatibilityResult result = runVstCompatibilityProbe(10, 1, environment.settings(true));
    EXPECT_EQ(result.tested, 3);
    EXPECT_EQ(result.passed, 2);
    EXPECT_EQ(result.soakBlocks, 93) << "a plug-in that passed is soaked";
    std::vector<CompatibilityEntry> report = loadCompatibilityReport(defaultVstCompatPath());
    const CompatibilityEntry *effect = entryFor(report, misbehavingUid);
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(effect->loaded);
    EXPECT_EQ(effect->note, "process failed: PROCESS read failed");
    const CompatibilityEntry *crashed = entryFor(report, crashOnLoadPath());
    ASSERT_NE(crashed, nullptr);
    EXPECT_EQ(crashed->note, "crashed while loading");
    EXPECT_FALSE(crashed->loaded);
}

const std::string lv2CrashId = "lv2:urn:halvora:test:crash-on-instantiate";

TEST(CompatibilityProbe, Lv2PluginsAreCheckedInTheSameReportAndACrashEndsNothing) {
    TemporaryFolder noVst3;
    ProbeEnvironment environment(noVst3.path().string(), {"x42-eq", "Halvora Crash"},
                                 std::string(HALVORA_LV2_TEST_BUNDLES_DIR) + ":/usr/lib/lv2");
    const VstCompatibilityResult result =
        runVstCompatibilityProbe(100, 1, environment.settings(true));
    EXPECT_EQ(result.tested, 3);
    EXPECT_EQ(result.passed, 2);
    EXPECT_TRUE(result.sandboxOk);
    EXPECT_EQ(result.soakBlocks, 93) << "an LV2 plug-in that passed is soaked";
    const CompatibilityEntry *crash = entryFor(result.entries, lv2CrashId);
    ASSERT_NE(crash, nullptr);
    EXPECT_EQ(crash->format, "LV2");
    // An LV2 plug-in's code first runs when it is instantiated, at prepare.
    EXPECT_EQ(crash->failedStage, "prepare");
    EXPECT_NE(crash->note.find("Helper crashed in PREPARE"), std::string::npos) << crash->note;
    const std::vector<std::string> summary = probeSummaryByFormat(result.entries);
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_EQ(summary[0], "LV2: plug-ins 3, passed 2, failed load 0, failed prepare 1, failed "
                          "state 0, failed audio 0");
    const auto report = loadCompatibilityReport(defaultVstCompatPath());
    EXPECT_NE(entryFor(report, lv2CrashId), nullptr);
}

TEST(CompatibilityProbe, Lv2PluginsPassInProcessToo) {
    TemporaryFolder noVst3;
    ProbeEnvironment environment(noVst3.path().string(), {"x42-eq"}, "/usr/lib/lv2");
    const VstCompatibilityResult result =
        runVstCompatibilityProbe(100, 0, environment.settings(false));
    EXPECT_EQ(result.tested, 2);
    EXPECT_EQ(result.passed, 2);
    for (const CompatibilityEntry &entry : result.entries) {
        EXPECT_TRUE(entry.loaded && entry.stateSaved) << entry.id;
        EXPECT_TRUE(entry.failedStage.empty()) << entry.id << ": " << entry.note;
    }
}

TEST(CompatibilityProbe, TheSummaryCountsEachFormatAndStage) {
    std::vector<CompatibilityEntry> entries(4);
    entries[0].format = "LV2";
    entries[0].loaded = true;
    entries[1].format = "LV2";
    entries[1].loaded = true;
    entries[1].failedStage = "state";
    entries[2].loaded = false; // a VST 3 bundle that crashed while being looked at
    entries[3].loaded = true;
    EXPECT_EQ(probeSummaryByFormat(entries),
              (std::vector<std::string>{"LV2: plug-ins 2, passed 1, failed load 0, failed prepare "
                                        "0, failed state 1, failed audio 0",
                                        "VST3: plug-ins 2, passed 1, failed load 1, failed prepare "
                                        "0, failed state 0, failed audio 0"}));
}

} // namespace
} // namespace orvane::vst
