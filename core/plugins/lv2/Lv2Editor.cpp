#include "core/plugins/lv2/Lv2Editor.h"

#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/Lv2World.h"

#include <cmath>
#include <mutex>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <lilv/lilv.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>
#include <suil/suil.h>

namespace orvane::lv2 {

namespace {

constexpr const char *x11UiType = LV2_UI__X11UI;
constexpr int initialWidth = 400, initialHeight = 300;

/// The interface to show and what suil needs to load it.
struct UiChoice {
    std::string uri, typeUri, bundlePath, binaryPath;
};

std::string pathOf(const LilvNode *uri) {
    char *path = lilv_file_uri_parse(lilv_node_as_uri(uri), nullptr);
    std::string text = path ? path : "";
    lilv_free(path);
    return text;
}

bool chooseUi(const LilvPlugin *plugin, UiChoice &choice) {
    std::lock_guard lock(Lv2World::lock());
    LilvWorld *world = Lv2World::instance().world();
    LilvNode *hostType = lilv_new_uri(world, x11UiType);
    LilvUIs *uis = lilv_plugin_get_uis(plugin);
    bool found = false;
    LILV_FOREACH(uis, iterator, uis) {
        const LilvUI *ui = lilv_uis_get(uis, iterator);
        const LilvNode *type = nullptr;
        if (lilv_ui_is_supported(ui, suil_ui_supported, hostType, &type) == 0 || !type) continue;
        choice = {lilv_node_as_uri(lilv_ui_get_uri(ui)), lilv_node_as_uri(type),
                  pathOf(lilv_ui_get_bundle_uri(ui)), pathOf(lilv_ui_get_binary_uri(ui))};
        found = true;
        break;
    }
    lilv_uis_free(uis);
    lilv_node_free(hostType);
    return found;
}

} // namespace

struct Lv2EditorState {
    Display *display = nullptr;
    Window window = 0;
    Atom deleteWindow = 0;
    SuilHost *host = nullptr;
    SuilInstance *instance = nullptr;
    const LV2UI_Idle_Interface *idleInterface = nullptr;
    /// The value each control input had when last shown, so only changes are sent.
    std::vector<float> shown;
    LV2_URID_Map map{};
    LV2_URID_Unmap unmap{};
    LV2UI_Resize resize{};
    LV2_Feature mapFeature{LV2_URID__map, &map}, unmapFeature{LV2_URID__unmap, &unmap},
        parentFeature{LV2_UI__parent, nullptr}, resizeFeature{LV2_UI__resize, &resize},
        idleFeature{LV2_UI__idleInterface, nullptr};
};

namespace {

Lv2Plugin &pluginOf(SuilController controller) { return *static_cast<Lv2Plugin *>(controller); }

// What the user turns in the interface: protocol 0 carries one float for a control port.
void writeFromUi(SuilController controller, uint32_t port, uint32_t size, uint32_t protocol,
                 const void *buffer) {
    if (protocol != 0 || size != sizeof(float)) return;
    Lv2Plugin &plugin = pluginOf(controller);
    const int index = plugin.parameterIndexForPort(port);
    if (index >= 0)
        (void)plugin.setParameterValue(static_cast<size_t>(index),
                                       *static_cast<const float *>(buffer)); // index checked
}

uint32_t portIndexOf(SuilController controller, const char *symbol) {
    Lv2Plugin &plugin = pluginOf(controller);
    const int index = plugin.parameterIndex(symbol);
    return index < 0 ? LV2UI_INVALID_PORT_INDEX
                     : plugin.parameters[static_cast<size_t>(index)].portIndex;
}

int resizeWindow(LV2UI_Feature_Handle handle, int width, int height) {
    auto &state = *static_cast<Lv2EditorState *>(handle);
    if (width <= 0 || height <= 0) return 1;
    XResizeWindow(state.display, state.window, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    return 0;
}

LV2_URID mapUri(LV2_URID_Map_Handle, const char *uri) { return Lv2World::uridMap().map(uri); }
const char *unmapUri(LV2_URID_Unmap_Handle, LV2_URID urid) {
    return Lv2World::uridMap().unmap(urid);
}

} // namespace

Lv2Editor::Lv2Editor(Lv2Plugin &hosted) : plugin(hosted) {}

Lv2Editor::~Lv2Editor() { close(); }

bool Lv2Editor::available() const {
    UiChoice choice;
    return plugin.lilvPlugin() && chooseUi(plugin.lilvPlugin(), choice);
}

bool Lv2Editor::isOpen() const { return state != nullptr; }

unsigned long Lv2Editor::windowId() const { return state ? state->window : 0; }

bool Lv2Editor::open() {
    if (state) return true;
    UiChoice choice;
    if (!plugin.lilvPlugin() || !chooseUi(plugin.lilvPlugin(), choice)) {
        lastError = "the plug-in has no interface that can be shown here";
        return false;
    }
    auto opened = std::make_unique<Lv2EditorState>();
    opened->display = XOpenDisplay(nullptr);
    if (!opened->display) {
        lastError = "no display";
        return false;
    }
    Display *display = opened->display;
    opened->window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, initialWidth,
                                         initialHeight, 0, 0, 0);
    XStoreName(display, opened->window, plugin.description.name.c_str());
    opened->deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, opened->window, &opened->deleteWindow, 1);
    XMapWindow(display, opened->window);
    XSync(display, False);
    opened->map.map = &mapUri;
    opened->unmap.unmap = &unmapUri;
    opened->resize = {opened.get(), &resizeWindow};
    opened->parentFeature.data = reinterpret_cast<void *>(opened->window);
    const LV2_Feature *features[] = {&opened->mapFeature,    &opened->unmapFeature,
                                     &opened->parentFeature, &opened->resizeFeature,
                                     &opened->idleFeature,   nullptr};
    // A library that cannot be loaded fails the instantiation below, which says so.
    (void)keepModuleResident(choice.binaryPath);
    opened->host = suil_host_new(&writeFromUi, &portIndexOf, nullptr, nullptr);
    opened->instance = suil_instance_new(
        opened->host, &plugin, x11UiType, uriFromPluginId(plugin.description.uid).c_str(),
        choice.uri.c_str(), choice.typeUri.c_str(), choice.bundlePath.c_str(),
        choice.binaryPath.c_str(), features);
    state = std::move(opened);
    if (!state->instance) {
        close();
        lastError = "the plug-in's interface did not start";
        return false;
    }
    state->idleInterface = static_cast<const LV2UI_Idle_Interface *>(
        suil_instance_extension_data(state->instance, LV2_UI__idleInterface));
    state->shown.assign(plugin.parameters.size(), std::nanf(""));
    idle();
    return true;
}

void Lv2Editor::close() {
    if (!state) return;
    if (state->instance) suil_instance_free(state->instance);
    if (state->host) suil_host_free(state->host);
    XDestroyWindow(state->display, state->window);
    XCloseDisplay(state->display);
    state.reset();
}

void Lv2Editor::idle() {
    if (!state) return;
    for (size_t index = 0; index < plugin.parameters.size(); ++index) {
        const float value = plugin.parameterValue(index);
        if (value == state->shown[index]) continue;
        state->shown[index] = value;
        suil_instance_port_event(state->instance, plugin.parameters[index].portIndex, sizeof value,
                                 0, &value);
    }
    bool closing = false;
    while (XPending(state->display) > 0) {
        XEvent event;
        XNextEvent(state->display, &event);
        closing = closing || (event.type == ClientMessage &&
                              static_cast<Atom>(event.xclient.data.l[0]) == state->deleteWindow);
    }
    const bool uiClosed =
        state->idleInterface &&
        state->idleInterface->idle(suil_instance_get_handle(state->instance)) != 0;
    if (closing || uiClosed) close();
}

} // namespace orvane::lv2
