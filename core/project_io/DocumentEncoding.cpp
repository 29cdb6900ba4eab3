#include "core/project_io/DocumentEncoding.h"

#include <array>
#include <charconv>
#include <cmath>

namespace orvane::project_io {

namespace {

constexpr char base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

/// Value of each byte in the alphabet, -1 for every byte outside it.
constexpr std::array<int8_t, 256> base64Values() {
    std::array<int8_t, 256> values{};
    for (auto &value : values)
        value = -1;
    for (int index = 0; index < 64; ++index)
        values[static_cast<uint8_t>(base64Alphabet[index])] = static_cast<int8_t>(index);
    return values;
}

constexpr std::array<int8_t, 256> base64Table = base64Values();

template <typename Value> void appendChars(std::string &out, Value value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

/// Control bytes other than tab, line feed and carriage return may not stand raw in a JSON
/// string; they are written as `\u00XX`, which the reader decodes.
bool isOtherControl(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    return value < 0x20 || value == 0x7F;
}

void appendControlEscape(std::string &out, char byte) {
    constexpr char digits[] = "0123456789abcdef";
    const auto value = static_cast<unsigned char>(byte);
    out += "\\u00";
    out += digits[value >> 4];
    out += digits[value & 0xF];
}

} // namespace

void appendEscaped(std::string &out, std::string_view text) {
    std::size_t runStart = 0;
    for (std::size_t index = 0; index < text.size(); ++index) {
        const char *replacement = nullptr;
        switch (text[index]) {
        case '\t': replacement = "\\t"; break;
        case '\n': replacement = "\\n"; break;
        case '\r': replacement = "\\r"; break;
        case '\\': replacement = "\\\\"; break;
        case '"': replacement = "\\\""; break;
        default:
            if (!isOtherControl(text[index])) continue;
        }
        out.append(text.data() + runStart, index - runStart);
        if (replacement)
            out += replacement;
        else
            appendControlEscape(out, text[index]);
        runStart = index + 1;
    }
    out.append(text.data() + runStart, text.size() - runStart);
}

std::string escape(std::string_view text) {
    std::string out;
    appendEscaped(out, text);
    return out;
}

void appendNumber(std::string &out, double value) {
    if (!std::isfinite(value)) {
        out += '0';
        return;
    }
    char buffer[32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    out.append(buffer, result.ptr);
}

void appendInteger(std::string &out, int64_t value) { appendChars(out, value); }

void appendUnsigned(std::string &out, uint64_t value) { appendChars(out, value); }

std::string encodeBase64(const std::vector<uint8_t> &bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t index = 0;
    for (; index + 3 <= bytes.size(); index += 3) {
        const uint32_t group =
            (uint32_t{bytes[index]} << 16) | (uint32_t{bytes[index + 1]} << 8) | bytes[index + 2];
        out += base64Alphabet[(group >> 18) & 63];
        out += base64Alphabet[(group >> 12) & 63];
        out += base64Alphabet[(group >> 6) & 63];
        out += base64Alphabet[group & 63];
    }
    const std::size_t rest = bytes.size() - index;
    if (rest == 0) return out;
    uint32_t group = uint32_t{bytes[index]} << 16;
    if (rest == 2) group |= uint32_t{bytes[index + 1]} << 8;
    out += base64Alphabet[(group >> 18) & 63];
    out += base64Alphabet[(group >> 12) & 63];
    out += rest == 2 ? base64Alphabet[(group >> 6) & 63] : '=';
    out += '=';
    return out;
}

std::vector<uint8_t> decodeBase64(std::string_view text) {
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    uint32_t accumulator = 0;
    int bits = 0;
    for (const char character : text) {
        const int8_t value = base64Table[static_cast<uint8_t>(character)];
        if (value < 0) continue;
        accumulator = (accumulator << 6) | static_cast<uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<uint8_t>((accumulator >> bits) & 0xFF));
        }
    }
    return bytes;
}

} // namespace orvane::project_io
