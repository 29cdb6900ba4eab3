#include "core/plugins/lv2/Lv2Worker.h"

#include <cstring>

namespace orvane::lv2 {

MessageRing::MessageRing(size_t capacity) : bytes(capacity) {}

size_t MessageRing::freeSpace() const {
    const size_t used = writePosition.load(std::memory_order_relaxed) -
                        readPosition.load(std::memory_order_acquire);
    return bytes.size() - used;
}

void MessageRing::copyIn(size_t position, const void *data, size_t size) {
    const auto *source = static_cast<const uint8_t *>(data);
    for (size_t offset = 0; offset < size; ++offset)
        bytes[(position + offset) % bytes.size()] = source[offset];
}

void MessageRing::copyOut(size_t position, void *data, size_t size) const {
    auto *target = static_cast<uint8_t *>(data);
    for (size_t offset = 0; offset < size; ++offset)
        target[offset] = bytes[(position + offset) % bytes.size()];
}

bool MessageRing::write(const void *data, uint32_t size) {
    if (freeSpace() < sizeof size + size) return false;
    const size_t position = writePosition.load(std::memory_order_relaxed);
    copyIn(position, &size, sizeof size);
    copyIn(position + sizeof size, data, size);
    writePosition.store(position + sizeof size + size, std::memory_order_release);
    return true;
}

uint32_t MessageRing::read(void *buffer, uint32_t capacity) {
    const size_t position = readPosition.load(std::memory_order_relaxed);
    if (writePosition.load(std::memory_order_acquire) == position) return 0;
    uint32_t size = 0;
    copyOut(position, &size, sizeof size);
    if (size <= capacity) copyOut(position + sizeof size, buffer, size);
    readPosition.store(position + sizeof size + size, std::memory_order_release);
    return size <= capacity ? size : 0;
}

Lv2Worker::Lv2Worker() : responseBuffer(new uint8_t[largestMessage]) {
    schedule.handle = this;
    schedule.schedule_work = &Lv2Worker::scheduleWork;
}

Lv2Worker::~Lv2Worker() { stop(); }

void Lv2Worker::start(const LV2_Worker_Interface *interface, LV2_Handle instance) {
    stop();
    workerInterface = interface;
    instanceHandle = instance;
    stopping = false;
    thread = std::thread([this] { run(); });
}

void Lv2Worker::stop() {
    if (!thread.joinable()) return;
    stopping = true;
    pending.release();
    thread.join();
    uint8_t discard[largestMessage];
    while (requests.read(discard, sizeof discard) > 0) {
    }
    while (responses.read(discard, sizeof discard) > 0) {
    }
}

LV2_Worker_Status Lv2Worker::scheduleWork(LV2_Worker_Schedule_Handle handle, uint32_t size,
                                          const void *data) {
    auto *worker = static_cast<Lv2Worker *>(handle);
    if (!worker->thread.joinable() || size > largestMessage) return LV2_WORKER_ERR_UNKNOWN;
    if (!worker->requests.write(data, size)) return LV2_WORKER_ERR_NO_SPACE;
    worker->busy.fetch_add(1, std::memory_order_release);
    worker->pending.release();
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status Lv2Worker::respond(LV2_Worker_Respond_Handle handle, uint32_t size,
                                     const void *data) {
    auto *worker = static_cast<Lv2Worker *>(handle);
    if (size > largestMessage) return LV2_WORKER_ERR_UNKNOWN;
    return worker->responses.write(data, size) ? LV2_WORKER_SUCCESS : LV2_WORKER_ERR_NO_SPACE;
}

void Lv2Worker::run() {
    std::unique_ptr<uint8_t[]> request(new uint8_t[largestMessage]);
    for (;;) {
        pending.acquire();
        if (stopping) return;
        const uint32_t size = requests.read(request.get(), largestMessage);
        if (size > 0)
            workerInterface->work(instanceHandle, &Lv2Worker::respond, this, size, request.get());
        busy.fetch_sub(1, std::memory_order_release);
    }
}

void Lv2Worker::deliverResponses() {
    if (!workerInterface) return;
    for (;;) {
        const uint32_t size = responses.read(responseBuffer.get(), largestMessage);
        if (size == 0) return;
        workerInterface->work_response(instanceHandle, size, responseBuffer.get());
    }
}

void Lv2Worker::endRun() {
    if (workerInterface && workerInterface->end_run) workerInterface->end_run(instanceHandle);
}

bool Lv2Worker::idle() const { return busy.load(std::memory_order_acquire) == 0; }

} // namespace orvane::lv2
