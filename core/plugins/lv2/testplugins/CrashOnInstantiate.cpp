// An LV2 plug-in whose data files are fine and whose code crashes as soon as it is
// instantiated: what a sandboxed host must survive.
#include <csignal>
#include <lv2/core/lv2.h>

namespace {

LV2_Handle instantiate(const LV2_Descriptor *, double, const char *, const LV2_Feature *const *) {
    std::raise(SIGSEGV);
    return nullptr;
}

void connectPort(LV2_Handle, uint32_t, void *) {}
void run(LV2_Handle, uint32_t) {}
void cleanup(LV2_Handle) {}

const LV2_Descriptor descriptor = {"urn:halvora:test:crash-on-instantiate",
                                   instantiate,
                                   connectPort,
                                   nullptr,
                                   run,
                                   nullptr,
                                   cleanup,
                                   nullptr};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor *lv2_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
