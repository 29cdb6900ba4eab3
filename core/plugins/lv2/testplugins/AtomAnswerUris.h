#pragma once

#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

inline constexpr const char *atomAnswerPluginUri = "urn:halvora:test:atom-answer";
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
