#pragma once

#include <string>
#include <vector>

namespace orvane::vst {

/// One plug-in class found on disk, as the scanner, the rack, the browser and the helper see it.
struct PluginDescription {
    std::string uid;
    std::string name;
    std::string vendor;
    std::string path;
    std::string category;
    bool isInstrument = false;
    bool blacklisted = false;
    std::vector<std::string> tags;
    /// "VST3" or "LV2".
    std::string format = "VST3";
};

} // namespace orvane::vst
