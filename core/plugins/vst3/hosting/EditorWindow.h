#pragma once

#include <pluginterfaces/gui/iplugview.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace orvane::vst {

/// The run loop that plug-in editors register their display connections and timers with. There
/// is one for the process; the main thread drives it through `runEditorEvents`.
class EditorRunLoop : public Steinberg::Linux::IRunLoop {
  public:
    static EditorRunLoop &instance();

    /// Waits at most `timeoutMilliseconds` for a registered descriptor or a due timer, then calls
    /// every ready handler; returns how many handler calls were made.
    int dispatch(int timeoutMilliseconds);
    /// Number of event handlers and timers currently registered.
    size_t registrationCount() const { return handlers.size() + timers.size(); }

    Steinberg::tresult PLUGIN_API registerEventHandler(
        Steinberg::Linux::IEventHandler *handler, Steinberg::Linux::FileDescriptor fd) override;
    Steinberg::tresult PLUGIN_API
    unregisterEventHandler(Steinberg::Linux::IEventHandler *handler) override;
    Steinberg::tresult PLUGIN_API
    registerTimer(Steinberg::Linux::ITimerHandler *handler,
                  Steinberg::Linux::TimerInterval milliseconds) override;
    Steinberg::tresult PLUGIN_API
    unregisterTimer(Steinberg::Linux::ITimerHandler *handler) override;

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **object) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

  private:
    EditorRunLoop() = default;
    virtual ~EditorRunLoop() = default;

    struct Handler {
        Steinberg::Linux::IEventHandler *handler;
        int fd;
    };
    struct Timer {
        Steinberg::Linux::ITimerHandler *handler;
        std::chrono::milliseconds interval;
        std::chrono::steady_clock::time_point due;
    };
    int fireDueTimers();
    int callReadyHandlers(int timeoutMilliseconds);

    std::vector<Handler> handlers;
    std::vector<Timer> timers;
};

/// Lets plug-in editors redraw and react: runs the editor run loop for at most
/// `timeoutMilliseconds` and returns how many handler calls it made. Call it from the main
/// thread's event loop while editors are open.
int runEditorEvents(int timeoutMilliseconds);

/// The top-level X11 window an editor view is embedded in, and the frame the view talks to.
class EditorWindow : public Steinberg::IPlugFrame, public Steinberg::Linux::IEventHandler {
  public:
    static constexpr int minimumWidth = 400;
    static constexpr int minimumHeight = 300;

    /// Opens a window of at least the minimum size, centred and titled; null when no display
    /// can be opened (with the reason in `errorText`).
    static Steinberg::IPtr<EditorWindow> open(const std::string &title, int width, int height,
                                              std::string &errorText);

    /// Destroys the window and closes the display connection; safe to call twice.
    void close();

    /// The view shown in the window, once attached (null to forget it before it goes): the
    /// window then takes the size the user drags it to when the view can resize, and keeps
    /// the view's size otherwise.
    void setView(Steinberg::IPlugView *shown);
    /// Whether the user asked to close the window with its title bar's close button; the
    /// owner closes it.
    bool closeRequested() const { return closeAsked; }

    /// The X11 window id, the value handed to the view as "X11EmbedWindowID".
    unsigned long windowId() const { return window; }
    int width() const { return currentWidth; }
    int height() const { return currentHeight; }

    Steinberg::tresult PLUGIN_API resizeView(Steinberg::IPlugView *view,
                                             Steinberg::ViewRect *newSize) override;
    void PLUGIN_API onFDIsSet(Steinberg::Linux::FileDescriptor fd) override;

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **object) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

  private:
    EditorWindow() = default;
    virtual ~EditorWindow();

    /// Tells the window manager which sizes the user may give the window.
    void setSizeHints();
    /// The window now has the size the user gave it: the view follows, within its limits.
    void followUserSize(int width, int height);

    void *display = nullptr;
    unsigned long window = 0;
    unsigned long deleteWindowAtom = 0;
    bool closeAsked = false;
    Steinberg::IPlugView *view = nullptr;
    int currentWidth = 0;
    int currentHeight = 0;
    std::atomic<Steinberg::uint32> references{1};
};

} // namespace orvane::vst
