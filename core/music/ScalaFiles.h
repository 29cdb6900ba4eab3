#pragma once

#include "core/music/Tuning.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

struct ScalaParseResult {
    std::string description;
    CentTable cents{};
    int32_t degreeCount = 0; // as declared in the file; not checked against the values
};

struct KbmParseResult {
    std::string name;
    std::vector<int32_t> degrees; // never empty in a result
};

// The readers take files from anywhere, so any bytes give either a result or one of the
// errors "cannot open file", "invalid degree count", "empty scala scale", "invalid kbm
// size", "empty kbm map" in `error` (when given). Files larger than `maxTuningFileBytes`
// are refused as "cannot open file": real ones are a few kilobytes, and the limit keeps a
// device or a fifo passed by mistake from being read forever.

inline constexpr std::size_t maxTuningFileBytes = 1 << 20;

std::optional<ScalaParseResult> parseScalaFile(const std::filesystem::path &path,
                                               std::string *error = nullptr);
std::optional<KbmParseResult> parseKbmFile(const std::filesystem::path &path,
                                           std::string *error = nullptr);

/// The same readers on text already in memory.
std::optional<ScalaParseResult> parseScalaText(std::string_view text, std::string *error = nullptr);
std::optional<KbmParseResult> parseKbmText(std::string_view text, std::string *error = nullptr);

} // namespace orvane
