#include "core/plugins/lv2/Lv2World.h"

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <lilv/lilv.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <map>
#include <memory>

namespace orvane::lv2 {

std::string uriFromPluginId(const std::string &pluginId) {
    if (!isLv2PluginId(pluginId)) return {};
    return pluginId.substr(pluginIdPrefix.size());
}

bool isLv2PluginId(const std::string &pluginId) {
    return pluginId.size() > pluginIdPrefix.size() && pluginId.starts_with(pluginIdPrefix);
}

uint32_t UridMap::map(std::string_view uri) {
    std::lock_guard lock(mutex);
    auto found = numbers.find(std::string(uri));
    if (found != numbers.end()) return found->second;
    uris.emplace_back(uri);
    const auto number = static_cast<uint32_t>(uris.size());
    numbers.emplace(uris.back(), number);
    return number;
}

const char *UridMap::unmap(uint32_t urid) {
    std::lock_guard lock(mutex);
    if (urid == 0 || urid > uris.size()) return nullptr;
    return uris[urid - 1].c_str();
}

std::recursive_mutex &Lv2World::lock() {
    static std::recursive_mutex mutex;
    return mutex;
}

UridMap &Lv2World::uridMap() {
    static UridMap map;
    return map;
}

Lv2World &Lv2World::instance() {
    static std::map<std::string, std::unique_ptr<Lv2World>> worlds;
    const char *variable = std::getenv("LV2_PATH");
    const std::string searchPath = variable ? variable : "";
    std::unique_ptr<Lv2World> &world = worlds[searchPath];
    if (!world) world = std::make_unique<Lv2World>(searchPath);
    return *world;
}

Lv2World::Lv2World(const std::string &searchPath) : lilvWorld(lilv_world_new()) {
    if (!searchPath.empty()) {
        LilvNode *path = lilv_new_string(lilvWorld, searchPath.c_str());
        lilv_world_set_option(lilvWorld, LILV_OPTION_LV2_PATH, path);
        lilv_node_free(path);
    }
    lilv_world_load_all(lilvWorld);
}

Lv2World::~Lv2World() { lilv_world_free(lilvWorld); }

const LilvPlugin *Lv2World::findAnyPlugin(const std::string &uri) const {
    LilvNode *node = lilv_new_uri(lilvWorld, uri.c_str());
    const LilvPlugin *plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(lilvWorld), node);
    lilv_node_free(node);
    return plugin;
}

const LilvPlugin *Lv2World::findPlugin(const std::string &uri) const {
    const LilvPlugin *plugin = findAnyPlugin(uri);
    return plugin && lv2DataRefusal(plugin).empty() ? plugin : nullptr;
}

std::string lv2DataRefusal(const LilvPlugin *plugin) {
    LilvWorld *world = Lv2World::instance().world();
    const LilvNode *uri = lilv_plugin_get_uri(plugin);
    // Asking for its name loads its data files once, as any description does; not its ports.
    lilv_node_free(lilv_plugin_get_name(plugin));
    LilvNode *portPredicate = lilv_new_uri(world, LV2_CORE__port);
    LilvNode *indexPredicate = lilv_new_uri(world, LV2_CORE__index);
    LilvNodes *ports = lilv_world_find_nodes(world, uri, portPredicate, nullptr);
    std::string refusal;
    LILV_FOREACH(nodes, iterator, ports) {
        LilvNode *index =
            lilv_world_get(world, lilv_nodes_get(ports, iterator), indexPredicate, nullptr);
        const char *text = index ? lilv_node_as_string(index) : nullptr;
        char *end = nullptr;
        const unsigned long long value = text ? std::strtoull(text, &end, 10) : 0;
        const bool usable =
            text && *text != '-' && end != text && *end == '\0' && value <= maximumLv2PortIndex;
        if (!usable && refusal.empty())
            refusal = std::string("its data give a port the index ") + (text ? text : "(none)") +
                      ", which no plug-in can have";
        lilv_node_free(index);
    }
    lilv_nodes_free(ports);
    lilv_node_free(indexPredicate);
    lilv_node_free(portPredicate);
    return refusal;
}

bool Lv2World::loadBundle(const std::string &bundlePath) {
    std::string folder = bundlePath;
    if (!folder.ends_with('/')) folder += '/';
    LilvNode *node = lilv_new_file_uri(lilvWorld, nullptr, folder.c_str());
    if (!node) return false;
    lilv_world_load_bundle(lilvWorld, node);
    lilv_node_free(node);
    return true;
}

namespace {

std::string takeString(LilvNode *node) {
    std::string text = node ? lilv_node_as_string(node) : "";
    lilv_node_free(node);
    return text;
}

std::string bundleFolder(const LilvPlugin *plugin) {
    char *path = lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_bundle_uri(plugin)), nullptr);
    std::string folder = path ? path : "";
    lilv_free(path);
    while (folder.size() > 1 && folder.ends_with('/'))
        folder.pop_back();
    return folder;
}

bool hasMidiInput(const LilvPlugin *plugin) {
    LilvWorld *world = Lv2World::instance().world();
    LilvNode *input = lilv_new_uri(world, LV2_CORE__InputPort);
    LilvNode *midiEvent = lilv_new_uri(world, LV2_MIDI__MidiEvent);
    bool found = false;
    for (uint32_t index = 0; index < lilv_plugin_get_num_ports(plugin) && !found; ++index) {
        const LilvPort *port = lilv_plugin_get_port_by_index(plugin, index);
        found = lilv_port_is_a(plugin, port, input) &&
                lilv_port_supports_event(plugin, port, midiEvent);
    }
    lilv_node_free(midiEvent);
    lilv_node_free(input);
    return found;
}

uint32_t countAudioPorts(const LilvPlugin *plugin, const char *direction) {
    LilvWorld *world = Lv2World::instance().world();
    LilvNode *audio = lilv_new_uri(world, LV2_CORE__AudioPort);
    LilvNode *side = lilv_new_uri(world, direction);
    const uint32_t count = lilv_plugin_get_num_ports_of_class(plugin, audio, side, nullptr);
    lilv_node_free(side);
    lilv_node_free(audio);
    return count;
}

bool isInstrumentClass(const LilvPlugin *plugin) {
    const LilvNode *classUri = lilv_plugin_class_get_uri(lilv_plugin_get_class(plugin));
    return std::string_view(lilv_node_as_uri(classUri)) == LV2_CORE__InstrumentPlugin;
}

// Class labels read "Compressor Plugin", "Parametric EQ Plugin": the last word says nothing.
std::string categoryFromClassLabel(std::string label) {
    constexpr std::string_view suffix = " Plugin";
    if (label.size() > suffix.size() && label.ends_with(suffix))
        label.resize(label.size() - suffix.size());
    return label;
}

bool onList(const std::vector<std::string> &list, const vst::PluginDescription &description) {
    return std::any_of(list.begin(), list.end(), [&](const std::string &entry) {
        return entry == description.uid || entry == description.path;
    });
}

} // namespace

bool keepModuleResident(const std::string &libraryPath) {
    // Never closed: the flag keeps it mapped whatever lilv or suil do with their own handles.
    return dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_NODELETE) != nullptr;
}

uint32_t firstControlInputPort(const LilvPlugin *plugin) {
    std::lock_guard lock(Lv2World::lock());
    LilvWorld *world = Lv2World::instance().world();
    LilvNode *control = lilv_new_uri(world, LV2_CORE__ControlPort);
    LilvNode *input = lilv_new_uri(world, LV2_CORE__InputPort);
    uint32_t found = 0;
    for (uint32_t index = lilv_plugin_get_num_ports(plugin); index-- > 0;) {
        const LilvPort *port = lilv_plugin_get_port_by_index(plugin, index);
        if (lilv_port_is_a(plugin, port, control) && lilv_port_is_a(plugin, port, input))
            found = index;
    }
    lilv_node_free(input);
    lilv_node_free(control);
    return found;
}

vst::PluginDescription describeLv2Plugin(const LilvPlugin *plugin) {
    std::lock_guard lock(Lv2World::lock());
    vst::PluginDescription description;
    description.uid = std::string(pluginIdPrefix) + lilv_node_as_uri(lilv_plugin_get_uri(plugin));
    description.name = takeString(lilv_plugin_get_name(plugin));
    description.vendor = takeString(lilv_plugin_get_author_name(plugin));
    description.path = bundleFolder(plugin);
    description.category = categoryFromClassLabel(
        lilv_node_as_string(lilv_plugin_class_get_label(lilv_plugin_get_class(plugin))));
    description.format = "LV2";
    // A plug-in of a generic class that takes notes and no audio is an instrument too.
    description.isInstrument =
        isInstrumentClass(plugin) ||
        (hasMidiInput(plugin) && countAudioPorts(plugin, LV2_CORE__InputPort) == 0 &&
         countAudioPorts(plugin, LV2_CORE__OutputPort) > 0);
    if (description.isInstrument && description.category.empty())
        description.category = "Instrument";
    return description;
}

std::vector<vst::PluginDescription>
describeInstalledLv2Plugins(const std::vector<std::string> &blacklist) {
    std::lock_guard lock(Lv2World::lock());
    std::vector<vst::PluginDescription> descriptions;
    const LilvPlugins *plugins = lilv_world_get_all_plugins(Lv2World::instance().world());
    LILV_FOREACH(plugins, iterator, plugins) {
        const LilvPlugin *plugin = lilv_plugins_get(plugins, iterator);
        // Left out: describing it would ask for its ports.
        if (!lv2DataRefusal(plugin).empty()) continue;
        vst::PluginDescription description = describeLv2Plugin(plugin);
        description.blacklisted = onList(blacklist, description);
        descriptions.push_back(std::move(description));
    }
    std::sort(descriptions.begin(), descriptions.end(),
              [](const auto &a, const auto &b) { return a.name < b.name; });
    return descriptions;
}

} // namespace orvane::lv2
