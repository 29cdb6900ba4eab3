#pragma once

// What the rack's source files share and nobody else needs.

#include "core/plugins/PluginRack.h"
#include "core/plugins/lv2/Lv2World.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <string>

namespace orvane::vst::rack {

inline constexpr float noAutomationValue = std::numeric_limits<float>::quiet_NaN();

// Out of process a plug-in's uid is its bundle path. Any uid other than a class id picks the
// bundle's first class anyway, and the helper would read a path sent as uid as part of the
// bundle path, so only class ids are passed on.
inline std::string classFilterOf(const std::string &uid) {
    const bool classId = uid.size() == 32 && std::all_of(uid.begin(), uid.end(), [](char c) {
                             return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                         });
    return classId ? uid : std::string{};
}

// A sandboxed LV2 insert runs in a helper as a VST 3 one does, known by its id.
inline bool isLv2Member(const Slot &slot) {
    return slot.sandboxed && lv2::isLv2PluginId(slot.plugin->description.uid);
}

} // namespace orvane::vst::rack
