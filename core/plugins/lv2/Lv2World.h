#pragma once

#include "core/plugins/PluginDescription.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

typedef struct LilvWorldImpl LilvWorld;
typedef struct LilvPluginImpl LilvPlugin;

namespace orvane::lv2 {

/// Prefix of the plug-in id an LV2 insert is stored under; the URI follows it.
inline constexpr std::string_view pluginIdPrefix = "lv2:";

/// The URI inside an id such as "lv2:http://…", or empty when `pluginId` is not an LV2 id.
std::string uriFromPluginId(const std::string &pluginId);
/// True for ids that start with "lv2:".
bool isLv2PluginId(const std::string &pluginId);

/// Numbers for URIs, shared by every plug-in of the process. Plug-ins map their URIs while
/// they are instantiated, from any thread, so the table is guarded; the host maps everything
/// the audio thread needs before the first block.
class UridMap {
  public:
    uint32_t map(std::string_view uri);
    /// Null for a number that was never handed out.
    const char *unmap(uint32_t urid);

  private:
    std::mutex mutex;
    std::unordered_map<std::string, uint32_t> numbers;
    /// A deque keeps the strings where they are, so unmapped pointers stay valid.
    std::deque<std::string> uris;
};

/// The process's view of the installed LV2 bundles, loaded on first use from "LV2_PATH", else
/// the standard folders; when "LV2_PATH" has changed since, from the new folders (the views
/// loaded before stay, for the plug-ins loaded from them). Reading it never runs plug-in code:
/// bundles are described by their data files.
///
/// Threads: lilv is not safe to use from two threads at once, and a scan may run on a worker
/// while the main thread loads a plug-in, so every use of a world holds `lock()`. The audio
/// thread never uses it.
class Lv2World {
  public:
    /// The world for the current "LV2_PATH"; call with `lock()` held.
    static Lv2World &instance();
    static std::recursive_mutex &lock();

    LilvWorld *world() const { return lilvWorld; }
    /// Shared by every world: URIDs must not change with the folders.
    static UridMap &uridMap();

    /// Null when no installed plug-in has this URI, or when its data cannot be read safely
    /// (`lv2DataRefusal`).
    const LilvPlugin *findPlugin(const std::string &uri) const;
    /// The installed plug-in with this URI, readable or not; null when there is none.
    const LilvPlugin *findAnyPlugin(const std::string &uri) const;
    /// Adds one bundle folder to the world, for bundles outside the folders.
    [[nodiscard]] bool loadBundle(const std::string &bundlePath);

    explicit Lv2World(const std::string &searchPath);
    ~Lv2World();
    Lv2World(const Lv2World &) = delete;
    Lv2World &operator=(const Lv2World &) = delete;

  private:
    LilvWorld *lilvWorld = nullptr;
};

/// One description per installed LV2 plug-in: name, maker, the label of its class as the
/// category, format "LV2", uid "lv2:" + URI and its bundle folder as the path. Plug-ins whose
/// uid or bundle is on `blacklist` are marked, not left out, as the VST 3 scan does.
std::vector<orvane::vst::PluginDescription>
describeInstalledLv2Plugins(const std::vector<std::string> &blacklist = {});

/// Loads a plug-in's (or its interface's) shared library so that it is never unloaded again.
/// Plug-ins link libraries (GLib and what builds on it) that keep pointers into every library
/// that used them; unloading one leaves them pointing at nothing, and the next plug-in that
/// uses them crashes. False when the library cannot be loaded.
[[nodiscard]] bool keepModuleResident(const std::string &libraryPath);

/// Largest port index a plug-in's data may give. lilv sizes its table of ports by the largest
/// index it is given, so data naming port 4,000,000,000 crash it as soon as anything asks for
/// the ports, sandbox or not: the data are looked at before that. The largest real plug-ins
/// have a few hundred ports.
inline constexpr uint64_t maximumLv2PortIndex = 65535;

/// Empty when the plug-in's data can be read without harm; otherwise why not. Reads only the
/// data files, with the world lock held.
std::string lv2DataRefusal(const LilvPlugin *plugin);

/// Index of the plug-in's first control input port, 0 when it has none: the parameter an
/// insert automates until another is chosen.
uint32_t firstControlInputPort(const LilvPlugin *plugin);

/// The description of one plug-in, as `describeInstalledLv2Plugins` gives it.
orvane::vst::PluginDescription describeLv2Plugin(const LilvPlugin *plugin);

} // namespace orvane::lv2
