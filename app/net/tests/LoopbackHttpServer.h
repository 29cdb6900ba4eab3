#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvane::testing {

struct ReceivedRequest {
    std::string method;
    std::string target;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
};

/// A small HTTP/1.1 server on 127.0.0.1 and a free port, serving one canned answer to every
/// request on its own thread, or holding each connection open without an answer.
class LoopbackHttpServer {
  public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer &) = delete;
    LoopbackHttpServer &operator=(const LoopbackHttpServer &) = delete;

    std::string url(const std::string &path = "/") const;
    void answer(int status, std::string body);
    /// Requests are read and recorded, and never answered while the server lives.
    void stayMute() { mute.store(true); }
    std::vector<ReceivedRequest> requests() const;

  private:
    void serve();
    void handle(int connection);

    int listener = -1;
    int wakeRead = -1, wakeWrite = -1;
    int port = 0;
    std::atomic<bool> mute{false};
    mutable std::mutex mutex;
    int status = 200;
    std::string body;
    std::vector<ReceivedRequest> received;
    std::vector<int> heldConnections;
    std::thread worker;
};

} // namespace orvane::testing
