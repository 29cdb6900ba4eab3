#include "core/engine/tests/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

using namespace orvane;
using namespace orvane::testing;

namespace {

/// One random edit of the live project, the kind commands make during playback.
void editProject(Engine &engine, std::mt19937 &random) {
    std::lock_guard lock(engine.projectMutex);
    Project &project = engine.project;
    const int choice = static_cast<int>(random() % 6);
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

TEST(EngineThreads, RequestsFromEveryProducerArriveInOrderWhileTheProjectIsEdited) {
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

    std::thread audio([&] {
        StereoOutput out(256);
        // Keep rendering until every producer is done and both rings are empty.
        int quietBlocks = 0;
        while (quietBlocks < 4) {
            out.render(engine);
            if (producersDone) ++quietBlocks;
        }
        audioDone = true;
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
    consumeNotifications();
    engine.collectRetiredGraphs();

    ASSERT_EQ(notificationValues.size(), static_cast<std::size_t>(transportAccepted));
    for (std::size_t i = 0; i < notificationValues.size(); ++i)
        ASSERT_EQ(notificationValues[i], i % 2 == 0 ? 1.0f : 0.0f) << "request " << i;
    for (std::size_t note = 0; note < 128; ++note)
        EXPECT_EQ(engine.notePressure[note], lastPressureSent[note]) << note;
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
        ASSERT_TRUE(engine.beginMidiRecording(engine.playhead.load()));
        for (int note = 0; note < 10; ++note) {
            // The MIDI thread's keys: each held for a little while, then released.
            while (!engine.pushRequest(RequestProducer::MidiInput,
                                       request(RequestType::midiNoteOn, 40 + note, 0.6)))
                std::this_thread::yield();
            const int64_t pressedAt = engine.playhead.load();
            while (engine.playhead.load() < pressedAt + 256)
                std::this_thread::yield();
            while (!engine.pushRequest(RequestProducer::MidiInput,
                                       request(RequestType::midiNoteOff, 40 + note)))
                std::this_thread::yield();
        }
        const int64_t last = engine.playhead.load();
        while (engine.playhead.load() < last + 512)
            std::this_thread::yield();
        const auto notes = engine.endMidiRecording(engine.playhead.load());
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
