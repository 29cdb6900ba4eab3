#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::project_io {

/// Quotes are not added. Tab, line feed, carriage return, backslash and quote get their short
/// escapes, other control bytes `\u00XX` so that the text is valid JSON for every tool;
/// every other byte, UTF-8 included, is copied unchanged.
std::string escape(std::string_view text);
void appendEscaped(std::string &out, std::string_view text);

/// General notation at 15 significant digits, independent of the process locale. A value
/// that is not finite is written as 0 so that every document can be read back.
void appendNumber(std::string &out, double value);
void appendInteger(std::string &out, int64_t value);
void appendUnsigned(std::string &out, uint64_t value);

/// Standard alphabet with "=" padding and no line breaks.
std::string encodeBase64(const std::vector<uint8_t> &bytes);
/// Lenient: every byte outside the alphabet (padding and line breaks included) is skipped.
std::vector<uint8_t> decodeBase64(std::string_view text);

} // namespace orvane::project_io
