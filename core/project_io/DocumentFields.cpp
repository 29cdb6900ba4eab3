#include "core/project_io/DocumentFields.h"

#include "core/model/BuiltInPresets.h"
#include "core/project_io/DocumentEncoding.h"
#include "core/project_io/DocumentReader.h"
#include "core/project_io/DocumentWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace orvane::project_io {

namespace {

using stored::MemberOf;
using stored::OwnerOf;

/// The one place where a number read from a document is brought into its field's range.
template <typename Owner> double rangedNumber(const Field<Owner> &field, double number) {
    if (std::isnan(number)) return field.fallback;
    if (field.type == FieldType::Byte || field.defaultOutsideRange) {
        // An enumeration value nothing knows about means nothing; the default is the safe one.
        const double value = field.type == FieldType::Byte ? storedInt32(number) : number;
        return value < field.lowest || value > field.highest ? field.fallback : value;
    }
    return std::clamp(number, field.lowest, field.highest);
}

void appendValue(std::string &out, bool value) { out += value ? "true" : "false"; }
void appendValue(std::string &out, const std::string &value) {
    out += '"';
    appendEscaped(out, value);
    out += '"';
}
void appendValue(std::string &out, float value) { appendNumber(out, static_cast<double>(value)); }

/// Integers are written from their exact value: a double holds 64-bit ones only within 2^53.
template <typename Owner>
void writeScalar(std::string &out, const Field<Owner> &field, const Owner &owner) {
    switch (field.type) {
    case FieldType::Bool: appendValue(out, field.get(owner) != 0.0); break;
    case FieldType::String: appendValue(out, field.textOf(owner)); break;
    case FieldType::Int32:
    case FieldType::Int64:
    case FieldType::Byte: appendInteger(out, field.getSigned(owner)); break;
    case FieldType::Uint32:
    case FieldType::Uint64: appendUnsigned(out, field.getUnsigned(owner)); break;
    default: appendNumber(out, field.get(owner)); break;
    }
}

/// Absent and mistyped values take the default; numbers are held in the field's range.
template <typename Owner>
void readScalar(const Field<Owner> &field, const JsonValue *value, Owner &owner) {
    if (field.type == FieldType::String)
        *field.text(owner) =
            value && value->isString() ? value->string : std::string(field.fallbackText);
    else if (field.type == FieldType::Bool)
        field.set(owner, value && value->isBoolean() ? (value->boolean ? 1.0 : 0.0)
                                                     : (field.fallback != 0.0 ? 1.0 : 0.0));
    else
        field.set(owner,
                  value && value->isNumber() ? rangedNumber(field, value->number) : field.fallback);
}

/// How an object, a list, or a field with a rule of its own is written and read; a null
/// function keeps the shared scalar one.
template <typename Owner> struct Encoding {
    const char *key = "";
    void (*write)(std::string &out, const Field<Owner> &field, const Owner &owner) = nullptr;
    void (*read)(const Field<Owner> &field, const JsonValue *value, Owner &owner) = nullptr;
};

template <typename Owner>
const Encoding<Owner> *encodingFor(std::initializer_list<Encoding<Owner>> encodings,
                                   const char *key) {
    for (const Encoding<Owner> &encoding : encodings)
        if (std::strcmp(encoding.key, key) == 0) return &encoding;
    return nullptr;
}

/// The model's table with an encoding for every field. A stored field without one, or an
/// encoding of a key the model does not store, is a programming error found on first use.
template <typename Owner>
std::vector<Field<Owner>> encode(StoredFieldTable<Owner> stored,
                                 std::initializer_list<Encoding<Owner>> encodings = {}) {
    std::vector<Field<Owner>> fields;
    fields.reserve(stored.size());
    for (const StoredField<Owner> &row : stored) {
        Field<Owner> field;
        static_cast<StoredField<Owner> &>(field) = row;
        if (row.type != FieldType::Composite) {
            field.write = writeScalar<Owner>;
            field.read = readScalar<Owner>;
        }
        if (const Encoding<Owner> *encoding = encodingFor(encodings, row.key)) {
            if (encoding->write) field.write = encoding->write;
            if (encoding->read) field.read = encoding->read;
        }
        if (!field.write || !field.read)
            throw std::logic_error(std::string("no encoding for the stored field ") + row.key);
        fields.push_back(field);
    }
    for (const Encoding<Owner> &encoding : encodings)
        if (std::none_of(stored.begin(), stored.end(), [&encoding](const auto &row) {
                return std::strcmp(row.key, encoding.key) == 0;
            }))
            throw std::logic_error(std::string("an encoding for no stored field: ") + encoding.key);
    return fields;
}

template <typename Owner> FieldTable<Owner> tableOf(const std::vector<Field<Owner>> &fields) {
    return {fields.data(), fields.size()};
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

/// A list of objects described by `Table`; elements that are not objects are skipped.
template <auto Member, auto Table> struct ObjectList {
    using Owner = OwnerOf<Member>;
    using Element = typename MemberOf<decltype(Member)>::Value::value_type;

    static void write(std::string &out, const Field<Owner> &, const Owner &owner) {
        writeList(out, owner.*Member, [](std::string &text, const Element &element) {
            writeFields(text, Table(), element);
        });
    }
    static void read(const Field<Owner> &, const JsonValue *value, Owner &owner) {
        auto &list = owner.*Member;
        list.clear();
        if (!value || !value->isArray()) return;
        for (const JsonValue &element : value->elements) {
            if (!element.isObject()) continue;
            Element item{};
            readFields(Table(), element, item);
            list.push_back(std::move(item));
        }
    }
};

template <auto Member, auto Table> Encoding<OwnerOf<Member>> objectList(const char *key) {
    return {key, ObjectList<Member, Table>::write, ObjectList<Member, Table>::read};
}

/// One object described by `Table`; a missing or mistyped one gives every default.
template <auto Member, auto Table> struct NestedObject {
    using Owner = OwnerOf<Member>;
    using Value = typename MemberOf<decltype(Member)>::Value;

    static void write(std::string &out, const Field<Owner> &, const Owner &owner) {
        writeFields(out, Table(), owner.*Member);
    }
    static void read(const Field<Owner> &, const JsonValue *value, Owner &owner) {
        Value fresh{};
        if (value && value->isObject()) readFields(Table(), *value, fresh);
        owner.*Member = std::move(fresh);
    }
};

template <auto Member, auto Table> Encoding<OwnerOf<Member>> nestedObject(const char *key) {
    return {key, NestedObject<Member, Table>::write, NestedObject<Member, Table>::read};
}

template <auto Member> Encoding<OwnerOf<Member>> automation(const char *key) {
    return objectList<Member, automationPointFields>(key);
}

void writeFloats(std::string &out, const auto &values) {
    writeList(out, values, [](std::string &text, float value) { appendValue(text, value); });
}

/// Numeric elements fill the first slots, held in -limit..limit or 0..limit; the other slots
/// take `fill`.
template <std::size_t Size>
void readFloatSlots(const JsonValue *value, std::array<float, Size> &slots, float fill,
                    double lowest, double highest) {
    slots.fill(fill);
    if (!value || !value->isArray()) return;
    const std::size_t count = std::min(value->elements.size(), Size);
    for (std::size_t index = 0; index < count; ++index)
        if (value->elements[index].isNumber())
            slots[index] = storedFloat(std::clamp(value->elements[index].number, lowest, highest));
}

constexpr double largestCentDeviation = 1200.0;

// Fields with rules of their own.

void readTrackSends(const Field<Track> &, const JsonValue *value, Track &track) {
    track.sends = {};
    if (!value || !value->isArray()) return;
    std::size_t slot = 0;
    for (const JsonValue &element : value->elements) {
        if (!element.isObject() || slot == track.sends.size()) continue;
        readFields(sendFields(), element, track.sends[slot++]);
    }
}

void readMacros(const Field<Track> &, const JsonValue *value, Track &track) {
    readFloatSlots(value, track.macros, 0.5f, 0.0, 1.0);
}

void readTimingPattern(const Field<GrooveTemplate> &, const JsonValue *value,
                       GrooveTemplate &groove) {
    readFloatSlots(value, groove.timingPattern, 0.0f, -1.0, 1.0);
}

void readVelocityPattern(const Field<GrooveTemplate> &, const JsonValue *value,
                         GrooveTemplate &groove) {
    readFloatSlots(value, groove.velocityPattern, 0.0f, 0.0, 2.0);
}

/// Absent (or not a list), the deviations come from the selected preset, read before them.
void readScalaCents(const Field<Project> &, const JsonValue *value, Project &project) {
    if (value && value->isArray())
        readFloatSlots(value, project.scalaCents, 0.0f, -largestCentDeviation,
                       largestCentDeviation);
    else
        project.scalaCents = scalaPresetCents(project.scalaPresetIndex);
}

template <typename Integer, typename Convert>
void readNumbers(const JsonValue *value, std::vector<Integer> &list, Convert convert) {
    list.clear();
    if (!value || !value->isArray()) return;
    for (const JsonValue &element : value->elements)
        if (element.isNumber()) list.push_back(convert(element.number));
}

void readKbmDegrees(const Field<Project> &, const JsonValue *value, Project &project) {
    readNumbers(value, project.kbmDegrees, storedInt32);
}

void writeKbmDegrees(std::string &out, const Field<Project> &, const Project &project) {
    writeList(out, project.kbmDegrees,
              [](std::string &text, int32_t degree) { appendInteger(text, degree); });
}

void readSceneClips(const Field<Scene> &, const JsonValue *value, Scene &scene) {
    readNumbers(value, scene.clips, storedUint64);
}

void writeSceneClips(std::string &out, const Field<Scene> &, const Scene &scene) {
    writeList(out, scene.clips, [](std::string &text, uint64_t id) { appendUnsigned(text, id); });
}

/// An empty pool (absent, not a list, or without objects) falls back to the built-in one.
void readGroovePool(const Field<Project> &field, const JsonValue *value, Project &project) {
    ObjectList<&Project::groovePool, grooveFields>::read(field, value, project);
    if (project.groovePool.empty()) project.groovePool = defaultGroovePool();
}

void readExpressionMaps(const Field<Project> &field, const JsonValue *value, Project &project) {
    ObjectList<&Project::expressionMaps, expressionMapFields>::read(field, value, project);
    if (project.expressionMaps.empty()) project.expressionMaps = defaultExpressionMaps();
}

/// A mapping that names no real controller or lane is left out: moving a stored controller
/// must never reach a parameter the user did not teach it.
void readMidiMappings(const Field<Project> &field, const JsonValue *value, Project &project) {
    ObjectList<&Project::midiMappings, midiMappingFields>::read(field, value, project);
    std::erase_if(project.midiMappings,
                  [](const MidiMapping &mapping) { return !midiMappingProblem(mapping).empty(); });
}

using TagMap = std::unordered_map<std::string, std::vector<std::string>>;

/// Keys sorted so that the same project always gives the same text.
void writeTagMap(std::string &out, const TagMap &tags) {
    std::vector<const TagMap::value_type *> entries;
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
        appendValue(out, entry->first);
        out += ':';
        writeList(out, entry->second,
                  [](std::string &text, const std::string &tag) { appendValue(text, tag); });
    }
    out += '}';
}

/// Members holding arrays keep their strings; a repeated key replaces the earlier one.
TagMap readTagMap(const JsonValue *object) {
    TagMap tags;
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

template <auto Member> Encoding<OwnerOf<Member>> tagMap(const char *key) {
    using Owner = OwnerOf<Member>;
    return {key,
            [](std::string &out, const Field<Owner> &, const Owner &owner) {
                writeTagMap(out, owner.*Member);
            },
            [](const Field<Owner> &, const JsonValue *value, Owner &owner) {
                owner.*Member = readTagMap(value);
            }};
}

template <auto Member> Encoding<OwnerOf<Member>> channelEq(const char *key) {
    using Owner = OwnerOf<Member>;
    return {key,
            [](std::string &out, const Field<Owner> &, const Owner &owner) {
                writeChannelEq8(out, owner.*Member);
            },
            [](const Field<Owner> &, const JsonValue *value, Owner &owner) {
                owner.*Member = readChannelEq8(value);
            }};
}

/// The eight bands: a band element that is not an object keeps its default band, and a key
/// replaces the band's own default only with a value of its type.
void readEqBands(const Field<ChannelEq8> &, const JsonValue *value, ChannelEq8 &eq) {
    eq.bands = ChannelEq8::defaultBands();
    if (!value || !value->isArray()) return;
    const std::size_t count = std::min(value->elements.size(), eq.bands.size());
    for (std::size_t index = 0; index < count; ++index)
        if (value->elements[index].isObject())
            readPresentFields(eqBandFields(), value->elements[index], eq.bands[index]);
}

void writeEqBands(std::string &out, const Field<ChannelEq8> &, const ChannelEq8 &eq) {
    writeList(out, eq.bands, [](std::string &text, const EqBandSettings &band) {
        writeFields(text, eqBandFields(), band);
    });
}

/// The only object of the format written with a space after its colons and comma.
void writeTimeSignature(std::string &out, const Field<Project> &, const Project &project) {
    out += "{\"numerator\": ";
    appendInteger(out, project.timeSignature.numerator);
    out += ", \"denominator\": ";
    appendInteger(out, project.timeSignature.denominator);
    out += '}';
}

void writeInsertState(std::string &out, const Field<InsertSlot> &, const InsertSlot &insert) {
    appendValue(out, encodeBase64(insert.state));
}

void readInsertState(const Field<InsertSlot> &, const JsonValue *value, InsertSlot &insert) {
    insert.state =
        value && value->isString() ? decodeBase64(value->string) : std::vector<uint8_t>{};
}

/// A missing, mistyped or empty chord is "C".
void readChord(const Field<ChordMarker> &field, const JsonValue *value, ChordMarker &marker) {
    readScalar(field, value, marker);
    if (marker.chord.empty()) marker.chord = field.fallbackText;
}

} // namespace

// Each table is the model's, in its order, with the encodings of its objects and lists.

FieldTable<AutomationPoint> automationPointFields() {
    static const auto fields = encode(stored::automationPointFields());
    return tableOf(fields);
}

FieldTable<ControlRoomSettings> controlRoomFields() {
    static const auto fields = encode(stored::controlRoomFields());
    return tableOf(fields);
}

FieldTable<EqBandSettings> eqBandFields() {
    static const auto fields = encode(stored::eqBandFields());
    return tableOf(fields);
}

FieldTable<ChannelEq8> channelEqFields() {
    static const auto fields =
        encode(stored::channelEqFields(), {{"bands", writeEqBands, readEqBands}});
    return tableOf(fields);
}

FieldTable<MasteringUtility> masteringFields() {
    static const auto fields = encode(stored::masteringFields());
    return tableOf(fields);
}

FieldTable<TimeSignature> timeSignatureFields() {
    static const auto fields = encode(stored::timeSignatureFields());
    return tableOf(fields);
}

FieldTable<GrooveTemplate> grooveFields() {
    static const auto fields =
        encode(stored::grooveFields(),
               {{"timingPattern",
                 [](std::string &out, const Field<GrooveTemplate> &, const GrooveTemplate &groove) {
                     writeFloats(out, groove.timingPattern);
                 },
                 readTimingPattern},
                {"velocityPattern",
                 [](std::string &out, const Field<GrooveTemplate> &, const GrooveTemplate &groove) {
                     writeFloats(out, groove.velocityPattern);
                 },
                 readVelocityPattern}});
    return tableOf(fields);
}

FieldTable<Marker> markerFields() {
    static const auto fields = encode(stored::markerFields());
    return tableOf(fields);
}

FieldTable<TempoMarker> tempoMarkerFields() {
    static const auto fields = encode(stored::tempoMarkerFields());
    return tableOf(fields);
}

FieldTable<MeterMarker> meterMarkerFields() {
    static const auto fields = encode(stored::meterMarkerFields());
    return tableOf(fields);
}

FieldTable<ChordMarker> chordMarkerFields() {
    static const auto fields = encode(stored::chordMarkerFields(), {{"chord", nullptr, readChord}});
    return tableOf(fields);
}

FieldTable<ExpressionArticulation> articulationFields() {
    static const auto fields = encode(stored::articulationFields());
    return tableOf(fields);
}

FieldTable<ExpressionMap> expressionMapFields() {
    static const auto fields =
        encode(stored::expressionMapFields(),
               {objectList<&ExpressionMap::articulations, articulationFields>("articulations")});
    return tableOf(fields);
}

FieldTable<BeatMarker> beatMarkerFields() {
    static const auto fields = encode(stored::beatMarkerFields());
    return tableOf(fields);
}

FieldTable<TrackMixerSnapshot> historyTrackFields() {
    static const auto fields = encode(stored::historyTrackFields());
    return tableOf(fields);
}

FieldTable<TrackMixerSnapshot> snapshotTrackFields() {
    static const auto fields = encode(stored::snapshotTrackFields());
    return tableOf(fields);
}

FieldTable<MixerSnapshot> historySnapshotFields() {
    static const auto fields =
        encode(stored::historySnapshotFields(),
               {nestedObject<&MixerSnapshot::controlRoom, controlRoomFields>("controlRoom"),
                objectList<&MixerSnapshot::tracks, historyTrackFields>("tracks")});
    return tableOf(fields);
}

FieldTable<MixerSnapshot> mixerSnapshotFields() {
    static const auto fields =
        encode(stored::mixerSnapshotFields(),
               {nestedObject<&MixerSnapshot::controlRoom, controlRoomFields>("controlRoom"),
                objectList<&MixerSnapshot::tracks, snapshotTrackFields>("tracks")});
    return tableOf(fields);
}

FieldTable<MixerSnapshotEvent> historyEntryFields() {
    static const auto fields =
        encode(stored::historyEntryFields(),
               {nestedObject<&MixerSnapshotEvent::snapshot, historySnapshotFields>("snapshot")});
    return tableOf(fields);
}

FieldTable<Scene> sceneFields() {
    static const auto fields =
        encode(stored::sceneFields(), {{"clips", writeSceneClips, readSceneClips}});
    return tableOf(fields);
}

FieldTable<MidiMapping> midiMappingFields() {
    static const auto fields = encode(stored::midiMappingFields());
    return tableOf(fields);
}

FieldTable<SessionGrid> sessionFields() {
    static const auto fields =
        encode(stored::sessionFields(), {objectList<&SessionGrid::scenes, sceneFields>("scenes")});
    return tableOf(fields);
}

FieldTable<AutomationClip> automationClipFields() {
    static const auto fields =
        encode(stored::automationClipFields(), {automation<&AutomationClip::points>("points")});
    return tableOf(fields);
}

FieldTable<InsertSlot> insertFields() {
    static const auto fields = encode(
        stored::insertFields(), {{"state", writeInsertState, readInsertState},
                                 automation<&InsertSlot::paramAutomation>("paramAutomation")});
    return tableOf(fields);
}

FieldTable<SendSlot> sendFields() {
    static const auto fields = encode(stored::sendFields());
    return tableOf(fields);
}

FieldTable<WarpMarker> warpMarkerFields() {
    static const auto fields = encode(stored::warpMarkerFields());
    return tableOf(fields);
}

FieldTable<MidiNote> noteFields() {
    static const auto fields = encode(stored::noteFields());
    return tableOf(fields);
}

FieldTable<Clip> clipFields() {
    static const auto fields = encode(
        stored::clipFields(), {automation<&Clip::gainEnvelope>("gainEnvelope"),
                               objectList<&Clip::warpMarkers, warpMarkerFields>("warpMarkers"),
                               objectList<&Clip::notes, noteFields>("notes")});
    return tableOf(fields);
}

FieldTable<Track> trackFields() {
    static const auto fields =
        encode(stored::trackFields(),
               {automation<&Track::volumeAutomation>("volumeAutomation"),
                automation<&Track::panAutomation>("panAutomation"),
                automation<&Track::muteAutomation>("muteAutomation"),
                objectList<&Track::automationClips, automationClipFields>("automationClips"),
                {"macros",
                 [](std::string &out, const Field<Track> &, const Track &track) {
                     writeFloats(out, track.macros);
                 },
                 readMacros},
                objectList<&Track::inserts, insertFields>("inserts"),
                {"sends",
                 [](std::string &out, const Field<Track> &, const Track &track) {
                     writeList(out, track.sends, [](std::string &text, const SendSlot &send) {
                         writeFields(text, sendFields(), send);
                     });
                 },
                 readTrackSends},
                channelEq<&Track::eq>("eq")});
    return tableOf(fields);
}

FieldTable<Project> projectFields() {
    static const auto fields = encode(
        stored::projectFields(),
        {{"scalaCents",
          [](std::string &out, const Field<Project> &, const Project &project) {
              writeFloats(out, project.scalaCents);
          },
          readScalaCents},
         {"kbmDegrees", writeKbmDegrees, readKbmDegrees},
         {"groovePool", ObjectList<&Project::groovePool, grooveFields>::write, readGroovePool},
         nestedObject<&Project::controlRoom, controlRoomFields>("controlRoom"),
         channelEq<&Project::masterEq>("masterEq"),
         nestedObject<&Project::mastering, masteringFields>("mastering"),
         {"timeSignature", writeTimeSignature,
          NestedObject<&Project::timeSignature, timeSignatureFields>::read},
         objectList<&Project::markers, markerFields>("markers"),
         objectList<&Project::tempoMarkers, tempoMarkerFields>("tempoMarkers"),
         objectList<&Project::meterMarkers, meterMarkerFields>("meterMarkers"),
         objectList<&Project::chordMarkers, chordMarkerFields>("chordMarkers"),
         {"expressionMaps", ObjectList<&Project::expressionMaps, expressionMapFields>::write,
          readExpressionMaps},
         objectList<&Project::beatMarkers, beatMarkerFields>("beatMarkers"),
         objectList<&Project::mixerSnapshotHistory, historyEntryFields>("mixerSnapshotHistory"),
         objectList<&Project::mixerSnapshots, mixerSnapshotFields>("mixerSnapshots"),
         tagMap<&Project::pluginUserTags>("pluginUserTags"),
         tagMap<&Project::audioMediaTags>("audioMediaTags"),
         {"midiMappings", ObjectList<&Project::midiMappings, midiMappingFields>::write,
          readMidiMappings}});
    return tableOf(fields);
}

} // namespace orvane::project_io
