#include "core/project_io/DocumentReader.h"
#include "core/model/BuiltInPresets.h"
#include "core/project_io/DocumentEncoding.h"
#include "core/project_io/JsonReader.h"
#include "core/project_io/ProjectDocument.h"

#include <cfloat>
#include <cmath>
#include <limits>

namespace orvane::project_io {

namespace {

// Conversions truncate toward zero and saturate at the field's range; a document can hold
// any number, and a cast of an out-of-range double is undefined behaviour.

int32_t toInt32(double number) {
    if (std::isnan(number)) return 0;
    if (number >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (number <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(number);
}

int64_t toInt64(double number) {
    if (std::isnan(number)) return 0;
    if (number >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    if (number <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(number);
}

uint64_t toUint64(double number) {
    if (std::isnan(number) || number <= 0.0) return 0;
    if (number >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(number);
}

uint32_t toUint32(double number) {
    if (std::isnan(number) || number <= 0.0) return 0;
    if (number >= 4294967296.0) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(number);
}

/// Numbers beyond the float range saturate, like the integer fields, instead of becoming
/// infinities that the writer could only store as 0.
float toFloat(double number) {
    if (std::isnan(number)) return 0.0f;
    if (number >= static_cast<double>(FLT_MAX)) return FLT_MAX;
    if (number <= -static_cast<double>(FLT_MAX)) return -FLT_MAX;
    return static_cast<float>(number);
}

const JsonValue *findNumber(const JsonValue &object, std::string_view key) {
    const JsonValue *value = object.find(key);
    return value && value->isNumber() ? value : nullptr;
}

int32_t readInt32(const JsonValue &object, std::string_view key, int32_t fallback) {
    const JsonValue *value = findNumber(object, key);
    return value ? toInt32(value->number) : fallback;
}

int64_t readInt64(const JsonValue &object, std::string_view key, int64_t fallback = 0) {
    const JsonValue *value = findNumber(object, key);
    return value ? toInt64(value->number) : fallback;
}

uint64_t readUint64(const JsonValue &object, std::string_view key, uint64_t fallback = 0) {
    const JsonValue *value = findNumber(object, key);
    return value ? toUint64(value->number) : fallback;
}

uint32_t readUint32(const JsonValue &object, std::string_view key, uint32_t fallback = 0) {
    const JsonValue *value = findNumber(object, key);
    return value ? toUint32(value->number) : fallback;
}

/// 8-bit fields keep the low byte of the 32-bit conversion.
uint8_t readByte(const JsonValue &object, std::string_view key, uint8_t fallback = 0) {
    const JsonValue *value = findNumber(object, key);
    return value ? static_cast<uint8_t>(toInt32(value->number)) : fallback;
}

float readFloat(const JsonValue &object, std::string_view key, float fallback) {
    const JsonValue *value = findNumber(object, key);
    return value ? toFloat(value->number) : fallback;
}

double readDouble(const JsonValue &object, std::string_view key, double fallback) {
    const JsonValue *value = findNumber(object, key);
    return value ? value->number : fallback;
}

bool readBool(const JsonValue &object, std::string_view key, bool fallback) {
    const JsonValue *value = object.find(key);
    return value && value->isBoolean() ? value->boolean : fallback;
}

std::string readString(const JsonValue &object, std::string_view key,
                       std::string_view fallback = {}) {
    const JsonValue *value = object.find(key);
    return value && value->isString() ? value->string : std::string(fallback);
}

/// The object elements of the array under `key`; other elements and non-arrays give none.
template <typename ReadElement>
void forEachObject(const JsonValue &object, std::string_view key, ReadElement readElement) {
    const JsonValue *list = object.find(key);
    if (!list || !list->isArray()) return;
    for (const JsonValue &element : list->elements)
        if (element.isObject()) readElement(element);
}

template <typename Element, typename ReadElement>
std::vector<Element> readObjectList(const JsonValue &object, std::string_view key,
                                    ReadElement readElement) {
    std::vector<Element> list;
    forEachObject(object, key,
                  [&](const JsonValue &element) { list.push_back(readElement(element)); });
    return list;
}

/// Numeric elements of the array under `key` fill the first slots; the rest keep theirs.
template <std::size_t Size>
void readFloatSlots(const JsonValue &object, std::string_view key, std::array<float, Size> &slots) {
    const JsonValue *list = object.find(key);
    if (!list || !list->isArray()) return;
    const std::size_t count = std::min(list->elements.size(), Size);
    for (std::size_t index = 0; index < count; ++index)
        if (list->elements[index].isNumber()) slots[index] = toFloat(list->elements[index].number);
}

AutomationPoint readPoint(const JsonValue &object) {
    return {readInt64(object, "t"), readFloat(object, "v", 0.0f)};
}

std::vector<AutomationPoint> readAutomation(const JsonValue &object, std::string_view key) {
    return readObjectList<AutomationPoint>(object, key, readPoint);
}

ControlRoomSettings readControlRoom(const JsonValue *object) {
    ControlRoomSettings room;
    if (!object || !object->isObject()) return room;
    room.masterGain = readFloat(*object, "masterGain", 1.0f);
    room.cueGain = readFloat(*object, "cueGain", 1.0f);
    room.dim = readBool(*object, "dim", false);
    room.mono = readBool(*object, "mono", false);
    room.talkback = readBool(*object, "talkback", false);
    return room;
}

MasteringUtility readMastering(const JsonValue *object) {
    MasteringUtility mastering;
    if (!object || !object->isObject()) return mastering;
    mastering.enabled = readBool(*object, "enabled", true);
    mastering.bypass = readBool(*object, "bypass", false);
    mastering.character = readInt32(*object, "character", 0);
    mastering.loudness = readFloat(*object, "loudness", 0.35f);
    mastering.excite = readBool(*object, "excite", false);
    mastering.exciteAmt = readFloat(*object, "exciteAmt", 0.25f);
    mastering.width = readFloat(*object, "width", 1.0f);
    mastering.loudCmp = readBool(*object, "loudCmp", true);
    return mastering;
}

TimeSignature readTimeSignature(const JsonValue *object) {
    TimeSignature signature;
    if (!object || !object->isObject()) return signature;
    signature.numerator = readInt32(*object, "numerator", 4);
    signature.denominator = readInt32(*object, "denominator", 4);
    return signature;
}

GrooveTemplate readGroove(const JsonValue &object) {
    GrooveTemplate groove;
    groove.name = readString(object, "name");
    groove.timing = readFloat(object, "timing", 0.0f);
    groove.velocity = readFloat(object, "velocity", 0.0f);
    readFloatSlots(object, "timingPattern", groove.timingPattern);
    readFloatSlots(object, "velocityPattern", groove.velocityPattern);
    return groove;
}

Marker readMarker(const JsonValue &object) {
    return {readUint64(object, "id"), readString(object, "name"), readInt64(object, "position")};
}

TempoMarker readTempoMarker(const JsonValue &object) {
    return {readInt64(object, "position"), readDouble(object, "bpm", 120.0)};
}

MeterMarker readMeterMarker(const JsonValue &object) {
    return {readInt64(object, "position"), readInt32(object, "num", 4),
            readInt32(object, "den", 4)};
}

ChordMarker readChordMarker(const JsonValue &object) {
    ChordMarker marker{readInt64(object, "position"), readString(object, "chord")};
    if (marker.chord.empty()) marker.chord.push_back('C');
    return marker;
}

ExpressionArticulation readArticulation(const JsonValue &object) {
    return {readString(object, "name"), readInt32(object, "keyswitch", 36),
            readFloat(object, "velScale", 1.0f), readInt32(object, "cc", 11),
            readInt32(object, "ccVal", 127)};
}

ExpressionMap readExpressionMap(const JsonValue &object) {
    return {readString(object, "name"),
            readObjectList<ExpressionArticulation>(object, "articulations", readArticulation)};
}

BeatMarker readBeatMarker(const JsonValue &object) {
    return {readInt64(object, "position"), readBool(object, "downbeat", false)};
}

MixerSnapshot readMixerSnapshot(const JsonValue &object, std::string_view trackKey) {
    MixerSnapshot snapshot;
    snapshot.name = readString(object, "name");
    snapshot.controlRoom = readControlRoom(object.find("controlRoom"));
    forEachObject(object, "tracks", [&](const JsonValue &element) {
        TrackMixerSnapshot track;
        track.trackId = readUint64(element, trackKey);
        track.gain = readFloat(element, "gain", 1.0f);
        track.pan = readFloat(element, "pan", 0.0f);
        track.mute = readBool(element, "mute", false);
        track.solo = readBool(element, "solo", false);
        snapshot.tracks.push_back(track);
    });
    return snapshot;
}

MixerSnapshotEvent readHistoryEntry(const JsonValue &object) {
    MixerSnapshotEvent event;
    event.label = readString(object, "label");
    const JsonValue *snapshot = object.find("snapshot");
    if (snapshot && snapshot->isObject()) event.snapshot = readMixerSnapshot(*snapshot, "track");
    return event;
}

std::unordered_map<std::string, std::vector<std::string>> readTagMap(const JsonValue *object) {
    std::unordered_map<std::string, std::vector<std::string>> tags;
    if (!object || !object->isObject()) return tags;
    for (const JsonMember &member : object->members) {
        if (!member.value.isArray()) continue;
        std::vector<std::string> strings;
        for (const JsonValue &element : member.value.elements)
            if (element.isString()) strings.push_back(element.string);
        if (!strings.empty()) tags[member.key] = std::move(strings);
    }
    return tags;
}

Scene readScene(const JsonValue &object) {
    Scene scene;
    scene.id = readUint64(object, "id");
    scene.name = readString(object, "name");
    scene.followAction = static_cast<FollowAction>(readByte(object, "followAction"));
    scene.useSceneTempo = readBool(object, "useSceneTempo", false);
    scene.sceneTempoBpm = readDouble(object, "sceneTempoBpm", 120.0);
    scene.useSceneMeter = readBool(object, "useSceneMeter", false);
    scene.sceneMeterNum = readInt32(object, "sceneMeterNum", 4);
    scene.sceneMeterDen = readInt32(object, "sceneMeterDen", 4);
    const JsonValue *clips = object.find("clips");
    if (clips && clips->isArray())
        for (const JsonValue &element : clips->elements)
            if (element.isNumber()) scene.clips.push_back(toUint64(element.number));
    return scene;
}

// Launch quantisation, stored since files without it read as one bar, as they always did.
LaunchQuantize readLaunchQuantize(const JsonValue &object) {
    const uint8_t stored = readByte(object, "launchQuantize", 2);
    return stored <= 3 ? static_cast<LaunchQuantize>(stored) : LaunchQuantize::OneBar;
}

SessionGrid readSession(const JsonValue *object) {
    SessionGrid session;
    if (!object || !object->isObject()) return session;
    session.rows = readInt32(*object, "rows", 8);
    session.cols = readInt32(*object, "cols", 8);
    session.launchQuantize = readLaunchQuantize(*object);
    session.scenes = readObjectList<Scene>(*object, "scenes", readScene);
    return session;
}

AutomationClip readAutomationClip(const JsonValue &object) {
    return {readUint64(object, "id"), readInt64(object, "start"), readInt64(object, "length"),
            readInt32(object, "lane", 0), readAutomation(object, "points")};
}

InsertSlot readInsert(const JsonValue &object) {
    InsertSlot insert;
    insert.pluginId = readString(object, "pluginId");
    insert.displayName = readString(object, "displayName");
    insert.bundlePath = readString(object, "bundlePath");
    insert.state = decodeBase64(readString(object, "state"));
    insert.bypassed = readBool(object, "bypassed", false);
    insert.isStock = readBool(object, "isStock", false);
    insert.automParamId = readUint32(object, "automParamId");
    insert.paramAutomation = readAutomation(object, "paramAutomation");
    return insert;
}

SendSlot readSend(const JsonValue &object) {
    return {readUint64(object, "return"), readFloat(object, "level", 0.0f),
            readBool(object, "pre", false)};
}

WarpMarker readWarpMarker(const JsonValue &object) {
    return {readInt64(object, "dest"), readInt64(object, "source")};
}

MidiNote readNote(const JsonValue &object) {
    MidiNote note;
    note.pitch = readInt32(object, "pitch", 60);
    note.velocity = readFloat(object, "velocity", 0.8f);
    note.start = readInt64(object, "start");
    note.length = readInt64(object, "length");
    return note;
}

std::shared_ptr<Clip> readClip(const JsonValue &object, uint64_t trackId) {
    auto clip = std::make_shared<Clip>();
    clip->id = readUint64(object, "id");
    clip->trackId = trackId;
    clip->kind = static_cast<ClipKind>(readByte(object, "kind"));
    clip->name = readString(object, "name");
    clip->arrangeStart = readInt64(object, "arrangeStart");
    clip->length = readInt64(object, "length");
    clip->sourceOffset = readInt64(object, "sourceOffset");
    clip->loop = readBool(object, "loop", false);
    clip->loopLength = readInt64(object, "loopLength");
    clip->gain = readFloat(object, "gain", 1.0f);
    clip->stretchRatio = readDouble(object, "stretchRatio", 1.0);
    clip->audioFile = readString(object, "audioFile");
    clip->sessionRow = readInt32(object, "sessionRow", -1);
    clip->sessionCol = readInt32(object, "sessionCol", -1);
    clip->fadeIn = readInt64(object, "fadeIn");
    clip->fadeOut = readInt64(object, "fadeOut");
    clip->takeLane = readInt32(object, "takeLane", 0);
    clip->takeActive = readBool(object, "takeActive", true);
    clip->followAction = static_cast<FollowAction>(readByte(object, "followAction"));
    clip->launchMode = static_cast<SessionLaunchMode>(readByte(object, "launchMode"));
    clip->legatoLaunch = readBool(object, "legatoLaunch", false);
    clip->launchQuantize = readLaunchQuantize(object);
    clip->gainEnvelope = readAutomation(object, "gainEnvelope");
    clip->warpMarkers = readObjectList<WarpMarker>(object, "warpMarkers", readWarpMarker);
    clip->notes = readObjectList<MidiNote>(object, "notes", readNote);
    return clip;
}

void readTrackMixer(const JsonValue &object, Track &track) {
    track.gain = readFloat(object, "gain", 1.0f);
    track.pan = readFloat(object, "pan", 0.0f);
    track.mute = readBool(object, "mute", false);
    track.solo = readBool(object, "solo", false);
    readFloatSlots(object, "macros", track.macros);
    std::size_t sendIndex = 0;
    forEachObject(object, "sends", [&](const JsonValue &element) {
        if (sendIndex < track.sends.size()) track.sends[sendIndex++] = readSend(element);
    });
    track.eq = readChannelEq8(object.find("eq"));
}

std::shared_ptr<Track> readTrack(const JsonValue &object) {
    auto track = std::make_shared<Track>();
    track->id = readUint64(object, "id");
    track->type = static_cast<TrackType>(readByte(object, "type"));
    track->name = readString(object, "name");
    readTrackMixer(object, *track);
    track->expressionMapIndex = readInt32(object, "expressionMapIndex", -1);
    track->mpeEnabled = readBool(object, "mpeEnabled", false);
    track->frozen = readBool(object, "frozen", false);
    track->volumeAutomation = readAutomation(object, "volumeAutomation");
    track->panAutomation = readAutomation(object, "panAutomation");
    track->muteAutomation = readAutomation(object, "muteAutomation");
    track->automationClips =
        readObjectList<AutomationClip>(object, "automationClips", readAutomationClip);
    track->inserts = readObjectList<InsertSlot>(object, "inserts", readInsert);
    forEachObject(object, "clips", [&](const JsonValue &element) {
        track->clips.push_back(readClip(element, track->id));
    });
    return track;
}

void readSettings(const JsonValue &root, Project &project) {
    project.formatVersion = readInt32(root, "formatVersion", 1);
    project.name = readString(root, "name", "Untitled");
    project.sampleRate = readDouble(root, "sampleRate", 48000.0);
    project.tempoBpm = readDouble(root, "tempoBpm", 120.0);
    project.countInBars = readInt32(root, "countInBars", 1);
    project.punchEnabled = readBool(root, "punchEnabled", false);
    project.punchIn = readInt64(root, "punchIn");
    project.punchOut = readInt64(root, "punchOut");
    project.swingAmount = readFloat(root, "swingAmount", 0.0f);
    project.quantizeStrength = readFloat(root, "quantizeStrength", 1.0f);
    project.scaleRoot = readInt32(root, "scaleRoot", 0);
    project.scaleMinor = readBool(root, "scaleMinor", false);
    project.scaleSnapEnabled = readBool(root, "scaleSnapEnabled", false);
    project.metronomeVolume = readFloat(root, "metronomeVolume", 0.8f);
    project.automationWriteMode =
        static_cast<AutomationWriteMode>(readByte(root, "automationWriteMode"));
    project.grooveTimingAmount = readFloat(root, "grooveTimingAmount", 0.0f);
    project.grooveVelocityAmount = readFloat(root, "grooveVelocityAmount", 0.0f);
    project.activeGrooveIndex = readInt32(root, "activeGrooveIndex", -1);
    project.smartTempoMode = readByte(root, "smartTempoMode");
    project.tempoFollowerEnabled = readBool(root, "tempoFollowerEnabled", false);
    project.tempoFollowerSmoothing = readFloat(root, "tempoFollowerSmoothing", 0.35f);
    project.tempoFollowerFromInput = readBool(root, "tempoFollowerFromInput", true);
    project.lowLatencyMode = readBool(root, "lowLatencyMode", false);
    project.flashbackBufferSeconds = readInt32(root, "flashbackBufferSeconds", 30);
    project.controlRoom = readControlRoom(root.find("controlRoom"));
    project.masterEq = readChannelEq8(root.find("masterEq"));
    project.mastering = readMastering(root.find("mastering"));
    project.inputLatencyOffsetSamples = readInt32(root, "inputLatencyOffsetSamples", 0);
    project.outputLatencyOffsetSamples = readInt32(root, "outputLatencyOffsetSamples", 0);
    project.timeSignature = readTimeSignature(root.find("timeSignature"));
    project.nextTrackId = readUint64(root, "nextTrackId", 1);
    project.nextClipId = readUint64(root, "nextClipId", 1);
    project.nextSceneId = readUint64(root, "nextSceneId", 1);
    project.nextMarkerId = readUint64(root, "nextMarkerId", 1);
}

void readTuning(const JsonValue &root, Project &project) {
    project.scalaPresetIndex = readInt32(root, "scalaPresetIndex", 0);
    project.scalaName = readString(root, "scalaName");
    project.kbmName = readString(root, "kbmName");
    const JsonValue *cents = root.find("scalaCents");
    if (cents && cents->isArray()) {
        project.scalaCents = {};
        readFloatSlots(root, "scalaCents", project.scalaCents);
    } else {
        project.scalaCents = scalaPresetCents(project.scalaPresetIndex);
    }
    const JsonValue *degrees = root.find("kbmDegrees");
    if (degrees && degrees->isArray())
        for (const JsonValue &element : degrees->elements)
            if (element.isNumber()) project.kbmDegrees.push_back(toInt32(element.number));
}

void readLists(const JsonValue &root, Project &project) {
    project.groovePool = readObjectList<GrooveTemplate>(root, "groovePool", readGroove);
    if (project.groovePool.empty()) project.groovePool = defaultGroovePool();
    project.markers = readObjectList<Marker>(root, "markers", readMarker);
    project.tempoMarkers = readObjectList<TempoMarker>(root, "tempoMarkers", readTempoMarker);
    project.meterMarkers = readObjectList<MeterMarker>(root, "meterMarkers", readMeterMarker);
    project.chordMarkers = readObjectList<ChordMarker>(root, "chordMarkers", readChordMarker);
    project.expressionMaps =
        readObjectList<ExpressionMap>(root, "expressionMaps", readExpressionMap);
    if (project.expressionMaps.empty()) project.expressionMaps = defaultExpressionMaps();
    project.beatMarkers = readObjectList<BeatMarker>(root, "beatMarkers", readBeatMarker);
    project.mixerSnapshotHistory =
        readObjectList<MixerSnapshotEvent>(root, "mixerSnapshotHistory", readHistoryEntry);
    project.mixerSnapshots =
        readObjectList<MixerSnapshot>(root, "mixerSnapshots", [](const JsonValue &element) {
            return readMixerSnapshot(element, "trackId");
        });
    project.pluginUserTags = readTagMap(root.find("pluginUserTags"));
    project.audioMediaTags = readTagMap(root.find("audioMediaTags"));
    project.session = readSession(root.find("session"));
    forEachObject(root, "tracks",
                  [&](const JsonValue &element) { project.tracks.push_back(readTrack(element)); });
}

} // namespace

ChannelEq8 readChannelEq8(const JsonValue *object) {
    ChannelEq8 eq;
    if (!object || !object->isObject()) return eq;
    eq.enabled = readBool(*object, "enabled", true);
    eq.bypass = readBool(*object, "bypass", false);
    eq.outDb = readFloat(*object, "outDb", 0.0f);
    const JsonValue *bands = object->find("bands");
    if (!bands || !bands->isArray()) return eq;
    const std::size_t count = std::min(bands->elements.size(), eq.bands.size());
    for (std::size_t index = 0; index < count; ++index) {
        const JsonValue &element = bands->elements[index];
        EqBandSettings &band = eq.bands[index];
        band.type = readByte(element, "type", band.type);
        band.freq = readFloat(element, "freq", band.freq);
        band.gainDb = readFloat(element, "gainDb", band.gainDb);
        band.q = readFloat(element, "q", band.q);
        band.enabled = readBool(element, "enabled", band.enabled);
    }
    return eq;
}

std::optional<Project> fromJson(std::string_view text, std::string *error) {
    Parser parser(text);
    parser.skipWhitespace();
    const JsonValue root = parser.parseValue();
    const auto failWith = [error](const std::string &message) {
        if (error) *error = message;
        return std::nullopt;
    };
    if (!parser.error().empty()) return failWith(parser.error());
    if (!root.isObject()) return failWith("root must be object");
    Project project;
    readSettings(root, project);
    readTuning(root, project);
    readLists(root, project);
    return project;
}

} // namespace orvane::project_io
