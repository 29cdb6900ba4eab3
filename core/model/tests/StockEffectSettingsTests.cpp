#include "core/model/StockEffectSettings.h"

#include <gtest/gtest.h>

#include <cmath>
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

TEST(StockEffectSettings, ALaneValueMapsOntoTheParametersRangeAndBack) {
    const StockParameter &threshold = stockParametersOf("stock.compressor")[0];
    struct Row {
        float normalized;
        float value;
    };
    const Row rows[] = {{0.0f, -60.0f},  {0.5f, -30.0f}, {1.0f, 0.0f},
                        {-3.0f, -60.0f}, {7.0f, 0.0f},   {std::nanf(""), -60.0f}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.normalized);
        EXPECT_FLOAT_EQ(stockValueFromNormalized(threshold, row.normalized), row.value);
    }
    EXPECT_FLOAT_EQ(stockValueToNormalized(threshold, -15.0f), 0.75f);
    EXPECT_FLOAT_EQ(stockValueToNormalized(threshold, 12.0f), 1.0f);

    // An insert never set plays its defaults; one that is no built-in effect has none.
    EXPECT_EQ(stockValuesOrDefaultsOf(compressorWith("")),
              (std::vector<float>{-6.0f, 4.0f, 5.0f, 80.0f, 0.0f}));
    EXPECT_EQ(stockValuesOrDefaultsOf(compressorWith("ratio=8\n"))[1], 8.0f);
    InsertSlot plugin = compressorWith("");
    plugin.isStock = false;
    EXPECT_TRUE(stockValuesOrDefaultsOf(plugin).empty());
}

} // namespace
} // namespace orvane
