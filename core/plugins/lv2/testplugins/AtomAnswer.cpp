// An LV2 plug-in that talks to its interface in atoms: each "Ask" object that arrives on its
// control port, carrying a number, is answered on its notify port by an "Answer" object with
// twice that number. Its control output counts the questions, so a test can tell the question
// arrived even without the interface. The binary holds it twice, under a second URI whose
// interface is a GTK 3 one.
#include "core/plugins/lv2/testplugins/AtomAnswerUris.h"

#include <cstdint>
#include <cstring>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

namespace {

struct Answerer {
    LV2_Atom_Forge forge{};
    AtomAnswerUrids urids{};
    const LV2_Atom_Sequence *control = nullptr;
    LV2_Atom_Sequence *notify = nullptr;
    const float *input[2] = {};
    float *output[2] = {};
    float *questions = nullptr;
    float asked = 0.0f;
};

LV2_Handle instantiate(const LV2_Descriptor *, double, const char *,
                       const LV2_Feature *const *features) {
    const LV2_URID_Map *map = nullptr;
    for (int index = 0; features[index]; ++index)
        if (std::strcmp(features[index]->URI, LV2_URID__map) == 0)
            map = static_cast<const LV2_URID_Map *>(features[index]->data);
    if (!map) return nullptr;
    auto *answerer = new Answerer;
    // Mapped in an order of its own, so that its numbers differ from an interface's elsewhere.
    answerer->urids = mapAtomAnswerUrids(*map, true);
    lv2_atom_forge_init(&answerer->forge, const_cast<LV2_URID_Map *>(map));
    return answerer;
}

void connectPort(LV2_Handle handle, uint32_t port, void *data) {
    auto *answerer = static_cast<Answerer *>(handle);
    switch (port) {
    case 0: answerer->control = static_cast<const LV2_Atom_Sequence *>(data); break;
    case 1: answerer->notify = static_cast<LV2_Atom_Sequence *>(data); break;
    case 2: answerer->questions = static_cast<float *>(data); break;
    case 3: // what the interface heard back, for the host to read
    case 8: // a control only the interface turns
        break;
    case 4:
    case 5: answerer->input[port - 4] = static_cast<const float *>(data); break;
    case 6:
    case 7: answerer->output[port - 6] = static_cast<float *>(data); break;
    default: break;
    }
}

void answer(Answerer &answerer, int64_t frame, int32_t number) {
    const AtomAnswerUrids &urids = answerer.urids;
    LV2_Atom_Forge_Frame object;
    lv2_atom_forge_frame_time(&answerer.forge, frame);
    lv2_atom_forge_object(&answerer.forge, &object, 0, urids.answer);
    lv2_atom_forge_key(&answerer.forge, urids.number);
    lv2_atom_forge_int(&answerer.forge, number * 2);
    lv2_atom_forge_pop(&answerer.forge, &object);
}

void run(LV2_Handle handle, uint32_t frames) {
    auto &answerer = *static_cast<Answerer *>(handle);
    const AtomAnswerUrids &urids = answerer.urids;
    const uint32_t capacity = answerer.notify->atom.size;
    lv2_atom_forge_set_buffer(&answerer.forge, reinterpret_cast<uint8_t *>(answerer.notify),
                              capacity + sizeof(LV2_Atom));
    LV2_Atom_Forge_Frame sequence;
    lv2_atom_forge_sequence_head(&answerer.forge, &sequence, 0);
    LV2_ATOM_SEQUENCE_FOREACH(answerer.control, event) {
        if (event->body.type != urids.object) continue;
        const auto *object = reinterpret_cast<const LV2_Atom_Object *>(&event->body);
        if (object->body.otype != urids.ask) continue;
        const LV2_Atom *number = nullptr;
        lv2_atom_object_get(object, urids.number, &number, 0);
        if (!number || number->type != urids.integer) continue;
        answerer.asked += 1.0f;
        answer(answerer, event->time.frames, reinterpret_cast<const LV2_Atom_Int *>(number)->body);
    }
    lv2_atom_forge_pop(&answerer.forge, &sequence);
    *answerer.questions = answerer.asked;
    for (uint32_t i = 0; i < frames; ++i) {
        answerer.output[0][i] = answerer.input[0][i];
        answerer.output[1][i] = answerer.input[1][i];
    }
}

void cleanup(LV2_Handle handle) { delete static_cast<Answerer *>(handle); }

const LV2_Descriptor descriptors[] = {
    {atomAnswerPluginUri, instantiate, connectPort, nullptr, run, nullptr, cleanup, nullptr},
    {atomAnswerGtk3PluginUri, instantiate, connectPort, nullptr, run, nullptr, cleanup, nullptr}};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor *lv2_descriptor(uint32_t index) {
    return index < 2 ? &descriptors[index] : nullptr;
}
