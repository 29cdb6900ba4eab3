#include "core/plugins/lv2/Lv2Plugin.h"

#include "core/plugins/lv2/Lv2Presets.h"
#include "core/plugins/lv2/Lv2Worker.h"
#include "core/plugins/lv2/Lv2World.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/port-groups/port-groups.h>
#include <lv2/port-props/port-props.h>
#include <lv2/state/state.h>
#include <lv2/units/units.h>
#include <lv2/urid/urid.h>

namespace orvane::lv2 {

float plainFromNormalized(const Lv2Parameter &parameter, float normalized) {
    const float n = std::clamp(normalized, 0.0f, 1.0f);
    const float low = parameter.minimum, high = parameter.maximum;
    if (parameter.toggled) return n >= 0.5f ? high : low;
    if (parameter.enumeration && !parameter.scalePoints.empty()) {
        const auto last = static_cast<float>(parameter.scalePoints.size() - 1);
        return parameter.scalePoints[static_cast<size_t>(std::lround(n * last))].first;
    }
    float plain = parameter.logarithmic && low > 0.0f && high > low ? low * std::pow(high / low, n)
                                                                    : low + n * (high - low);
    if (parameter.integer || parameter.enumeration) plain = std::round(plain);
    return std::clamp(plain, std::min(low, high), std::max(low, high));
}

float normalizedFromPlain(const Lv2Parameter &parameter, float plain) {
    const float low = parameter.minimum, high = parameter.maximum;
    if (parameter.enumeration && parameter.scalePoints.size() > 1) {
        size_t nearest = 0;
        for (size_t index = 1; index < parameter.scalePoints.size(); ++index)
            if (std::fabs(parameter.scalePoints[index].first - plain) <
                std::fabs(parameter.scalePoints[nearest].first - plain))
                nearest = index;
        return static_cast<float>(nearest) / static_cast<float>(parameter.scalePoints.size() - 1);
    }
    if (high == low) return 0.0f;
    float normalized = parameter.logarithmic && low > 0.0f && high > low && plain > 0.0f
                           ? std::log(plain / low) / std::log(high / low)
                           : (plain - low) / (high - low);
    return std::clamp(normalized, 0.0f, 1.0f);
}

namespace {

enum class PortKind { audioIn, audioOut, controlIn, controlOut, atomIn, atomOut, cvIn, other };

struct PortInfo {
    PortKind kind = PortKind::other;
    std::string symbol;
    bool reportsLatency = false;
};

constexpr uint32_t atomBufferBytes = 16 * 1024;
/// An atom between the plug-in and its interface travels behind its port's index.
constexpr size_t atomRecordHead = sizeof(uint32_t);

/// Features this host gives every instance; a plug-in that requires another is refused.
const std::set<std::string> &supportedFeatures() {
    static const std::set<std::string> features{LV2_URID__map,
                                                LV2_URID__unmap,
                                                LV2_OPTIONS__options,
                                                LV2_BUF_SIZE__boundedBlockLength,
                                                LV2_WORKER__schedule,
                                                LV2_LOG__log,
                                                LV2_STATE__loadDefaultState,
                                                LV2_STATE__threadSafeRestore,
                                                "http://lv2plug.in/ns/lv2core#isLive",
                                                "http://lv2plug.in/ns/lv2core#inPlaceBroken"};
    return features;
}

// Messages a plug-in logs go nowhere: they may come from the audio thread, where writing them
// would block.
int discardLogPrintf(LV2_Log_Handle, LV2_URID, const char *, ...) { return 0; }
int discardLogVprintf(LV2_Log_Handle, LV2_URID, const char *, va_list) { return 0; }

struct NodeSet {
    LilvWorld *world;
    LilvNode *audio, *control, *atom, *cv, *input, *output, *midiEvent, *toggled, *integer,
        *enumeration, *logarithmic, *reportsLatency, *latencyDesignation, *unit, *group, *name,
        *label;
    explicit NodeSet(LilvWorld *w)
        : world(w), audio(uri(LV2_CORE__AudioPort)), control(uri(LV2_CORE__ControlPort)),
          atom(uri(LV2_ATOM__AtomPort)), cv(uri(LV2_CORE__CVPort)), input(uri(LV2_CORE__InputPort)),
          output(uri(LV2_CORE__OutputPort)), midiEvent(uri(LV2_MIDI__MidiEvent)),
          toggled(uri(LV2_CORE__toggled)), integer(uri(LV2_CORE__integer)),
          enumeration(uri(LV2_CORE__enumeration)), logarithmic(uri(LV2_PORT_PROPS__logarithmic)),
          reportsLatency(uri(LV2_CORE__reportsLatency)), latencyDesignation(uri(LV2_CORE__latency)),
          unit(uri(LV2_UNITS__unit)), group(uri(LV2_PORT_GROUPS__group)), name(uri(LV2_CORE__name)),
          label(uri(LILV_NS_RDFS "label")) {}
    ~NodeSet() {
        for (LilvNode *node :
             {audio, control, atom, cv, input, output, midiEvent, toggled, integer, enumeration,
              logarithmic, reportsLatency, latencyDesignation, unit, group, name, label})
            lilv_node_free(node);
    }
    NodeSet(const NodeSet &) = delete;
    NodeSet &operator=(const NodeSet &) = delete;
    LilvNode *uri(const char *text) { return lilv_new_uri(world, text); }
};

} // namespace

/// One instance with what it is connected to and the features it was given.
struct Lv2InstanceSlot {
    LilvInstance *instance = nullptr;
    std::unique_ptr<Lv2Worker> worker;
    std::vector<const LV2_Feature *> features;
    /// On the heap: the slot moves into the list of instances, the feature must not.
    std::unique_ptr<LV2_Feature> workerFeature =
        std::make_unique<LV2_Feature>(LV2_Feature{LV2_WORKER__schedule, nullptr});
};

struct Lv2PluginState {
    const LilvPlugin *plugin = nullptr;
    /// The world `plugin` belongs to.
    LilvWorld *world = nullptr;
    std::vector<PortInfo> ports;
    std::vector<uint32_t> audioInputs, audioOutputs;
    bool hasWorker = false;

    // Parameter values as set by the main thread (or automation), one per port.
    std::unique_ptr<std::atomic<float>[]> targets;
    // What the ports are connected to; only the audio thread writes them while prepared.
    std::vector<float> controlBuffers;
    std::vector<std::vector<float>> audioBuffers;
    std::vector<std::vector<uint64_t>> atomBuffers;
    std::vector<float> silence, discard;
    std::vector<float> inputCopy[2], outputCopy[2];

    std::vector<Lv2InstanceSlot> instances;
    std::mutex processing;
    double sampleRate = 0.0;
    int maxBlock = 0;
    std::atomic<int32_t> latency{0};
    std::string stateFolder;
    std::vector<uint8_t> pendingState;
    bool statePending = false;

    // Host features; their addresses are handed to the plug-in.
    LV2_URID_Map mapFeatureData{};
    LV2_URID_Unmap unmapFeatureData{};
    LV2_Log_Log logData{};
    int32_t minBlockLength = 0, maxBlockLength = 0, sequenceSize = atomBufferBytes;
    float sampleRateOption = 0.0f;
    std::vector<LV2_Options_Option> options;
    LV2_Feature mapFeature{LV2_URID__map, nullptr}, unmapFeature{LV2_URID__unmap, nullptr},
        optionsFeature{LV2_OPTIONS__options, nullptr},
        boundedFeature{LV2_BUF_SIZE__boundedBlockLength, nullptr},
        logFeature{LV2_LOG__log, nullptr};

    LV2_Atom_Forge forge{};
    uint32_t midiEventUrid = 0, chunkUrid = 0, sequenceUrid = 0, floatUrid = 0, doubleUrid = 0,
             intUrid = 0;
    // `getState` hands the plug-in's state library pointers into this array.
    std::vector<float> stateValues;

    // Atoms between the plug-in and its interface, each as the port's index and the atom;
    // made at `load` for plug-ins with atom ports.
    std::unique_ptr<MessageRing> atomsToPlugin, atomsFromPlugin;
    std::atomic<bool> atomsFromPluginKept{false};
    // The audio thread's: the block's atoms for the inputs, and one atom on its way out.
    std::vector<uint8_t> stagedAtoms, outgoingAtom;
    size_t stagedBytes = 0;
};

namespace {

UridMap &uridMap() { return Lv2World::uridMap(); }

LV2_URID mapUri(LV2_URID_Map_Handle, const char *uri) { return uridMap().map(uri); }
const char *unmapUri(LV2_URID_Unmap_Handle, LV2_URID urid) { return uridMap().unmap(urid); }

} // namespace

Lv2Plugin::Lv2Plugin() : impl(std::make_unique<Lv2PluginState>()) {
    Lv2PluginState &d = *impl;
    d.mapFeatureData.map = &mapUri;
    d.unmapFeatureData.unmap = &unmapUri;
    d.logData.printf = &discardLogPrintf;
    d.logData.vprintf = &discardLogVprintf;
    d.mapFeature.data = &d.mapFeatureData;
    d.unmapFeature.data = &d.unmapFeatureData;
    d.logFeature.data = &d.logData;
    d.midiEventUrid = uridMap().map(LV2_MIDI__MidiEvent);
    d.chunkUrid = uridMap().map(LV2_ATOM__Chunk);
    d.sequenceUrid = uridMap().map(LV2_ATOM__Sequence);
    d.floatUrid = uridMap().map(LV2_ATOM__Float);
    d.doubleUrid = uridMap().map(LV2_ATOM__Double);
    d.intUrid = uridMap().map(LV2_ATOM__Int);
    lv2_atom_forge_init(&d.forge, &d.mapFeatureData);
}

Lv2Plugin::~Lv2Plugin() { unload(); }

namespace {

std::string nodeText(LilvNode *node) {
    std::string text = node ? lilv_node_as_string(node) : "";
    lilv_node_free(node);
    return text;
}

std::string unsupportedRequiredFeature(const LilvPlugin *plugin) {
    LilvNodes *required = lilv_plugin_get_required_features(plugin);
    std::string missing;
    LILV_FOREACH(nodes, iterator, required) {
        const char *uri = lilv_node_as_uri(lilv_nodes_get(required, iterator));
        if (!supportedFeatures().contains(uri) && missing.empty()) missing = uri;
    }
    lilv_nodes_free(required);
    return missing;
}

PortKind portKind(const LilvPlugin *plugin, const LilvPort *port, NodeSet &nodes) {
    const bool input = lilv_port_is_a(plugin, port, nodes.input);
    if (lilv_port_is_a(plugin, port, nodes.audio))
        return input ? PortKind::audioIn : PortKind::audioOut;
    if (lilv_port_is_a(plugin, port, nodes.control))
        return input ? PortKind::controlIn : PortKind::controlOut;
    if (lilv_port_is_a(plugin, port, nodes.atom))
        return input ? PortKind::atomIn : PortKind::atomOut;
    if (lilv_port_is_a(plugin, port, nodes.cv) && input) return PortKind::cvIn;
    return PortKind::other;
}

std::vector<std::pair<float, std::string>> scalePointsOf(const LilvPlugin *plugin,
                                                         const LilvPort *port) {
    std::vector<std::pair<float, std::string>> points;
    LilvScalePoints *scalePoints = lilv_port_get_scale_points(plugin, port);
    LILV_FOREACH(scale_points, iterator, scalePoints) {
        const LilvScalePoint *point = lilv_scale_points_get(scalePoints, iterator);
        points.emplace_back(lilv_node_as_float(lilv_scale_point_get_value(point)),
                            lilv_node_as_string(lilv_scale_point_get_label(point)));
    }
    lilv_scale_points_free(scalePoints);
    std::sort(points.begin(), points.end());
    return points;
}

/// The short symbol of the port's unit among the common ones, else empty: the units'
/// vocabulary need not be installed, so its own symbols cannot be relied on.
std::string unitSymbolOf(const LilvPlugin *plugin, const LilvPort *port, NodeSet &nodes) {
    static const std::pair<const char *, const char *> symbols[] = {
        {LV2_UNITS__db, "dB"},    {LV2_UNITS__hz, "Hz"},
        {LV2_UNITS__khz, "kHz"},  {LV2_UNITS__mhz, "MHz"},
        {LV2_UNITS__ms, "ms"},    {LV2_UNITS__s, "s"},
        {LV2_UNITS__pc, "%"},     {LV2_UNITS__bpm, "BPM"},
        {LV2_UNITS__cent, "ct"},  {LV2_UNITS__semitone12TET, "st"},
        {LV2_UNITS__degree, "°"}, {LV2_UNITS__frame, "frames"},
        {LV2_UNITS__m, "m"},      {LV2_UNITS__cm, "cm"},
        {LV2_UNITS__oct, "oct"},  {LV2_UNITS__beat, "beats"},
        {LV2_UNITS__bar, "bars"}, {LV2_UNITS__midiNote, "note"}};
    LilvNodes *units = lilv_port_get_value(plugin, port, nodes.unit);
    std::string symbol;
    if (units && lilv_nodes_size(units) > 0) {
        const LilvNode *first = lilv_nodes_get(units, lilv_nodes_begin(units));
        if (lilv_node_is_uri(first))
            for (const auto &[uri, text] : symbols)
                if (std::strcmp(lilv_node_as_uri(first), uri) == 0) symbol = text;
    }
    lilv_nodes_free(units);
    return symbol;
}

/// The name of the port group the port belongs to (its name, else its label), or empty when it
/// belongs to none or the group is not named.
std::string groupNameOf(const LilvPlugin *plugin, const LilvPort *port, NodeSet &nodes) {
    LilvNodes *groups = lilv_port_get_value(plugin, port, nodes.group);
    std::string text;
    if (groups && lilv_nodes_size(groups) > 0) {
        const LilvNode *group = lilv_nodes_get(groups, lilv_nodes_begin(groups));
        if (lilv_node_is_uri(group) || lilv_node_is_blank(group)) {
            LilvNode *named = lilv_world_get(nodes.world, group, nodes.name, nullptr);
            if (!named) named = lilv_world_get(nodes.world, group, nodes.label, nullptr);
            if (named && lilv_node_is_string(named)) text = lilv_node_as_string(named);
            lilv_node_free(named);
        }
    }
    lilv_nodes_free(groups);
    return text;
}

Lv2Parameter describeControl(const LilvPlugin *plugin, const LilvPort *port, uint32_t index,
                             float minimum, float maximum, float defaultValue, NodeSet &nodes) {
    Lv2Parameter parameter;
    parameter.portIndex = index;
    parameter.symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
    parameter.name = nodeText(lilv_port_get_name(plugin, port));
    parameter.minimum = std::isnan(minimum) ? 0.0f : minimum;
    parameter.maximum = std::isnan(maximum) ? 1.0f : maximum;
    parameter.defaultValue =
        std::isnan(defaultValue)
            ? parameter.minimum
            : std::clamp(defaultValue, std::min(parameter.minimum, parameter.maximum),
                         std::max(parameter.minimum, parameter.maximum));
    parameter.toggled = lilv_port_has_property(plugin, port, nodes.toggled);
    parameter.integer = lilv_port_has_property(plugin, port, nodes.integer);
    parameter.enumeration = lilv_port_has_property(plugin, port, nodes.enumeration);
    parameter.logarithmic = lilv_port_has_property(plugin, port, nodes.logarithmic);
    parameter.scalePoints = scalePointsOf(plugin, port);
    parameter.unit = unitSymbolOf(plugin, port, nodes);
    parameter.group = groupNameOf(plugin, port, nodes);
    return parameter;
}

} // namespace

namespace {

void makeAtomRings(Lv2PluginState &d) {
    d.atomsToPlugin = std::make_unique<MessageRing>(64 * 1024);
    d.atomsFromPlugin = std::make_unique<MessageRing>(256 * 1024);
    d.stagedAtoms.assign(2 * (atomRecordHead + Lv2Plugin::largestAtomToPlugin), 0);
    d.outgoingAtom.assign(atomRecordHead + atomBufferBytes, 0);
}

} // namespace

bool Lv2Plugin::load(const std::string &uri) {
    unload();
    std::lock_guard worldLock(Lv2World::lock());
    Lv2World &world = Lv2World::instance();
    const LilvPlugin *plugin = world.findAnyPlugin(uri);
    if (!plugin) {
        lastError = "no LV2 plug-in is installed with URI " + uri;
        return false;
    }
    if (const std::string refusal = lv2DataRefusal(plugin); !refusal.empty()) {
        lastError = "the plug-in cannot be used: " + refusal;
        return false;
    }
    const std::string missing = unsupportedRequiredFeature(plugin);
    if (!missing.empty()) {
        lastError = "the plug-in needs a feature the host does not offer: " + missing;
        return false;
    }
    Lv2PluginState &d = *impl;
    NodeSet nodes(world.world());
    const uint32_t portCount = lilv_plugin_get_num_ports(plugin);
    std::vector<float> minimums(portCount), maximums(portCount), defaults(portCount);
    lilv_plugin_get_port_ranges_float(plugin, minimums.data(), maximums.data(), defaults.data());
    d.targets = std::make_unique<std::atomic<float>[]>(portCount);
    for (uint32_t index = 0; index < portCount; ++index) {
        const LilvPort *port = lilv_plugin_get_port_by_index(plugin, index);
        PortInfo info;
        info.kind = portKind(plugin, port, nodes);
        info.symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
        info.reportsLatency = info.kind == PortKind::controlOut &&
                              (lilv_port_has_property(plugin, port, nodes.reportsLatency) ||
                               lilv_port_has_property(plugin, port, nodes.latencyDesignation));
        if (info.kind == PortKind::audioIn) d.audioInputs.push_back(index);
        if (info.kind == PortKind::audioOut) d.audioOutputs.push_back(index);
        if (info.kind == PortKind::controlIn) {
            parameters.push_back(describeControl(plugin, port, index, minimums[index],
                                                 maximums[index], defaults[index], nodes));
            d.targets[index] = parameters.back().defaultValue;
        }
        d.ports.push_back(std::move(info));
    }
    if (std::any_of(d.ports.begin(), d.ports.end(), [](const PortInfo &port) {
            return port.kind == PortKind::atomIn || port.kind == PortKind::atomOut;
        }))
        makeAtomRings(d);
    LilvNode *workerInterface = nodes.uri(LV2_WORKER__interface);
    d.hasWorker = lilv_plugin_has_extension_data(plugin, workerInterface);
    lilv_node_free(workerInterface);
    d.plugin = plugin;
    d.world = world.world();
    description = describeLv2Plugin(plugin);
    return true;
}

bool Lv2Plugin::isLoaded() const { return impl->plugin != nullptr; }
const LilvPlugin *Lv2Plugin::lilvPlugin() const { return impl->plugin; }
bool Lv2Plugin::isPrepared() const { return !impl->instances.empty(); }
bool Lv2Plugin::acceptsMidi() const {
    return std::any_of(impl->ports.begin(), impl->ports.end(),
                       [](const PortInfo &port) { return port.kind == PortKind::atomIn; });
}
int32_t Lv2Plugin::latency() const { return impl->latency.load(); }

namespace {

bool isDualMono(const Lv2PluginState &d) {
    return d.audioInputs.size() == 1 && d.audioOutputs.size() == 1;
}

void buildOptions(Lv2PluginState &d) {
    d.minBlockLength = 0;
    d.maxBlockLength = d.maxBlock;
    d.sampleRateOption = static_cast<float>(d.sampleRate);
    const uint32_t intType = d.intUrid, floatType = d.floatUrid;
    auto option = [](uint32_t key, uint32_t type, const void *value, uint32_t size) {
        return LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, key, size, type, value};
    };
    d.options = {
        option(uridMap().map(LV2_BUF_SIZE__minBlockLength), intType, &d.minBlockLength, 4),
        option(uridMap().map(LV2_BUF_SIZE__maxBlockLength), intType, &d.maxBlockLength, 4),
        option(uridMap().map(LV2_BUF_SIZE__nominalBlockLength), intType, &d.maxBlockLength, 4),
        option(uridMap().map(LV2_BUF_SIZE__sequenceSize), intType, &d.sequenceSize, 4),
        option(uridMap().map(LV2_PARAMETERS__sampleRate), floatType, &d.sampleRateOption, 4),
        LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    d.optionsFeature.data = d.options.data();
}

void allocateBuffers(Lv2PluginState &d) {
    const auto frames = static_cast<size_t>(d.maxBlock);
    d.controlBuffers.assign(d.ports.size(), 0.0f);
    d.atomBuffers.assign(d.ports.size(), {});
    for (size_t index = 0; index < d.ports.size(); ++index)
        if (d.ports[index].kind == PortKind::atomIn || d.ports[index].kind == PortKind::atomOut)
            d.atomBuffers[index].assign(atomBufferBytes / sizeof(uint64_t), 0);
    d.silence.assign(frames, 0.0f);
    d.discard.assign(frames, 0.0f);
    for (int channel = 0; channel < 2; ++channel) {
        d.inputCopy[channel].assign(frames, 0.0f);
        d.outputCopy[channel].assign(frames, 0.0f);
    }
}

void connectPorts(Lv2PluginState &d, LilvInstance *instance, size_t instanceIndex) {
    for (uint32_t index = 0; index < d.ports.size(); ++index) {
        void *buffer = d.discard.data();
        switch (d.ports[index].kind) {
        case PortKind::controlIn:
        case PortKind::controlOut: buffer = &d.controlBuffers[index]; break;
        case PortKind::atomIn:
        case PortKind::atomOut: buffer = d.atomBuffers[index].data(); break;
        case PortKind::cvIn: buffer = d.silence.data(); break;
        case PortKind::audioIn: {
            const auto position =
                static_cast<size_t>(std::find(d.audioInputs.begin(), d.audioInputs.end(), index) -
                                    d.audioInputs.begin());
            const size_t channel = isDualMono(d) ? instanceIndex : position;
            buffer = channel < 2 ? d.inputCopy[channel].data() : d.silence.data();
            break;
        }
        case PortKind::audioOut: {
            const auto position =
                static_cast<size_t>(std::find(d.audioOutputs.begin(), d.audioOutputs.end(), index) -
                                    d.audioOutputs.begin());
            const size_t channel = isDualMono(d) ? instanceIndex : position;
            buffer = channel < 2 ? d.outputCopy[channel].data() : d.discard.data();
            break;
        }
        case PortKind::other: break;
        }
        lilv_instance_connect_port(instance, index, buffer);
    }
}

std::string libraryPathOf(const LilvPlugin *plugin) {
    char *path =
        lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_library_uri(plugin)), nullptr);
    std::string text = path ? path : "";
    lilv_free(path);
    return text;
}

bool createInstance(Lv2PluginState &d, size_t instanceIndex) {
    Lv2InstanceSlot slot;
    slot.worker = std::make_unique<Lv2Worker>();
    slot.workerFeature->data = slot.worker->scheduleFeature();
    slot.features = {&d.mapFeature, &d.unmapFeature, &d.optionsFeature, &d.boundedFeature,
                     &d.logFeature};
    if (d.hasWorker) slot.features.push_back(slot.workerFeature.get());
    slot.features.push_back(nullptr);
    // A library that cannot be loaded fails the instantiation below, which says so.
    (void)keepModuleResident(libraryPathOf(d.plugin));
    slot.instance = lilv_plugin_instantiate(d.plugin, d.sampleRate, slot.features.data());
    if (!slot.instance) return false;
    connectPorts(d, slot.instance, instanceIndex);
    if (d.hasWorker) {
        const auto *interface = static_cast<const LV2_Worker_Interface *>(
            lilv_instance_get_extension_data(slot.instance, LV2_WORKER__interface));
        if (interface && interface->work)
            slot.worker->start(interface, lilv_instance_get_handle(slot.instance));
    }
    d.instances.push_back(std::move(slot));
    return true;
}

void destroyInstances(Lv2PluginState &d) {
    for (Lv2InstanceSlot &slot : d.instances) {
        lilv_instance_deactivate(slot.instance);
        slot.worker->stop();
        lilv_instance_free(slot.instance);
    }
    d.instances.clear();
}

void copyTargetsToPorts(Lv2PluginState &d) {
    for (size_t index = 0; index < d.ports.size(); ++index)
        if (d.ports[index].kind == PortKind::controlIn)
            d.controlBuffers[index] = d.targets[index].load(std::memory_order_relaxed);
}

/// Takes the atoms the interface sent for this block, as many as surely fit, leaving the rest
/// for the next one.
void stageInterfaceAtoms(Lv2PluginState &d) {
    d.stagedBytes = 0;
    if (!d.atomsToPlugin) return;
    const size_t largestRecord = atomRecordHead + Lv2Plugin::largestAtomToPlugin;
    while (d.stagedAtoms.size() - d.stagedBytes >= largestRecord) {
        const uint32_t size =
            d.atomsToPlugin->read(d.stagedAtoms.data() + d.stagedBytes, largestRecord);
        if (size == 0) return;
        d.stagedBytes += size;
    }
}

/// The staged atoms for `port`, at the block's first frame.
void forgeInterfaceAtoms(Lv2PluginState &d, uint32_t port) {
    for (size_t at = 0; at < d.stagedBytes;) {
        uint32_t target;
        LV2_Atom header;
        std::memcpy(&target, d.stagedAtoms.data() + at, sizeof target);
        std::memcpy(&header, d.stagedAtoms.data() + at + atomRecordHead, sizeof header);
        const size_t atomSize = sizeof header + header.size;
        if (target == port) {
            lv2_atom_forge_frame_time(&d.forge, 0);
            lv2_atom_forge_write(&d.forge, d.stagedAtoms.data() + at + atomRecordHead,
                                 static_cast<uint32_t>(atomSize));
        }
        at += atomRecordHead + atomSize;
    }
}

void writeAtomPorts(Lv2PluginState &d, std::span<const Lv2MidiEvent> events, int offset,
                    int frames) {
    for (size_t index = 0; index < d.ports.size(); ++index) {
        auto *bytes = reinterpret_cast<uint8_t *>(d.atomBuffers[index].data());
        if (d.ports[index].kind != PortKind::atomIn) continue;
        lv2_atom_forge_set_buffer(&d.forge, bytes, atomBufferBytes);
        LV2_Atom_Forge_Frame frame;
        lv2_atom_forge_sequence_head(&d.forge, &frame, 0);
        if (offset == 0) forgeInterfaceAtoms(d, static_cast<uint32_t>(index));
        for (const Lv2MidiEvent &event : events) {
            if (event.frame < offset || event.frame >= offset + frames) continue;
            lv2_atom_forge_frame_time(&d.forge, event.frame - offset);
            lv2_atom_forge_atom(&d.forge, event.size, d.midiEventUrid);
            lv2_atom_forge_write(&d.forge, event.bytes, event.size);
        }
        lv2_atom_forge_pop(&d.forge, &frame);
    }
}

// Each run writes its events over the capacity, so it is given again before every run.
void offerAtomOutputs(Lv2PluginState &d) {
    for (size_t index = 0; index < d.ports.size(); ++index)
        if (d.ports[index].kind == PortKind::atomOut) {
            auto *atom = reinterpret_cast<LV2_Atom *>(d.atomBuffers[index].data());
            atom->type = d.chunkUrid;
            atom->size = atomBufferBytes - sizeof(LV2_Atom);
        }
}

/// Hands what the plug-in wrote to its atom outputs to the interface's ring, event by event,
/// trusting none of the sizes it wrote.
void keepAtomOutputs(Lv2PluginState &d) {
    if (!d.atomsFromPlugin || !d.atomsFromPluginKept.load(std::memory_order_relaxed)) return;
    for (size_t index = 0; index < d.ports.size(); ++index) {
        if (d.ports[index].kind != PortKind::atomOut) continue;
        const auto *bytes = reinterpret_cast<const uint8_t *>(d.atomBuffers[index].data());
        LV2_Atom sequence;
        std::memcpy(&sequence, bytes, sizeof sequence);
        if (sequence.type != d.sequenceUrid || sequence.size > atomBufferBytes - sizeof sequence)
            continue;
        const size_t end = sizeof sequence + sequence.size;
        for (size_t at = sizeof(LV2_Atom_Sequence); at + sizeof(LV2_Atom_Event) <= end;) {
            LV2_Atom body;
            std::memcpy(&body, bytes + at + offsetof(LV2_Atom_Event, body), sizeof body);
            const size_t atomSize = sizeof body + body.size;
            if (body.size > end - at - sizeof(LV2_Atom_Event)) break;
            if (atomRecordHead + atomSize <= d.outgoingAtom.size()) {
                const auto port = static_cast<uint32_t>(index);
                std::memcpy(d.outgoingAtom.data(), &port, sizeof port);
                std::memcpy(d.outgoingAtom.data() + atomRecordHead,
                            bytes + at + offsetof(LV2_Atom_Event, body), atomSize);
                (void)d.atomsFromPlugin->write(d.outgoingAtom.data(),
                                               static_cast<uint32_t>(atomRecordHead + atomSize));
            }
            at += lv2_atom_pad_size(static_cast<uint32_t>(sizeof(LV2_Atom_Event) + body.size));
        }
    }
}

void fillInputs(Lv2PluginState &d, const float *left, const float *right, int frames) {
    const auto count = static_cast<size_t>(frames);
    if (d.audioInputs.size() == 1 && !isDualMono(d)) {
        for (size_t i = 0; i < count; ++i)
            d.inputCopy[0][i] = 0.5f * (left[i] + right[i]);
        return;
    }
    std::copy(left, left + count, d.inputCopy[0].begin());
    std::copy(right, right + count, d.inputCopy[1].begin());
}

void takeOutputs(Lv2PluginState &d, float *left, float *right, int frames) {
    if (d.audioOutputs.empty()) return;
    const auto count = static_cast<size_t>(frames);
    const bool monoOut = d.audioOutputs.size() == 1 && !isDualMono(d);
    std::copy_n(d.outputCopy[0].begin(), count, left);
    std::copy_n(d.outputCopy[monoOut ? 0 : 1].begin(), count, right);
}

// What the plug-in reports on its control outputs (meters, gain reduction), for its
// interface: through the same per-port atomics the inputs use, which outputs leave free.
void publishControlOutputs(Lv2PluginState &d) {
    for (size_t index = 0; index < d.ports.size(); ++index)
        if (d.ports[index].kind == PortKind::controlOut)
            d.targets[index].store(d.controlBuffers[index], std::memory_order_relaxed);
}

void readLatency(Lv2PluginState &d) {
    for (size_t index = 0; index < d.ports.size(); ++index)
        if (d.ports[index].reportsLatency) {
            const float value = d.controlBuffers[index];
            d.latency.store(std::isfinite(value) && value > 0.0f
                                ? static_cast<int32_t>(std::lround(value))
                                : 0);
            return;
        }
}

void runChunk(Lv2PluginState &d, float *left, float *right, int frames,
              std::span<const Lv2MidiEvent> events, int offset) {
    for (Lv2InstanceSlot &slot : d.instances)
        slot.worker->deliverResponses();
    copyTargetsToPorts(d);
    writeAtomPorts(d, events, offset, frames);
    fillInputs(d, left, right, frames);
    for (Lv2InstanceSlot &slot : d.instances) {
        offerAtomOutputs(d);
        lilv_instance_run(slot.instance, static_cast<uint32_t>(frames));
        slot.worker->endRun();
        // A second instance (the right channel of a mono plug-in) tells the same.
        if (&slot == &d.instances.front()) keepAtomOutputs(d);
    }
    takeOutputs(d, left, right, frames);
}

bool hasLatencyPort(const Lv2PluginState &d) {
    return std::any_of(d.ports.begin(), d.ports.end(),
                       [](const PortInfo &port) { return port.reportsLatency; });
}

// The latency output is only written by a run, so one block of silence is run and the
// instances are activated again, which clears what that block left in them. Only for plug-ins
// that report latency: some take their first run's control values without smoothing, and
// would otherwise glide from the defaults to the values set before the first real block.
void measureLatency(Lv2PluginState &d) {
    if (!hasLatencyPort(d)) return;
    std::vector<float> left(static_cast<size_t>(d.maxBlock)), right(left.size());
    runChunk(d, left.data(), right.data(), d.maxBlock, {}, 0);
    readLatency(d);
    for (Lv2InstanceSlot &slot : d.instances) {
        lilv_instance_deactivate(slot.instance);
        lilv_instance_activate(slot.instance);
    }
}

} // namespace

namespace {

int controlPortBySymbol(const Lv2PluginState &d, const char *symbol) {
    for (size_t index = 0; index < d.ports.size(); ++index)
        if (d.ports[index].kind == PortKind::controlIn && d.ports[index].symbol == symbol)
            return static_cast<int>(index);
    return -1;
}

const void *portValueForState(const char *symbol, void *user, uint32_t *size, uint32_t *type) {
    auto &d = *static_cast<Lv2PluginState *>(user);
    const int index = controlPortBySymbol(d, symbol);
    if (index < 0) return nullptr;
    *size = sizeof(float);
    *type = d.floatUrid;
    return &d.stateValues[static_cast<size_t>(index)];
}

void restorePortValue(const char *symbol, void *user, const void *value, uint32_t size,
                      uint32_t type) {
    auto &d = *static_cast<Lv2PluginState *>(user);
    const int index = controlPortBySymbol(d, symbol);
    if (index < 0) return;
    float plain = 0.0f;
    if (type == d.floatUrid && size == sizeof(float))
        plain = *static_cast<const float *>(value);
    else if (type == d.doubleUrid && size == sizeof(double))
        plain = static_cast<float>(*static_cast<const double *>(value));
    else if (type == d.intUrid && size == sizeof(int32_t))
        plain = static_cast<float>(*static_cast<const int32_t *>(value));
    else
        return;
    d.targets[static_cast<size_t>(index)].store(plain);
}

// A copy a host keeps is a plug-in's state at one moment: no files linked to where they were.
constexpr uint32_t stateFlags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;

bool saveStateLocked(Lv2PluginState &d, std::vector<uint8_t> &state, std::string &error) {
    if (d.instances.empty()) {
        error = "the plug-in is not prepared";
        return false;
    }
    d.stateValues.assign(d.ports.size(), 0.0f);
    for (size_t index = 0; index < d.ports.size(); ++index)
        if (d.ports[index].kind == PortKind::controlIn)
            d.stateValues[index] = d.targets[index].load();
    // Some plug-ins take the folders as given and fail without them; a state saved before
    // the project has a folder of its own goes to a scratch folder.
    const std::string folderPath =
        d.stateFolder.empty()
            ? (std::filesystem::temp_directory_path() / "halvora-plugin-files").string()
            : d.stateFolder;
    std::error_code ignored;
    std::filesystem::create_directories(folderPath, ignored);
    const char *folder = folderPath.c_str();
    LilvState *saved = lilv_state_new_from_instance(
        d.plugin, d.instances.front().instance, &d.mapFeatureData, folder, folder, folder, folder,
        &portValueForState, &d, stateFlags, d.instances.front().features.data());
    if (!saved) {
        error = "the plug-in's state could not be saved";
        return false;
    }
    char *text = lilv_state_to_string(d.world, &d.mapFeatureData, &d.unmapFeatureData, saved,
                                      "urn:halvora:state", nullptr);
    lilv_state_free(saved);
    if (!text) {
        error = "the plug-in's state could not be written out";
        return false;
    }
    state.assign(text, text + std::strlen(text));
    lilv_free(text);
    return true;
}

LilvState *parseState(Lv2PluginState &d, const std::vector<uint8_t> &state) {
    const std::string text(state.begin(), state.end());
    if (!lv2StateTextReadable(text)) return nullptr;
    return lilv_state_new_from_string(d.world, &d.mapFeatureData, text.c_str());
}

void restoreDefaults(Lv2PluginState &d, const std::vector<Lv2Parameter> &parameters) {
    for (const Lv2Parameter &parameter : parameters)
        d.targets[parameter.portIndex].store(parameter.defaultValue);
}

bool applyStateLocked(Lv2PluginState &d, const std::vector<uint8_t> &state, std::string &error,
                      const std::vector<Lv2Parameter> &parameters) {
    restoreDefaults(d, parameters);
    if (state.empty()) return true;
    LilvState *parsed = parseState(d, state);
    if (!parsed) {
        error = "the saved plug-in state cannot be read";
        return false;
    }
    for (Lv2InstanceSlot &slot : d.instances)
        lilv_state_restore(parsed, slot.instance, &restorePortValue, &d, stateFlags,
                           slot.features.data());
    lilv_state_free(parsed);
    return true;
}

} // namespace

// LV2 lets a plug-in save beside its own run, so a save, autosave or export leaves no block of
// the audio thread dry. The instances change only on this thread, in `prepare` and `unload`.
bool Lv2Plugin::getState(std::vector<uint8_t> &state) {
    std::lock_guard worldLock(Lv2World::lock());
    return saveStateLocked(*impl, state, lastError);
}

bool Lv2Plugin::setState(const std::vector<uint8_t> &state) {
    Lv2PluginState &d = *impl;
    if (!isLoaded()) {
        lastError = "no plug-in is loaded";
        return false;
    }
    std::lock_guard worldLock(Lv2World::lock());
    if (!state.empty()) {
        LilvState *parsed = parseState(d, state);
        if (!parsed) {
            lastError = "the saved plug-in state cannot be read";
            return false;
        }
        lilv_state_free(parsed);
    }
    std::lock_guard lock(d.processing);
    if (d.instances.empty()) {
        d.pendingState = state;
        d.statePending = true;
        return true;
    }
    return applyStateLocked(d, state, lastError, parameters);
}

bool Lv2Plugin::prepare(double sampleRate, int maxBlockSize) {
    Lv2PluginState &d = *impl;
    if (!isLoaded() || sampleRate <= 0.0 || maxBlockSize <= 0) {
        lastError = isLoaded() ? "invalid sample rate or block size" : "no plug-in is loaded";
        return false;
    }
    std::lock_guard worldLock(Lv2World::lock());
    std::vector<uint8_t> kept;
    bool keep = false;
    if (!d.instances.empty()) {
        if (d.sampleRate == sampleRate && d.maxBlock == maxBlockSize) return true;
        keep = getState(kept);
    }
    std::lock_guard lock(d.processing);
    destroyInstances(d);
    d.sampleRate = sampleRate;
    d.maxBlock = maxBlockSize;
    allocateBuffers(d);
    buildOptions(d);
    const size_t count = isDualMono(d) ? 2 : 1;
    for (size_t index = 0; index < count; ++index)
        if (!createInstance(d, index)) {
            destroyInstances(d);
            lastError = "the plug-in could not be instantiated";
            return false;
        }
    for (Lv2InstanceSlot &slot : d.instances)
        lilv_instance_activate(slot.instance);
    measureLatency(d);
    if (keep) {
        d.pendingState = std::move(kept);
        d.statePending = true;
    }
    if (d.statePending) {
        d.statePending = false;
        if (!applyStateLocked(d, d.pendingState, lastError, parameters)) return false;
    }
    return true;
}

bool Lv2Plugin::process(float *left, float *right, int frames,
                        std::span<const Lv2MidiEvent> events) {
    Lv2PluginState &d = *impl;
    std::unique_lock lock(d.processing, std::try_to_lock);
    if (!lock.owns_lock() || d.instances.empty()) return false;
    stageInterfaceAtoms(d);
    for (int offset = 0; offset < frames; offset += d.maxBlock) {
        const int chunk = std::min(d.maxBlock, frames - offset);
        runChunk(d, left + offset, right + offset, chunk, events, offset);
    }
    readLatency(d);
    publishControlOutputs(d);
    return true;
}

void Lv2Plugin::unload() {
    Lv2PluginState &d = *impl;
    {
        std::lock_guard lock(d.processing);
        destroyInstances(d);
    }
    d.plugin = nullptr;
    d.ports.clear();
    d.audioInputs.clear();
    d.audioOutputs.clear();
    d.targets.reset();
    d.atomsFromPluginKept = false;
    d.atomsToPlugin.reset();
    d.atomsFromPlugin.reset();
    d.statePending = false;
    d.pendingState.clear();
    d.latency = 0;
    d.sampleRate = 0.0;
    d.maxBlock = 0;
    parameters.clear();
}

int Lv2Plugin::parameterIndex(const std::string &symbol) const {
    for (size_t index = 0; index < parameters.size(); ++index)
        if (parameters[index].symbol == symbol) return static_cast<int>(index);
    return -1;
}

int Lv2Plugin::parameterIndexForPort(uint32_t portIndex) const {
    for (size_t index = 0; index < parameters.size(); ++index)
        if (parameters[index].portIndex == portIndex) return static_cast<int>(index);
    return -1;
}

bool Lv2Plugin::setParameterValue(size_t index, float plain) {
    if (index >= parameters.size()) return false;
    const Lv2Parameter &parameter = parameters[index];
    impl->targets[parameter.portIndex].store(
        std::clamp(plain, std::min(parameter.minimum, parameter.maximum),
                   std::max(parameter.minimum, parameter.maximum)));
    return true;
}

std::vector<uint32_t> Lv2Plugin::controlOutputPorts() const {
    std::vector<uint32_t> found;
    for (size_t index = 0; index < impl->ports.size(); ++index)
        if (impl->ports[index].kind == PortKind::controlOut)
            found.push_back(static_cast<uint32_t>(index));
    return found;
}

float Lv2Plugin::controlOutputValue(uint32_t portIndex) const {
    if (portIndex >= impl->ports.size() || impl->ports[portIndex].kind != PortKind::controlOut)
        return 0.0f;
    return impl->targets[portIndex].load(std::memory_order_relaxed);
}

float Lv2Plugin::parameterValue(size_t index) const {
    if (index >= parameters.size()) return 0.0f;
    return impl->targets[parameters[index].portIndex].load();
}

bool Lv2Plugin::setParameterNormalizedAt(size_t index, float normalized) {
    if (index >= parameters.size()) return false;
    return setParameterValue(index, plainFromNormalized(parameters[index], normalized));
}

float Lv2Plugin::getParameterNormalizedAt(size_t index) const {
    if (index >= parameters.size()) return 0.0f;
    return normalizedFromPlain(parameters[index], parameterValue(index));
}

bool Lv2Plugin::setParameterNormalizedAtRt(size_t index, float normalized) noexcept {
    if (index >= parameters.size()) return false;
    const Lv2Parameter &parameter = parameters[index];
    impl->targets[parameter.portIndex].store(plainFromNormalized(parameter, normalized),
                                             std::memory_order_relaxed);
    return true;
}

bool Lv2Plugin::setStateFolder(const std::string &folder) {
    impl->stateFolder = folder;
    return true;
}

bool Lv2Plugin::processRt(float *left, float *right, int32_t frames, vst::Deadline,
                          std::span<const vst::PluginMidiEvent> events) noexcept {
    return process(left, right, frames, events);
}

std::vector<vst::PluginParameterInfo> Lv2Plugin::listParameters() {
    std::vector<vst::PluginParameterInfo> list;
    list.reserve(parameters.size());
    for (size_t index = 0; index < parameters.size(); ++index) {
        const Lv2Parameter &parameter = parameters[index];
        vst::PluginParameterInfo info;
        info.id = parameter.portIndex;
        info.name = parameter.name;
        info.normalizedValue = getParameterNormalizedAt(index);
        info.units = parameter.unit;
        info.group = parameter.group;
        if (parameter.toggled)
            info.stepCount = 1;
        else if (parameter.enumeration && !parameter.scalePoints.empty())
            info.stepCount = static_cast<int32_t>(parameter.scalePoints.size()) - 1;
        else if (parameter.integer)
            info.stepCount = static_cast<int32_t>(
                std::max(0.0f, std::abs(parameter.maximum - parameter.minimum)));
        list.push_back(std::move(info));
    }
    return list;
}

std::string scalePointLabel(const Lv2Parameter &parameter, float plain) {
    // As near as a value kept as a normalised float comes back: a value dragged close to a
    // point is still a number.
    const float near = 1e-6f * std::fabs(parameter.maximum - parameter.minimum);
    for (const auto &[value, label] : parameter.scalePoints)
        if (std::fabs(value - plain) <= near) return label;
    return {};
}

std::string Lv2Plugin::parameterValueText(uint32_t portIndex, float normalized) {
    const int index = parameterIndexForPort(portIndex);
    if (index < 0) return {};
    const Lv2Parameter &parameter = parameters[static_cast<size_t>(index)];
    const float plain = plainFromNormalized(parameter, normalized);
    if (std::string label = scalePointLabel(parameter, plain); !label.empty()) return label;
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", static_cast<double>(plain));
    return text;
}

bool Lv2Plugin::setParameterNormalized(uint32_t portIndex, float normalized) {
    const int index = parameterIndexForPort(portIndex);
    return index >= 0 && setParameterNormalizedAt(static_cast<size_t>(index), normalized);
}

float Lv2Plugin::getParameterNormalized(uint32_t portIndex) {
    const int index = parameterIndexForPort(portIndex);
    return index < 0 ? 0.0f : getParameterNormalizedAt(static_cast<size_t>(index));
}

// A search of the control list, which holds tens of ports: no lookup table to keep in step.
bool Lv2Plugin::setParameterNormalizedRt(uint32_t portIndex, float normalized) noexcept {
    const int index = parameterIndexForPort(portIndex);
    return index >= 0 && setParameterNormalizedAtRt(static_cast<size_t>(index), normalized);
}

bool Lv2Plugin::sendAtomToPlugin(uint32_t portIndex, const void *atom, size_t size) {
    Lv2PluginState &d = *impl;
    if (!d.atomsToPlugin || portIndex >= d.ports.size() ||
        d.ports[portIndex].kind != PortKind::atomIn || size < sizeof(LV2_Atom) ||
        size > largestAtomToPlugin)
        return false;
    LV2_Atom header;
    std::memcpy(&header, atom, sizeof header);
    if (header.size != size - sizeof header) return false;
    std::vector<uint8_t> record(atomRecordHead + size);
    std::memcpy(record.data(), &portIndex, sizeof portIndex);
    std::memcpy(record.data() + atomRecordHead, atom, size);
    return d.atomsToPlugin->write(record.data(), static_cast<uint32_t>(record.size()));
}

void Lv2Plugin::keepAtomsFromPlugin(bool keep) {
    Lv2PluginState &d = *impl;
    d.atomsFromPluginKept = keep && d.atomsFromPlugin;
    if (!keep) (void)takeAtomsFromPlugin([](uint32_t, const uint8_t *, size_t) {});
}

size_t
Lv2Plugin::takeAtomsFromPlugin(const std::function<void(uint32_t, const uint8_t *, size_t)> &take) {
    Lv2PluginState &d = *impl;
    if (!d.atomsFromPlugin) return 0;
    std::vector<uint8_t> record(atomRecordHead + atomBufferBytes);
    size_t taken = 0;
    for (uint32_t size;
         (size = d.atomsFromPlugin->read(record.data(), static_cast<uint32_t>(record.size()))) >
         atomRecordHead;
         ++taken) {
        uint32_t port;
        std::memcpy(&port, record.data(), sizeof port);
        take(port, record.data() + atomRecordHead, size - atomRecordHead);
    }
    return taken;
}

} // namespace orvane::lv2
