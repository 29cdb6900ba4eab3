#include "core/plugins/FramedNotes.h"
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/Lv2World.h"
#include "core/plugins/sandbox/SandboxedChain.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "core/plugins/vst3/Vst3Plugin.h"

#include "core/plugins/sandbox/tests/SandboxTestSupport.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <utility>

namespace orvane::vst {
namespace {

using namespace testing;

constexpr double sampleRate = 48000.0;
constexpr int blockSize = 256;
constexpr uint32_t zamCompThreshold = 7;
constexpr uint32_t behaviourParameter = 0;
// "Behaviour" values: step × 1/5.
constexpr float crashBehaviour = 0.2f;
constexpr float hangBehaviour = 0.4f;
constexpr float largeStateBehaviour = 1.0f;

class OutOfProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        controller.enabled = true;
        controller.helperSearchFolder = helperProgramFolder();
    }

    void loadSandboxed(SandboxedPlugin &plugin, const std::string &path) {
        ASSERT_TRUE(plugin.load(path, "")) << controller.lastError;
        ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    }

    /// Runs one block of a sine through the plug-in and returns what came out (left, right).
    template <class HostedPlugin>
    static std::vector<float> runBlock(HostedPlugin &plugin, int frames, long firstFrame) {
        std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
        fillSine(left, 1000.0, 0.5, sampleRate, firstFrame);
        fillSine(right, 300.0, 0.4, sampleRate, firstFrame);
        plugin.process(left.data(), right.data(), frames);
        left.insert(left.end(), right.begin(), right.end());
        return left;
    }

    static std::vector<float> expectedPassThrough(int frames, long firstFrame) {
        std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
        fillSine(left, 1000.0, 0.5, sampleRate, firstFrame);
        fillSine(right, 300.0, 0.4, sampleRate, firstFrame);
        left.insert(left.end(), right.begin(), right.end());
        return left;
    }

    ThirdPartyLeaksIgnored zamLeaks;
    PluginSandboxController controller;
};

TEST_F(OutOfProcess, ZamCompGivesExactlyTheSamplesOfInProcessHosting) {
    ASSERT_TRUE(zamPluginsInstalled());
    Vst3Plugin local;
    SandboxedPlugin remote(controller);
    ASSERT_TRUE(local.load(zamBundle("ZamComp"), ""));
    ASSERT_TRUE(local.prepare(sampleRate, blockSize));
    loadSandboxed(remote, zamBundle("ZamComp"));
    EXPECT_TRUE(remote.isLoaded());
    EXPECT_EQ(remote.description.name, "ZamComp");
    for (Plugin *plugin : std::initializer_list<Plugin *>{&local, &remote})
        ASSERT_TRUE(plugin->setParameterNormalized(zamCompThreshold, 0.3f));
    double difference = 0.0;
    double level = 0.0;
    for (int block = 0; block < 40; ++block) {
        std::vector<float> expected = runBlock(local, blockSize, long(block) * blockSize);
        std::vector<float> actual = runBlock(remote, blockSize, long(block) * blockSize);
        ASSERT_EQ(actual.size(), expected.size());
        for (size_t index = 0; index < actual.size(); ++index) {
            difference = std::max(difference, double(std::abs(actual[index] - expected[index])));
            level = std::max(level, double(std::abs(expected[index])));
        }
    }
    EXPECT_EQ(difference, 0.0);
    EXPECT_GT(level, 0.01);
}

TEST_F(OutOfProcess, TestInstrumentPlaysExactlyTheNotesOfInProcessHosting) {
    Vst3Plugin local;
    SandboxedPlugin remote(controller);
    ASSERT_TRUE(local.load(testInstrumentPath(), ""));
    ASSERT_TRUE(local.prepare(sampleRate, blockSize));
    loadSandboxed(remote, testInstrumentPath());
    for (Plugin *plugin : std::initializer_list<Plugin *>{&local, &remote})
        ASSERT_TRUE(plugin->setParameterNormalized(0, 0.7f));
    std::vector<std::vector<float>> outputs[2];
    const auto play = [](auto &plugin, std::vector<std::vector<float>> &output) {
        for (int block = 0; block < 12; ++block) {
            std::vector<float> left(blockSize, 0.0f), right(blockSize, 0.0f);
            std::vector<NoteOn> ons;
            std::vector<int> offs;
            if (block == 0) ons = {{69, 0.8f}, {76, 0.55f}};
            if (block == 6) offs = {69};
            if (block == 9) offs = {76};
            orvane::testing::AllocationScope scope;
            plugin.processInstrument(left.data(), right.data(), blockSize, ons, offs);
            EXPECT_EQ(scope.allocations(), 0u);
            left.insert(left.end(), right.begin(), right.end());
            output.push_back(left);
        }
    };
    play(local, outputs[0]);
    play(remote, outputs[1]);
    EXPECT_EQ(outputs[1], outputs[0]);
    EXPECT_GT(rms(outputs[0][3].data(), blockSize), 0.05);
    EXPECT_EQ(rms(outputs[0][11].data(), blockSize), 0.0);
}

// Each note reaches a sandboxed instrument on its own frame, alone in its helper or heading a
// shared one: the helper cuts the block where notes start or stop, as this process does.
TEST_F(OutOfProcess, TestInstrumentNotesStartAndStopOnTheirFramesAsInProcess) {
    struct Note {
        int block;
        int32_t frame;
        uint8_t status;
        uint8_t pitch;
        uint8_t velocity;
    };
    const Note notes[] = {{0, 100, 0x90, 69, 100}, {2, 37, 0x90, 76, 80}, {3, 0, 0x80, 69, 0},
                          {3, 200, 0x90, 72, 90},  {5, 255, 0x80, 76, 0}, {6, 17, 0x80, 72, 0}};
    constexpr int blocks = 8;
    const auto eventsOf = [&](int block) {
        std::vector<PluginMidiEvent> events;
        for (const Note &note : notes)
            if (note.block == block)
                events.push_back({note.frame, 3, {note.status, note.pitch, note.velocity}});
        return events;
    };
    using Output = std::vector<std::vector<float>>;
    const auto play =
        [&](const std::function<bool(float *, float *, std::span<const PluginMidiEvent>)>
                &process) {
            Output output;
            for (int block = 0; block < blocks; ++block) {
                std::vector<float> left(blockSize, 0.0f), right(blockSize, 0.0f);
                const std::vector<PluginMidiEvent> events = eventsOf(block);
                orvane::testing::AllocationScope scope;
                EXPECT_TRUE(process(left.data(), right.data(), events)) << "block " << block;
                EXPECT_EQ(scope.allocations(), 0u) << "block " << block;
                left.insert(left.end(), right.begin(), right.end());
                output.push_back(left);
            }
            return output;
        };
    Vst3Plugin local;
    ASSERT_TRUE(local.load(testInstrumentPath(), ""));
    ASSERT_TRUE(local.prepare(sampleRate, blockSize));
    const Output expected = play([&](float *left, float *right, auto events) {
        return local.processRt(left, right, blockSize, Deadline::after(5s), events);
    });
    SandboxedPlugin alone(controller);
    loadSandboxed(alone, testInstrumentPath());
    const Output ownHelper = play([&](float *left, float *right, auto events) {
        return alone.processRt(left, right, blockSize, Deadline::after(5s), events);
    });
    SandboxedChain chain(controller);
    ASSERT_TRUE(chain.load({{testInstrumentPath(), ""}, {misbehavingEffectPath(), ""}}))
        << controller.lastError;
    ASSERT_TRUE(chain.prepare(sampleRate, blockSize));
    const Output sharedHelper = play([&](float *left, float *right, auto events) {
        const FramedNotes framed = FramedNotes::from(events);
        return chain.process(left, right, blockSize, Deadline::after(5s), framed.noteOns(),
                             framed.noteOffs(), framed.noteOffFrames());
    });
    // Live, one block behind: the notes go with the block they fall in, on their frames.
    SandboxedPlugin live(controller);
    loadSandboxed(live, testInstrumentPath());
    Output behind;
    for (int block = 0; block < blocks; ++block) {
        std::vector<float> left(blockSize, 0.0f), right(blockSize, 0.0f);
        const std::vector<PluginMidiEvent> events = eventsOf(block);
        const FramedNotes framed = FramedNotes::from(events);
        EXPECT_EQ(live.processLiveRt(left.data(), right.data(), blockSize, Deadline::after(5s),
                                     framed.noteOns(), framed.noteOffs(), framed.noteOffFrames()),
                  block > 0);
        live.hasEditor(); // served after the block: the helper kept up
        left.insert(left.end(), right.begin(), right.end());
        behind.push_back(left);
    }
    EXPECT_TRUE(ownHelper == expected);
    EXPECT_TRUE(sharedHelper == expected);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end() - 1, behind.begin() + 1));
    // The first note's sine starts on frame 100 at phase 0: silence before, sound after.
    EXPECT_EQ(rms(expected[0].data(), 101), 0.0);
    EXPECT_GT(rms(expected[0].data() + 101, blockSize - 101), 0.01);
    // The last note stops on frame 17 of block 6.
    EXPECT_GT(rms(expected[6].data(), 17), 0.01);
    EXPECT_EQ(rms(expected[7].data(), blockSize), 0.0);
}

TEST_F(OutOfProcess, BlocksOfAnySizeComeBackThroughThePluginWithoutAllocating) {
    SandboxedPlugin plugin(controller);
    loadSandboxed(plugin, misbehavingEffectPath());
    for (int frames : {1, blockSize, 8192, 9000}) {
        std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
        fillSine(left, 1000.0, 0.5, sampleRate, 0);
        fillSine(right, 300.0, 0.4, sampleRate, 0);
        std::vector<float> sentLeft = left, sentRight = right;
        {
            orvane::testing::AllocationScope scope;
            plugin.process(left.data(), right.data(), frames);
            EXPECT_EQ(scope.allocations(), 0u) << frames << " frames";
            EXPECT_EQ(scope.frees(), 0u) << frames << " frames";
        }
        EXPECT_EQ(left, sentLeft);
        EXPECT_EQ(right, sentRight);
    }
    EXPECT_TRUE(plugin.isLoaded());
    EXPECT_FALSE(plugin.collectTransportFailure());
}

TEST_F(OutOfProcess, PrepareReportsTheLatencyTheHelperSends) {
    SandboxedPlugin plugin(controller);
    loadSandboxed(plugin, misbehavingEffectPath());
    EXPECT_EQ(plugin.latency, 0);
    std::vector<uint8_t> latencyState = {0x4D, 0x42, 0x56, 0x48, 3, 0, 0, 0};
    ASSERT_TRUE(plugin.setState(latencyState));
    ASSERT_TRUE(plugin.prepare(44100.0, 128));
    EXPECT_EQ(plugin.latency, 256);
}

TEST_F(OutOfProcess, StateLargerThan64KilobytesSurvivesARoundTrip) {
    SandboxedPlugin first(controller), second(controller);
    loadSandboxed(first, misbehavingEffectPath());
    ASSERT_TRUE(first.setParameterNormalized(behaviourParameter, largeStateBehaviour));
    runBlock(first, blockSize, 0);
    std::vector<uint8_t> state;
    ASSERT_TRUE(first.getState(state));
    EXPECT_GT(state.size(), 65536u);
    loadSandboxed(second, misbehavingEffectPath());
    ASSERT_TRUE(second.setState(state));
    std::vector<uint8_t> restored;
    ASSERT_TRUE(second.getState(restored));
    EXPECT_EQ(restored, state);
}

TEST_F(OutOfProcess, RejectedStateAndParametersAreReportedThroughTheResult) {
    SandboxedPlugin plugin(controller);
    loadSandboxed(plugin, misbehavingEffectPath());
    EXPECT_FALSE(plugin.setState({1, 2, 3}));
    EXPECT_TRUE(plugin.setParameterNormalized(behaviourParameter, -0.2f));
    EXPECT_EQ(plugin.getParameterNormalized(behaviourParameter), 0.0f);
    const std::vector<PluginParameterInfo> listed = plugin.listParameters();
    const auto behaviour = std::find_if(listed.begin(), listed.end(), [](const auto &parameter) {
        return parameter.id == behaviourParameter;
    });
    ASSERT_NE(behaviour, listed.end());
    EXPECT_EQ(behaviour->normalizedValue, 0.0f) << "the clamped value, as the helper holds it";
    EXPECT_TRUE(plugin.isLoaded());
}

/// A parameter as a generic editor shows it: what it is, and the plug-in's text for values.
struct ShownParameter {
    uint32_t id = 0;
    std::string name;
    std::string units;
    int32_t steps = 0;
    bool editable = true;
    float value = 0.0f;
    std::string group;
    std::vector<std::string> texts;
    bool operator==(const ShownParameter &) const = default;
};

void PrintTo(const ShownParameter &shown, std::ostream *out) {
    *out << shown.id << " " << shown.name << " [" << shown.units << "] " << shown.value;
    for (const std::string &text : shown.texts)
        *out << " \"" << text << "\"";
}

std::vector<ShownParameter> shownParameters(Plugin &plugin) {
    std::vector<ShownParameter> shown;
    for (const PluginParameterInfo &info : plugin.listParameters()) {
        ShownParameter parameter{
            info.id,    info.name, info.units, info.stepCount, info.editable, info.normalizedValue,
            info.group, {}};
        for (const float value : {0.0f, 0.3f, 1.0f})
            parameter.texts.push_back(plugin.parameterValueText(info.id, value));
        shown.push_back(std::move(parameter));
    }
    return shown;
}

// A plug-in kept in a helper lists for the generic editor what the same plug-in lists here:
// names, units, steps and values, and its own text for a value; a value set in the program and
// not yet carried over is the one listed.
TEST_F(OutOfProcess, ParametersAndTheirTextsAreThoseOfInProcessHosting) {
    ASSERT_TRUE(zamPluginsInstalled());
    constexpr const char *calfFilter = "http://calf.sourceforge.net/plugins/Filter";
    Vst3Plugin localVst3;
    ASSERT_TRUE(localVst3.load(zamBundle("ZamComp"), ""));
    ASSERT_TRUE(localVst3.setParameterNormalized(zamCompThreshold, 0.3f));
    SandboxedPlugin remoteVst3(controller);
    loadSandboxed(remoteVst3, zamBundle("ZamComp"));
    ASSERT_TRUE(remoteVst3.setParameterNormalized(zamCompThreshold, 0.3f));
    lv2::Lv2Plugin localLv2;
    ASSERT_TRUE(localLv2.load(calfFilter));
    SandboxedPlugin remoteLv2(controller);
    loadSandboxed(remoteLv2, std::string(lv2::pluginIdPrefix) + calfFilter);

    const std::pair<Plugin *, Plugin *> pairs[] = {{&localVst3, &remoteVst3},
                                                   {&localLv2, &remoteLv2}};
    for (const auto &[local, remote] : pairs) {
        SCOPED_TRACE(local->description.name);
        const std::vector<ShownParameter> expected = shownParameters(*local);
        ASSERT_GE(expected.size(), 4u);
        EXPECT_EQ(shownParameters(*remote), expected);
        EXPECT_NE(expected.front().texts.front(), "") << "a text the editor can show";
    }
    EXPECT_EQ(remoteVst3.getParameterNormalized(zamCompThreshold), 0.3f);
}

TEST_F(OutOfProcess, EachInstanceRunsInAHelperOfItsOwnThatUnloadStops) {
    SandboxedPlugin first(controller), second(controller);
    loadSandboxed(first, misbehavingEffectPath());
    loadSandboxed(second, misbehavingEffectPath());
    // The health check's own connection is never queued behind a plug-in's.
    EXPECT_TRUE(controller.refreshHealth());
    std::vector<std::filesystem::path> sockets;
    for (const auto &entry : std::filesystem::directory_iterator(
             std::filesystem::path(controller.socketPath).parent_path()))
        if (entry.path().filename().string().starts_with("halvora_vst_" + std::to_string(getpid())))
            sockets.push_back(entry.path());
    EXPECT_EQ(sockets.size(), 3u);
    first.unload();
    second.unload();
    EXPECT_FALSE(first.isLoaded());
    size_t remaining = 0;
    for (const auto &socket : sockets)
        remaining += std::filesystem::exists(socket) ? 1 : 0;
    EXPECT_EQ(remaining, 1u) << "only the health-check helper's socket stays";
}

TEST_F(OutOfProcess, RefusesPathsAndUidsThatWouldCarryAnotherRequest) {
    SandboxedPlugin plugin(controller);
    ASSERT_TRUE(controller.ensureSandboxRunning());
    int32_t helper = controller.helperPid;
    EXPECT_FALSE(plugin.load(misbehavingEffectPath() + "\nQUIT", ""));
    EXPECT_FALSE(plugin.load(misbehavingEffectPath(), "\rQUIT"));
    EXPECT_FALSE(plugin.isLoaded());
    EXPECT_EQ(controller.helperPid, helper);
    EXPECT_TRUE(controller.pingSandbox());
}

TEST_F(OutOfProcess, FailsToLoadWhenTheSandboxCannotStart) {
    TemporaryFolder empty;
    controller.helperSearchFolder = empty.path().string();
    SandboxedPlugin plugin(controller);
    EXPECT_FALSE(plugin.load(misbehavingEffectPath(), ""));
    EXPECT_EQ(controller.lastError, "HalvoraVstHelper not found");
    EXPECT_FALSE(plugin.isLoaded());
}

struct Misbehaviour {
    float behaviour;
    std::string text;
};

class SandboxedMisbehaviour : public OutOfProcess,
                              public ::testing::WithParamInterface<Misbehaviour> {};

TEST_P(SandboxedMisbehaviour, SilencesOnlyThatInsertAndLetsAnotherKeepProcessing) {
    ScopedEnvironment immediateCrash("ASAN_OPTIONS",
                                     withSanitizerOption("ASAN_OPTIONS", "handle_segv=0"));
    SandboxedPlugin failing(controller), healthy(controller);
    loadSandboxed(failing, misbehavingEffectPath());
    loadSandboxed(healthy, misbehavingEffectPath());
    int latencyBefore = failing.latency;
    ASSERT_TRUE(failing.setParameterNormalized(behaviourParameter, GetParam().behaviour));
    runBlock(failing, blockSize, 0);
    EXPECT_FALSE(failing.isLoaded());
    EXPECT_TRUE(controller.running) << "other instances' helpers are not its to stop";
    EXPECT_EQ(failing.latency, latencyBefore);
    EXPECT_TRUE(failing.collectTransportFailure());
    EXPECT_EQ(controller.lastError, GetParam().text);
    // Once dropped, the instance leaves later blocks untouched and reports nothing new.
    EXPECT_EQ(runBlock(failing, blockSize, blockSize), expectedPassThrough(blockSize, blockSize));
    EXPECT_FALSE(failing.collectTransportFailure());

    for (int block = 0; block < 3; ++block)
        EXPECT_EQ(runBlock(healthy, blockSize, block * blockSize),
                  expectedPassThrough(blockSize, block * blockSize));
    EXPECT_TRUE(healthy.isLoaded());
    EXPECT_FALSE(healthy.collectTransportFailure());

    // The rack's next load brings the sandbox back.
    EXPECT_TRUE(failing.load(misbehavingEffectPath(), ""));
    EXPECT_TRUE(controller.running);
}

INSTANTIATE_TEST_SUITE_P(CrashAndHang, SandboxedMisbehaviour,
                         ::testing::Values(Misbehaviour{crashBehaviour, "PROCESS read failed"},
                                           Misbehaviour{hangBehaviour, "Helper not responding"}),
                         [](const ::testing::TestParamInfo<Misbehaviour> &info) {
                             return info.param.behaviour == crashBehaviour ? std::string("Crash")
                                                                           : std::string("Hang");
                         });

// --- Budgets, automation and whose helper died --------------------------------------------

constexpr int missesBeforeDrop = 8;

std::vector<float> sineBlock(int frames, long firstFrame) {
    std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
    fillSine(left, 1000.0, 0.5, sampleRate, firstFrame);
    fillSine(right, 300.0, 0.4, sampleRate, firstFrame);
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

/// Runs one block (left half, then right half of `block`) with a deadline; the result of
/// `process`.
bool runWithin(Plugin &plugin, std::vector<float> &block, Deadline deadline) {
    int frames = static_cast<int>(block.size() / 2);
    return plugin.processRt(block.data(), block.data() + frames, frames, deadline, {});
}

Deadline alreadyPassed() { return Deadline{std::chrono::steady_clock::now(), false}; }

// --- One time budget per block ---------------------------------------------------------------

TEST_F(OutOfProcess, AnInstanceIsDroppedOnlyAfterSeveralMissedBudgetsInARow) {
    SandboxedPlugin plugin(controller);
    loadSandboxed(plugin, misbehavingEffectPath());
    auto missAll = [&plugin](int count) {
        for (int block = 0; block < count; ++block) {
            std::vector<float> samples = sineBlock(64, 0);
            orvane::testing::AllocationScope scope;
            EXPECT_FALSE(runWithin(plugin, samples, alreadyPassed()));
            EXPECT_EQ(scope.allocations(), 0u);
            EXPECT_EQ(samples, sineBlock(64, 0)) << "a missed block passes on untouched";
        }
    };
    missAll(missesBeforeDrop - 1);
    std::vector<float> answered = sineBlock(64, 0);
    EXPECT_TRUE(runWithin(plugin, answered, Deadline::after(std::chrono::seconds(5))));
    // An answer starts the count again.
    missAll(missesBeforeDrop - 1);
    EXPECT_TRUE(plugin.isLoaded());
    missAll(1);
    EXPECT_FALSE(plugin.isLoaded());
    EXPECT_TRUE(plugin.collectTransportFailure());
    EXPECT_EQ(controller.lastError, "Helper not responding");
}

TEST_F(OutOfProcess, AReplyThatMissedItsBlockIsDroppedAndTheNextBlockGetsItsOwn) {
    ScopedEnvironment slow("HALVORA_TEST_MISBEHAVIOUR", "slow");
    SandboxedPlugin plugin(controller);
    loadSandboxed(plugin, misbehavingEffectPath());
    std::vector<float> first = sineBlock(blockSize, 0);
    std::vector<float> silence(first.size(), 0.0f);
    EXPECT_FALSE(runWithin(plugin, silence, Deadline::after(std::chrono::milliseconds(5))));
    std::vector<float> second = sineBlock(blockSize, blockSize);
    EXPECT_TRUE(runWithin(plugin, second, Deadline::after(std::chrono::seconds(5))));
    EXPECT_EQ(second, sineBlock(blockSize, blockSize));
    EXPECT_TRUE(plugin.isLoaded());
}

// --- Automation on the block's own exchange --------------------------------------------------

TEST_F(OutOfProcess, AValueSetBeforeAMissedBlockGoesWithTheNextOneThatLeaves) {
    SandboxedPlugin plugin(controller);
    loadSandboxed(plugin, misbehavingEffectPath());
    // "Behaviour" 0.6: the plug-in reports a latency of 256 samples from its next prepare.
    ASSERT_TRUE(plugin.setParameterNormalized(0, 0.6f));
    std::vector<float> samples = sineBlock(64, 0);
    EXPECT_FALSE(runWithin(plugin, samples, alreadyPassed()));
    EXPECT_TRUE(runWithin(plugin, samples, Deadline::after(std::chrono::seconds(5))));
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    EXPECT_EQ(plugin.latency, 256);
}

TEST_F(OutOfProcess, AutomationReachesASandboxedPluginExactlyAsItReachesALocalOne) {
    ASSERT_TRUE(zamPluginsInstalled());
    Vst3Plugin local, unautomated;
    SandboxedPlugin remote(controller);
    for (Vst3Plugin *plugin : {&local, &unautomated}) {
        ASSERT_TRUE(plugin->load(zamBundle("ZamComp"), ""));
        ASSERT_TRUE(plugin->prepare(sampleRate, blockSize));
    }
    loadSandboxed(remote, zamBundle("ZamComp"));
    for (Plugin *plugin : std::initializer_list<Plugin *>{&local, &remote}) {
        plugin->prepareParameterForAutomation(zamCompThreshold);
        EXPECT_FALSE(plugin->setParameterNormalizedRt(zamCompThreshold + 1, 0.5f))
            << "only prepared ids are automated";
    }
    std::vector<float> outputs[3];
    Plugin *plugins[3] = {&local, &remote, &unautomated};
    for (int block = 0; block < 48; ++block) {
        float value = 0.05f + 0.9f * float(block % 16) / 15.0f;
        for (int which = 0; which < 3; ++which) {
            std::vector<float> samples = sineBlock(blockSize, long(block) * blockSize);
            if (which < 2) {
                orvane::testing::AllocationScope scope;
                EXPECT_TRUE(plugins[which]->setParameterNormalizedRt(zamCompThreshold, value));
                EXPECT_TRUE(
                    runWithin(*plugins[which], samples, Deadline::after(std::chrono::seconds(5))));
                EXPECT_EQ(scope.allocations(), 0u);
            } else {
                runWithin(*plugins[which], samples, Deadline::after(std::chrono::seconds(5)));
            }
            outputs[which].insert(outputs[which].end(), samples.begin(), samples.end());
        }
    }
    EXPECT_EQ(outputs[1], outputs[0]) << "bit for bit";
    EXPECT_NE(outputs[0], outputs[2]) << "the automation changes what is heard";
}

// --- Whose helper died --------------------------------------------------------------------------

TEST_F(OutOfProcess, APluginThatCrashesWhileLoadingTakesOnlyItsOwnHelperDown) {
    ScopedEnvironment immediateCrash("ASAN_OPTIONS",
                                     withSanitizerOption("ASAN_OPTIONS", "handle_segv=0"));
    SandboxedPlugin crashing(controller), healthy(controller);
    loadSandboxed(healthy, misbehavingEffectPath());
    EXPECT_FALSE(crashing.load(crashOnLoadPath(), ""));
    EXPECT_TRUE(crashing.ownHelperCrashed());
    EXPECT_EQ(controller.lastError, "Helper crashed in LOAD");
    EXPECT_TRUE(controller.running);
    // A load that merely fails is no crash.
    SandboxedPlugin missing(controller);
    EXPECT_FALSE(missing.load("/nonexistent/Nothing.vst3", ""));
    EXPECT_FALSE(missing.ownHelperCrashed());
    EXPECT_FALSE(healthy.ownHelperCrashed());
    std::vector<float> samples = sineBlock(blockSize, 0);
    EXPECT_TRUE(runWithin(healthy, samples, Deadline::after(std::chrono::seconds(5))));
}

} // namespace
} // namespace orvane::vst
