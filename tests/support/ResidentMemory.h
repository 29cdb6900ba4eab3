#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

namespace orvane::testing {

/// The resident bytes of this process's mapping that holds `address` (from
/// /proc/self/smaps), or -1 when no mapping holds it.
inline int64_t residentBytesAround(const void *address) {
    std::ifstream smaps("/proc/self/smaps");
    const auto wanted = reinterpret_cast<uintptr_t>(address);
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        unsigned long begin = 0, end = 0;
        char dash = 0;
        if (std::sscanf(line.c_str(), "%lx%c%lx ", &begin, &dash, &end) == 3 && dash == '-') {
            inside = wanted >= begin && wanted < end;
            continue;
        }
        long kib = 0;
        if (inside && std::sscanf(line.c_str(), "Rss: %ld kB", &kib) == 1) return kib * 1024;
    }
    return -1;
}

} // namespace orvane::testing
