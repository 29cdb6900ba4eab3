#include "device/OfflineRender.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

using namespace orvane;

namespace {

constexpr double rate = 48000.0;

/// One stereo audio clip of a second, with a different tone on each side so that a mixed-up
/// channel shows, on a track panned to the left, plus a second track for solo checks.
Project makeToneProject() {
    Project project;
    project.sampleRate = rate;
    for (int index = 0; index < 2; ++index) {
        auto track = project.addTrack(TrackType::Audio, "Tone " + std::to_string(index));
        track->pan = index == 0 ? -0.5f : 0.3f;
        auto clip = project.addClip(track->id, ClipKind::Audio);
        auto samples = std::make_shared<std::vector<float>>(2 * 48000);
        const double frequency = index == 0 ? 440.0 : 660.0;
        for (std::size_t frame = 0; frame < 48000; ++frame) {
            const double phase = 2.0 * std::numbers::pi * frequency * frame / rate;
            (*samples)[2 * frame] = static_cast<float>(0.4 * std::sin(phase));
            (*samples)[2 * frame + 1] = static_cast<float>(0.3 * std::sin(1.5 * phase));
        }
        clip->audio = samples;
        clip->channels = 2;
        clip->length = 48000;
    }
    return project;
}

std::unique_ptr<Engine> makeEngine(Project project, int32_t deviceBlock) {
    auto engine = std::make_unique<Engine>();
    engine->replaceProject(std::move(project));
    engine->prepareToPlay(rate, deviceBlock);
    return engine;
}

std::vector<float> render(Engine &engine, int64_t start, int64_t frames, int32_t channels) {
    std::vector<float> out;
    std::string error;
    EXPECT_TRUE(renderMixdown(engine, out, start, frames, channels, &error)) << error;
    return out;
}

double energy(const std::vector<float> &samples, std::size_t begin, std::size_t end) {
    double sum = 0.0;
    for (std::size_t i = begin; i < end && i < samples.size(); ++i)
        sum += samples[i] * samples[i];
    return sum;
}

} // namespace

TEST(RenderMixdown, SmallDeviceBuffersStillRenderEveryBlock) {
    for (const int32_t deviceBlock : {32, 64, 128, 256, 1024}) {
        auto engine = makeEngine(makeToneProject(), deviceBlock);
        const auto out = render(*engine, 0, 40000, 2);
        ASSERT_EQ(out.size(), 80000u);
        // No stretch of the clip may come out silent, whatever block the device asked for.
        for (std::size_t chunk = 0; chunk + 1024 <= out.size(); chunk += 1024)
            EXPECT_GT(energy(out, chunk, chunk + 1024), 1e-3)
                << "device block " << deviceBlock << ", chunk at " << chunk;
    }
}

TEST(RenderMixdown, SameSamplesWhateverTheDeviceBlockSize) {
    auto small = makeEngine(makeToneProject(), 64);
    auto large = makeEngine(makeToneProject(), 512);
    const auto fromSmall = render(*small, 0, 20000, 2);
    const auto fromLarge = render(*large, 0, 20000, 2);
    ASSERT_EQ(fromSmall.size(), fromLarge.size());
    for (std::size_t i = 0; i < fromSmall.size(); ++i)
        ASSERT_NEAR(fromSmall[i], fromLarge[i], 1e-5f) << "sample " << i;
}

TEST(RenderMixdown, LeavesTheTransportWhereItWas) {
    auto engine = makeEngine(makeToneProject(), 256);
    engine->transport.playhead.store(12345);
    engine->transport.playing.store(false);
    engine->transport.recording.store(false);
    render(*engine, 1000, 5000, 2);
    EXPECT_EQ(engine->transport.playhead.load(), 12345);
    EXPECT_FALSE(engine->transport.playing.load());
    EXPECT_FALSE(engine->transport.recording.load());
    EXPECT_FALSE(engine->offlineRenderActive());

    engine->transport.playing.store(true);
    render(*engine, 0, 700, 1);
    EXPECT_EQ(engine->transport.playhead.load(), 12345);
    EXPECT_TRUE(engine->transport.playing.load());
}

TEST(RenderMixdown, LeavesOutMetronomeAndCycleWrap) {
    auto silent = makeEngine(Project{}, 256);
    silent->transport.metronomeOn.store(true);
    silent->transport.loopEnabled.store(true);
    silent->transport.loopStart.store(0);
    silent->transport.loopEnd.store(1000);
    const auto click = render(*silent, 0, 48000, 2);
    EXPECT_EQ(energy(click, 0, click.size()), 0.0) << "a mixdown of an empty project is silent";

    // With the cycle on, the second 1000 frames must still be the song, not its first 1000.
    auto cycling = makeEngine(makeToneProject(), 256);
    cycling->transport.loopEnabled.store(true);
    cycling->transport.loopStart.store(0);
    cycling->transport.loopEnd.store(1000);
    auto straight = makeEngine(makeToneProject(), 256);
    const auto withCycle = render(*cycling, 0, 4000, 2);
    const auto withoutCycle = render(*straight, 0, 4000, 2);
    EXPECT_EQ(withCycle, withoutCycle);
}

TEST(RenderMixdown, SpanMatchesTheSameFramesOfAFullRender) {
    // Filters and the mastering stage remember what came before the span; without them the
    // span must be the very same frames.
    Project project = makeToneProject();
    project.mastering.enabled = false;
    project.masterEq.enabled = false;
    for (auto &track : project.tracks)
        track->eq.enabled = false;
    auto full = makeEngine(project, 512);
    auto part = makeEngine(project, 512);
    const auto everything = render(*full, 0, 30000, 2);
    const auto span = render(*part, 10000, 5000, 2);
    ASSERT_EQ(span.size(), 10000u);
    for (std::size_t i = 0; i < span.size(); ++i)
        ASSERT_EQ(span[i], everything[2 * 10000 + i]) << "sample " << i;
}

TEST(RenderMixdown, OneChannelKeepsTheLeftSideOnly) {
    auto stereoEngine = makeEngine(makeToneProject(), 512);
    auto monoEngine = makeEngine(makeToneProject(), 512);
    const auto stereo = render(*stereoEngine, 0, 6000, 2);
    const auto mono = render(*monoEngine, 0, 6000, 1);
    ASSERT_EQ(mono.size(), 6000u);
    for (std::size_t i = 0; i < mono.size(); ++i)
        ASSERT_EQ(mono[i], stereo[2 * i]) << i;
    EXPECT_NE(energy(stereo, 0, stereo.size()), 2.0 * energy(mono, 0, mono.size()));
}

TEST(RenderMixdown, RefusesWhatItCannotRender) {
    auto engine = makeEngine(makeToneProject(), 512);
    std::vector<float> out;
    std::string error;
    EXPECT_FALSE(renderMixdown(*engine, out, 0, 100, 3, &error));
    EXPECT_EQ(error, "channels must be 1 or 2");
    EXPECT_FALSE(renderMixdown(*engine, out, 0, 0, 2, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(renderMixdown(*engine, out, -5, 100, 2, &error));
    EXPECT_FALSE(renderMixdown(*engine, out, INT64_MAX - 10, 100, 2, &error));

    ASSERT_TRUE(engine->beginOfflineRender());
    error.clear();
    EXPECT_FALSE(renderMixdown(*engine, out, 0, 100, 2, &error));
    EXPECT_EQ(error, "another offline render is using the engine");
    engine->endOfflineRender();

    engine->releaseResources();
    EXPECT_FALSE(renderMixdown(*engine, out, 0, 100, 2, &error));
    EXPECT_EQ(error, "the engine is not prepared to render");
}

TEST(RenderMixdown, DeviceBlocksStaySilentAfterwardsUntilPlayed) {
    auto engine = makeEngine(makeToneProject(), 256);
    render(*engine, 0, 3000, 2);
    std::vector<float> left(256, 1.0f), right(256, 1.0f);
    float *channels[2] = {left.data(), right.data()};
    engine->processBlock(channels, 2, 256);
    EXPECT_EQ(energy(left, 0, left.size()) + energy(right, 0, right.size()), 0.0)
        << "the stopped transport must not start playing after an export";
}

TEST(RenderTrackMixdown, EqualsTheMixWithThatTrackSoloed) {
    const Project project = makeToneProject();
    const uint64_t second = project.tracks[1]->id;
    auto alone = makeEngine(project, 512);
    std::vector<float> trackOnly;
    std::string error;
    ASSERT_TRUE(renderTrackMixdown(*alone, second, trackOnly, 0, 8000, 2, &error)) << error;

    Project soloed = makeToneProject();
    soloed.tracks[1]->solo = true;
    auto reference = makeEngine(std::move(soloed), 512);
    EXPECT_EQ(trackOnly, render(*reference, 0, 8000, 2));

    auto full = makeEngine(makeToneProject(), 512);
    EXPECT_NE(trackOnly, render(*full, 0, 8000, 2));
}

TEST(RenderTrackMixdown, PutsEverySoloSwitchBack) {
    Project project = makeToneProject();
    project.tracks[0]->solo = true;
    const uint64_t first = project.tracks[0]->id;
    const uint64_t second = project.tracks[1]->id;
    auto engine = makeEngine(std::move(project), 512);
    std::vector<float> out;
    ASSERT_TRUE(renderTrackMixdown(*engine, second, out, 0, 1000, 2));
    EXPECT_TRUE(engine->project.findTrack(first)->solo);
    EXPECT_FALSE(engine->project.findTrack(second)->solo);
    EXPECT_TRUE(engine->currentGraph()->tracks[0]->solo);
}

TEST(RenderTrackMixdown, UnknownTrackIsRefusedAndChangesNothing) {
    auto engine = makeEngine(makeToneProject(), 512);
    std::vector<float> out;
    std::string error;
    EXPECT_FALSE(renderTrackMixdown(*engine, 999, out, 0, 1000, 2, &error));
    EXPECT_EQ(error, "no track with id 999");
    EXPECT_FALSE(renderTrackMixdown(*engine, 0, out, 0, 1000, 2, &error));
    for (const auto &track : engine->project.tracks)
        EXPECT_FALSE(track->solo);
}

namespace {

/// The tone project with a delay on the first track (a tail that outlives the clip) and an
/// armed MIDI track, so that live keys and live effect tails would show in an export.
Project makeLiveProject() {
    Project project = makeToneProject();
    InsertSlot delay;
    delay.pluginId = "stock.delay";
    delay.isStock = true;
    project.tracks[0]->inserts.push_back(delay);
    auto keys = project.addTrack(TrackType::Midi, "Keys");
    keys->armed = true;
    return project;
}

struct LiveState {
    uint64_t flashback = 0;
    float masterPeak = 0.0f;
    int64_t playhead = 0;
    bool playing = false;
};

LiveState liveStateOf(Engine &engine) {
    return {engine.flashbackAvailableSamples(), engine.masterMeters.peakL.load(),
            engine.transport.playhead.load(), engine.transport.playing.load()};
}

void playLive(Engine &engine, int blocks) {
    std::vector<float> left(256), right(256);
    std::array<float *, 2> outputs{left.data(), right.data()};
    for (int i = 0; i < blocks; ++i)
        engine.processBlock(outputs.data(), 2, 256);
}

} // namespace

// An export is a pure function of the document and the span: whatever played live before,
// whatever keys are held and whatever the user queued, two exports of a span are identical,
// and the export leaves the live state (tails, meters, flashback, transport, queued requests)
// exactly as it found it.
TEST(RenderMixdown, ExportsAreIsolatedFromLivePlayback) {
    const auto fresh = makeEngine(makeLiveProject(), 256);
    const std::vector<float> reference = render(*fresh, 12000, 48000, 2);
    ASSERT_GT(energy(reference, 0, reference.size()), 0.0);

    const auto engine = makeEngine(makeLiveProject(), 256);
    ASSERT_TRUE(engine->pushRequest(RequestProducer::MainThread, Request::play()));
    playLive(*engine, 150); // the live delay now carries a tail
    // A key held on the MIDI input, a request the user queued just before exporting.
    ASSERT_TRUE(engine->pushRequest(RequestProducer::MidiInput, Request::noteOn(0, 69, 1.0)));
    ASSERT_TRUE(engine->pushRequest(RequestProducer::MainThread, Request::locate(4800)));
    const LiveState before = liveStateOf(*engine);

    EXPECT_EQ(render(*engine, 12000, 48000, 2), reference) << "first export";
    EXPECT_EQ(render(*engine, 12000, 48000, 2), reference) << "second export";

    const LiveState after = liveStateOf(*engine);
    EXPECT_EQ(after.flashback, before.flashback) << "the export wrote the flashback capture";
    EXPECT_EQ(after.masterPeak, before.masterPeak) << "the export wrote the live meters";
    EXPECT_EQ(after.playhead, before.playhead);
    EXPECT_EQ(after.playing, before.playing);
    EXPECT_EQ(engine->liveMidi.heldVelocity[69], 0.0f) << "the export consumed the live MIDI ring";
    playLive(*engine, 1);
    EXPECT_EQ(engine->liveMidi.heldVelocity[69], 1.0f)
        << "the live key arrives with the next block";
    EXPECT_EQ(engine->transport.playhead.load(), 4800 + 256)
        << "the queued locate survives the export";
}
