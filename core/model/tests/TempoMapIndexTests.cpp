#include "core/model/TempoMapIndex.h"

#include <gtest/gtest.h>

#include <random>

namespace orvane {
namespace {

constexpr double rate = 48000.0;

/// Maps the index must read as the marker walk does: none, one, out of order, several at one
/// position, at and before the start, and tempos that are not usable.
std::vector<std::vector<TempoMarker>> awkwardMaps() {
    std::vector<std::vector<TempoMarker>> maps = {
        {},
        {{96000, 60.0}},
        {{192000, 90.0}, {48000, 140.0}, {96000, 75.5}},
        {{48000, 100.0}, {48000, 200.0}, {48000, 50.0}, {144000, 120.0}},
        {{0, 180.0}, {24000, 90.0}},
        {{-48000, 200.0}, {0, 110.0}, {72000, 95.0}},
        {{24000, 0.0}, {48000, -5.0}, {96000, std::numeric_limits<double>::quiet_NaN()}},
    };
    std::mt19937 generator(7);
    std::uniform_int_distribution<int64_t> position(0, 4'800'000);
    std::uniform_real_distribution<double> bpm(30.0, 300.0);
    std::vector<TempoMarker> random;
    for (int i = 0; i < 500; ++i)
        random.push_back({position(generator), bpm(generator)});
    maps.push_back(random);
    return maps;
}

TEST(TempoMapIndex, ConvertsAsTheMarkerWalkDoesOnEveryKindOfMap) {
    std::mt19937 generator(11);
    std::uniform_int_distribution<int64_t> samples(-10, 6'000'000);
    std::uniform_real_distribution<double> beats(-1.0, 3000.0);
    int index = 0;
    for (const auto &markers : awkwardMaps()) {
        SCOPED_TRACE("map " + std::to_string(index++));
        for (const double baseBpm : {120.0, 0.0}) {
            const TempoMapIndex map(rate, markers, baseBpm);
            for (int i = 0; i < 2000; ++i) {
                const int64_t at = samples(generator);
                ASSERT_DOUBLE_EQ(map.samplesToBeats(at),
                                 samplesToMusicalBeats(at, rate, markers, baseBpm))
                    << at;
                const double wanted = i < 20 ? i * 0.5 : beats(generator);
                // The same position, or one sample over where the sums round apart.
                ASSERT_LE(std::abs(map.beatsToSamples(wanted) -
                                   musicalBeatsToSamples(wanted, rate, markers, baseBpm)),
                          1)
                    << wanted;
            }
            // Where a marker falls, both sides of it.
            for (const TempoMarker &marker : markers)
                for (const int64_t at : {marker.position - 1, marker.position, marker.position + 1})
                    ASSERT_DOUBLE_EQ(map.samplesToBeats(at),
                                     samplesToMusicalBeats(at, rate, markers, baseBpm));
        }
    }
}

TEST(TempoMapIndex, MarkersAddedOneByOneInAnyOrderGiveTheSameMapAsAllAtOnce) {
    for (const auto &markers : awkwardMaps()) {
        TempoMapIndex grown(rate, 100.0);
        for (const TempoMarker &marker : markers)
            grown.add(marker);
        const TempoMapIndex whole(rate, markers, 100.0);
        for (int64_t at = 0; at < 5'000'000; at += 9973) {
            ASSERT_DOUBLE_EQ(grown.samplesToBeats(at), whole.samplesToBeats(at));
            const double beat = static_cast<double>(at) / 4000.0;
            ASSERT_EQ(grown.beatsToSamples(beat), whole.beatsToSamples(beat));
        }
    }
}

TEST(TempoMapIndex, NothingComesOfNoRateOrNoTime) {
    const TempoMapIndex none(0.0, {{1000, 90.0}}, 120.0);
    EXPECT_EQ(none.beatsToSamples(4.0), 0);
    EXPECT_EQ(none.samplesToBeats(48000), 0.0);
    const TempoMapIndex map(rate, {{1000, 90.0}}, 120.0);
    EXPECT_EQ(map.beatsToSamples(0.0), 0);
    EXPECT_EQ(map.beatsToSamples(-3.0), 0);
    EXPECT_EQ(map.samplesToBeats(0), 0.0);
    EXPECT_EQ(map.beatsToSamples(1e300), std::numeric_limits<int64_t>::max());
}

} // namespace
} // namespace orvane
