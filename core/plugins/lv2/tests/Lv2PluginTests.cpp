#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/Lv2Worker.h"
#include "core/plugins/lv2/Lv2World.h"
#include "core/plugins/lv2/tests/Lv2TestSupport.h"

#include "tests/support/AllocationCounter.h"
#include "tests/support/TestSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace orvane::lv2 {
namespace {

using namespace testing;
using orvane::testing::rmsOf;
using orvane::testing::slice;

const vst::PluginDescription *findDescription(const std::vector<vst::PluginDescription> &all,
                                              const std::string &uri) {
    auto found = std::find_if(all.begin(), all.end(), [&](const auto &description) {
        return description.uid == "lv2:" + uri;
    });
    return found == all.end() ? nullptr : &*found;
}

TEST(Lv2Discovery, InstalledPluginsAreDescribedFromTheirDataFiles) {
    const auto all = describeInstalledLv2Plugins({std::string("lv2:") + calfReverb});
    struct Expected {
        const char *uri;
        const char *category;
        bool instrument;
    };
    const Expected table[] = {{x42Equalizer, "Parametric EQ", false},
                              {lspCompressor, "Compressor", false},
                              {calfReverb, "Reverb", false},
                              {calfMonosynth, "Instrument", true}};
    for (const Expected &expected : table) {
        SCOPED_TRACE(expected.uri);
        const vst::PluginDescription *description = findDescription(all, expected.uri);
        ASSERT_NE(description, nullptr);
        EXPECT_EQ(description->format, "LV2");
        EXPECT_FALSE(description->name.empty());
        EXPECT_FALSE(description->vendor.empty());
        EXPECT_EQ(description->category, expected.category);
        EXPECT_EQ(description->isInstrument, expected.instrument);
        EXPECT_TRUE(std::filesystem::is_directory(description->path)) << description->path;
        EXPECT_EQ(description->blacklisted, expected.uri == std::string(calfReverb));
    }
}

TEST(Lv2Discovery, UridsAreStableAndUnmapBack) {
    UridMap map;
    const uint32_t first = map.map("urn:one");
    EXPECT_NE(first, 0u);
    EXPECT_EQ(map.map("urn:one"), first);
    EXPECT_NE(map.map("urn:two"), first);
    EXPECT_STREQ(map.unmap(first), "urn:one");
    EXPECT_EQ(map.unmap(0), nullptr);
    EXPECT_EQ(map.unmap(999), nullptr);
}

TEST(Lv2Loading, UnknownUriFailsWithAReason) {
    Lv2Plugin plugin;
    EXPECT_FALSE(plugin.load("urn:halvora:not-installed"));
    EXPECT_NE(plugin.lastError.find("urn:halvora:not-installed"), std::string::npos);
    EXPECT_FALSE(plugin.isLoaded());
    float left[4] = {1, 2, 3, 4}, right[4] = {5, 6, 7, 8};
    EXPECT_FALSE(plugin.process(left, right, 4));
    EXPECT_EQ(left[3], 4.0f);
}

TEST(Lv2Parameters, ControlPortsBecomeParametersWithTheirHints) {
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(x42Equalizer)) << plugin.lastError;
    const Lv2Parameter &enable =
        plugin.parameters[static_cast<size_t>(plugin.parameterIndex("enable"))];
    EXPECT_TRUE(enable.toggled);
    const Lv2Parameter &frequency =
        plugin.parameters[static_cast<size_t>(plugin.parameterIndex("freq1"))];
    EXPECT_TRUE(frequency.logarithmic);
    EXPECT_GT(frequency.maximum, frequency.minimum);
    EXPECT_EQ(plugin.parameterValue(static_cast<size_t>(plugin.parameterIndex("freq1"))),
              frequency.defaultValue);
    EXPECT_EQ(frequency.unit, "Hz");
    EXPECT_EQ(plugin.parameters[static_cast<size_t>(plugin.parameterIndex("gain"))].unit, "dB");
    EXPECT_EQ(enable.unit, "") << "a switch has no unit";

    ASSERT_TRUE(plugin.load(calfMonosynth)) << plugin.lastError;
    const Lv2Parameter &type =
        plugin.parameters[static_cast<size_t>(plugin.parameterIndex("o1_wave"))];
    EXPECT_TRUE(type.enumeration);
    EXPECT_GE(type.scalePoints.size(), 2u);
    EXPECT_TRUE(std::is_sorted(type.scalePoints.begin(), type.scalePoints.end()));
}

// Meters are what an interface shows of the plug-in's work: after a block, the input meter of
// the reverb reads the level that went in.
TEST(Lv2Parameters, ControlOutputsReadWhatTheLastBlockReported) {
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(calfReverb)) << plugin.lastError;
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    const std::vector<uint32_t> outputs = plugin.controlOutputPorts();
    ASSERT_GE(outputs.size(), 4u) << "its four meters at least";
    EXPECT_EQ(plugin.parameterIndexForPort(outputs[0]), -1) << "outputs are no parameters";
    const uint32_t inputMeter = 4; // meter_inL, in the plug-in's port order
    ASSERT_NE(std::find(outputs.begin(), outputs.end(), inputMeter), outputs.end());
    EXPECT_EQ(plugin.controlOutputValue(inputMeter), 0.0f) << "nothing played yet";
    (void)renderThrough(plugin, testSignal(4 * blockSize));
    EXPECT_GT(plugin.controlOutputValue(inputMeter), 0.1f) << "the tone's peak is 0.4";
    EXPECT_EQ(plugin.controlOutputValue(9999), 0.0f);
}

TEST(Lv2Parameters, NormalizedValuesFollowTheHints) {
    auto range = [](float minimum, float maximum) {
        Lv2Parameter parameter;
        parameter.minimum = minimum;
        parameter.maximum = maximum;
        return parameter;
    };
    Lv2Parameter linear = range(-20.0f, 20.0f), logarithmic = range(20.0f, 20000.0f),
                 toggle = range(0.0f, 1.0f), integer = range(0.0f, 4.0f),
                 choice = range(0.0f, 9.0f);
    logarithmic.logarithmic = true;
    toggle.toggled = true;
    integer.integer = true;
    choice.enumeration = true;
    choice.scalePoints = {{0.0f, "a"}, {3.0f, "b"}, {9.0f, "c"}};
    struct Case {
        const Lv2Parameter *parameter;
        float normalized, plain;
    };
    const Case cases[] = {
        {&linear, 0.25f, -10.0f},    {&linear, 1.5f, 20.0f}, {&logarithmic, 0.5f, 632.455f},
        {&logarithmic, 0.0f, 20.0f}, {&toggle, 0.49f, 0.0f}, {&toggle, 0.5f, 1.0f},
        {&integer, 0.6f, 2.0f},      {&choice, 0.5f, 3.0f},  {&choice, 0.9f, 9.0f}};
    for (const Case &c : cases) {
        EXPECT_NEAR(plainFromNormalized(*c.parameter, c.normalized), c.plain, 0.01f);
        const float back = normalizedFromPlain(*c.parameter, c.plain);
        EXPECT_NEAR(plainFromNormalized(*c.parameter, back), c.plain, 0.01f);
    }
}

struct Reference {
    const char *uri;
    ControlValues controls;
};

// Each plug-in with settings far from its defaults, so that a control value lost on the way
// shows in the output.
const Reference references[] = {
    {x42Equalizer,
     {{"gain", 3.0f},
      {"sec1", 1.0f},
      {"freq1", 1000.0f},
      {"gain1", -9.0f},
      {"HighPass", 1.0f},
      {"HPfreq", 300.0f}}},
    {x42Compressor, {{"threshold", -40.0f}, {"Ratio", 0.8f}, {"attack", 0.005f}}},
    {calfReverb, {{"decay_time", 2.5f}, {"amount", 0.5f}, {"room_size", 3.0f}}},
    {eq10qEqualizer, {{"filter3_gain", 8.0f}, {"filter3_freq", 900.0f}, {"output_gain", -3.0f}}},
};

const ControlValues lspControls{{"al", 0.05f}, {"cr", 6.0f}, {"at", 5.0f}, {"mk", 2.0f}};

// lv2file is an offline host of its own; the same input with the same control values in the
// same blocks must come out the same, within one step of 24-bit audio.
TEST(Lv2Rendering, EffectsMatchAnIndependentOfflineHost) {
    const StereoSignal input = testSignal(48000);
    for (const Reference &reference : references) {
        SCOPED_TRACE(reference.uri);
        Lv2Plugin plugin;
        ASSERT_TRUE(plugin.load(reference.uri)) << plugin.lastError;
        ASSERT_TRUE(plugin.prepare(sampleRate, blockSize)) << plugin.lastError;
        setControls(plugin, reference.controls);
        const StereoSignal ours = renderThrough(plugin, input);
        const StereoSignal theirs = renderWithLv2file(reference.uri, reference.controls, input);
        ASSERT_EQ(theirs.frames(), input.frames());
        EXPECT_GT(largestDifference(ours, input), 0.01f) << "the plug-in left the signal as it was";
        EXPECT_LE(largestDifference(ours, theirs), 1.0f / 8388608.0f);
    }
}

TEST(Lv2Rendering, MonoPluginsRunOneInstancePerChannel) {
    const StereoSignal input = testSignal(8192);
    const ControlValues controls{{"sec2", 1.0f}, {"freq2", 500.0f}, {"gain2", 12.0f}};
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(x42EqualizerMono)) << plugin.lastError;
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    setControls(plugin, controls);
    const StereoSignal both = renderThrough(plugin, input);
    // The same channel alone, through a fresh instance: the other channel must not leak in.
    Lv2Plugin alone;
    ASSERT_TRUE(alone.load(x42EqualizerMono));
    ASSERT_TRUE(alone.prepare(sampleRate, blockSize));
    setControls(alone, controls);
    const StereoSignal leftOnly = renderThrough(alone, StereoSignal{input.left, input.left});
    EXPECT_EQ(both.left, leftOnly.left);
    EXPECT_NE(both.right, leftOnly.right);
    EXPECT_GT(largestDifference(both, input), 0.01f);
}

TEST(Lv2Rendering, LatencyIsReportedAndMatchesTheDelayHeard) {
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(x42Limiter)) << plugin.lastError;
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    const int32_t latency = plugin.latency();
    ASSERT_GT(latency, 0);
    StereoSignal impulse{std::vector<float>(4096), std::vector<float>(4096)};
    impulse.left[100] = impulse.right[100] = 0.25f;
    const StereoSignal out = renderThrough(plugin, impulse);
    const auto peak = std::max_element(out.left.begin(), out.left.end(), [](float a, float b) {
        return std::fabs(a) < std::fabs(b);
    });
    EXPECT_EQ(peak - out.left.begin(), 100 + latency);
}

TEST(Lv2Rendering, LongBlocksAreCutToTheBoundAndGiveTheSameResult) {
    const StereoSignal input = testSignal(4096);
    auto render = [&](int prepared, int given) {
        Lv2Plugin plugin;
        EXPECT_TRUE(plugin.load(x42Equalizer));
        EXPECT_TRUE(plugin.prepare(sampleRate, prepared));
        setControls(plugin, references[0].controls);
        StereoSignal signal = input;
        for (size_t offset = 0; offset < signal.frames(); offset += static_cast<size_t>(given))
            EXPECT_TRUE(
                plugin.process(signal.left.data() + offset, signal.right.data() + offset, given));
        return signal;
    };
    const StereoSignal small = render(256, 256), cut = render(256, 1024);
    EXPECT_EQ(small.left, cut.left);
    EXPECT_EQ(small.right, cut.right);
}

TEST(Lv2State, SavedStateRestoresControlsAndSoundInAnotherInstance) {
    ScratchFolder folder;
    Lv2Plugin first;
    ASSERT_TRUE(first.load(lspCompressor)) << first.lastError;
    ASSERT_TRUE(first.prepare(sampleRate, blockSize));
    (void)first.setStateFolder(folder.path.string());
    setControls(first, lspControls);
    std::vector<uint8_t> state;
    ASSERT_TRUE(first.getState(state)) << first.lastError;
    ASSERT_FALSE(state.empty());

    Lv2Plugin second;
    ASSERT_TRUE(second.load(lspCompressor));
    (void)second.setStateFolder(folder.path.string());
    ASSERT_TRUE(second.setState(state)) << second.lastError; // before prepare: kept for it
    ASSERT_TRUE(second.prepare(sampleRate, blockSize));
    for (size_t index = 0; index < first.parameters.size(); ++index)
        EXPECT_EQ(second.parameterValue(index), first.parameterValue(index))
            << first.parameters[index].symbol;

    Lv2Plugin fresh;
    ASSERT_TRUE(fresh.load(lspCompressor));
    ASSERT_TRUE(fresh.prepare(sampleRate, blockSize));
    const StereoSignal input = testSignal(16384);
    Lv2Plugin reference;
    ASSERT_TRUE(reference.load(lspCompressor));
    ASSERT_TRUE(reference.prepare(sampleRate, blockSize));
    setControls(reference, lspControls);
    ASSERT_TRUE(fresh.setState(state));
    EXPECT_EQ(renderThrough(fresh, input).left, renderThrough(reference, input).left);
}

// A save runs beside the plug-in's own blocks, as LV2 allows: a save, an autosave or an export
// sends no block of the audio thread dry.
TEST(Lv2State, SavingBesideTheAudioThreadLeavesNoBlockDry) {
    ScratchFolder folder;
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(lspCompressor)) << plugin.lastError;
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    (void)plugin.setStateFolder(folder.path.string());
    std::atomic<bool> saving{true};
    std::atomic<int> dry{0}, played{0};
    std::thread audio([&] {
        std::vector<float> left(blockSize, 0.1f), right(blockSize, 0.1f);
        while (saving.load()) {
            if (!plugin.process(left.data(), right.data(), blockSize)) dry.fetch_add(1);
            played.fetch_add(1);
        }
    });
    int saved = 0;
    for (int save = 0; save < 100 || played.load() < 1000; ++save) {
        std::vector<uint8_t> state;
        saved += plugin.getState(state) && !state.empty() ? 1 : 0;
    }
    saving.store(false);
    audio.join();
    EXPECT_GE(saved, 100);
    EXPECT_EQ(dry.load(), 0) << "of " << played.load() << " blocks";
}

// The test bundle writes a file while being saved and, restored, plays its length as DC.
TEST(Lv2State, FilesThePluginWritesGoToTheStateFolderAndComeBack) {
    {
        std::lock_guard lock(Lv2World::lock());
        ASSERT_TRUE(Lv2World::instance().loadBundle(std::string(HALVORA_LV2_TEST_BUNDLES_DIR) +
                                                    "/HalvoraFileState.lv2"));
    }
    ScratchFolder project;
    const std::filesystem::path folder = project.path / "plugin-files";
    std::vector<uint8_t> state;
    {
        Lv2Plugin saving;
        ASSERT_TRUE(saving.load("urn:halvora:test:file-state")) << saving.lastError;
        ASSERT_TRUE(saving.prepare(sampleRate, 64));
        (void)saving.setStateFolder(folder.string());
        ASSERT_TRUE(saving.getState(state)) << saving.lastError;
    }
    std::vector<std::filesystem::path> written;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.path().filename() == "contents.txt") written.push_back(entry.path());
    ASSERT_EQ(written.size(), 1u) << "the file is kept in the folder given";
    Lv2Plugin restored;
    ASSERT_TRUE(restored.load("urn:halvora:test:file-state"));
    (void)restored.setStateFolder(folder.string());
    ASSERT_TRUE(restored.prepare(sampleRate, 64));
    ASSERT_TRUE(restored.setState(state)) << restored.lastError;
    std::vector<float> left(64), right(64);
    ASSERT_TRUE(restored.process(left.data(), right.data(), 64));
    EXPECT_EQ(left[0], 7.0f) << "the restored plug-in read its file back";
}

TEST(Lv2State, EmptyStateMeansDefaultsAndBrokenStateChangesNothing) {
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(x42Equalizer));
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    const auto gain = static_cast<size_t>(plugin.parameterIndex("gain"));
    ASSERT_TRUE(plugin.setParameterValue(gain, 5.0f));
    const std::string broken = "this is not a saved state @prefix";
    EXPECT_FALSE(plugin.setState(std::vector<uint8_t>(broken.begin(), broken.end())));
    EXPECT_FALSE(plugin.lastError.empty());
    EXPECT_EQ(plugin.parameterValue(gain), 5.0f);
    EXPECT_TRUE(plugin.setState({}));
    EXPECT_EQ(plugin.parameterValue(gain), plugin.parameters[gain].defaultValue);
}

TEST(Lv2State, ChangingTheBlockSizeKeepsTheControls) {
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(calfReverb));
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    setControls(plugin, references[2].controls);
    ASSERT_TRUE(plugin.prepare(44100.0, 128)) << plugin.lastError;
    EXPECT_EQ(plugin.parameterValue(static_cast<size_t>(plugin.parameterIndex("decay_time"))),
              2.5f);
}

std::array<Lv2MidiEvent, 1> noteOn(int frame, uint8_t pitch) {
    return {Lv2MidiEvent{frame, 3, {0x90, pitch, 100}}};
}

TEST(Lv2Instrument, NotesFromMidiEventsAreHeardFromTheirFrame) {
    Lv2Plugin synth;
    ASSERT_TRUE(synth.load(calfMonosynth)) << synth.lastError;
    EXPECT_TRUE(synth.acceptsMidi());
    EXPECT_TRUE(synth.description.isInstrument);
    ASSERT_TRUE(synth.prepare(sampleRate, blockSize));
    std::vector<float> left(blockSize), right(blockSize);
    ASSERT_TRUE(synth.process(left.data(), right.data(), blockSize));
    EXPECT_EQ(rmsOf(left), 0.0);
    const auto event = noteOn(200, 57);
    ASSERT_TRUE(synth.process(left.data(), right.data(), blockSize, event));
    EXPECT_EQ(rmsOf(slice(left, 0, 200)), 0.0);
    EXPECT_GT(rmsOf(slice(left, 200)), 0.001);
    EXPECT_EQ(left, right);
}

TEST(Lv2RealTime, ProcessingNeitherAllocatesNorFrees) {
    Lv2Plugin effect, synth;
    ASSERT_TRUE(effect.load(lspCompressor));
    ASSERT_TRUE(effect.prepare(sampleRate, blockSize));
    ASSERT_TRUE(synth.load(calfMonosynth));
    ASSERT_TRUE(synth.prepare(sampleRate, blockSize));
    StereoSignal signal = testSignal(blockSize);
    const auto event = noteOn(10, 60);
    const auto gain = static_cast<size_t>(effect.parameterIndex("mk"));
    ASSERT_TRUE(effect.process(signal.left.data(), signal.right.data(), blockSize));
    ASSERT_TRUE(synth.process(signal.left.data(), signal.right.data(), blockSize, event));
    orvane::testing::AllocationScope scope;
    for (int block = 0; block < 50; ++block) {
        EXPECT_TRUE(effect.setParameterNormalizedAtRt(gain, static_cast<float>(block) / 50.0f));
        EXPECT_TRUE(effect.process(signal.left.data(), signal.right.data(), blockSize));
        EXPECT_TRUE(synth.process(signal.left.data(), signal.right.data(), blockSize, event));
    }
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
}

// The test bundle asks its worker for six times seven on its first run and adds the answer to
// the left channel; the right channel counts the runs that have ended.
TEST(Lv2Worker, WorkRunsOffTheAudioThreadAndItsAnswerArrivesInALaterBlock) {
    {
        std::lock_guard lock(Lv2World::lock());
        ASSERT_TRUE(Lv2World::instance().loadBundle(std::string(HALVORA_LV2_TEST_BUNDLES_DIR) +
                                                    "/HalvoraWorkerEcho.lv2"));
    }
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load("urn:halvora:test:worker-echo")) << plugin.lastError;
    ASSERT_TRUE(plugin.prepare(sampleRate, 64));
    std::vector<float> left(64), right(64);
    ASSERT_TRUE(plugin.process(left.data(), right.data(), 64));
    EXPECT_EQ(left[0], 0.0f) << "the answer cannot come in the block that asked";
    EXPECT_EQ(right[0], 0.0f);
    int blocks = 1;
    while (left[0] == 0.0f && blocks < 200) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        ASSERT_TRUE(plugin.process(left.data(), right.data(), 64));
        ++blocks;
        EXPECT_EQ(right[0], static_cast<float>(blocks - 1)) << "end_run after every block";
    }
    EXPECT_EQ(left[0], 42.0f);
    EXPECT_EQ(left[63], 42.0f);
}

// The test bundle answers an "Ask" about a number with an "Answer" of twice it, and counts the
// questions on a control output.
TEST(Lv2Atoms, AnInterfacesAtomReachesThePluginAndTheAnswerComesBackWithoutAllocating) {
    ASSERT_TRUE(loadAtomAnswerBundle());
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(atomAnswerPluginUri)) << plugin.lastError;
    ASSERT_TRUE(plugin.prepare(sampleRate, 64));
    std::vector<float> left(256, 0.25f), right(256, -0.25f);
    plugin.keepAtomsFromPlugin(true);
    const std::vector<uint8_t> asking = atomAsking(21);
    ASSERT_TRUE(plugin.sendAtomToPlugin(0, asking.data(), asking.size()));
    ASSERT_TRUE(plugin.sendAtomToPlugin(0, atomAsking(5).data(), asking.size()));
    {
        orvane::testing::AllocationScope scope;
        // A block longer than the plug-in's bound: the atoms go with its first part only.
        ASSERT_TRUE(plugin.process(left.data(), right.data(), 256));
        EXPECT_EQ(scope.allocations(), 0u);
        EXPECT_EQ(scope.frees(), 0u);
    }
    EXPECT_EQ(left[255], 0.25f);
    std::vector<std::pair<uint32_t, int32_t>> answers;
    EXPECT_EQ(plugin.takeAtomsFromPlugin([&](uint32_t port, const uint8_t *atom, size_t size) {
        answers.emplace_back(port, answerIn(atom, size).value_or(-1));
    }),
              2u);
    EXPECT_EQ(answers, (std::vector<std::pair<uint32_t, int32_t>>{{1, 42}, {1, 10}}));
    const std::vector<uint32_t> outputs = plugin.controlOutputPorts();
    ASSERT_EQ(outputs, std::vector<uint32_t>{2});
    EXPECT_EQ(plugin.controlOutputValue(2), 2.0f) << "each question arrived once";

    // Nothing is kept while nobody listens, and what waited is dropped.
    ASSERT_TRUE(plugin.sendAtomToPlugin(0, asking.data(), asking.size()));
    ASSERT_TRUE(plugin.process(left.data(), right.data(), 64));
    plugin.keepAtomsFromPlugin(false);
    ASSERT_TRUE(plugin.sendAtomToPlugin(0, asking.data(), asking.size()));
    ASSERT_TRUE(plugin.process(left.data(), right.data(), 64));
    EXPECT_EQ(plugin.takeAtomsFromPlugin([](uint32_t, const uint8_t *, size_t) {}), 0u);
    EXPECT_EQ(plugin.controlOutputValue(2), 4.0f);
}

TEST(Lv2Atoms, AtomsThatCannotBeDeliveredAreRefused) {
    ASSERT_TRUE(loadAtomAnswerBundle());
    Lv2Plugin plugin, effect;
    ASSERT_TRUE(plugin.load(atomAnswerPluginUri)) << plugin.lastError;
    ASSERT_TRUE(effect.load("http://gareus.org/oss/lv2/nodelay")) << effect.lastError;
    std::vector<uint8_t> asking = atomAsking(21);
    struct Refusal {
        const char *why;
        uint32_t port;
        size_t size;
    };
    for (const Refusal &refusal :
         {Refusal{"an atom output", 1, asking.size()}, Refusal{"a control input", 3, asking.size()},
          Refusal{"no such port", 99, asking.size()},
          Refusal{"shorter than its header says", 0, asking.size() - 4},
          Refusal{"shorter than a header", 0, 4}})
        EXPECT_FALSE(plugin.sendAtomToPlugin(refusal.port, asking.data(), refusal.size))
            << refusal.why;
    std::vector<uint8_t> huge(Lv2Plugin::largestAtomToPlugin + 8, 0);
    const LV2_Atom header{static_cast<uint32_t>(huge.size() - sizeof(LV2_Atom)),
                          Lv2World::uridMap().map(LV2_ATOM__Chunk)};
    std::memcpy(huge.data(), &header, sizeof header);
    EXPECT_FALSE(plugin.sendAtomToPlugin(0, huge.data(), huge.size())) << "larger than a block";
    EXPECT_FALSE(effect.sendAtomToPlugin(0, asking.data(), asking.size())) << "no atom ports";
    size_t queued = 0;
    while (queued < 10000 && plugin.sendAtomToPlugin(0, asking.data(), asking.size()))
        ++queued;
    EXPECT_GT(queued, 100u);
    EXPECT_LT(queued, 10000u) << "a plug-in that never runs does not take memory without end";
}

TEST(Lv2Worker, MessagesPassInOrderAndAFullRingRefuses) {
    MessageRing ring(64);
    const std::string messages[] = {"one", "second message", "3"};
    char buffer[32];
    for (int round = 0; round < 5; ++round) { // wraps around the end several times
        for (const std::string &message : messages)
            ASSERT_TRUE(ring.write(message.data(), static_cast<uint32_t>(message.size())));
        for (const std::string &message : messages) {
            const uint32_t size = ring.read(buffer, sizeof buffer);
            EXPECT_EQ(std::string(buffer, size), message);
        }
        EXPECT_EQ(ring.read(buffer, sizeof buffer), 0u);
    }
    const std::string large(40, 'x');
    EXPECT_TRUE(ring.write(large.data(), 40));
    EXPECT_FALSE(ring.write(large.data(), 40));
    EXPECT_EQ(ring.read(buffer, 8), 0u); // too large for the reader's buffer: skipped
    EXPECT_EQ(ring.read(buffer, sizeof buffer), 0u);
}

} // namespace
} // namespace orvane::lv2
