#include "core/plugins/lv2/Lv2Presets.h"

#include "core/plugins/lv2/Lv2World.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <unistd.h>
#include <utility>

#include <lilv/lilv.h>
#include <lv2/core/lv2.h>
#include <lv2/presets/presets.h>
#include <lv2/urid/urid.h>
#include <serd/serd.h>

namespace orvane::lv2 {

namespace fs = std::filesystem;

namespace {

/// Larger files are no presets: a preset holds control values and a little state.
constexpr std::uintmax_t largestPresetFile = 16u * 1024u * 1024u;

LV2_URID mapUri(LV2_URID_Map_Handle, const char *uri) { return Lv2World::uridMap().map(uri); }
const char *unmapUri(LV2_URID_Unmap_Handle, LV2_URID urid) {
    return Lv2World::uridMap().unmap(urid);
}

LV2_URID_Map uridMapFeature{nullptr, &mapUri};
LV2_URID_Unmap uridUnmapFeature{nullptr, &unmapUri};

struct NodeDeleter {
    void operator()(LilvNode *node) const { lilv_node_free(node); }
};
using OwnedNode = std::unique_ptr<LilvNode, NodeDeleter>;

struct StateDeleter {
    void operator()(LilvState *state) const { lilv_state_free(state); }
};
using OwnedState = std::unique_ptr<LilvState, StateDeleter>;

/// The state as text, in the form the plug-in host's own `getState` writes.
bool stateText(LilvWorld *world, const LilvState *state, std::vector<uint8_t> &text,
               std::string &error) {
    char *written = lilv_state_to_string(world, &uridMapFeature, &uridUnmapFeature, state,
                                         "urn:halvora:state", nullptr);
    if (!written) {
        error = "the preset's state could not be written out";
        return false;
    }
    text.assign(written, written + std::strlen(written));
    lilv_free(written);
    return true;
}

bool appliesTo(const LilvState *state, const std::string &pluginUri) {
    const LilvNode *plugin = lilv_state_get_plugin_uri(state);
    return plugin && lilv_node_is_uri(plugin) && pluginUri == lilv_node_as_uri(plugin);
}

} // namespace

bool listLv2FactoryPresets(const std::string &pluginUri, std::vector<Lv2FactoryPreset> &presets,
                           std::string &error) {
    presets.clear();
    std::lock_guard worldLock(Lv2World::lock());
    Lv2World &world = Lv2World::instance();
    const LilvPlugin *plugin = world.findPlugin(pluginUri);
    if (!plugin) {
        error = "no usable LV2 plug-in is installed with URI " + pluginUri;
        return false;
    }
    LilvWorld *lilv = world.world();
    OwnedNode presetClass(lilv_new_uri(lilv, LV2_PRESETS__Preset));
    OwnedNode label(lilv_new_uri(lilv, LILV_NS_RDFS "label"));
    LilvNodes *related = lilv_plugin_get_related(plugin, presetClass.get());
    LILV_FOREACH(nodes, iterator, related) {
        const LilvNode *preset = lilv_nodes_get(related, iterator);
        // A preset's label lives in its own file, which lilv reads only when asked.
        lilv_world_load_resource(lilv, preset);
        LilvNodes *labels = lilv_world_find_nodes(lilv, preset, label.get(), nullptr);
        if (labels && lilv_nodes_size(labels) > 0)
            presets.push_back(
                {lilv_node_as_string(lilv_nodes_get_first(labels)), lilv_node_as_uri(preset)});
        lilv_nodes_free(labels);
    }
    lilv_nodes_free(related);
    std::stable_sort(presets.begin(), presets.end(), [](const auto &a, const auto &b) {
        return a.name != b.name ? a.name < b.name : a.uri < b.uri;
    });
    return true;
}

bool lv2FactoryPresetState(const std::string &pluginUri, const std::string &presetUri,
                           std::vector<uint8_t> &state, std::string &error) {
    std::vector<Lv2FactoryPreset> presets;
    if (!listLv2FactoryPresets(pluginUri, presets, error)) return false;
    bool known = false;
    for (const Lv2FactoryPreset &preset : presets)
        known = known || preset.uri == presetUri;
    if (!known) {
        error = "the plug-in has no preset " + presetUri;
        return false;
    }
    std::lock_guard worldLock(Lv2World::lock());
    LilvWorld *lilv = Lv2World::instance().world();
    OwnedNode node(lilv_new_uri(lilv, presetUri.c_str()));
    OwnedState loaded(lilv_state_new_from_world(lilv, &uridMapFeature, node.get()));
    if (!loaded) {
        error = "the preset " + presetUri + " cannot be read";
        return false;
    }
    return stateText(lilv, loaded.get(), state, error);
}

namespace {

/// A fresh folder beside `target`, for writing a bundle before it takes the target's place.
fs::path scratchBeside(const fs::path &target) {
    std::string pattern = (target.parent_path() / ".writing-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

bool replaceFolder(const fs::path &written, const fs::path &target, std::string &error) {
    std::error_code fault;
    const fs::path old = target.string() + ".old";
    fs::remove_all(old, fault);
    if (fs::exists(target, fault)) fs::rename(target, old, fault);
    if (fault) {
        error = "the old preset could not be moved aside: " + fault.message();
        return false;
    }
    fs::rename(written, target, fault);
    if (fault) {
        error = "the preset could not be put in place: " + fault.message();
        std::error_code ignored;
        if (fs::exists(old, ignored)) fs::rename(old, target, ignored);
        return false;
    }
    fs::remove_all(old, fault);
    return true;
}

/// URIs go into the manifest between angle brackets as they are; these characters would end
/// or break them.
bool writableUri(const std::string &uri) {
    if (uri.empty()) return false;
    for (const unsigned char c : uri)
        if (c <= 0x20 || std::strchr("<>\"{}|^`\\", c)) return false;
    return true;
}

std::string freshPresetUri() {
    std::random_device entropy;
    char digits[17];
    std::snprintf(digits, sizeof digits, "%08x%08x", entropy(), entropy());
    return std::string("urn:halvora:preset:") + digits;
}

bool writeText(const fs::path &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

SerdStatus quietErrors(void *, const SerdError *) { return SERD_SUCCESS; }

/// What the text says about one `lv2:port` node. lilv trusts a port's symbol and value to be
/// plain literals and crashes on anything else, such as a list in place of the value.
struct PortShape {
    int symbols = 0;
    bool symbolIsLiteral = true;
    bool valueIsLiteral = true;
};

/// What a read of the text found out, as it went.
struct TurtleReading {
    SerdEnv *env = nullptr;
    bool describesPreset = false;
    bool portIsLiteral = false;
    std::map<std::string, PortShape> shapes; // by node, blank nodes and IRIs kept apart
    std::set<std::string> ports;

    bool portsWellShaped() const {
        if (portIsLiteral) return false;
        for (const std::string &port : ports) {
            const auto found = shapes.find(port);
            if (found == shapes.end()) return false;
            const PortShape &shape = found->second;
            if (shape.symbols != 1 || !shape.symbolIsLiteral || !shape.valueIsLiteral) return false;
        }
        return true;
    }
};

SerdStatus takeBase(void *handle, const SerdNode *uri) {
    return serd_env_set_base_uri(static_cast<TurtleReading *>(handle)->env, uri);
}

SerdStatus takePrefix(void *handle, const SerdNode *name, const SerdNode *uri) {
    return serd_env_set_prefix(static_cast<TurtleReading *>(handle)->env, name, uri);
}

bool expandsTo(const SerdEnv *env, const SerdNode *node, const char *uri) {
    if (!node || (node->type != SERD_URI && node->type != SERD_CURIE)) return false;
    SerdNode expanded = serd_env_expand_node(env, node);
    const bool same =
        expanded.buf && std::strcmp(reinterpret_cast<const char *>(expanded.buf), uri) == 0;
    serd_node_free(&expanded);
    return same;
}

/// A key that tells a blank node from an IRI of the same spelling.
std::string nodeKey(const SerdEnv *env, const SerdNode *node) {
    if (!node || !node->buf) return {};
    if (node->type == SERD_BLANK)
        return "_:" + std::string(reinterpret_cast<const char *>(node->buf));
    SerdNode expanded = serd_env_expand_node(env, node);
    std::string key = "<" +
                      std::string(expanded.buf ? reinterpret_cast<const char *>(expanded.buf)
                                               : reinterpret_cast<const char *>(node->buf)) +
                      ">";
    serd_node_free(&expanded);
    return key;
}

void notePortShape(TurtleReading &reading, const SerdNode *subject, const SerdNode *predicate,
                   const SerdNode *object) {
    const bool literal = object && object->type == SERD_LITERAL;
    if (expandsTo(reading.env, predicate, LV2_CORE__port)) {
        if (literal)
            reading.portIsLiteral = true;
        else
            reading.ports.insert(nodeKey(reading.env, object));
    } else if (expandsTo(reading.env, predicate, LV2_CORE__symbol)) {
        PortShape &shape = reading.shapes[nodeKey(reading.env, subject)];
        ++shape.symbols;
        shape.symbolIsLiteral = shape.symbolIsLiteral && literal;
    } else if (expandsTo(reading.env, predicate, LV2_PRESETS__value)) {
        PortShape &shape = reading.shapes[nodeKey(reading.env, subject)];
        shape.valueIsLiteral = shape.valueIsLiteral && literal;
    }
}

/// Whether `uri` begins with a scheme ("http:", "urn:"), as an absolute IRI does.
bool hasScheme(const char *uri) {
    if (!uri || !std::isalpha(static_cast<unsigned char>(*uri))) return false;
    for (const char *at = uri + 1; *at; ++at) {
        if (*at == ':') return true;
        if (!std::isalnum(static_cast<unsigned char>(*at)) && *at != '+' && *at != '-' &&
            *at != '.')
            return false;
    }
    return false;
}

// A state read from text has no base to resolve a relative IRI against: lilv cannot map one,
// and for some statements then reads a node that is not there.
bool expandable(const SerdEnv *env, const SerdNode *node) {
    if (!node || (node->type != SERD_URI && node->type != SERD_CURIE)) return true;
    SerdNode expanded = serd_env_expand_node(env, node);
    const bool known = hasScheme(reinterpret_cast<const char *>(expanded.buf));
    serd_node_free(&expanded);
    return known;
}

SerdStatus takeStatement(void *handle, SerdStatementFlags, const SerdNode *,
                         const SerdNode *subject, const SerdNode *predicate, const SerdNode *object,
                         const SerdNode *datatype, const SerdNode *) {
    auto &reading = *static_cast<TurtleReading *>(handle);
    // lilv's reader drops a statement it cannot expand and reads on from a different place
    // than this one would, so such text is refused rather than judged on other statements.
    for (const SerdNode *node : {subject, predicate, object, datatype})
        if (!expandable(reading.env, node)) return SERD_ERR_BAD_CURIE;
    if (expandsTo(reading.env, predicate, LILV_NS_RDF "type") &&
        expandsTo(reading.env, object, LV2_PRESETS__Preset))
        reading.describesPreset = true;
    notePortShape(reading, subject, predicate, object);
    return SERD_SUCCESS;
}

} // namespace

namespace {

/// Deeper lists and blank nodes than a preset ever has; serd's memory grows with the depth
/// until it runs out.
constexpr int deepestNesting = 32;

/// The deepest nesting of lists and blank nodes, strings and IRIs left out.
int nestingDepth(const std::string &text) {
    int depth = 0, deepest = 0;
    char closing = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (closing) {
            if (c == '\\')
                ++i;
            else if (c == closing)
                closing = 0;
            continue;
        }
        if (c == '"' || c == '\'')
            closing = c;
        else if (c == '<')
            closing = '>';
        else if (c == '#')
            closing = '\n';
        else if (c == '(' || c == '[')
            deepest = std::max(deepest, ++depth);
        else if ((c == ')' || c == ']') && depth > 0)
            --depth;
    }
    return deepest;
}

} // namespace

// lilv reads what comes before a fault and keeps it, so a file cut short would load as a
// preset with half its values; and it crashes on text that describes no preset at all.
bool lv2StateTextReadable(const std::string &text) {
    if (text.find('\0') != std::string::npos || nestingDepth(text) > deepestNesting) return false;
    TurtleReading reading;
    reading.env = serd_env_new(nullptr);
    // The prefixes lilv's own reader knows, which the text of a saved state leaves out.
    const std::pair<const char *, const char *> known[] = {
        {"atom", "http://lv2plug.in/ns/ext/atom#"},
        {"lv2", "http://lv2plug.in/ns/lv2core#"},
        {"pset", "http://lv2plug.in/ns/ext/presets#"},
        {"rdf", LILV_NS_RDF},
        {"rdfs", LILV_NS_RDFS},
        {"state", "http://lv2plug.in/ns/ext/state#"},
        {"xsd", "http://www.w3.org/2001/XMLSchema#"}};
    for (const auto &[name, uri] : known)
        serd_env_set_prefix_from_strings(reading.env, reinterpret_cast<const uint8_t *>(name),
                                         reinterpret_cast<const uint8_t *>(uri));
    SerdReader *reader = serd_reader_new(SERD_TURTLE, &reading, nullptr, &takeBase, &takePrefix,
                                         &takeStatement, nullptr);
    serd_reader_set_error_sink(reader, &quietErrors, nullptr);
    const SerdStatus status =
        serd_reader_read_string(reader, reinterpret_cast<const uint8_t *>(text.c_str()));
    serd_reader_free(reader);
    serd_env_free(reading.env);
    return status == SERD_SUCCESS && reading.describesPreset && reading.portsWellShaped();
}

bool writeLv2PresetBundle(const std::string &pluginUri, const std::string &name,
                          const std::vector<uint8_t> &state, const std::string &bundlePath,
                          std::string &error) {
    if (name.empty()) {
        error = "a preset needs a name";
        return false;
    }
    if (!writableUri(pluginUri)) {
        error = "the plug-in URI " + pluginUri + " cannot be written into a preset";
        return false;
    }
    std::lock_guard worldLock(Lv2World::lock());
    LilvWorld *lilv = Lv2World::instance().world();
    const std::string text(state.begin(), state.end());
    OwnedState parsed(lv2StateTextReadable(text)
                          ? lilv_state_new_from_string(lilv, &uridMapFeature, text.c_str())
                          : nullptr);
    if (!parsed || !appliesTo(parsed.get(), pluginUri)) {
        error = "the plug-in's state cannot be read";
        return false;
    }
    lilv_state_set_label(parsed.get(), name.c_str());
    const std::string presetUri = freshPresetUri();
    char *presetText = lilv_state_to_string(lilv, &uridMapFeature, &uridUnmapFeature, parsed.get(),
                                            presetUri.c_str(), nullptr);
    if (!presetText) {
        error = "the plug-in's state could not be written out";
        return false;
    }
    // lilv writes the state with the prefixes of its own reader left out; a file other hosts
    // read on its own must declare them.
    const std::string prefixes = "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
                                 "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                                 "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                                 "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
                                 "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                                 "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
                                 "@prefix xsd: <http://www.w3.org/2001/XMLSchema#> .\n\n";
    const std::string preset = prefixes + presetText;
    lilv_free(presetText);
    const std::string manifest = prefixes + "<" + presetUri +
                                 ">\n\ta pset:Preset ;\n\tlv2:appliesTo <" + pluginUri +
                                 "> ;\n\trdfs:seeAlso <" + lv2PresetFileName + "> .\n";
    const fs::path target(bundlePath);
    std::error_code fault;
    fs::create_directories(target.parent_path(), fault);
    const fs::path scratch = scratchBeside(target);
    if (scratch.empty()) {
        error = "the preset folder " + target.parent_path().string() + " cannot be written";
        return false;
    }
    if (!writeText(scratch / "manifest.ttl", manifest) ||
        !writeText(scratch / lv2PresetFileName, preset)) {
        fs::remove_all(scratch, fault);
        error = "the preset could not be written to " + target.string();
        return false;
    }
    if (!replaceFolder(scratch, target, error)) {
        fs::remove_all(scratch, fault);
        return false;
    }
    return true;
}

bool readLv2PresetBundle(const std::string &pluginUri, const std::string &bundlePath,
                         std::string &name, std::vector<uint8_t> &state, std::string &error) {
    const fs::path file = fs::path(bundlePath) / lv2PresetFileName;
    std::error_code fault;
    const std::uintmax_t size = fs::file_size(file, fault);
    if (fault) {
        error = "the preset " + bundlePath + " has no " + lv2PresetFileName;
        return false;
    }
    if (size > largestPresetFile) {
        error = "the preset " + bundlePath + " is too large to be a preset";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        error = "the preset " + bundlePath + " cannot be read";
        return false;
    }
    return readLv2PresetText(pluginUri, text, bundlePath, name, state, error);
}

bool readLv2PresetText(const std::string &pluginUri, const std::string &text,
                       const std::string &origin, std::string &name, std::vector<uint8_t> &state,
                       std::string &error) {
    if (!lv2StateTextReadable(text)) {
        error = "the preset " + origin + " is damaged: it is no whole Turtle file of a preset";
        return false;
    }
    std::lock_guard worldLock(Lv2World::lock());
    LilvWorld *lilv = Lv2World::instance().world();
    OwnedState parsed(lilv_state_new_from_string(lilv, &uridMapFeature, text.c_str()));
    if (!parsed) {
        error = "the preset " + origin + " is damaged: it describes no preset";
        return false;
    }
    if (!appliesTo(parsed.get(), pluginUri)) {
        error = "the preset " + origin + " is not for " + pluginUri;
        return false;
    }
    const char *label = lilv_state_get_label(parsed.get());
    if (!label || !*label) {
        error = "the preset " + origin + " has no name";
        return false;
    }
    std::vector<uint8_t> converted;
    if (!stateText(lilv, parsed.get(), converted, error)) return false;
    name = label;
    state = std::move(converted);
    return true;
}

} // namespace orvane::lv2
