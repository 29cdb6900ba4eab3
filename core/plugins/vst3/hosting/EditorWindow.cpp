#include "core/plugins/vst3/hosting/EditorWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>
#include <poll.h>

namespace orvane::vst {

using Steinberg::kInvalidArgument;
using Steinberg::kNoInterface;
using Steinberg::kResultFalse;
using Steinberg::kResultOk;
using Steinberg::kResultTrue;
using Steinberg::tresult;
using namespace Steinberg::Linux;

namespace {

// Xlib's default error handler ends the process; a plug-in editor that touches a window the
// host already destroyed must not take the application with it.
int ignoreXError(Display *, XErrorEvent *) { return 0; }

void installXErrorHandlerOnce() {
    static bool installed = [] {
        XSetErrorHandler(ignoreXError);
        return true;
    }();
    (void)installed;
}

Display *asDisplay(void *display) { return static_cast<Display *>(display); }

void setTitle(Display *display, Window window, const std::string &title) {
    XStoreName(display, window, title.c_str());
    Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom utf8String = XInternAtom(display, "UTF8_STRING", False);
    XChangeProperty(display, window, netWmName, utf8String, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(title.data()),
                    static_cast<int>(title.size()));
}

} // namespace

EditorRunLoop &EditorRunLoop::instance() {
    static auto *runLoop = new EditorRunLoop();
    return *runLoop;
}

tresult PLUGIN_API EditorRunLoop::registerEventHandler(IEventHandler *handler, FileDescriptor fd) {
    if (handler == nullptr || fd < 0) return kInvalidArgument;
    handler->addRef();
    handlers.push_back({handler, fd});
    return kResultOk;
}

tresult PLUGIN_API EditorRunLoop::unregisterEventHandler(IEventHandler *handler) {
    auto found = std::find_if(handlers.begin(), handlers.end(),
                              [handler](const Handler &entry) { return entry.handler == handler; });
    if (found == handlers.end()) return kResultFalse;
    // Released only after it left the list, since release may re-enter the run loop.
    std::vector<IEventHandler *> removed;
    for (auto it = handlers.begin(); it != handlers.end();) {
        if (it->handler == handler) {
            removed.push_back(it->handler);
            it = handlers.erase(it);
        } else {
            ++it;
        }
    }
    for (IEventHandler *entry : removed)
        entry->release();
    return kResultOk;
}

tresult PLUGIN_API EditorRunLoop::registerTimer(ITimerHandler *handler,
                                                TimerInterval milliseconds) {
    if (handler == nullptr || milliseconds == 0) return kInvalidArgument;
    handler->addRef();
    auto interval = std::chrono::milliseconds(milliseconds);
    timers.push_back({handler, interval, std::chrono::steady_clock::now() + interval});
    return kResultOk;
}

tresult PLUGIN_API EditorRunLoop::unregisterTimer(ITimerHandler *handler) {
    std::vector<ITimerHandler *> removed;
    for (auto it = timers.begin(); it != timers.end();) {
        if (it->handler == handler) {
            removed.push_back(it->handler);
            it = timers.erase(it);
        } else {
            ++it;
        }
    }
    for (ITimerHandler *entry : removed)
        entry->release();
    return removed.empty() ? kResultFalse : kResultOk;
}

tresult PLUGIN_API EditorRunLoop::queryInterface(const Steinberg::TUID iid, void **object) {
    QUERY_INTERFACE(iid, object, Steinberg::FUnknown::iid, IRunLoop)
    QUERY_INTERFACE(iid, object, IRunLoop::iid, IRunLoop)
    *object = nullptr;
    return kNoInterface;
}

// Handlers may register or unregister others while they run, so each pass works on a copy and
// checks that an entry is still registered before calling it.
int EditorRunLoop::fireDueTimers() {
    auto now = std::chrono::steady_clock::now();
    std::vector<ITimerHandler *> due;
    for (Timer &timer : timers) {
        if (timer.due > now) continue;
        due.push_back(timer.handler);
        timer.due = now + timer.interval;
    }
    int calls = 0;
    for (ITimerHandler *handler : due) {
        bool stillRegistered = std::any_of(timers.begin(), timers.end(), [handler](const Timer &t) {
            return t.handler == handler;
        });
        if (!stillRegistered) continue;
        handler->onTimer();
        ++calls;
    }
    return calls;
}

int EditorRunLoop::callReadyHandlers(int timeoutMilliseconds) {
    std::vector<pollfd> descriptors;
    std::vector<Handler> polled = handlers;
    for (const Handler &entry : polled)
        descriptors.push_back({entry.fd, POLLIN, 0});
    if (poll(descriptors.data(), descriptors.size(), timeoutMilliseconds) <= 0) return 0;
    int calls = 0;
    for (size_t index = 0; index < polled.size(); ++index) {
        if ((descriptors[index].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        IEventHandler *handler = polled[index].handler;
        bool stillRegistered =
            std::any_of(handlers.begin(), handlers.end(),
                        [handler](const Handler &entry) { return entry.handler == handler; });
        if (!stillRegistered) continue;
        handler->onFDIsSet(polled[index].fd);
        ++calls;
    }
    return calls;
}

int EditorRunLoop::dispatch(int timeoutMilliseconds) {
    int wait = std::max(timeoutMilliseconds, 0);
    auto now = std::chrono::steady_clock::now();
    for (const Timer &timer : timers) {
        auto untilDue =
            std::chrono::duration_cast<std::chrono::milliseconds>(timer.due - now).count();
        wait = std::min(wait, static_cast<int>(std::max<long long>(untilDue, 0)));
    }
    int calls = callReadyHandlers(wait);
    return calls + fireDueTimers();
}

int runEditorEvents(int timeoutMilliseconds) {
    return EditorRunLoop::instance().dispatch(timeoutMilliseconds);
}

Steinberg::IPtr<EditorWindow> EditorWindow::open(const std::string &title, int width, int height,
                                                 std::string &errorText) {
    installXErrorHandlerOnce();
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        errorText = "XOpenDisplay failed";
        return nullptr;
    }
    auto editor = Steinberg::owned(new EditorWindow());
    editor->display = display;
    editor->currentWidth = std::max(width, minimumWidth);
    editor->currentHeight = std::max(height, minimumHeight);
    int screen = DefaultScreen(display);
    int x = std::max((DisplayWidth(display, screen) - editor->currentWidth) / 2, 0);
    int y = std::max((DisplayHeight(display, screen) - editor->currentHeight) / 2, 0);
    editor->window = XCreateSimpleWindow(display, RootWindow(display, screen), x, y,
                                         static_cast<unsigned>(editor->currentWidth),
                                         static_cast<unsigned>(editor->currentHeight), 0,
                                         BlackPixel(display, screen), BlackPixel(display, screen));
    setTitle(display, editor->window, title);
    // Its title bar's close button asks instead of ending the connection, which would end
    // the process with it.
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, editor->window, &deleteWindow, 1);
    editor->deleteWindowAtom = deleteWindow;
    XSelectInput(display, editor->window, StructureNotifyMask);
    XMapRaised(display, editor->window);
    XSync(display, False);
    EditorRunLoop::instance().registerEventHandler(editor.get(), ConnectionNumber(display));
    return editor;
}

void EditorWindow::setView(Steinberg::IPlugView *shown) {
    view = shown;
    setSizeHints();
}

void EditorWindow::setSizeHints() {
    if (display == nullptr || window == 0) return;
    XSizeHints *hints = XAllocSizeHints();
    if (!hints) return;
    hints->flags = PMinSize | PMaxSize;
    if (view && view->canResize() == kResultTrue) {
        hints->min_width = minimumWidth;
        hints->min_height = minimumHeight;
        hints->max_width = hints->max_height = 1 << 15;
    } else {
        hints->min_width = hints->max_width = currentWidth;
        hints->min_height = hints->max_height = currentHeight;
    }
    XSetWMNormalHints(asDisplay(display), window, hints);
    XFree(hints);
    XFlush(asDisplay(display));
}

void EditorWindow::followUserSize(int width, int height) {
    if (width == currentWidth && height == currentHeight) return;
    if (!view || view->canResize() != kResultTrue) {
        // Back to the view's size: a window manager may not have heeded the hints.
        XResizeWindow(asDisplay(display), window, static_cast<unsigned>(currentWidth),
                      static_cast<unsigned>(currentHeight));
        XFlush(asDisplay(display));
        return;
    }
    Steinberg::ViewRect size(0, 0, std::max(width, minimumWidth), std::max(height, minimumHeight));
    (void)view->checkSizeConstraint(&size); // it adjusts `size` to what it can take, or leaves it
    currentWidth = std::max(size.getWidth(), minimumWidth);
    currentHeight = std::max(size.getHeight(), minimumHeight);
    view->onSize(&size);
    if (currentWidth != width || currentHeight != height) {
        XResizeWindow(asDisplay(display), window, static_cast<unsigned>(currentWidth),
                      static_cast<unsigned>(currentHeight));
        XFlush(asDisplay(display));
    }
}

void EditorWindow::close() {
    view = nullptr;
    if (display == nullptr) return;
    EditorRunLoop::instance().unregisterEventHandler(this);
    if (window != 0) XDestroyWindow(asDisplay(display), window);
    XSync(asDisplay(display), False);
    XCloseDisplay(asDisplay(display));
    display = nullptr;
    window = 0;
}

EditorWindow::~EditorWindow() { close(); }

tresult PLUGIN_API EditorWindow::resizeView(Steinberg::IPlugView *view,
                                            Steinberg::ViewRect *newSize) {
    if (view == nullptr || newSize == nullptr || display == nullptr) return kInvalidArgument;
    // The view gets the size it asked for; the window around it never shrinks below the
    // minimum, as when it was opened.
    currentWidth = std::max(newSize->getWidth(), minimumWidth);
    currentHeight = std::max(newSize->getHeight(), minimumHeight);
    XResizeWindow(asDisplay(display), window, static_cast<unsigned>(currentWidth),
                  static_cast<unsigned>(currentHeight));
    setSizeHints();
    return view->onSize(newSize);
}

// The host's own connection carries the window manager's messages and the window's size; the
// editor draws through its own connection.
void PLUGIN_API EditorWindow::onFDIsSet(FileDescriptor) {
    if (display == nullptr) return;
    int width = currentWidth, height = currentHeight;
    while (XPending(asDisplay(display)) > 0) {
        XEvent event;
        XNextEvent(asDisplay(display), &event);
        if (event.type == ClientMessage &&
            static_cast<unsigned long>(event.xclient.data.l[0]) == deleteWindowAtom)
            closeAsked = true;
        if (event.type == ConfigureNotify && event.xconfigure.window == window) {
            width = event.xconfigure.width;
            height = event.xconfigure.height;
        }
    }
    if (!closeAsked) followUserSize(width, height);
}

tresult PLUGIN_API EditorWindow::queryInterface(const Steinberg::TUID iid, void **object) {
    QUERY_INTERFACE(iid, object, Steinberg::FUnknown::iid, IPlugFrame)
    QUERY_INTERFACE(iid, object, IPlugFrame::iid, IPlugFrame)
    QUERY_INTERFACE(iid, object, IEventHandler::iid, IEventHandler)
    // Plug-ins find the run loop by asking the frame for it.
    if (Steinberg::FUnknownPrivate::iidEqual(iid, IRunLoop::iid)) {
        *object = static_cast<IRunLoop *>(&EditorRunLoop::instance());
        return kResultOk;
    }
    *object = nullptr;
    return kNoInterface;
}

Steinberg::uint32 PLUGIN_API EditorWindow::addRef() { return ++references; }

Steinberg::uint32 PLUGIN_API EditorWindow::release() {
    Steinberg::uint32 remaining = --references;
    if (remaining == 0) delete this;
    return remaining;
}

} // namespace orvane::vst
