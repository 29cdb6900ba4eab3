#pragma once

namespace orvane {

class AudioDeviceEngine;
class CommandStack;
class Engine;
class HVLoggingStatusField;
namespace vst {
class PluginRack;
}

/// The long-lived services the workspace's tools act through. The audio device may be
/// missing (then nothing that needs it runs).
struct WorkspaceServices {
    Engine &engine;
    AudioDeviceEngine *audio;
    vst::PluginRack &rack;
    CommandStack &commands;
    HVLoggingStatusField &status;
};

} // namespace orvane
