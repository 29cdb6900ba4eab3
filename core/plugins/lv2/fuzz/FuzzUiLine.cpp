#include "core/plugins/lv2/Lv2UiProtocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

// The numbers one side might give the atom types; the fuzzer's lines use them too.
const orvane::lv2::AtomTypeIds types{1, 2, 3, 4, 5, 6, 7, 8, 9};

// Any line from an interface host reads as one message or is refused. An atom's names, walked
// as the receiver walks them, are read within the atom: unchanged when each keeps its number,
// and walked (or refused) the same way when each gets another.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string line(reinterpret_cast<const char *>(data), size);
    orvane::lv2::UiMessage message;
    if (!orvane::lv2::parseUiMessage(line, message) ||
        message.kind != orvane::lv2::UiMessage::Kind::atom)
        return 0;
    std::vector<uint8_t> atom = message.atom;
    const bool readable = orvane::lv2::translateAtomUrids(
        atom.data(), atom.size(), [](uint32_t number) { return number; }, types);
    if (atom != message.atom) std::abort(); // keeping every number changed the atom
    std::vector<uint8_t> renumbered = message.atom;
    // Types keep their numbers so that the walk takes the same path.
    const bool walked = orvane::lv2::translateAtomUrids(
        renumbered.data(), renumbered.size(),
        [](uint32_t number) { return number <= 9 ? number : number ^ 0x5a5a0000u; }, types);
    if (walked != readable) std::abort();
    return 0;
}
