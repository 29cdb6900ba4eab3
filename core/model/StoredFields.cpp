#include "core/model/StoredFields.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <type_traits>

namespace orvane {

int32_t storedInt32(double number) {
    if (std::isnan(number)) return 0;
    if (number >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (number <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(number);
}

int64_t storedInt64(double number) {
    if (std::isnan(number)) return 0;
    if (number >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    if (number <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(number);
}

uint64_t storedUint64(double number) {
    if (std::isnan(number) || number <= 0.0) return 0;
    if (number >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(number);
}

uint32_t storedUint32(double number) {
    if (std::isnan(number) || number <= 0.0) return 0;
    if (number >= 4294967296.0) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(number);
}

/// Numbers beyond the float range saturate, like the integer fields, instead of becoming
/// infinities that a document could only store as 0.
float storedFloat(double number) {
    if (std::isnan(number)) return 0.0f;
    return static_cast<float>(
        std::clamp(number, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

namespace stored {

namespace {

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

template <typename Value> void assignNumber(Value &target, double number) {
    if constexpr (std::is_same_v<Value, bool>)
        target = number != 0.0;
    else if constexpr (std::is_enum_v<Value> || std::is_same_v<Value, uint8_t>)
        target = static_cast<Value>(static_cast<uint8_t>(storedInt32(number)));
    else if constexpr (std::is_same_v<Value, int32_t>)
        target = storedInt32(number);
    else if constexpr (std::is_same_v<Value, int64_t>)
        target = storedInt64(number);
    else if constexpr (std::is_same_v<Value, uint32_t>)
        target = storedUint32(number);
    else if constexpr (std::is_same_v<Value, uint64_t>)
        target = storedUint64(number);
    else if constexpr (std::is_same_v<Value, float>)
        target = storedFloat(number);
    else
        target = number;
}

template <typename Value> auto integerOf(const Value &value) {
    if constexpr (std::is_enum_v<Value>)
        return static_cast<std::underlying_type_t<Value>>(value);
    else
        return value;
}

template <auto Member> struct Scalar {
    using Owner = OwnerOf<Member>;
    using Value = typename MemberOf<decltype(Member)>::Value;
    static constexpr bool isText = std::is_same_v<Value, std::string>;

    static bool same(const Owner &first, const Owner &second) {
        return first.*Member == second.*Member;
    }
    static double get(const Owner &owner) {
        if constexpr (isText)
            return 0.0;
        else
            return static_cast<double>(integerOf(owner.*Member));
    }
    static void set(Owner &owner, double number) {
        if constexpr (!isText) assignNumber(owner.*Member, number);
    }
    static int64_t getSigned(const Owner &owner) {
        if constexpr (isText)
            return 0;
        else
            return static_cast<int64_t>(integerOf(owner.*Member));
    }
    static uint64_t getUnsigned(const Owner &owner) {
        if constexpr (isText)
            return 0;
        else
            return static_cast<uint64_t>(integerOf(owner.*Member));
    }
    static std::string *text(Owner &owner) {
        if constexpr (isText)
            return &(owner.*Member);
        else
            return nullptr;
    }
    static const std::string &textOf(const Owner &owner) {
        static const std::string none;
        if constexpr (isText)
            return owner.*Member;
        else
            return none;
    }
};

/// How a field the renderers read reaches the graph snapshot: `Rendered` is the member of
/// the snapshot's settings that carries it, or null for a field only the document holds.
template <auto Member, auto Rendered> constexpr auto rendererCopy() {
    using Owner = OwnerOf<Member>;
    using Copy = void (*)(const Owner &, RendererSettings &);
    if constexpr (std::is_null_pointer_v<decltype(Rendered)>) {
        return Copy{nullptr};
    } else {
        static_assert(std::is_same_v<OwnerOf<Rendered>, RendererSettings>);
        static_assert(std::is_same_v<typename MemberOf<decltype(Member)>::Value,
                                     typename MemberOf<decltype(Rendered)>::Value>,
                      "the snapshot carries a setting as the owner holds it");
        return Copy{[](const Owner &owner, RendererSettings &settings) {
            settings.*Rendered = owner.*Member;
        }};
    }
}

template <auto Member, auto Rendered = nullptr>
StoredField<OwnerOf<Member>> scalarField(const char *key, double fallback, double lowest,
                                         double highest, const char *fallbackText = "") {
    using S = Scalar<Member>;
    StoredField<OwnerOf<Member>> field;
    field.key = key;
    field.type = typeOf<typename S::Value>();
    field.fallback = fallback;
    field.fallbackText = fallbackText;
    field.lowest = lowest;
    field.highest = highest;
    field.same = S::same;
    field.sameValue = S::same;
    field.get = S::get;
    field.set = S::set;
    field.getSigned = S::getSigned;
    field.getUnsigned = S::getUnsigned;
    field.text = S::text;
    field.textOf = S::textOf;
    field.copyToRenderers = rendererCopy<Member, Rendered>();
    return field;
}

// Each kind of row takes, after the owner's member, the member of the graph snapshot's
// settings that carries the field when the renderers read it.

/// A number: integers saturate at their width, then every number is held in its range.
template <auto Member, auto Rendered = nullptr>
auto number(const char *key, double fallback, double lowest = -unbounded,
            double highest = unbounded) {
    return scalarField<Member, Rendered>(key, fallback, lowest, highest);
}

/// A number whose nonsensical values mean the default (see `StoredField::defaultOutsideRange`).
template <auto Member, auto Rendered = nullptr>
auto numberOrDefault(const char *key, double fallback, double lowest, double highest) {
    auto field = scalarField<Member, Rendered>(key, fallback, lowest, highest);
    field.defaultOutsideRange = true;
    return field;
}

template <auto Member, auto Rendered = nullptr> auto flag(const char *key, bool fallback) {
    return scalarField<Member, Rendered>(key, fallback ? 1.0 : 0.0, 0.0, 1.0);
}

template <auto Member> auto text(const char *key, const char *fallback = "") {
    return scalarField<Member>(key, 0.0, -unbounded, unbounded, fallback);
}

/// A number written only when it is not its default (see `StoredField::omitted`).
template <auto Member>
auto optionalNumber(const char *key, double fallback, double lowest = -unbounded,
                    double highest = unbounded) {
    auto field = scalarField<Member>(key, fallback, lowest, highest);
    field.omitted = [](const OwnerOf<Member> &owner) {
        static const OwnerOf<Member> fresh{};
        return owner.*Member == fresh.*Member;
    };
    return field;
}

/// A text written only when it is not empty.
template <auto Member> auto optionalText(const char *key) {
    auto field = text<Member>(key);
    field.omitted = [](const OwnerOf<Member> &owner) { return (owner.*Member).empty(); };
    return field;
}

/// An object or list compared as a whole.
template <auto Member, auto Rendered = nullptr> auto composite(const char *key) {
    StoredField<OwnerOf<Member>> field;
    field.key = key;
    field.same = Scalar<Member>::same;
    field.sameValue = Scalar<Member>::same;
    field.copyToRenderers = rendererCopy<Member, Rendered>();
    return field;
}

/// Lists and objects described by a table compare by their stored fields only.
template <auto Member, auto Table> struct SameStored {
    using Owner = OwnerOf<Member>;
    static bool sameList(const Owner &first, const Owner &second) {
        const auto &one = first.*Member;
        const auto &other = second.*Member;
        if (one.size() != other.size()) return false;
        for (std::size_t index = 0; index < one.size(); ++index)
            if (!sameStoredFields(Table(), one[index], other[index])) return false;
        return true;
    }
    static bool sameObject(const Owner &first, const Owner &second) {
        return sameStoredFields(Table(), first.*Member, second.*Member);
    }
};

/// A list of objects described by `Table`.
template <auto Member, auto Table, auto Rendered = nullptr> auto objectList(const char *key) {
    auto field = composite<Member, Rendered>(key);
    field.same = SameStored<Member, Table>::sameList;
    return field;
}

/// One object described by `Table`.
/// A list added after the format was first written: left out while it is empty.
template <auto Member, auto Table> auto optionalList(const char *key) {
    auto field = objectList<Member, Table>(key);
    field.omitted = [](const OwnerOf<Member> &owner) { return (owner.*Member).empty(); };
    return field;
}

template <auto Member, auto Table, auto Rendered = nullptr> auto nestedObject(const char *key) {
    auto field = composite<Member, Rendered>(key);
    field.same = SameStored<Member, Table>::sameObject;
    return field;
}

template <auto Member> auto automation(const char *key) {
    return objectList<Member, automationPointFields>(key);
}

template <auto Member, auto Rendered = nullptr> auto channelEq(const char *key) {
    return composite<Member, Rendered>(key);
}

template <auto Member> auto tagMap(const char *key) { return composite<Member>(key); }

template <typename Owner, std::size_t Size>
StoredFieldTable<Owner> tableOf(const std::array<StoredField<Owner>, Size> &fields) {
    return {fields.data(), fields.size()};
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

} // namespace

StoredFieldTable<AutomationPoint> automationPointFields() {
    static const std::array fields{
        number<&AutomationPoint::t>("t", 0),
        number<&AutomationPoint::v>("v", 0, -largestAutomationValue, largestAutomationValue),
    };
    return tableOf(fields);
}

StoredFieldTable<ControlRoomSettings> controlRoomFields() {
    static const std::array fields{
        number<&ControlRoomSettings::masterGain>("masterGain", 1, 0, largestGain),
        number<&ControlRoomSettings::cueGain>("cueGain", 1, 0, largestGain),
        flag<&ControlRoomSettings::dim>("dim", false),
        flag<&ControlRoomSettings::mono>("mono", false),
        flag<&ControlRoomSettings::talkback>("talkback", false),
    };
    return tableOf(fields);
}

StoredFieldTable<EqBandSettings> eqBandFields() {
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

StoredFieldTable<ChannelEq8> channelEqFields() {
    static const std::array fields{
        flag<&ChannelEq8::enabled>("enabled", true),
        flag<&ChannelEq8::bypass>("bypass", false),
        number<&ChannelEq8::outDb>("outDb", 0, -largestEqGainDb, largestEqGainDb),
        composite<&ChannelEq8::bands>("bands"),
    };
    return tableOf(fields);
}

StoredFieldTable<MasteringUtility> masteringFields() {
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

StoredFieldTable<TimeSignature> timeSignatureFields() {
    static const std::array fields{
        numberOrDefault<&TimeSignature::numerator>("numerator", 4, 1, largestMeterPart),
        numberOrDefault<&TimeSignature::denominator>("denominator", 4, 1, largestMeterPart),
    };
    return tableOf(fields);
}

StoredFieldTable<GrooveTemplate> grooveFields() {
    static const std::array fields{
        text<&GrooveTemplate::name>("name"),
        number<&GrooveTemplate::timing>("timing", 0, 0, 1),
        number<&GrooveTemplate::velocity>("velocity", 0, 0, 1),
        composite<&GrooveTemplate::timingPattern>("timingPattern"),
        composite<&GrooveTemplate::velocityPattern>("velocityPattern"),
    };
    return tableOf(fields);
}

StoredFieldTable<Marker> markerFields() {
    static const std::array fields{
        number<&Marker::id>("id", 0),
        text<&Marker::name>("name"),
        number<&Marker::position>("position", 0),
    };
    return tableOf(fields);
}

StoredFieldTable<TempoMarker> tempoMarkerFields() {
    static const std::array fields{
        number<&TempoMarker::position>("position", 0),
        numberOrDefault<&TempoMarker::bpm>("bpm", 120, slowestTempo, fastestTempo),
    };
    return tableOf(fields);
}

StoredFieldTable<MeterMarker> meterMarkerFields() {
    static const std::array fields{
        number<&MeterMarker::position>("position", 0),
        numberOrDefault<&MeterMarker::num>("num", 4, 1, largestMeterPart),
        numberOrDefault<&MeterMarker::den>("den", 4, 1, largestMeterPart),
    };
    return tableOf(fields);
}

StoredFieldTable<ChordMarker> chordMarkerFields() {
    static const std::array fields{
        number<&ChordMarker::position>("position", 0),
        text<&ChordMarker::chord>("chord", "C"),
    };
    return tableOf(fields);
}

StoredFieldTable<ExpressionArticulation> articulationFields() {
    static const std::array fields{
        text<&ExpressionArticulation::name>("name"),
        number<&ExpressionArticulation::keyswitch>("keyswitch", 36, lowestMidi, highestMidi),
        number<&ExpressionArticulation::velScale>("velScale", 1, 0, 4),
        number<&ExpressionArticulation::cc>("cc", 11, lowestMidi, highestMidi),
        number<&ExpressionArticulation::ccVal>("ccVal", 127, lowestMidi, highestMidi),
    };
    return tableOf(fields);
}

StoredFieldTable<ExpressionMap> expressionMapFields() {
    static const std::array fields{
        text<&ExpressionMap::name>("name"),
        objectList<&ExpressionMap::articulations, articulationFields>("articulations"),
    };
    return tableOf(fields);
}

StoredFieldTable<BeatMarker> beatMarkerFields() {
    static const std::array fields{
        number<&BeatMarker::position>("position", 0),
        flag<&BeatMarker::downbeat>("downbeat", false),
    };
    return tableOf(fields);
}

// A mapping's values are read as they stand, unclamped: the reader refuses a mapping that
// makes no sense as a whole rather than turning it into one that moves something else.
StoredFieldTable<MidiMapping> midiMappingFields() {
    static const std::array fields{
        number<&MidiMapping::channel>("channel", 0), number<&MidiMapping::kind>("kind", 0, 0, 255),
        number<&MidiMapping::number>("number", 0),   number<&MidiMapping::trackId>("trackId", 0),
        number<&MidiMapping::lane>("lane", 0),       number<&MidiMapping::paramId>("paramId", 0),
        number<&MidiMapping::minimum>("min", 0),     number<&MidiMapping::maximum>("max", 1),
    };
    return tableOf(fields);
}

namespace {

std::array<StoredField<TrackMixerSnapshot>, 5> snapshotTrackTable(const char *trackKey) {
    return {
        number<&TrackMixerSnapshot::trackId>(trackKey, 0),
        number<&TrackMixerSnapshot::gain>("gain", 1, 0, largestGain),
        number<&TrackMixerSnapshot::pan>("pan", 0, -1, 1),
        flag<&TrackMixerSnapshot::mute>("mute", false),
        flag<&TrackMixerSnapshot::solo>("solo", false),
    };
}

} // namespace

StoredFieldTable<TrackMixerSnapshot> historyTrackFields() {
    static const auto fields = snapshotTrackTable("track");
    return tableOf(fields);
}

StoredFieldTable<TrackMixerSnapshot> snapshotTrackFields() {
    static const auto fields = snapshotTrackTable("trackId");
    return tableOf(fields);
}

StoredFieldTable<MixerSnapshot> historySnapshotFields() {
    static const std::array fields{
        text<&MixerSnapshot::name>("name"),
        nestedObject<&MixerSnapshot::controlRoom, controlRoomFields>("controlRoom"),
        objectList<&MixerSnapshot::tracks, historyTrackFields>("tracks"),
    };
    return tableOf(fields);
}

StoredFieldTable<MixerSnapshot> mixerSnapshotFields() {
    static const std::array fields{
        text<&MixerSnapshot::name>("name"),
        nestedObject<&MixerSnapshot::controlRoom, controlRoomFields>("controlRoom"),
        objectList<&MixerSnapshot::tracks, snapshotTrackFields>("tracks"),
    };
    return tableOf(fields);
}

StoredFieldTable<MixerSnapshotEvent> historyEntryFields() {
    static const std::array fields{
        text<&MixerSnapshotEvent::label>("label"),
        nestedObject<&MixerSnapshotEvent::snapshot, historySnapshotFields>("snapshot"),
    };
    return tableOf(fields);
}

StoredFieldTable<Scene> sceneFields() {
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
        composite<&Scene::clips>("clips"),
    };
    return tableOf(fields);
}

StoredFieldTable<SessionGrid> sessionFields() {
    static const std::array fields{
        number<&SessionGrid::rows, &RendererSettings::rows>("rows", 8, 0, mostSessionSlots),
        number<&SessionGrid::cols, &RendererSettings::cols>("cols", 8, 0, mostSessionSlots),
        // Files written before it was stored read as one bar, as they always played.
        number<&SessionGrid::launchQuantize, &RendererSettings::launchQuantize>("launchQuantize", 2,
                                                                                0, 3),
        objectList<&SessionGrid::scenes, sceneFields, &RendererSettings::scenes>("scenes"),
    };
    return tableOf(fields);
}

StoredFieldTable<AutomationClip> automationClipFields() {
    static const std::array fields{
        number<&AutomationClip::id>("id", 0),          number<&AutomationClip::start>("start", 0),
        number<&AutomationClip::length>("length", 0),  number<&AutomationClip::lane>("lane", 0),
        automation<&AutomationClip::points>("points"),
    };
    return tableOf(fields);
}

StoredFieldTable<InsertSlot> insertFields() {
    static const std::array fields{
        text<&InsertSlot::pluginId>("pluginId"),
        text<&InsertSlot::displayName>("displayName"),
        text<&InsertSlot::bundlePath>("bundlePath"),
        composite<&InsertSlot::state>("state"),
        flag<&InsertSlot::bypassed>("bypassed", false),
        flag<&InsertSlot::isStock>("isStock", false),
        number<&InsertSlot::automParamId>("automParamId", 0),
        automation<&InsertSlot::paramAutomation>("paramAutomation"),
        optionalNumber<&InsertSlot::inProcess>("inProcess", 0, 0, 1),
        optionalNumber<&InsertSlot::editorOpen>("editorOpen", 0, 0, 1),
    };
    return tableOf(fields);
}

StoredFieldTable<SendSlot> sendFields() {
    static const std::array fields{
        number<&SendSlot::returnId>("return", 0),
        number<&SendSlot::level>("level", 0, 0, largestGain),
        flag<&SendSlot::pre>("pre", false),
    };
    return tableOf(fields);
}

StoredFieldTable<WarpMarker> warpMarkerFields() {
    static const std::array fields{
        number<&WarpMarker::dest>("dest", 0),
        number<&WarpMarker::source>("source", 0),
    };
    return tableOf(fields);
}

StoredFieldTable<MidiNote> noteFields() {
    static const std::array fields{
        number<&MidiNote::pitch>("pitch", 60, lowestMidi, highestMidi),
        number<&MidiNote::velocity>("velocity", 0.8f, 0, 1),
        number<&MidiNote::start>("start", 0),
        number<&MidiNote::length>("length", 0),
    };
    return tableOf(fields);
}

StoredFieldTable<Clip> clipFields() {
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

StoredFieldTable<Track> trackFields() {
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
        optionalNumber<&Track::pluginsInProcess>("pluginsInProcess", 0, 0, 1),
        automation<&Track::volumeAutomation>("volumeAutomation"),
        automation<&Track::panAutomation>("panAutomation"),
        automation<&Track::muteAutomation>("muteAutomation"),
        objectList<&Track::automationClips, automationClipFields>("automationClips"),
        composite<&Track::macros>("macros"),
        objectList<&Track::inserts, insertFields>("inserts"),
        composite<&Track::sends>("sends"),
        channelEq<&Track::eq>("eq"),
        optionalNumber<&Track::color>("color", defaultTrackColor),
        optionalNumber<&Track::inputPair>("inputPair", 0, 0, highestInputPair),
        optionalNumber<&Track::monitor>("monitor", 0, 0, 2),
        optionalText<&Track::instrument>("instrument"),
        optionalText<&Track::instrumentState>("instrumentState"),
    };
    return tableOf(fields);
}

StoredFieldTable<Project> projectFields() {
    static const std::array fields{
        number<&Project::formatVersion>("formatVersion", 1),
        text<&Project::name>("name", "Untitled"),
        // Checked where it is used: a render refuses an unusable rate with a message.
        number<&Project::sampleRate>("sampleRate", 48000),
        optionalNumber<&Project::mediaBitDepth>("mediaBitDepth", 32, 24, 32),
        numberOrDefault<&Project::tempoBpm, &RendererSettings::tempoBpm>(
            "tempoBpm", 120, slowestTempo, fastestTempo),
        number<&Project::countInBars>("countInBars", 1, 0, mostCountInBars),
        flag<&Project::punchEnabled>("punchEnabled", false),
        optionalNumber<&Project::pluginsInProcess>("pluginsInProcess", 0, 0, 1),
        optionalNumber<&Project::cycleStart>("cycleStart", 0, 0),
        optionalNumber<&Project::cycleEnd>("cycleEnd", 0, 0),
        optionalNumber<&Project::cycleEnabled>("cycleEnabled", 0, 0, 1),
        number<&Project::punchIn>("punchIn", 0),
        number<&Project::punchOut>("punchOut", 0),
        number<&Project::swingAmount>("swingAmount", 0, 0, 1),
        number<&Project::quantizeStrength>("quantizeStrength", 1, 0, 1),
        number<&Project::scaleRoot, &RendererSettings::scaleRoot>("scaleRoot", 0, 0, 11),
        flag<&Project::scaleMinor, &RendererSettings::scaleMinor>("scaleMinor", false),
        flag<&Project::scaleSnapEnabled>("scaleSnapEnabled", false),
        number<&Project::scalaPresetIndex>("scalaPresetIndex", 0),
        text<&Project::scalaName>("scalaName"),
        composite<&Project::scalaCents, &RendererSettings::scalaCents>("scalaCents"),
        text<&Project::kbmName>("kbmName"),
        composite<&Project::kbmDegrees, &RendererSettings::kbmDegrees>("kbmDegrees"),
        number<&Project::metronomeVolume, &RendererSettings::metronomeVolume>("metronomeVolume",
                                                                              0.8f, 0, 1),
        number<&Project::automationWriteMode>("automationWriteMode", 0, 0, 3),
        number<&Project::grooveTimingAmount>("grooveTimingAmount", 0, 0, 1),
        number<&Project::grooveVelocityAmount>("grooveVelocityAmount", 0, 0, 1),
        number<&Project::activeGrooveIndex>("activeGrooveIndex", -1),
        objectList<&Project::groovePool, grooveFields>("groovePool"),
        number<&Project::smartTempoMode>("smartTempoMode", 0, 0, 2),
        flag<&Project::tempoFollowerEnabled>("tempoFollowerEnabled", false),
        number<&Project::tempoFollowerSmoothing>("tempoFollowerSmoothing", 0.35f, 0, 1),
        flag<&Project::tempoFollowerFromInput>("tempoFollowerFromInput", true),
        flag<&Project::lowLatencyMode>("lowLatencyMode", false),
        number<&Project::flashbackBufferSeconds>("flashbackBufferSeconds", 30, 1,
                                                 longestFlashbackSeconds),
        nestedObject<&Project::controlRoom, controlRoomFields, &RendererSettings::controlRoom>(
            "controlRoom"),
        channelEq<&Project::masterEq, &RendererSettings::masterEq>("masterEq"),
        nestedObject<&Project::mastering, masteringFields, &RendererSettings::mastering>(
            "mastering"),
        number<&Project::inputLatencyOffsetSamples>("inputLatencyOffsetSamples", 0),
        number<&Project::outputLatencyOffsetSamples>("outputLatencyOffsetSamples", 0),
        nestedObject<&Project::timeSignature, timeSignatureFields,
                     &RendererSettings::timeSignature>("timeSignature"),
        number<&Project::nextTrackId>("nextTrackId", 1),
        number<&Project::nextClipId>("nextClipId", 1),
        number<&Project::nextSceneId>("nextSceneId", 1),
        number<&Project::nextMarkerId>("nextMarkerId", 1),
        objectList<&Project::markers, markerFields>("markers"),
        objectList<&Project::tempoMarkers, tempoMarkerFields, &RendererSettings::tempoMarkers>(
            "tempoMarkers"),
        objectList<&Project::meterMarkers, meterMarkerFields, &RendererSettings::meterMarkers>(
            "meterMarkers"),
        objectList<&Project::chordMarkers, chordMarkerFields>("chordMarkers"),
        objectList<&Project::expressionMaps, expressionMapFields,
                   &RendererSettings::expressionMaps>("expressionMaps"),
        objectList<&Project::beatMarkers, beatMarkerFields>("beatMarkers"),
        objectList<&Project::mixerSnapshotHistory, historyEntryFields>("mixerSnapshotHistory"),
        objectList<&Project::mixerSnapshots, mixerSnapshotFields>("mixerSnapshots"),
        tagMap<&Project::pluginUserTags>("pluginUserTags"),
        tagMap<&Project::audioMediaTags>("audioMediaTags"),
        optionalList<&Project::midiMappings, midiMappingFields>("midiMappings"),
    };
    return tableOf(fields);
}

} // namespace stored

} // namespace orvane
