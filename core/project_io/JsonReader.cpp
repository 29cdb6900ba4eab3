#include "core/project_io/JsonReader.h"

#include "core/model/Utf8.h"

#include <algorithm>
#include <charconv>
#include <system_error>

namespace orvane::project_io {

namespace {

bool isWhitespace(char byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r'; }

bool isNumberByte(char byte) {
    return (byte >= '0' && byte <= '9') || byte == '.' || byte == 'e' || byte == 'E' ||
           byte == '+' || byte == '-';
}

/// Longest-prefix conversion with the C library's string-to-double rules for the bytes a
/// number may hold, but independent of the process locale: a locale with a decimal comma
/// would otherwise stop at "." and truncate every fraction.
double convertNumber(std::string_view text) {
    const char *first = text.data();
    const char *last = first + text.size();
    if (first != last && *first == '+') {
        ++first;
        if (first != last && (*first == '+' || *first == '-')) return 0.0;
    }
    double value = 0.0;
    const auto result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec != std::errc()) return 0.0;
    return value;
}

char unescape(char byte) {
    switch (byte) {
    case 't': return '\t';
    case 'r': return '\r';
    case 'n': return '\n';
    case 'b': return '\b';
    case 'f': return '\f';
    default: return byte;
    }
}

/// The value of four hexadecimal digits at `at`, or -1.
int32_t hexQuad(std::string_view text, std::size_t at) {
    if (at + 4 > text.size()) return -1;
    int32_t value = 0;
    for (std::size_t index = at; index < at + 4; ++index) {
        const char byte = text[index];
        int digit = -1;
        if (byte >= '0' && byte <= '9') digit = byte - '0';
        if (byte >= 'a' && byte <= 'f') digit = byte - 'a' + 10;
        if (byte >= 'A' && byte <= 'F') digit = byte - 'A' + 10;
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

constexpr uint32_t replacementCharacter = 0xFFFD;

/// Decodes the `\uXXXX` escape at `at` (the backslash), a surrogate pair as one character,
/// and returns the bytes consumed; a lone surrogate becomes U+FFFD. Zero when the four
/// digits are not hexadecimal, which leaves the escape to the plain rule.
std::size_t decodeUnicodeEscape(std::string_view text, std::size_t at, std::string &out) {
    const int32_t first = hexQuad(text, at + 2);
    if (first < 0) return 0;
    const auto high = static_cast<uint32_t>(first);
    if (high >= 0xD800 && high <= 0xDBFF && text.substr(at + 6, 2) == "\\u") {
        const int32_t second = hexQuad(text, at + 8);
        if (second >= 0xDC00 && second <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((high - 0xD800) << 10) +
                                (static_cast<uint32_t>(second) - 0xDC00));
            return 12;
        }
    }
    appendUtf8(out, high >= 0xD800 && high <= 0xDFFF ? replacementCharacter : high);
    return 6;
}

} // namespace

const JsonValue *JsonValue::find(std::string_view key) const {
    for (const auto &member : members)
        if (member.key == key) return &member.value;
    return nullptr;
}

Parser::Parser(std::string_view text)
    : text_(text), memberScratch_(maxDepth + 1), elementScratch_(maxDepth + 1) {}

namespace {

template <typename Child> void moveChildren(std::vector<Child> &scratch, std::vector<Child> &to) {
    to.reserve(scratch.size());
    for (Child &child : scratch)
        to.push_back(std::move(child));
    scratch.clear();
}

} // namespace

void Parser::skipWhitespace() {
    while (!atEnd() && isWhitespace(text_[position_]))
        ++position_;
}

void Parser::fail(const char *message) {
    if (!aborted_) error_ = message;
}

JsonValue Parser::parseValue() {
    skipWhitespace();
    if (atEnd() || aborted_) return {};
    const char byte = text_[position_];
    if (byte == '{' || byte == '[') {
        if (depth_ >= maxDepth) {
            error_ = nestingTooDeep;
            aborted_ = true;
            return {};
        }
        ++depth_;
        JsonValue value = byte == '{' ? parseObject() : parseArray();
        --depth_;
        return value;
    }
    if (byte == '"') {
        JsonValue value;
        value.kind = JsonKind::String;
        value.string = parseString();
        return value;
    }
    if (byte == 't' || byte == 'f') return parseBoolean();
    if (byte == 'n') return parseNull();
    return parseNumber();
}

JsonValue Parser::parseNull() {
    // The letters are not checked, but the position never passes the end of the text.
    position_ = std::min(position_ + 4, text_.size());
    return {};
}

JsonValue Parser::parseBoolean() {
    JsonValue value;
    value.kind = JsonKind::Boolean;
    if (text_.substr(position_, 4) == "true") {
        value.boolean = true;
        position_ += 4;
    } else {
        position_ = std::min(position_ + 5, text_.size());
    }
    return value;
}

JsonValue Parser::parseNumber() {
    JsonValue value;
    value.kind = JsonKind::Number;
    const std::size_t start = position_;
    if (!atEnd() && text_[position_] == '-') ++position_;
    while (!atEnd() && isNumberByte(text_[position_]))
        ++position_;
    value.number = convertNumber(text_.substr(start, position_ - start));
    return value;
}

std::string Parser::parseString() {
    std::string result;
    skipWhitespace();
    if (atEnd() || text_[position_] != '"') return result;
    ++position_;
    while (!atEnd()) {
        // Copy plain runs in one piece: strings dominate the document's bytes.
        std::size_t runEnd = position_;
        while (runEnd < text_.size() && text_[runEnd] != '"' && text_[runEnd] != '\\')
            ++runEnd;
        result.append(text_.data() + position_, runEnd - position_);
        position_ = runEnd;
        if (atEnd()) break;
        if (text_[position_] == '"') {
            ++position_;
            break;
        }
        if (position_ + 1 >= text_.size()) {
            result.push_back('\\');
            ++position_;
            break;
        }
        if (text_[position_ + 1] == 'u') {
            const std::size_t consumed = decodeUnicodeEscape(text_, position_, result);
            if (consumed > 0) {
                position_ += consumed;
                continue;
            }
        }
        result.push_back(unescape(text_[position_ + 1]));
        position_ += 2;
    }
    return result;
}

JsonValue Parser::parseArray() {
    JsonValue value;
    value.kind = JsonKind::Array;
    ++position_;
    skipWhitespace();
    if (!atEnd() && text_[position_] == ']') {
        ++position_;
        return value;
    }
    std::vector<JsonValue> &elements = elementScratch_[static_cast<std::size_t>(depth_)];
    while (true) {
        elements.push_back(parseValue());
        if (aborted_) break;
        skipWhitespace();
        if (!atEnd() && text_[position_] == ']') {
            ++position_;
            break;
        }
        if (atEnd() || text_[position_] != ',') {
            fail(expectedCommaOrBracket);
            break;
        }
        ++position_;
    }
    moveChildren(elements, value.elements);
    return value;
}

JsonValue Parser::parseObject() {
    JsonValue value;
    value.kind = JsonKind::Object;
    ++position_;
    skipWhitespace();
    if (!atEnd() && text_[position_] == '}') {
        ++position_;
        return value;
    }
    std::vector<JsonMember> &members = memberScratch_[static_cast<std::size_t>(depth_)];
    while (true) {
        std::string key = parseString();
        skipWhitespace();
        if (atEnd() || text_[position_] != ':') {
            fail(expectedColon);
            break;
        }
        ++position_;
        JsonValue member = parseValue();
        if (aborted_) break;
        members.push_back(JsonMember{std::move(key), std::move(member)});
        skipWhitespace();
        if (!atEnd() && text_[position_] == '}') {
            ++position_;
            break;
        }
        if (atEnd() || text_[position_] != ',') {
            fail(expectedCommaOrBrace);
            break;
        }
        ++position_;
    }
    moveChildren(members, value.members);
    return value;
}

} // namespace orvane::project_io
