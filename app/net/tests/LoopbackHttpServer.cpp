#include "app/net/tests/LoopbackHttpServer.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvane::testing {

namespace {

std::string lower(std::string text) {
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trim(const std::string &text) {
    const auto begin = text.find_first_not_of(" \t");
    const auto end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

ReceivedRequest parseHead(const std::string &head) {
    ReceivedRequest request;
    std::size_t lineEnd = head.find("\r\n");
    const std::string first = head.substr(0, lineEnd);
    const auto space = first.find(' ');
    request.method = first.substr(0, space);
    request.target = first.substr(space + 1, first.rfind(' ') - space - 1);
    while (lineEnd != std::string::npos && lineEnd + 2 < head.size()) {
        const std::size_t next = head.find("\r\n", lineEnd + 2);
        const std::string line = head.substr(lineEnd + 2, next - lineEnd - 2);
        const auto colon = line.find(':');
        if (colon != std::string::npos)
            request.headers[lower(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
        lineEnd = next;
    }
    return request;
}

bool readRequest(int connection, ReceivedRequest &request) {
    std::string data;
    char buffer[4096];
    std::size_t headEnd = std::string::npos;
    while (headEnd == std::string::npos) {
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0) return false;
        data.append(buffer, static_cast<std::size_t>(got));
        headEnd = data.find("\r\n\r\n");
    }
    request = parseHead(data.substr(0, headEnd));
    const auto length = request.headers.find("content-length");
    const std::size_t wanted =
        length == request.headers.end() ? 0 : std::strtoull(length->second.c_str(), nullptr, 10);
    request.body = data.substr(headEnd + 4);
    while (request.body.size() < wanted) {
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0) return false;
        request.body.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

void sendAll(int connection, const std::string &text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t wrote =
            ::send(connection, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (wrote <= 0) return;
        sent += static_cast<std::size_t>(wrote);
    }
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer() {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        throw std::runtime_error("loopback server: cannot listen");
    port = ntohs(address.sin_port);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) throw std::runtime_error("loopback server: no pipe");
    wakeRead = wake[0];
    wakeWrite = wake[1];
    worker = std::thread([this] { serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    (void)::write(wakeWrite, "x", 1);
    worker.join();
    for (const int connection : heldConnections)
        ::close(connection);
    ::close(listener);
    ::close(wakeRead);
    ::close(wakeWrite);
}

std::string LoopbackHttpServer::url(const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

void LoopbackHttpServer::answer(int newStatus, std::string newBody) {
    std::lock_guard lock(mutex);
    status = newStatus;
    body = std::move(newBody);
}

std::vector<ReceivedRequest> LoopbackHttpServer::requests() const {
    std::lock_guard lock(mutex);
    return received;
}

void LoopbackHttpServer::serve() {
    while (true) {
        pollfd watched[2] = {{listener, POLLIN, 0}, {wakeRead, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) continue;
        if (watched[1].revents != 0) return;
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0) handle(connection);
    }
}

void LoopbackHttpServer::handle(int connection) {
    ReceivedRequest request;
    const bool complete = readRequest(connection, request);
    std::string reply;
    {
        std::lock_guard lock(mutex);
        if (complete) received.push_back(request);
        if (complete && mute.load()) {
            heldConnections.push_back(connection);
            return;
        }
        reply = "HTTP/1.1 " + std::to_string(status) +
                " Canned\r\nContent-Type: application/json\r\n"
                "Content-Length: " +
                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }
    if (complete) sendAll(connection, reply);
    ::close(connection);
}

} // namespace orvane::testing
