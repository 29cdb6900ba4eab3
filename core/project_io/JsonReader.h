#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::project_io {

enum class JsonKind : uint8_t { Null, Boolean, Number, String, Object, Array };

struct JsonMember;

/// One parsed value. Only the field that matches `kind` is meaningful; the others stay empty.
struct JsonValue {
    JsonKind kind = JsonKind::Null;
    bool boolean = false;
    double number = 0.0;
    std::string string;
    /// Document order, duplicates kept: the project reader lets the first match win.
    std::vector<JsonMember> members;
    std::vector<JsonValue> elements;

    bool isNull() const { return kind == JsonKind::Null; }
    bool isBoolean() const { return kind == JsonKind::Boolean; }
    bool isNumber() const { return kind == JsonKind::Number; }
    bool isString() const { return kind == JsonKind::String; }
    bool isObject() const { return kind == JsonKind::Object; }
    bool isArray() const { return kind == JsonKind::Array; }

    /// The first member named `key`, or null when there is none or this is not an object.
    const JsonValue *find(std::string_view key) const;
};

struct JsonMember {
    std::string key;
    JsonValue value;
};

/// The tolerant recursive-descent reader of "project.json". It reports only the separator
/// errors and an excess of nesting; everything else becomes a neutral value.
class Parser {
  public:
    /// The writer never nests deeper than seven containers; the bound keeps a crafted
    /// document from exhausting the stack.
    static constexpr int maxDepth = 64;

    /// The text is referenced, not copied: it must outlive the parser.
    explicit Parser(std::string_view text);

    JsonValue parseValue();
    void skipWhitespace();

    const std::string &error() const { return error_; }
    std::size_t position() const { return position_; }

  private:
    JsonValue parseObject();
    JsonValue parseArray();
    JsonValue parseNumber();
    JsonValue parseBoolean();
    JsonValue parseNull();
    std::string parseString();
    void fail(const char *message);
    bool atEnd() const { return position_ >= text_.size(); }

    std::string_view text_;
    std::size_t position_ = 0;
    std::string error_;
    int depth_ = 0;
    /// Children are gathered here, one list per depth whose capacity is reused, and moved
    /// into their container at its end: every container then allocates once, at its exact
    /// size, instead of growing (and moving its children) step by step.
    std::vector<std::vector<JsonMember>> memberScratch_;
    std::vector<std::vector<JsonValue>> elementScratch_;
    /// Set when the nesting bound is hit; from then on every container unwinds at once so
    /// that the depth message is the one reported.
    bool aborted_ = false;
};

/// Messages of the reader, exactly as the user may see them.
inline constexpr const char *expectedColon = "expected ':'";
inline constexpr const char *expectedCommaOrBrace = "expected ',' or '}'";
inline constexpr const char *expectedCommaOrBracket = "expected ',' or ']'";
inline constexpr const char *nestingTooDeep = "nesting too deep";

} // namespace orvane::project_io
