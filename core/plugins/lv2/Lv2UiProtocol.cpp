#include "core/plugins/lv2/Lv2UiProtocol.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <lv2/atom/atom.h>

namespace orvane::lv2 {

namespace {

bool startsWith(const std::string &line, const char *prefix, std::string &rest) {
    const std::string text(prefix);
    if (line.compare(0, text.size(), text) != 0) return false;
    rest = line.substr(text.size());
    return true;
}

bool parseUnsigned(const char *text, const char **end, unsigned long &number) {
    if (*text < '0' || *text > '9') return false;
    errno = 0;
    char *stop = nullptr;
    number = std::strtoul(text, &stop, 10);
    *end = stop;
    return errno == 0;
}

int hexDigit(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    return -1;
}

/// The atom the hex digits spell, when they spell exactly one whole atom.
bool decodeAtom(const std::string &hex, std::vector<uint8_t> &atom) {
    if (hex.size() % 2 != 0 || hex.size() < 2 * sizeof(LV2_Atom) || hex.size() > 2 * largestUiAtom)
        return false;
    atom.resize(hex.size() / 2);
    for (size_t at = 0; at < atom.size(); ++at) {
        const int high = hexDigit(hex[2 * at]), low = hexDigit(hex[2 * at + 1]);
        if (high < 0 || low < 0) return false;
        atom[at] = static_cast<uint8_t>(high << 4 | low);
    }
    LV2_Atom header;
    std::memcpy(&header, atom.data(), sizeof header);
    return header.size == atom.size() - sizeof header;
}

bool isPlainUri(const std::string &uri) {
    if (uri.empty()) return false;
    for (const char character : uri)
        if (static_cast<unsigned char>(character) <= ' ' || character == 0x7f) return false;
    return true;
}

} // namespace

bool parseUiMessage(const std::string &line, UiMessage &message) {
    std::string rest;
    message = UiMessage{};
    if (line == "SHOW") return message.kind = UiMessage::Kind::show, true;
    if (line == "CLOSE") return message.kind = UiMessage::Kind::close, true;
    if (line == "CLOSED") return message.kind = UiMessage::Kind::closed, true;
    if (startsWith(line, "ERR ", rest)) {
        message.kind = UiMessage::Kind::error;
        message.symbol = rest;
        return true;
    }
    const char *end = nullptr;
    unsigned long number = 0;
    if (startsWith(line, "OPEN ", rest)) {
        if (!parseUnsigned(rest.c_str(), &end, number) || *end != '\0') return false;
        message.kind = UiMessage::Kind::open;
        message.window = number;
        return true;
    }
    if (startsWith(line, "VALUE ", rest)) {
        if (!parseUnsigned(rest.c_str(), &end, number) || *end != ' ' || number > UINT32_MAX)
            return false;
        char *stop = nullptr;
        const float value = std::strtof(end + 1, &stop);
        if (stop == end + 1 || *stop != '\0' || !std::isfinite(value)) return false;
        message.kind = UiMessage::Kind::value;
        message.port = static_cast<uint32_t>(number);
        message.value = value;
        return true;
    }
    if (startsWith(line, "ATOM ", rest)) {
        if (!parseUnsigned(rest.c_str(), &end, number) || *end != ' ' || number > UINT32_MAX ||
            !decodeAtom(end + 1, message.atom))
            return false;
        message.kind = UiMessage::Kind::atom;
        message.port = static_cast<uint32_t>(number);
        return true;
    }
    if (startsWith(line, "URID ", rest)) {
        if (!parseUnsigned(rest.c_str(), &end, number) || *end != ' ' || number == 0 ||
            number > UINT32_MAX || !isPlainUri(end + 1))
            return false;
        message.kind = UiMessage::Kind::urid;
        message.urid = static_cast<uint32_t>(number);
        message.symbol = end + 1;
        return true;
    }
    if (startsWith(line, "PORT ", rest)) {
        const size_t space = rest.rfind(' ');
        if (space == std::string::npos || space == 0) return false;
        if (!parseUnsigned(rest.c_str() + space + 1, &end, number) || *end != '\0' ||
            number > UINT32_MAX)
            return false;
        message.kind = UiMessage::Kind::port;
        message.symbol = rest.substr(0, space);
        message.port = static_cast<uint32_t>(number);
        return true;
    }
    return false;
}

std::string formatUiValue(uint32_t port, float value) {
    char text[64];
    std::snprintf(text, sizeof text, "VALUE %u %.9g", port, static_cast<double>(value));
    return text;
}

std::string formatUiAtom(uint32_t port, const void *atom, size_t size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string line = "ATOM " + std::to_string(port) + " ";
    line.reserve(line.size() + 2 * size);
    const auto *bytes = static_cast<const uint8_t *>(atom);
    for (size_t at = 0; at < size; ++at) {
        line.push_back(digits[bytes[at] >> 4]);
        line.push_back(digits[bytes[at] & 0x0f]);
    }
    return line;
}

std::string formatUiUrid(uint32_t urid, const std::string &uri) {
    return "URID " + std::to_string(urid) + " " + uri;
}

AtomTypeIds atomTypeIds(const std::function<uint32_t(const char *)> &map) {
    return {map(LV2_ATOM__Object),  map(LV2_ATOM__Blank),    map(LV2_ATOM__Resource),
            map(LV2_ATOM__Tuple),   map(LV2_ATOM__Sequence), map(LV2_ATOM__Vector),
            map(LV2_ATOM__Literal), map(LV2_ATOM__URID),     map(LV2_ATOM__Property)};
}

namespace {

/// Walks one atom's names in place; the bounds are checked before every read.
class UridTranslation {
  public:
    UridTranslation(const std::function<uint32_t(uint32_t)> &translate, const AtomTypeIds &types)
        : translate(translate), types(types) {}

    bool atom(uint8_t *at, size_t room, int depth) {
        if (depth > deepest || room < sizeof(LV2_Atom)) return false;
        LV2_Atom header;
        std::memcpy(&header, at, sizeof header);
        if (header.size > room - sizeof header || !name(at + offsetof(LV2_Atom, type)))
            return false;
        std::memcpy(&header.type, at + offsetof(LV2_Atom, type), sizeof header.type);
        return body(header.type, at + sizeof header, header.size, depth);
    }

  private:
    static constexpr int deepest = 32;

    /// Translates the number stored at `at`, which may be unaligned.
    bool name(uint8_t *at) {
        uint32_t number;
        std::memcpy(&number, at, sizeof number);
        if (number == 0) return true;
        number = translate(number);
        std::memcpy(at, &number, sizeof number);
        return number != 0;
    }

    static size_t padded(size_t size) { return (size + 7) & ~size_t{7}; }

    bool body(uint32_t type, uint8_t *at, size_t size, int depth) {
        if (type == types.urid) return size >= sizeof(uint32_t) ? name(at) : false;
        if (type == types.literal)
            return size >= 2 * sizeof(uint32_t) && name(at) && name(at + sizeof(uint32_t));
        if (type == types.property) return property(at, size, depth);
        if (type == types.object || type == types.resource || type == types.blank)
            return object(type, at, size, depth);
        if (type == types.tuple) return atoms(at, size, 0, depth);
        if (type == types.sequence) {
            if (size < sizeof(LV2_Atom_Sequence_Body) || !name(at)) return false;
            return atoms(at + sizeof(LV2_Atom_Sequence_Body), size - sizeof(LV2_Atom_Sequence_Body),
                         sizeof(LV2_Atom_Event::time), depth);
        }
        if (type == types.vector) return vector(at, size);
        return true; // numbers, strings, MIDI and chunks hold no names
    }

    /// Atoms one after another, each after `lead` bytes (an event's time) and padded to 8.
    bool atoms(uint8_t *at, size_t size, size_t lead, int depth) {
        for (size_t offset = 0; offset < size;) {
            if (size - offset < lead + sizeof(LV2_Atom)) return false;
            uint8_t *next = at + offset + lead;
            if (!atom(next, size - offset - lead, depth + 1)) return false;
            LV2_Atom header;
            std::memcpy(&header, next, sizeof header);
            offset += padded(lead + sizeof header + header.size);
        }
        return true;
    }

    bool property(uint8_t *at, size_t size, int depth) {
        constexpr size_t head = offsetof(LV2_Atom_Property_Body, value);
        if (size < head || !name(at) || !name(at + sizeof(uint32_t))) return false;
        return atom(at + head, size - head, depth + 1);
    }

    bool object(uint32_t type, uint8_t *at, size_t size, int depth) {
        if (size < sizeof(LV2_Atom_Object_Body)) return false;
        // A blank object's id names a node of its own, not a URI.
        if (type != types.blank && !name(at)) return false;
        if (!name(at + sizeof(uint32_t))) return false;
        for (size_t offset = sizeof(LV2_Atom_Object_Body); offset < size;) {
            if (!property(at + offset, size - offset, depth)) return false;
            LV2_Atom value;
            std::memcpy(&value, at + offset + offsetof(LV2_Atom_Property_Body, value),
                        sizeof value);
            offset += padded(offsetof(LV2_Atom_Property_Body, value) + sizeof value + value.size);
        }
        return true;
    }

    bool vector(uint8_t *at, size_t size) {
        LV2_Atom_Vector_Body head;
        if (size < sizeof head || !name(at + offsetof(LV2_Atom_Vector_Body, child_type)))
            return false;
        std::memcpy(&head, at, sizeof head);
        if (head.child_type != types.urid) return true;
        if (head.child_size != sizeof(uint32_t)) return false;
        for (size_t offset = sizeof head; offset + sizeof(uint32_t) <= size;
             offset += sizeof(uint32_t))
            if (!name(at + offset)) return false;
        return true;
    }

    const std::function<uint32_t(uint32_t)> &translate;
    const AtomTypeIds &types;
};

} // namespace

bool translateAtomUrids(uint8_t *atom, size_t size,
                        const std::function<uint32_t(uint32_t)> &translate,
                        const AtomTypeIds &types) {
    return UridTranslation(translate, types).atom(atom, size, 0);
}

} // namespace orvane::lv2
