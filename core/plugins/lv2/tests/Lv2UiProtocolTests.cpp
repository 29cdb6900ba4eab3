#include "core/plugins/lv2/Lv2UiProtocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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
    for (float value : {0.0f, 1.0f, -0.0f, 0.1f, 1.0f / 3.0f, 20000.0f, -80.25f, 1e-7f,
                        std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min()}) {
        UiMessage message;
        ASSERT_TRUE(parseUiMessage(formatUiValue(42, value), message)) << value;
        EXPECT_EQ(message.port, 42u);
        EXPECT_EQ(message.value, value) << formatUiValue(42, value);
    }
}

} // namespace
} // namespace orvane::lv2
