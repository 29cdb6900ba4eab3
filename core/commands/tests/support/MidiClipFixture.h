#pragma once

#include "core/commands/tests/support/ClipFixtures.h"
#include "core/model/Project.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace orvane::testing {

inline MidiNote midiNote(int32_t pitch, int64_t start, int64_t length, float velocity = 0.8f) {
    MidiNote note;
    note.pitch = pitch;
    note.start = start;
    note.length = length;
    note.velocity = velocity;
    return note;
}

inline std::vector<int32_t> pitchesOf(const std::vector<MidiNote> &notes) {
    std::vector<int32_t> pitches;
    for (const MidiNote &note : notes)
        pitches.push_back(note.pitch);
    return pitches;
}

inline std::vector<int64_t> startsOf(const std::vector<MidiNote> &notes) {
    std::vector<int64_t> starts;
    for (const MidiNote &note : notes)
        starts.push_back(note.start);
    return starts;
}

/// A MIDI track holding one MIDI clip 1000 samples long at the song start, at 120 BPM and
/// 48000 Hz (one beat is 24000 samples).
class MidiClipTest : public ::testing::Test {
  protected:
    void SetUp() override {
        track = project.addTrack(TrackType::Midi, "");
        clip = placeClip(project, track->id, ClipKind::Midi, 0, 1000);
    }

    Project project;
    std::shared_ptr<Track> track;
    std::shared_ptr<Clip> clip;
};

} // namespace orvane::testing
