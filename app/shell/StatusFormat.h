#pragma once

#include <string>

namespace orvane {

/// `value` with `decimals` digits after a point, whatever the user's locale: the status texts
/// read the same on every machine.
std::string fixedDecimals(double value, int decimals);

} // namespace orvane
