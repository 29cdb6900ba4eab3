// An LV2 plug-in that uses the worker: its first run asks for work, the worker answers with
// six times what it was given, and every later block adds the answer to the left channel. The
// right channel carries how many runs have ended, so a host that forgets `end_run` shows.
#include <cstdint>
#include <cstring>
#include <lv2/core/lv2.h>
#include <lv2/worker/worker.h>

namespace {

struct Echo {
    const LV2_Worker_Schedule *schedule = nullptr;
    const float *input[2] = {};
    float *output[2] = {};
    bool asked = false;
    int32_t answer = 0;
    int32_t endedRuns = 0;
};

LV2_Handle instantiate(const LV2_Descriptor *, double, const char *,
                       const LV2_Feature *const *features) {
    auto *echo = new Echo;
    for (int index = 0; features[index]; ++index)
        if (std::strcmp(features[index]->URI, LV2_WORKER__schedule) == 0)
            echo->schedule = static_cast<const LV2_Worker_Schedule *>(features[index]->data);
    if (!echo->schedule) {
        delete echo;
        return nullptr;
    }
    return echo;
}

void connectPort(LV2_Handle handle, uint32_t port, void *data) {
    auto *echo = static_cast<Echo *>(handle);
    if (port < 2)
        echo->input[port] = static_cast<const float *>(data);
    else if (port < 4)
        echo->output[port - 2] = static_cast<float *>(data);
}

void run(LV2_Handle handle, uint32_t frames) {
    auto *echo = static_cast<Echo *>(handle);
    if (!echo->asked) {
        const int32_t request = 7;
        echo->asked = echo->schedule->schedule_work(echo->schedule->handle, sizeof request,
                                                    &request) == LV2_WORKER_SUCCESS;
    }
    for (uint32_t i = 0; i < frames; ++i) {
        echo->output[0][i] = echo->input[0][i] + static_cast<float>(echo->answer);
        echo->output[1][i] = echo->input[1][i] + static_cast<float>(echo->endedRuns);
    }
}

void cleanup(LV2_Handle handle) { delete static_cast<Echo *>(handle); }

LV2_Worker_Status work(LV2_Handle, LV2_Worker_Respond_Function respond,
                       LV2_Worker_Respond_Handle respondHandle, uint32_t size, const void *data) {
    if (size != sizeof(int32_t)) return LV2_WORKER_ERR_UNKNOWN;
    int32_t value = 0;
    std::memcpy(&value, data, sizeof value);
    const int32_t answer = value * 6;
    return respond(respondHandle, sizeof answer, &answer);
}

LV2_Worker_Status workResponse(LV2_Handle handle, uint32_t size, const void *data) {
    if (size != sizeof(int32_t)) return LV2_WORKER_ERR_UNKNOWN;
    std::memcpy(&static_cast<Echo *>(handle)->answer, data, sizeof(int32_t));
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status endRun(LV2_Handle handle) {
    ++static_cast<Echo *>(handle)->endedRuns;
    return LV2_WORKER_SUCCESS;
}

const LV2_Worker_Interface workerInterface = {work, workResponse, endRun};

const void *extensionData(const char *uri) {
    return std::strcmp(uri, LV2_WORKER__interface) == 0 ? &workerInterface : nullptr;
}

const LV2_Descriptor descriptor = {"urn:halvora:test:worker-echo",
                                   instantiate,
                                   connectPort,
                                   nullptr,
                                   run,
                                   nullptr,
                                   cleanup,
                                   extensionData};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor *lv2_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
