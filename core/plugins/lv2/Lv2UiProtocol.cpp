#include "core/plugins/lv2/Lv2UiProtocol.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace orvane::lv2 {

namespace {

bool startsWith(const std::string &line, const char *prefix, std::string &rest) {
    const std::string text(prefix);
    if (line.compare(0, text.size(), text) != 0) return false;
    rest = line.substr(text.size());
    return true;
}

bool parseUnsigned(const char *text, const char **end, unsigned long &number) {
    if (*text < '0' || *text > '9') return false;
    errno = 0;
    char *stop = nullptr;
    number = std::strtoul(text, &stop, 10);
    *end = stop;
    return errno == 0;
}

} // namespace

bool parseUiMessage(const std::string &line, UiMessage &message) {
    std::string rest;
    message = UiMessage{};
    if (line == "SHOW") return message.kind = UiMessage::Kind::show, true;
    if (line == "CLOSE") return message.kind = UiMessage::Kind::close, true;
    if (line == "CLOSED") return message.kind = UiMessage::Kind::closed, true;
    if (startsWith(line, "ERR ", rest)) {
        message.kind = UiMessage::Kind::error;
        message.symbol = rest;
        return true;
    }
    const char *end = nullptr;
    unsigned long number = 0;
    if (startsWith(line, "OPEN ", rest)) {
        if (!parseUnsigned(rest.c_str(), &end, number) || *end != '\0') return false;
        message.kind = UiMessage::Kind::open;
        message.window = number;
        return true;
    }
    if (startsWith(line, "VALUE ", rest)) {
        if (!parseUnsigned(rest.c_str(), &end, number) || *end != ' ' || number > UINT32_MAX)
            return false;
        char *stop = nullptr;
        const float value = std::strtof(end + 1, &stop);
        if (stop == end + 1 || *stop != '\0' || !std::isfinite(value)) return false;
        message.kind = UiMessage::Kind::value;
        message.port = static_cast<uint32_t>(number);
        message.value = value;
        return true;
    }
    if (startsWith(line, "PORT ", rest)) {
        const size_t space = rest.rfind(' ');
        if (space == std::string::npos || space == 0) return false;
        if (!parseUnsigned(rest.c_str() + space + 1, &end, number) || *end != '\0' ||
            number > UINT32_MAX)
            return false;
        message.kind = UiMessage::Kind::port;
        message.symbol = rest.substr(0, space);
        message.port = static_cast<uint32_t>(number);
        return true;
    }
    return false;
}

std::string formatUiValue(uint32_t port, float value) {
    char text[64];
    std::snprintf(text, sizeof text, "VALUE %u %.9g", port, static_cast<double>(value));
    return text;
}

} // namespace orvane::lv2
