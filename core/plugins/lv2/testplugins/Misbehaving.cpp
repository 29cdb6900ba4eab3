// A stereo gain whose build picks one way to misbehave (HALVORA_MISBEHAVIOUR), for the hosts that
// must survive it: crash while starting, running, saving or restoring, never return from a block, or
// play NaN. The "well" build behaves, as the reference the others are measured against.
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <thread>

#define HALVORA_STRINGIFY2(x) #x
#define HALVORA_STRINGIFY(x) HALVORA_STRINGIFY2(x)

namespace {

enum Misbehaviour { well, crashInRun, crashInSave, crashInRestore, hangInRun, nanOut, crashInInstantiate };
constexpr int misbehaviour = HALVORA_MISBEHAVIOUR;
constexpr const char *uri = "urn:halvora:test:misbehaving-" HALVORA_STRINGIFY(HALVORA_NAME);

struct Gain {
    const float *ports[4] = {};
    float *outputs[2] = {};
    const float *gain = nullptr;
    LV2_URID gainKey = 0;
    LV2_URID floatType = 0;
    float savedGain = 1.0f;
};

void crash() { std::raise(SIGSEGV); }

LV2_Handle instantiate(const LV2_Descriptor *, double, const char *,
                       const LV2_Feature *const *features) {
    if (misbehaviour == crashInInstantiate) crash();
    auto *gain = new (std::nothrow) Gain;
    if (!gain) return nullptr;
    for (int index = 0; features && features[index]; ++index)
        if (std::strcmp(features[index]->URI, LV2_URID__map) == 0) {
            auto *map = static_cast<LV2_URID_Map *>(features[index]->data);
            gain->gainKey = map->map(map->handle, "urn:halvora:test:gain");
            gain->floatType = map->map(map->handle, "http://lv2plug.in/ns/ext/atom#Float");
        }
    return gain;
}

void connectPort(LV2_Handle handle, uint32_t port, void *data) {
    auto *gain = static_cast<Gain *>(handle);
    if (port < 2) gain->ports[port] = static_cast<const float *>(data);
    if (port == 2 || port == 3) gain->outputs[port - 2] = static_cast<float *>(data);
    if (port == 4) gain->gain = static_cast<const float *>(data);
}

void run(LV2_Handle handle, uint32_t frames) {
    auto *gain = static_cast<Gain *>(handle);
    if (misbehaviour == crashInRun) crash();
    if (misbehaviour == hangInRun)
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    const float factor = gain->gain ? *gain->gain : 1.0f;
    for (int channel = 0; channel < 2; ++channel) {
        if (!gain->ports[channel] || !gain->outputs[channel]) continue;
        for (uint32_t frame = 0; frame < frames; ++frame)
            gain->outputs[channel][frame] = misbehaviour == nanOut
                                                ? std::numeric_limits<float>::quiet_NaN()
                                                : gain->ports[channel][frame] * factor;
    }
}

void cleanup(LV2_Handle handle) { delete static_cast<Gain *>(handle); }

LV2_State_Status save(LV2_Handle handle, LV2_State_Store_Function store,
                      LV2_State_Handle state, uint32_t, const LV2_Feature *const *) {
    if (misbehaviour == crashInSave) crash();
    auto *gain = static_cast<Gain *>(handle);
    gain->savedGain = gain->gain ? *gain->gain : 1.0f;
    return store(state, gain->gainKey, &gain->savedGain, sizeof gain->savedGain,
                 gain->floatType, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status restore(LV2_Handle, LV2_State_Retrieve_Function, LV2_State_Handle, uint32_t,
                         const LV2_Feature *const *) {
    if (misbehaviour == crashInRestore) crash();
    return LV2_STATE_SUCCESS;
}

const LV2_State_Interface stateInterface = {save, restore};

const void *extensionData(const char *which) {
    return std::strcmp(which, LV2_STATE__interface) == 0 ? &stateInterface : nullptr;
}

const LV2_Descriptor descriptor = {uri,     instantiate, connectPort, nullptr, run,
                                   nullptr, cleanup,     extensionData};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor *lv2_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
