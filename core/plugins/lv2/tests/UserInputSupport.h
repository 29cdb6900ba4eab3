#pragma once

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace orvane::lv2::testing {

/// Where a window's top left corner is on the screen, and its size.
struct Placement {
    int x = 0, y = 0;
    unsigned width = 0, height = 0;
};

inline Placement placementOf(Display *connection, unsigned long window) {
    Placement placement;
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(connection, window, &attributes)) return placement;
    Window child = 0;
    XTranslateCoordinates(connection, window, DefaultRootWindow(connection), 0, 0, &placement.x,
                          &placement.y, &child);
    placement.width = static_cast<unsigned>(attributes.width);
    placement.height = static_cast<unsigned>(attributes.height);
    return placement;
}

/// The user turning a control: the mouse wheel rolled up once, through the X server's test
/// extension, at (x, y) on the screen.
inline void rollWheelAt(int x, int y) {
    Display *connection = XOpenDisplay(nullptr);
    if (!connection) return;
    XTestFakeMotionEvent(connection, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(connection, 4, True, CurrentTime);
    XTestFakeButtonEvent(connection, 4, False, CurrentTime);
    XCloseDisplay(connection);
}

/// Where on the screen the wheel turned something.
struct WheelSpot {
    int x = -1, y = -1;
    bool found() const { return x >= 0; }
};

/// Rolls the wheel over the window, point by point, until `turned` (asked after each roll,
/// and expected to wait a little for the interface) says a control moved. From the bottom up:
/// interfaces tend to keep their knobs under their displays, so this finds one sooner. An
/// interface may answer a roll late, so the spot is the one that answers a second roll too.
inline WheelSpot rollWheelUntil(unsigned long window, const std::function<bool()> &turned) {
    Display *connection = XOpenDisplay(nullptr);
    if (!connection) return {};
    const Placement placement = placementOf(connection, window);
    XCloseDisplay(connection);
    auto answers = [&](WheelSpot spot) {
        rollWheelAt(spot.x, spot.y);
        for (int patience = 0; patience < 8; ++patience)
            if (turned()) return true;
        return false;
    };
    constexpr int step = 24;
    WheelSpot previous;
    for (int y = static_cast<int>(placement.height) - step / 2; y >= 0; y -= step)
        for (int x = step / 2; x < static_cast<int>(placement.width); x += step) {
            const WheelSpot spot{placement.x + x, placement.y + y};
            rollWheelAt(spot.x, spot.y);
            if (!turned()) {
                previous = spot;
                continue;
            }
            if (answers(spot)) return spot;
            if (previous.found() && answers(previous)) return previous;
            previous = spot;
        }
    return {};
}

/// The top-level window whose title holds `title`, 0 when there is none.
inline unsigned long windowTitled(const std::string &title) {
    Display *connection = XOpenDisplay(nullptr);
    if (!connection) return 0;
    Window root = 0, parent = 0, *children = nullptr, found = 0;
    unsigned count = 0;
    if (XQueryTree(connection, DefaultRootWindow(connection), &root, &parent, &children, &count)) {
        for (unsigned index = 0; index < count && !found; ++index) {
            char *name = nullptr;
            if (XFetchName(connection, children[index], &name) && name) {
                if (std::string(name).find(title) != std::string::npos) found = children[index];
                XFree(name);
            }
        }
        if (children) XFree(children);
    }
    XCloseDisplay(connection);
    return found;
}

/// The top-level windows shown now.
inline std::vector<unsigned long> shownTopLevelWindows() {
    std::vector<unsigned long> shown;
    Display *connection = XOpenDisplay(nullptr);
    if (!connection) return shown;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(connection, DefaultRootWindow(connection), &root, &parent, &children, &count)) {
        for (unsigned index = 0; index < count; ++index) {
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(connection, children[index], &attributes) &&
                attributes.map_state == IsViewable)
                shown.push_back(children[index]);
        }
        if (children) XFree(children);
    }
    XCloseDisplay(connection);
    return shown;
}

/// A top-level window shown now that was not among `before`, 0 when there is none.
inline unsigned long newTopLevelWindow(const std::vector<unsigned long> &before) {
    for (unsigned long window : shownTopLevelWindows())
        if (std::find(before.begin(), before.end(), window) == before.end()) return window;
    return 0;
}

/// The process that owns the window, as the toolkit put it in _NET_WM_PID; -1 when unknown.
inline int processOfWindow(unsigned long window) {
    Display *connection = XOpenDisplay(nullptr);
    if (!connection) return -1;
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, left = 0;
    unsigned char *data = nullptr;
    int pid = -1;
    if (XGetWindowProperty(connection, window, XInternAtom(connection, "_NET_WM_PID", False), 0,
                           1, False, XA_CARDINAL, &type, &format, &items, &left,
                           &data) == Success &&
        data && items == 1 && format == 32)
        pid = static_cast<int>(*reinterpret_cast<unsigned long *>(data));
    if (data) XFree(data);
    XCloseDisplay(connection);
    return pid;
}

/// The window manager's close button: the message a window manager sends when it is clicked.
inline void askToCloseLikeAWindowManager(unsigned long window) {
    Display *connection = XOpenDisplay(nullptr);
    if (!connection) return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] =
        static_cast<long>(XInternAtom(connection, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(connection, window, False, NoEventMask, &event);
    XCloseDisplay(connection);
}

/// The window's pixels, row by row.
inline std::vector<unsigned long> windowPixels(unsigned long window) {
    std::vector<unsigned long> pixels;
    Display *connection = XOpenDisplay(nullptr);
    if (!connection) return pixels;
    const Placement placement = placementOf(connection, window);
    if (XImage *image = XGetImage(connection, window, 0, 0, placement.width, placement.height,
                                  AllPlanes, ZPixmap)) {
        for (unsigned y = 0; y < placement.height; ++y)
            for (unsigned x = 0; x < placement.width; ++x)
                pixels.push_back(XGetPixel(image, static_cast<int>(x), static_cast<int>(y)));
        XDestroyImage(image);
    }
    XCloseDisplay(connection);
    return pixels;
}

/// The window as a PPM picture at `path`; false when it is blank (a single colour).
inline bool saveWindowPictureNow(unsigned long window, const std::filesystem::path &path) {
    Display *connection = XOpenDisplay(nullptr);
    if (!connection) return false;
    const Placement placement = placementOf(connection, window);
    XImage *image = XGetImage(connection, window, 0, 0, placement.width, placement.height,
                              AllPlanes, ZPixmap);
    bool varied = false;
    if (image) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream file(path, std::ios::binary);
        file << "P6\n" << placement.width << ' ' << placement.height << "\n255\n";
        const unsigned long first = XGetPixel(image, 0, 0);
        for (unsigned y = 0; y < placement.height; ++y)
            for (unsigned x = 0; x < placement.width; ++x) {
                const unsigned long pixel =
                    XGetPixel(image, static_cast<int>(x), static_cast<int>(y));
                varied = varied || pixel != first;
                const char rgb[3] = {static_cast<char>((pixel >> 16) & 0xff),
                                     static_cast<char>((pixel >> 8) & 0xff),
                                     static_cast<char>(pixel & 0xff)};
                file.write(rgb, 3);
            }
        XDestroyImage(image);
    }
    XCloseDisplay(connection);
    return varied;
}

/// As `saveWindowPictureNow`, giving an interface that draws late up to `waitMilliseconds`,
/// with `letRun` called between tries.
inline bool saveWindowPicture(unsigned long window, const std::filesystem::path &path,
                              const std::function<void()> &letRun, int waitMilliseconds = 2000) {
    for (int waited = 0;; waited += 100) {
        if (saveWindowPictureNow(window, path)) return true;
        if (waited >= waitMilliseconds) return false;
        letRun();
    }
}

} // namespace orvane::lv2::testing
