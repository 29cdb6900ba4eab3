#pragma once

#include "core/model/Project.h"

#include <cstdint>

namespace orvane::testing {

/// Built from the model's table of stored fields.
/// A project in which every stored field holds a random value that the document can carry
/// exactly (64-bit integers within 2^53, doubles of at most 15 significant digits, strings
/// of arbitrary bytes), and every field that is not stored holds a value other than its
/// load default.
Project makeRandomProject(uint32_t seed);

/// Google Test expectations: every stored field of `actual` equals that of `expected`.
void expectSameStoredFields(const Project &expected, const Project &actual);

/// Google Test expectations: every field that is not stored is at its load default.
void expectNotStoredFieldsAtLoadDefaults(const Project &project);

} // namespace orvane::testing
