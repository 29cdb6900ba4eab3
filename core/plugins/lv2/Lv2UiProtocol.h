#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvane::lv2 {

/// One line between the program and its interface host process (see `Lv2UiProcess`).
struct UiMessage {
    enum class Kind { port, show, value, close, open, closed, error, atom, urid };
    Kind kind = Kind::close;
    uint32_t port = 0;
    float value = 0.0f;
    /// The port's symbol for `port`, the reason for `error`, the name for `urid`.
    std::string symbol;
    /// The number the sender gave the name, for `urid`.
    uint32_t urid = 0;
    /// For `atom`: the whole atom, its header first, in the sender's numbers.
    std::vector<uint8_t> atom;
    /// The X11 window for `open`.
    unsigned long window = 0;
};

/// False for a line that is none of the messages (it is then ignored by both ends).
[[nodiscard]] bool parseUiMessage(const std::string &line, UiMessage &message);
/// "VALUE <port> <value>", exact enough that the value reads back the same.
std::string formatUiValue(uint32_t port, float value);
/// "ATOM <port> <hex>": an atom between an interface and an atom port, in the sender's numbers
/// for the names it holds.
std::string formatUiAtom(uint32_t port, const void *atom, size_t size);
/// "URID <number> <name>": the number the sender gives a name, sent before the first atom
/// that holds it, so that the other end can put its own number in its place.
std::string formatUiUrid(uint32_t urid, const std::string &uri);

/// The largest atom that crosses, header included.
inline constexpr size_t largestUiAtom = 64 * 1024;

/// The numbers one side gives the atom types whose bodies hold further names.
struct AtomTypeIds {
    uint32_t object = 0, blank = 0, resource = 0, tuple = 0, sequence = 0, vector = 0, literal = 0,
             urid = 0, property = 0;
};
/// The type numbers as `map` gives them.
AtomTypeIds atomTypeIds(const std::function<uint32_t(const char *uri)> &map);

/// Puts `translate(number)` in place of every name the atom holds: its type, and within
/// objects, properties, tuples, sequences, vectors, literals and URID atoms, those of what they
/// hold. `types` are the type numbers after translation. Zero stays zero (no name). False,
/// with the atom partly translated, when its sizes do not hold together, it nests too deep,
/// or `translate` gives zero for a name.
[[nodiscard]] bool translateAtomUrids(uint8_t *atom, size_t size,
                                      const std::function<uint32_t(uint32_t)> &translate,
                                      const AtomTypeIds &types);

} // namespace orvane::lv2
