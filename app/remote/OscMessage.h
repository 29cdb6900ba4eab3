#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/socket.h>

namespace orvane::remote {

/// What a remote message may be at most. Everything Halvora takes fits well within these; a
/// larger packet, a longer string or more arguments is refused whole, before it is queued.
struct OscLimits {
    static constexpr std::size_t packetBytes = 8192;
    static constexpr std::size_t stringBytes = 4096;
    static constexpr std::size_t arguments = 8;
    /// Messages waiting for the main thread; more arriving before it drains are dropped.
    static constexpr std::size_t queued = 256;
    /// Messages the main thread handles in one turn of its loop, so a flood cannot stall it.
    static constexpr std::size_t perTurn = 64;
};

/// One argument: `type` is its OSC type tag (i, h, f, d, s, T, F); strings come as 's'
/// whether sent as string or symbol.
struct OscValue {
    char type = 'i';
    int64_t integer = 0; // i, h
    double real = 0.0;   // f, d
    std::string text;    // s

    static OscValue ofInt(int32_t value) { return {'i', value, 0.0, {}}; }
    static OscValue ofFloat(float value) { return {'f', 0, value, {}}; }
    static OscValue ofDouble(double value) { return {'d', 0, value, {}}; }
    static OscValue ofString(std::string value) { return {'s', 0, 0.0, std::move(value)}; }
    bool isNumber() const { return type == 'i' || type == 'h' || type == 'f' || type == 'd'; }
    double number() const { return (type == 'f' || type == 'd') ? real : double(integer); }
};

/// A socket address a message came from or goes to.
struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;

    bool valid() const { return length > 0; }
    /// "127.0.0.1:9000"; for messages and logs.
    std::string text() const;
    /// The same host and port; every loopback address counts as the same host, since a
    /// server may be named by one and answer from another.
    bool sameAs(const Endpoint &other) const;
    /// Resolves an "osc.udp://host:port/" address (UDP only); none when it does not resolve.
    static std::optional<Endpoint> fromUrl(const std::string &url, std::string &error);
};

struct OscMessage {
    std::string path;
    std::string types; // one tag per argument, as in `arguments`
    std::vector<OscValue> arguments;
    Endpoint sender;
};

/// Decodes one OSC packet; none, with `why`, for anything malformed, a bundle, an argument
/// type Halvora does not take, or a packet past the limits.
std::optional<OscMessage> decodeOscPacket(const void *data, std::size_t size, std::string &why);

/// The packet for a message; empty when `path` is not an OSC path.
std::vector<uint8_t> encodeOscMessage(const std::string &path,
                                      const std::vector<OscValue> &arguments);

} // namespace orvane::remote
