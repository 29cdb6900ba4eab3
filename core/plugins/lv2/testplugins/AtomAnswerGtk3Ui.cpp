// A GTK 3 interface for the atom-answer plug-in: as its X11 twin, it asks about 21 in an atom
// as it starts and writes the answer it hears to "heard"; a slider of its own turns "turned",
// and follows that control when it is set elsewhere. It can only show in a GTK 3 host.
#include "core/plugins/lv2/testplugins/AtomAnswerUris.h"

#include <cstdint>
#include <cstring>
#include <gtk/gtk.h>
#include <lv2/ui/ui.h>

namespace {

constexpr uint32_t controlPort = 0, heardPort = 3, turnedPort = 8;
constexpr int32_t question = 21;

struct Interface {
    AtomAnswerUrids urids{};
    LV2UI_Write_Function write = nullptr;
    LV2UI_Controller controller = nullptr;
    GtkWidget *slider = nullptr;
    bool showing = false;
};

void ask(Interface &ui, LV2_URID_Map *map) {
    uint8_t buffer[256];
    const uint32_t size = forgeAtomAsking(*map, ui.urids, question, buffer, sizeof buffer);
    if (size > 0) ui.write(ui.controller, controlPort, size, ui.urids.eventTransfer, buffer);
}

void turned(GtkRange *range, gpointer data) {
    auto &ui = *static_cast<Interface *>(data);
    if (ui.showing) return; // a value the host sent, not the user's
    const auto value = static_cast<float>(gtk_range_get_value(range));
    ui.write(ui.controller, turnedPort, sizeof value, 0, &value);
}

LV2UI_Handle instantiate(const LV2UI_Descriptor *, const char *, const char *,
                         LV2UI_Write_Function write, LV2UI_Controller controller,
                         LV2UI_Widget *widget, const LV2_Feature *const *features) {
    LV2_URID_Map *map = nullptr;
    for (int index = 0; features[index]; ++index)
        if (std::strcmp(features[index]->URI, LV2_URID__map) == 0)
            map = static_cast<LV2_URID_Map *>(features[index]->data);
    if (!map) return nullptr;
    auto *ui = new Interface;
    ui->urids = mapAtomAnswerUrids(*map, false);
    ui->write = write;
    ui->controller = controller;
    ui->slider = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0.0, 100.0, 1.0);
    gtk_widget_set_size_request(ui->slider, 320, 60);
    g_signal_connect(ui->slider, "value-changed", G_CALLBACK(turned), ui);
    *widget = ui->slider;
    ask(*ui, map);
    return ui;
}

void cleanup(LV2UI_Handle handle) { delete static_cast<Interface *>(handle); }

void portEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format,
               const void *buffer) {
    auto &ui = *static_cast<Interface *>(handle);
    if (port == turnedPort && format == 0 && size == sizeof(float)) {
        ui.showing = true;
        gtk_range_set_value(GTK_RANGE(ui.slider), *static_cast<const float *>(buffer));
        ui.showing = false;
        return;
    }
    if (float heard = 0.0f; heardAnswer(ui.urids, port, format, buffer, size, heard))
        ui.write(ui.controller, heardPort, sizeof heard, 0, &heard);
}

const LV2UI_Descriptor descriptor = {"urn:halvora:test:atom-answer#gtk3ui", instantiate, cleanup,
                                     portEvent, nullptr};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor *lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
