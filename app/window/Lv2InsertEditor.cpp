#include "app/window/Lv2InsertEditor.h"

#include "core/plugins/PluginRack.h"
#include "core/plugins/lv2/Lv2Editor.h"
#include "core/plugins/lv2/Lv2Plugin.h"

#include <mutex>

namespace orvane {

Lv2InsertEditor::Lv2InsertEditor() = default;

Lv2InsertEditor::~Lv2InsertEditor() { close(); }

std::shared_ptr<lv2::Lv2Plugin> Lv2InsertEditor::pluginOf(vst::PluginRack &rack, uint64_t trackId,
                                                          int insertIndex) {
    std::lock_guard lock(rack.slotsMutex);
    for (const vst::Slot &slot : rack.slots)
        if (slot.trackId == trackId && slot.insertIndex == insertIndex) return slot.lv2Plugin;
    return nullptr;
}

bool Lv2InsertEditor::open(std::shared_ptr<lv2::Lv2Plugin> chosen) {
    close();
    if (!chosen) return false;
    auto made = std::make_unique<lv2::Lv2Editor>(*chosen);
    lv2::Lv2Plugin *edited = chosen.get();
    made->onEdited = [this, edited](size_t index, float value) {
        const float before = edited->getParameterNormalizedAt(index);
        if (!edited->setParameterValue(index, value)) return;
        const float after = edited->getParameterNormalizedAt(index);
        // The rack, as the parameter window, names an LV2 plug-in's controls in process by
        // their place in its list.
        if (onEdited && after != before) onEdited(static_cast<uint32_t>(index), before, after);
    };
    if (!made->open()) {
        lastError = made->lastError;
        return false;
    }
    plugin = std::move(chosen);
    editor = std::move(made);
    lastError.clear();
    return true;
}

std::string Lv2InsertEditor::lastClosing() const { return editor ? editor->lastClosing : ""; }

void Lv2InsertEditor::close() {
    editor.reset();
    plugin.reset();
}

void Lv2InsertEditor::idle() {
    if (editor && editor->isOpen()) editor->idle();
}

bool Lv2InsertEditor::isOpen() const { return editor && editor->isOpen(); }

unsigned long Lv2InsertEditor::windowId() const {
    return editor && editor->isOpen() ? editor->windowId() : 0;
}

} // namespace orvane
