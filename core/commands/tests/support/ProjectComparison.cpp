#include "core/commands/tests/support/ProjectComparison.h"

#include "core/model/StoredFields.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace orvane::testing {

namespace {

template <typename T> bool sameValue(const T &a, const T &b) {
    if constexpr (std::is_floating_point_v<T>)
        return a == b || (std::isnan(a) && std::isnan(b));
    else
        return a == b;
}

template <typename T> std::string show(const T &value) {
    if constexpr (std::is_same_v<T, std::string>)
        return '"' + value + '"';
    else if constexpr (std::is_same_v<T, bool>)
        return value ? "true" : "false";
    else if constexpr (std::is_enum_v<T>)
        return std::to_string(static_cast<int>(value));
    else if constexpr (std::is_arithmetic_v<T>)
        return std::to_string(value);
    else
        return "(differs)";
}

/// Undo may leave the id counters advanced (see `ComparisonRules::counterMayAdvance`).
constexpr std::pair<const char *, uint64_t Project::*> idCounters[] = {
    {"nextTrackId", &Project::nextTrackId},
    {"nextClipId", &Project::nextClipId},
    {"nextSceneId", &Project::nextSceneId},
    {"nextMarkerId", &Project::nextMarkerId},
};

uint64_t Project::*idCounter(const char *key) {
    for (const auto &[name, member] : idCounters)
        if (std::string_view(name) == key) return member;
    return nullptr;
}

struct Comparer {
    const ComparisonRules &rules;
    std::vector<std::string> differences;

    template <typename T> void field(const std::string &path, const T &expected, const T &actual) {
        if (!sameValue(expected, actual))
            differences.push_back(path + ": " + show(expected) + " vs " + show(actual));
    }

    void counter(const std::string &path, uint64_t expected, uint64_t actual) {
        if (rules.counterMayAdvance ? actual < expected : actual != expected)
            differences.push_back(path + ": " + show(expected) + " vs " + show(actual));
    }

    void samples(const std::string &path, const SharedSamples &expected,
                 const SharedSamples &actual) {
        if (!expected || !actual) {
            if (!expected != !actual)
                differences.push_back(path + ": buffer present only on one side");
            return;
        }
        field(path + ".size", expected->size(), actual->size());
        if (expected->size() == actual->size() && !(*expected == *actual))
            differences.push_back(path + ": samples differ");
    }

    /// Every field the model stores, as whole values, so that a field added to the document
    /// is compared without a line here. Numbers are shown; NaN equals NaN.
    template <typename Owner>
    void storedFields(const std::string &prefix, StoredFieldTable<Owner> fields, const Owner &a,
                      const Owner &b) {
        for (const StoredField<Owner> &stored : fields) {
            const std::string path = prefix + stored.key;
            if constexpr (std::is_same_v<Owner, Project>) {
                if (uint64_t Project::*member = idCounter(stored.key)) {
                    counter(path, a.*member, b.*member);
                    continue;
                }
            }
            if (stored.isScalar())
                scalar(path, stored, a, b);
            else if (!stored.sameValue(a, b))
                differences.push_back(
                    path + ": " +
                    (stored.type == FieldType::String
                         ? show(stored.textOf(a)) + " vs " + show(stored.textOf(b))
                         : std::string("(differs)")));
        }
    }

    template <typename Owner>
    void scalar(const std::string &path, const StoredField<Owner> &stored, const Owner &a,
                const Owner &b) {
        const double expected = stored.get(a);
        const double actual = stored.get(b);
        const bool bothNan = std::isnan(expected) && std::isnan(actual);
        if (!stored.sameValue(a, b) && !bothNan)
            differences.push_back(path + ": " + show(expected) + " vs " + show(actual));
    }

    /// Fields the document does not store, and how clips hold their audio.
    void clip(const std::string &path, const Clip &a, const Clip &b) {
        storedFields(path + ".", stored::clipFields(), a, b);
        field(path + ".trackId", a.trackId, b.trackId);
        samples(path + ".audio", a.audio, b.audio);
        field(path + ".channels", a.channels, b.channels);
    }

    void track(const std::string &path, const Track &a, const Track &b) {
        storedFields(path + ".", stored::trackFields(), a, b);
        field(path + ".armed", a.armed, b.armed);
        field(path + ".peakL", a.peakL, b.peakL);
        field(path + ".peakR", a.peakR, b.peakR);
        field(path + ".clips.size", a.clips.size(), b.clips.size());
        for (std::size_t i = 0; i < std::min(a.clips.size(), b.clips.size()); ++i)
            clip(path + ".clips[" + std::to_string(i) + "]", *a.clips[i], *b.clips[i]);
    }

    void project(const Project &a, const Project &b) {
        storedFields("", stored::projectFields(), a, b);
        storedFields("session.", stored::sessionFields(), a.session, b.session);
        field("rootPath", a.rootPath, b.rootPath);
        field("gridQuantize", a.gridQuantize, b.gridQuantize);
        field("metronomeEnabled", a.metronomeEnabled, b.metronomeEnabled);
        field("lengthSamples", a.lengthSamples, b.lengthSamples);
        field("tracks.size", a.tracks.size(), b.tracks.size());
        for (std::size_t i = 0; i < std::min(a.tracks.size(), b.tracks.size()); ++i)
            track("tracks[" + std::to_string(i) + "]", *a.tracks[i], *b.tracks[i]);
    }
};

} // namespace

Project deepCopyProject(const Project &project) {
    Project copy = project;
    for (auto &track : copy.tracks) {
        track = std::make_shared<Track>(*track);
        for (auto &clip : track->clips)
            clip = std::make_shared<Clip>(*clip);
    }
    return copy;
}

std::vector<std::string> projectDifferences(const Project &expected, const Project &actual,
                                            const ComparisonRules &rules) {
    Comparer comparer{rules, {}};
    comparer.project(expected, actual);
    return comparer.differences;
}

std::string describeDifferences(const std::vector<std::string> &differences) {
    std::string text;
    for (const auto &difference : differences)
        text += difference + '\n';
    return text;
}

} // namespace orvane::testing
