#include "app/shell/SessionState.h"
#include "app/shell/tests/ApplicationTestSupport.h"
#include "core/plugins/CompatibilityProbe.h"
#include "core/plugins/vst3/PluginScanner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include <sys/stat.h>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

class SessionStateTest : public ::testing::Test {
  protected:
    TemporaryHome home{"state"};
    void TearDown() override {
        EXPECT_EQ(invalidLogLines(halvoraLogDir()), std::vector<std::string>{});
    }
};

TEST_F(SessionStateTest, FoldersFollowTheXdgVariablesAndFallBackToHome) {
    EXPECT_EQ(halvoraSupportDir(), home.root() / "data" / "Halvora");
    EXPECT_TRUE(fs::is_directory(halvoraSupportDir()));
    EXPECT_EQ(halvoraLogDir(), home.root() / "state" / "Halvora" / "logs");
    EXPECT_EQ(autosaveBundlePath(), halvoraSupportDir() / "Autosave" / "recovery.halvora");
    EXPECT_EQ(betaSessionLogPath().filename(), "beta_session.jsonl");

    ScopedEnvironment noData("XDG_DATA_HOME", std::nullopt), noState("XDG_STATE_HOME", "");
    EXPECT_EQ(halvoraSupportDir(), home.root() / "home" / ".local" / "share" / "Halvora");
    EXPECT_EQ(halvoraLogDir(), home.root() / "home" / ".local" / "state" / "Halvora" / "logs");
}

TEST_F(SessionStateTest, DiagnosticsCountTheCompatibilityReportsEntries) {
    // The count ends the second line, whichever language the line is in.
    const auto countLine = [] {
        std::istringstream lines(diagnosticsText());
        std::string line;
        std::getline(lines, line);
        std::getline(lines, line);
        return line;
    };
    const std::string report = vst::defaultVstCompatPath();
    EXPECT_TRUE(countLine().ends_with(": 0")) << diagnosticsText();
    vst::CompatibilityEntry compressor, equaliser;
    compressor.id = "a";
    equaliser.id = "b";
    equaliser.format = "LV2";
    ASSERT_TRUE(vst::saveCompatibilityReport(report, {compressor, equaliser}));
    EXPECT_TRUE(countLine().ends_with(": 2")) << diagnosticsText();
    EXPECT_NE(diagnosticsText().find(report), std::string::npos);
    EXPECT_NE(diagnosticsText().find(halvoraLogDir().string()), std::string::npos);
}

TEST_F(SessionStateTest, SessionMetaIsWrittenLineByLineAndReadBack) {
    writeSessionMeta({false, 1700000000, 1699999000, "Мой \"трек\" a\\b"});
    EXPECT_EQ(readTextFile(sessionMetaPath()), "{\n"
                                               "  \"cleanShutdown\": false,\n"
                                               "  \"lastAutosave\": 1700000000,\n"
                                               "  \"sessionStart\": 1699999000,\n"
                                               "  \"projectName\": \"Мой _трек_ a_b\"\n"
                                               "}\n");
    const SessionMeta meta = readSessionMeta();
    EXPECT_FALSE(meta.cleanShutdown);
    EXPECT_EQ(meta.lastAutosave, 1700000000);
    EXPECT_EQ(meta.sessionStart, 1699999000);
    EXPECT_EQ(meta.projectName, "Мой _трек_ a_b");
}

TEST_F(SessionStateTest, SessionMetaReaderKeepsDefaultsForWhatItCannotRead) {
    const SessionMeta missing = readSessionMeta();
    EXPECT_TRUE(missing.cleanShutdown);
    EXPECT_EQ(missing.lastAutosave, 0);
    EXPECT_EQ(missing.projectName, "");

    writeTextFile(sessionMetaPath(), "{\"cleanShutdown\":false,\n\"lastAutosave\": never,\n"
                                     "\"projectName\": \"Demo\", \"x\": \"y\"\n}");
    const SessionMeta compact = readSessionMeta();
    EXPECT_FALSE(compact.cleanShutdown);
    EXPECT_EQ(compact.lastAutosave, 0);
    EXPECT_EQ(compact.projectName, "Demo");
}

TEST_F(SessionStateTest, SupportFilesThatAreNotSmallRegularFilesAreIgnored) {
    // Settings the readers would take from a real file, to show that nothing is taken here.
    const std::vector<fs::path> files = {sessionMetaPath(), privacyPreferencesPath(),
                                         betaEnvironmentPath()};
    const auto plant = [&files](const std::function<void(const fs::path &)> &make) {
        for (const fs::path &file : files) {
            fs::remove(file);
            make(file);
        }
    };
    const auto expectDefaults = [](const char *kind) {
        EXPECT_TRUE(readSessionMeta().cleanShutdown) << kind;
        EXPECT_FALSE(readPrivacyPreferences().telemetry) << kind;
        loadBetaEnvironmentFile();
        EXPECT_EQ(std::getenv("HALVORA_SUPPORT_FILE_PROBE"), nullptr) << kind;
    };
    ScopedEnvironment probe("HALVORA_SUPPORT_FILE_PROBE", std::nullopt);
    // A FIFO nobody writes to would block the start for ever.
    plant([](const fs::path &file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); });
    expectDefaults("fifo");
    // A device that never ends would be read until memory runs out.
    plant([](const fs::path &file) { fs::create_symlink("/dev/zero", file); });
    expectDefaults("/dev/zero");
    // A regular file far larger than any of ours is not read either.
    const std::string padding(100 * 1024, ' ');
    writeTextFile(sessionMetaPath(), "\"cleanShutdown\": false\n" + padding);
    writeTextFile(privacyPreferencesPath(), "\"telemetry\": true\n" + padding);
    writeTextFile(betaEnvironmentPath(), "HALVORA_SUPPORT_FILE_PROBE=1\n" + padding);
    expectDefaults("large");
}

TEST_F(SessionStateTest, NamesWithLineBreaksAndBytesThatAreNotUtf8KeepTheFilesValid) {
    writeSessionMeta({false, 1, 1, "Q\"uo\\te\x01x\nnl"});
    EXPECT_EQ(readSessionMeta().projectName, "Q_uo_te_x_nl");

    betaSessionLog("error", "import",
                   "bad\xff\xfe"
                   "name.txt: «Неподдерживаемый» \xe2\x82");
    betaSessionLog("error", "import",
                   "\xed\xa0\x80 surrogate, \xc0\xaf overlong, \xf4\x90 too high");
    const std::string log = readTextFile(betaSessionLogPath());
    EXPECT_NE(log.find("bad??name.txt: «Неподдерживаемый» ??"), std::string::npos) << log;
    EXPECT_NE(log.find("??? surrogate, ?? overlong, ?? too high"), std::string::npos) << log;
    // The fixture's tear-down parses every line as JSON.
}

TEST_F(SessionStateTest, PrivacyPreferencesDefaultToNoTelemetryAndCrashReports) {
    EXPECT_FALSE(readPrivacyPreferences().telemetry);
    EXPECT_TRUE(readPrivacyPreferences().crashReports);
    writePrivacyPreferences({true, false});
    EXPECT_EQ(readTextFile(privacyPreferencesPath()),
              "{\n  \"telemetry\": true,\n  \"crashReports\": false\n}\n");
    EXPECT_TRUE(readPrivacyPreferences().telemetry);
    EXPECT_FALSE(readPrivacyPreferences().crashReports);
    writeTextFile(privacyPreferencesPath(), "{\"telemetry\":true,\"crashReports\":true}");
    EXPECT_TRUE(readPrivacyPreferences().telemetry);
    EXPECT_TRUE(readPrivacyPreferences().crashReports);
}

TEST_F(SessionStateTest, RemoteControlIsOffAndOnThisComputerOnlyUntilChosenOtherwise) {
    const RemotePreferences defaults = readRemotePreferences();
    EXPECT_FALSE(defaults.enabled);
    EXPECT_FALSE(defaults.allowNetwork);
    EXPECT_EQ(defaults.port, RemotePreferences::defaultPort);
    writeRemotePreferences({true, 9200, true});
    EXPECT_EQ(readTextFile(remotePreferencesPath()),
              "{\n  \"enabled\": true,\n  \"port\": 9200,\n  \"allowNetwork\": true\n}\n");
    const RemotePreferences stored = readRemotePreferences();
    EXPECT_TRUE(stored.enabled);
    EXPECT_TRUE(stored.allowNetwork);
    EXPECT_EQ(stored.port, 9200);
    const struct {
        const char *text;
        int32_t port;
    } ports[] = {{"{\"port\":0}", RemotePreferences::defaultPort},
                 {"{\"port\": 70000}", RemotePreferences::defaultPort},
                 {"{\"port\": -5}", RemotePreferences::defaultPort},
                 {"{\"port\": x}", RemotePreferences::defaultPort},
                 {"{\"port\":65535}", 65535}};
    for (const auto &entry : ports) {
        writeTextFile(remotePreferencesPath(), entry.text);
        EXPECT_EQ(readRemotePreferences().port, entry.port) << entry.text;
        EXPECT_FALSE(readRemotePreferences().enabled) << entry.text;
    }
}

TEST_F(SessionStateTest, BetaEnvironmentFileSetsOnlyUndefinedVariables) {
    ScopedEnvironment quoted("HV_TEST_QUOTED", std::nullopt), plain("HV_TEST_PLAIN", std::nullopt),
        kept("HV_TEST_KEPT", "mine"), empty("HV_TEST_EMPTY", std::nullopt),
        comment("HV_TEST_COMMENT", std::nullopt);
    writeTextFile(betaEnvironmentPath(), "  \tHV_TEST_QUOTED = \"value with spaces\"\r\n"
                                         "HV_TEST_PLAIN=1  \n"
                                         "HV_TEST_KEPT=theirs\n"
                                         "HV_TEST_EMPTY=\n"
                                         "# HV_TEST_COMMENT=1\n"
                                         "no equals sign here\n");
    loadBetaEnvironmentFile();
    EXPECT_STREQ(std::getenv("HV_TEST_QUOTED"), "value with spaces");
    EXPECT_STREQ(std::getenv("HV_TEST_PLAIN"), "1");
    EXPECT_STREQ(std::getenv("HV_TEST_KEPT"), "mine");
    EXPECT_EQ(std::getenv("HV_TEST_EMPTY"), nullptr);
    EXPECT_EQ(std::getenv("HV_TEST_COMMENT"), nullptr);
}

TEST_F(SessionStateTest, BreadcrumbsFollowTheCrashReportSwitchButTheBetaLogIsAlwaysOn) {
    installCrashLogging();
    logBreadcrumb("launch");
    const std::string on = readTextFile(breadcrumbLogPath());
    EXPECT_EQ(on.rfind("session_start ", 0), 0u);
    EXPECT_NE(on.find(" version=1.0.0\nlaunch\n"), std::string::npos);

    writePrivacyPreferences({false, false});
    fs::remove(breadcrumbLogPath());
    installCrashLogging();
    logBreadcrumb("save /x");
    betaSessionLog("action", "app", "launch Halvora 1.0.0");
    EXPECT_FALSE(fs::exists(breadcrumbLogPath()));
    EXPECT_NE(readTextFile(betaSessionLogPath()).find("\"msg\":\"launch Halvora 1.0.0\"}"),
              std::string::npos);
}

TEST_F(SessionStateTest, TelemetryQueueExistsOnlyWhenSwitchedOn) {
    recordTelemetryEvent("app_launch", "1.0.0");
    EXPECT_FALSE(fs::exists(telemetryQueuePath()));
    writePrivacyPreferences({true, true});
    recordTelemetryEvent("app_launch", "1.0.0");
    recordTelemetryEvent("quit", "");
    const std::string queue = readTextFile(telemetryQueuePath());
    EXPECT_NE(queue.find(",\"e\":\"app_launch\",\"p\":\"1.0.0\"}\n"), std::string::npos);
    EXPECT_NE(queue.find(",\"e\":\"quit\"}\n"), std::string::npos);
}

TEST_F(SessionStateTest, LogRecordsStayOneValidJsonLineWhateverTheText) {
    const std::string awkward =
        std::string("line one\nline \"two\"\ttab\\ bell\a esc\x1b nul") + '\0' + "end\r";
    betaSessionLog("action", "status", awkward);
    betaSessionLogFeedback(awkward, "tester\n\"name\"\x01");
    const std::string log = readTextFile(betaSessionLogPath());
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
    EXPECT_NE(log.find("\"msg\":\"line one line  two  tab  bell  esc  nul end \"}"),
              std::string::npos);
    const std::string feedback = readTextFile(betaFeedbackLogPath());
    EXPECT_NE(feedback.find("\"tester\":\"tester  name  \""), std::string::npos);
    EXPECT_EQ(invalidLogLines(halvoraLogDir()), std::vector<std::string>{});
}

TEST_F(SessionStateTest, LogTailHoldsOnlyWholeLines) {
    EXPECT_EQ(betaSessionLogTail(100), "");
    betaSessionLog("action", "app", "first");
    betaSessionLog("action", "app", "second");
    const std::string whole = readTextFile(betaSessionLogPath());
    EXPECT_EQ(betaSessionLogTail(whole.size() + 10), whole);
    const std::string tail = betaSessionLogTail(whole.size() - 5);
    EXPECT_EQ(tail, whole.substr(whole.find('\n') + 1));
}

TEST_F(SessionStateTest, RecoverySnapshotIsTheAutosaveDocument) {
    EXPECT_FALSE(recoverySnapshotExists());
    EXPECT_EQ(recoverySnapshotTime(), 0);
    writeTextFile(autosaveBundlePath() / "project.json", "{}");
    EXPECT_TRUE(recoverySnapshotExists());
    EXPECT_GT(recoverySnapshotTime(), 0);
    removeRecoverySnapshot();
    EXPECT_FALSE(fs::exists(autosaveBundlePath()));
}

} // namespace
