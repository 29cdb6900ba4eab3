#include "core/audiofile/AudioFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

namespace {

/// The importer reads from a path: each input goes through one in-memory file, reached by
/// its descriptor's path, so that nothing is left on disk.
const std::string &inputPath() {
    static const int descriptor = ::memfd_create("halvora_fuzz_wav", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(descriptor);
    if (descriptor < 0) std::abort();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string &path = inputPath();
    const int descriptor = std::stoi(path.substr(path.rfind('/') + 1));
    if (::ftruncate(descriptor, 0) != 0 ||
        ::pwrite(descriptor, data, size, 0) != static_cast<ssize_t>(size))
        return 0;
    orvane::ImportedWav imported;
    if (orvane::importWav(path, imported)) {
        // Always stereo, and never more frames than the file has bytes.
        if (imported.channels != 2 || !imported.samples ||
            imported.samples->size() != 2 * static_cast<std::size_t>(imported.frames) ||
            static_cast<std::size_t>(imported.frames) > size)
            std::abort();
    }
    return 0;
}
