#include "core/plugins/lv2/Lv2Editor.h"

#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/Lv2UiProcess.h"
#include "core/plugins/lv2/Lv2World.h"

#include <cmath>
#include <mutex>
#include <unistd.h>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/data-access/data-access.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>
#include <suil/suil.h>

namespace orvane::lv2 {

/// The interface to show, what suil needs to load it, and the host program that shows it in a
/// process of its own (empty: this process).
struct UiChoice {
    std::string uri, typeUri, bundlePath, binaryPath, hostProgram;
};

namespace {

constexpr const char *x11UiType = LV2_UI__X11UI;
constexpr int initialWidth = 400, initialHeight = 300;

/// The host programs by the toolkit whose windows they hold, in the order they are tried: GTK 2
/// first, since suil's wrappers let it hold X11 and Qt 5 interfaces too.
struct UiHostKind {
    const char *containerType;
    const char *program;
};
constexpr UiHostKind uiHostKinds[] = {{LV2_UI__GtkUI, "HalvoraUiHost"},
                                      {LV2_UI__Gtk3UI, "HalvoraUiHostGtk3"}};

std::string pathOf(const LilvNode *uri) {
    char *path = lilv_file_uri_parse(lilv_node_as_uri(uri), nullptr);
    std::string text = path ? path : "";
    lilv_free(path);
    return text;
}

/// Whether the interface needs to reach the plug-in's instance, which it cannot from a
/// process of its own.
bool needsInstance(LilvWorld *world, const LilvUI *ui) {
    LilvNode *required = lilv_new_uri(world, LV2_CORE__requiredFeature);
    LilvNodes *features = lilv_world_find_nodes(world, lilv_ui_get_uri(ui), required, nullptr);
    bool needs = false;
    LILV_FOREACH(nodes, iterator, features) {
        const std::string feature = lilv_node_as_uri(lilv_nodes_get(features, iterator));
        needs = needs || feature == LV2_INSTANCE_ACCESS_URI || feature == LV2_DATA_ACCESS_URI;
    }
    lilv_nodes_free(features);
    lilv_node_free(required);
    return needs;
}

/// An interface `containerType` can hold, natively or through suil's wrappers; one that needs
/// the plug-in's instance only when it is shown in this process.
bool findUi(const LilvPlugin *plugin, const char *containerType, bool inThisProcess,
            UiChoice &choice) {
    LilvWorld *world = Lv2World::instance().world();
    LilvNode *hostType = lilv_new_uri(world, containerType);
    LilvUIs *uis = lilv_plugin_get_uis(plugin);
    bool found = false;
    LILV_FOREACH(uis, iterator, uis) {
        const LilvUI *ui = lilv_uis_get(uis, iterator);
        const LilvNode *type = nullptr;
        if (lilv_ui_is_supported(ui, suil_ui_supported, hostType, &type) == 0 || !type) continue;
        if (!inThisProcess && needsInstance(world, ui)) continue;
        choice = {lilv_node_as_uri(lilv_ui_get_uri(ui)),
                  lilv_node_as_uri(type),
                  pathOf(lilv_ui_get_bundle_uri(ui)),
                  pathOf(lilv_ui_get_binary_uri(ui)),
                  {}};
        found = true;
        break;
    }
    lilv_uis_free(uis);
    lilv_node_free(hostType);
    return found;
}

/// The interface to show: in this process one for X11, the program's own toolkit-free kind;
/// in a host process one a host's GTK window can hold.
bool chooseUi(const LilvPlugin *plugin, UiChoice &choice, bool inThisProcess) {
    std::lock_guard lock(Lv2World::lock());
    if (inThisProcess) return findUi(plugin, x11UiType, true, choice);
    for (const UiHostKind &kind : uiHostKinds)
        if (findUi(plugin, kind.containerType, false, choice)) {
            choice.hostProgram = kind.program;
            return true;
        }
    return false;
}

} // namespace

struct Lv2EditorState {
    Lv2Editor *editor = nullptr;
    Lv2Plugin *plugin = nullptr;
    /// Set when the interface runs in the host process; the X11 fields then stay unused.
    std::unique_ptr<Lv2UiProcess> process;
    Display *display = nullptr;
    Window window = 0;
    Atom deleteWindow = 0;
    SuilHost *host = nullptr;
    SuilInstance *instance = nullptr;
    const LV2UI_Idle_Interface *idleInterface = nullptr;
    /// The value each control input had when last shown, so only changes are sent.
    std::vector<float> shown;
    /// The same for the control outputs (meters), by port.
    std::vector<uint32_t> outputPorts;
    std::vector<float> outputsShown;
    /// This process's number for an atom crossing to or from an interface.
    uint32_t eventTransfer = 0;
    LV2_URID_Map map{};
    LV2_URID_Unmap unmap{};
    LV2UI_Resize resize{};
    LV2_Feature mapFeature{LV2_URID__map, &map}, unmapFeature{LV2_URID__unmap, &unmap},
        parentFeature{LV2_UI__parent, nullptr}, resizeFeature{LV2_UI__resize, &resize},
        idleFeature{LV2_UI__idleInterface, nullptr};
};

namespace {

Lv2Plugin &pluginOf(SuilController controller) {
    return *static_cast<Lv2EditorState *>(controller)->plugin;
}

} // namespace

void atomWrittenInProcess(Lv2EditorState &state, uint32_t port, uint32_t size, const void *atom) {
    state.editor->atomFromInterface(port, atom, size);
}

namespace {

// What the user turns in the interface: protocol 0 carries one float for a control port, the
// event-transfer protocol an atom for an atom port.
void writeFromUi(SuilController controller, uint32_t port, uint32_t size, uint32_t protocol,
                 const void *buffer) {
    auto &state = *static_cast<Lv2EditorState *>(controller);
    if (protocol != 0 && protocol == state.eventTransfer) {
        atomWrittenInProcess(state, port, size, buffer);
        return;
    }
    if (protocol != 0 || size != sizeof(float)) return;
    const int index = state.plugin->parameterIndexForPort(port);
    if (index < 0) return;
    const float value = *static_cast<const float *>(buffer);
    if (state.editor->onEdited)
        state.editor->onEdited(static_cast<size_t>(index), value);
    else
        (void)state.plugin->setParameterValue(static_cast<size_t>(index), value); // index checked
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
    return plugin.lilvPlugin() &&
           ((!ownProcessOnly && chooseUi(plugin.lilvPlugin(), choice, true)) ||
            chooseUi(plugin.lilvPlugin(), choice, false));
}

bool Lv2Editor::isOpen() const { return state != nullptr; }

bool Lv2Editor::inOwnProcess() const { return state && state->process; }

int Lv2Editor::processId() const { return inOwnProcess() ? state->process->processId() : -1; }

unsigned long Lv2Editor::windowId() const {
    if (!state) return 0;
    return state->process ? state->process->windowId() : state->window;
}

bool Lv2Editor::open() {
    if (state) return true;
    lastClosing.clear();
    UiChoice choice;
    if (!plugin.lilvPlugin()) {
        lastError = "the plug-in has no interface that can be shown here";
        return false;
    }
    if (ownProcessOnly || !chooseUi(plugin.lilvPlugin(), choice, true)) {
        if (!chooseUi(plugin.lilvPlugin(), choice, false)) {
            lastError = "the plug-in has no interface that can be shown here";
            return false;
        }
        return openInOwnProcess(choice);
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
    // Window managers (and tests) tell whose window it is by this.
    const unsigned long processId = static_cast<unsigned long>(getpid());
    XChangeProperty(display, opened->window, XInternAtom(display, "_NET_WM_PID", False),
                    XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(&processId), 1);
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
    opened->editor = this;
    opened->plugin = &plugin;
    opened->eventTransfer = Lv2World::uridMap().map(LV2_ATOM__eventTransfer);
    // Interfaces ask the plug-in for what they show as they start; the answer is kept.
    plugin.keepAtomsFromPlugin(true);
    opened->host = suil_host_new(&writeFromUi, &portIndexOf, nullptr, nullptr);
    opened->instance = suil_instance_new(
        opened->host, opened.get(), x11UiType, uriFromPluginId(plugin.description.uid).c_str(),
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

bool Lv2Editor::openInOwnProcess(const UiChoice &choice) {
    Lv2UiProcess::Launch launch{uriFromPluginId(plugin.description.uid),
                                choice.uri,
                                choice.typeUri,
                                choice.bundlePath,
                                choice.binaryPath,
                                plugin.description.name,
                                {},
                                {}};
    auto opened = std::make_unique<Lv2EditorState>();
    opened->shown.assign(plugin.parameters.size(), std::nanf(""));
    for (size_t index = 0; index < plugin.parameters.size(); ++index) {
        const Lv2Parameter &parameter = plugin.parameters[index];
        launch.ports.emplace_back(parameter.symbol, parameter.portIndex);
        opened->shown[index] = plugin.parameterValue(index);
        launch.values.emplace_back(parameter.portIndex, opened->shown[index]);
    }
    opened->process = std::make_unique<Lv2UiProcess>();
    plugin.keepAtomsFromPlugin(true);
    if (!opened->process->start(Lv2UiProcess::findProgram(choice.hostProgram, uiHostFolder),
                                launch)) {
        plugin.keepAtomsFromPlugin(false);
        lastError = opened->process->lastError;
        return false;
    }
    state = std::move(opened);
    return true;
}

void Lv2Editor::close() {
    if (!state) return;
    plugin.keepAtomsFromPlugin(false);
    if (state->process) {
        state->process->stop();
        state.reset();
        return;
    }
    if (state->instance) suil_instance_free(state->instance);
    if (state->host) suil_host_free(state->host);
    XDestroyWindow(state->display, state->window);
    XCloseDisplay(state->display);
    state.reset();
}

void Lv2Editor::idle() {
    if (!state) return;
    if (state->outputPorts.empty() && state->outputsShown.empty()) {
        state->outputPorts = plugin.controlOutputPorts();
        state->outputsShown.assign(state->outputPorts.size(), std::nanf(""));
        if (state->outputPorts.empty()) state->outputsShown.push_back(0.0f); // looked once
    }
    for (size_t at = 0; at < state->outputPorts.size(); ++at) {
        const uint32_t port = state->outputPorts[at];
        const float value = plugin.controlOutputValue(port);
        if (value == state->outputsShown[at]) continue;
        state->outputsShown[at] = value;
        if (state->process)
            state->process->sendValue(port, value);
        else
            suil_instance_port_event(state->instance, port, sizeof value, 0, &value);
    }
    passAtomsToInterface();
    for (size_t index = 0; index < plugin.parameters.size(); ++index) {
        const float value = plugin.parameterValue(index);
        if (value == state->shown[index]) continue;
        state->shown[index] = value;
        if (state->process)
            state->process->sendValue(plugin.parameters[index].portIndex, value);
        else
            suil_instance_port_event(state->instance, plugin.parameters[index].portIndex,
                                     sizeof value, 0, &value);
    }
    if (state->process) {
        Lv2UiProcess &process = *state->process;
        process.poll(
            [this](uint32_t port, float value) {
                const int index = plugin.parameterIndexForPort(port);
                if (index < 0) return;
                // What the user turned is shown already: it is not sent back.
                state->shown[static_cast<size_t>(index)] = value;
                if (onEdited)
                    onEdited(static_cast<size_t>(index), value);
                else
                    (void)plugin.setParameterValue(static_cast<size_t>(index), value); // checked
            },
            [this](uint32_t port, const std::vector<uint8_t> &atom) {
                atomFromInterface(port, atom.data(), atom.size());
            });
        if (!process.running()) {
            lastClosing = process.lastError;
            state.reset();
        }
        return;
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
    if (closing || uiClosed) {
        close();
        lastClosing = "closed";
    }
}

void Lv2Editor::atomFromInterface(uint32_t port, const void *atom, size_t size) {
    if (plugin.sendAtomToPlugin(port, atom, size)) ++traffic.fromInterface;
}

void Lv2Editor::passAtomsToInterface() {
    traffic.toInterface +=
        plugin.takeAtomsFromPlugin([this](uint32_t port, const uint8_t *atom, size_t size) {
            if (state->process)
                state->process->sendAtom(port, atom, size);
            else
                suil_instance_port_event(state->instance, port, static_cast<uint32_t>(size),
                                         state->eventTransfer, atom);
        });
}

} // namespace orvane::lv2
