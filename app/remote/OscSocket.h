#pragma once

#include "app/remote/OscMessage.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvane::remote {

/// A UDP socket that speaks OSC: a reader thread decodes what arrives and queues it, bounded,
/// for the main thread, which takes a turn's worth at a time (`take`) and answers from the
/// same socket (`send`), so that the other side sees one address for Halvora. The reader never
/// calls into the application: nothing from the network reaches the document but through the
/// main thread's `take`.
class OscSocket {
  public:
    struct Counts {
        uint64_t received = 0; // decoded and queued
        uint64_t refused = 0;  // malformed, oversized or of types not taken
        uint64_t dropped = 0;  // well formed, but the queue was full
    };

    OscSocket() = default;
    ~OscSocket();
    OscSocket(const OscSocket &) = delete;
    OscSocket &operator=(const OscSocket &) = delete;

    /// Binds to `host` (an IPv4 or IPv6 address; "127.0.0.1" for this machine only, "0.0.0.0"
    /// for every interface) and `port` (0: any free one) and starts the reader. False with
    /// `error` when the address cannot be had.
    [[nodiscard]] bool open(const std::string &host, uint16_t port, std::string &error);
    /// Stops the reader and closes the socket; what was queued is dropped.
    void close();
    bool isOpen() const { return fd >= 0; }
    uint16_t port() const { return boundPort; }

    /// Sends one message; false when it could not be encoded or sent.
    bool send(const Endpoint &to, const std::string &path, const std::vector<OscValue> &arguments);
    /// Up to `most` queued messages, oldest first. Main thread.
    std::vector<OscMessage> take(std::size_t most = OscLimits::perTurn);
    Counts counts() const;

  private:
    void receive();

    int fd = -1;
    int wake[2] = {-1, -1};
    uint16_t boundPort = 0;
    std::thread reader;
    mutable std::mutex queueMutex;
    std::deque<OscMessage> queue;
    std::atomic<uint64_t> received{0};
    std::atomic<uint64_t> refused{0};
    std::atomic<uint64_t> dropped{0};
};

} // namespace orvane::remote
