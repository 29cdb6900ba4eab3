#include "core/project_io/DocumentFields.h"

#include "core/model/BuiltInPresets.h"
#include "core/project_io/DocumentEncoding.h"
#include "core/project_io/DocumentReader.h"
#include "core/project_io/DocumentWriter.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <type_traits>

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
    return static_cast<float>(
        std::clamp(number, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

template <typename Member> struct MemberOf;
template <typename Owner_, typename Value_> struct MemberOf<Value_ Owner_::*> {
    using Owner = Owner_;
    using Value = Value_;
};

template <typename Value> constexpr FieldType typeOf() {
    if constexpr (std::is_same_v<Value, bool>)
        return FieldType::Bool;
    else if constexpr (std::is_enum_v<Value> || std::is_same_v<Value, uint8_t>)
        return FieldType::Byte;
    else if constexpr (std::is_same_v<Value, int32_t>)
        return FieldType::Int32;
    else if constexpr (std::is_same_v<Value, int64_t>)
        return FieldType::Int64;
    else if constexpr (std::is_same_v<Value, uint32_t>)
        return FieldType::Uint32;
    else if constexpr (std::is_same_v<Value, uint64_t>)
        return FieldType::Uint64;
    else if constexpr (std::is_same_v<Value, float>)
        return FieldType::Float;
    else if constexpr (std::is_same_v<Value, double>)
        return FieldType::Double;
    else if constexpr (std::is_same_v<Value, std::string>)
        return FieldType::String;
    else
        return FieldType::Composite;
}

/// The one place where a number read from a document is brought into its field's range.
template <typename Owner> double rangedNumber(const Field<Owner> &field, double number) {
    if (std::isnan(number)) return field.fallback;
    if (field.type == FieldType::Byte || field.defaultOutsideRange) {
        // An enumeration value nothing knows about means nothing; the default is the safe one.
        const double value = field.type == FieldType::Byte ? toInt32(number) : number;
        return value < field.lowest || value > field.highest ? field.fallback : value;
    }
    return std::clamp(number, field.lowest, field.highest);
}

template <typename Value> void assignNumber(Value &target, double number) {
    if constexpr (std::is_same_v<Value, bool>)
        target = number != 0.0;
    else if constexpr (std::is_enum_v<Value> || std::is_same_v<Value, uint8_t>)
        target = static_cast<Value>(static_cast<uint8_t>(toInt32(number)));
    else if constexpr (std::is_same_v<Value, int32_t>)
        target = toInt32(number);
    else if constexpr (std::is_same_v<Value, int64_t>)
        target = toInt64(number);
    else if constexpr (std::is_same_v<Value, uint32_t>)
        target = toUint32(number);
    else if constexpr (std::is_same_v<Value, uint64_t>)
        target = toUint64(number);
    else if constexpr (std::is_same_v<Value, float>)
        target = toFloat(number);
    else
        target = number;
}

template <typename Value> double numberOf(const Value &value) {
    if constexpr (std::is_enum_v<Value>)
        return static_cast<double>(static_cast<std::underlying_type_t<Value>>(value));
    else if constexpr (std::is_same_v<Value, std::string>)
        return 0.0;
    else
        return static_cast<double>(value);
}

void appendValue(std::string &out, bool value) { out += value ? "true" : "false"; }
void appendValue(std::string &out, const std::string &value) {
    out += '"';
    appendEscaped(out, value);
    out += '"';
}
void appendValue(std::string &out, float value) { appendNumber(out, static_cast<double>(value)); }
void appendValue(std::string &out, double value) { appendNumber(out, value); }
void appendValue(std::string &out, int32_t value) { appendInteger(out, value); }
void appendValue(std::string &out, int64_t value) { appendInteger(out, value); }
void appendValue(std::string &out, uint32_t value) { appendUnsigned(out, value); }
void appendValue(std::string &out, uint64_t value) { appendUnsigned(out, value); }
template <typename Enum>
requires std::is_enum_v<Enum>
void appendValue(std::string &out, Enum value) {
    appendInteger(out, static_cast<std::underlying_type_t<Enum>>(value));
}
void appendValue(std::string &out, uint8_t value) { appendInteger(out, value); }

template <auto Member> struct Scalar {
    using Owner = typename MemberOf<decltype(Member)>::Owner;
    using Value = typename MemberOf<decltype(Member)>::Value;

    static void write(std::string &out, const Field<Owner> &, const Owner &owner) {
        appendValue(out, owner.*Member);
    }
    static void read(const Field<Owner> &field, const JsonValue *value, Owner &owner) {
        if constexpr (std::is_same_v<Value, std::string>)
            owner.*Member =
                value && value->isString() ? value->string : std::string(field.fallbackText);
        else if constexpr (std::is_same_v<Value, bool>)
            owner.*Member = value && value->isBoolean() ? value->boolean : field.fallback != 0.0;
        else
            assignNumber(owner.*Member, value && value->isNumber()
                                            ? rangedNumber(field, value->number)
                                            : field.fallback);
    }
    static bool same(const Owner &first, const Owner &second) {
        return first.*Member == second.*Member;
    }
    static double get(const Owner &owner) { return numberOf(owner.*Member); }
    static void set(Owner &owner, double number) {
        if constexpr (!std::is_same_v<Value, std::string>) assignNumber(owner.*Member, number);
    }
    static std::string *text(Owner &owner) {
        if constexpr (std::is_same_v<Value, std::string>)
            return &(owner.*Member);
        else
            return nullptr;
    }
};

template <auto Member>
Field<typename MemberOf<decltype(Member)>::Owner> scalarField(const char *key, double fallback,
                                                              double lowest, double highest,
                                                              const char *fallbackText = "") {
    using S = Scalar<Member>;
    Field<typename S::Owner> field;
    field.key = key;
    field.type = typeOf<typename S::Value>();
    field.fallback = fallback;
    field.fallbackText = fallbackText;
    field.lowest = lowest;
    field.highest = highest;
    field.write = S::write;
    field.read = S::read;
    field.same = S::same;
    field.get = S::get;
    field.set = S::set;
    field.text = S::text;
    return field;
}

/// A number: integers saturate at their width, then every number is held in its range.
template <auto Member>
auto number(const char *key, double fallback, double lowest = -unbounded,
            double highest = unbounded) {
    return scalarField<Member>(key, fallback, lowest, highest);
}

/// A number whose nonsensical values mean the default (see `Field::defaultOutsideRange`).
template <auto Member>
auto numberOrDefault(const char *key, double fallback, double lowest, double highest) {
    auto field = scalarField<Member>(key, fallback, lowest, highest);
    field.defaultOutsideRange = true;
    return field;
}

template <auto Member> auto flag(const char *key, bool fallback) {
    return scalarField<Member>(key, fallback ? 1.0 : 0.0, 0.0, 1.0);
}

template <auto Member> auto text(const char *key, const char *fallback = "") {
    return scalarField<Member>(key, 0.0, -unbounded, unbounded, fallback);
}

/// A number written only when it is not its default (see `Field::omitted`).
template <auto Member>
auto optionalNumber(const char *key, double fallback, double lowest = -unbounded,
                    double highest = unbounded) {
    auto field = scalarField<Member>(key, fallback, lowest, highest);
    using Owner = typename MemberOf<decltype(Member)>::Owner;
    field.omitted = [](const Owner &owner) {
        static const Owner fresh{};
        return owner.*Member == fresh.*Member;
    };
    return field;
}

template <auto Member> struct SameMember {
    using Owner = typename MemberOf<decltype(Member)>::Owner;
    static bool same(const Owner &first, const Owner &second) {
        return first.*Member == second.*Member;
    }
};

template <auto Member>
auto composite(const char *key,
               void (*write)(std::string &,
                             const Field<typename MemberOf<decltype(Member)>::Owner> &,
                             const typename MemberOf<decltype(Member)>::Owner &),
               void (*read)(const Field<typename MemberOf<decltype(Member)>::Owner> &,
                            const JsonValue *, typename MemberOf<decltype(Member)>::Owner &)) {
    Field<typename MemberOf<decltype(Member)>::Owner> field;
    field.key = key;
    field.write = write;
    field.read = read;
    field.same = SameMember<Member>::same;
    return field;
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
    using Owner = typename MemberOf<decltype(Member)>::Owner;
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

/// Lists and objects described by a table compare by their stored fields only.
template <auto Member, auto Table> struct SameStored {
    using Owner = typename MemberOf<decltype(Member)>::Owner;
    static bool sameList(const Owner &first, const Owner &second) {
        const auto &one = first.*Member;
        const auto &other = second.*Member;
        if (one.size() != other.size()) return false;
        for (std::size_t index = 0; index < one.size(); ++index)
            if (!sameFields(Table(), one[index], other[index])) return false;
        return true;
    }
    static bool sameObject(const Owner &first, const Owner &second) {
        return sameFields(Table(), first.*Member, second.*Member);
    }
};

template <auto Member, auto Table> auto objectList(const char *key) {
    using L = ObjectList<Member, Table>;
    auto field = composite<Member>(key, L::write, L::read);
    field.same = SameStored<Member, Table>::sameList;
    return field;
}

/// One object described by `Table`; a missing or mistyped one gives every default.
template <auto Member, auto Table> struct NestedObject {
    using Owner = typename MemberOf<decltype(Member)>::Owner;
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

template <auto Member, auto Table> auto nestedObject(const char *key) {
    using N = NestedObject<Member, Table>;
    auto field = composite<Member>(key, N::write, N::read);
    field.same = SameStored<Member, Table>::sameObject;
    return field;
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
            slots[index] = toFloat(std::clamp(value->elements[index].number, lowest, highest));
}

// Ranges of the values that mean something. A value beyond them is damage; clamped at load,
// it can never turn the mix into infinities.
constexpr double largestGain = 16.0; // +24 dB
constexpr double slowestTempo = 1.0;
constexpr double fastestTempo = 999.0;
constexpr double largestMeterPart = 64.0;
constexpr double lowestMidi = 0.0;
constexpr double highestMidi = 127.0;
constexpr double largestCentDeviation = 1200.0;
constexpr double largestAutomationValue = 16.0;
constexpr double lowestEqFrequency = 10.0;
constexpr double highestEqFrequency = 40000.0;
constexpr double largestEqGainDb = 48.0;
constexpr double lowestEqQ = 0.05;
constexpr double highestEqQ = 50.0;
constexpr double smallestStretch = 0.01;
constexpr double largestStretch = 100.0;
constexpr double longestFlashbackSeconds = 3600.0;
constexpr double mostCountInBars = 16.0;
constexpr double mostSessionSlots = 4096.0;

// Composite fields with rules of their own.

template <auto Member> auto automation(const char *key) {
    return objectList<Member, automationPointFields>(key);
}

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
    readNumbers(value, project.kbmDegrees, toInt32);
}

void writeKbmDegrees(std::string &out, const Field<Project> &, const Project &project) {
    writeList(out, project.kbmDegrees,
              [](std::string &text, int32_t degree) { appendInteger(text, degree); });
}

void readSceneClips(const Field<Scene> &, const JsonValue *value, Scene &scene) {
    readNumbers(value, scene.clips, toUint64);
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

template <auto Member> auto tagMap(const char *key) {
    using Owner = typename MemberOf<decltype(Member)>::Owner;
    return composite<Member>(
        key,
        [](std::string &out, const Field<Owner> &, const Owner &owner) {
            writeTagMap(out, owner.*Member);
        },
        [](const Field<Owner> &, const JsonValue *value, Owner &owner) {
            owner.*Member = readTagMap(value);
        });
}

template <auto Member> auto channelEq(const char *key) {
    using Owner = typename MemberOf<decltype(Member)>::Owner;
    return composite<Member>(
        key,
        [](std::string &out, const Field<Owner> &, const Owner &owner) {
            writeChannelEq8(out, owner.*Member);
        },
        [](const Field<Owner> &, const JsonValue *value, Owner &owner) {
            owner.*Member = readChannelEq8(value);
        });
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
    Scalar<&ChordMarker::chord>::read(field, value, marker);
    if (marker.chord.empty()) marker.chord = field.fallbackText;
}

template <typename Owner>
Field<Owner> withReader(Field<Owner> field,
                        void (*read)(const Field<Owner> &, const JsonValue *, Owner &)) {
    field.read = read;
    return field;
}

template <typename Owner>
Field<Owner> withWriter(Field<Owner> field,
                        void (*write)(std::string &, const Field<Owner> &, const Owner &)) {
    field.write = write;
    return field;
}

template <typename Owner, std::size_t Size>
FieldTable<Owner> tableOf(const std::array<Field<Owner>, Size> &fields) {
    return {fields.data(), fields.size()};
}

} // namespace

FieldTable<AutomationPoint> automationPointFields() {
    static const std::array fields{
        number<&AutomationPoint::t>("t", 0),
        number<&AutomationPoint::v>("v", 0, -largestAutomationValue, largestAutomationValue),
    };
    return tableOf(fields);
}

FieldTable<ControlRoomSettings> controlRoomFields() {
    static const std::array fields{
        number<&ControlRoomSettings::masterGain>("masterGain", 1, 0, largestGain),
        number<&ControlRoomSettings::cueGain>("cueGain", 1, 0, largestGain),
        flag<&ControlRoomSettings::dim>("dim", false),
        flag<&ControlRoomSettings::mono>("mono", false),
        flag<&ControlRoomSettings::talkback>("talkback", false),
    };
    return tableOf(fields);
}

FieldTable<EqBandSettings> eqBandFields() {
    // Each band's own default (type, frequency, q) is the one of its place in the EQ.
    static const std::array fields{
        number<&EqBandSettings::type>("type", 2, 0, 4),
        number<&EqBandSettings::freq>("freq", 1000, lowestEqFrequency, highestEqFrequency),
        number<&EqBandSettings::gainDb>("gainDb", 0, -largestEqGainDb, largestEqGainDb),
        number<&EqBandSettings::q>("q", 1, lowestEqQ, highestEqQ),
        flag<&EqBandSettings::enabled>("enabled", true),
    };
    return tableOf(fields);
}

FieldTable<ChannelEq8> channelEqFields() {
    static const std::array fields{
        flag<&ChannelEq8::enabled>("enabled", true),
        flag<&ChannelEq8::bypass>("bypass", false),
        number<&ChannelEq8::outDb>("outDb", 0, -largestEqGainDb, largestEqGainDb),
        composite<&ChannelEq8::bands>("bands", writeEqBands, readEqBands),
    };
    return tableOf(fields);
}

FieldTable<MasteringUtility> masteringFields() {
    static const std::array fields{
        flag<&MasteringUtility::enabled>("enabled", true),
        flag<&MasteringUtility::bypass>("bypass", false),
        number<&MasteringUtility::character>("character", 0),
        number<&MasteringUtility::loudness>("loudness", 0.35f, 0, 1),
        flag<&MasteringUtility::excite>("excite", false),
        number<&MasteringUtility::exciteAmt>("exciteAmt", 0.25f, 0, 1),
        number<&MasteringUtility::width>("width", 1, 0, 2),
        flag<&MasteringUtility::loudCmp>("loudCmp", true),
    };
    return tableOf(fields);
}

FieldTable<TimeSignature> timeSignatureFields() {
    static const std::array fields{
        numberOrDefault<&TimeSignature::numerator>("numerator", 4, 1, largestMeterPart),
        numberOrDefault<&TimeSignature::denominator>("denominator", 4, 1, largestMeterPart),
    };
    return tableOf(fields);
}

FieldTable<GrooveTemplate> grooveFields() {
    static const std::array fields{
        text<&GrooveTemplate::name>("name"),
        number<&GrooveTemplate::timing>("timing", 0, 0, 1),
        number<&GrooveTemplate::velocity>("velocity", 0, 0, 1),
        composite<&GrooveTemplate::timingPattern>(
            "timingPattern",
            [](std::string &out, const Field<GrooveTemplate> &, const GrooveTemplate &groove) {
                writeFloats(out, groove.timingPattern);
            },
            readTimingPattern),
        composite<&GrooveTemplate::velocityPattern>(
            "velocityPattern",
            [](std::string &out, const Field<GrooveTemplate> &, const GrooveTemplate &groove) {
                writeFloats(out, groove.velocityPattern);
            },
            readVelocityPattern),
    };
    return tableOf(fields);
}

FieldTable<Marker> markerFields() {
    static const std::array fields{
        number<&Marker::id>("id", 0),
        text<&Marker::name>("name"),
        number<&Marker::position>("position", 0),
    };
    return tableOf(fields);
}

FieldTable<TempoMarker> tempoMarkerFields() {
    static const std::array fields{
        number<&TempoMarker::position>("position", 0),
        numberOrDefault<&TempoMarker::bpm>("bpm", 120, slowestTempo, fastestTempo),
    };
    return tableOf(fields);
}

FieldTable<MeterMarker> meterMarkerFields() {
    static const std::array fields{
        number<&MeterMarker::position>("position", 0),
        numberOrDefault<&MeterMarker::num>("num", 4, 1, largestMeterPart),
        numberOrDefault<&MeterMarker::den>("den", 4, 1, largestMeterPart),
    };
    return tableOf(fields);
}

FieldTable<ChordMarker> chordMarkerFields() {
    static const std::array fields{
        number<&ChordMarker::position>("position", 0),
        withReader(text<&ChordMarker::chord>("chord", "C"), readChord),
    };
    return tableOf(fields);
}

FieldTable<ExpressionArticulation> articulationFields() {
    static const std::array fields{
        text<&ExpressionArticulation::name>("name"),
        number<&ExpressionArticulation::keyswitch>("keyswitch", 36, lowestMidi, highestMidi),
        number<&ExpressionArticulation::velScale>("velScale", 1, 0, 4),
        number<&ExpressionArticulation::cc>("cc", 11, lowestMidi, highestMidi),
        number<&ExpressionArticulation::ccVal>("ccVal", 127, lowestMidi, highestMidi),
    };
    return tableOf(fields);
}

FieldTable<ExpressionMap> expressionMapFields() {
    static const std::array fields{
        text<&ExpressionMap::name>("name"),
        objectList<&ExpressionMap::articulations, articulationFields>("articulations"),
    };
    return tableOf(fields);
}

FieldTable<BeatMarker> beatMarkerFields() {
    static const std::array fields{
        number<&BeatMarker::position>("position", 0),
        flag<&BeatMarker::downbeat>("downbeat", false),
    };
    return tableOf(fields);
}

namespace {

std::array<Field<TrackMixerSnapshot>, 5> snapshotTrackTable(const char *trackKey) {
    return {
        number<&TrackMixerSnapshot::trackId>(trackKey, 0),
        number<&TrackMixerSnapshot::gain>("gain", 1, 0, largestGain),
        number<&TrackMixerSnapshot::pan>("pan", 0, -1, 1),
        flag<&TrackMixerSnapshot::mute>("mute", false),
        flag<&TrackMixerSnapshot::solo>("solo", false),
    };
}

} // namespace

FieldTable<TrackMixerSnapshot> historyTrackFields() {
    static const auto fields = snapshotTrackTable("track");
    return tableOf(fields);
}

FieldTable<TrackMixerSnapshot> snapshotTrackFields() {
    static const auto fields = snapshotTrackTable("trackId");
    return tableOf(fields);
}

FieldTable<MixerSnapshot> historySnapshotFields() {
    static const std::array fields{
        text<&MixerSnapshot::name>("name"),
        nestedObject<&MixerSnapshot::controlRoom, controlRoomFields>("controlRoom"),
        objectList<&MixerSnapshot::tracks, historyTrackFields>("tracks"),
    };
    return tableOf(fields);
}

FieldTable<MixerSnapshot> mixerSnapshotFields() {
    static const std::array fields{
        text<&MixerSnapshot::name>("name"),
        nestedObject<&MixerSnapshot::controlRoom, controlRoomFields>("controlRoom"),
        objectList<&MixerSnapshot::tracks, snapshotTrackFields>("tracks"),
    };
    return tableOf(fields);
}

FieldTable<MixerSnapshotEvent> historyEntryFields() {
    static const std::array fields{
        text<&MixerSnapshotEvent::label>("label"),
        nestedObject<&MixerSnapshotEvent::snapshot, historySnapshotFields>("snapshot"),
    };
    return tableOf(fields);
}

FieldTable<Scene> sceneFields() {
    static const std::array fields{
        number<&Scene::id>("id", 0),
        text<&Scene::name>("name"),
        number<&Scene::followAction>("followAction", 0, 0, 4),
        flag<&Scene::useSceneTempo>("useSceneTempo", false),
        numberOrDefault<&Scene::sceneTempoBpm>("sceneTempoBpm", 120, slowestTempo, fastestTempo),
        flag<&Scene::useSceneMeter>("useSceneMeter", false),
        numberOrDefault<&Scene::sceneMeterNum>("sceneMeterNum", 4, 1, largestMeterPart),
        numberOrDefault<&Scene::sceneMeterDen>("sceneMeterDen", 4, 1, largestMeterPart),
        optionalNumber<&Scene::useSceneLaunchQuantize>("useSceneLaunchQuantize", 0, 0, 1),
        optionalNumber<&Scene::sceneLaunchQuantize>("sceneLaunchQuantize", 2, 0, 3),
        composite<&Scene::clips>("clips", writeSceneClips, readSceneClips),
    };
    return tableOf(fields);
}

FieldTable<SessionGrid> sessionFields() {
    static const std::array fields{
        number<&SessionGrid::rows>("rows", 8, 0, mostSessionSlots),
        number<&SessionGrid::cols>("cols", 8, 0, mostSessionSlots),
        // Files written before it was stored read as one bar, as they always played.
        number<&SessionGrid::launchQuantize>("launchQuantize", 2, 0, 3),
        objectList<&SessionGrid::scenes, sceneFields>("scenes"),
    };
    return tableOf(fields);
}

FieldTable<AutomationClip> automationClipFields() {
    static const std::array fields{
        number<&AutomationClip::id>("id", 0),          number<&AutomationClip::start>("start", 0),
        number<&AutomationClip::length>("length", 0),  number<&AutomationClip::lane>("lane", 0),
        automation<&AutomationClip::points>("points"),
    };
    return tableOf(fields);
}

FieldTable<InsertSlot> insertFields() {
    static const std::array fields{
        text<&InsertSlot::pluginId>("pluginId"),
        text<&InsertSlot::displayName>("displayName"),
        text<&InsertSlot::bundlePath>("bundlePath"),
        composite<&InsertSlot::state>("state", writeInsertState, readInsertState),
        flag<&InsertSlot::bypassed>("bypassed", false),
        flag<&InsertSlot::isStock>("isStock", false),
        number<&InsertSlot::automParamId>("automParamId", 0),
        automation<&InsertSlot::paramAutomation>("paramAutomation"),
    };
    return tableOf(fields);
}

FieldTable<SendSlot> sendFields() {
    static const std::array fields{
        number<&SendSlot::returnId>("return", 0),
        number<&SendSlot::level>("level", 0, 0, largestGain),
        flag<&SendSlot::pre>("pre", false),
    };
    return tableOf(fields);
}

FieldTable<WarpMarker> warpMarkerFields() {
    static const std::array fields{
        number<&WarpMarker::dest>("dest", 0),
        number<&WarpMarker::source>("source", 0),
    };
    return tableOf(fields);
}

FieldTable<MidiNote> noteFields() {
    static const std::array fields{
        number<&MidiNote::pitch>("pitch", 60, lowestMidi, highestMidi),
        number<&MidiNote::velocity>("velocity", 0.8f, 0, 1),
        number<&MidiNote::start>("start", 0),
        number<&MidiNote::length>("length", 0),
    };
    return tableOf(fields);
}

FieldTable<Clip> clipFields() {
    static const std::array fields{
        number<&Clip::id>("id", 0),
        number<&Clip::kind>("kind", 0, 0, 1),
        text<&Clip::name>("name"),
        number<&Clip::arrangeStart>("arrangeStart", 0),
        number<&Clip::length>("length", 0),
        number<&Clip::sourceOffset>("sourceOffset", 0),
        flag<&Clip::loop>("loop", false),
        number<&Clip::loopLength>("loopLength", 0),
        number<&Clip::gain>("gain", 1, 0, largestGain),
        number<&Clip::stretchRatio>("stretchRatio", 1, smallestStretch, largestStretch),
        text<&Clip::audioFile>("audioFile"),
        number<&Clip::sessionRow>("sessionRow", -1),
        number<&Clip::sessionCol>("sessionCol", -1),
        number<&Clip::fadeIn>("fadeIn", 0),
        number<&Clip::fadeOut>("fadeOut", 0),
        number<&Clip::takeLane>("takeLane", 0),
        flag<&Clip::takeActive>("takeActive", true),
        number<&Clip::followAction>("followAction", 0, 0, 4),
        number<&Clip::launchMode>("launchMode", 0, 0, 3),
        flag<&Clip::legatoLaunch>("legatoLaunch", false),
        number<&Clip::launchQuantize>("launchQuantize", 2, 0, 3),
        automation<&Clip::gainEnvelope>("gainEnvelope"),
        objectList<&Clip::warpMarkers, warpMarkerFields>("warpMarkers"),
        objectList<&Clip::notes, noteFields>("notes"),
    };
    return tableOf(fields);
}

FieldTable<Track> trackFields() {
    static const std::array fields{
        number<&Track::id>("id", 0),
        number<&Track::type>("type", 0, 0, 3),
        text<&Track::name>("name"),
        number<&Track::gain>("gain", 1, 0, largestGain),
        number<&Track::pan>("pan", 0, -1, 1),
        flag<&Track::mute>("mute", false),
        flag<&Track::solo>("solo", false),
        number<&Track::expressionMapIndex>("expressionMapIndex", -1),
        flag<&Track::mpeEnabled>("mpeEnabled", false),
        flag<&Track::frozen>("frozen", false),
        optionalNumber<&Track::oneClipAtATime>("oneClipAtATime", 0, 0, 1),
        optionalNumber<&Track::sandboxGrouping>("sandboxGrouping", 0, 0, 1),
        automation<&Track::volumeAutomation>("volumeAutomation"),
        automation<&Track::panAutomation>("panAutomation"),
        automation<&Track::muteAutomation>("muteAutomation"),
        objectList<&Track::automationClips, automationClipFields>("automationClips"),
        composite<&Track::macros>(
            "macros",
            [](std::string &out, const Field<Track> &, const Track &track) {
                writeFloats(out, track.macros);
            },
            readMacros),
        objectList<&Track::inserts, insertFields>("inserts"),
        composite<&Track::sends>(
            "sends",
            [](std::string &out, const Field<Track> &, const Track &track) {
                writeList(out, track.sends, [](std::string &text, const SendSlot &send) {
                    writeFields(text, sendFields(), send);
                });
            },
            readTrackSends),
        channelEq<&Track::eq>("eq"),
        optionalNumber<&Track::color>("color", defaultTrackColor),
        optionalNumber<&Track::inputPair>("inputPair", 0, 0, highestInputPair),
        optionalNumber<&Track::monitor>("monitor", 0, 0, 2),
    };
    return tableOf(fields);
}

FieldTable<Project> projectFields() {
    static const std::array fields{
        number<&Project::formatVersion>("formatVersion", 1),
        text<&Project::name>("name", "Untitled"),
        // Checked where it is used: a render refuses an unusable rate with a message.
        number<&Project::sampleRate>("sampleRate", 48000),
        optionalNumber<&Project::mediaBitDepth>("mediaBitDepth", 32, 24, 32),
        numberOrDefault<&Project::tempoBpm>("tempoBpm", 120, slowestTempo, fastestTempo),
        number<&Project::countInBars>("countInBars", 1, 0, mostCountInBars),
        flag<&Project::punchEnabled>("punchEnabled", false),
        number<&Project::punchIn>("punchIn", 0),
        number<&Project::punchOut>("punchOut", 0),
        number<&Project::swingAmount>("swingAmount", 0, 0, 1),
        number<&Project::quantizeStrength>("quantizeStrength", 1, 0, 1),
        number<&Project::scaleRoot>("scaleRoot", 0, 0, 11),
        flag<&Project::scaleMinor>("scaleMinor", false),
        flag<&Project::scaleSnapEnabled>("scaleSnapEnabled", false),
        number<&Project::scalaPresetIndex>("scalaPresetIndex", 0),
        text<&Project::scalaName>("scalaName"),
        composite<&Project::scalaCents>(
            "scalaCents",
            [](std::string &out, const Field<Project> &, const Project &project) {
                writeFloats(out, project.scalaCents);
            },
            readScalaCents),
        text<&Project::kbmName>("kbmName"),
        composite<&Project::kbmDegrees>("kbmDegrees", writeKbmDegrees, readKbmDegrees),
        number<&Project::metronomeVolume>("metronomeVolume", 0.8f, 0, 1),
        number<&Project::automationWriteMode>("automationWriteMode", 0, 0, 3),
        number<&Project::grooveTimingAmount>("grooveTimingAmount", 0, 0, 1),
        number<&Project::grooveVelocityAmount>("grooveVelocityAmount", 0, 0, 1),
        number<&Project::activeGrooveIndex>("activeGrooveIndex", -1),
        withReader(objectList<&Project::groovePool, grooveFields>("groovePool"), readGroovePool),
        number<&Project::smartTempoMode>("smartTempoMode", 0, 0, 2),
        flag<&Project::tempoFollowerEnabled>("tempoFollowerEnabled", false),
        number<&Project::tempoFollowerSmoothing>("tempoFollowerSmoothing", 0.35f, 0, 1),
        flag<&Project::tempoFollowerFromInput>("tempoFollowerFromInput", true),
        flag<&Project::lowLatencyMode>("lowLatencyMode", false),
        number<&Project::flashbackBufferSeconds>("flashbackBufferSeconds", 30, 1,
                                                 longestFlashbackSeconds),
        nestedObject<&Project::controlRoom, controlRoomFields>("controlRoom"),
        channelEq<&Project::masterEq>("masterEq"),
        nestedObject<&Project::mastering, masteringFields>("mastering"),
        number<&Project::inputLatencyOffsetSamples>("inputLatencyOffsetSamples", 0),
        number<&Project::outputLatencyOffsetSamples>("outputLatencyOffsetSamples", 0),
        withWriter(nestedObject<&Project::timeSignature, timeSignatureFields>("timeSignature"),
                   writeTimeSignature),
        number<&Project::nextTrackId>("nextTrackId", 1),
        number<&Project::nextClipId>("nextClipId", 1),
        number<&Project::nextSceneId>("nextSceneId", 1),
        number<&Project::nextMarkerId>("nextMarkerId", 1),
        objectList<&Project::markers, markerFields>("markers"),
        objectList<&Project::tempoMarkers, tempoMarkerFields>("tempoMarkers"),
        objectList<&Project::meterMarkers, meterMarkerFields>("meterMarkers"),
        objectList<&Project::chordMarkers, chordMarkerFields>("chordMarkers"),
        withReader(objectList<&Project::expressionMaps, expressionMapFields>("expressionMaps"),
                   readExpressionMaps),
        objectList<&Project::beatMarkers, beatMarkerFields>("beatMarkers"),
        objectList<&Project::mixerSnapshotHistory, historyEntryFields>("mixerSnapshotHistory"),
        objectList<&Project::mixerSnapshots, mixerSnapshotFields>("mixerSnapshots"),
        tagMap<&Project::pluginUserTags>("pluginUserTags"),
        tagMap<&Project::audioMediaTags>("audioMediaTags"),
    };
    return tableOf(fields);
}

} // namespace orvane::project_io
