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
