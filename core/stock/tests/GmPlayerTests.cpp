#include "core/stock/GmPlayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <vector>

// The library under the player is C: its allocations go through malloc, which the project's
// counter (operator new) does not see. Sanitizer builds interpose malloc themselves.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define HALVORA_COUNT_MALLOC 1
extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void __libc_free(void *);
}
namespace {
thread_local bool countingMalloc = false;
thread_local uint64_t mallocCalls = 0;
} // namespace
extern "C" {
void *malloc(std::size_t size) {
    if (countingMalloc) ++mallocCalls;
    return __libc_malloc(size);
}
void *calloc(std::size_t count, std::size_t size) {
    if (countingMalloc) ++mallocCalls;
    return __libc_calloc(count, size);
}
void *realloc(void *memory, std::size_t size) {
    if (countingMalloc) ++mallocCalls;
    return __libc_realloc(memory, size);
}
void free(void *memory) { __libc_free(memory); }
}
#endif

namespace orvane::stock {
namespace {

constexpr double rate = 48000.0;

std::shared_ptr<const SoundFont> gmFont() {
    std::string error;
    auto font = SoundFont::load("", error);
    return font;
}

#define REQUIRE_GM_FONT()                                                                          \
    if (defaultGmFontPath().empty()) GTEST_SKIP() << "General MIDI sound font not installed"

struct Stereo {
    std::vector<float> left, right;
};

/// `seconds` of one key held from the first frame, rendered in blocks of `block` frames.
Stereo renderNote(GmPlayer &player, int pitch, double seconds, int block = 256) {
    const auto frames = static_cast<std::size_t>(seconds * rate);
    Stereo out{std::vector<float>(frames), std::vector<float>(frames)};
    player.noteOn(pitch, 100.0f / 127.0f);
    for (std::size_t at = 0; at < frames; at += static_cast<std::size_t>(block)) {
        const int count = static_cast<int>(std::min<std::size_t>(block, frames - at));
        player.process(out.left.data() + at, out.right.data() + at, count);
    }
    return out;
}

/// The strongest frequency between `low` and `high` Hz: a Hann-windowed DFT evaluated on a
/// fine grid around the coarse peak, refined by a parabola through the log magnitudes.
double peakFrequency(const std::vector<float> &signal, std::size_t from, std::size_t count,
                     double low, double high) {
    const auto magnitudeAt = [&](double hz) {
        std::complex<double> sum;
        const double step = 2.0 * std::numbers::pi * hz / rate;
        for (std::size_t i = 0; i < count; ++i) {
            const double window =
                0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                     static_cast<double>(count - 1));
            sum += window * signal[from + i] * std::polar(1.0, -step * static_cast<double>(i));
        }
        return std::abs(sum);
    };
    double best = low;
    double bestMagnitude = -1.0;
    const double coarse = rate / static_cast<double>(count) / 4.0;
    for (double hz = low; hz <= high; hz += coarse) {
        const double magnitude = magnitudeAt(hz);
        if (magnitude > bestMagnitude) {
            bestMagnitude = magnitude;
            best = hz;
        }
    }
    double step = coarse;
    for (int round = 0; round < 12; ++round) {
        const double a = std::log(magnitudeAt(best - step) + 1e-30);
        const double b = std::log(magnitudeAt(best) + 1e-30);
        const double c = std::log(magnitudeAt(best + step) + 1e-30);
        const double denominator = a - 2.0 * b + c;
        const double offset = denominator < 0.0 ? 0.5 * (a - c) / denominator : 0.0;
        best += std::clamp(offset, -1.0, 1.0) * step;
        step *= 0.5;
    }
    return best;
}

double cents(double measured, double expected) { return 1200.0 * std::log2(measured / expected); }

double rms(const std::vector<float> &signal, std::size_t from, std::size_t count) {
    double sum = 0.0;
    for (std::size_t i = from; i < from + count && i < signal.size(); ++i)
        sum += double(signal[i]) * signal[i];
    return std::sqrt(sum / static_cast<double>(count));
}

TEST(GmPlayerTest, StateTextRoundTripsAndRefusesBadValues) {
    const GmSettings settings{"/fonts/a b.sf2", 8, 33, true};
    GmSettings read;
    std::string error;
    ASSERT_TRUE(readGmStateText(writeGmStateText(settings), read, &error)) << error;
    EXPECT_EQ(read, settings);

    GmSettings kept{"", 0, 5, false};
    EXPECT_FALSE(readGmStateText("program=128\n", kept, &error));
    EXPECT_NE(error.find("program"), std::string::npos);
    EXPECT_FALSE(readGmStateText("drums=yes\n", kept, &error));
    EXPECT_EQ(kept.program, 5) << "a state that does not read leaves the settings alone";
    // A later version's settings are passed over.
    ASSERT_TRUE(readGmStateText("program=40\nlayer=2\n", kept, &error));
    EXPECT_EQ(kept.program, 40);
}

TEST(GmPlayerTest, PlaysConcertAAtFourHundredForty) {
    REQUIRE_GM_FONT();
    auto font = gmFont();
    ASSERT_TRUE(font);
    GmPlayer piano(font, GmSettings{"", 0, 0, false}, rate);
    ASSERT_TRUE(piano.ready());
    EXPECT_EQ(piano.program(), 0);
    const Stereo out = renderNote(piano, 69, 1.5);
    // Half a second in, past the hammer's noise, a second of the held note.
    const double hz = peakFrequency(out.left, 24000, 48000, 400.0, 480.0);
    EXPECT_NEAR(cents(hz, 440.0), 0.0, 1.0) << hz;
    // The pitch holds at another device rate: the samples are resampled, not replayed.
    const double otherRate = 44100.0;
    GmPlayer slower(font, GmSettings{"", 0, 0, false}, otherRate);
    const Stereo other = renderNote(slower, 69, 1.5);
    const double otherHz = peakFrequency(other.left, 22050, 44100, 400.0, 480.0) * otherRate / rate;
    EXPECT_NEAR(cents(otherHz, hz), 0.0, 0.2) << otherHz;
    // An octave up is an octave up, give or take the font's stretched piano tuning.
    GmPlayer high(font, GmSettings{"", 0, 0, false}, rate);
    const Stereo octave = renderNote(high, 81, 1.5);
    EXPECT_NEAR(cents(peakFrequency(octave.left, 24000, 48000, 840.0, 920.0), 880.0), 0.0, 5.0);
}

TEST(GmPlayerTest, DrumPartPlaysThePercussionBank) {
    REQUIRE_GM_FONT();
    auto font = gmFont();
    GmPlayer drums(font, GmSettings{"", 0, 0, true}, rate);
    GmPlayer piano(font, GmSettings{"", 0, 0, false}, rate);
    ASSERT_TRUE(drums.ready());
    EXPECT_EQ(drums.bank(), gmDrumBank);
    // Key 42 is the closed hi-hat in the percussion bank and a held F#2 on the piano.
    const Stereo hat = renderNote(drums, 42, 1.0);
    const Stereo tone = renderNote(piano, 42, 1.0);
    const std::size_t attack = 4800; // the first 100 ms
    ASSERT_GT(rms(hat.left, 0, attack), 1e-3);
    ASSERT_GT(rms(tone.left, 0, attack), 1e-3);
    // Percussive: the hat is gone within half a second while the held piano key still sounds.
    EXPECT_LT(rms(hat.left, 24000, 4800), 0.01 * rms(hat.left, 0, attack));
    EXPECT_GT(rms(tone.left, 24000, 4800), 0.1 * rms(tone.left, 0, attack));
    // Not pitched: the piano's energy sits at its fundamental (92.5 Hz) and harmonics, the
    // hat's mostly above 5 kHz, where the piano has little.
    const auto highShare = [](const std::vector<float> &signal) {
        double all = 0.0, high = 0.0, previous = 0.0;
        for (std::size_t i = 0; i < 4800; ++i) {
            const double difference = signal[i] - previous; // a first difference lifts highs
            previous = signal[i];
            high += difference * difference;
            all += double(signal[i]) * signal[i];
        }
        return high / std::max(all, 1e-30);
    };
    EXPECT_GT(highShare(hat.left), 20.0 * highShare(tone.left));
}

TEST(GmPlayerTest, AddsIntoTheBuffersItIsGiven) {
    REQUIRE_GM_FONT();
    auto font = gmFont();
    GmPlayer a(font, GmSettings{"", 0, 0, false}, rate);
    GmPlayer b(font, GmSettings{"", 0, 0, false}, rate);
    a.noteOn(60, 0.8f);
    b.noteOn(60, 0.8f);
    std::vector<float> alone(4096), leftA(4096), onTop(4096, 0.25f), right(4096);
    a.process(alone.data(), leftA.data(), 4096);
    b.process(onTop.data(), right.data(), 4096);
    double largest = 0.0;
    for (std::size_t i = 0; i < alone.size(); ++i) {
        EXPECT_NEAR(onTop[i], alone[i] + 0.25f, 1e-6) << i;
        largest = std::max(largest, double(std::abs(alone[i])));
    }
    EXPECT_GT(largest, 1e-3);
}

TEST(GmPlayerTest, ADamagedFontIsRefusedWithAReason) {
    const auto dir = std::filesystem::temp_directory_path() / "halvora-gm-bad-fonts";
    std::filesystem::create_directories(dir);
    const auto write = [&dir](const char *name, const std::string &bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return (dir / name).string();
    };
    std::string error;
    EXPECT_FALSE(SoundFont::load(write("text.sf2", "not a sound font at all"), error));
    EXPECT_NE(error.find("Not a SoundFont 2 file"), std::string::npos) << error;
    EXPECT_FALSE(SoundFont::load((dir / "missing.sf2").string(), error));
    EXPECT_NE(error.find("not found"), std::string::npos) << error;

    // A valid header whose chunk sizes reach far past the end of the file.
    std::string hostile = "RIFF";
    hostile += std::string("\xF0\xFF\xFF\x7F", 4) + "sfbk" + "LIST" +
               std::string("\xFF\xFF\xFF\x7F", 4) + "INFOifil" + std::string(4, '\xFF');
    hostile += std::string(64, '\x7F');
    error.clear();
    EXPECT_FALSE(SoundFont::load(write("hostile.sf2", hostile), error));
    EXPECT_NE(error.find("could not be read"), std::string::npos) << error;

    // The real font cut to a tenth: its sample chunk ends early.
    if (!defaultGmFontPath().empty()) {
        std::ifstream in(defaultGmFontPath(), std::ios::binary);
        std::string head(200000, '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        error.clear();
        EXPECT_FALSE(SoundFont::load(write("cut.sf2", head), error));
        EXPECT_FALSE(error.empty());
    }
    // A player made from nothing stays silent rather than failing later.
    GmPlayer silent(nullptr, GmSettings{}, rate);
    EXPECT_FALSE(silent.ready());
    std::vector<float> left(64), right(64);
    silent.noteOn(60, 1.0f);
    silent.process(left.data(), right.data(), 64);
    EXPECT_TRUE(std::all_of(left.begin(), left.end(), [](float v) { return v == 0.0f; }));
    std::filesystem::remove_all(dir);
}

// The list a window offers: the General MIDI font holds every melodic program in bank 0 and
// drum kits in bank 128, each named, in bank and program order.
TEST(GmPlayerTest, TheFontListsItsPresetsByBankAndProgram) {
    REQUIRE_GM_FONT();
    const auto font = gmFont();
    ASSERT_TRUE(font);
    const std::vector<SoundFontPreset> &presets = font->presets();
    std::vector<int32_t> melodic;
    bool drumKit = false;
    for (std::size_t i = 0; i < presets.size(); ++i) {
        EXPECT_FALSE(presets[i].name.empty()) << presets[i].bank << ":" << presets[i].program;
        if (i > 0) {
            EXPECT_LT(std::pair(presets[i - 1].bank, presets[i - 1].program),
                      std::pair(presets[i].bank, presets[i].program));
        }
        if (presets[i].bank == 0) melodic.push_back(presets[i].program);
        drumKit = drumKit || (presets[i].bank == gmDrumBank && presets[i].program == 0);
    }
    ASSERT_EQ(melodic.size(), 128u);
    EXPECT_EQ(melodic.front(), 0);
    EXPECT_EQ(melodic.back(), 127);
    EXPECT_TRUE(drumKit);
}

TEST(GmPlayerTest, ManyPlayersShareOneLoadOfTheFont) {
    REQUIRE_GM_FONT();
    const auto dir = std::filesystem::temp_directory_path() / "halvora-gm-links";
    std::filesystem::create_directories(dir);
    const auto link = dir / "same-font.sf2";
    std::filesystem::remove(link);
    std::filesystem::create_symlink(defaultGmFontPath(), link);

    auto first = gmFont();
    ASSERT_TRUE(first);
    const uint64_t loads = SoundFont::loadCount();
    std::vector<std::unique_ptr<GmPlayer>> players;
    for (int32_t track = 0; track < 16; ++track) {
        std::string error;
        // Every other track names the font through a link: one file, one load.
        auto font = SoundFont::load(track % 2 ? link.string() : defaultGmFontPath(), error);
        ASSERT_TRUE(font) << error;
        EXPECT_EQ(font.get(), first.get());
        players.push_back(
            std::make_unique<GmPlayer>(font, GmSettings{"", 0, track * 8, track == 9}, rate));
        EXPECT_TRUE(players.back()->ready());
    }
    EXPECT_EQ(SoundFont::loadCount(), loads);
    std::filesystem::remove_all(dir);
}

TEST(GmPlayerTest, NotesAndRenderingDoNotAllocate) {
#ifndef HALVORA_COUNT_MALLOC
    GTEST_SKIP() << "the sanitizer owns malloc";
#else
    REQUIRE_GM_FONT();
    auto font = gmFont();
    GmPlayer player(font, GmSettings{"", 0, 48, false}, rate);
    ASSERT_TRUE(player.ready());
    std::vector<float> left(256), right(256);
    // Warm-up: the first use of each code path may set up what it keeps.
    player.noteOn(60, 0.5f);
    player.process(left.data(), right.data(), 256);
    player.noteOff(60);
    player.process(left.data(), right.data(), 256);

    countingMalloc = true;
    mallocCalls = 0;
    void *volatile probe = std::malloc(8); // the counter sees C allocations
    std::free(probe);
    ASSERT_EQ(mallocCalls, 1u);
    mallocCalls = 0;
    int sounding = 0;
    for (int block = 0; block < 400; ++block) {
        // A chord a block, up to far more keys than voices, with odd block lengths.
        for (int key = 0; key < 6; ++key)
            player.noteOn(30 + (block * 7 + key * 5) % 70, 0.7f);
        if (block % 3 == 0)
            for (int key = 0; key < 6; ++key)
                player.noteOff(30 + (block * 5 + key * 7) % 70);
        player.process(left.data(), right.data(), 64 + block % 193);
        sounding = std::max(sounding, player.activeVoiceCount());
    }
    player.allNotesOff();
    player.process(left.data(), right.data(), 256);
    player.allSoundOff();
    player.process(left.data(), right.data(), 256);
    countingMalloc = false;
    EXPECT_EQ(mallocCalls, 0u);
    EXPECT_GT(sounding, GmPlayer::polyphony / 2) << "the voice pool was not put under strain";
#endif
}

} // namespace
} // namespace orvane::stock
