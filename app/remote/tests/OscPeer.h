#pragma once

#include <lo/lo.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace orvane::remote::testing {

/// The other side of a conversation, written with liblo alone: a control surface or a
/// session manager as a test plays it, on its own UDP port on this machine.
class OscPeer {
  public:
    struct Received {
        std::string path;
        std::string types;
        std::vector<std::string> strings; // the 's' arguments in order
        std::vector<double> numbers;      // the numeric arguments in order
        std::string senderUrl;
    };

    OscPeer() {
        server = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
        if (server) lo_server_add_method(server, nullptr, nullptr, &OscPeer::collect, this);
    }
    ~OscPeer() {
        if (server) lo_server_free(server);
    }
    OscPeer(const OscPeer &) = delete;
    OscPeer &operator=(const OscPeer &) = delete;

    bool ready() const { return server != nullptr; }
    int port() const { return lo_server_get_port(server); }
    std::string url() const { return "osc.udp://127.0.0.1:" + std::to_string(port()) + "/"; }

    /// Sends from this peer's own port, so that answers come back here.
    template <typename... Arguments>
    bool send(int toPort, const char *path, const char *types, Arguments... arguments) {
        lo_address to = lo_address_new("127.0.0.1", std::to_string(toPort).c_str());
        const int sent = lo_send_from(to, server, LO_TT_IMMEDIATE, path, types, arguments...);
        lo_address_free(to);
        return sent > 0;
    }
    bool sendMessage(int toPort, const char *path, lo_message message) {
        lo_address to = lo_address_new("127.0.0.1", std::to_string(toPort).c_str());
        const int sent = lo_send_message_from(to, server, path, message);
        lo_address_free(to);
        return sent > 0;
    }

    /// Waits up to `timeout` for a message to `path` (any when empty) that `accept` takes,
    /// keeping the others; true when one came, which is then `last`.
    bool waitFor(const std::string &path, std::chrono::milliseconds timeout,
                 const std::function<bool(const Received &)> &accept = {}) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        std::size_t looked = 0;
        for (;;) {
            for (; looked < received.size(); ++looked) {
                const Received &message = received[looked];
                if ((path.empty() || message.path == path) && (!accept || accept(message))) {
                    last = message;
                    received.erase(received.begin() + static_cast<std::ptrdiff_t>(looked));
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            lo_server_recv_noblock(server, static_cast<int>(std::min<int64_t>(left.count(), 50)));
        }
    }
    /// Takes whatever arrives within `window`.
    void drain(std::chrono::milliseconds window) {
        const auto until = std::chrono::steady_clock::now() + window;
        while (std::chrono::steady_clock::now() < until)
            lo_server_recv_noblock(server, 10);
    }

    std::vector<Received> received;
    Received last;

  private:
    template <typename Value> static Value readAs(const char *raw) {
        Value value;
        std::memcpy(&value, raw, sizeof value);
        return value;
    }
    static int collect(const char *path, const char *types, lo_arg **argv, int argc,
                       lo_message message, void *self) {
        Received entry;
        entry.path = path;
        entry.types = types ? types : "";
        for (int index = 0; index < argc; ++index) {
            // liblo's arguments keep OSC's 4-byte alignment, not lo_arg's: read them as bytes.
            const char *raw = reinterpret_cast<const char *>(argv[index]);
            switch (types[index]) {
            case LO_STRING:
            case LO_SYMBOL: entry.strings.emplace_back(raw); break;
            case LO_INT32: entry.numbers.push_back(readAs<int32_t>(raw)); break;
            case LO_INT64: entry.numbers.push_back(double(readAs<int64_t>(raw))); break;
            case LO_FLOAT: entry.numbers.push_back(readAs<float>(raw)); break;
            case LO_DOUBLE: entry.numbers.push_back(readAs<double>(raw)); break;
            default: break;
            }
        }
        if (lo_address source = lo_message_get_source(message)) {
            char *url = lo_address_get_url(source);
            if (url) entry.senderUrl = url;
            free(url);
        }
        static_cast<OscPeer *>(self)->received.push_back(std::move(entry));
        return 0;
    }

    lo_server server = nullptr;
};

/// A UDP port nobody on this machine uses right now.
inline int freeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace orvane::remote::testing
