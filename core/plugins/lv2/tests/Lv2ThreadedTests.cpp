// Run under ThreadSanitizer: the audio thread plays an LV2 plug-in while the main thread talks
// to it in atoms, as an open interface does.
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/tests/Lv2TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace orvane::lv2 {
namespace {

using namespace testing;

// The test plug-in answers an "Ask" about a number with twice it: every question sent while
// the audio thread plays comes back answered, in order.
TEST(Lv2AtomsThreaded, QuestionsAndAnswersCrossWhileTheAudioThreadPlays) {
    ASSERT_TRUE(loadAtomAnswerBundle());
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(atomAnswerPluginUri)) << plugin.lastError;
    ASSERT_TRUE(plugin.prepare(sampleRate, 64));
    plugin.keepAtomsFromPlugin(true);
    std::atomic<bool> playing{true};
    std::thread audio([&] {
        std::vector<float> left(64), right(64);
        while (playing.load()) {
            (void)plugin.process(left.data(), right.data(), 64);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    constexpr int questions = 300;
    std::vector<int32_t> answers;
    int asked = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (answers.size() < questions && std::chrono::steady_clock::now() < until) {
        if (asked < questions) {
            const std::vector<uint8_t> asking = atomAsking(asked);
            if (plugin.sendAtomToPlugin(0, asking.data(), asking.size())) ++asked;
        }
        (void)plugin.takeAtomsFromPlugin([&](uint32_t port, const uint8_t *atom, size_t size) {
            EXPECT_EQ(port, 1u);
            answers.push_back(answerIn(atom, size).value_or(-1));
        });
    }
    playing = false;
    audio.join();
    ASSERT_EQ(answers.size(), static_cast<size_t>(questions));
    for (int index = 0; index < questions; ++index)
        EXPECT_EQ(answers[static_cast<size_t>(index)], 2 * index) << index;
}

} // namespace
} // namespace orvane::lv2
