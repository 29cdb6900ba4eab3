#pragma once

#include <memory>
#include <string>

namespace orvane::lv2 {

class Lv2Plugin;
struct Lv2EditorState;

/// The plug-in's own X11 user interface, in a top-level window of its own, through suil.
/// Control values go both ways: what the user turns in it reaches the plug-in as a parameter
/// value, and values set elsewhere (automation, the generic panel) reach it on `idle`.
///
/// Threads: main thread only. The plug-in must outlive the editor.
class Lv2Editor {
  public:
    explicit Lv2Editor(Lv2Plugin &plugin);
    ~Lv2Editor();
    Lv2Editor(const Lv2Editor &) = delete;
    Lv2Editor &operator=(const Lv2Editor &) = delete;

    /// True when the plug-in has an interface this host can show.
    bool available() const;
    /// Opens the window titled with the plug-in's name; false, with `lastError`, when there is
    /// no display, no interface this host can show, or it failed to start.
    [[nodiscard]] bool open();
    void close();
    bool isOpen() const;
    /// X11 id of the open window, 0 when none is open.
    unsigned long windowId() const;
    /// Call a few dozen times a second while open: sends changed control values, lets the
    /// interface redraw and handles the window's events (closing it closes the editor).
    void idle();

    std::string lastError;

  private:
    Lv2Plugin &plugin;
    std::unique_ptr<Lv2EditorState> state;
};

} // namespace orvane::lv2
