#include "core/project_io/DocumentWriter.h"
#include "core/project_io/DocumentEncoding.h"
#include "core/project_io/ProjectDocument.h"

#include <algorithm>

namespace orvane::project_io {

namespace {

void appendFloat(std::string &out, float value) { appendNumber(out, static_cast<double>(value)); }

void appendBool(std::string &out, bool value) { out += value ? "true" : "false"; }

void appendString(std::string &out, std::string_view text) {
    out += '"';
    appendEscaped(out, text);
    out += '"';
}

/// `"key":` inside a compact object: the first member opens the object, the others follow a
/// comma.
void appendKey(std::string &out, const char *key, bool first = false) {
    out += first ? "{\"" : ",\"";
    out += key;
    out += "\":";
}

template <typename List, typename WriteElement>
void writeList(std::string &out, const List &list, WriteElement writeElement) {
    out += '[';
    bool first = true;
    for (const auto &element : list) {
        if (!first) out += ',';
        first = false;
        writeElement(out, element);
    }
    out += ']';
}

void writeFloatArray(std::string &out, const auto &values) {
    writeList(out, values, [](std::string &text, float value) { appendFloat(text, value); });
}

void writeControlRoom(std::string &out, const ControlRoomSettings &room) {
    appendKey(out, "masterGain", true);
    appendFloat(out, room.masterGain);
    appendKey(out, "cueGain");
    appendFloat(out, room.cueGain);
    appendKey(out, "dim");
    appendBool(out, room.dim);
    appendKey(out, "mono");
    appendBool(out, room.mono);
    appendKey(out, "talkback");
    appendBool(out, room.talkback);
    out += '}';
}

void writeEqBand(std::string &out, const EqBandSettings &band) {
    appendKey(out, "type", true);
    appendInteger(out, band.type);
    appendKey(out, "freq");
    appendFloat(out, band.freq);
    appendKey(out, "gainDb");
    appendFloat(out, band.gainDb);
    appendKey(out, "q");
    appendFloat(out, band.q);
    appendKey(out, "enabled");
    appendBool(out, band.enabled);
    out += '}';
}

void writeMastering(std::string &out, const MasteringUtility &mastering) {
    appendKey(out, "enabled", true);
    appendBool(out, mastering.enabled);
    appendKey(out, "bypass");
    appendBool(out, mastering.bypass);
    appendKey(out, "character");
    appendInteger(out, mastering.character);
    appendKey(out, "loudness");
    appendFloat(out, mastering.loudness);
    appendKey(out, "excite");
    appendBool(out, mastering.excite);
    appendKey(out, "exciteAmt");
    appendFloat(out, mastering.exciteAmt);
    appendKey(out, "width");
    appendFloat(out, mastering.width);
    appendKey(out, "loudCmp");
    appendBool(out, mastering.loudCmp);
    out += '}';
}

void writeGroove(std::string &out, const GrooveTemplate &groove) {
    appendKey(out, "name", true);
    appendString(out, groove.name);
    appendKey(out, "timing");
    appendFloat(out, groove.timing);
    appendKey(out, "velocity");
    appendFloat(out, groove.velocity);
    appendKey(out, "timingPattern");
    writeFloatArray(out, groove.timingPattern);
    appendKey(out, "velocityPattern");
    writeFloatArray(out, groove.velocityPattern);
    out += '}';
}

void writeMarker(std::string &out, const Marker &marker) {
    appendKey(out, "id", true);
    appendUnsigned(out, marker.id);
    appendKey(out, "name");
    appendString(out, marker.name);
    appendKey(out, "position");
    appendInteger(out, marker.position);
    out += '}';
}

void writeTempoMarker(std::string &out, const TempoMarker &marker) {
    appendKey(out, "position", true);
    appendInteger(out, marker.position);
    appendKey(out, "bpm");
    appendNumber(out, marker.bpm);
    out += '}';
}

void writeMeterMarker(std::string &out, const MeterMarker &marker) {
    appendKey(out, "position", true);
    appendInteger(out, marker.position);
    appendKey(out, "num");
    appendInteger(out, marker.num);
    appendKey(out, "den");
    appendInteger(out, marker.den);
    out += '}';
}

void writeChordMarker(std::string &out, const ChordMarker &marker) {
    appendKey(out, "position", true);
    appendInteger(out, marker.position);
    appendKey(out, "chord");
    appendString(out, marker.chord);
    out += '}';
}

void writeArticulation(std::string &out, const ExpressionArticulation &articulation) {
    appendKey(out, "name", true);
    appendString(out, articulation.name);
    appendKey(out, "keyswitch");
    appendInteger(out, articulation.keyswitch);
    appendKey(out, "velScale");
    appendFloat(out, articulation.velScale);
    appendKey(out, "cc");
    appendInteger(out, articulation.cc);
    appendKey(out, "ccVal");
    appendInteger(out, articulation.ccVal);
    out += '}';
}

void writeExpressionMap(std::string &out, const ExpressionMap &map) {
    appendKey(out, "name", true);
    appendString(out, map.name);
    appendKey(out, "articulations");
    writeList(out, map.articulations, writeArticulation);
    out += '}';
}

void writeBeatMarker(std::string &out, const BeatMarker &marker) {
    appendKey(out, "position", true);
    appendInteger(out, marker.position);
    appendKey(out, "downbeat");
    appendBool(out, marker.downbeat);
    out += '}';
}

/// History entries name the track "track", user snapshots "trackId"; both are the format.
void writeMixerSnapshot(std::string &out, const MixerSnapshot &snapshot, const char *trackKey) {
    appendKey(out, "name", true);
    appendString(out, snapshot.name);
    appendKey(out, "controlRoom");
    writeControlRoom(out, snapshot.controlRoom);
    appendKey(out, "tracks");
    writeList(out, snapshot.tracks, [trackKey](std::string &text, const TrackMixerSnapshot &track) {
        appendKey(text, trackKey, true);
        appendUnsigned(text, track.trackId);
        appendKey(text, "gain");
        appendFloat(text, track.gain);
        appendKey(text, "pan");
        appendFloat(text, track.pan);
        appendKey(text, "mute");
        appendBool(text, track.mute);
        appendKey(text, "solo");
        appendBool(text, track.solo);
        text += '}';
    });
    out += '}';
}

void writeHistoryEntry(std::string &out, const MixerSnapshotEvent &event) {
    appendKey(out, "label", true);
    appendString(out, event.label);
    appendKey(out, "snapshot");
    writeMixerSnapshot(out, event.snapshot, "track");
    out += '}';
}

/// Keys sorted so that the same project always gives the same text.
void writeTagMap(std::string &out,
                 const std::unordered_map<std::string, std::vector<std::string>> &tags) {
    std::vector<const std::pair<const std::string, std::vector<std::string>> *> entries;
    entries.reserve(tags.size());
    for (const auto &entry : tags)
        entries.push_back(&entry);
    std::sort(entries.begin(), entries.end(),
              [](const auto *left, const auto *right) { return left->first < right->first; });
    out += '{';
    bool first = true;
    for (const auto *entry : entries) {
        if (!first) out += ',';
        first = false;
        appendString(out, entry->first);
        out += ':';
        writeList(out, entry->second,
                  [](std::string &text, const std::string &tag) { appendString(text, tag); });
    }
    out += '}';
}

void writeScene(std::string &out, const Scene &scene) {
    appendKey(out, "id", true);
    appendUnsigned(out, scene.id);
    appendKey(out, "name");
    appendString(out, scene.name);
    appendKey(out, "followAction");
    appendInteger(out, static_cast<uint8_t>(scene.followAction));
    appendKey(out, "useSceneTempo");
    appendBool(out, scene.useSceneTempo);
    appendKey(out, "sceneTempoBpm");
    appendNumber(out, scene.sceneTempoBpm);
    appendKey(out, "useSceneMeter");
    appendBool(out, scene.useSceneMeter);
    appendKey(out, "sceneMeterNum");
    appendInteger(out, scene.sceneMeterNum);
    appendKey(out, "sceneMeterDen");
    appendInteger(out, scene.sceneMeterDen);
    appendKey(out, "clips");
    writeList(out, scene.clips, appendUnsigned);
    out += '}';
}

void writeAutomationClip(std::string &out, const AutomationClip &clip) {
    appendKey(out, "id", true);
    appendUnsigned(out, clip.id);
    appendKey(out, "start");
    appendInteger(out, clip.start);
    appendKey(out, "length");
    appendInteger(out, clip.length);
    appendKey(out, "lane");
    appendInteger(out, clip.lane);
    appendKey(out, "points");
    writeAutomation(out, clip.points);
    out += '}';
}

void writeInsert(std::string &out, const InsertSlot &insert) {
    appendKey(out, "pluginId", true);
    appendString(out, insert.pluginId);
    appendKey(out, "displayName");
    appendString(out, insert.displayName);
    appendKey(out, "bundlePath");
    appendString(out, insert.bundlePath);
    appendKey(out, "state");
    appendString(out, encodeBase64(insert.state));
    appendKey(out, "bypassed");
    appendBool(out, insert.bypassed);
    appendKey(out, "isStock");
    appendBool(out, insert.isStock);
    appendKey(out, "automParamId");
    appendUnsigned(out, insert.automParamId);
    appendKey(out, "paramAutomation");
    writeAutomation(out, insert.paramAutomation);
    out += '}';
}

void writeSend(std::string &out, const SendSlot &send) {
    appendKey(out, "return", true);
    appendUnsigned(out, send.returnId);
    appendKey(out, "level");
    appendFloat(out, send.level);
    appendKey(out, "pre");
    appendBool(out, send.pre);
    out += '}';
}

void writeWarpMarker(std::string &out, const WarpMarker &marker) {
    appendKey(out, "dest", true);
    appendInteger(out, marker.dest);
    appendKey(out, "source");
    appendInteger(out, marker.source);
    out += '}';
}

void writeNote(std::string &out, const MidiNote &note) {
    appendKey(out, "pitch", true);
    appendInteger(out, note.pitch);
    appendKey(out, "velocity");
    appendFloat(out, note.velocity);
    appendKey(out, "start");
    appendInteger(out, note.start);
    appendKey(out, "length");
    appendInteger(out, note.length);
    out += '}';
}

void writeClip(std::string &out, const Clip &clip) {
    appendKey(out, "id", true);
    appendUnsigned(out, clip.id);
    appendKey(out, "kind");
    appendInteger(out, static_cast<uint8_t>(clip.kind));
    appendKey(out, "name");
    appendString(out, clip.name);
    appendKey(out, "arrangeStart");
    appendInteger(out, clip.arrangeStart);
    appendKey(out, "length");
    appendInteger(out, clip.length);
    appendKey(out, "sourceOffset");
    appendInteger(out, clip.sourceOffset);
    appendKey(out, "loop");
    appendBool(out, clip.loop);
    appendKey(out, "loopLength");
    appendInteger(out, clip.loopLength);
    appendKey(out, "gain");
    appendFloat(out, clip.gain);
    appendKey(out, "stretchRatio");
    appendNumber(out, clip.stretchRatio);
    appendKey(out, "audioFile");
    appendString(out, clip.audioFile);
    appendKey(out, "sessionRow");
    appendInteger(out, clip.sessionRow);
    appendKey(out, "sessionCol");
    appendInteger(out, clip.sessionCol);
    appendKey(out, "fadeIn");
    appendInteger(out, clip.fadeIn);
    appendKey(out, "fadeOut");
    appendInteger(out, clip.fadeOut);
    appendKey(out, "takeLane");
    appendInteger(out, clip.takeLane);
    appendKey(out, "takeActive");
    appendBool(out, clip.takeActive);
    appendKey(out, "followAction");
    appendInteger(out, static_cast<uint8_t>(clip.followAction));
    appendKey(out, "launchMode");
    appendInteger(out, static_cast<uint8_t>(clip.launchMode));
    appendKey(out, "legatoLaunch");
    appendBool(out, clip.legatoLaunch);
    appendKey(out, "launchQuantize");
    appendInteger(out, static_cast<uint8_t>(clip.launchQuantize));
    appendKey(out, "gainEnvelope");
    writeAutomation(out, clip.gainEnvelope);
    appendKey(out, "warpMarkers");
    writeList(out, clip.warpMarkers, writeWarpMarker);
    appendKey(out, "notes");
    writeList(out, clip.notes, writeNote);
    out += '}';
}

/// One line of a multi-line object: indentation, `"key": `, the value, `,` and a line feed.
template <typename WriteValue>
void writeLine(std::string &out, const char *indent, const char *key, WriteValue writeValue) {
    out += indent;
    out += '"';
    out += key;
    out += "\": ";
    writeValue(out);
    out += ",\n";
}

void writeTrack(std::string &out, const Track &track) {
    constexpr const char *indent = "      ";
    out += "    {\n";
    writeLine(out, indent, "id", [&](std::string &text) { appendUnsigned(text, track.id); });
    writeLine(out, indent, "type",
              [&](std::string &text) { appendInteger(text, static_cast<uint8_t>(track.type)); });
    writeLine(out, indent, "name", [&](std::string &text) { appendString(text, track.name); });
    writeLine(out, indent, "gain", [&](std::string &text) { appendFloat(text, track.gain); });
    writeLine(out, indent, "pan", [&](std::string &text) { appendFloat(text, track.pan); });
    writeLine(out, indent, "mute", [&](std::string &text) { appendBool(text, track.mute); });
    writeLine(out, indent, "solo", [&](std::string &text) { appendBool(text, track.solo); });
    writeLine(out, indent, "expressionMapIndex",
              [&](std::string &text) { appendInteger(text, track.expressionMapIndex); });
    writeLine(out, indent, "mpeEnabled",
              [&](std::string &text) { appendBool(text, track.mpeEnabled); });
    writeLine(out, indent, "frozen", [&](std::string &text) { appendBool(text, track.frozen); });
    writeLine(out, indent, "volumeAutomation",
              [&](std::string &text) { writeAutomation(text, track.volumeAutomation); });
    writeLine(out, indent, "panAutomation",
              [&](std::string &text) { writeAutomation(text, track.panAutomation); });
    writeLine(out, indent, "muteAutomation",
              [&](std::string &text) { writeAutomation(text, track.muteAutomation); });
    writeLine(out, indent, "automationClips", [&](std::string &text) {
        writeList(text, track.automationClips, writeAutomationClip);
    });
    writeLine(out, indent, "macros",
              [&](std::string &text) { writeFloatArray(text, track.macros); });
    writeLine(out, indent, "inserts",
              [&](std::string &text) { writeList(text, track.inserts, writeInsert); });
    writeLine(out, indent, "sends",
              [&](std::string &text) { writeList(text, track.sends, writeSend); });
    writeLine(out, indent, "eq", [&](std::string &text) { writeChannelEq8(text, track.eq); });
    out += "      \"clips\": [\n";
    bool first = true;
    for (const auto &clip : track.clips) {
        if (!clip) continue;
        if (!first) out += ",\n";
        first = false;
        out += "        ";
        writeClip(out, *clip);
    }
    out += "\n      ]\n    }";
}

void writeTopLevelSettings(std::string &out, const Project &project) {
    constexpr const char *indent = "  ";
    const Project &p = project;
    writeLine(out, indent, "formatVersion",
              [&](std::string &text) { appendInteger(text, p.formatVersion); });
    writeLine(out, indent, "name", [&](std::string &text) { appendString(text, p.name); });
    writeLine(out, indent, "sampleRate",
              [&](std::string &text) { appendNumber(text, p.sampleRate); });
    writeLine(out, indent, "tempoBpm", [&](std::string &text) { appendNumber(text, p.tempoBpm); });
    writeLine(out, indent, "countInBars",
              [&](std::string &text) { appendInteger(text, p.countInBars); });
    writeLine(out, indent, "punchEnabled",
              [&](std::string &text) { appendBool(text, p.punchEnabled); });
    writeLine(out, indent, "punchIn", [&](std::string &text) { appendInteger(text, p.punchIn); });
    writeLine(out, indent, "punchOut", [&](std::string &text) { appendInteger(text, p.punchOut); });
    writeLine(out, indent, "swingAmount",
              [&](std::string &text) { appendFloat(text, p.swingAmount); });
    writeLine(out, indent, "quantizeStrength",
              [&](std::string &text) { appendFloat(text, p.quantizeStrength); });
    writeLine(out, indent, "scaleRoot",
              [&](std::string &text) { appendInteger(text, p.scaleRoot); });
    writeLine(out, indent, "scaleMinor",
              [&](std::string &text) { appendBool(text, p.scaleMinor); });
    writeLine(out, indent, "scaleSnapEnabled",
              [&](std::string &text) { appendBool(text, p.scaleSnapEnabled); });
    writeLine(out, indent, "scalaPresetIndex",
              [&](std::string &text) { appendInteger(text, p.scalaPresetIndex); });
    writeLine(out, indent, "scalaName",
              [&](std::string &text) { appendString(text, p.scalaName); });
    writeLine(out, indent, "scalaCents",
              [&](std::string &text) { writeFloatArray(text, p.scalaCents); });
    writeLine(out, indent, "kbmName", [&](std::string &text) { appendString(text, p.kbmName); });
    writeLine(out, indent, "kbmDegrees", [&](std::string &text) {
        writeList(text, p.kbmDegrees,
                  [](std::string &inner, int32_t degree) { appendInteger(inner, degree); });
    });
    writeLine(out, indent, "metronomeVolume",
              [&](std::string &text) { appendFloat(text, p.metronomeVolume); });
    writeLine(out, indent, "automationWriteMode", [&](std::string &text) {
        appendInteger(text, static_cast<uint8_t>(p.automationWriteMode));
    });
    writeLine(out, indent, "grooveTimingAmount",
              [&](std::string &text) { appendFloat(text, p.grooveTimingAmount); });
    writeLine(out, indent, "grooveVelocityAmount",
              [&](std::string &text) { appendFloat(text, p.grooveVelocityAmount); });
    writeLine(out, indent, "activeGrooveIndex",
              [&](std::string &text) { appendInteger(text, p.activeGrooveIndex); });
    writeLine(out, indent, "groovePool",
              [&](std::string &text) { writeList(text, p.groovePool, writeGroove); });
    writeLine(out, indent, "smartTempoMode",
              [&](std::string &text) { appendInteger(text, p.smartTempoMode); });
}

void writeTopLevelMonitoring(std::string &out, const Project &project) {
    constexpr const char *indent = "  ";
    const Project &p = project;
    writeLine(out, indent, "tempoFollowerEnabled",
              [&](std::string &text) { appendBool(text, p.tempoFollowerEnabled); });
    writeLine(out, indent, "tempoFollowerSmoothing",
              [&](std::string &text) { appendFloat(text, p.tempoFollowerSmoothing); });
    writeLine(out, indent, "tempoFollowerFromInput",
              [&](std::string &text) { appendBool(text, p.tempoFollowerFromInput); });
    writeLine(out, indent, "lowLatencyMode",
              [&](std::string &text) { appendBool(text, p.lowLatencyMode); });
    writeLine(out, indent, "flashbackBufferSeconds",
              [&](std::string &text) { appendInteger(text, p.flashbackBufferSeconds); });
    writeLine(out, indent, "controlRoom",
              [&](std::string &text) { writeControlRoom(text, p.controlRoom); });
    writeLine(out, indent, "masterEq",
              [&](std::string &text) { writeChannelEq8(text, p.masterEq); });
    writeLine(out, indent, "mastering",
              [&](std::string &text) { writeMastering(text, p.mastering); });
    writeLine(out, indent, "inputLatencyOffsetSamples",
              [&](std::string &text) { appendInteger(text, p.inputLatencyOffsetSamples); });
    writeLine(out, indent, "outputLatencyOffsetSamples",
              [&](std::string &text) { appendInteger(text, p.outputLatencyOffsetSamples); });
    writeLine(out, indent, "timeSignature", [&](std::string &text) {
        text += "{\"numerator\": ";
        appendInteger(text, p.timeSignature.numerator);
        text += ", \"denominator\": ";
        appendInteger(text, p.timeSignature.denominator);
        text += '}';
    });
}

void writeTopLevelLists(std::string &out, const Project &project) {
    constexpr const char *indent = "  ";
    const Project &p = project;
    writeLine(out, indent, "nextTrackId",
              [&](std::string &text) { appendUnsigned(text, p.nextTrackId); });
    writeLine(out, indent, "nextClipId",
              [&](std::string &text) { appendUnsigned(text, p.nextClipId); });
    writeLine(out, indent, "nextSceneId",
              [&](std::string &text) { appendUnsigned(text, p.nextSceneId); });
    writeLine(out, indent, "nextMarkerId",
              [&](std::string &text) { appendUnsigned(text, p.nextMarkerId); });
    writeLine(out, indent, "markers",
              [&](std::string &text) { writeList(text, p.markers, writeMarker); });
    writeLine(out, indent, "tempoMarkers",
              [&](std::string &text) { writeList(text, p.tempoMarkers, writeTempoMarker); });
    writeLine(out, indent, "meterMarkers",
              [&](std::string &text) { writeList(text, p.meterMarkers, writeMeterMarker); });
    writeLine(out, indent, "chordMarkers",
              [&](std::string &text) { writeList(text, p.chordMarkers, writeChordMarker); });
    writeLine(out, indent, "expressionMaps",
              [&](std::string &text) { writeList(text, p.expressionMaps, writeExpressionMap); });
    writeLine(out, indent, "beatMarkers",
              [&](std::string &text) { writeList(text, p.beatMarkers, writeBeatMarker); });
    writeLine(out, indent, "mixerSnapshotHistory", [&](std::string &text) {
        writeList(text, p.mixerSnapshotHistory, writeHistoryEntry);
    });
    writeLine(out, indent, "mixerSnapshots", [&](std::string &text) {
        writeList(text, p.mixerSnapshots, [](std::string &inner, const MixerSnapshot &snapshot) {
            writeMixerSnapshot(inner, snapshot, "trackId");
        });
    });
    writeLine(out, indent, "pluginUserTags",
              [&](std::string &text) { writeTagMap(text, p.pluginUserTags); });
    writeLine(out, indent, "audioMediaTags",
              [&](std::string &text) { writeTagMap(text, p.audioMediaTags); });
}

void writeSession(std::string &out, const SessionGrid &session) {
    out += "  \"session\": {\n    \"rows\": ";
    appendInteger(out, session.rows);
    out += ",\n    \"cols\": ";
    appendInteger(out, session.cols);
    out += ",\n    \"launchQuantize\": ";
    appendInteger(out, static_cast<uint8_t>(session.launchQuantize));
    out += ",\n    \"scenes\": ";
    writeList(out, session.scenes, writeScene);
    out += "\n  },\n";
}

void writeTracks(std::string &out, const std::vector<std::shared_ptr<Track>> &tracks) {
    out += "  \"tracks\": [\n";
    bool first = true;
    for (const auto &track : tracks) {
        if (!track) continue;
        if (!first) out += ",\n";
        first = false;
        writeTrack(out, *track);
    }
    out += "\n  ]\n";
}

/// A generous guess of the text length, so that building a large document does not copy
/// the string over and over as it grows.
std::size_t estimatedLength(const Project &project) {
    std::size_t length = 16384;
    for (const auto &track : project.tracks) {
        if (!track) continue;
        length += 4096;
        for (const auto &clip : track->clips)
            if (clip) length += 512 + clip->notes.size() * 72 + clip->gainEnvelope.size() * 40;
        length += (track->volumeAutomation.size() + track->panAutomation.size() +
                   track->muteAutomation.size()) *
                  40;
    }
    return length;
}

} // namespace

void writeAutomation(std::string &out, const std::vector<AutomationPoint> &points) {
    writeList(out, points, [](std::string &text, const AutomationPoint &point) {
        text += "{\"t\":";
        appendInteger(text, point.t);
        text += ",\"v\":";
        appendFloat(text, point.v);
        text += '}';
    });
}

void writeChannelEq8(std::string &out, const ChannelEq8 &eq) {
    appendKey(out, "enabled", true);
    appendBool(out, eq.enabled);
    appendKey(out, "bypass");
    appendBool(out, eq.bypass);
    appendKey(out, "outDb");
    appendFloat(out, eq.outDb);
    appendKey(out, "bands");
    writeList(out, eq.bands, writeEqBand);
    out += '}';
}

std::string toJson(const Project &project) {
    std::string out;
    out.reserve(estimatedLength(project));
    out += "{\n";
    writeTopLevelSettings(out, project);
    writeTopLevelMonitoring(out, project);
    writeTopLevelLists(out, project);
    writeSession(out, project.session);
    writeTracks(out, project.tracks);
    out += "}\n";
    return out;
}

} // namespace orvane::project_io
