// The interface of the atom-answer plug-in: as it starts it asks the plug-in about 21 in an
// atom, and when the answer comes back it writes the number it heard to the plug-in's "heard"
// control, which the host can read. It shows a plain window of its own inside the host's.
#include "core/plugins/lv2/testplugins/AtomAnswerUris.h"

#include <cstdint>
#include <cstring>
#include <lv2/ui/ui.h>

#include <X11/Xlib.h>

namespace {

constexpr uint32_t controlPort = 0, heardPort = 3;
constexpr int32_t question = 21;

struct Interface {
    AtomAnswerUrids urids{};
    LV2UI_Write_Function write = nullptr;
    LV2UI_Controller controller = nullptr;
    Display *display = nullptr;
    Window window = 0;
};

void ask(Interface &ui, LV2_URID_Map *map) {
    uint8_t buffer[256];
    const uint32_t size = forgeAtomAsking(*map, ui.urids, question, buffer, sizeof buffer);
    if (size > 0) ui.write(ui.controller, controlPort, size, ui.urids.eventTransfer, buffer);
}

LV2UI_Handle instantiate(const LV2UI_Descriptor *, const char *, const char *,
                         LV2UI_Write_Function write, LV2UI_Controller controller,
                         LV2UI_Widget *widget, const LV2_Feature *const *features) {
    LV2_URID_Map *map = nullptr;
    Window parent = 0;
    for (int index = 0; features[index]; ++index) {
        if (std::strcmp(features[index]->URI, LV2_URID__map) == 0)
            map = static_cast<LV2_URID_Map *>(features[index]->data);
        if (std::strcmp(features[index]->URI, LV2_UI__parent) == 0)
            parent = reinterpret_cast<Window>(features[index]->data);
    }
    if (!map || !parent) return nullptr;
    auto *ui = new Interface;
    ui->urids = mapAtomAnswerUrids(*map, false);
    ui->write = write;
    ui->controller = controller;
    ui->display = XOpenDisplay(nullptr);
    if (!ui->display) {
        delete ui;
        return nullptr;
    }
    ui->window = XCreateSimpleWindow(ui->display, parent, 0, 0, 160, 60, 0, 0, 0xffffff);
    XMapWindow(ui->display, ui->window);
    XSync(ui->display, False);
    *widget = reinterpret_cast<LV2UI_Widget>(ui->window);
    ask(*ui, map);
    return ui;
}

void cleanup(LV2UI_Handle handle) {
    auto *ui = static_cast<Interface *>(handle);
    XDestroyWindow(ui->display, ui->window);
    XCloseDisplay(ui->display);
    delete ui;
}

void portEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format,
               const void *buffer) {
    auto &ui = *static_cast<Interface *>(handle);
    if (float heard = 0.0f; heardAnswer(ui.urids, port, format, buffer, size, heard))
        ui.write(ui.controller, heardPort, sizeof heard, 0, &heard);
}

const LV2UI_Descriptor descriptor = {"urn:halvora:test:atom-answer#ui", instantiate, cleanup,
                                     portEvent, nullptr};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor *lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
