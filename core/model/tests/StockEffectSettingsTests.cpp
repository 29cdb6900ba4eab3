#include "core/model/StockEffectSettings.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

InsertSlot compressorWith(const std::string &state) {
    InsertSlot insert;
    insert.pluginId = "stock.compressor";
    insert.isStock = true;
    insert.state.assign(state.begin(), state.end());
    return insert;
}

TEST(StockEffectSettings, StoredValuesComeBackExactlyAndDamagedOnesFallBackToTheirDefaults) {
    const std::vector<float> values = {-23.7f, 2.5f, 0.1f, 1000.0f, 3.3333333f};
    const auto state = encodeStockSettings("stock.compressor", values);
    InsertSlot insert = compressorWith(std::string(state.begin(), state.end()));
    EXPECT_EQ(stockSettingsOf(insert), values);

    struct Row {
        const char *state;
        float threshold; // what the first setting reads as
    };
    const Row rows[] = {
        {"threshold=-12\n", -12.0f},
        {"threshold=-600\n", -60.0f},          // kept within its range
        {"threshold=nan\n", -6.0f},            // not a number: the default
        {"threshold=-12dB\n", -6.0f},          // trailing text: the default
        {"garbage without equals", -6.0f},     // nothing readable: every default
        {"ratio=2\nthreshold=-30", -30.0f},    // any order, last line unterminated
        {"threshold=\n", -6.0f},
    };
    for (const Row &row : rows) {
        const auto read = stockSettingsOf(compressorWith(row.state));
        ASSERT_TRUE(read.has_value()) << row.state;
        EXPECT_EQ(read->at(0), row.threshold) << row.state;
        EXPECT_EQ(read->size(), stockParametersOf("stock.compressor").size());
    }
    EXPECT_FALSE(stockSettingsOf(compressorWith(""))) << "never set: the original sound";
    InsertSlot plugin = compressorWith("threshold=-12\n");
    plugin.isStock = false;
    EXPECT_FALSE(stockSettingsOf(plugin)) << "a plug-in's state is its own";
}

} // namespace
} // namespace orvane
