#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <semaphore>
#include <thread>
#include <vector>

#include <lv2/worker/worker.h>

namespace orvane::lv2 {

/// Messages of up to a few kilobytes between one writer and one reader thread, each stored as
/// its size and its bytes. Neither side allocates or waits: a message that does not fit is
/// refused.
class MessageRing {
  public:
    explicit MessageRing(size_t capacity);
    [[nodiscard]] bool write(const void *data, uint32_t size);
    /// Copies the next message into `buffer` (of `capacity` bytes) and returns its size, or 0
    /// when the ring is empty. A message larger than `capacity` is skipped.
    uint32_t read(void *buffer, uint32_t capacity);

  private:
    size_t freeSpace() const;
    void copyIn(size_t position, const void *data, size_t size);
    void copyOut(size_t position, void *data, size_t size) const;

    std::vector<uint8_t> bytes;
    std::atomic<size_t> readPosition{0};
    std::atomic<size_t> writePosition{0};
};

/// The worker of one plug-in instance: `schedule` (the plug-in's audio thread) hands work to a
/// thread of its own, which calls the plug-in's `work`; `deliverResponses` (the audio thread,
/// at the start of a block) hands the responses back, then calls `end_run` after the block.
class Lv2Worker {
  public:
    Lv2Worker();
    ~Lv2Worker();
    Lv2Worker(const Lv2Worker &) = delete;
    Lv2Worker &operator=(const Lv2Worker &) = delete;

    /// Starts the thread for an instance that offers the worker interface.
    void start(const LV2_Worker_Interface *interface, LV2_Handle instance);
    /// Joins the thread; work still queued is dropped.
    void stop();

    /// The feature the plug-in is instantiated with; valid as long as this object.
    LV2_Worker_Schedule *scheduleFeature() { return &schedule; }

    void deliverResponses();
    void endRun();
    /// For tests and shutdown: true when no request waits and the thread is idle.
    bool idle() const;

  private:
    static LV2_Worker_Status scheduleWork(LV2_Worker_Schedule_Handle handle, uint32_t size,
                                          const void *data);
    static LV2_Worker_Status respond(LV2_Worker_Respond_Handle handle, uint32_t size,
                                     const void *data);
    void run();

    static constexpr uint32_t largestMessage = 4096;
    LV2_Worker_Schedule schedule{};
    const LV2_Worker_Interface *workerInterface = nullptr;
    LV2_Handle instanceHandle = nullptr;
    MessageRing requests{64 * 1024};
    MessageRing responses{64 * 1024};
    std::counting_semaphore<> pending{0};
    std::atomic<bool> stopping{false};
    std::atomic<int> busy{0};
    std::thread thread;
    /// The audio thread's copy of one response; the worker thread's is on its own stack.
    std::unique_ptr<uint8_t[]> responseBuffer;
};

} // namespace orvane::lv2
