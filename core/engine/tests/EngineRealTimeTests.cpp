#include "core/engine/tests/EngineTestSupport.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace orvane;
using namespace orvane::testing;

namespace {

void addMidiTrackWithNotes(Engine& engine, int notes) {
    std::lock_guard lock(engine.projectMutex);
    auto track = engine.project.addTrack(TrackType::Midi, "");
    auto clip = engine.project.addClip(track->id, ClipKind::Midi);
    for (int i = 0; i < notes; ++i) clip->notes.push_back(MidiNote{60 + i % 12, 0.8f, i * 1000, 900});
    track->volumeAutomation.push_back({0, 0.5f});
}

} // namespace

TEST(EngineRealTime, ProcessBlockNeitherAllocatesNorFreesWhileSnapshotsChange) {
    Engine engine;
    addMidiTrackWithNotes(engine, 64);
    engine.prepareToPlay(48000, 512);
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.tempoMarkers.push_back({100000, 140.0});
        engine.project.meterMarkers.push_back({0, 3, 4});
    }
    engine.publishGraph();

    constexpr int blocks = 4000;
    std::atomic<bool> audioDone{false};
    uint64_t allocations = 0;
    uint64_t frees = 0;
    std::thread audio([&] {
        StereoOutput out(512);
        AllocationScope scope;
        for (int block = 0; block < blocks; ++block) out.render(engine);
        allocations = scope.allocations();
        frees = scope.frees();
        audioDone = true;
    });
    int published = 0;
    while (!audioDone) {
        send(engine, RequestType::play);
        send(engine, RequestType::locate, 0, 50000.0 * (published % 4));
        sendMidi(engine, RequestType::midiNoteOn, 60, 0.7);
        sendMidi(engine, RequestType::midiNoteOff, 60);
        if (published % 7 == 0) addMidiTrackWithNotes(engine, 8);
        engine.publishGraph();
        ++published;
    }
    audio.join();
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(frees, 0u);
    EXPECT_GT(published, 0);
}
