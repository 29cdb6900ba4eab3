#include "core/plugins/vst3/VstPresetFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Any bytes either read as a preset or are refused with a reason; what is read writes out and
// reads back the same.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    orvane::vst::VstPresetFile preset;
    std::string error;
    if (!orvane::vst::readVstPresetFile({data, size}, preset, error)) {
        if (error.empty() || !preset.classId.empty()) std::abort();
        return 0;
    }
    const std::vector<uint8_t> written = orvane::vst::writeVstPresetFile(preset);
    orvane::vst::VstPresetFile again;
    if (!orvane::vst::readVstPresetFile(written, again, error)) std::abort();
    if (again.classId != preset.classId || again.componentState != preset.componentState ||
        again.controllerState != preset.controllerState)
        std::abort();
    return 0;
}
