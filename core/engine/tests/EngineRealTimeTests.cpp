#include "core/engine/tests/EngineTestSupport.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace orvane;
using namespace orvane::testing;

namespace {

void addMidiTrackWithNotes(Engine &engine, int notes) {
    std::lock_guard lock(engine.projectMutex);
    auto track = engine.project.addTrack(TrackType::Midi, "");
    auto clip = engine.project.addClip(track->id, ClipKind::Midi);
    for (int i = 0; i < notes; ++i)
        clip->notes.push_back(MidiNote{60 + i % 12, 0.8f, i * 1000, 900});
    track->volumeAutomation.push_back({0, 0.5f});
}

/// Every stage of the renderer at work: audio with fades and warp, MIDI through an
/// expression map, live input, sends into a return, stock effects, automation, metronome.
void buildBusyProject(Engine &engine) {
    std::lock_guard lock(engine.projectMutex);
    Project &project = engine.project;
    auto reverbReturn = project.addTrack(TrackType::Return, "");
    reverbReturn->inserts.push_back(
        InsertSlot{"stock.reverb", "Reverb", "", {}, false, true, 0, {}});
    auto audio = project.addTrack(TrackType::Audio, "");
    audio->inserts.push_back(InsertSlot{"stock.delay", "Delay", "", {}, false, true, 0, {}});
    audio->inserts.push_back(InsertSlot{"stock.compressor", "Comp", "", {}, false, true, 0, {}});
    // Built-in inserts whose parameters follow their lanes: time, threshold, an EQ band.
    audio->inserts.push_back(
        InsertSlot{"stock.delay", "Delay", "", {}, false, true, 0, {{0, 0.1f}, {150000, 0.9f}}});
    audio->inserts.push_back(InsertSlot{
        "stock.compressor", "Comp", "", {}, false, true, 0, {{0, 0.0f}, {150000, 1.0f}}});
    audio->inserts.push_back(
        InsertSlot{"stock.eq", "EQ", "", {}, false, true, 1, {{0, 0.2f}, {100000, 0.8f}}});
    audio->sends[0] = SendSlot{reverbReturn->id, 0.5f, false};
    audio->sends[1] = SendSlot{reverbReturn->id, 0.5f, true};
    audio->panAutomation = {{0, -1.0f}, {200000, 1.0f}};
    auto clip = project.addClip(audio->id, ClipKind::Audio);
    clip->audio = std::make_shared<std::vector<float>>(96000, 0.25f);
    clip->length = 200000;
    clip->fadeIn = 1000;
    clip->fadeOut = 1000;
    clip->warpMarkers = {{1000, 2000}};
    auto keys = project.addTrack(TrackType::Midi, "");
    keys->armed = true;
    keys->mpeEnabled = true;
    keys->expressionMapIndex = 0;
    project.metronomeEnabled = true;
    project.kbmDegrees = {0, 2, 4, 5, 7, 9, 11};
}

} // namespace

TEST(EngineRealTime, ProcessBlockNeitherAllocatesNorFreesWhileSnapshotsChange) {
    Engine engine;
    buildBusyProject(engine);
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
    std::atomic<int> published{0};
    // One round of requests per rendered block at most: a loaded machine slows the audio
    // thread, and a main thread racing ahead would only overfill the request ring.
    std::atomic<int> rendered{0};
    uint64_t allocations = 0;
    uint64_t frees = 0;
    std::thread audio([&] {
        StereoOutput out(512);
        AllocationScope scope;
        // Render until the main thread has swapped snapshots under us many times.
        for (int block = 0; block < blocks || published.load() < 200; ++block) {
            out.render(engine);
            rendered.fetch_add(1);
        }
        allocations = scope.allocations();
        frees = scope.frees();
        audioDone = true;
    });
    for (int seen = 0; !audioDone; seen = rendered.load()) {
        while (rendered.load() == seen && !audioDone)
            std::this_thread::yield();
        send(engine, RequestType::play);
        send(engine, RequestType::locate, 0, 50000.0 * (published % 4));
        sendMidi(engine, RequestType::midiNoteOn, 60, 0.7);
        sendMidi(engine, RequestType::midiNoteOff, 60);
        if (published % 7 == 0 && published < 400) addMidiTrackWithNotes(engine, 8);
        engine.publishGraph();
        ++published;
    }
    audio.join();
    EXPECT_EQ(allocations, 0u) << "after " << published << " publications";
    EXPECT_EQ(frees, 0u) << "after " << published << " publications";
    EXPECT_GE(published.load(), 200);
}
