#include "core/plugins/lv2/Lv2Presets.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

constexpr const char *pluginUri = "http://calf.sourceforge.net/plugins/Filter";

} // namespace

// sord keeps a node of a statement whose prefix names no valid URI, which is its own leak: the
// reader's own leaks still count.
extern "C" const char *__lsan_default_suppressions() { return "leak:libsord-0.so\n"; }

// No installed bundle is needed to read a preset: an empty folder keeps the start quick.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("LV2_PATH", "/nonexistent-halvora-fuzz", 1);
    return 0;
}

// Any text either reads as a preset of the plug-in, with a name and a state, or is refused with
// a reason and leaves both as they were.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    std::string name = "kept", error;
    std::vector<uint8_t> state{'k'};
    if (!orvane::lv2::readLv2PresetText(pluginUri, text, "fuzz", name, state, error)) {
        if (error.empty() || name != "kept" || state != std::vector<uint8_t>{'k'}) std::abort();
        return 0;
    }
    if (name.empty() || state.empty()) std::abort();
    return 0;
}
