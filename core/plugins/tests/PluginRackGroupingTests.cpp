// A track's sandboxed inserts in one shared helper: heard as in their own helpers and in
// process (bypass toggles and automation included), saved with the same states, one block late
// live for the whole group, restarted with every member's state, and looked at by the tick
// only when something changed.
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/SandboxedChain.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "core/plugins/sandbox/tests/SandboxTestSupport.h"
#include "core/plugins/tests/PluginRackTestSupport.h"
#include "core/plugins/vst3/Vst3Plugin.h"
#include "core/project_io/ProjectFolder.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <functional>
#include <future>
#include <thread>
#include <utility>

namespace orvane::vst {
namespace {

using namespace testing;

constexpr double rate = 48000.0;
constexpr int32_t blockSize = 256;
constexpr int32_t blocks = 24;
constexpr uint32_t zamCompThreshold = 7;
constexpr float thresholds[] = {0.2f, 0.5f, 0.8f};

struct Signal {
    std::vector<float> left = std::vector<float>(blocks * blockSize);
    std::vector<float> right = std::vector<float>(blocks * blockSize);
    float *leftAt(int32_t block) { return left.data() + block * blockSize; }
    float *rightAt(int32_t block) { return right.data() + block * blockSize; }
    bool operator==(const Signal &) const = default;
};

Signal sines() {
    Signal signal;
    fillSine(signal.left, 300.0, 0.5, rate, 0);
    fillSine(signal.right, 200.0, 0.4, rate, 0);
    return signal;
}

/// The three compressors in process, in series: what every grouping must sound like.
Signal renderInProcess(Signal signal) {
    std::vector<std::unique_ptr<Vst3Plugin>> local;
    for (float threshold : thresholds) {
        auto plugin = std::make_unique<Vst3Plugin>();
        EXPECT_TRUE(plugin->load(zamBundle("ZamComp"), ""));
        EXPECT_TRUE(plugin->prepare(rate, blockSize));
        EXPECT_TRUE(plugin->setParameterNormalized(zamCompThreshold, threshold));
        local.push_back(std::move(plugin));
    }
    for (int32_t block = 0; block < blocks; ++block)
        for (auto &plugin : local)
            plugin->process(signal.leftAt(block), signal.rightAt(block), blockSize);
    return signal;
}

/// A rack with the sandbox on, its helpers found beside the tests, and the zam-plugins among
/// the VST 3 folders so that a reopened project finds its bundles.
class GroupedRack : public ::testing::Test {
  protected:
    GroupedRack() {
        controller.enabled = true;
        controller.helperSearchFolder = helperProgramFolder();
        trackId = addTrack(harness);
        rack.prepare(rate, blockSize);
    }

    static uint64_t addTrack(RackHarness &into) {
        std::lock_guard lock(into.projectMutex);
        return into.project.addTrack(TrackType::Audio, "")->id;
    }

    PluginRackHost hostOf(RackHarness &of) {
        PluginRackHost host = of.host();
        host.renderingOffline = [this] { return renderingOffline; };
        return host;
    }

    void loadCompressors() {
        for (size_t index = 0; index < std::size(thresholds); ++index) {
            ASSERT_TRUE(rack.loadVst3(trackId, zamBundle("ZamComp"), "")) << controller.lastError;
            ASSERT_TRUE(rack.setParameterAndReadState(trackId, static_cast<int32_t>(index),
                                                      zamCompThreshold, thresholds[index]));
        }
    }

    // As the grouping command does: the edit is reported, and the rack republished.
    void setGrouping(SandboxGrouping grouping) {
        std::lock_guard lock(harness.projectMutex);
        harness.project.findTrack(trackId)->sandboxGrouping = grouping;
        rack.publishRtView();
    }

    Signal render(PluginRack &through, RackHarness &of, Signal signal) {
        for (int32_t block = 0; block < blocks; ++block) {
            of.playhead = int64_t{block} * blockSize;
            processTrackAsAudio(through, trackId, signal.leftAt(block), signal.rightAt(block),
                                blockSize);
        }
        return signal;
    }

    std::vector<std::vector<uint8_t>> savedStates(PluginRack &of, RackHarness &in) {
        of.saveStatesIntoProject();
        std::lock_guard lock(in.projectMutex);
        std::vector<std::vector<uint8_t>> states;
        for (const InsertSlot &insert : in.project.findTrack(trackId)->inserts)
            states.push_back(insert.state);
        return states;
    }

    RackEnvironment environment;
    ScopedEnvironment sandboxOn{"HALVORA_VST_SANDBOX", "1"};
    ScopedEnvironment withZam{"VST3_PATH", zamDir()};
    ThirdPartyLeaksIgnored zamLeaks;
    RackHarness harness;
    bool renderingOffline = true;
    PluginSandboxController controller;
    PluginRack rack{hostOf(harness), pluginRackSandboxFor(controller)};
    uint64_t trackId = 0;
};

TEST_F(GroupedRack, OneHelperPerTrackSoundsAsOnePerPluginAndInProcessAndIsOneBlockLateLive) {
    ASSERT_TRUE(zamPluginsInstalled());
    loadCompressors();
    const Signal input = sines();
    const Signal perPlugin = render(rack, harness, input);
    renderingOffline = false;
    rack.publishRtView();
    EXPECT_EQ(rack.latencySamples(trackId), 3 * blockSize) << "a block for each helper";

    setGrouping(SandboxGrouping::PerTrack);
    ASSERT_TRUE(rack.regroupSandboxedInserts()) << controller.lastError;
    EXPECT_FALSE(rack.regroupSandboxedInserts()) << "nothing more to change";
    const auto groups = rack.sandboxGroupsOf(trackId);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]->insertIndices, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(rack.latencySamples(trackId), blockSize) << "one block for the whole group";
    for (int32_t block = 0; block < blocks; ++block) {
        std::vector<float> left(blockSize, 0.25f), right(blockSize, -0.25f);
        orvane::testing::AllocationScope scope;
        processTrackAsAudio(rack, trackId, left.data(), right.data(), blockSize);
        EXPECT_EQ(scope.allocations() + scope.frees(), 0u) << "block " << block;
    }

    // A fresh group, whose compressors have heard nothing yet, for the offline comparison.
    setGrouping(SandboxGrouping::PerPlugin);
    ASSERT_TRUE(rack.regroupSandboxedInserts());
    EXPECT_TRUE(rack.sandboxGroupsOf(trackId).empty());
    setGrouping(SandboxGrouping::PerTrack);
    ASSERT_TRUE(rack.regroupSandboxedInserts());
    renderingOffline = true;
    rack.publishRtView();
    EXPECT_EQ(rack.latencySamples(trackId), 0);
    const Signal perTrack = render(rack, harness, input);
    EXPECT_TRUE(perTrack == perPlugin);
    EXPECT_TRUE(perPlugin == renderInProcess(input));
    EXPECT_FALSE(perPlugin == input) << "the compressors must be heard";
}

// A sandboxed insert's cost comes in two parts: its own time in the helper and the hand-over
// on the audio thread. A shared helper's hand-over is the group's, shown on its first member.
TEST_F(GroupedRack, EachSandboxedInsertsOwnTimeIsToldApartFromItsHandOver) {
    ASSERT_TRUE(zamPluginsInstalled());
    loadCompressors();
    (void)render(rack, harness, sines());
    for (int32_t index = 0; index < 3; ++index) {
        SCOPED_TRACE(index);
        const InsertLoad load = rack.takeInsertLoad(trackId, index);
        EXPECT_TRUE(load.sandboxed);
        EXPECT_EQ(load.blocks, static_cast<uint64_t>(blocks)) << "each its own hand-over";
        EXPECT_EQ(load.inHelper.blocks, static_cast<uint64_t>(blocks));
        EXPECT_GT(load.inHelper.mean, 0.0);
        EXPECT_GE(load.inHelper.peak, load.inHelper.mean);
    }

    setGrouping(SandboxGrouping::PerTrack);
    ASSERT_TRUE(rack.regroupSandboxedInserts()) << controller.lastError;
    (void)render(rack, harness, sines());
    const std::vector<InsertLoadReport> &reports = rack.insertLoads();
    ASSERT_EQ(reports.size(), 3u);
    for (const InsertLoadReport &report : reports) {
        SCOPED_TRACE(report.insertIndex);
        EXPECT_EQ(report.trackId, trackId);
        EXPECT_EQ(report.load.inHelper.blocks, static_cast<uint64_t>(blocks));
        EXPECT_EQ(report.load.blocks, report.insertIndex == 0 ? static_cast<uint64_t>(blocks) : 0u)
            << "one hand-over for the group";
    }
    EXPECT_EQ(&rack.insertLoads(), &reports);
    EXPECT_EQ(rack.insertLoads()[0].load.inHelper.blocks, static_cast<uint64_t>(blocks))
        << "asked again within the second, the same stretch";
}

// While grouped, the window edits an insert through a view of its place in the shared helper:
// the parameters and texts the plug-in shows in a helper of its own, values that reach the
// member and come back in its saved state, and a view the rack stops knowing once the
// grouping changes (the window then closes it).
TEST_F(GroupedRack, TheWindowEditsAGroupedInsertThroughItsPlaceInTheSharedHelper) {
    ASSERT_TRUE(zamPluginsInstalled());
    loadCompressors();
    const auto editable = [this](int32_t insertIndex) {
        std::lock_guard lock(rack.slotsMutex);
        for (const Slot &slot : rack.slots)
            if (slot.trackId == trackId && slot.insertIndex == insertIndex)
                return rack.editablePluginLocked(slot);
        return std::shared_ptr<Plugin>();
    };
    const auto shown = [](Plugin &plugin) {
        std::vector<std::string> rows;
        for (const PluginParameterInfo &parameter : plugin.listParameters())
            rows.push_back(std::to_string(parameter.id) + " " + parameter.name + " " +
                           parameter.units + " " + plugin.parameterValueText(parameter.id, 0.5f));
        return rows;
    };
    const std::shared_ptr<Plugin> alone = editable(1);
    ASSERT_NE(alone, nullptr);
    const std::vector<std::string> aloneRows = shown(*alone);
    ASSERT_GE(aloneRows.size(), 4u);

    setGrouping(SandboxGrouping::PerTrack);
    ASSERT_TRUE(rack.regroupSandboxedInserts()) << controller.lastError;
    for (int32_t insertIndex : {0, 1, 2}) {
        SCOPED_TRACE(insertIndex);
        const std::shared_ptr<Plugin> view = editable(insertIndex);
        ASSERT_NE(view, nullptr);
        EXPECT_NE(view, alone) << "the insert's own instance has left for the shared helper";
        EXPECT_TRUE(view->runsInHelper());
        EXPECT_TRUE(rack.holdsInstance(view.get()));
        EXPECT_EQ(shown(*view), aloneRows);
        EXPECT_FLOAT_EQ(view->getParameterNormalized(zamCompThreshold), thresholds[insertIndex]);
    }
    const std::shared_ptr<Plugin> second = editable(1);
    ASSERT_TRUE(second->setParameterNormalized(zamCompThreshold, 0.9f));
    EXPECT_EQ(second->getParameterNormalized(zamCompThreshold), 0.9f);
    Vst3Plugin reopened;
    ASSERT_TRUE(reopened.load(zamBundle("ZamComp"), ""));
    ASSERT_TRUE(reopened.setState(savedStates(rack, harness).at(1)));
    EXPECT_FLOAT_EQ(reopened.getParameterNormalized(zamCompThreshold), 0.9f)
        << "the value reached the member in the shared helper";

    setGrouping(SandboxGrouping::PerPlugin);
    ASSERT_TRUE(rack.regroupSandboxedInserts());
    EXPECT_FALSE(rack.holdsInstance(second.get())) << "the window closes the view";
}

TEST_F(GroupedRack, AGroupSavesTheStatesItsMembersHadAloneAndAReopenedProjectGroupsThemAgain) {
    ASSERT_TRUE(zamPluginsInstalled());
    loadCompressors();
    const auto alone = savedStates(rack, harness);
    ASSERT_EQ(alone.size(), 3u);
    EXPECT_NE(alone[0], alone[1]);
    setGrouping(SandboxGrouping::PerTrack);
    ASSERT_TRUE(rack.regroupSandboxedInserts());
    EXPECT_EQ(savedStates(rack, harness), alone);

    TemporaryFolder folder;
    const std::string projectFolder = (folder.path() / "Grouped.halvora").string();
    {
        std::lock_guard lock(harness.projectMutex);
        ASSERT_TRUE(project_io::saveProject(harness.project, projectFolder, false).ok);
    }
    std::optional<Project> loaded = project_io::loadProject(projectFolder);
    ASSERT_TRUE(loaded);
    RackHarness reopened;
    reopened.project = std::move(*loaded);
    EXPECT_EQ(reopened.project.findTrack(trackId)->sandboxGrouping, SandboxGrouping::PerTrack);
    PluginRack freshRack(hostOf(reopened), pluginRackSandboxFor(controller));
    std::string warnings;
    ASSERT_TRUE(restoreRackForRender(freshRack, rate, blockSize, &warnings)) << warnings;
    ASSERT_EQ(freshRack.sandboxGroupsOf(trackId).size(), 1u);
    EXPECT_EQ(savedStates(freshRack, reopened), alone);
    const Signal input = sines();
    EXPECT_TRUE(render(freshRack, reopened, input) == renderInProcess(input));
}

TEST_F(GroupedRack, BypassedAndAutomatedEffectsStayInTheSharedHelperWithTheirStates) {
    ASSERT_TRUE(zamPluginsInstalled());
    loadCompressors();
    const auto alone = savedStates(rack, harness);
    setGrouping(SandboxGrouping::PerTrack);
    const std::vector<AutomationPoint> automated = {{0, 0.1f}, {4800, 0.9f}};
    struct Case {
        const char *what;
        int32_t bypassed;
        int32_t automatedInsert;
        std::vector<std::vector<int32_t>> groups;
    };
    const Case cases[] = {
        {"all three play", -1, -1, {{0, 1, 2}}},
        {"the first bypassed", 0, -1, {{0, 1, 2}}},
        {"the middle bypassed", 1, -1, {{0, 1, 2}}},
        {"the last automated", -1, 2, {{0, 1, 2}}},
    };
    for (const Case &test : cases) {
        {
            std::lock_guard lock(harness.projectMutex);
            auto &inserts = harness.project.findTrack(trackId)->inserts;
            for (int32_t index = 0; index < 3; ++index) {
                inserts[index].bypassed = index == test.bypassed;
                inserts[index].paramAutomation.clear();
                if (index == test.automatedInsert) inserts[index].paramAutomation = automated;
            }
            rack.publishRtView();
        }
        rack.regroupSandboxedInserts();
        std::vector<std::vector<int32_t>> running;
        for (const auto &group : rack.sandboxGroupsOf(trackId))
            running.push_back(group->insertIndices);
        EXPECT_EQ(running, test.groups) << test.what;
        EXPECT_EQ(savedStates(rack, harness), alone) << test.what;
    }
}

TEST_F(GroupedRack, AKilledSharedHelperIsRestartedWithEveryMembersStateAndNoted) {
    ASSERT_TRUE(zamPluginsInstalled());
    loadCompressors();
    setGrouping(SandboxGrouping::PerTrack);
    ASSERT_TRUE(rack.regroupSandboxedInserts());
    const auto before = savedStates(rack, harness);
    renderingOffline = false;
    rack.publishRtView();
    SandboxedChain &chain = *rack.sandboxGroupsOf(trackId).at(0)->chain;
    const int32_t killed = chain.helperProcessId();
    ASSERT_GT(killed, 0);
    ASSERT_EQ(kill(killed, SIGKILL), 0);
    std::vector<std::string> notes;
    Signal signal = sines();
    for (int32_t block = 0; notes.empty() && block < 100; ++block) {
        processTrackAsAudio(rack, trackId, signal.leftAt(block % blocks),
                            signal.rightAt(block % blocks), blockSize);
        EXPECT_EQ(rack.collectHelperFailures(), 0);
        notes = rack.takeHelperRestartNotes();
        if (notes.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "ZamComp, ZamComp, ZamComp: Helper restarted: process was gone");
    EXPECT_NE(chain.helperProcessId(), killed);
    EXPECT_EQ(savedStates(rack, harness), before);
    EXPECT_EQ(rack.latencySamples(trackId), blockSize);
}

// --- Regrouping while playing ----------------------------------------------------------------

std::string programEffectPath() {
    return std::string(HALVORA_PROGRAM_BUNDLES_DIR) + "/HalvoraProgramEffect.vst3";
}
constexpr uint32_t programEffectGain = 0;

/// A thread that plays a constant 1.0 through the track at the pace of a device, noting each
/// block's lowest and highest sample; stopped and joined however the test ends.
class PacedPlayer {
  public:
    struct Block {
        float lowest = 0.0f;
        float highest = 0.0f;
    };

    PacedPlayer(PluginRack &rack, uint64_t trackId, int32_t frames, double rate)
        : thread([this, &rack, trackId, frames, rate] { play(rack, trackId, frames, rate); }) {}
    ~PacedPlayer() { stop(); }

    void stop() {
        stopping.store(true);
        if (thread.joinable()) thread.join();
    }
    std::size_t played() const { return count.load(); }
    /// Waits until `total` blocks were played in all; false after 10 s.
    bool waitFor(std::size_t total) const {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (played() < total && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return played() >= total;
    }
    /// After `stop`.
    const std::vector<Block> &blocks() const { return noted; }

  private:
    void play(PluginRack &rack, uint64_t trackId, int32_t frames, double rate) {
        noted.reserve(capacity);
        std::vector<float> left(static_cast<std::size_t>(frames));
        std::vector<float> right(left.size());
        const auto period = std::chrono::nanoseconds(static_cast<int64_t>(frames * 1e9 / rate));
        auto next = std::chrono::steady_clock::now();
        while (!stopping.load() && noted.size() < capacity) {
            std::fill(left.begin(), left.end(), 1.0f);
            std::fill(right.begin(), right.end(), 1.0f);
            processTrackAsAudio(rack, trackId, left.data(), right.data(), frames);
            const auto [lowest, highest] = std::minmax_element(left.begin(), left.end());
            noted.push_back({*lowest, *highest});
            count.store(noted.size());
            next += period;
            std::this_thread::sleep_until(next);
        }
    }

    static constexpr std::size_t capacity = 4096;
    std::vector<Block> noted;
    std::atomic<std::size_t> count{0};
    std::atomic<bool> stopping{false};
    std::thread thread;
};

// Each effect halves the signal, so every level between the whole chain's and the dry signal
// says how many members were left out; none may be heard, nor silence, while the track's
// effects move into one helper under a playing device.
TEST_F(GroupedRack, ARegroupWhilePlayingNeverFallsSilentNorStepsThroughTheMembersLevels) {
    constexpr int32_t members = 4;
    // A slow device, so that a busy machine keeps its helpers in time.
    constexpr int32_t frames = 1024;
    constexpr float tolerance = 1e-4f;
    rack.prepare(rate, frames);
    for (int32_t index = 0; index < members; ++index) {
        ASSERT_TRUE(rack.loadVst3(trackId, programEffectPath(), "")) << controller.lastError;
        ASSERT_TRUE(rack.setParameterAndReadState(trackId, index, programEffectGain, 0.5f));
    }
    renderingOffline = false;
    rack.publishRtView();
    const float whole = 1.0f / static_cast<float>(1 << members);
    const auto levelOf = [&](const PacedPlayer::Block &block) {
        return block.highest - block.lowest < tolerance ? block.highest : -1.0f;
    };

    PacedPlayer player(rack, trackId, frames, rate);
    ASSERT_TRUE(player.waitFor(12));
    const std::size_t regroupedFrom = player.played();
    setGrouping(SandboxGrouping::PerTrack);
    ASSERT_TRUE(rack.regroupSandboxedInserts()) << controller.lastError;
    ASSERT_EQ(rack.sandboxGroupsOf(trackId).size(), 1u);
    ASSERT_TRUE(player.waitFor(player.played() + 12));
    player.stop();

    const std::vector<PacedPlayer::Block> &played = player.blocks();
    ASSERT_NEAR(levelOf(played[regroupedFrom - 1]), whole, tolerance) << "settled before";
    int32_t silent = 0, partial = 0;
    std::string levels;
    for (std::size_t index = regroupedFrom; index < played.size(); ++index) {
        const PacedPlayer::Block &block = played[index];
        const float level = levelOf(block);
        levels += std::to_string(level) + " ";
        if (block.lowest < whole - tolerance) ++silent;
        const bool known =
            std::abs(level - whole) < tolerance || std::abs(level - 1.0f) < tolerance;
        if (level >= 0.0f && !known) ++partial;
    }
    EXPECT_EQ(silent, 0) << levels;
    EXPECT_EQ(partial, 0) << "a member left out: " << levels;
    EXPECT_NEAR(levelOf(played.back()), whole, tolerance) << levels;
}

// --- The tick ------------------------------------------------------------------------------

TEST_F(GroupedRack, AnIdleTickTakesNoLockAndAllocatesNothingButAPublishedEditIsActedOn) {
    ASSERT_TRUE(zamPluginsInstalled());
    loadCompressors();
    struct Case {
        const char *what;
        SandboxGrouping grouping;
        size_t groups;
    };
    const Case cases[] = {
        {"no track asks for a shared helper", SandboxGrouping::PerPlugin, 0},
        {"the shared helper runs as asked", SandboxGrouping::PerTrack, 1},
        {"back to one helper each", SandboxGrouping::PerPlugin, 0},
    };
    for (const Case &test : cases) {
        setGrouping(test.grouping);
        rack.regroupSandboxedInserts();
        EXPECT_EQ(rack.sandboxGroupsOf(trackId).size(), test.groups) << test.what;
        // Another thread holds the project while the tick runs: a tick that took the lock
        // would wait for it.
        std::promise<void> release;
        std::promise<void> held;
        std::thread holder([&] {
            std::lock_guard lock(harness.projectMutex);
            held.set_value();
            release.get_future().wait();
        });
        held.get_future().wait();
        auto tick = std::async(std::launch::async, [this] {
            orvane::testing::AllocationScope scope;
            const bool changed = rack.regroupSandboxedInserts();
            return std::make_pair(changed, scope.allocations() + scope.frees());
        });
        const bool quick = tick.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
        release.set_value();
        holder.join();
        EXPECT_TRUE(quick) << test.what;
        const auto [changed, allocations] = tick.get();
        EXPECT_FALSE(changed) << test.what;
        EXPECT_EQ(allocations, 0u) << test.what;
    }
    // Without a report of the edit the tick does not look: the application reports every one.
    {
        std::lock_guard lock(harness.projectMutex);
        harness.project.findTrack(trackId)->sandboxGrouping = SandboxGrouping::PerTrack;
    }
    EXPECT_FALSE(rack.regroupSandboxedInserts());
    rack.publishRtView();
    EXPECT_TRUE(rack.regroupSandboxedInserts());
}

// --- The offline deadline ---------------------------------------------------------------------

TEST_F(GroupedRack, AHungGroupHoldsAnOfflineRenderAsLongAsOneHelperThenPassesDryAndRestarts) {
    {
        ScopedEnvironment hang("HALVORA_TEST_MISBEHAVIOUR", "hang");
        for (int insert = 0; insert < 2; ++insert)
            ASSERT_TRUE(rack.loadVst3(trackId, misbehavingEffectPath(), ""))
                << controller.lastError;
        setGrouping(SandboxGrouping::PerTrack);
        ASSERT_TRUE(rack.regroupSandboxedInserts()) << controller.lastError;
    }
    SandboxedChain &chain = *rack.sandboxGroupsOf(trackId).at(0)->chain;
    const int32_t hung = chain.helperProcessId();
    const Signal input = sines();
    Signal signal = input;
    std::chrono::steady_clock::duration waited[2];
    for (int32_t block = 0; block < 2; ++block) {
        const auto start = std::chrono::steady_clock::now();
        processTrackAsAudio(rack, trackId, signal.leftAt(block), signal.rightAt(block), blockSize);
        waited[block] = std::chrono::steady_clock::now() - start;
    }
    EXPECT_GE(waited[0], std::chrono::seconds(5)) << "as long as a single helper waits";
    EXPECT_LT(waited[0], std::chrono::seconds(7));
    EXPECT_LT(waited[1], std::chrono::milliseconds(100)) << "a stuck helper is not waited for";
    EXPECT_TRUE(signal == input) << "both blocks pass dry";
    EXPECT_EQ(chain.lateBlocks(), 2u);
    EXPECT_EQ(rack.collectHelperFailures(), 0) << "restarted, not dropped";
    const std::vector<std::string> notes = rack.takeHelperRestartNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_TRUE(notes[0].ends_with(": Helper restarted: an offline block timed out")) << notes[0];
    EXPECT_NE(chain.helperProcessId(), hung);
    EXPECT_EQ(chain.lateBlocks(), 2u) << "the count survives the restart";
}

// --- Bypass and automation with the block --------------------------------------------------

/// A rack of its own whose track holds the three compressors: sandboxed in one shared helper,
/// or in process.
struct CompressorRack {
    RackHarness harness;
    bool offline = true;
    std::unique_ptr<PluginRack> rack;
    uint64_t trackId = 0;
};

/// What a render changes before a block, on the project's inserts; true when it changed
/// anything (which the application reports as an insert edit).
using BlockEdit = std::function<bool(std::vector<InsertSlot> &inserts, int32_t block)>;

class GroupedRackEdits : public GroupedRack {
  protected:
    std::unique_ptr<CompressorRack>
    compressorRack(bool sandboxed, SandboxGrouping grouping = SandboxGrouping::PerTrack) {
        auto made = std::make_unique<CompressorRack>();
        made->trackId = addTrack(made->harness);
        std::optional<ScopedEnvironment> inProcess;
        if (!sandboxed) inProcess.emplace("HALVORA_VST_SANDBOX", "0");
        PluginRackHost host = made->harness.host();
        host.renderingOffline = [raw = made.get()] { return raw->offline; };
        made->rack = std::make_unique<PluginRack>(host, sandboxed ? pluginRackSandboxFor(controller)
                                                                  : PluginRackSandbox{});
        PluginRack &into = *made->rack;
        into.prepare(rate, blockSize);
        for (size_t index = 0; index < std::size(thresholds); ++index) {
            EXPECT_TRUE(into.loadVst3(made->trackId, zamBundle("ZamComp"), ""));
            EXPECT_TRUE(into.setParameterAndReadState(made->trackId, static_cast<int32_t>(index),
                                                      zamCompThreshold, thresholds[index]));
        }
        if (sandboxed) {
            std::lock_guard lock(made->harness.projectMutex);
            made->harness.project.findTrack(made->trackId)->sandboxGrouping = grouping;
            into.publishRtView();
        }
        into.regroupSandboxedInserts();
        const bool shared = sandboxed && grouping == SandboxGrouping::PerTrack;
        EXPECT_EQ(into.sandboxGroupsOf(made->trackId).size(), shared ? 1u : 0u);
        return made;
    }

    /// Renders with `edit` applied before each block; with `countAllocations`, each block's
    /// processing must allocate nothing.
    static Signal renderEdited(CompressorRack &through, Signal signal, const BlockEdit &edit,
                               bool countAllocations = false) {
        for (int32_t block = 0; block < blocks; ++block) {
            {
                std::lock_guard lock(through.harness.projectMutex);
                if (edit(through.harness.project.findTrack(through.trackId)->inserts, block))
                    through.rack->publishRtView();
            }
            through.harness.playhead = int64_t{block} * blockSize;
            orvane::testing::AllocationScope scope;
            processTrackAsAudio(*through.rack, through.trackId, signal.leftAt(block),
                                signal.rightAt(block), blockSize);
            if (countAllocations) {
                EXPECT_EQ(scope.allocations() + scope.frees(), 0u) << "block " << block;
            }
        }
        return signal;
    }
};

BlockEdit bypassDuring(int32_t insert, int32_t from, int32_t until) {
    return [=](std::vector<InsertSlot> &inserts, int32_t block) {
        if (block != from && block != until) return false;
        inserts[static_cast<size_t>(insert)].bypassed = block == from;
        return true;
    };
}

BlockEdit automate(int32_t insert) {
    return [=](std::vector<InsertSlot> &inserts, int32_t block) {
        if (block != 0) return false;
        InsertSlot &automated = inserts[static_cast<size_t>(insert)];
        automated.automParamId = zamCompThreshold;
        automated.paramAutomation = {{0, 0.05f}, {blocks * blockSize, 0.95f}};
        return true;
    };
}

BlockEdit both(BlockEdit first, BlockEdit second) {
    return [=](std::vector<InsertSlot> &inserts, int32_t block) {
        const bool firstChanged = first(inserts, block);
        return second(inserts, block) || firstChanged;
    };
}

TEST_F(GroupedRackEdits, ABypassOrAutomationHeardInTheNextBlockRendersAsInProcessToTheBit) {
    ASSERT_TRUE(zamPluginsInstalled());
    struct Case {
        const char *what;
        BlockEdit edit;
    };
    const Case cases[] = {
        {"the middle member bypassed for blocks 8 to 15", bypassDuring(1, 8, 16)},
        {"the first member bypassed from block 4", bypassDuring(0, 4, blocks)},
        {"the last member automated", automate(2)},
        {"the first automated, then bypassed for a while",
         both(automate(0), bypassDuring(0, 6, 12))},
    };
    const Signal input = sines();
    const BlockEdit untouched = [](std::vector<InsertSlot> &, int32_t) { return false; };
    for (const Case &test : cases) {
        auto grouped = compressorRack(true);
        auto local = compressorRack(false);
        // Offline the audio thread waits for the helper, but allocates nothing either.
        const Signal heard = renderEdited(*grouped, input, test.edit, true);
        EXPECT_TRUE(heard == renderEdited(*local, input, test.edit)) << test.what;
        EXPECT_FALSE(heard == renderEdited(*compressorRack(false), input, untouched))
            << test.what << ": the edit must be heard";
        EXPECT_EQ(grouped->rack->sandboxGroupsOf(grouped->trackId).at(0)->chain->lateBlocks(), 0u)
            << test.what;
        // Live the same edits reach the helper with the block, allocating nothing.
        grouped->offline = false;
        grouped->rack->publishRtView();
        renderEdited(*grouped, input, test.edit, true);
    }
}

// --- The view ------------------------------------------------------------------------------

// A block stages a group's members from the list its first entry holds, whatever else the view
// has: other tracks' inserts, another group of the same track, members apart.
TEST(GroupMemberEntries, EachGroupsFirstEntryListsItsMembersAndNoOneElse) {
    PluginSandboxController controller;
    SandboxedChain first(controller), second(controller);
    const auto member = [](SandboxedChain &chain, uint32_t place) {
        RtSlotView entry;
        entry.group = place == 0 ? &chain : nullptr;
        entry.groupFollower = place != 0;
        entry.groupChain = &chain;
        entry.groupMember = place;
        return entry;
    };
    std::vector<RtSlotView> entries = {RtSlotView{},      member(first, 0), member(first, 1),
                                       member(second, 0), RtSlotView{},     member(second, 1),
                                       member(first, 2),  member(second, 2)};
    listGroupMemberEntries(entries);
    const std::vector<std::vector<std::size_t>> expected = {{}, {1, 2, 6}, {}, {3, 5, 7},
                                                            {}, {},        {}, {}};
    for (std::size_t index = 0; index < entries.size(); ++index)
        EXPECT_EQ(entries[index].groupMemberEntries, expected[index]) << "entry " << index;
}

// --- Helpers that end ----------------------------------------------------------------------

bool processExists(int32_t pid) { return kill(pid, 0) == 0 || errno != ESRCH; }

// A helper that cannot come back is told of as the inserts it silenced: a shared one once,
// naming every member, as a plug-in's own helper is.
TEST_F(GroupedRackEdits, AHelperThatCannotBeRestartedIsCountedAndNotedOnceForTheStatusLine) {
    ASSERT_TRUE(zamPluginsInstalled());
    struct Case {
        const char *what;
        SandboxGrouping grouping;
        int failures;
        const char *note;
    };
    const Case cases[] = {
        {"one helper per track", SandboxGrouping::PerTrack, 3,
         "ZamComp, ZamComp, ZamComp: Helper lost and not restarted: "},
        {"one helper per plug-in", SandboxGrouping::PerPlugin, 1, "ZamComp: "},
    };
    TemporaryFolder noHelper;
    for (const Case &test : cases) {
        controller.helperSearchFolder = helperProgramFolder();
        auto made = compressorRack(true, test.grouping);
        PluginRack &rack = *made->rack;
        // A plug-in's own helper is restarted only once it has finished a block.
        renderEdited(*made, sines(), [](std::vector<InsertSlot> &, int32_t) { return false; });
        const auto groups = rack.sandboxGroupsOf(made->trackId);
        const int32_t killed = groups.empty() ? rack.slots[0].sandboxed->helperProcessId()
                                              : groups[0]->chain->helperProcessId();
        ASSERT_GT(killed, 0) << test.what;
        controller.helperSearchFolder = noHelper.path().string();
        ASSERT_EQ(kill(killed, SIGKILL), 0) << test.what;
        int failures = 0;
        // The process ends on its own time, which nothing here can wait on.
        for (int tick = 0; failures == 0 && tick < 200; ++tick) {
            failures = rack.collectHelperFailures();
            if (failures == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(failures, test.failures) << test.what;
        EXPECT_TRUE(rack.takeHelperRestartNotes().empty()) << test.what;
        const std::vector<std::string> notes = rack.takeHelperFailureNotes();
        ASSERT_EQ(notes.size(), 1u) << test.what;
        EXPECT_TRUE(notes[0].starts_with(test.note)) << test.what << ": " << notes[0];
        EXPECT_EQ(rack.collectHelperFailures(), 0) << test.what << ": told once";
        EXPECT_TRUE(rack.takeHelperFailureNotes().empty()) << test.what;
    }
}

// A removed track's inserts stay for an undo, but not in a shared helper of their own.
TEST_F(GroupedRackEdits, ARemovedTracksSharedHelperEndsAtTheNextRegroupAndAnUndoBringsItBack) {
    ASSERT_TRUE(zamPluginsInstalled());
    using Edit = std::function<void(Project &, uint64_t)>;
    struct Case {
        const char *what;
        Edit remove;
        Edit restore;
    };
    std::shared_ptr<Track> removedTrack;
    std::vector<InsertSlot> removedInserts;
    const Case cases[] = {
        {"the track removed",
         [&](Project &project, uint64_t trackId) {
             removedTrack = project.findTrack(trackId);
             project.removeTrack(trackId);
         },
         [&](Project &project, uint64_t) { project.tracks.push_back(removedTrack); }},
        {"its inserts removed",
         [&](Project &project, uint64_t trackId) {
             removedInserts = std::exchange(project.findTrack(trackId)->inserts, {});
         },
         [&](Project &project, uint64_t trackId) {
             project.findTrack(trackId)->inserts = removedInserts;
         }},
    };
    for (const Case &test : cases) {
        auto made = compressorRack(true);
        PluginRack &rack = *made->rack;
        const int32_t shared = rack.sandboxGroupsOf(made->trackId).at(0)->chain->helperProcessId();
        ASSERT_GT(shared, 0) << test.what;
        // As the command does: the edit is reported, and the rack republished.
        const auto edit = [&](const Edit &change) {
            std::lock_guard lock(made->harness.projectMutex);
            change(made->harness.project, made->trackId);
            rack.publishRtView();
        };
        edit(test.remove);
        EXPECT_TRUE(rack.regroupSandboxedInserts()) << test.what;
        EXPECT_TRUE(rack.sandboxGroupsOf(made->trackId).empty()) << test.what;
        rack.collectRetiredViews();
        EXPECT_FALSE(processExists(shared)) << test.what;
        edit(test.restore);
        EXPECT_TRUE(rack.regroupSandboxedInserts()) << test.what;
        EXPECT_EQ(rack.sandboxGroupsOf(made->trackId).size(), 1u) << test.what;
    }
}

} // namespace
} // namespace orvane::vst
