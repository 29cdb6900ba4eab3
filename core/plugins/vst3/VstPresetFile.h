#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orvane::vst {

/// What a ".vstpreset" file holds: the class it is for and the states of its component and
/// controller. A preset's name is its file's name.
struct VstPresetFile {
    /// 32 hexadecimal digits, as the scanner writes a class's uid.
    std::string classId;
    std::vector<uint8_t> componentState;
    /// Empty when the file has no controller state.
    std::vector<uint8_t> controllerState;
};

/// Reads the bytes of a ".vstpreset" file: the header, the list of chunks and the component's
/// chunk must all be whole and inside the file. False, with `error` saying why, for anything
/// else; `preset` is then left as it was.
[[nodiscard]] bool readVstPresetFile(std::span<const uint8_t> bytes, VstPresetFile &preset,
                                     std::string &error);

/// The bytes of a ".vstpreset" file holding `preset`.
std::vector<uint8_t> writeVstPresetFile(const VstPresetFile &preset);

} // namespace orvane::vst
