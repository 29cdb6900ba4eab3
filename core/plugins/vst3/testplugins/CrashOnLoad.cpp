// A bundle that takes down whatever process loads it, as a broken plug-in can: its module
// entry raises a segmentation fault before any class can be listed. Scans and loads must
// survive it by doing that work in a helper.
#include <csignal>

extern "C" {
__attribute__((visibility("default"))) bool ModuleEntry(void *) {
    std::raise(SIGSEGV);
    return false;
}
__attribute__((visibility("default"))) bool ModuleExit() { return true; }
__attribute__((visibility("default"))) void *GetPluginFactory() { return nullptr; }
}
