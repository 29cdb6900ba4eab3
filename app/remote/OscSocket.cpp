#include "app/remote/OscSocket.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvane::remote {

OscSocket::~OscSocket() { close(); }

bool OscSocket::open(const std::string &host, uint16_t port, std::string &error) {
    close();
    sockaddr_storage address{};
    socklen_t length = 0;
    auto &v4 = reinterpret_cast<sockaddr_in &>(address);
    auto &v6 = reinterpret_cast<sockaddr_in6 &>(address);
    if (inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        length = sizeof v4;
    } else if (inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        length = sizeof v6;
    } else {
        error = "not an IP address: " + host;
        return false;
    }
    fd = ::socket(address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::pipe2(wake, O_CLOEXEC) != 0) {
        error = "cannot listen on " + host + " port " + std::to_string(port) + ": " +
                std::strerror(errno);
        close();
        return false;
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &boundLength);
    boundPort = bound.ss_family == AF_INET
                    ? ntohs(reinterpret_cast<sockaddr_in &>(bound).sin_port)
                    : ntohs(reinterpret_cast<sockaddr_in6 &>(bound).sin6_port);
    reader = std::thread([this] { receive(); });
    return true;
}

void OscSocket::close() {
    if (reader.joinable()) {
        const char stop = 0;
        (void)!::write(wake[1], &stop, 1);
        reader.join();
    }
    for (int &end : wake)
        if (end >= 0) {
            ::close(end);
            end = -1;
        }
    if (fd >= 0) ::close(fd);
    fd = -1;
    boundPort = 0;
    std::lock_guard lock(queueMutex);
    queue.clear();
}

bool OscSocket::send(const Endpoint &to, const std::string &path,
                     const std::vector<OscValue> &arguments) {
    if (fd < 0 || !to.valid()) return false;
    const std::vector<uint8_t> packet = encodeOscMessage(path, arguments);
    if (packet.empty()) return false;
    const ssize_t sent = ::sendto(fd, packet.data(), packet.size(), MSG_DONTWAIT,
                                  reinterpret_cast<const sockaddr *>(&to.address), to.length);
    return sent == static_cast<ssize_t>(packet.size());
}

std::vector<OscMessage> OscSocket::take(std::size_t most) {
    std::vector<OscMessage> taken;
    std::lock_guard lock(queueMutex);
    while (!queue.empty() && taken.size() < most) {
        taken.push_back(std::move(queue.front()));
        queue.pop_front();
    }
    return taken;
}

OscSocket::Counts OscSocket::counts() const {
    return {received.load(), refused.load(), dropped.load()};
}

void OscSocket::receive() {
    // One datagram at most this large arrives; a larger one is cut, and refused as oversized.
    std::vector<uint8_t> buffer(65536);
    for (;;) {
        pollfd entries[2] = {{fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (::poll(entries, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (entries[1].revents != 0) return;
        if ((entries[0].revents & POLLIN) == 0) continue;
        Endpoint sender;
        sender.length = sizeof sender.address;
        const ssize_t got =
            ::recvfrom(fd, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT,
                       reinterpret_cast<sockaddr *>(&sender.address), &sender.length);
        if (got < 0) continue;
        std::string why;
        auto message = decodeOscPacket(buffer.data(), static_cast<std::size_t>(got), why);
        if (!message) {
            refused.fetch_add(1);
            continue;
        }
        message->sender = sender;
        std::lock_guard lock(queueMutex);
        if (queue.size() >= OscLimits::queued) {
            dropped.fetch_add(1);
            continue;
        }
        queue.push_back(std::move(*message));
        received.fetch_add(1);
    }
}

} // namespace orvane::remote
