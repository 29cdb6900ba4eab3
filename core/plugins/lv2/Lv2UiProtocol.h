#pragma once

#include <cstdint>
#include <string>

namespace orvane::lv2 {

/// One line between the program and its interface host process (see `Lv2UiProcess`).
struct UiMessage {
    enum class Kind { port, show, value, close, open, closed, error };
    Kind kind = Kind::close;
    uint32_t port = 0;
    float value = 0.0f;
    /// The port's symbol for `port`, the reason for `error`.
    std::string symbol;
    /// The X11 window for `open`.
    unsigned long window = 0;
};

/// False for a line that is none of the messages (it is then ignored by both ends).
[[nodiscard]] bool parseUiMessage(const std::string &line, UiMessage &message);
/// "VALUE <port> <value>", exact enough that the value reads back the same.
std::string formatUiValue(uint32_t port, float value);

} // namespace orvane::lv2
