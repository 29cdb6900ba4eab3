#include "core/commands/tests/support/ProjectComparison.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <type_traits>

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

    void clip(const std::string &path, const Clip &a, const Clip &b) {
        field(path + ".id", a.id, b.id);
        field(path + ".trackId", a.trackId, b.trackId);
        field(path + ".kind", a.kind, b.kind);
        field(path + ".name", a.name, b.name);
        field(path + ".arrangeStart", a.arrangeStart, b.arrangeStart);
        field(path + ".length", a.length, b.length);
        field(path + ".sourceOffset", a.sourceOffset, b.sourceOffset);
        field(path + ".loop", a.loop, b.loop);
        field(path + ".loopLength", a.loopLength, b.loopLength);
        field(path + ".gain", a.gain, b.gain);
        field(path + ".fadeIn", a.fadeIn, b.fadeIn);
        field(path + ".fadeOut", a.fadeOut, b.fadeOut);
        field(path + ".audioFile", a.audioFile, b.audioFile);
        field(path + ".stretchRatio", a.stretchRatio, b.stretchRatio);
        field(path + ".warpMarkers", a.warpMarkers, b.warpMarkers);
        samples(path + ".audio", a.audio, b.audio);
        field(path + ".channels", a.channels, b.channels);
        field(path + ".notes", a.notes, b.notes);
        field(path + ".sessionRow", a.sessionRow, b.sessionRow);
        field(path + ".sessionCol", a.sessionCol, b.sessionCol);
        field(path + ".launchQuantize", a.launchQuantize, b.launchQuantize);
        field(path + ".launchMode", a.launchMode, b.launchMode);
        field(path + ".legatoLaunch", a.legatoLaunch, b.legatoLaunch);
        field(path + ".gainEnvelope", a.gainEnvelope, b.gainEnvelope);
        field(path + ".takeLane", a.takeLane, b.takeLane);
        field(path + ".takeActive", a.takeActive, b.takeActive);
        field(path + ".followAction", a.followAction, b.followAction);
    }

    void track(const std::string &path, const Track &a, const Track &b) {
        field(path + ".id", a.id, b.id);
        field(path + ".type", a.type, b.type);
        field(path + ".name", a.name, b.name);
        field(path + ".color", a.color, b.color);
        field(path + ".armed", a.armed, b.armed);
        field(path + ".gain", a.gain, b.gain);
        field(path + ".pan", a.pan, b.pan);
        field(path + ".mute", a.mute, b.mute);
        field(path + ".solo", a.solo, b.solo);
        field(path + ".peakL", a.peakL, b.peakL);
        field(path + ".peakR", a.peakR, b.peakR);
        field(path + ".eq", a.eq, b.eq);
        field(path + ".inserts", a.inserts, b.inserts);
        field(path + ".sends", a.sends, b.sends);
        field(path + ".volumeAutomation", a.volumeAutomation, b.volumeAutomation);
        field(path + ".panAutomation", a.panAutomation, b.panAutomation);
        field(path + ".muteAutomation", a.muteAutomation, b.muteAutomation);
        field(path + ".automationClips", a.automationClips, b.automationClips);
        field(path + ".macros", a.macros, b.macros);
        field(path + ".expressionMapIndex", a.expressionMapIndex, b.expressionMapIndex);
        field(path + ".mpeEnabled", a.mpeEnabled, b.mpeEnabled);
        field(path + ".frozen", a.frozen, b.frozen);
        field(path + ".inputPair", a.inputPair, b.inputPair);
        field(path + ".monitor", static_cast<int>(a.monitor), static_cast<int>(b.monitor));
        field(path + ".oneClipAtATime", a.oneClipAtATime, b.oneClipAtATime);
        field(path + ".sandboxGrouping", static_cast<int>(a.sandboxGrouping),
              static_cast<int>(b.sandboxGrouping));
        field(path + ".clips.size", a.clips.size(), b.clips.size());
        for (std::size_t i = 0; i < std::min(a.clips.size(), b.clips.size()); ++i)
            clip(path + ".clips[" + std::to_string(i) + "]", *a.clips[i], *b.clips[i]);
    }

    void project(const Project &a, const Project &b) {
        field("formatVersion", a.formatVersion, b.formatVersion);
        field("name", a.name, b.name);
        field("rootPath", a.rootPath, b.rootPath);
        field("sampleRate", a.sampleRate, b.sampleRate);
        field("tempoBpm", a.tempoBpm, b.tempoBpm);
        field("timeSignature", a.timeSignature, b.timeSignature);
        field("gridQuantize", a.gridQuantize, b.gridQuantize);
        field("swingAmount", a.swingAmount, b.swingAmount);
        field("grooveTimingAmount", a.grooveTimingAmount, b.grooveTimingAmount);
        field("grooveVelocityAmount", a.grooveVelocityAmount, b.grooveVelocityAmount);
        field("quantizeStrength", a.quantizeStrength, b.quantizeStrength);
        field("scaleRoot", a.scaleRoot, b.scaleRoot);
        field("scaleMinor", a.scaleMinor, b.scaleMinor);
        field("scaleSnapEnabled", a.scaleSnapEnabled, b.scaleSnapEnabled);
        field("metronomeVolume", a.metronomeVolume, b.metronomeVolume);
        field("automationWriteMode", a.automationWriteMode, b.automationWriteMode);
        field("smartTempoMode", a.smartTempoMode, b.smartTempoMode);
        field("metronomeEnabled", a.metronomeEnabled, b.metronomeEnabled);
        field("countInBars", a.countInBars, b.countInBars);
        field("punchEnabled", a.punchEnabled, b.punchEnabled);
        field("punchIn", a.punchIn, b.punchIn);
        field("punchOut", a.punchOut, b.punchOut);
        field("lengthSamples", a.lengthSamples, b.lengthSamples);
        field("session.rows", a.session.rows, b.session.rows);
        field("session.cols", a.session.cols, b.session.cols);
        field("session.launchQuantize", a.session.launchQuantize, b.session.launchQuantize);
        field("session.scenes", a.session.scenes, b.session.scenes);
        counter("nextTrackId", a.nextTrackId, b.nextTrackId);
        counter("nextClipId", a.nextClipId, b.nextClipId);
        counter("nextSceneId", a.nextSceneId, b.nextSceneId);
        counter("nextMarkerId", a.nextMarkerId, b.nextMarkerId);
        field("markers", a.markers, b.markers);
        field("tempoMarkers", a.tempoMarkers, b.tempoMarkers);
        field("meterMarkers", a.meterMarkers, b.meterMarkers);
        field("chordMarkers", a.chordMarkers, b.chordMarkers);
        field("beatMarkers", a.beatMarkers, b.beatMarkers);
        field("controlRoom", a.controlRoom, b.controlRoom);
        field("masterEq", a.masterEq, b.masterEq);
        field("mastering", a.mastering, b.mastering);
        field("mixerSnapshots", a.mixerSnapshots, b.mixerSnapshots);
        field("mixerSnapshotHistory", a.mixerSnapshotHistory, b.mixerSnapshotHistory);
        field("expressionMaps", a.expressionMaps, b.expressionMaps);
        field("groovePool", a.groovePool, b.groovePool);
        field("activeGrooveIndex", a.activeGrooveIndex, b.activeGrooveIndex);
        field("tempoFollowerEnabled", a.tempoFollowerEnabled, b.tempoFollowerEnabled);
        field("tempoFollowerSmoothing", a.tempoFollowerSmoothing, b.tempoFollowerSmoothing);
        field("tempoFollowerFromInput", a.tempoFollowerFromInput, b.tempoFollowerFromInput);
        field("lowLatencyMode", a.lowLatencyMode, b.lowLatencyMode);
        field("flashbackBufferSeconds", a.flashbackBufferSeconds, b.flashbackBufferSeconds);
        field("pluginUserTags", a.pluginUserTags, b.pluginUserTags);
        field("audioMediaTags", a.audioMediaTags, b.audioMediaTags);
        field("scalaPresetIndex", a.scalaPresetIndex, b.scalaPresetIndex);
        field("scalaCents", a.scalaCents, b.scalaCents);
        field("scalaName", a.scalaName, b.scalaName);
        field("kbmName", a.kbmName, b.kbmName);
        field("kbmDegrees", a.kbmDegrees, b.kbmDegrees);
        field("inputLatencyOffsetSamples", a.inputLatencyOffsetSamples,
              b.inputLatencyOffsetSamples);
        field("outputLatencyOffsetSamples", a.outputLatencyOffsetSamples,
              b.outputLatencyOffsetSamples);
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
