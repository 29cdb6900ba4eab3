#include "app/remote/NsmClient.h"
#include "app/remote/tests/OscPeer.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace orvane::remote;
using namespace orvane::remote::testing;
using namespace std::chrono_literals;

namespace {

/// A session manager played by the test, and the client announced to it.
struct Session {
    OscPeer server;
    NsmClient client;
    std::vector<NsmOpenRequest> opens;
    NsmOutcome openOutcome{0, "opened"};
    NsmOutcome saveOutcome{0, "saved"};
    int saves = 0;
    NsmClient::Handlers handlers{[this](const NsmOpenRequest &request) {
                                     opens.push_back(request);
                                     return openOutcome;
                                 },
                                 [this] {
                                     ++saves;
                                     return saveOutcome;
                                 }};

    int clientPort() const {
        const auto colon = server.last.senderUrl.rfind(':');
        return std::stoi(server.last.senderUrl.substr(colon + 1));
    }
    /// Polls the client until the server hears `path` from it.
    bool answerFor(const std::string &path) {
        const auto until = std::chrono::steady_clock::now() + 3s;
        while (std::chrono::steady_clock::now() < until) {
            client.poll(handlers);
            if (server.waitFor(path, 20ms)) return true;
        }
        return false;
    }
};

TEST(NsmClient, AnnouncesItselfWithTheProtocolsFieldsAndLearnsTheServersAnswer) {
    Session session;
    ASSERT_TRUE(session.server.ready());
    std::string error;
    ASSERT_TRUE(session.client.start(session.server.url(), "Halvora", "Halvora", error)) << error;
    ASSERT_TRUE(session.server.waitFor("/nsm/server/announce", 3s));
    const auto &announce = session.server.last;
    EXPECT_EQ(announce.types, "sssiii");
    EXPECT_EQ(announce.strings, (std::vector<std::string>{"Halvora", ":switch:dirty:", "Halvora"}));
    EXPECT_EQ(announce.numbers, (std::vector<double>{1, 2, double(::getpid())}));
    const int port = session.clientPort();

    EXPECT_FALSE(session.client.announced());
    session.server.send(port, "/reply", "ssss", "/nsm/server/announce", "welcome", "Test Manager",
                        ":server-control:");
    const auto until = std::chrono::steady_clock::now() + 3s;
    while (!session.client.announced() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(5ms);
        session.client.poll(session.handlers);
    }
    EXPECT_TRUE(session.client.announced());
    EXPECT_EQ(session.client.serverName(), "Test Manager");
}

TEST(NsmClient, OpensAndSavesWhenToldAndAnswersWithRepliesOrTheProtocolsErrors) {
    Session session;
    std::string error;
    ASSERT_TRUE(session.client.start(session.server.url(), "Halvora", "Halvora", error)) << error;
    ASSERT_TRUE(session.server.waitFor("/nsm/server/announce", 3s));
    const int port = session.clientPort();

    // A save before any open has nothing to save.
    session.server.send(port, "/nsm/client/save", "");
    ASSERT_TRUE(session.answerFor("/error"));
    EXPECT_EQ(session.server.last.strings.at(0), "/nsm/client/save");
    EXPECT_EQ(session.server.last.numbers.at(0), nsm_error::noSessionOpen);
    EXPECT_EQ(session.saves, 0);

    // An open the application cannot carry out comes back as its error.
    session.openOutcome = {nsm_error::createFailed, "cannot create"};
    session.server.send(port, "/nsm/client/open", "sss", "/tmp/session/Halvora.nXYZ", "Halvora",
                        "nXYZ");
    ASSERT_TRUE(session.answerFor("/error"));
    EXPECT_EQ(session.server.last.types, "sis");
    EXPECT_EQ(session.server.last.numbers.at(0), nsm_error::createFailed);
    EXPECT_EQ(session.server.last.strings.at(1), "cannot create");
    EXPECT_FALSE(session.client.sessionOpen());

    session.openOutcome = {0, "opened"};
    session.server.send(port, "/nsm/client/open", "sss", "/tmp/session/Halvora.nXYZ", "Halvora",
                        "nXYZ");
    ASSERT_TRUE(session.answerFor("/reply"));
    EXPECT_EQ(session.server.last.strings,
              (std::vector<std::string>{"/nsm/client/open", "opened"}));
    ASSERT_EQ(session.opens.size(), 2u);
    EXPECT_EQ(session.opens[1].path, "/tmp/session/Halvora.nXYZ");
    EXPECT_EQ(session.opens[1].displayName, "Halvora");
    EXPECT_EQ(session.opens[1].clientId, "nXYZ");
    EXPECT_TRUE(session.client.sessionOpen());

    session.server.send(port, "/nsm/client/save", "");
    ASSERT_TRUE(session.answerFor("/reply"));
    EXPECT_EQ(session.server.last.strings, (std::vector<std::string>{"/nsm/client/save", "saved"}));
    EXPECT_EQ(session.saves, 1);

    session.saveOutcome = {nsm_error::general, "disk full"};
    session.server.send(port, "/nsm/client/save", "");
    ASSERT_TRUE(session.answerFor("/error"));
    EXPECT_EQ(session.server.last.numbers.at(0), nsm_error::general);
    EXPECT_EQ(session.server.last.strings.at(1), "disk full");

    // A relative path is no place the protocol names.
    session.server.send(port, "/nsm/client/open", "sss", "relative/path", "Halvora", "nXYZ");
    ASSERT_TRUE(session.answerFor("/error"));
    EXPECT_EQ(session.server.last.numbers.at(0), nsm_error::badProject);
    EXPECT_EQ(session.opens.size(), 2u);
}

TEST(NsmClient, TellsTheDirtyStateOnlyWhenItChanges) {
    Session session;
    std::string error;
    ASSERT_TRUE(session.client.start(session.server.url(), "Halvora", "Halvora", error)) << error;
    ASSERT_TRUE(session.server.waitFor("/nsm/server/announce", 3s));
    const int port = session.clientPort();
    session.client.reportDirty(true); // before an open there is no session document
    session.server.send(port, "/nsm/client/open", "sss", "/tmp/s/H", "Halvora", "nA");
    ASSERT_TRUE(session.answerFor("/reply"));
    session.server.drain(50ms);
    EXPECT_TRUE(session.server.received.empty());

    for (bool dirty : {false, false, true, true, true, false})
        session.client.reportDirty(dirty);
    session.server.drain(200ms);
    std::vector<std::string> told;
    for (const auto &message : session.server.received)
        told.push_back(message.path);
    EXPECT_EQ(told, (std::vector<std::string>{"/nsm/client/is_clean", "/nsm/client/is_dirty",
                                              "/nsm/client/is_clean"}));
}

TEST(NsmClient, IgnoresMessagesFromAnyoneButTheServerAndMalformedOnes) {
    Session session;
    std::string error;
    ASSERT_TRUE(session.client.start(session.server.url(), "Halvora", "Halvora", error)) << error;
    ASSERT_TRUE(session.server.waitFor("/nsm/server/announce", 3s));
    const int port = session.clientPort();

    OscPeer stranger;
    stranger.send(port, "/nsm/client/open", "sss", "/tmp/evil", "Halvora", "nA");
    stranger.send(port, "/nsm/client/save", "");
    // From the server, but not the protocol's shapes.
    session.server.send(port, "/nsm/client/open", "ss", "/tmp/s/H", "Halvora");
    session.server.send(port, "/nsm/client/open", "iii", 1, 2, 3);
    session.server.send(port, "/nsm/client/save", "i", 1);
    const auto until = std::chrono::steady_clock::now() + 3s;
    while (session.client.ignored() < 5 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(5ms);
        session.client.poll(session.handlers);
    }
    EXPECT_EQ(session.client.ignored(), 5u);
    EXPECT_TRUE(session.opens.empty());
    EXPECT_EQ(session.saves, 0);
    stranger.drain(50ms);
    EXPECT_TRUE(stranger.received.empty());
}

TEST(NsmClient, RefusesAnAddressThatIsNoUdpServer) {
    for (const char *url : {"", "osc.tcp://127.0.0.1:5000/", "nonsense", "osc.udp://:/"}) {
        SCOPED_TRACE(url);
        NsmClient client;
        std::string error;
        EXPECT_FALSE(client.start(url, "Halvora", "Halvora", error));
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(client.started());
    }
}

} // namespace
