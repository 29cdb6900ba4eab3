#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace orvane::lv2 {
class Lv2Editor;
class Lv2Plugin;
} // namespace orvane::lv2

namespace orvane::vst {
class PluginRack;
}

namespace orvane {

/// The own window of an LV2 insert's plug-in, opened from the mixer. It keeps the plug-in
/// alive while the window is open, so removing the insert meanwhile cannot pull the plug-in
/// from under its interface. Main thread only.
class Lv2InsertEditor {
  public:
    Lv2InsertEditor();
    ~Lv2InsertEditor();
    Lv2InsertEditor(const Lv2InsertEditor &) = delete;
    Lv2InsertEditor &operator=(const Lv2InsertEditor &) = delete;

    /// The LV2 plug-in of the insert, null when it is of another kind.
    static std::shared_ptr<lv2::Lv2Plugin> pluginOf(vst::PluginRack &rack, uint64_t trackId,
                                                    int insertIndex);
    /// False, with `lastError`, when the plug-in has no interface this host can show or it
    /// would not open.
    [[nodiscard]] bool open(std::shared_ptr<lv2::Lv2Plugin> plugin);
    void close();
    /// Call on the window's timer while open.
    void idle();
    /// X11 id of the open window, 0 when none is open (also once the user closed it).
    unsigned long windowId() const;
    /// True from a successful `open` until the interface closes, also while an interface in a
    /// process of its own has not yet reported its window.
    bool isOpen() const;
    /// Why the window closed by itself: "closed" by the user, "crashed" with its process.
    std::string lastClosing() const;

    std::string lastError;
    /// A control the user moved in the plug-in's window, as the parameter's place in the
    /// plug-in's list (the id the rack and the parameter window use for it) and its
    /// normalised values before and after, for the caller to record as an edit. Set before
    /// `open`.
    std::function<void(uint32_t index, float before, float after)> onEdited;

  private:
    // Declared first so that it goes last: the interface must not outlive its plug-in.
    std::shared_ptr<lv2::Lv2Plugin> plugin;
    std::unique_ptr<lv2::Lv2Editor> editor;
};

} // namespace orvane
