#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace orvane::lv2 {

class Lv2Plugin;
struct Lv2EditorState;
struct UiChoice;

/// The plug-in's own user interface, in a top-level window of its own, through suil: an X11
/// one in this process, any other (GTK 2 or GTK 3, or Qt 5 through suil's wrappers) in an
/// interface host process (`Lv2UiProcess`), where a crash ends only that process. Control values go
/// both ways: what the user turns in it reaches the plug-in as a parameter value, and values set
/// elsewhere (automation, the generic panel) reach it on `idle`. Atoms go both ways too: what
/// the interface writes to an atom port reaches the plug-in with a coming block, and what the
/// plug-in writes to its atom outputs reaches the interface on `idle`.
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
    /// Whether the open interface runs in the host process, and that process's id (else -1).
    bool inOwnProcess() const;
    int processId() const;
    /// Call a few dozen times a second while open: sends changed control values, lets the
    /// interface redraw and handles the window's events (closing it closes the editor).
    void idle();

    /// Atoms that went each way since the editor was made: an interface that shows what the
    /// plug-in streams (a scope, an analyser) is alive when both move.
    struct AtomTraffic {
        size_t toInterface = 0, fromInterface = 0;
    };
    AtomTraffic atomTraffic() const { return traffic; }

    std::string lastError;
    /// Why the editor closed by itself: "closed" when the user closed its window, "crashed"
    /// when its host process died; empty while open or after `close`.
    std::string lastClosing;
    /// Shows even an X11 interface in the host process (the sandbox helper does, so that an
    /// interface's crash does not take the plug-in with it). Set before `open`.
    bool ownProcessOnly = false;
    /// When set, a control the user moved in a host-process interface goes here instead of
    /// straight to the plug-in, so that the caller can record it as an edit.
    std::function<void(size_t parameterIndex, float value)> onEdited;
    /// Where to look for the interface host program instead of beside the executable.
    static inline std::string uiHostFolder;

  private:
    [[nodiscard]] bool openInOwnProcess(const UiChoice &choice);

    /// Hands the plug-in's atoms to the interface.
    void passAtomsToInterface();
    void atomFromInterface(uint32_t port, const void *atom, size_t size);
    friend void atomWrittenInProcess(Lv2EditorState &, uint32_t, uint32_t, const void *);

    Lv2Plugin &plugin;
    std::unique_ptr<Lv2EditorState> state;
    AtomTraffic traffic;
};

} // namespace orvane::lv2
