#pragma once

#include "core/model/Project.h"

#include <string>
#include <vector>

namespace orvane::project_io {

/// `[{"t":T,"v":V},...]`, the form of every automation list in the document.
void writeAutomation(std::string &out, const std::vector<AutomationPoint> &points);
/// One compact object with all eight bands.
void writeChannelEq8(std::string &out, const ChannelEq8 &eq);

} // namespace orvane::project_io
