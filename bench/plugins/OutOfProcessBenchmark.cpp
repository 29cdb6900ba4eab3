// What running plug-ins in the sandbox costs per block: chains of 1, 4 and 8 ZamComp instances
// (VST 3) and of 1, 4 and 8 x42 compressors (LV2), in process and through their helpers, timed
// block by block in the same loop so that both see the same machine. Reported per row: the median
// and 99th percentile of a block through each chain, the added cost per plug-in ((sandboxed − in
// process) / plug-ins) at both, and the CPU time per block of the calling thread and of the helpers
// together (the machine is shared, so wall time alone says little). The third argument picks how
// sandboxed blocks go: 0 waits for each (offline renders), 1 runs them a block behind (live
// playback; the audio thread's part is timed, and the helpers finish outside the timing). A
// further row times a 64-frame block through two hung sandboxed inserts sharing one real-time
// budget. The paced rows play chains of 1, 3, 6 and 12 sandboxed x42 compressors live on a
// thread woken once a period (real-time priority when allowed, said in `realtime`) for
// HALVORA_SANDBOX_BENCH_SECONDS (60 by default), at 64, 128 and 256 frames, beside the same
// chain in process, and count the blocks an insert passed dry. The third argument says how the
// inserts share helpers: 0 one helper per plug-in (and so also any spread of them over
// tracks), 1 one helper for the track's whole chain, 2 the inserts spread over three tracks
// with one helper per track. The floor rows pace the same exchange with a forked process in the
// helper's place that only copies each block back: the dry blocks this machine's scheduler costs
// the exchange itself, beside which the sandbox's are to be read.
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/SandboxSharedBlock.h"
#include "core/plugins/sandbox/SandboxedChain.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "core/plugins/vst3/Vst3Plugin.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace orvane::vst;

constexpr double sampleRate = 48000.0;
constexpr uint32_t zamCompThreshold = 7;
const std::string zamComp = "/usr/lib/vst3/ZamComp.vst3";
// What the rack gives all sandboxed inserts of a real-time block together.
constexpr double budgetShare = 0.5;

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    size_t index = std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()));
    return values[index];
}

double cpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

std::chrono::nanoseconds budgetFor(int frames) {
    return std::chrono::nanoseconds(
        static_cast<long long>(budgetShare * 1e9 * frames / sampleRate));
}

/// ZamComp instances, in process or each in a helper of its own.
template <class Hosted, class... Made>
std::vector<std::unique_ptr<Hosted>> makeChain(int plugins, int frames, Made &...madeWith) {
    std::vector<std::unique_ptr<Hosted>> chain;
    for (int index = 0; index < plugins; ++index) {
        auto plugin = std::make_unique<Hosted>(madeWith...);
        if (!plugin->load(zamComp, "") || !plugin->prepare(sampleRate, frames)) return {};
        if (!plugin->setParameterNormalized(zamCompThreshold, 0.3f)) return {};
        chain.push_back(std::move(plugin));
    }
    return chain;
}

const std::string x42Compressor = "http://gareus.org/oss/lv2/darc#stereo";

std::vector<std::unique_ptr<orvane::lv2::Lv2Plugin>> makeLv2Chain(int plugins, int frames) {
    std::vector<std::unique_ptr<orvane::lv2::Lv2Plugin>> chain;
    for (int index = 0; index < plugins; ++index) {
        auto plugin = std::make_unique<orvane::lv2::Lv2Plugin>();
        if (!plugin->load(x42Compressor) || !plugin->prepare(sampleRate, frames)) return {};
        if (!plugin->setParameterNormalizedAt(
                static_cast<size_t>(plugin->parameterIndex("threshold")), 0.3f))
            return {};
        chain.push_back(std::move(plugin));
    }
    return chain;
}

// Sandboxed, the helper hosts the LV2 plug-in behind the same client as a VST 3 one.
std::vector<std::unique_ptr<SandboxedPlugin>>
makeSandboxedLv2Chain(PluginSandboxController &controller, int plugins, int frames) {
    orvane::lv2::Lv2Plugin described;
    if (!described.load(x42Compressor)) return {};
    // The helper knows an LV2 parameter by its port.
    const uint32_t thresholdPort =
        described.parameters[static_cast<size_t>(described.parameterIndex("threshold"))].portIndex;
    std::vector<std::unique_ptr<SandboxedPlugin>> chain;
    for (int index = 0; index < plugins; ++index) {
        auto plugin = std::make_unique<SandboxedPlugin>(controller);
        if (!plugin->load("lv2:" + x42Compressor, "") || !plugin->prepare(sampleRate, frames))
            return {};
        if (!plugin->setParameterNormalized(thresholdPort, 0.3f)) return {};
        chain.push_back(std::move(plugin));
    }
    return chain;
}

template <class LocalChain>
void measureAddedCost(benchmark::State &state, LocalChain &local,
                      std::vector<std::unique_ptr<SandboxedPlugin>> &sandboxed);

void sandboxAddedCost(benchmark::State &state) {
    int frames = static_cast<int>(state.range(0));
    int plugins = static_cast<int>(state.range(1));
    PluginSandboxController controller;
    controller.enabled = true;
    controller.helperSearchFolder = HALVORA_HELPER_FOLDER;
    auto local = makeChain<Vst3Plugin>(plugins, frames);
    auto sandboxed = makeChain<SandboxedPlugin>(plugins, frames, controller);
    if (local.empty() || sandboxed.empty()) {
        state.SkipWithError("ZamComp did not load (install zam-plugins, build the helper)");
        return;
    }
    measureAddedCost(state, local, sandboxed);
}

void lv2SandboxAddedCost(benchmark::State &state) {
    int frames = static_cast<int>(state.range(0));
    int plugins = static_cast<int>(state.range(1));
    PluginSandboxController controller;
    controller.enabled = true;
    controller.helperSearchFolder = HALVORA_HELPER_FOLDER;
    auto local = makeLv2Chain(plugins, frames);
    auto sandboxed = makeSandboxedLv2Chain(controller, plugins, frames);
    if (local.empty() || sandboxed.empty()) {
        state.SkipWithError(
            "the x42 compressor did not load (install x42-plugins, build the helper)");
        return;
    }
    measureAddedCost(state, local, sandboxed);
}

template <class LocalChain>
void measureAddedCost(benchmark::State &state, LocalChain &local,
                      std::vector<std::unique_ptr<SandboxedPlugin>> &sandboxed) {
    int frames = static_cast<int>(state.range(0));
    int plugins = static_cast<int>(state.range(1));
    const bool live = state.range(2) != 0;
    std::vector<clockid_t> helperClocks;
    for (auto &plugin : sandboxed) {
        clockid_t clock{};
        if (clock_getcpuclockid(plugin->helperProcessId(), &clock) == 0)
            helperClocks.push_back(clock);
    }
    std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
    std::vector<float> remoteLeft(left.size()), remoteRight(right.size());
    std::vector<double> localMicroseconds, sandboxedMicroseconds;
    localMicroseconds.reserve(1 << 20);
    sandboxedMicroseconds.reserve(1 << 20);
    double callerCpu = 0.0, helperCpuStart = 0.0, helperCpuEnd = 0.0;
    for (clockid_t clock : helperClocks)
        helperCpuStart += cpuSeconds(clock);
    long frame = 0;
    int missed = 0;
    for (auto _ : state) {
        for (int index = 0; index < frames; ++index, ++frame)
            left[index] = right[index] =
                0.5f * static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * frame / sampleRate));
        remoteLeft = left;
        remoteRight = right;
        auto start = std::chrono::steady_clock::now();
        for (auto &plugin : local)
            (void)plugin->process(left.data(), right.data(), frames); // prepared: cannot fail
        auto middle = std::chrono::steady_clock::now();
        double cpuBefore = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        // The budget a live block would give, made generous enough that the figures measure
        // the exchange rather than misses.
        Deadline deadline = Deadline::after(std::chrono::milliseconds(100));
        for (auto &plugin : sandboxed)
            missed +=
                (live ? plugin->processLive(remoteLeft.data(), remoteRight.data(), frames, deadline,
                                            {}, {})
                      : plugin->process(remoteLeft.data(), remoteRight.data(), frames, deadline))
                    ? 0
                    : 1;
        auto end = std::chrono::steady_clock::now();
        callerCpu += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
        // Live, each helper finishes during the period; a request is served after its block.
        if (live)
            for (auto &plugin : sandboxed)
                plugin->hasEditor();
        localMicroseconds.push_back(
            std::chrono::duration<double, std::micro>(middle - start).count());
        sandboxedMicroseconds.push_back(
            std::chrono::duration<double, std::micro>(end - middle).count());
        state.SetIterationTime(std::chrono::duration<double>(end - middle).count());
        benchmark::DoNotOptimize(remoteLeft.data());
    }
    for (clockid_t clock : helperClocks)
        helperCpuEnd += cpuSeconds(clock);
    double blocks = std::max<double>(1.0, double(sandboxedMicroseconds.size()));
    double localMedian = percentile(localMicroseconds, 0.5);
    double sandboxedMedian = percentile(sandboxedMicroseconds, 0.5);
    state.counters["local_median_us"] = localMedian;
    state.counters["local_p99_us"] = percentile(localMicroseconds, 0.99);
    state.counters["sandboxed_median_us"] = sandboxedMedian;
    state.counters["sandboxed_p99_us"] = percentile(sandboxedMicroseconds, 0.99);
    state.counters["added_median_us_per_plugin"] = (sandboxedMedian - localMedian) / plugins;
    state.counters["added_p99_us_per_plugin"] =
        (percentile(sandboxedMicroseconds, 0.99) - percentile(localMicroseconds, 0.99)) / plugins;
    state.counters["caller_cpu_us_per_block"] = callerCpu * 1e6 / blocks;
    state.counters["helper_cpu_us_per_block"] = (helperCpuEnd - helperCpuStart) * 1e6 / blocks;
    state.counters["missed_blocks"] = missed;
    for (auto &plugin : sandboxed)
        missed += static_cast<int>(plugin->lateBlocks());
    state.counters["late_blocks"] = missed;
    state.counters["plugins"] = plugins;
}

// What one helper plays: a sandboxed insert of its own, or a track's chain of them.
struct SandboxedUnit {
    std::unique_ptr<SandboxedPlugin> insert;
    std::unique_ptr<SandboxedChain> chain;
    int inserts = 1;

    bool processLive(float *left, float *right, int frames, Deadline patience) {
        return insert ? insert->processLive(left, right, frames, patience, {}, {})
                      : chain->processLive(left, right, frames, patience);
    }
    /// A late chain block passes each of its inserts dry.
    uint64_t dryInsertBlocks() const {
        return insert ? insert->lateBlocks() : chain->lateBlocks() * uint64_t(inserts);
    }
    int32_t helperProcessId() const {
        return insert ? insert->helperProcessId() : chain->helperProcessId();
    }
};

std::unique_ptr<SandboxedChain> makeSandboxedLv2Track(PluginSandboxController &controller,
                                                      int plugins, int frames) {
    orvane::lv2::Lv2Plugin described;
    if (!described.load(x42Compressor)) return {};
    const uint32_t thresholdPort =
        described.parameters[static_cast<size_t>(described.parameterIndex("threshold"))].portIndex;
    auto chain = std::make_unique<SandboxedChain>(controller);
    std::vector<SandboxedChain::Member> members(static_cast<size_t>(plugins),
                                                {"lv2:" + x42Compressor, ""});
    if (!chain->load(members) || !chain->prepare(sampleRate, frames)) return {};
    for (size_t member = 0; member < members.size(); ++member)
        if (!chain->setParameter(member, thresholdPort, 0.3f)) return {};
    return chain;
}

enum Grouping { helperPerPlugin = 0, helperPerTrack = 1, spreadOverThreeTracks = 2 };

std::vector<SandboxedUnit> makeSandboxedUnits(PluginSandboxController &controller, int plugins,
                                              int frames, int grouping) {
    std::vector<SandboxedUnit> units;
    if (grouping == helperPerPlugin) {
        for (auto &insert : makeSandboxedLv2Chain(controller, plugins, frames))
            units.push_back({std::move(insert), nullptr, 1});
        return units;
    }
    const int tracks = grouping == helperPerTrack ? 1 : std::min(3, plugins);
    for (int track = 0; track < tracks; ++track) {
        // The inserts as evenly over the tracks as they go.
        const int inserts = plugins / tracks + (track < plugins % tracks ? 1 : 0);
        auto chain = makeSandboxedLv2Track(controller, inserts, frames);
        if (!chain) return {};
        units.push_back({nullptr, std::move(chain), inserts});
    }
    return units;
}

// Real-time priority for the pacing thread when the user may have it; whether it was given.
bool pacedThreadRealtime() {
    sched_param parameters{};
    parameters.sched_priority = 10;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) == 0;
}

// The machine is shared: each row says how busy it was.
double loadAverage() {
    double averages[1] = {0.0};
    return getloadavg(averages, 1) == 1 ? averages[0] : -1.0;
}

double benchSeconds() {
    const char *text = std::getenv("HALVORA_SANDBOX_BENCH_SECONDS");
    const double seconds = text ? std::atof(text) : 60.0;
    return seconds > 0.0 ? seconds : 60.0;
}

// Blocks after an overrun of the pacing thread that still count as its aftermath: the missed
// block itself shows in the next one, and a catch-up lasts a block or two.
constexpr long blocksCountedAfterOverrun = 3;

uint64_t dryInsertBlocks(const std::vector<SandboxedUnit> &units) {
    uint64_t dry = 0;
    for (const SandboxedUnit &unit : units)
        dry += unit.dryInsertBlocks();
    return dry;
}

// Milliseconds the hypervisor ran something else while this machine's CPUs had work: no thread
// of ours, however high its priority, runs then.
double stolenMilliseconds() {
    std::FILE *stat = std::fopen("/proc/stat", "r");
    if (stat == nullptr) return 0.0;
    unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0,
                       steal = 0;
    const int read = std::fscanf(stat, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user, &nice,
                                 &system, &idle, &iowait, &irq, &softirq, &steal);
    std::fclose(stat);
    return read == 8 ? 1000.0 * double(steal) / double(sysconf(_SC_CLK_TCK)) : 0.0;
}

// What a paced run saw.
struct PacedRun {
    bool realtime = false;
    double stolenMs = 0.0;
    long overruns = 0;
    uint64_t dryWhileOnTime = 0;
    double localCpu = 0.0;
    double callerCpu = 0.0;
};

// Plays `blocks` blocks on a thread woken once a period, as a sound server's would be: the
// in-process chain first, then `sandboxed` on the same signal, which must give back the dry
// insert-blocks counted so far.
template <class InProcess, class Sandboxed, class DryCount>
PacedRun playPaced(int frames, long blocks, InProcess inProcess, Sandboxed sandboxed,
                   DryCount dryCount) {
    const auto period = std::chrono::nanoseconds(static_cast<long long>(1e9 * frames / sampleRate));
    PacedRun run;
    run.stolenMs = -stolenMilliseconds();
    std::thread audio([&] {
        run.realtime = pacedThreadRealtime();
        std::vector<float> left(static_cast<size_t>(frames)), right(left.size());
        std::vector<float> localLeft(left.size()), localRight(left.size());
        auto next = std::chrono::steady_clock::now();
        long frame = 0;
        long lastOverrun = -blocksCountedAfterOverrun - 1;
        uint64_t dryBefore = 0;
        for (long block = 0; block < blocks; ++block) {
            for (int index = 0; index < frames; ++index, ++frame)
                left[index] = right[index] =
                    0.5f * static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * frame / sampleRate));
            std::copy(left.begin(), left.end(), localLeft.begin());
            std::copy(right.begin(), right.end(), localRight.begin());
            double before = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            inProcess(localLeft.data(), localRight.data());
            double middle = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            // All sandboxed inserts share one deadline a block, as the rack gives them.
            sandboxed(left.data(), right.data(), Deadline::after(budgetFor(frames)));
            double after = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            run.localCpu += middle - before;
            run.callerCpu += after - middle;
            next += period;
            // A block that ends past its period is an overrun of the pacing thread itself: the
            // blocks after it come early to catch up, and a device would have dropped out
            // anyway. Dry blocks there are the machine's; dry blocks while the pacing kept time
            // are the sandbox's.
            if (std::chrono::steady_clock::now() > next) {
                ++run.overruns;
                lastOverrun = block;
            }
            const uint64_t dryNow = dryCount();
            if (block - lastOverrun > blocksCountedAfterOverrun)
                run.dryWhileOnTime += dryNow - dryBefore;
            dryBefore = dryNow;
            std::this_thread::sleep_until(next);
        }
    });
    audio.join();
    run.stolenMs += stolenMilliseconds();
    return run;
}

long pacedBlocks(int frames) { return static_cast<long>(benchSeconds() * sampleRate / frames); }

void reportPaced(benchmark::State &state, const PacedRun &run, uint64_t dryBlocks, long blocks) {
    state.counters["dry_blocks"] = double(dryBlocks);
    state.counters["dry_on_time"] = double(run.dryWhileOnTime);
    state.counters["blocks"] = double(blocks);
    state.counters["realtime"] = run.realtime ? 1 : 0;
    state.counters["load_average"] = loadAverage();
    state.counters["overruns"] = double(run.overruns);
    state.counters["stolen_ms"] = run.stolenMs;
}

// Plays the chain live, paced, beside the same chain in process.
void pacedLiveChain(benchmark::State &state) {
    const int frames = static_cast<int>(state.range(0));
    const int plugins = static_cast<int>(state.range(1));
    const int grouping = static_cast<int>(state.range(2));
    PluginSandboxController controller;
    controller.enabled = true;
    controller.helperSearchFolder = HALVORA_HELPER_FOLDER;
    auto local = makeLv2Chain(plugins, frames);
    auto sandboxed = makeSandboxedUnits(controller, plugins, frames, grouping);
    if (local.empty() || sandboxed.empty()) {
        state.SkipWithError("the x42 compressor did not load (install x42-plugins)");
        return;
    }
    std::vector<clockid_t> helperClocks;
    for (auto &unit : sandboxed) {
        clockid_t clock{};
        if (clock_getcpuclockid(unit.helperProcessId(), &clock) == 0) helperClocks.push_back(clock);
    }
    const long blocks = pacedBlocks(frames);
    double helperCpu = 0.0;
    PacedRun run;
    for (auto _ : state) {
        for (clockid_t clock : helperClocks)
            helperCpu -= cpuSeconds(clock);
        run = playPaced(
            frames, blocks,
            [&](float *left, float *right) {
                for (auto &plugin : local)
                    (void)plugin->process(left, right, frames); // prepared: cannot fail
            },
            [&](float *left, float *right, Deadline patience) {
                for (auto &unit : sandboxed)
                    (void)unit.processLive(left, right, frames, patience); // counted as dry
            },
            [&] { return dryInsertBlocks(sandboxed); });
        for (clockid_t clock : helperClocks)
            helperCpu += cpuSeconds(clock);
        state.SetIterationTime(double(blocks) * frames / sampleRate);
    }
    reportPaced(state, run, dryInsertBlocks(sandboxed), blocks);
    const double perInsertBlock = 1e6 / (double(blocks) * plugins);
    state.counters["helpers"] = double(sandboxed.size());
    state.counters["local_cpu_us_per_insert"] = run.localCpu * perInsertBlock;
    state.counters["sandboxed_cpu_us_per_insert"] = (run.callerCpu + helperCpu) * perInsertBlock;
    state.counters["added_cpu_us_per_insert"] =
        (run.callerCpu + helperCpu - run.localCpu) * perInsertBlock;
}

// The floor the machine sets: the same client and shared block, paced the same way, with a
// forked process in the helper's place that only copies each block back, at the helper's
// priority. Its dry blocks are what this machine's scheduler costs the exchange itself; the
// sandbox cannot do better than them.
void servePlainCopies(SharedBlockLayout &block) {
    sched_param parameters{};
    parameters.sched_priority = 9;
    (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters); // as the helper tries
    const std::atomic<bool> never{false};
    serveBlocksUntil(block, never, std::chrono::milliseconds(100), [](SharedBlockSlot &slot) {
        const auto count = static_cast<size_t>(std::clamp(slot.frames, 0, maximumProcessFrames));
        std::memcpy(slot.output[0], slot.input[0], count * sizeof(float));
        std::memcpy(slot.output[1], slot.input[1], count * sizeof(float));
    });
}

void pacedExchangeFloor(benchmark::State &state) {
    const int frames = static_cast<int>(state.range(0));
    auto mapping = std::make_unique<SharedBlockMapping>();
    std::string name;
    int sockets[2] = {-1, -1};
    if (!mapping->create(name) || socketpair(AF_UNIX, SOCK_STREAM, 0, sockets) != 0) {
        state.SkipWithError("no shared block");
        return;
    }
    unlinkSharedBlock(name);
    SharedBlockLayout &block = *mapping->block();
    const pid_t copier = fork();
    if (copier == 0) {
        close(sockets[0]);
        servePlainCopies(block);
        _exit(0);
    }
    close(sockets[1]);
    SharedBlockClient client(std::move(mapping), sockets[0]);
    client.prepare(frames, sampleRate, 0);
    const long blocks = pacedBlocks(frames);
    PacedRun run;
    for (auto _ : state) {
        run = playPaced(
            frames, blocks, [](float *, float *) {},
            [&](float *left, float *right, Deadline patience) {
                bool sent = false;
                (void)client.processBehind(left, right, frames, {}, patience, sent); // counted
            },
            [&] { return client.lateBlocks(); });
        state.SetIterationTime(double(blocks) * frames / sampleRate);
    }
    reportPaced(state, run, client.lateBlocks(), blocks);
    kill(copier, SIGKILL);
    waitpid(copier, nullptr, 0);
    close(sockets[0]);
}

// Two sandboxed inserts whose plug-ins hang share one budget of half a 64-frame period; the
// instances are dropped after eight missed blocks, so each run times those eight.
void twoHungInsertsPerBlock(benchmark::State &state) {
    constexpr int frames = 64;
    setenv("HALVORA_TEST_MISBEHAVIOUR", "hang", 1);
    std::vector<double> blockMicroseconds;
    double cpu = 0.0;
    for (auto _ : state) {
        PluginSandboxController controller;
        controller.enabled = true;
        controller.helperSearchFolder = HALVORA_HELPER_FOLDER;
        std::vector<std::unique_ptr<SandboxedPlugin>> inserts;
        for (int index = 0; index < 2; ++index) {
            auto plugin = std::make_unique<SandboxedPlugin>(controller);
            if (!plugin->load(HALVORA_MISBEHAVING_EFFECT, "") ||
                !plugin->prepare(sampleRate, frames)) {
                state.SkipWithError("the misbehaving test effect did not load");
                return;
            }
            inserts.push_back(std::move(plugin));
        }
        std::vector<float> left(frames, 0.1f), right(frames, 0.1f);
        double slowest = 0.0;
        for (int block = 0; block < 8; ++block) {
            auto start = std::chrono::steady_clock::now();
            double cpuBefore = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            Deadline budget = Deadline::after(budgetFor(frames));
            for (auto &plugin : inserts)
                (void)plugin->process(left.data(), right.data(), frames, budget); // late counts too
            cpu += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
            double took =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            blockMicroseconds.push_back(took * 1e6);
            slowest = std::max(slowest, took);
        }
        state.SetIterationTime(slowest);
    }
    unsetenv("HALVORA_TEST_MISBEHAVIOUR");
    state.counters["block_median_us"] = percentile(blockMicroseconds, 0.5);
    state.counters["block_max_us"] = percentile(blockMicroseconds, 1.0);
    state.counters["block_cpu_us"] =
        cpu * 1e6 / std::max<double>(1.0, double(blockMicroseconds.size()));
    state.counters["period_us"] = 1e6 * frames / sampleRate;
}

void chains(benchmark::internal::Benchmark *benchmark) {
    for (int live : {0, 1})
        for (int plugins : {1, 4, 8})
            benchmark->Args({256, plugins, live});
    benchmark->UseManualTime()->MinTime(2.0)->Unit(benchmark::kMicrosecond);
}

void pacedChains(benchmark::internal::Benchmark *benchmark) {
    for (int grouping : {helperPerPlugin, helperPerTrack, spreadOverThreeTracks})
        for (int frames : {64, 128, 256})
            for (int plugins : {1, 3, 6, 12})
                benchmark->Args({frames, plugins, grouping});
    benchmark->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
}

BENCHMARK(sandboxAddedCost)->Apply(chains);
BENCHMARK(lv2SandboxAddedCost)->Apply(chains);
BENCHMARK(twoHungInsertsPerBlock)->UseManualTime()->Iterations(3)->Unit(benchmark::kMicrosecond);
BENCHMARK(pacedExchangeFloor)
    ->Arg(64)
    ->Arg(128)
    ->Arg(256)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(pacedLiveChain)->Apply(pacedChains);

} // namespace

BENCHMARK_MAIN();
