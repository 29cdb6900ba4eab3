#include "app/remote/OscSocket.h"
#include "app/remote/tests/OscPeer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>

using namespace orvane::remote;
using namespace orvane::remote::testing;
using namespace std::chrono_literals;

namespace {

/// Waits until the socket has accounted for `expected` packets (queued, refused or dropped),
/// or a generous bound passes.
OscSocket::Counts settle(const OscSocket &socket, uint64_t expected) {
    const auto until = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        const OscSocket::Counts counts = socket.counts();
        if (counts.received + counts.refused + counts.dropped >= expected ||
            std::chrono::steady_clock::now() > until)
            return counts;
        std::this_thread::sleep_for(2ms);
    }
}

/// Sends raw bytes to a port on an address in the loopback range, from a plain socket.
void sendRaw(const char *address, uint16_t port, const std::vector<uint8_t> &bytes) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, address, &to.sin_addr);
    const ssize_t sent =
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    ::close(fd);
    ASSERT_EQ(sent, static_cast<ssize_t>(bytes.size()));
}

std::vector<uint8_t> packetWith(const char *path, const std::function<void(lo_message)> &add) {
    lo_message message = lo_message_new();
    add(message);
    std::size_t size = 0;
    void *bytes = lo_message_serialise(message, path, nullptr, &size);
    std::vector<uint8_t> packet(static_cast<uint8_t *>(bytes),
                                static_cast<uint8_t *>(bytes) + size);
    free(bytes);
    lo_message_free(message);
    return packet;
}

TEST(OscSocket, TakesWhatASurfaceSendsAndAnswersItFromTheSamePort) {
    OscSocket socket;
    std::string error;
    ASSERT_TRUE(socket.open("127.0.0.1", 0, error)) << error;
    ASSERT_NE(socket.port(), 0);
    OscPeer surface;
    ASSERT_TRUE(surface.ready());
    ASSERT_TRUE(surface.send(socket.port(), "/halvora/track/2/gain", "fsih", 0.5f, "Гитара", 7,
                             int64_t{1} << 40));
    settle(socket, 1);
    const auto taken = socket.take();
    ASSERT_EQ(taken.size(), 1u);
    const OscMessage &message = taken[0];
    EXPECT_EQ(message.path, "/halvora/track/2/gain");
    EXPECT_EQ(message.types, "fsih");
    EXPECT_FLOAT_EQ(message.arguments[0].number(), 0.5f);
    EXPECT_EQ(message.arguments[1].text, "Гитара");
    EXPECT_EQ(message.arguments[2].integer, 7);
    EXPECT_EQ(message.arguments[3].integer, int64_t{1} << 40);
    EXPECT_EQ(message.sender.text(), "127.0.0.1:" + std::to_string(surface.port()));

    ASSERT_TRUE(socket.send(message.sender, "/halvora/track/2/gain", {OscValue::ofFloat(0.5f)}));
    ASSERT_TRUE(surface.waitFor("/halvora/track/2/gain", 2s));
    EXPECT_EQ(surface.last.types, "f");
    EXPECT_FLOAT_EQ(static_cast<float>(surface.last.numbers.at(0)), 0.5f);
}

struct HostilePacket {
    const char *name;
    std::vector<uint8_t> bytes;
};

TEST(OscSocket, RefusesMalformedOversizedAndForeignPacketsAndKeepsAnswering) {
    OscSocket socket;
    std::string error;
    ASSERT_TRUE(socket.open("127.0.0.1", 0, error)) << error;
    const std::string longText(OscLimits::stringBytes + 1, 'x');
    std::vector<uint8_t> bundle = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0};
    bundle.resize(16 + 4, 0);
    std::vector<uint8_t> truncated =
        packetWith("/halvora/play", [](lo_message m) { lo_message_add_string(m, "abcdefgh"); });
    truncated.resize(truncated.size() - 4);
    const HostilePacket packets[] = {
        {"noise", {0xde, 0xad, 0xbe, 0xef, 0x01, 0x02, 0x03}},
        {"no type tags", {'/', 'a', 0, 0, 'x', 'y', 'z', 0}},
        {"bundle", bundle},
        {"cut short", truncated},
        {"string too long",
         packetWith("/halvora/play",
                    [&](lo_message m) { lo_message_add_string(m, longText.c_str()); })},
        {"packet too large", std::vector<uint8_t>(OscLimits::packetBytes + 4, 0)},
        {"too many arguments", packetWith("/halvora/play",
                                          [](lo_message m) {
                                              for (int i = 0; i < 9; ++i)
                                                  lo_message_add_int32(m, i);
                                          })},
        {"blob argument", packetWith("/halvora/play",
                                     [](lo_message m) {
                                         const char data[4] = {1, 2, 3, 4};
                                         lo_blob blob = lo_blob_new(4, data);
                                         lo_message_add_blob(m, blob);
                                         lo_blob_free(blob);
                                     })},
        {"path without slash",
         packetWith("halvora", [](lo_message m) { lo_message_add_int32(m, 1); })},
    };
    for (const HostilePacket &packet : packets)
        sendRaw("127.0.0.1", socket.port(), packet.bytes);
    const auto counts = settle(socket, std::size(packets));
    EXPECT_EQ(counts.refused, std::size(packets));
    EXPECT_EQ(counts.received, 0u);
    EXPECT_TRUE(socket.take().empty());

    OscPeer surface;
    ASSERT_TRUE(surface.send(socket.port(), "/halvora/state", ""));
    settle(socket, std::size(packets) + 1);
    const auto taken = socket.take();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].path, "/halvora/state");
}

TEST(OscSocket, AFloodFillsTheQueueToItsBoundDropsTheRestAndCountsThem) {
    OscSocket socket;
    std::string error;
    ASSERT_TRUE(socket.open("127.0.0.1", 0, error)) << error;
    OscPeer surface;
    constexpr int sent = 3000;
    for (int index = 0; index < sent; ++index)
        ASSERT_TRUE(surface.send(socket.port(), "/halvora/play", ""));
    // The kernel may lose some of a flood itself; what reaches the reader is bounded here.
    const auto until = std::chrono::steady_clock::now() + 3s;
    OscSocket::Counts counts = socket.counts();
    while (counts.received < OscLimits::queued && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(5ms);
        counts = socket.counts();
    }
    std::this_thread::sleep_for(100ms);
    counts = socket.counts();
    EXPECT_EQ(counts.received, OscLimits::queued);
    EXPECT_GT(counts.dropped, 0u);
    EXPECT_LE(counts.received + counts.dropped, static_cast<uint64_t>(sent));
    // The main thread takes a turn's worth at a time.
    EXPECT_EQ(socket.take().size(), OscLimits::perTurn);
    std::size_t left = 0;
    for (auto batch = socket.take(); !batch.empty(); batch = socket.take())
        left += batch.size();
    EXPECT_EQ(left, OscLimits::queued - OscLimits::perTurn);

    // Once drained, the socket takes messages again.
    ASSERT_TRUE(surface.send(socket.port(), "/halvora/stop", ""));
    settle(socket, counts.received + counts.dropped + 1);
    const auto after = socket.take();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].path, "/halvora/stop");
}

struct BindCase {
    const char *host;
    bool reachedFromAnotherLoopbackAddress;
};

TEST(OscSocket, ListensOnlyOnTheAddressItWasGiven) {
    // 127.0.0.2 stands for another interface: a socket on 127.0.0.1 alone never hears what
    // is sent there, one on every interface does.
    for (const BindCase &bind : {BindCase{"127.0.0.1", false}, BindCase{"0.0.0.0", true}}) {
        SCOPED_TRACE(bind.host);
        OscSocket socket;
        std::string error;
        ASSERT_TRUE(socket.open(bind.host, 0, error)) << error;
        const auto packet = packetWith("/halvora/play", [](lo_message) {});
        sendRaw("127.0.0.2", socket.port(), packet);
        sendRaw("127.0.0.1", socket.port(), packet);
        settle(socket, bind.reachedFromAnotherLoopbackAddress ? 2 : 1);
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(socket.take().size(), bind.reachedFromAnotherLoopbackAddress ? 2u : 1u);
    }
}

TEST(OscSocket, RefusesAnAddressThatIsNoIpAddressOrAPortInUse) {
    OscSocket first;
    std::string error;
    ASSERT_TRUE(first.open("127.0.0.1", 0, error)) << error;
    OscSocket second;
    EXPECT_FALSE(second.open("127.0.0.1", first.port(), error));
    EXPECT_NE(error.find("cannot listen"), std::string::npos) << error;
    EXPECT_FALSE(second.isOpen());
    EXPECT_FALSE(second.open("localhost; rm", 0, error));
    EXPECT_NE(error.find("not an IP address"), std::string::npos) << error;
}

} // namespace
