#pragma once

#include <functional>

namespace orvane {

/// Called after a command changed what an insert's plug-in is told by the project: its
/// bypass flag, its parameter automation or its parameters. The plug-in rack hands those to
/// the audio thread in a view of its own, which only a new publication refreshes, so the
/// application points this hook at the rack's publication; without a hook the change is
/// heard only when something else republishes. Shared by the whole process and called on the
/// main thread with the project mutex held; an empty callable switches it off.
using InsertEditHook = std::function<void()>;

void setInsertEditHook(InsertEditHook hook);

/// For the commands: runs the hook, if one is set.
void reportInsertEdit();

} // namespace orvane

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane {

/// One parameter of the plug-in of one insert.
struct PluginParameterAddress {
    uint64_t trackId = 0;
    int32_t insertIndex = 0;
    uint32_t parameterId = 0;
};

/// Gives a plug-in parameter a normalized value and returns the plug-in's state afterwards, or
/// none when no live plug-in answers for the address. Commands live below the plug-in rack,
/// so the application points this at its rack. Shared by the whole process, main thread only,
/// called with the project mutex held; an empty callable switches it off.
using PluginParameterHook = std::function<std::optional<std::vector<uint8_t>>(
    const PluginParameterAddress &address, float normalized)>;

void setPluginParameterHook(PluginParameterHook hook);

/// For the commands: runs the hook; none when no hook is set.
std::optional<std::vector<uint8_t>> applyPluginParameter(const PluginParameterAddress &address,
                                                         float normalized);

} // namespace orvane

namespace orvane {

/// Keeps the plug-in rack in step with a track's insert list. The rack numbers its plug-ins by
/// their place in the list, so before the list changes each plug-in's state is saved into its
/// record (`saveStates`), and afterwards the rack rebuilds its plug-ins from the records
/// (`rebuild`): nothing the user set is lost on the way. Commands live below the rack, so the
/// application points these at its rack. Shared by the whole process, main thread only, called
/// with the project mutex held; without them only the list changes.
struct InsertListHooks {
    std::function<void()> saveStates;
    std::function<void()> rebuild;
};

void setInsertListHooks(InsertListHooks hooks);

/// For the commands: run the hooks, if they are set.
void saveInsertStates();
void rebuildInserts();

} // namespace orvane

namespace orvane {

/// Gives the plug-in of an insert a whole state (a preset's, or one it had before) and returns
/// the plug-in's state afterwards, or none when no live plug-in answers for the insert or the
/// plug-in refused the state. Commands live below the plug-in rack, so the application points
/// this at its rack. Shared by the whole process, main thread only, called with the project
/// mutex held; an empty callable switches it off.
using PluginStateHook = std::function<std::optional<std::vector<uint8_t>>(
    uint64_t trackId, int32_t insertIndex, const std::vector<uint8_t> &state)>;

void setPluginStateHook(PluginStateHook hook);

/// Whether a hook is set: without one there is no live plug-in to ask.
bool pluginStateHookSet();

/// For the commands: runs the hook; none when no hook is set.
std::optional<std::vector<uint8_t>> applyPluginState(uint64_t trackId, int32_t insertIndex,
                                                     const std::vector<uint8_t> &state);

} // namespace orvane
