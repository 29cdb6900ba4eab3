#include "core/music/ScalaFiles.h"

#include <cmath>
#include <cstdlib>

// Any bytes must give a scale or an error; a scale must hold only finite cents, since the
// project stores them and must read them back.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string error;
    const auto scale = orvane::parseScalaText(
        std::string_view(reinterpret_cast<const char *>(data), size), &error);
    if (scale) {
        for (float cents : scale->cents)
            if (!std::isfinite(cents)) std::abort();
        if (scale->degreeCount < 1) std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}
