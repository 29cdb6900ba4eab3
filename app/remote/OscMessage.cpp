#include "app/remote/OscMessage.h"

#include <lo/lo.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

namespace orvane::remote {

namespace {

struct MessageDeleter {
    void operator()(lo_message message) const { lo_message_free(message); }
};
using MessageHandle = std::unique_ptr<std::remove_pointer_t<lo_message>, MessageDeleter>;

struct CharsDeleter {
    void operator()(char *text) const { std::free(text); }
};
using OwnedChars = std::unique_ptr<char, CharsDeleter>;

bool isLoopback(const sockaddr_storage &address) {
    if (address.ss_family == AF_INET) {
        const auto &v4 = reinterpret_cast<const sockaddr_in &>(address);
        return (ntohl(v4.sin_addr.s_addr) >> 24) == 127;
    }
    if (address.ss_family == AF_INET6) {
        const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(address);
        if (IN6_IS_ADDR_LOOPBACK(&v6.sin6_addr)) return true;
        return IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr) && v6.sin6_addr.s6_addr[12] == 127;
    }
    return false;
}

uint16_t portOf(const sockaddr_storage &address) {
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
    return 0;
}

template <typename Value> Value readAs(const char *raw) {
    Value value;
    std::memcpy(&value, raw, sizeof value);
    return value;
}

bool boundedString(const char *text, std::size_t &length) {
    length = strnlen(text, OscLimits::stringBytes + 1);
    return length <= OscLimits::stringBytes;
}

} // namespace

std::string Endpoint::text() const {
    char host[INET6_ADDRSTRLEN] = "?";
    if (address.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in &>(address).sin_addr, host,
                  sizeof host);
    else if (address.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 &>(address).sin6_addr, host,
                  sizeof host);
    return std::string(host) + ":" + std::to_string(portOf(address));
}

bool Endpoint::sameAs(const Endpoint &other) const {
    if (!valid() || !other.valid() || portOf(address) != portOf(other.address)) return false;
    if (isLoopback(address) && isLoopback(other.address)) return true;
    if (address.ss_family != other.address.ss_family) return false;
    if (address.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in &>(address).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in &>(other.address).sin_addr.s_addr;
    return std::memcmp(&reinterpret_cast<const sockaddr_in6 &>(address).sin6_addr,
                       &reinterpret_cast<const sockaddr_in6 &>(other.address).sin6_addr,
                       sizeof(in6_addr)) == 0;
}

std::optional<Endpoint> Endpoint::fromUrl(const std::string &url, std::string &error) {
    if (url.size() > OscLimits::stringBytes || lo_url_get_protocol_id(url.c_str()) != LO_UDP) {
        error = "not an osc.udp:// address: " + url.substr(0, 200);
        return std::nullopt;
    }
    const OwnedChars host(lo_url_get_hostname(url.c_str()));
    const OwnedChars port(lo_url_get_port(url.c_str()));
    if (!host || !port || !*port) {
        error = "no host or port in " + url.substr(0, 200);
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_family = AF_UNSPEC;
    addrinfo *found = nullptr;
    const int failed =
        getaddrinfo(*host.get() ? host.get() : "localhost", port.get(), &hints, &found);
    if (failed != 0 || !found) {
        error = std::string("cannot resolve ") + host.get() + ": " + gai_strerror(failed);
        return std::nullopt;
    }
    // An IPv4 address first: the wildcard socket that talks to it is the common case.
    const addrinfo *chosen = found;
    for (const addrinfo *entry = found; entry; entry = entry->ai_next)
        if (entry->ai_family == AF_INET) {
            chosen = entry;
            break;
        }
    Endpoint endpoint;
    std::memcpy(&endpoint.address, chosen->ai_addr, chosen->ai_addrlen);
    endpoint.length = chosen->ai_addrlen;
    freeaddrinfo(found);
    return endpoint;
}

std::optional<OscMessage> decodeOscPacket(const void *data, std::size_t size, std::string &why) {
    if (size > OscLimits::packetBytes) {
        why = "packet of " + std::to_string(size) + " bytes";
        return std::nullopt;
    }
    if (size < 8 || size % 4 != 0) {
        why = "not an OSC message";
        return std::nullopt;
    }
    if (std::memcmp(data, "#bundle", 8) == 0) {
        why = "bundles are not taken";
        return std::nullopt;
    }
    // liblo validates and may byte-swap in place: it works on a copy.
    std::vector<uint8_t> copy(static_cast<const uint8_t *>(data),
                              static_cast<const uint8_t *>(data) + size);
    int result = 0;
    const MessageHandle message(lo_message_deserialise(copy.data(), copy.size(), &result));
    if (!message || result != 0) {
        why = "malformed OSC message";
        return std::nullopt;
    }
    OscMessage decoded;
    std::size_t length = 0;
    const char *path = reinterpret_cast<const char *>(copy.data());
    if (!boundedString(path, length) || length == 0 || path[0] != '/') {
        why = "bad address";
        return std::nullopt;
    }
    decoded.path.assign(path, length);
    const int count = lo_message_get_argc(message.get());
    if (count < 0 || static_cast<std::size_t>(count) > OscLimits::arguments) {
        why = std::to_string(count) + " arguments";
        return std::nullopt;
    }
    const char *types = lo_message_get_types(message.get());
    lo_arg **values = lo_message_get_argv(message.get());
    for (int index = 0; index < count; ++index) {
        OscValue value;
        value.type = types[index];
        // The arguments sit on OSC's 4-byte boundaries, not on lo_arg's: read them as bytes.
        const char *raw = reinterpret_cast<const char *>(values[index]);
        switch (types[index]) {
        case LO_INT32: value.integer = readAs<int32_t>(raw); break;
        case LO_INT64: value.integer = readAs<int64_t>(raw); break;
        case LO_FLOAT: value.real = readAs<float>(raw); break;
        case LO_DOUBLE: value.real = readAs<double>(raw); break;
        case LO_TRUE:
        case LO_FALSE: value.integer = types[index] == LO_TRUE; break;
        case LO_STRING:
        case LO_SYMBOL:
            value.type = 's';
            if (!boundedString(raw, length)) {
                why = "string longer than " + std::to_string(OscLimits::stringBytes) + " bytes";
                return std::nullopt;
            }
            value.text.assign(raw, length);
            break;
        default: why = std::string("argument type '") + types[index] + "'"; return std::nullopt;
        }
        decoded.types += value.type;
        decoded.arguments.push_back(std::move(value));
    }
    return decoded;
}

std::vector<uint8_t> encodeOscMessage(const std::string &path,
                                      const std::vector<OscValue> &arguments) {
    if (path.empty() || path.front() != '/') return {};
    const MessageHandle message(lo_message_new());
    for (const OscValue &value : arguments) {
        switch (value.type) {
        case 'i': lo_message_add_int32(message.get(), static_cast<int32_t>(value.integer)); break;
        case 'h': lo_message_add_int64(message.get(), value.integer); break;
        case 'f': lo_message_add_float(message.get(), static_cast<float>(value.real)); break;
        case 'd': lo_message_add_double(message.get(), value.real); break;
        case 'T': lo_message_add_true(message.get()); break;
        case 'F': lo_message_add_false(message.get()); break;
        default: lo_message_add_string(message.get(), value.text.c_str()); break;
        }
    }
    std::size_t size = 0;
    void *bytes = lo_message_serialise(message.get(), path.c_str(), nullptr, &size);
    if (!bytes) return {};
    std::vector<uint8_t> packet(static_cast<uint8_t *>(bytes),
                                static_cast<uint8_t *>(bytes) + size);
    std::free(bytes);
    return packet;
}

} // namespace orvane::remote
