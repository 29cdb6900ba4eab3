#pragma once

#include "core/model/Project.h"
#include "core/model/StoredFields.h"
#include "core/project_io/JsonReader.h"

#include <cstdint>
#include <span>
#include <string>

namespace orvane::project_io {

struct JsonValue;

/// The encoding of one stored field in a document: the model's description of the field
/// (`StoredField`, from `core/model/StoredFields.h`) with how its value is written as JSON
/// and read back. Scalars and strings share one encoding; objects and lists have their own.
template <typename Owner> struct Field : StoredField<Owner> {
    void (*write)(std::string &out, const Field &field, const Owner &owner) = nullptr;
    /// `value` is null when the key is absent.
    void (*read)(const Field &field, const JsonValue *value, Owner &owner) = nullptr;
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

// The model's tables with their encodings, in writing order.
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
FieldTable<MidiMapping> midiMappingFields();
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
