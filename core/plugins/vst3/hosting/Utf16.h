#pragma once

#include <string>

namespace orvane::vst {

/// Converts a zero-terminated UTF-16 string, as plug-ins hand out titles and names, to UTF-8.
/// Unpaired surrogates become U+FFFD rather than ending the text, so a broken title still shows.
std::string utf16ToUtf8(const char16_t *text);

/// UTF-16 of a UTF-8 string; malformed bytes become U+FFFD.
std::u16string utf8ToUtf16(const std::string &text);

/// Copies `text` as UTF-16 into a fixed array of `capacity` units (always zero-terminated), the
/// form the VST 3 interfaces use for names.
void copyUtf8ToUtf16(const std::string &text, char16_t *destination, int capacity);

} // namespace orvane::vst
