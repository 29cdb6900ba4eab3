#include "core/engine/tests/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <thread>

using namespace orvane;
using namespace orvane::testing;

namespace {

/// One random edit of the live project, the kind commands make during playback.
void editProject(Engine &engine, std::mt19937 &random) {
    std::lock_guard lock(engine.projectMutex);
    Project &project = engine.project;
    const int choice = static_cast<int>(random() % 7);
    if (project.tracks.empty() || choice == 0) {
        auto track = project.addTrack(random() % 2 ? TrackType::Midi : TrackType::Return, "");
        project.addClip(track->id, ClipKind::Midi);
        return;
    }
    auto &track = project.tracks[random() % project.tracks.size()];
    switch (choice) {
    case 1:
        if (project.tracks.size() > 3) project.removeTrack(track->id);
        break;
    case 2: project.addClip(track->id, ClipKind::Midi); break;
    case 3:
        if (!track->clips.empty()) project.removeClip(track->clips.front()->id);
        break;
    case 4:
        if (!track->clips.empty())
            track->clips.back()->notes.push_back(MidiNote{static_cast<int32_t>(random() % 128)});
        break;
    case 5:
        // Mixer and EQ parameters, as a knob drag sends them.
        track->gain = static_cast<float>(random() % 100) / 100.0f;
        track->pan = static_cast<float>(random() % 200) / 100.0f - 1.0f;
        track->eq.bands[random() % 8].gainDb = static_cast<float>(random() % 24) - 12.0f;
        break;
    default:
        track->volumeAutomation.push_back({static_cast<int64_t>(random() % 100000), 0.5f});
        track->armed = !track->armed;
        project.tempoMarkers.push_back(
            {static_cast<int64_t>(random() % 200000), 100.0 + random() % 40});
        if (project.tempoMarkers.size() > 16) project.tempoMarkers.clear();
        break;
    }
}

} // namespace

TEST(EngineThreads, RequestsFromEveryProducerArriveInOrderWhileEditsAndExportsRun) {
    Engine engine;
    engine.prepareToPlay(48000, 256);
    constexpr int transportRequests = 20000;
    constexpr int pressureRequests = 20000;
    std::atomic<bool> producersDone{false};
    std::atomic<int> producersRunning{2};
    std::atomic<uint64_t> notificationsConsumed{0};
    std::atomic<bool> audioDone{false};
    int transportAccepted = 0;
    std::array<float, 128> lastPressureSent{};
    lastPressureSent.fill(1.0f);

    engine.deviceStarted();
    std::atomic<bool> exporterDone{false};
    std::atomic<int64_t> deviceBlocks{0};
    std::thread audio([&] {
        StereoOutput out(256);
        // The device's own MIDI: a key struck and released inside every block.
        const std::array<MidiEvent, 2> keys{MidiEvent{10, 0x91, 64, 90},
                                            MidiEvent{200, 0x81, 64, 0}};
        const BlockIo io{nullptr, 0, out.channels.data(), 2, 256, keys};
        // Keep rendering until every producer is done and both rings are empty.
        int quietBlocks = 0;
        while (quietBlocks < 4) {
            engine.processBlock(io);
            deviceBlocks.fetch_add(1);
            if (producersDone && exporterDone) ++quietBlocks;
        }
        audioDone = true;
    });
    // Exports run meanwhile; device blocks stay silent while one owns the engine.
    std::atomic<int> exports{0};
    std::thread exporter([&] {
        StereoOutput out(256);
        while (!producersDone) {
            // Now and then, so that the device gets most of the blocks.
            const int64_t resume = deviceBlocks.load() + 64;
            while (deviceBlocks.load() < resume && !producersDone)
                std::this_thread::yield();
            if (!engine.beginOfflineRender(0)) continue;
            for (int block = 0; block < 8; ++block)
                engine.processBlockOffline(out.channels.data(), 2, 256);
            engine.endOfflineRender();
            exports.fetch_add(1);
        }
        exporterDone = true;
    });
    std::thread transport([&] {
        for (int i = 0; i < transportRequests; ++i) {
            // Wait for the interface tick to keep up, so no notification is dropped.
            while (static_cast<uint64_t>(transportAccepted) - notificationsConsumed.load() > 500)
                std::this_thread::yield();
            const RequestType type =
                transportAccepted % 2 == 0 ? RequestType::play : RequestType::pause;
            if (engine.pushRequest(RequestProducer::MainThread, request(type))) ++transportAccepted;
        }
        if (--producersRunning == 0) producersDone = true;
    });
    std::thread midi([&] {
        for (int i = 0; i < pressureRequests; ++i) {
            const int note = i % 128;
            const float value = static_cast<float>(i) / pressureRequests;
            if (engine.pushRequest(RequestProducer::MidiInput,
                                   request(RequestType::midiPressure, note, value)))
                lastPressureSent[static_cast<std::size_t>(note)] = value;
        }
        if (--producersRunning == 0) producersDone = true;
    });

    std::mt19937 random(1234);
    std::vector<float> notificationValues;
    int edits = 0;
    auto consumeNotifications = [&] {
        Notification notification;
        while (engine.popNotification(notification)) {
            if (notification.kind == NotificationKind::transport)
                notificationValues.push_back(notification.value);
            ++notificationsConsumed;
        }
    };
    while (!audioDone || edits < 2000) {
        editProject(engine, random);
        engine.publishGraph();
        consumeNotifications();
        ++edits;
    }
    audio.join();
    transport.join();
    midi.join();
    exporter.join();
    engine.deviceStopped();
    consumeNotifications();
    engine.collectRetiredGraphs();
    EXPECT_GT(exports.load(), 0);

    ASSERT_EQ(notificationValues.size(), static_cast<std::size_t>(transportAccepted));
    for (std::size_t i = 0; i < notificationValues.size(); ++i)
        ASSERT_EQ(notificationValues[i], i % 2 == 0 ? 1.0f : 0.0f) << "request " << i;
    for (std::size_t note = 0; note < 128; ++note) {
        if (note == 64) continue; // the device's own key, whose strikes reset its pressure
        EXPECT_EQ(engine.liveMidi.notePressure[note], lastPressureSent[note]) << note;
    }
    EXPECT_GE(edits, 2000);
}

TEST(EngineThreads, MidiTakesRecordWhileADeviceRenders) {
    Engine engine;
    engine.prepareToPlay(48000, 128);
    engine.deviceStarted();
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        StereoOutput out(128);
        while (!stop)
            out.render(engine);
    });
    send(engine, RequestType::play);
    for (int take = 0; take < 20; ++take) {
        ASSERT_TRUE(engine.beginMidiRecording(engine.transport.playhead.load()));
        for (int note = 0; note < 10; ++note) {
            // The MIDI thread's keys: each held for a little while, then released.
            while (!engine.pushRequest(RequestProducer::MidiInput,
                                       request(RequestType::midiNoteOn, 40 + note, 0.6)))
                std::this_thread::yield();
            const int64_t pressedAt = engine.transport.playhead.load();
            while (engine.transport.playhead.load() < pressedAt + 256)
                std::this_thread::yield();
            while (!engine.pushRequest(RequestProducer::MidiInput,
                                       request(RequestType::midiNoteOff, 40 + note)))
                std::this_thread::yield();
        }
        const int64_t last = engine.transport.playhead.load();
        while (engine.transport.playhead.load() < last + 512)
            std::this_thread::yield();
        const auto notes = engine.endMidiRecording(engine.transport.playhead.load());
        ASSERT_EQ(notes.size(), 10u) << "take " << take;
        for (std::size_t i = 0; i < notes.size(); ++i) {
            EXPECT_EQ(notes[i].pitch, 40 + static_cast<int>(i));
            EXPECT_FLOAT_EQ(notes[i].velocity, 0.6f);
            EXPECT_GE(notes[i].length, 128);
        }
    }
    stop = true;
    audio.join();
    engine.deviceStopped();
}

namespace {

/// A project whose only track plays a constant 0.5 for a long time: every rendered block
/// of it is loud, a lost block is silent.
void addSteadyTrack(Engine &engine) {
    {
        std::lock_guard lock(engine.projectMutex);
        auto track = engine.project.addTrack(TrackType::Audio, "");
        track->eq.enabled = false;
        auto clip = engine.project.addClip(track->id, ClipKind::Audio);
        clip->audio = std::make_shared<std::vector<float>>(48000 * 20, 0.5f);
        clip->channels = 1;
        engine.project.masterEq.enabled = false;
        engine.project.mastering.enabled = false;
    }
    engine.publishGraph();
}

bool silent(const StereoOutput &out) {
    return std::all_of(out.left.begin(), out.left.end(), [](float v) { return v == 0.0f; });
}

} // namespace

// The main thread keeps issuing recording actions (it carries queued requests out itself
// while no device renders) when a device starts: from the device's first block on, no block
// may be lost to the main thread's claim of the rendering slot.
TEST(EngineThreads, ADeviceThatStartsWhileTheMainThreadRecordsNeverLosesABlock) {
    for (int start = 0; start < 20; ++start) {
        Engine engine;
        engine.prepareToPlay(48000, 128);
        addSteadyTrack(engine);
        send(engine, Request::play());
        std::atomic<bool> stop{false};
        std::thread recorder([&] {
            ASSERT_TRUE(engine.beginMidiRecording(0));
            for (int note = 0; !stop.load(); note = (note + 1) % 128) {
                ASSERT_TRUE(engine.recordMidiNoteOn(note, 0.5f, note));
                ASSERT_TRUE(engine.recordMidiNoteOff(note, 0.5f, note + 10));
            }
        });
        engine.deviceStarted();
        std::atomic<int> silentBlocks{0};
        std::atomic<int> blocks{0};
        std::atomic<bool> deviceStop{false};
        std::thread device([&] {
            StereoOutput out(128);
            // The device renders until it is stopped, as a real one does: recording requests
            // wait for it to take them.
            while (!deviceStop.load()) {
                out.render(engine);
                if (blocks.fetch_add(1) < 16 && silent(out)) silentBlocks.fetch_add(1);
            }
        });
        while (blocks.load() < 16)
            std::this_thread::yield();
        stop.store(true);
        recorder.join();
        deviceStop.store(true);
        device.join();
        engine.deviceStopped();
        ASSERT_EQ(silentBlocks.load(), 0) << "start " << start;
    }
}

// An export owns the engine for its whole length; a device thread calling all the while never
// takes a block from it, so every export equals the first.
TEST(EngineThreads, AnExportNeverLosesABlockToADevice) {
    Engine engine;
    engine.prepareToPlay(48000, 128);
    addSteadyTrack(engine);
    auto exportOnce = [&engine] {
        std::vector<float> rendered;
        StereoOutput out(128);
        EXPECT_TRUE(engine.beginOfflineRender(1000));
        for (int block = 0; block < 32; ++block) {
            engine.processBlockOffline(out.channels.data(), 2, 128);
            rendered.insert(rendered.end(), out.left.begin(), out.left.end());
        }
        engine.endOfflineRender();
        return rendered;
    };
    const std::vector<float> reference = exportOnce();
    ASSERT_NE(reference[0], 0.0f);

    engine.deviceStarted();
    std::atomic<bool> stop{false};
    std::thread device([&] {
        StereoOutput out(128);
        while (!stop.load())
            out.render(engine);
    });
    for (int round = 0; round < 100; ++round)
        ASSERT_EQ(exportOnce(), reference) << "export " << round;
    stop.store(true);
    device.join();
    engine.deviceStopped();
}
