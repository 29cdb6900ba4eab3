#include "app/shell/StatusFormat.h"

#include <charconv>
#include <cmath>

namespace orvane {

std::string fixedDecimals(double value, int decimals) {
    if (!std::isfinite(value)) return "0";
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return "0";
    return std::string(buffer, result.ptr);
}

} // namespace orvane
