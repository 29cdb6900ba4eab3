#pragma once

#include "core/commands/tests/support/CommandHistoryHarness.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace orvane::testing::drawing {

// Shared by the command tables: plausible arguments drawn from the project as it is, with a
// share of ids that do not exist, positions nowhere near anything and values a command must
// refuse.

template <typename T> const T &pick(Random &random, const std::vector<T> &items) {
    return items[static_cast<std::size_t>(
        between(random, 0, static_cast<int64_t>(items.size()) - 1))];
}

inline uint64_t missingId(Random &random, uint64_t counter) {
    return pick(random, std::vector<uint64_t>{0, counter, counter + 3,
                                              std::numeric_limits<uint64_t>::max()});
}

inline uint64_t someTrackId(const Project &project, Random &random) {
    if (project.tracks.empty() || chance(random, 10)) return missingId(random, project.nextTrackId);
    return pick(random, project.tracks)->id;
}

/// With `kind`, a clip of that kind whenever there is one.
inline uint64_t someClipId(const Project &project, Random &random,
                           std::optional<ClipKind> kind = std::nullopt) {
    std::vector<uint64_t> ids;
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            if (!kind || clip->kind == *kind) ids.push_back(clip->id);
    if (ids.empty() || chance(random, 10)) return missingId(random, project.nextClipId);
    return pick(random, ids);
}

/// Mostly the position of an entry already in `list`, so that moves and replacements find
/// something; otherwise, `anywherePercent` of the time, anywhere.
template <typename T>
int64_t positionIn(Random &random, const std::vector<T> &list, int64_t T::*position,
                   int anywherePercent = 35) {
    if (list.empty() || chance(random, anywherePercent)) return between(random, -1000, 400000);
    return pick(random, list).*position;
}

/// Mostly an ordinary number in lo..hi (in hundredths), sometimes one that is not a number.
inline float someValue(Random &random, int lo, int hi) {
    if (chance(random, 4)) return std::numeric_limits<float>::quiet_NaN();
    return static_cast<float>(between(random, lo, hi)) / 100.0f;
}

template <typename T> std::string describe(const T &value) {
    if constexpr (std::is_same_v<T, std::string>)
        return '"' + value + '"';
    else if constexpr (std::is_same_v<T, bool>)
        return value ? "true" : "false";
    else if constexpr (std::is_arithmetic_v<T>)
        return std::to_string(value);
    else if constexpr (std::is_same_v<T, TimeSignature>)
        return std::to_string(value.numerator) + "/" + std::to_string(value.denominator);
    else if constexpr (std::is_same_v<T, SendSlot>)
        return "send(" + std::to_string(value.returnId) + ", " + std::to_string(value.level) +
               (value.pre ? ", pre)" : ", post)");
    else if constexpr (std::is_same_v<T, ControlRoomSettings>)
        return "room(" + std::to_string(value.masterGain) + ", " + std::to_string(value.cueGain) +
               ", " + describe(value.dim) + ", " + describe(value.mono) + ", " +
               describe(value.talkback) + ")";
    else if constexpr (std::is_same_v<T, MidiMapping>)
        return "mapping(ch " + std::to_string(value.channel) + ", kind " +
               std::to_string(static_cast<int>(value.kind)) + ", " + std::to_string(value.number) +
               " -> track " + std::to_string(value.trackId) + ", lane " +
               std::to_string(value.lane) + ", param " + std::to_string(value.paramId) + ", " +
               std::to_string(value.minimum) + ".." + std::to_string(value.maximum) + ")";
    else {
        std::string text = "[";
        for (const auto &element : value)
            text += (text.size() > 1 ? ", " : "") + describe(element);
        return text + "]";
    }
}

/// A recipe that builds `CommandType` from `arguments`, described as a call.
template <typename CommandType, typename... Arguments>
CommandRecipe recipe(const std::string &callName, Arguments... arguments) {
    std::string text = callName + "(";
    bool first = true;
    ((text += (first ? "" : ", ") + describe(arguments), first = false), ...);
    return {text + ")", [=] { return std::make_unique<CommandType>(arguments...); }};
}

} // namespace orvane::testing::drawing
