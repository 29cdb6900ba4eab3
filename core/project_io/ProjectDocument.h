#pragma once

#include "core/model/Project.h"

#include <optional>
#include <string>
#include <string_view>

namespace orvane::project_io {

/// The text of "project.json" for `project`. The layout is part of the format: the same
/// project always gives the same bytes.
std::string toJson(const Project &project);

/// The project described by `text`, or none with `error` (when given) set to the reader's
/// message or "root must be object". A damaged but parseable document always yields a
/// project: wrong types, missing keys and out-of-range numbers take their defaults.
std::optional<Project> fromJson(std::string_view text, std::string *error = nullptr);

} // namespace orvane::project_io
