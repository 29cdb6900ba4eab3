#include "core/commands/InsertEdits.h"

#include <utility>

namespace orvane {

namespace {

InsertEditHook &insertEditHook() {
    static InsertEditHook hook;
    return hook;
}

} // namespace

void setInsertEditHook(InsertEditHook hook) { insertEditHook() = std::move(hook); }

void reportInsertEdit() {
    if (const auto &hook = insertEditHook()) hook();
}

} // namespace orvane

namespace orvane {

namespace {

PluginParameterHook &pluginParameterHook() {
    static PluginParameterHook hook;
    return hook;
}

} // namespace

void setPluginParameterHook(PluginParameterHook hook) { pluginParameterHook() = std::move(hook); }

std::optional<std::vector<uint8_t>> applyPluginParameter(const PluginParameterAddress &address,
                                                         float normalized) {
    if (const auto &hook = pluginParameterHook()) return hook(address, normalized);
    return std::nullopt;
}

} // namespace orvane

namespace orvane {

namespace {

InsertListHooks &insertListHooks() {
    static InsertListHooks hooks;
    return hooks;
}

} // namespace

void setInsertListHooks(InsertListHooks hooks) { insertListHooks() = std::move(hooks); }

void saveInsertStates() {
    if (const auto &save = insertListHooks().saveStates) save();
}

void rebuildInserts() {
    if (const auto &rebuild = insertListHooks().rebuild) rebuild();
}

} // namespace orvane

namespace orvane {

namespace {

PluginStateHook &pluginStateHook() {
    static PluginStateHook hook;
    return hook;
}

} // namespace

void setPluginStateHook(PluginStateHook hook) { pluginStateHook() = std::move(hook); }

bool pluginStateHookSet() { return static_cast<bool>(pluginStateHook()); }

std::optional<std::vector<uint8_t>> applyPluginState(uint64_t trackId, int32_t insertIndex,
                                                     const std::vector<uint8_t> &state) {
    if (const auto &hook = pluginStateHook()) return hook(trackId, insertIndex, state);
    return std::nullopt;
}

} // namespace orvane
