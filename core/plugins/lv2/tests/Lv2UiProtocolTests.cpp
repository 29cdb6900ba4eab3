#include "core/plugins/lv2/Lv2UiProtocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <lv2/atom/forge.h>

namespace orvane::lv2 {
namespace {

using Kind = UiMessage::Kind;

struct GoodLine {
    const char *line;
    Kind kind;
    uint32_t port;
    float value;
    const char *symbol;
    unsigned long window;
};

TEST(Lv2UiProtocolTest, EveryMessageReadsBackWithItsFields) {
    const GoodLine cases[] = {
        {"SHOW", Kind::show, 0, 0.0f, "", 0},
        {"CLOSE", Kind::close, 0, 0.0f, "", 0},
        {"CLOSED", Kind::closed, 0, 0.0f, "", 0},
        {"ERR no display", Kind::error, 0, 0.0f, "no display", 0},
        {"OPEN 12582919", Kind::open, 0, 0.0f, "", 12582919},
        {"VALUE 7 -12.5", Kind::value, 7, -12.5f, "", 0},
        {"PORT gain 4", Kind::port, 4, 0.0f, "gain", 0},
        {"PORT 2nd_band 31", Kind::port, 31, 0.0f, "2nd_band", 0},
    };
    for (const GoodLine &good : cases) {
        UiMessage message;
        ASSERT_TRUE(parseUiMessage(good.line, message)) << good.line;
        EXPECT_EQ(message.kind, good.kind) << good.line;
        EXPECT_EQ(message.port, good.port) << good.line;
        EXPECT_EQ(message.value, good.value) << good.line;
        EXPECT_EQ(message.symbol, good.symbol) << good.line;
        EXPECT_EQ(message.window, good.window) << good.line;
    }
}

TEST(Lv2UiProtocolTest, MalformedLinesAreRefused) {
    for (const char *line :
         {"", "show", "VALUE", "VALUE 3", "VALUE x 1", "VALUE 3 abc", "VALUE 3 1.5junk",
          "VALUE -3 1", "VALUE 3 nan", "VALUE 3 inf", "VALUE 99999999999 1", "OPEN", "OPEN 12x",
          "PORT gain", "PORT  4", "PORT gain -4", "PORT gain 4x", "SHOWN", "CLOSE "}) {
        UiMessage message;
        EXPECT_FALSE(parseUiMessage(line, message)) << '"' << line << '"';
    }
}

TEST(Lv2UiProtocolTest, ValuesCrossExactly) {
    for (float value :
         {0.0f, 1.0f, -0.0f, 0.1f, 1.0f / 3.0f, 20000.0f, -80.25f, 1e-7f,
          std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min()}) {
        UiMessage message;
        ASSERT_TRUE(parseUiMessage(formatUiValue(42, value), message)) << value;
        EXPECT_EQ(message.port, 42u);
        EXPECT_EQ(message.value, value) << formatUiValue(42, value);
    }
}

TEST(Lv2UiProtocolTest, AtomsAndNamesCrossWholeAndBrokenOnesAreRefused) {
    const uint8_t atom[] = {4, 0, 0, 0, 9, 0, 0, 0, 0xde, 0xad, 0xbe, 0xef}; // 4 bytes of type 9
    UiMessage message;
    const std::string line = formatUiAtom(3, atom, sizeof atom);
    EXPECT_EQ(line, "ATOM 3 0400000009000000deadbeef");
    ASSERT_TRUE(parseUiMessage(line, message));
    EXPECT_EQ(message.kind, Kind::atom);
    EXPECT_EQ(message.port, 3u);
    EXPECT_EQ(message.atom, std::vector<uint8_t>(std::begin(atom), std::end(atom)));
    ASSERT_TRUE(parseUiMessage(formatUiUrid(17, "http://lv2plug.in/ns/ext/atom#Int"), message));
    EXPECT_EQ(message.kind, Kind::urid);
    EXPECT_EQ(message.urid, 17u);
    EXPECT_EQ(message.symbol, "http://lv2plug.in/ns/ext/atom#Int");
    for (const char *broken :
         {"ATOM 3", "ATOM 3 ", "ATOM x 0000000009000000", "ATOM 3 000000000900000",
          "ATOM 3 0400000009000000", "ATOM 3 0000000009000000ff", "ATOM 3 00000000090000zz",
          "ATOM 3 0000000009000000 ", "ATOM 3 0000000009000000\r", "ATOM -3 0000000009000000",
          "ATOM 3 0400000009000000DEADBEEF", "URID", "URID 5", "URID 5 ", "URID 0 urn:x",
          "URID x urn:x", "URID 5 urn:a b", "URID 5 urn:a\tb", "URID 99999999999 urn:x"}) {
        EXPECT_FALSE(parseUiMessage(broken, message)) << '"' << broken << '"';
    }
}

/// Hands out numbers from `first` on, so that two of them number the same names differently.
struct NumberingForTest {
    explicit NumberingForTest(uint32_t first) : next(first) {}
    uint32_t next;
    std::map<std::string, uint32_t> numbers;
    LV2_URID_Map map{this, [](LV2_URID_Map_Handle handle, const char *uri) {
                         auto &self = *static_cast<NumberingForTest *>(handle);
                         auto [found, added] = self.numbers.try_emplace(uri, self.next);
                         if (added) ++self.next;
                         return found->second;
                     }};
    uint32_t of(const char *uri) { return map.map(this, uri); }
    std::string nameOf(uint32_t number) const {
        for (const auto &[uri, found] : numbers)
            if (found == number) return uri;
        return {};
    }
};

/// An atom that holds names everywhere one can: an object with a subject, properties of every
/// kind that holds names, a tuple, a vector of names, a literal, and a sequence of a blank
/// object.
std::vector<uint8_t> atomWithNames(NumberingForTest &numbering) {
    std::vector<uint8_t> buffer(1024);
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, &numbering.map);
    lv2_atom_forge_set_buffer(&forge, buffer.data(), buffer.size());
    const uint32_t names[] = {numbering.of("urn:t#a"), numbering.of("urn:t#b")};
    LV2_Atom_Forge_Frame object, tuple, sequence, inner;
    lv2_atom_forge_object(&forge, &object, numbering.of("urn:t#subject"),
                          numbering.of("urn:t#Kind"));
    lv2_atom_forge_key(&forge, numbering.of("urn:t#count"));
    lv2_atom_forge_int(&forge, 7);
    lv2_atom_forge_key(&forge, numbering.of("urn:t#target"));
    lv2_atom_forge_urid(&forge, numbering.of("urn:t#somewhere"));
    lv2_atom_forge_key(&forge, numbering.of("urn:t#list"));
    lv2_atom_forge_tuple(&forge, &tuple);
    lv2_atom_forge_literal(&forge, "hallo", 5, numbering.of("urn:t#text"),
                           numbering.of("urn:t#de"));
    lv2_atom_forge_vector(&forge, sizeof(uint32_t), forge.URID, 2, names);
    lv2_atom_forge_string(&forge, "plain", 5);
    lv2_atom_forge_pop(&forge, &tuple);
    lv2_atom_forge_key(&forge, numbering.of("urn:t#events"));
    lv2_atom_forge_sequence_head(&forge, &sequence, numbering.of(LV2_ATOM__frameTime));
    lv2_atom_forge_frame_time(&forge, 12);
    lv2_atom_forge_object(&forge, &inner, 0, numbering.of("urn:t#Note"));
    lv2_atom_forge_key(&forge, numbering.of("urn:t#pitch"));
    lv2_atom_forge_float(&forge, 440.0f);
    lv2_atom_forge_pop(&forge, &inner);
    lv2_atom_forge_pop(&forge, &sequence);
    lv2_atom_forge_pop(&forge, &object);
    buffer.resize(lv2_atom_total_size(reinterpret_cast<const LV2_Atom *>(buffer.data())));
    return buffer;
}

TEST(Lv2UiProtocolTest, AnAtomsNamesTakeTheReceiversNumbers) {
    NumberingForTest sender(1), receiver(5000);
    // The receiver knows the names in an order of its own, before and while translating.
    receiver.of("urn:t#events");
    receiver.of(LV2_ATOM__Int);
    std::vector<uint8_t> atom = atomWithNames(sender);
    const AtomTypeIds receiverTypes =
        atomTypeIds([&](const char *uri) { return receiver.of(uri); });
    size_t translated = 0;
    ASSERT_TRUE(translateAtomUrids(
        atom.data(), atom.size(),
        [&](uint32_t number) {
            ++translated;
            return receiver.of(sender.nameOf(number).c_str());
        },
        receiverTypes));
    EXPECT_EQ(atom, atomWithNames(receiver)) << "the same atom as the receiver would forge";
    EXPECT_EQ(translated, 25u) << "each name once; the inner object names no subject";
}

TEST(Lv2UiProtocolTest, AtomsWhoseSizesDoNotHoldTogetherOrNameTheUnknownAreRefused) {
    NumberingForTest numbering(1);
    const std::vector<uint8_t> whole = atomWithNames(numbering);
    const AtomTypeIds types = atomTypeIds([&](const char *uri) { return numbering.of(uri); });
    const auto same = [](uint32_t number) { return number; };
    std::vector<uint8_t> atom = whole;
    ASSERT_TRUE(translateAtomUrids(atom.data(), atom.size(), same, types));
    EXPECT_FALSE(translateAtomUrids(
        atom.data(), atom.size(),
        [&](uint32_t number) { return number == numbering.of("urn:t#de") ? 0u : number; }, types))
        << "a name the receiver was never told";
    // Every size field made larger than what holds it, one at a time: each is caught.
    size_t refused = 0, tried = 0;
    for (size_t at = 0; at + 4 <= whole.size(); at += 4) {
        atom = whole;
        uint32_t field;
        std::memcpy(&field, atom.data() + at, sizeof field);
        if (field == 0 || field > whole.size()) continue; // not a size
        field += 64;
        std::memcpy(atom.data() + at, &field, sizeof field);
        ++tried;
        // A bigger name or number still holds together; a bigger size must not read past.
        if (!translateAtomUrids(atom.data(), atom.size(), same, types)) ++refused;
    }
    EXPECT_GE(refused, 9u) << "of " << tried;
    EXPECT_FALSE(translateAtomUrids(atom.data(), 7, same, types)) << "shorter than a header";
    // Tuples nested past any sensible depth.
    std::vector<uint8_t> deep(8 * 40);
    for (uint32_t level = 0; level < 40; ++level) {
        const LV2_Atom header{static_cast<uint32_t>(8 * (39 - level)), types.tuple};
        std::memcpy(deep.data() + 8 * level, &header, sizeof header);
    }
    EXPECT_FALSE(translateAtomUrids(deep.data(), deep.size(), same, types));
}

} // namespace
} // namespace orvane::lv2
