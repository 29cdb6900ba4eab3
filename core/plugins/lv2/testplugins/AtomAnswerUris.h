#pragma once

#include <cstdint>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/urid/urid.h>

inline constexpr const char *atomAnswerPluginUri = "urn:halvora:test:atom-answer";
/// The same plug-in, with a GTK 3 interface.
inline constexpr const char *atomAnswerGtk3PluginUri = "urn:halvora:test:atom-answer-gtk3";
inline constexpr const char *atomAnswerAskUri = "urn:halvora:test:atom-answer#Ask";
inline constexpr const char *atomAnswerAnswerUri = "urn:halvora:test:atom-answer#Answer";
inline constexpr const char *atomAnswerNumberUri = "urn:halvora:test:atom-answer#number";

/// What the plug-in and its interface both name.
struct AtomAnswerUrids {
    LV2_URID object = 0, integer = 0, eventTransfer = 0, ask = 0, answer = 0, number = 0;
};

/// Maps the names, backwards when `backwards`: the plug-in and its interface each ask in an
/// order of their own, so that where they have maps of their own the numbers differ.
inline AtomAnswerUrids mapAtomAnswerUrids(const LV2_URID_Map &map, bool backwards) {
    const char *uris[] = {LV2_ATOM__Object, LV2_ATOM__Int,       LV2_ATOM__eventTransfer,
                          atomAnswerAskUri, atomAnswerAnswerUri, atomAnswerNumberUri};
    LV2_URID ids[6] = {};
    for (int step = 0; step < 6; ++step) {
        const int at = backwards ? 5 - step : step;
        ids[at] = map.map(map.handle, uris[at]);
    }
    return {ids[0], ids[1], ids[2], ids[3], ids[4], ids[5]};
}

/// Writes an "Ask" object about `number` into `buffer`; its whole size, 0 when it did not fit.
inline uint32_t forgeAtomAsking(LV2_URID_Map &map, const AtomAnswerUrids &urids, int32_t number,
                                uint8_t *buffer, uint32_t capacity) {
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, &map);
    lv2_atom_forge_set_buffer(&forge, buffer, capacity);
    LV2_Atom_Forge_Frame object;
    if (!lv2_atom_forge_object(&forge, &object, 0, urids.ask)) return 0;
    lv2_atom_forge_key(&forge, urids.number);
    if (!lv2_atom_forge_int(&forge, number)) return 0;
    lv2_atom_forge_pop(&forge, &object);
    return lv2_atom_total_size(reinterpret_cast<const LV2_Atom *>(buffer));
}

/// The number an "Answer" object carries; false for any other atom.
inline bool atomAnswerNumber(const AtomAnswerUrids &urids, const void *atom, uint32_t size,
                             int32_t &number) {
    const auto *object = static_cast<const LV2_Atom_Object *>(atom);
    if (size < sizeof(LV2_Atom_Object) || object->atom.type != urids.object ||
        object->body.otype != urids.answer || lv2_atom_total_size(&object->atom) > size)
        return false;
    const LV2_Atom *found = nullptr;
    lv2_atom_object_get(object, urids.number, &found, 0);
    if (!found || found->type != urids.integer) return false;
    number = reinterpret_cast<const LV2_Atom_Int *>(found)->body;
    return true;
}

/// What an interface of the plug-in hears on its notify port (1): the number of an "Answer"
/// that came there as an atom; false for anything else.
inline bool heardAnswer(const AtomAnswerUrids &urids, uint32_t port, uint32_t format,
                        const void *buffer, uint32_t size, float &heard) {
    int32_t number = 0;
    if (port != 1 || format != urids.eventTransfer ||
        !atomAnswerNumber(urids, buffer, size, number))
        return false;
    heard = static_cast<float>(number);
    return true;
}
