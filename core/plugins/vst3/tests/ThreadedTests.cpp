// Tests where the audio thread and the main thread work on one instance at the same time; the
// ThreadSanitizer build runs them too.
#include "core/plugins/vst3/Vst3Plugin.h"
#include "core/plugins/vst3/hosting/ParameterHandOver.h"

#include "core/plugins/vst3/tests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace orvane::vst {
namespace {

constexpr float untouched = 7.0f; // no instrument output reaches this value
constexpr int blockSize = 128;

enum class BlockOutcome { processed, skipped, torn };

BlockOutcome classify(const std::vector<float> &block) {
    size_t untouchedCount = 0;
    for (float sample : block) {
        if (sample == untouched)
            ++untouchedCount;
        else if (!(sample >= -1.0f && sample <= 1.0f))
            return BlockOutcome::torn;
    }
    if (untouchedCount == block.size()) return BlockOutcome::skipped;
    return untouchedCount == 0 ? BlockOutcome::processed : BlockOutcome::torn;
}

TEST(ConcurrentUse, BlocksAreWhollyProcessedOrWhollySkippedWhilePrepareRuns) {
    Vst3Plugin plugin;
    ASSERT_TRUE(plugin.load(testing::testInstrumentPath(), ""));
    ASSERT_TRUE(plugin.prepare(48000.0, blockSize));
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread audio([&] {
        std::vector<float> left(blockSize), right(blockSize);
        std::vector<NoteOn> note{{69, 1.0f}};
        // Each restrike releases the previous note: stacked voices could leave the -1..1
        // range that tells a processed sample from a torn one.
        std::vector<int> release{69};
        int block = 0;
        while (!stop.load()) {
            std::fill(left.begin(), left.end(), untouched);
            std::fill(right.begin(), right.end(), untouched);
            std::span<const NoteOn> starting;
            std::span<const int> ending;
            if (block++ % 8 == 0) {
                starting = note;
                ending = release;
            }
            plugin.processInstrument(left.data(), right.data(), blockSize, starting, ending);
            if (classify(left) == BlockOutcome::torn) ++torn;
        }
    });
    for (int round = 0; round < 300; ++round) {
        ASSERT_TRUE(plugin.prepare(round % 2 ? 44100.0 : 48000.0, round % 3 ? blockSize : 64));
        EXPECT_TRUE(plugin.setParameterNormalized(0, float(round % 10) / 10.0f));
        // An id the plug-in lacks: only the hand-over's growth under the blocks matters.
        (void)plugin.setParameterNormalized(1000 + uint32_t(round), 0.5f);
    }
    stop.store(true);
    audio.join();
    EXPECT_EQ(torn.load(), 0);

    // With the main thread idle, every block is processed.
    std::vector<float> left(blockSize, untouched), right(blockSize, untouched);
    plugin.process(left.data(), right.data(), blockSize);
    EXPECT_EQ(classify(left), BlockOutcome::processed);
}

TEST(ConcurrentUse, UnloadWhileTheAudioThreadRunsLeavesItsBuffersAlone) {
    Vst3Plugin plugin;
    ASSERT_TRUE(plugin.load(testing::testInstrumentPath(), ""));
    ASSERT_TRUE(plugin.prepare(48000.0, blockSize));
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread audio([&] {
        std::vector<float> left(blockSize), right(blockSize);
        while (!stop.load()) {
            std::fill(left.begin(), left.end(), untouched);
            plugin.process(left.data(), right.data(), blockSize);
            if (classify(left) == BlockOutcome::torn) ++torn;
        }
    });
    for (int round = 0; round < 20; ++round) {
        plugin.unload();
        ASSERT_TRUE(plugin.load(testing::testInstrumentPath(), ""));
        ASSERT_TRUE(plugin.prepare(48000.0, blockSize));
    }
    stop.store(true);
    audio.join();
    EXPECT_EQ(torn.load(), 0);
}

TEST(ParameterHandOver, ReaderOnAnotherThreadOnlySeesValuesThatWereSet) {
    ParameterHandOver handOver(1024);
    std::atomic<bool> done{false};
    std::atomic<int> badReads{0};
    std::thread reader([&] {
        while (!done.load()) {
            handOver.forEach([&](uint32_t id, float value) {
                // Every value written for id is id / 1000 or id / 2000.
                if (value != float(id) / 1000.0f && value != float(id) / 2000.0f) ++badReads;
            });
        }
    });
    for (uint32_t id = 1; id <= 1000; ++id) {
        EXPECT_TRUE(handOver.set(id, float(id) / 1000.0f));
        EXPECT_TRUE(handOver.set(id, float(id) / 2000.0f));
    }
    done.store(true);
    reader.join();
    EXPECT_EQ(badReads.load(), 0);
    EXPECT_EQ(handOver.size(), 1000u);
}

// The audio thread writes automation into the hand-over outside any lock while the main thread
// makes new parameters known and the table grows under it, at the table's own level and
// through a loaded plug-in; the sanitizer builds catch a table freed under the reader.
TEST(ParameterHandOver, AutomationKeepsFlowingWhileTheTableGrows) {
    ParameterHandOver handOver(2);
    ASSERT_TRUE(handOver.set(1, 0.0f));
    std::atomic<bool> done{false};
    std::atomic<int> unknownAutomated{0};
    std::thread audio([&] {
        float value = 0.0f;
        while (!done.load()) {
            value = value >= 1.0f ? 0.0f : value + 0.001f;
            if (!handOver.setExisting(1, value)) ++unknownAutomated;
            handOver.forEach([](uint32_t, float) {});
        }
    });
    for (uint32_t id = 2; id <= 4000; ++id) {
        ASSERT_TRUE(handOver.set(id, 0.5f) ||
                    (handOver.grow(handOver.capacity() * 2), handOver.set(id, 0.5f)));
        handOver.collect();
    }
    done.store(true);
    audio.join();
    EXPECT_EQ(unknownAutomated.load(), 0) << "an id the main thread set went missing";
    EXPECT_EQ(handOver.size(), 4000u);
    EXPECT_GE(handOver.capacity(), 4000u);

    Vst3Plugin plugin;
    ASSERT_TRUE(plugin.load(testing::testInstrumentPath(), ""));
    ASSERT_TRUE(plugin.prepare(48000.0, blockSize));
    plugin.prepareParameterForAutomation(0);
    std::atomic<bool> stop{false};
    std::thread automation([&] {
        std::vector<float> left(blockSize), right(blockSize);
        float value = 0.0f;
        while (!stop.load()) {
            value = value >= 1.0f ? 0.0f : value + 0.01f;
            (void)plugin.setParameterNormalizedRt(0, value); // the race is what is tested
            plugin.process(left.data(), right.data(), blockSize);
        }
    });
    for (uint32_t id = 0; id < 3000; ++id)
        (void)plugin.setParameterNormalized(5000 + id, 0.25f); // each new: the table grows
    stop.store(true);
    automation.join();
}

} // namespace
} // namespace orvane::vst
