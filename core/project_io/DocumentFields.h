#pragma once

#include "core/model/Project.h"
#include "core/project_io/JsonReader.h"

#include <cstdint>
#include <limits>
#include <span>
#include <string>

namespace orvane::project_io {

struct JsonValue;

enum class FieldType : uint8_t {
    Bool,
    Int32,
    Int64,
    Uint32,
    Uint64,
    Byte, // 8-bit enumerations
    Float,
    Double,
    String,
    Composite // objects and lists, written and read by functions of their own
};

inline constexpr double unbounded = std::numeric_limits<double>::infinity();

/// One stored field of a document object: its key, its default when the key is absent or of
/// another JSON type, and the range of values that mean something. Each field is declared
/// once, in the tables below, and the writer, the reader (with its clamping) and the tests
/// all walk the same tables.
template <typename Owner> struct Field {
    const char *key = "";
    FieldType type = FieldType::Composite;
    double fallback = 0.0;         // numbers and bools (1 for true)
    const char *fallbackText = ""; // strings
    /// A number read beyond the range is clamped into it; an enumeration outside it takes the
    /// default. Positions, ids and indices keep their full range: the code that uses them
    /// checks them against what exists.
    double lowest = -unbounded;
    double highest = unbounded;
    /// A value outside the range takes the default instead of the nearest end, where the
    /// model reads a nonsensical value (a tempo of 0, a meter of 4/0) as the default.
    bool defaultOutsideRange = false;
    void (*write)(std::string &out, const Field &field, const Owner &owner) = nullptr;
    /// `value` is null when the key is absent.
    void (*read)(const Field &field, const JsonValue *value, Owner &owner) = nullptr;
    bool (*same)(const Owner &first, const Owner &second) = nullptr;
    /// Scalars only: the value as a number (bools as 0 and 1), and setting it from one.
    double (*get)(const Owner &owner) = nullptr;
    void (*set)(Owner &owner, double value) = nullptr;
    /// Strings only.
    std::string *(*text)(Owner &owner) = nullptr;
    /// Keys added after the format was first written are left out while they hold their
    /// default, so that documents which never use them stay byte for byte as they were.
    bool (*omitted)(const Owner &owner) = nullptr;

    bool isWritten(const Owner &owner) const { return !omitted || !omitted(owner); }

    bool isScalar() const { return type != FieldType::Composite && type != FieldType::String; }
};

template <typename Owner> using FieldTable = std::span<const Field<Owner>>;

/// Whether `value` has the JSON type the field stores (every composite accepts any value).
template <typename Owner> bool fitsField(const Field<Owner> &field, const JsonValue &value) {
    switch (field.type) {
    case FieldType::Bool: return value.isBoolean();
    case FieldType::String: return value.isString();
    case FieldType::Composite: return true;
    default: return value.isNumber();
    }
}

// The tables, in writing order.
FieldTable<Project> projectFields(); // "formatVersion" to "audioMediaTags"
FieldTable<SessionGrid> sessionFields();
FieldTable<Track> trackFields(); // "id" to "eq"; the clips follow in a layout of their own
FieldTable<Clip> clipFields();
FieldTable<MidiNote> noteFields();
FieldTable<AutomationPoint> automationPointFields();
FieldTable<AutomationClip> automationClipFields();
FieldTable<InsertSlot> insertFields();
FieldTable<SendSlot> sendFields();
FieldTable<WarpMarker> warpMarkerFields();
FieldTable<ControlRoomSettings> controlRoomFields();
FieldTable<ChannelEq8> channelEqFields();
FieldTable<EqBandSettings> eqBandFields();
FieldTable<MasteringUtility> masteringFields();
FieldTable<TimeSignature> timeSignatureFields();
FieldTable<GrooveTemplate> grooveFields();
FieldTable<Marker> markerFields();
FieldTable<TempoMarker> tempoMarkerFields();
FieldTable<MeterMarker> meterMarkerFields();
FieldTable<ChordMarker> chordMarkerFields();
FieldTable<ExpressionMap> expressionMapFields();
FieldTable<ExpressionArticulation> articulationFields();
FieldTable<BeatMarker> beatMarkerFields();
FieldTable<Scene> sceneFields();
/// A history entry names the track "track", a user snapshot "trackId"; both are the format.
FieldTable<TrackMixerSnapshot> historyTrackFields();
FieldTable<TrackMixerSnapshot> snapshotTrackFields();
FieldTable<MixerSnapshot> historySnapshotFields();
FieldTable<MixerSnapshot> mixerSnapshotFields();
FieldTable<MixerSnapshotEvent> historyEntryFields();

/// `{"key":value,...}` with every field of the table.
template <typename Owner>
void writeFields(std::string &out, FieldTable<Owner> fields, const Owner &owner) {
    char opening = '{';
    for (const Field<Owner> &field : fields) {
        if (!field.isWritten(owner)) continue;
        out += opening;
        out += '"';
        out += field.key;
        out += "\":";
        field.write(out, field, owner);
        opening = ',';
    }
    out += '}';
}

/// Every field from `object`, absent and mistyped keys taking their defaults.
template <typename Owner>
void readFields(FieldTable<Owner> fields, const JsonValue &object, Owner &owner) {
    for (const Field<Owner> &field : fields)
        field.read(field, object.find(field.key), owner);
}

/// Whether every stored field of the two owners is the same (values not stored are ignored).
template <typename Owner>
bool sameFields(FieldTable<Owner> fields, const Owner &first, const Owner &second) {
    for (const Field<Owner> &field : fields)
        if (!field.same(first, second)) return false;
    return true;
}

/// Only the keys present with their own type; the others keep the owner's values.
template <typename Owner>
void readPresentFields(FieldTable<Owner> fields, const JsonValue &object, Owner &owner) {
    for (const Field<Owner> &field : fields) {
        const JsonValue *value = object.find(field.key);
        if (value && fitsField(field, *value)) field.read(field, value, owner);
    }
}

} // namespace orvane::project_io
