#include "bench/app/MixingWorkload.h"

#include <cstdio>
#include <filesystem>

/// Writes the two mixing projects (gain and pan only; four EQ bands per track) into the
/// folder given, for the script that sets the render command beside other mixers.
int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path root(argv[1]);
    for (const int bands : {0, 4})
        std::printf("%s\n", orvane::bench::writeMixingProject(
                                root / ("mix_eq" + std::to_string(bands) + ".halvora"), bands)
                                .c_str());
    return 0;
}
