#include "core/plugins/vst3/Vst3Plugin.h"

#include "core/plugins/vst3/PluginScanner.h"
#include "core/plugins/vst3/tests/TestSupport.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace orvane::vst {
namespace {

using testing::decibels;
using testing::fillSine;
using testing::rms;

constexpr double sampleRate = 48000.0;
constexpr int blockSize = 256;

// ZamComp's parameters as its controller lists them.
constexpr uint32_t zamCompThreshold = 7;

std::string uidOf(const std::string &bundle, const std::string &name) {
    PluginScanner scanner;
    scanner.setSearchPaths({bundle});
    for (const auto &description : scanner.scanWithFactory())
        if (description.name == name) return description.uid;
    return {};
}

/// Runs `blocks` blocks of a 1 kHz sine at amplitude 0.5 through the plug-in and returns the
/// level of the last block's left channel relative to the input, in dB.
double sineGainDecibels(Vst3Plugin &plugin, int blocks) {
    std::vector<float> left(blockSize), right(blockSize), input(blockSize);
    for (int block = 0; block < blocks; ++block) {
        fillSine(input, 1000.0, 0.5, sampleRate, long(block) * blockSize);
        left = input;
        right = input;
        plugin.process(left.data(), right.data(), blockSize);
    }
    return decibels(rms(left.data(), left.size()) / rms(input.data(), input.size()));
}

class ZamCompTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(testing::zamPluginsInstalled());
        ASSERT_TRUE(plugin.load(testing::zamBundle("ZamComp"), ""));
        ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    }
    testing::ThirdPartyLeaksIgnored zamLeaks;
    Vst3Plugin plugin;
};

TEST(Vst3PluginLoad, EmptyUidTakesTheFirstAudioClassAndDescribesIt) {
    ASSERT_TRUE(testing::zamPluginsInstalled());
    testing::ThirdPartyLeaksIgnored zamLeaks;
    Vst3Plugin plugin;
    EXPECT_FALSE(plugin.isLoaded());
    ASSERT_TRUE(plugin.load(testing::zamBundle("ZamComp"), ""));
    EXPECT_TRUE(plugin.isLoaded());
    EXPECT_EQ(plugin.description.name, "ZamComp");
    EXPECT_EQ(plugin.description.vendor, "Damien Zammit");
    EXPECT_EQ(plugin.description.path, testing::zamBundle("ZamComp"));
    EXPECT_EQ(plugin.description.category, "Fx|Dynamics|Mono");
    EXPECT_EQ(plugin.description.uid, uidOf(testing::zamDir(), "ZamComp"));
    EXPECT_FALSE(plugin.description.isInstrument);
    EXPECT_EQ(plugin.latency, 0);
}

TEST(Vst3PluginLoad, UppercaseUidPicksThatClassAndLowercaseMatchesNothing) {
    ASSERT_TRUE(testing::zamPluginsInstalled());
    testing::ThirdPartyLeaksIgnored zamLeaks;
    std::string uid = uidOf(testing::zamDir(), "ZamComp");
    ASSERT_EQ(uid.size(), 32u);
    Vst3Plugin plugin;
    ASSERT_TRUE(plugin.load(testing::zamBundle("ZamComp"), uid));
    EXPECT_EQ(plugin.description.uid, uid);

    std::string lower = uid;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    ASSERT_NE(lower, uid);
    EXPECT_FALSE(plugin.load(testing::zamBundle("ZamComp"), lower));
    EXPECT_FALSE(plugin.isLoaded());
    EXPECT_TRUE(plugin.description.uid.empty());
}

TEST(Vst3PluginLoad, UidOfAnotherBundleFailsAndPathAsUidTakesTheFirstClass) {
    ASSERT_TRUE(testing::zamPluginsInstalled());
    testing::ThirdPartyLeaksIgnored zamLeaks;
    Vst3Plugin plugin;
    EXPECT_FALSE(plugin.load(testing::zamBundle("ZamComp"), uidOf(testing::zamDir(), "ZamVerb")));
    ASSERT_TRUE(plugin.load(testing::zamBundle("ZamVerb"), testing::zamBundle("ZamVerb")));
    EXPECT_EQ(plugin.description.name, "ZamVerb");
}

TEST(Vst3PluginLoad, MissingOrBrokenBundleFailsCleanly) {
    testing::TemporaryFolder temporary;
    Vst3Plugin plugin;
    EXPECT_FALSE(plugin.load((temporary.path() / "Missing.vst3").string(), ""));
    std::filesystem::create_directories(temporary.path() / "Broken.vst3/Contents/x86_64-linux");
    std::ofstream(temporary.path() / "Broken.vst3/Contents/x86_64-linux/Broken.so") << "junk";
    EXPECT_FALSE(plugin.load((temporary.path() / "Broken.vst3").string(), ""));
    EXPECT_FALSE(plugin.isLoaded());
    EXPECT_FALSE(plugin.prepare(sampleRate, blockSize));
    std::vector<uint8_t> state{1, 2, 3};
    EXPECT_FALSE(plugin.getState(state));
    EXPECT_TRUE(state.empty());
    EXPECT_FALSE(plugin.setState({1, 2}));
    EXPECT_FALSE(plugin.hasEditor());
    EXPECT_TRUE(plugin.listParameters().empty());
}

TEST(Vst3PluginLoad, LoadsAgainAfterUnloadAndAcceptsThePlainSharedObject) {
    Vst3Plugin plugin;
    std::string binary =
        testing::testInstrumentPath() + "/Contents/x86_64-linux/HalvoraTestInstrument.so";
    ASSERT_TRUE(plugin.load(binary, ""));
    EXPECT_EQ(plugin.description.name, "Halvora Test Instrument");
    plugin.unload();
    EXPECT_FALSE(plugin.isLoaded());
    EXPECT_TRUE(plugin.description.name.empty());
    ASSERT_TRUE(plugin.load(testing::misbehavingEffectPath(), ""));
    EXPECT_EQ(plugin.description.name, "Halvora Misbehaving Effect");
}

TEST_F(ZamCompTest, DefaultSettingsLeaveASineAtItsLevel) {
    EXPECT_NEAR(sineGainDecibels(plugin, 100), 0.0, 0.5);
}

TEST_F(ZamCompTest, LowestThresholdLowersASineByTensOfDecibels) {
    ASSERT_TRUE(plugin.setParameterNormalized(zamCompThreshold, 0.0f));
    EXPECT_LT(sineGainDecibels(plugin, 100), -10.0);
}

TEST_F(ZamCompTest, StateWrittenBackRestoresTheOriginalOutput) {
    std::vector<uint8_t> original;
    ASSERT_TRUE(plugin.getState(original));
    ASSERT_FALSE(original.empty());
    double before = sineGainDecibels(plugin, 100);

    ASSERT_TRUE(plugin.setParameterNormalized(zamCompThreshold, 0.0f));
    double changed = sineGainDecibels(plugin, 100);
    ASSERT_LT(changed, before - 10.0);

    ASSERT_TRUE(plugin.setState(original));
    EXPECT_NEAR(sineGainDecibels(plugin, 100), before, 0.5);
    EXPECT_FLOAT_EQ(plugin.getParameterNormalized(zamCompThreshold), 1.0f);
}

// A value set while the transport is stopped (no block processed since) is in the state that
// a save writes, and a fresh instance given that state has it.
TEST_F(ZamCompTest, StateReadWithoutABlockHoldsTheValuesSetSince) {
    ASSERT_TRUE(plugin.setParameterNormalized(zamCompThreshold, 0.25f));
    std::vector<uint8_t> state;
    ASSERT_TRUE(plugin.getState(state));
    Vst3Plugin reopened;
    ASSERT_TRUE(reopened.load(testing::zamBundle("ZamComp"), ""));
    ASSERT_TRUE(reopened.prepare(48000.0, 256));
    ASSERT_TRUE(reopened.setState(state));
    EXPECT_NEAR(reopened.getParameterNormalized(zamCompThreshold), 0.25f, 1e-5f);
}

TEST_F(ZamCompTest, ParameterValuesAreClampedAndReadBackWithoutAskingThePlugin) {
    EXPECT_TRUE(plugin.setParameterNormalized(zamCompThreshold, 1.7f));
    EXPECT_FLOAT_EQ(plugin.getParameterNormalized(zamCompThreshold), 1.0f);
    EXPECT_TRUE(plugin.setParameterNormalized(zamCompThreshold, -0.2f));
    EXPECT_FLOAT_EQ(plugin.getParameterNormalized(zamCompThreshold), 0.0f);
    auto parameters = plugin.listParameters();
    auto threshold = std::find_if(parameters.begin(), parameters.end(),
                                  [](auto &p) { return p.id == zamCompThreshold; });
    ASSERT_NE(threshold, parameters.end());
    EXPECT_EQ(threshold->name, "Threshold");
    EXPECT_FLOAT_EQ(threshold->normalizedValue, 0.0f);
}

TEST_F(ZamCompTest, ParametersTellTheirUnitStepsAndWhetherTheyCanBeEdited) {
    const auto parameters = plugin.listParameters();
    auto named = [&](const std::string &name) {
        const auto found = std::find_if(parameters.begin(), parameters.end(),
                                        [&](auto &p) { return p.name == name; });
        EXPECT_NE(found, parameters.end()) << name;
        return found != parameters.end() ? *found : PluginParameterInfo{};
    };
    const PluginParameterInfo threshold = named("Threshold");
    EXPECT_EQ(threshold.units, "dB");
    EXPECT_EQ(threshold.stepCount, 0);
    EXPECT_TRUE(threshold.editable);
    EXPECT_EQ(named("Sidechain").stepCount, 1) << "a switch";
    EXPECT_FALSE(named("Gain Reduction").editable) << "a meter the plug-in reports";
    // The plug-in's own text follows the value asked about, not the value it holds.
    const float lowest = std::stof(plugin.parameterValueText(threshold.id, 0.0f));
    const float highest = std::stof(plugin.parameterValueText(threshold.id, 1.0f));
    EXPECT_LT(lowest, -40.0f);
    EXPECT_EQ(highest, 0.0f);
    EXPECT_FLOAT_EQ(plugin.getParameterNormalized(threshold.id), 1.0f);
}

TEST_F(ZamCompTest, ProcessingIsFreeOfAllocationsInSteadyState) {
    std::vector<float> left(blockSize, 0.1f), right(blockSize, 0.1f);
    ASSERT_TRUE(plugin.setParameterNormalized(zamCompThreshold, 0.5f));
    plugin.process(left.data(), right.data(), blockSize);
    orvane::testing::AllocationScope scope;
    for (int block = 0; block < 20; ++block)
        plugin.process(left.data(), right.data(), blockSize);
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
}

TEST_F(ZamCompTest, PrepareAgainKeepsProcessingAndCallerBuffersIntact) {
    std::vector<float> left(blockSize), right(blockSize);
    ASSERT_TRUE(plugin.prepare(44100.0, 128));
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    EXPECT_NEAR(sineGainDecibels(plugin, 50), 0.0, 0.5);
    plugin.unload();
    // The caller's buffers must still be usable after unprepare: nothing of theirs was freed.
    left.assign(blockSize, 0.25f);
    plugin.process(left.data(), right.data(), blockSize);
    EXPECT_FLOAT_EQ(left[0], 0.25f);
}

TEST(Vst3PluginProcess, ZeroFramesAndUnpreparedInstancesLeaveBuffersUntouched) {
    Vst3Plugin plugin;
    ASSERT_TRUE(plugin.load(testing::testInstrumentPath(), ""));
    std::vector<float> left(64, 0.5f), right(64, 0.5f);
    std::vector<NoteOn> notes{{69, 1.0f}};
    plugin.processInstrument(left.data(), right.data(), 64, notes, {});
    EXPECT_FLOAT_EQ(left[10], 0.5f) << "not prepared yet";
    ASSERT_TRUE(plugin.prepare(sampleRate, 64));
    plugin.processInstrument(left.data(), right.data(), 0, notes, {});
    plugin.processInstrument(left.data(), right.data(), -5, notes, {});
    EXPECT_FLOAT_EQ(left[10], 0.5f);
}

class TestInstrumentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(plugin.load(testing::testInstrumentPath(), ""));
        ASSERT_TRUE(plugin.description.isInstrument);
        ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    }

    /// Renders `blocks` blocks, starting `notes` at the start of block `noteBlock`; returns
    /// the left channel of everything.
    std::vector<float> render(int blocks, int noteBlock, std::vector<NoteOn> notes) {
        std::vector<float> all, left(blockSize), right(blockSize);
        for (int block = 0; block < blocks; ++block) {
            std::fill(left.begin(), left.end(), 0.0f);
            std::fill(right.begin(), right.end(), 0.0f);
            std::span<const NoteOn> starting;
            if (block == noteBlock) starting = notes;
            plugin.processInstrument(left.data(), right.data(), blockSize, starting, {});
            all.insert(all.end(), left.begin(), left.end());
        }
        return all;
    }
    Vst3Plugin plugin;
};

// Frequency from the zero crossings of a steady sine.
double measuredFrequency(const float *samples, size_t count) {
    std::vector<double> crossings;
    for (size_t index = 1; index < count; ++index) {
        if (samples[index - 1] < 0.0f && samples[index] >= 0.0f) {
            double fraction = samples[index - 1] / (samples[index - 1] - samples[index]);
            crossings.push_back(double(index - 1) + fraction);
        }
    }
    if (crossings.size() < 2) return 0.0;
    return (crossings.size() - 1) * sampleRate / (crossings.back() - crossings.front());
}

TEST_F(TestInstrumentTest, NoteSoundsItsPitchFromTheBlockItWasGivenIn) {
    std::vector<float> output = render(8, 3, {{69, 1.0f}});
    EXPECT_EQ(rms(output.data(), 3 * blockSize), 0.0) << "silent before the note";
    EXPECT_NE(output[3 * blockSize + 1], 0.0f) << "starts on the block's first frame";
    EXPECT_NEAR(measuredFrequency(output.data() + 3 * blockSize, 5 * blockSize), 440.0, 0.5);

    plugin.unload();
    ASSERT_TRUE(plugin.load(testing::testInstrumentPath(), ""));
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    std::vector<float> higher = render(6, 1, {{81, 1.0f}});
    EXPECT_NEAR(measuredFrequency(higher.data() + blockSize, 5 * blockSize), 880.0, 1.0);
}

TEST_F(TestInstrumentTest, NoteOffStopsTheNoteAndComesBeforeARestrikeInTheSameBlock) {
    std::vector<float> left(blockSize), right(blockSize);
    std::vector<NoteOn> note{{60, 1.0f}};
    std::vector<int> off{60};
    plugin.processInstrument(left.data(), right.data(), blockSize, note, {});
    EXPECT_GT(rms(left.data(), blockSize), 0.05);
    // Off then on for the same pitch in one block: the note keeps sounding.
    plugin.processInstrument(left.data(), right.data(), blockSize, note, off);
    EXPECT_GT(rms(left.data(), blockSize), 0.05);
    plugin.processInstrument(left.data(), right.data(), blockSize, {}, off);
    EXPECT_EQ(rms(left.data(), blockSize), 0.0);
}

TEST_F(TestInstrumentTest, LevelParameterReachesTheProcessorOnEveryBlock) {
    Vst3Plugin halved;
    ASSERT_TRUE(halved.load(testing::testInstrumentPath(), ""));
    ASSERT_TRUE(halved.prepare(sampleRate, blockSize));
    ASSERT_TRUE(halved.setParameterNormalized(0, 0.5f));
    std::vector<NoteOn> note{{69, 1.0f}};
    for (int block = 0; block < 4; ++block) {
        std::vector<float> fullLeft(blockSize), fullRight(blockSize);
        std::vector<float> halfLeft(blockSize), halfRight(blockSize);
        std::span<const NoteOn> starting;
        if (block == 0) starting = note;
        plugin.processInstrument(fullLeft.data(), fullRight.data(), blockSize, starting, {});
        halved.processInstrument(halfLeft.data(), halfRight.data(), blockSize, starting, {});
        for (int frame = 0; frame < blockSize; frame += 17)
            ASSERT_NEAR(halfLeft[frame], 0.5f * fullLeft[frame], 1e-6) << block << ":" << frame;
    }
    EXPECT_FLOAT_EQ(halved.getParameterNormalized(0), 0.5f);
}

TEST_F(TestInstrumentTest, AutomationFromTheAudioThreadReachesOnlyPreparedParameters) {
    std::vector<float> left(blockSize), right(blockSize);
    EXPECT_FALSE(plugin.setParameterNormalizedRt(0, 0.0f)) << "not prepared yet";
    plugin.prepareParameterForAutomation(0);
    std::vector<NoteOn> note{{69, 1.0f}};
    plugin.processInstrument(left.data(), right.data(), blockSize, note, {});
    const double full = rms(left.data(), blockSize);
    EXPECT_GT(full, 0.05);

    orvane::testing::AllocationScope scope;
    const bool accepted = plugin.setParameterNormalizedRt(0, 0.0f);
    plugin.processInstrument(left.data(), right.data(), blockSize, {}, {});
    const uint64_t allocations = scope.allocations();
    EXPECT_TRUE(accepted);
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(rms(left.data(), blockSize), 0.0) << "level 0 arrived with the next block";
    EXPECT_TRUE(plugin.setParameterNormalizedRt(0, 7.0f)); // clamped to 1
    plugin.processInstrument(left.data(), right.data(), blockSize, {}, {});
    EXPECT_NEAR(rms(left.data(), blockSize), full, full * 0.05);
}

TEST_F(TestInstrumentTest, MoreThanFiftyNotesInOneBlockAreCappedNotFatal) {
    std::vector<NoteOn> notes;
    for (int pitch = 20; pitch < 100; ++pitch)
        notes.push_back({pitch, 0.1f});
    std::vector<float> left(blockSize), right(blockSize);
    plugin.processInstrument(left.data(), right.data(), blockSize, notes, {});
    EXPECT_GT(rms(left.data(), blockSize), 0.0);
}

TEST_F(TestInstrumentTest, BlocksLongerThanPreparedAreProcessedWhole) {
    std::vector<float> left(blockSize * 3 + 17), right(blockSize * 3 + 17);
    std::vector<NoteOn> note{{69, 1.0f}};
    plugin.processInstrument(left.data(), right.data(), int(left.size()), note, {});
    EXPECT_GT(rms(left.data() + left.size() - 17, 17), 0.05) << "tail of the long block";
    EXPECT_NEAR(measuredFrequency(left.data(), left.size()), 440.0, 0.5);
}

TEST_F(TestInstrumentTest, ManyNewParametersGrowTheHandOverAndAllStillArrive) {
    for (uint32_t id = 100; id < 300; ++id)
        (void)plugin.setParameterNormalized(id, 0.25f); // ids it lacks: the hand-over grows
    ASSERT_TRUE(plugin.setParameterNormalized(0, 0.0f));
    std::vector<float> left(blockSize), right(blockSize);
    std::vector<NoteOn> note{{69, 1.0f}};
    plugin.processInstrument(left.data(), right.data(), blockSize, note, {});
    EXPECT_EQ(rms(left.data(), blockSize), 0.0) << "level 0 set after 200 other parameters";
    EXPECT_FLOAT_EQ(plugin.getParameterNormalized(150), 0.25f);
}

TEST_F(TestInstrumentTest, InstrumentProcessingIsFreeOfAllocations) {
    std::vector<float> left(blockSize), right(blockSize);
    std::vector<NoteOn> notes{{60, 0.5f}, {64, 0.5f}};
    std::vector<int> offs{60, 64};
    ASSERT_TRUE(plugin.setParameterNormalized(0, 0.8f));
    plugin.processInstrument(left.data(), right.data(), blockSize, notes, offs);
    orvane::testing::AllocationScope scope;
    for (int block = 0; block < 20; ++block)
        plugin.processInstrument(left.data(), right.data(), blockSize, notes, offs);
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
}

TEST_F(TestInstrumentTest, StateRoundTripsAndBadStateIsRejectedWithoutChange) {
    ASSERT_TRUE(plugin.setParameterNormalized(0, 0.3f));
    std::vector<float> left(blockSize), right(blockSize);
    plugin.process(left.data(), right.data(), blockSize);
    std::vector<uint8_t> state;
    ASSERT_TRUE(plugin.getState(state));
    ASSERT_EQ(state.size(), 8u);

    Vst3Plugin other;
    ASSERT_TRUE(other.load(testing::testInstrumentPath(), ""));
    ASSERT_TRUE(other.setState(state));
    EXPECT_NEAR(other.listParameters().at(0).normalizedValue, 0.3f, 1e-6);
    EXPECT_FALSE(other.setState({1, 2, 3}));
    EXPECT_FALSE(other.setState({}));
    EXPECT_NEAR(other.listParameters().at(0).normalizedValue, 0.3f, 1e-6);
}

class MisbehavingEffectTest : public ::testing::Test {
  protected:
    static constexpr uint32_t behaviourParameter = 0;
    static float behaviour(int step) { return float(step) / 5.0f; }
    void load() {
        ASSERT_TRUE(plugin.load(testing::misbehavingEffectPath(), ""));
        ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    }
    Vst3Plugin plugin;
};

TEST_F(MisbehavingEffectTest, PassesAudioThroughWhenBehaving) {
    load();
    std::vector<float> left(blockSize), right(blockSize);
    fillSine(left, 300.0, 0.5, sampleRate, 0);
    fillSine(right, 700.0, 0.5, sampleRate, 0);
    std::vector<float> expectedLeft = left, expectedRight = right;
    plugin.process(left.data(), right.data(), blockSize);
    EXPECT_EQ(left, expectedLeft);
    EXPECT_EQ(right, expectedRight);
}

TEST_F(MisbehavingEffectTest, EditsReportedFromInsideProcessNeitherAllocateNorDeadlock) {
    testing::ScopedEnvironment mode("HALVORA_TEST_MISBEHAVIOUR", "edit-in-process");
    load();
    // More new parameters than the hand-over first holds: an edit handled on the audio thread
    // would then have to grow it, under the lock that thread already holds.
    for (uint32_t id = 100; id < 400; ++id)
        (void)plugin.setParameterNormalized(id, 0.5f); // ids it lacks: the hand-over grows
    std::vector<float> left(blockSize), right(blockSize);
    constexpr int blocks = 20;
    {
        orvane::testing::AllocationScope scope;
        for (int block = 0; block < blocks; ++block)
            EXPECT_TRUE(plugin.process(left.data(), right.data(), blockSize,
                                       Deadline::after(std::chrono::seconds(1))));
        EXPECT_EQ(scope.allocations(), 0u);
        EXPECT_EQ(scope.frees(), 0u);
    }
    // The edits wait for the main thread, which keeps the last one as its own.
    EXPECT_NEAR(plugin.getParameterNormalized(behaviourParameter), 0.01f * blocks, 1e-6);
    EXPECT_EQ(plugin.collectProcessEdits(), 0u);
}

TEST_F(MisbehavingEffectTest, ReportsLatencyFromTheEnvironmentAtPrepare) {
    testing::ScopedEnvironment mode("HALVORA_TEST_MISBEHAVIOUR", "latency");
    load();
    EXPECT_EQ(plugin.latency, 256);
    plugin.unload();
    EXPECT_EQ(plugin.latency, 0);
}

TEST_F(MisbehavingEffectTest, LatencyChosenByParameterShowsAtTheNextPrepare) {
    load();
    EXPECT_EQ(plugin.latency, 0);
    ASSERT_TRUE(plugin.setParameterNormalized(behaviourParameter, behaviour(3)));
    std::vector<float> left(blockSize), right(blockSize);
    plugin.process(left.data(), right.data(), blockSize);
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    EXPECT_EQ(plugin.latency, 256);
}

TEST_F(MisbehavingEffectTest, RejectedStateReportsFailure) {
    testing::ScopedEnvironment mode("HALVORA_TEST_MISBEHAVIOUR", "reject-state");
    load();
    std::vector<uint8_t> state;
    ASSERT_TRUE(plugin.getState(state));
    EXPECT_FALSE(plugin.setState(state));
}

TEST_F(MisbehavingEffectTest, StateLargerThan64KilobytesRoundTripsInProcess) {
    testing::ScopedEnvironment mode("HALVORA_TEST_MISBEHAVIOUR", "large-state");
    load();
    std::vector<uint8_t> state;
    ASSERT_TRUE(plugin.getState(state));
    EXPECT_GT(state.size(), 65536u);
    EXPECT_TRUE(plugin.setState(state));
    state[state.size() / 2] ^= 0xFF;
    EXPECT_FALSE(plugin.setState(state)) << "the plug-in checks its payload";
}

using MisbehavingEffectDeathTest = MisbehavingEffectTest;

TEST_F(MisbehavingEffectDeathTest, CrashModeCrashesInsideProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing::ScopedEnvironment mode("HALVORA_TEST_MISBEHAVIOUR", "crash");
    load();
    std::vector<float> left(blockSize), right(blockSize);
    // Under AddressSanitizer the segmentation fault is reported and turned into an abort.
    EXPECT_EXIT(
        {
            plugin.process(left.data(), right.data(), blockSize);
            std::exit(0);
        },
        [](int status) {
            return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0);
        },
        "");
}

TEST_F(MisbehavingEffectDeathTest, HangModeNeverReturnsFromProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    load();
    ASSERT_TRUE(plugin.setParameterNormalized(behaviourParameter, behaviour(2)));
    std::vector<float> left(blockSize), right(blockSize);
    // The alarm ends the hung child; returning from process would exit normally instead.
    EXPECT_EXIT(
        {
            alarm(1);
            plugin.process(left.data(), right.data(), blockSize);
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGALRM), "");
}

} // namespace
} // namespace orvane::vst

namespace orvane::vst {
namespace {

const std::string programEffect =
    std::string(HALVORA_PROGRAM_BUNDLES_DIR) + "/HalvoraProgramEffect.vst3";

TEST(Vst3Programs, AProgramListIsListedAndEachProgramIsHeardAndKeptInTheState) {
    Vst3Plugin plugin;
    ASSERT_TRUE(plugin.load(programEffect, ""));
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    const std::vector<Vst3Program> programs = plugin.factoryPrograms();
    std::vector<std::string> names;
    for (const Vst3Program &program : programs)
        names.push_back(program.name);
    ASSERT_EQ(names, (std::vector<std::string>{"Unity", "Half", "Quiet"}));
    // Units are the plug-in's groups: "Gain" is in "Level", the root unit is no group.
    std::vector<std::pair<std::string, std::string>> groups;
    for (const PluginParameterInfo &parameter : plugin.listParameters())
        groups.emplace_back(parameter.name, parameter.group);
    EXPECT_EQ(groups, (std::vector<std::pair<std::string, std::string>>{{"Gain", "Level"},
                                                                        {"Program", ""}}));
    // The gain each program sets, as heard: a level in dB.
    const double expected[] = {0.0, decibels(0.5), decibels(0.1)};
    std::vector<uint8_t> states[3];
    for (std::size_t index : {2u, 0u, 1u}) {
        SCOPED_TRACE(programs[index].name);
        ASSERT_TRUE(
            plugin.setParameterNormalized(programs[index].parameterId, programs[index].normalized));
        EXPECT_NEAR(sineGainDecibels(plugin, 2), expected[index], 0.01);
        ASSERT_TRUE(plugin.getState(states[index]));
    }
    EXPECT_NE(states[0], states[1]);
    EXPECT_NE(states[1], states[2]);
    ASSERT_TRUE(plugin.setState(states[2]));
    EXPECT_NEAR(sineGainDecibels(plugin, 2), expected[2], 0.01);
}

TEST(Vst3Programs, APluginWithoutProgramListsHasNone) {
    ASSERT_TRUE(testing::zamPluginsInstalled());
    testing::ThirdPartyLeaksIgnored zamLeaks;
    Vst3Plugin plugin;
    ASSERT_TRUE(plugin.load(testing::zamBundle("ZamComp"), ""));
    EXPECT_TRUE(plugin.factoryPrograms().empty());
    Vst3Plugin unloaded;
    EXPECT_TRUE(unloaded.factoryPrograms().empty());
}

} // namespace
} // namespace orvane::vst
