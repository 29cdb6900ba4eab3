#include "core/plugins/vst3/hosting/Utf16.h"

#include "core/model/Utf8.h"

#include <cstdint>

namespace orvane::vst {
namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

void appendUtf16(std::u16string &out, char32_t codePoint) {
    if (codePoint < 0x10000) {
        out += static_cast<char16_t>(codePoint);
        return;
    }
    codePoint -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (codePoint >> 10));
    out += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
}

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Length of the UTF-8 sequence a lead byte starts, 0 for a byte that cannot lead.
int sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

} // namespace

std::string utf16ToUtf8(const char16_t *text) {
    std::string out;
    if (text == nullptr) return out;
    for (const char16_t *unit = text; *unit != 0; ++unit) {
        if (isHighSurrogate(unit[0]) && isLowSurrogate(unit[1])) {
            char32_t high = unit[0] - 0xD800;
            char32_t low = unit[1] - 0xDC00;
            appendUtf8(out, 0x10000 + (high << 10) + low);
            ++unit;
        } else if (isHighSurrogate(*unit) || isLowSurrogate(*unit)) {
            appendUtf8(out, replacementCharacter);
        } else {
            appendUtf8(out, *unit);
        }
    }
    return out;
}

std::u16string utf8ToUtf16(const std::string &text) {
    std::u16string out;
    size_t index = 0;
    while (index < text.size()) {
        auto lead = static_cast<unsigned char>(text[index]);
        int length = sequenceLength(lead);
        if (length == 0 || index + length > text.size()) {
            appendUtf16(out, replacementCharacter);
            ++index;
            continue;
        }
        char32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = true;
        for (int offset = 1; offset < length; ++offset) {
            auto next = static_cast<unsigned char>(text[index + offset]);
            if ((next & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        bool overlongOrSurrogate = (length == 3 && codePoint < 0x800) ||
                                   (length == 4 && (codePoint < 0x10000 || codePoint > 0x10FFFF)) ||
                                   (codePoint >= 0xD800 && codePoint <= 0xDFFF);
        if (!valid || overlongOrSurrogate) {
            appendUtf16(out, replacementCharacter);
            ++index;
            continue;
        }
        appendUtf16(out, codePoint);
        index += length;
    }
    return out;
}

void copyUtf8ToUtf16(const std::string &text, char16_t *destination, int capacity) {
    if (destination == nullptr || capacity <= 0) return;
    std::u16string converted = utf8ToUtf16(text);
    int count = 0;
    for (; count < capacity - 1 && count < static_cast<int>(converted.size()); ++count)
        destination[count] = converted[count];
    // A surrogate pair cut in half by the capacity would leave an invalid unit behind.
    if (count > 0 && isHighSurrogate(destination[count - 1])) --count;
    destination[count] = 0;
}

} // namespace orvane::vst
