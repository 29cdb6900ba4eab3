#include "app/EngineSelfCheck.h"

#include <cstdio>
#include <cstring>

#ifndef HALVORA_VERSION
#define HALVORA_VERSION "0.0.0"
#endif

namespace {

void printUsage() {
    std::puts("usage: Halvora [--version] [--self-check]");
}

} // namespace

int main(int argc, char** argv) {
    bool showVersion = argc < 2;
    bool selfCheck = argc < 2;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            showVersion = true;
        } else if (std::strcmp(argv[i], "--self-check") == 0) {
            selfCheck = true;
        } else {
            std::fprintf(stderr, "Halvora: unknown argument \"%s\"\n", argv[i]);
            printUsage();
            return 2;
        }
    }
    if (showVersion) std::printf("Halvora %s\n", HALVORA_VERSION);
    if (!selfCheck) return 0;
    const auto report = orvane::runEngineSelfCheck(48000.0, 512, 8);
    std::fputs(orvane::describeSelfCheck(report).c_str(), stdout);
    return report.passed ? 0 : 1;
}
