#include "core/music/ScalaFiles.h"
#include "core/music/Tuning.h"

#include <cstdlib>

// Any bytes must give a map or an error, and whatever map comes out must be usable by the
// frequency and degree functions that the engine and the commands feed it to.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string error;
    const auto map =
        orvane::parseKbmText(std::string_view(reinterpret_cast<const char *>(data), size), &error);
    if (!map) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (map->degrees.empty()) std::abort();
    const orvane::CentTable cents{};
    for (int32_t degree = -8; degree <= 8; ++degree) {
        const int32_t pitch = orvane::midiPitchFromKbmDegree(degree, map->degrees, 0, degree < 0);
        if (pitch < 0 || pitch > 127) std::abort();
        const double hz =
            orvane::midiNoteFrequencyTuned(60.0 + degree, 3, degree > 0, map->degrees, cents);
        if (!(hz > 0.0)) std::abort();
    }
    return 0;
}
