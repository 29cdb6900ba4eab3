#pragma once

#include "core/model/Project.h"
#include "core/model/RendererSettings.h"

#include <cstdint>
#include <limits>
#include <span>
#include <string>

namespace orvane {

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
    Composite // objects and lists, encoded by functions of their own
};

inline constexpr double unbounded = std::numeric_limits<double>::infinity();

/// One stored field of a document object, free of any encoding: its key, its default when
/// the key is absent, the range of values that mean something and how to reach it in the
/// owner. Each field is declared once, in the tables below; the document's writer and reader,
/// the graph snapshot's builder and the test kits all walk the same tables.
template <typename Owner> struct StoredField {
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
    /// Settings the renderers read only: copies the value into the member of the graph
    /// snapshot's settings that carries it. The others live only in the document.
    void (*copyToRenderers)(const Owner &owner, RendererSettings &settings) = nullptr;
    /// Whether the field holds the same in both, as far as the document stores it.
    bool (*same)(const Owner &first, const Owner &second) = nullptr;
    /// Whether the member is the same in both as a whole value, with what objects and lists
    /// hold but do not store (a note's expression, say).
    bool (*sameValue)(const Owner &first, const Owner &second) = nullptr;
    /// Scalars only: the value as a number (bools as 0 and 1), and setting it from one, which
    /// truncates toward zero and saturates at the storage's width.
    double (*get)(const Owner &owner) = nullptr;
    void (*set)(Owner &owner, double value) = nullptr;
    /// Integers only, exactly (a double holds 64-bit values only within 2^53).
    int64_t (*getSigned)(const Owner &owner) = nullptr;
    uint64_t (*getUnsigned)(const Owner &owner) = nullptr;
    /// Strings only.
    std::string *(*text)(Owner &owner) = nullptr;
    const std::string &(*textOf)(const Owner &owner) = nullptr;
    /// Keys added after the format was first written are left out while they hold their
    /// default, so that documents which never use them stay byte for byte as they were.
    bool (*omitted)(const Owner &owner) = nullptr;

    bool isWritten(const Owner &owner) const { return !omitted || !omitted(owner); }

    bool isScalar() const { return type != FieldType::Composite && type != FieldType::String; }

    bool reachesRenderers() const { return copyToRenderers != nullptr; }
};

template <typename Owner> using StoredFieldTable = std::span<const StoredField<Owner>>;

/// Whether every stored field of the two owners is the same (values not stored are ignored).
template <typename Owner>
bool sameStoredFields(StoredFieldTable<Owner> fields, const Owner &first, const Owner &second) {
    for (const StoredField<Owner> &field : fields)
        if (!field.same(first, second)) return false;
    return true;
}

/// The number conversions every stored number goes through: they truncate toward zero and
/// saturate at the storage's width, because a cast of an out-of-range double is undefined.
int32_t storedInt32(double number);
int64_t storedInt64(double number);
uint32_t storedUint32(double number);
uint64_t storedUint64(double number);
float storedFloat(double number);

namespace stored {

/// The class a pointer to member belongs to, and the type of the member: what a table row
/// built from `&Owner::member` needs to know of it, here and in the document encoding.
template <typename Member> struct MemberOf;
template <typename Owner_, typename Value_> struct MemberOf<Value_ Owner_::*> {
    using Owner = Owner_;
    using Value = Value_;
};

template <auto Member> using OwnerOf = typename MemberOf<decltype(Member)>::Owner;

// The tables, in the document's writing order.
StoredFieldTable<Project> projectFields(); // "formatVersion" to "audioMediaTags"
StoredFieldTable<SessionGrid> sessionFields();
StoredFieldTable<Track> trackFields(); // "id" to "monitor"; the clips follow on their own
StoredFieldTable<Clip> clipFields();
StoredFieldTable<MidiNote> noteFields();
StoredFieldTable<AutomationPoint> automationPointFields();
StoredFieldTable<AutomationClip> automationClipFields();
StoredFieldTable<InsertSlot> insertFields();
StoredFieldTable<SendSlot> sendFields();
StoredFieldTable<WarpMarker> warpMarkerFields();
StoredFieldTable<ControlRoomSettings> controlRoomFields();
StoredFieldTable<ChannelEq8> channelEqFields();
StoredFieldTable<EqBandSettings> eqBandFields();
StoredFieldTable<MasteringUtility> masteringFields();
StoredFieldTable<TimeSignature> timeSignatureFields();
StoredFieldTable<GrooveTemplate> grooveFields();
StoredFieldTable<Marker> markerFields();
StoredFieldTable<TempoMarker> tempoMarkerFields();
StoredFieldTable<MeterMarker> meterMarkerFields();
StoredFieldTable<ChordMarker> chordMarkerFields();
StoredFieldTable<ExpressionMap> expressionMapFields();
StoredFieldTable<ExpressionArticulation> articulationFields();
StoredFieldTable<BeatMarker> beatMarkerFields();
StoredFieldTable<Scene> sceneFields();
StoredFieldTable<MidiMapping> midiMappingFields();
/// A history entry names the track "track", a user snapshot "trackId".
StoredFieldTable<TrackMixerSnapshot> historyTrackFields();
StoredFieldTable<TrackMixerSnapshot> snapshotTrackFields();
StoredFieldTable<MixerSnapshot> historySnapshotFields();
StoredFieldTable<MixerSnapshot> mixerSnapshotFields();
StoredFieldTable<MixerSnapshotEvent> historyEntryFields();

} // namespace stored

} // namespace orvane
