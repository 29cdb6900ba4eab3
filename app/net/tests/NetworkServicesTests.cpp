#include "app/net/Telemetry.h"
#include "app/net/UpdateCheck.h"
#include "app/net/tests/LoopbackHttpServer.h"
#include "app/shell/ApplicationUi.h"
#include "app/shell/OVApplication.h"
#include "app/shell/SessionState.h"
#include "app/shell/tests/ApplicationTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

struct VersionCase {
    const char *current;
    const char *candidate;
    bool newer;
};

TEST(VersionComparison, ComparesPieceByPieceByLeadingDigitsWithSaturation) {
    const VersionCase cases[] = {
        {"1.0.0", "1.0.1", true},
        {"1.0", "1.0.0", false},
        {"1.10", "1.9", false},
        {"1.9", "1.10", true},
        {"1.2", "1.2-beta", false},
        {"1.1", "1.2-beta", true},
        {"1.2-rc1", "1.2", false},
        {"1.0.0", "99999999999999999999", true},
        {"99999999999999999999", "99999999999999999999999", false},
        {"1.0.0", "", false},
        {"", "0.0.1", true},
        {"1..2", "1.0.2", false},
        {"2.0", "1.99999999999999999999.0", false},
        {"1.0", "beta", false},
    };
    for (const auto &row : cases)
        EXPECT_EQ(isNewerVersion(row.current, row.candidate), row.newer)
            << row.current << " vs " << row.candidate;
}

TEST(JsonStringField, ReadsTheTextUpToTheNextQuoteWithoutWhiteSpaceAroundTheColon) {
    const std::string text = R"({"version":"1.2.3","url":"https://x/y","notes":"a \"b"})";
    EXPECT_EQ(jsonStringField(text, "version"), "1.2.3");
    EXPECT_EQ(jsonStringField(text, "url"), "https://x/y");
    EXPECT_EQ(jsonStringField(text, "notes"), "a \\");
    EXPECT_EQ(jsonStringField(R"({"version": "1.2"})", "version"), "");
    EXPECT_EQ(jsonStringField(R"({"version":"1.2)", "version"), "");
    EXPECT_EQ(jsonStringField("", "version"), "");
}

class NetworkServicesTest : public ::testing::Test {
  protected:
    TemporaryHome home{"network"};
    LoopbackHttpServer server;
    NetworkLimits quick{1000, 1500};

    void TearDown() override {
        EXPECT_EQ(invalidLogLines(halvoraLogDir()), std::vector<std::string>{});
    }
    UpdateInfo checkAgainst(const std::string &url) {
        ScopedEnvironment endpoint("HALVORA_UPDATE_URL", url);
        return checkForUpdates("1.0.0", quick);
    }
};

TEST_F(NetworkServicesTest, UpdateCheckAnswersFromTheAnnouncedVersion) {
    struct Row {
        int status;
        std::string body;
        bool available;
        std::string message;
    };
    const Row rows[] = {
        {200, R"({"version":"1.0.1","url":"https://example.org/h","notes":"n"})", true,
         "Доступна версия 1.0.1"},
        {200, R"({"version":"1.0"})", false, "Установлена актуальная версия 1.0.0"},
        {200, R"({"version":"1.2-beta"})", true, "Доступна версия 1.2-beta"},
        {200, R"({"version":"99999999999999999999"})", true,
         "Доступна версия 99999999999999999999"},
        {200, R"({"name":"Halvora"})", false, "Ответ без поля version."},
        {200, "", false, "Не удалось проверить обновления (сеть)."},
        {200, "{\"version\":\"\xff\xfe\"}", false, "Некорректный ответ сервера обновлений."},
        // An error page is not an announcement, whatever it says.
        {500, R"({"version":"9.9"})", false, "Сервер обновлений ответил кодом 500."},
        {404, R"({"version":"9.9"})", false, "Сервер обновлений ответил кодом 404."},
        // Control characters never reach the status line or the alert.
        {200, "{\"version\":\"2.0\x1b[2J\x07\xc2\x9b\"}", true, "Доступна версия 2.0[2J"},
    };
    for (const auto &row : rows) {
        server.answer(row.status, row.body);
        const UpdateInfo info = checkAgainst(server.url("/latest.json"));
        EXPECT_EQ(info.available, row.available) << row.body;
        EXPECT_EQ(info.message, row.message) << row.body;
    }
    EXPECT_EQ(server.requests().size(), std::size(rows));
    EXPECT_EQ(server.requests().front().method, "GET");
    EXPECT_EQ(server.requests().front().target, "/latest.json");
    server.answer(200, "{\"version\":\"2.0\",\"url\":\"https://example.org/\x1bh\","
                       "\"notes\":\"Новое\n\x1b]0;x\x07ещё\"}");
    const UpdateInfo info = checkAgainst(server.url());
    EXPECT_EQ(info.version, "2.0");
    EXPECT_EQ(info.url, "https://example.org/h");
    EXPECT_EQ(info.notes, "Новое\n]0;xещё") << "line breaks stay, control characters go";
}

TEST_F(NetworkServicesTest, UpdateCheckOpensOnlyHttpEndpoints) {
    EXPECT_EQ(checkAgainst("").message,
              "Автообновление не настроено (HALVORA_UPDATE_URL). Текущая версия: 1.0.0");
    writeTextFile(home.root() / "version.json", R"({"version":"9.0"})");
    for (const std::string &url :
         {"file://" + (home.root() / "version.json").string(), std::string("ftp://127.0.0.1/v"),
          std::string("not a url"), std::string("http://")})
        EXPECT_EQ(checkAgainst(url).message, "Некорректный HALVORA_UPDATE_URL.") << url;
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(NetworkServicesTest, AnUnreachableServerIsANetworkFailureInTheLog) {
    const std::string closedPort = [] {
        LoopbackHttpServer gone;
        return gone.url();
    }();
    EXPECT_EQ(checkAgainst(closedPort).message, "Не удалось проверить обновления (сеть).");
    EXPECT_NE(readTextFile(betaSessionLogPath()).find("update check failed"), std::string::npos);
}

/// Records the alerts and the addresses handed to the browser.
struct UpdateActionHarness {
    ScriptedUi ui;
    HVLoggingStatusField status{ui};
    UpdateCheckAction action{ui, status};
    std::vector<std::string> opened;
    UpdateActionHarness() {
        action.limits = NetworkLimits{2000, 3000};
        action.openDownload = [this](const std::string &url) { opened.push_back(url); };
    }
};

TEST_F(NetworkServicesTest, TheMenuActionOffersTheDownloadOnlyForWebAddresses) {
    ScopedEnvironment endpoint("HALVORA_UPDATE_URL", server.url());
    UpdateActionHarness harness;
    for (const char *url : {"https://example.org/get", "file:///etc/passwd"}) {
        server.answer(200, std::string(R"({"version":"3.0","url":")") + url + R"("})");
        harness.ui.alertAnswers.push_back("Скачать");
        ASSERT_TRUE(harness.action.start(""));
        harness.action.finish();
        ASSERT_FALSE(harness.ui.alerts.empty());
        EXPECT_EQ(harness.ui.alerts.back().title, "Доступно обновление");
        EXPECT_EQ(harness.ui.alerts.back().buttons, (std::vector<std::string>{"Скачать", "OK"}));
    }
    EXPECT_EQ(harness.opened, std::vector<std::string>{"https://example.org/get"});

    server.answer(200, R"({"version":"1.0.0"})");
    harness.ui.alertAnswers.push_back("OK");
    ASSERT_TRUE(harness.action.start("1.0.0"));
    harness.action.finish();
    EXPECT_EQ(harness.ui.alerts.back().title, "Halvora обновлена");
    EXPECT_EQ(harness.ui.alerts.back().text, "Установлена актуальная версия 1.0.0");
    EXPECT_TRUE(harness.ui.scriptUsedUp());
}

TEST_F(NetworkServicesTest, ASilentServerTimesOutWithoutHoldingUpTheTick) {
    server.stayMute();
    ScopedEnvironment endpoint("HALVORA_UPDATE_URL", server.url());
    UpdateActionHarness harness;
    ASSERT_TRUE(harness.action.start("1.0.0"));
    EXPECT_FALSE(harness.action.start("1.0.0")) << "one check at a time";
    // The tick looks and returns at once while the server keeps quiet.
    EXPECT_FALSE(harness.action.presentIfDone());
    EXPECT_TRUE(harness.action.pending());
    EXPECT_TRUE(harness.ui.alerts.empty());

    harness.ui.alertAnswers.push_back("OK");
    harness.action.finish();
    ASSERT_EQ(harness.ui.alerts.size(), 1u);
    EXPECT_EQ(harness.ui.alerts[0].text, "Не удалось проверить обновления (сеть).");
    EXPECT_FALSE(harness.action.pending());
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_NE(readTextFile(betaSessionLogPath()).find("update check failed"), std::string::npos);
}

class TelemetryUploadTest : public NetworkServicesTest {
  protected:
    void allowTelemetry(bool allowed) { writePrivacyPreferences({allowed, true}); }
    int32_t upload() { return uploadTelemetryQueueTo(server.url("/t"), "1.0.0", "m-1", quick); }
};

TEST_F(TelemetryUploadTest, QueuedEventsArriveAsOneBatchAndLeaveTheQueue) {
    allowTelemetry(true);
    recordTelemetryEvent("app_launch", "1.0.0");
    recordTelemetryEvent("privacy_updated", "telemetry=on");
    recordTelemetryEvent("export", "");
    const std::string queued = readTextFile(telemetryQueuePath());
    // A line a crash cut short stays out of the batch.
    writeTextFile(telemetryQueuePath(), queued + "{\"t\":17,\"e\":\"cut\n");

    EXPECT_EQ(upload(), 3);
    ASSERT_EQ(server.requests().size(), 1u);
    const ReceivedRequest request = server.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/t");
    EXPECT_EQ(request.headers.at("content-type"), "application/json");
    const auto body = nlohmann::json::parse(request.body);
    EXPECT_EQ(body["version"], "1.0.0");
    EXPECT_EQ(body["machine"], "m-1");
    ASSERT_EQ(body["events"].size(), 3u);
    EXPECT_EQ(body["events"][0]["e"], "app_launch");
    EXPECT_EQ(body["events"][0]["p"], "1.0.0");
    EXPECT_EQ(body["events"][1]["p"], "telemetry=on");
    EXPECT_FALSE(body["events"][2].contains("p"));
    EXPECT_EQ(request.body.substr(0, 46),
              "{\"version\":\"1.0.0\",\"machine\":\"m-1\",\"events\":[{");
    EXPECT_EQ(readTextFile(telemetryQueuePath()), "");
    EXPECT_EQ(upload(), 0) << "nothing left to send";
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(TelemetryUploadTest, NothingIsSentWithoutConsentOrEndpointAndFailuresKeepTheQueue) {
    const std::string queued = "{\"t\":1,\"e\":\"app_launch\"}\n";
    writeTextFile(telemetryQueuePath(), queued);
    allowTelemetry(false);
    EXPECT_EQ(upload(), 0);
    allowTelemetry(true);
    {
        ScopedEnvironment none("HALVORA_TELEMETRY_URL", std::nullopt);
        EXPECT_EQ(uploadTelemetryQueue("1.0.0", "m", quick), 0);
    }
    EXPECT_EQ(uploadTelemetryQueueTo("file:///tmp/x", "1.0.0", "m", quick), 0);
    EXPECT_TRUE(server.requests().empty());

    for (const int status : {500, 302, 404}) {
        server.answer(status, "{}");
        EXPECT_EQ(upload(), 0) << status;
    }
    server.stayMute();
    EXPECT_EQ(upload(), 0);
    EXPECT_EQ(server.requests().size(), 4u);
    EXPECT_EQ(readTextFile(telemetryQueuePath()), queued);
    EXPECT_NE(readTextFile(betaSessionLogPath()).find("upload failed: status 500"),
              std::string::npos);
}

TEST_F(TelemetryUploadTest, QuittingUploadsTheQueueAndTheMenuCheckAnswersOnATick) {
    home.rememberOutputDevice("Null");
    allowTelemetry(true);
    ScopedEnvironment telemetry("HALVORA_TELEMETRY_URL", server.url("/quit"));
    ScopedEnvironment updates("HALVORA_UPDATE_URL", server.url("/update"));
    server.answer(200, R"({"version":"1.0.0"})");
    ScriptedUi ui;
    {
        OVApplication app(ui);
        app.didFinishLaunching(false);
        app.checkForUpdates();
        ui.alertAnswers.push_back("OK");
        app.updateCheck().finish();
        app.onTick(); // the answer was shown once; the tick shows nothing more
        ASSERT_EQ(ui.alerts.size(), 1u);
        EXPECT_EQ(ui.alerts[0].title, "Halvora обновлена");
        app.willTerminate();
    }
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/quit");
    const auto body = nlohmann::json::parse(requests[1].body);
    EXPECT_EQ(body["events"][0]["e"], "app_launch");
    const std::string machine = telemetryMachineIdentifier();
    EXPECT_EQ(body["machine"], machine);
    EXPECT_EQ(machine.rfind("hv-", 0), 0u);
    EXPECT_EQ(machine.size(), 19u) << "a prefix and 64 bits in hexadecimal";
    EXPECT_EQ(readTextFile(telemetryQueuePath()), "");
    EXPECT_NE(readTextFile(betaSessionLogPath()).find("uploaded 1 events"), std::string::npos);
}

} // namespace
