#include "core/engine/tests/RenderRig.h"

#include "core/model/AutomationLanes.h"
#include "core/model/StockEffectSettings.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvane;
using namespace orvane::testing;

namespace {

constexpr int32_t blockFrames = 512;
constexpr int64_t clipFrames = 48000;

/// A low sine (about 76 Hz) at 0.9 on both channels.
float tone(int64_t frame) {
    return 0.9f * static_cast<float>(std::sin(0.01 * static_cast<double>(frame)));
}

/// A loud steady tone through one built-in insert, whose automation lane is `points`.
struct AutomatedInsert {
    AutomatedInsert(const char *pluginId, uint32_t parameter, std::vector<AutomationPoint> points) {
        track = rig.addTrack(TrackType::Audio);
        rig.edit([&](Project &project) {
            auto clip = project.addClip(track->id, ClipKind::Audio);
            auto samples = std::make_shared<std::vector<float>>();
            for (int64_t frame = 0; frame < clipFrames; ++frame)
                samples->insert(samples->end(), 2, tone(frame));
            clip->audio = samples;
            clip->channels = 2;
            track->inserts.push_back(
                InsertSlot{pluginId, pluginId, "", {}, false, true, parameter, std::move(points)});
        });
    }

    /// The left channel of an export of the clip, at 512 frames a block.
    std::vector<float> exportLeft() {
        EXPECT_TRUE(rig.engine.beginOfflineRender(0));
        std::vector<float> left;
        StereoOutput block(blockFrames);
        for (int64_t done = 0; done < clipFrames; done += blockFrames) {
            rig.engine.processBlockOffline(block.channels.data(), 2, blockFrames);
            left.insert(left.end(), block.left.begin(), block.left.end());
        }
        rig.engine.endOfflineRender();
        return left;
    }

    RenderRig rig;
    std::shared_ptr<Track> track;
};

} // namespace

TEST(StockAutomation, ARampedThresholdCompressesTheStartAndLeavesTheEndLoud) {
    // Threshold from its lowest (-60 dB) at the start to 0 dB at the end of the clip.
    AutomatedInsert compressed("stock.compressor", 0, {{0, 0.0f}, {clipFrames, 1.0f}});
    const auto left = compressed.exportLeft();
    const double start = rmsOf(slice(left, 2048, 8192));
    const double end = rmsOf(slice(left, clipFrames - 8192, clipFrames - 2048));
    EXPECT_LT(start, 0.25 * end) << start << " against " << end;

    // Live playback hears the same lane.
    const auto live = compressed.rig.play(0, static_cast<int>(clipFrames / blockFrames));
    EXPECT_NEAR(rmsOf(slice(live[0], 2048, 8192)), start, 0.05 * start);
    EXPECT_NEAR(rmsOf(slice(live[0], clipFrames - 8192, clipFrames - 2048)), end, 0.05 * end);
}

TEST(StockAutomation, EachEffectsParameterFollowsItsLaneAndALaneAtTheStoredValueChangesNothing) {
    struct Case {
        const char *pluginId;
        uint32_t parameter;
        float lower;
        float higher;
        bool higherIsLouder;
    };
    const Case cases[] = {
        {"stock.compressor", 0, 0.0f, 1.0f, true}, // threshold -60 dB against 0 dB
        {"stock.compressor", 4, 0.0f, 0.5f, true}, // make-up 0 dB against 12 dB
        {"stock.eq", 3, 0.25f, 0.5f, true},        // output -12 dB against 0 dB
        {"stock.eq", 0, 0.0f, 0.5f, true},         // low shelf -18 dB against flat
        {"stock.delay", 2, 0.0f, 1.0f, false},     // dry against all wet: the echo comes late
        {"stock.reverb", 1, 0.0f, 1.0f, true},     // dry against all wet, which adds
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(std::string(row.pluginId) + " " + std::to_string(row.parameter));
        AutomatedInsert lower(row.pluginId, row.parameter, {{0, row.lower}});
        AutomatedInsert higher(row.pluginId, row.parameter, {{0, row.higher}});
        const double lowerLevel = rmsOf(slice(lower.exportLeft(), 0, 4096));
        const double higherLevel = rmsOf(slice(higher.exportLeft(), 0, 4096));
        if (row.higherIsLouder)
            EXPECT_GT(higherLevel, 1.5 * lowerLevel);
        else
            EXPECT_LT(higherLevel, lowerLevel / 1.5);
    }

    // A lane holding the stored setting sounds as the set insert without a lane, to the bit.
    const auto parameters = stockParametersOf("stock.compressor");
    const float stored = -20.0f;
    AutomatedInsert automated("stock.compressor", 0,
                              {{0, stockValueToNormalized(parameters[0], stored)}});
    AutomatedInsert set("stock.compressor", 0, {});
    const std::vector<float> values = {stored, 4.0f, 5.0f, 80.0f, 0.0f};
    for (AutomatedInsert *insert : {&automated, &set})
        insert->rig.edit([&](Project &) {
            insert->track->inserts[0].state = encodeStockSettings("stock.compressor", values);
        });
    EXPECT_EQ(automated.exportLeft(), set.exportLeft());
}

TEST(StockAutomation, AnEmptyLaneOrOneNamingNoParameterKeepsTheFixedSoundOfAnUnsetInsert) {
    AutomatedInsert plain("stock.compressor", 0, {});
    AutomatedInsert unknownParameter("stock.compressor", 99, {{0, 0.0f}});
    const auto expected = plain.exportLeft();
    EXPECT_EQ(unknownParameter.exportLeft(), expected);
    EXPECT_FLOAT_EQ(expected[100], std::tanh(1.2f * tone(100)) * RenderRig::defaultFader);
}

TEST(StockAutomation, AnAutomationClipOnTheInsertsLaneDrivesItWhereItPlaysAndNowhereElse) {
    // The threshold stored at 0 dB, the lane without points of its own, and a clip over the
    // first half holding it at its lowest (-60 dB).
    const std::vector<float> values = {0.0f, 4.0f, 5.0f, 80.0f, 0.0f};
    AutomatedInsert clipped("stock.compressor", 0, {});
    AutomatedInsert set("stock.compressor", 0, {});
    for (AutomatedInsert *insert : {&clipped, &set})
        insert->rig.edit([&](Project &) {
            insert->track->inserts[0].state = encodeStockSettings("stock.compressor", values);
        });
    clipped.rig.edit([&](Project &) {
        clipped.track->automationClips.push_back(
            {1, 0, clipFrames / 2, insertAutomationLane(0), {{0, 0.0f}, {clipFrames / 2, 0.0f}}});
    });
    const auto left = clipped.exportLeft();
    const auto unclipped = set.exportLeft();
    EXPECT_LT(rmsOf(slice(left, 2048, 8192)), 0.25 * rmsOf(slice(unclipped, 2048, 8192)));
    // Past the clip the stored setting holds again; the compressor's release takes a moment.
    const std::size_t settled = clipFrames / 2 + 16384;
    EXPECT_NEAR(rmsOf(slice(left, settled, clipFrames)),
                rmsOf(slice(unclipped, settled, clipFrames)),
                0.02 * rmsOf(slice(unclipped, settled, clipFrames)));

    // The clip wins over the lane's own points, and live playback reads it without allocating.
    clipped.rig.edit([&](Project &) { clipped.track->inserts[0].paramAutomation = {{0, 1.0f}}; });
    EXPECT_EQ(clipped.exportLeft(), left);
    send(clipped.rig.engine, Request::locate(0));
    send(clipped.rig.engine, Request::play());
    StereoOutput block(blockFrames);
    block.render(clipped.rig.engine);
    AllocationScope scope;
    for (int i = 0; i < 40; ++i)
        block.render(clipped.rig.engine);
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
}
