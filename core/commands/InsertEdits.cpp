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
