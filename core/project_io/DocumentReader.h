#pragma once

#include "core/model/Project.h"

namespace orvane::project_io {

struct JsonValue;

/// A non-object gives the default EQ; a band element that is not an object keeps its
/// default band, and a band key replaces the default only with a value of its own type.
ChannelEq8 readChannelEq8(const JsonValue *object);

} // namespace orvane::project_io
