#include "core/commands/ImportMidiCommand.h"
#include "core/commands/InstrumentCommands.h"
#include "core/engine/tests/RenderRig.h"
#include "core/midifile/MidiFile.h"
#include "core/stock/GmPlayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/wait.h>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 48000.0;
constexpr int32_t ticksPerQuarter = 480;
/// 120 BPM: a quarter is half a second.
constexpr double secondsPerTick = 0.5 / ticksPerQuarter;

struct PartNote {
    int32_t tick;
    int32_t pitch;
    int32_t length;
};

/// One part of the song: a channel, its program and notes spaced so that each note's start
/// stands out of the last one's tail.
struct Part {
    const char *name;
    int channel;
    int program;
    std::vector<PartNote> notes;
};

std::vector<Part> songParts() {
    const auto spaced = [](std::vector<int32_t> pitches, int32_t offset) {
        std::vector<PartNote> notes;
        for (std::size_t i = 0; i < pitches.size(); ++i)
            notes.push_back({offset + static_cast<int32_t>(i) * 3 * ticksPerQuarter, pitches[i],
                             ticksPerQuarter / 2});
        return notes;
    };
    return {{"Piano", 0, 0, spaced({60, 64, 67, 72}, 0)},
            {"Bass", 1, 33, spaced({36, 43, 41, 31}, 37)},
            {"Strings", 2, 48, spaced({55, 60, 62, 67}, 101)},
            {"Drums", 9, 0, spaced({36, 38, 42, 49}, 211)}};
}

void putVariable(std::vector<uint8_t> &out, uint32_t value) {
    uint8_t bytes[4];
    int count = 0;
    do {
        bytes[count++] = value & 0x7F;
        value >>= 7;
    } while (value);
    while (count-- > 0)
        out.push_back(static_cast<uint8_t>(bytes[count] | (count ? 0x80 : 0)));
}

void putChunk(std::vector<uint8_t> &file, const char *kind, const std::vector<uint8_t> &body) {
    file.insert(file.end(), kind, kind + 4);
    const auto size = static_cast<uint32_t>(body.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        file.push_back(static_cast<uint8_t>(size >> shift));
    file.insert(file.end(), body.begin(), body.end());
}

/// A format 1 General MIDI file of `parts`, with a program change before each part's notes
/// and the end two seconds past the last note, so that every tail is rendered.
std::vector<uint8_t> generalMidiFile(const std::vector<Part> &parts) {
    std::vector<uint8_t> file;
    putChunk(file, "MThd",
             {0, 1, 0, static_cast<uint8_t>(parts.size() + 1), ticksPerQuarter >> 8,
              ticksPerQuarter & 0xFF});
    int32_t last = 0;
    for (const Part &part : parts)
        for (const PartNote &note : part.notes)
            last = std::max(last, note.tick + note.length);
    std::vector<uint8_t> conductor;
    putVariable(conductor, 0);
    conductor.insert(conductor.end(), {0xFF, 0x51, 3, 0x07, 0xA1, 0x20}); // 500000 us
    putVariable(conductor, static_cast<uint32_t>(last + 4 * ticksPerQuarter));
    conductor.insert(conductor.end(), {0xFF, 0x2F, 0});
    putChunk(file, "MTrk", conductor);
    for (const Part &part : parts) {
        struct Event {
            int32_t tick;
            std::vector<uint8_t> bytes;
        };
        std::vector<Event> events;
        const auto channel = static_cast<uint8_t>(part.channel);
        events.push_back({0, {static_cast<uint8_t>(0xC0 | channel), uint8_t(part.program)}});
        for (const PartNote &note : part.notes) {
            events.push_back(
                {note.tick, {static_cast<uint8_t>(0x90 | channel), uint8_t(note.pitch), 100}});
            events.push_back({note.tick + note.length,
                              {static_cast<uint8_t>(0x80 | channel), uint8_t(note.pitch), 0}});
        }
        std::stable_sort(events.begin(), events.end(),
                         [](const Event &a, const Event &b) { return a.tick < b.tick; });
        std::vector<uint8_t> body;
        int32_t at = 0;
        for (const Event &event : events) {
            putVariable(body, static_cast<uint32_t>(event.tick - at));
            at = event.tick;
            body.insert(body.end(), event.bytes.begin(), event.bytes.end());
        }
        putVariable(body, 0);
        body.insert(body.end(), {0xFF, 0x2F, 0});
        putChunk(file, "MTrk", body);
    }
    return file;
}

/// The reference: the library's own command-line player rendering the file faster than
/// real time, reverb and chorus off as in the player, raw 32-bit float frames.
std::vector<float> referenceRender(const fs::path &midi, const fs::path &raw) {
    const std::string command = "fluidsynth -ni -q -T raw -O float -r 48000 -R 0 -C 0 -F '" +
                                raw.string() + "' '" + stock::defaultGmFontPath() + "' '" +
                                midi.string() + "' > /dev/null 2>&1";
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    std::ifstream in(raw, std::ios::binary);
    std::vector<float> interleaved(fs::file_size(raw) / sizeof(float));
    in.read(reinterpret_cast<char *>(interleaved.data()),
            static_cast<std::streamsize>(interleaved.size() * sizeof(float)));
    std::vector<float> left;
    for (std::size_t i = 0; i < interleaved.size(); i += 2)
        left.push_back(interleaved[i]);
    return left;
}

/// The file imported as the window and the headless verb import it, played from the start.
std::vector<float> halvoraRender(const fs::path &midi, std::size_t frames) {
    midifile::MidiFile file;
    std::string error;
    EXPECT_TRUE(midifile::readMidiFileAt(midi.string(), file, error)) << error;
    RenderRig rig;
    rig.edit([&](Project &project) {
        ImportMidiCommand import(midifile::planMidiImport(file, project, true), 0);
        import.redo(project);
        for (const auto &track : project.tracks)
            track->eq.enabled = false;
    });
    return rig.playFrames(0, static_cast<int64_t>(frames))[0];
}

/// Where each note's sound first reaches a tenth of its own peak, searched from a little
/// before its written start, in seconds.
std::vector<double> onsets(const std::vector<float> &left, const Part &part) {
    std::vector<double> found;
    for (const PartNote &note : part.notes) {
        const auto start = static_cast<std::size_t>(note.tick * secondsPerTick * rate);
        const std::size_t from = start - std::min<std::size_t>(start, 480);
        const std::size_t to = std::min(left.size(), start + 24000);
        float peak = 0.0f;
        for (std::size_t i = from; i < to; ++i)
            peak = std::max(peak, std::abs(left[i]));
        std::size_t at = from;
        while (at < to && std::abs(left[at]) < 0.1f * peak)
            ++at;
        found.push_back(static_cast<double>(at) / rate);
    }
    return found;
}

/// Energy in third-octave bands from 100 Hz to 16 kHz, in dB, from a Hann-windowed DFT of
/// 8192-frame slices (a Goertzel sum per bin would be slow; a plain DFT on a decimated bin
/// grid is enough for band energies).
std::vector<double> bandLevels(const std::vector<float> &signal) {
    constexpr std::size_t size = 8192;
    std::vector<double> bins(size / 2, 0.0);
    std::vector<double> cosine(size), sine(size);
    for (std::size_t n = 0; n < size; ++n) {
        cosine[n] = std::cos(2.0 * M_PI * static_cast<double>(n) / size);
        sine[n] = std::sin(2.0 * M_PI * static_cast<double>(n) / size);
    }
    for (std::size_t start = 0; start + size <= signal.size(); start += size) {
        std::vector<double> windowed(size);
        for (std::size_t n = 0; n < size; ++n)
            windowed[n] = signal[start + n] * (0.5 - 0.5 * cosine[n]);
        // Every fourth bin: bands are several bins wide from 50 Hz up.
        for (std::size_t k = 4; k < size / 2; k += 4) {
            double re = 0.0, im = 0.0;
            for (std::size_t n = 0; n < size; ++n) {
                const std::size_t phase = (k * n) % size;
                re += windowed[n] * cosine[phase];
                im -= windowed[n] * sine[phase];
            }
            bins[k] += re * re + im * im;
        }
    }
    std::vector<double> levels;
    for (double low = 100.0; low < 16000.0; low *= std::pow(2.0, 1.0 / 3.0)) {
        const double high = low * std::pow(2.0, 1.0 / 3.0);
        double energy = 0.0;
        for (std::size_t k = 4; k < bins.size(); k += 4) {
            const double hz = static_cast<double>(k) * rate / size;
            if (hz >= low && hz < high) energy += bins[k];
        }
        levels.push_back(10.0 * std::log10(energy + 1e-20));
    }
    return levels;
}

double rmsOf(const std::vector<float> &signal, std::size_t frames) {
    double sum = 0.0;
    for (std::size_t i = 0; i < frames && i < signal.size(); ++i)
        sum += double(signal[i]) * signal[i];
    return std::sqrt(sum / static_cast<double>(frames));
}

TEST(GmRenderTest, ImportedGeneralMidiPartsSoundAsTheLibrarysOwnPlayerRendersThem) {
    if (stock::defaultGmFontPath().empty()) GTEST_SKIP() << "General MIDI font not installed";
    if (std::system("fluidsynth --version > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "fluidsynth not installed";
    const fs::path dir = fs::temp_directory_path() / "halvora-gm-render";
    fs::create_directories(dir);
    for (const Part &part : songParts()) {
        SCOPED_TRACE(part.name);
        const fs::path midi = dir / (std::string(part.name) + ".mid");
        const std::vector<uint8_t> bytes = generalMidiFile({part});
        std::ofstream(midi, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        const std::vector<float> reference = referenceRender(midi, dir / "reference.raw");
        ASSERT_GT(reference.size(), 48000u);
        const std::vector<float> ours = halvoraRender(midi, reference.size());
        ASSERT_EQ(ours.size(), reference.size());

        // Both quantise a note's start to the library's 64-frame internal blocks (1.3 ms at
        // 48 kHz), counted from the first rendered frame: a few milliseconds is all timing
        // may differ by, and more means a note was moved.
        const std::vector<double> expected = onsets(reference, part);
        const std::vector<double> actual = onsets(ours, part);
        for (std::size_t i = 0; i < expected.size(); ++i)
            EXPECT_NEAR(actual[i], expected[i], 0.003) << "note " << i;

        // The same samples through the same voices: the level differs by the track's fader
        // gain alone (the rig's default fader, about +1 dB). Half a decibel allows for a tail
        // cut at a different frame and a voice started one internal block apart.
        const double gainDb = 20.0 * std::log10(RenderRig::defaultFader);
        const double levelDb =
            20.0 * std::log10(rmsOf(ours, ours.size()) / rmsOf(reference, reference.size()));
        EXPECT_NEAR(levelDb, gainDb, 0.5);
        // Per third-octave band within 1 dB where the band carries the part's sound (within
        // 40 dB of its loudest band); a wrong program or bank moves bands by far more.
        const std::vector<double> ourBands = bandLevels(ours);
        const std::vector<double> referenceBands = bandLevels(reference);
        const double loudest = *std::max_element(referenceBands.begin(), referenceBands.end());
        for (std::size_t b = 0; b < ourBands.size(); ++b)
            if (referenceBands[b] > loudest - 40.0) {
                EXPECT_NEAR(ourBands[b] - referenceBands[b], gainDb, 1.0) << "band " << b;
            }
    }
    fs::remove_all(dir);
}

TEST(GmRenderTest, ImportGivesEachPartItsProgramAndChannelTenItsDrums) {
    const fs::path dir = fs::temp_directory_path() / "halvora-gm-import";
    fs::create_directories(dir);
    const fs::path midi = dir / "song.mid";
    const std::vector<uint8_t> bytes = generalMidiFile(songParts());
    std::ofstream(midi, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    midifile::MidiFile file;
    std::string error;
    ASSERT_TRUE(midifile::readMidiFileAt(midi.string(), file, error)) << error;
    Project project;
    const midifile::MidiImport plan = midifile::planMidiImport(file, project, true);
    const std::vector<Part> parts = songParts();
    ASSERT_EQ(plan.tracks.size(), parts.size());
    for (std::size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(plan.tracks[i].instrument, gmInstrumentId);
        stock::GmSettings settings;
        ASSERT_TRUE(stock::readGmStateText(plan.tracks[i].instrumentState, settings, &error));
        EXPECT_EQ(settings.program, parts[i].program) << parts[i].name;
        EXPECT_EQ(settings.drums, parts[i].channel == 9) << parts[i].name;
    }
    fs::remove_all(dir);
}

} // namespace

namespace {

float peakOf(const std::vector<float> &samples) {
    float peak = 0.0f;
    for (float sample : samples)
        peak = std::max(peak, std::abs(sample));
    return peak;
}

TEST(GmRenderTest, ADamagedFontLeavesTheTrackAsItWas) {
    const fs::path dir = fs::temp_directory_path() / "halvora-gm-damaged";
    fs::create_directories(dir);
    const fs::path damaged = dir / "damaged.sf2";
    std::ofstream(damaged, std::ios::binary)
        << std::string("RIFF\x10\0\0\0sfbkLIST", 16) + std::string(40, '\xFF');

    RenderRig rig;
    auto track = rig.addTrack(TrackType::Midi);
    rig.edit([&](Project &project) {
        track->instrument = std::string(synthInstrumentId);
        auto clip = project.addClip(track->id, ClipKind::Midi);
        clip->length = 48000;
        MidiNote note;
        note.pitch = 69;
        note.start = 0;
        note.length = 24000;
        clip->notes = {note};
    });
    const std::vector<float> before = rig.playFrames(0, 24000)[0];
    ASSERT_GT(peakOf(before), 1e-3f);

    std::string error;
    EXPECT_FALSE(makeGmInstrumentCommand(track->id,
                                         stock::GmSettings{damaged.string(), 0, 0, false}, error));
    EXPECT_NE(error.find("could not be read"), std::string::npos) << error;
    EXPECT_EQ(track->instrument, synthInstrumentId);

    // Stored anyway (a project from elsewhere): the notes still sound, on the synth.
    rig.edit([&](Project &) {
        track->instrument = std::string(gmInstrumentId);
        track->instrumentState = stock::writeGmStateText({damaged.string(), 0, 0, false});
    });
    const std::vector<float> fallback = rig.playFrames(0, 24000)[0];
    EXPECT_GT(peakOf(fallback), 1e-3f);
    fs::remove_all(dir);
}

} // namespace
