#include "core/project_io/ProjectDocument.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

// Whatever the bytes, reading must not crash; a document that reads must write a text that
// reads again to the same text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto project = orvane::project_io::fromJson(text);
    if (!project) return 0;
    const std::string written = orvane::project_io::toJson(*project);
    const auto again = orvane::project_io::fromJson(written);
    if (!again || orvane::project_io::toJson(*again) != written) std::abort();
    return 0;
}
