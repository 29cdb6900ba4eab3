#pragma once

#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/Lv2World.h"
#include "core/plugins/lv2/testplugins/AtomAnswerUris.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <sndfile.h>
#include <string>
#include <utility>
#include <vector>

namespace orvane::lv2::testing {

inline constexpr const char *x42Equalizer = "http://gareus.org/oss/lv2/fil4#stereo";
inline constexpr const char *x42EqualizerMono = "http://gareus.org/oss/lv2/fil4#mono";
inline constexpr const char *x42Limiter = "http://gareus.org/oss/lv2/dpl#stereo";
inline constexpr const char *x42Compressor = "http://gareus.org/oss/lv2/darc#stereo";
inline constexpr const char *lspCompressor = "http://lsp-plug.in/plugins/lv2/compressor_stereo";
inline constexpr const char *calfReverb = "http://calf.sourceforge.net/plugins/Reverb";
inline constexpr const char *calfFilter = "http://calf.sourceforge.net/plugins/Filter";
inline constexpr const char *calfMonosynth = "http://calf.sourceforge.net/plugins/Monosynth";
inline constexpr const char *eq10qEqualizer = "http://eq10q.sourceforge.net/eq/eq6qs";

inline constexpr double sampleRate = 48000.0;
inline constexpr int blockSize = 512;

using ControlValues = std::vector<std::pair<std::string, float>>;

/// Two channels, not interleaved.
struct StereoSignal {
    std::vector<float> left, right;
    size_t frames() const { return left.size(); }
};

/// Two different tones with a little deterministic noise on top: enough content that EQ bands,
/// compressors and reverbs all change it.
inline StereoSignal testSignal(size_t frames) {
    StereoSignal signal{std::vector<float>(frames), std::vector<float>(frames)};
    uint32_t seed = 12345;
    for (size_t i = 0; i < frames; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const float noise = (static_cast<float>(seed >> 8) / 16777216.0f - 0.5f) * 0.05f;
        const double t = static_cast<double>(i) / sampleRate;
        signal.left[i] = static_cast<float>(0.4 * std::sin(2.0 * M_PI * 220.0 * t)) + noise;
        signal.right[i] = static_cast<float>(0.3 * std::sin(2.0 * M_PI * 1000.0 * t)) - noise;
    }
    return signal;
}

inline void setControls(Lv2Plugin &plugin, const ControlValues &values) {
    for (const auto &[symbol, value] : values) {
        const int index = plugin.parameterIndex(symbol);
        ASSERT_GE(index, 0) << symbol;
        ASSERT_TRUE(plugin.setParameterValue(static_cast<size_t>(index), value)) << symbol;
    }
}

/// The signal through the plug-in in blocks of `blockSize`.
inline StereoSignal renderThrough(Lv2Plugin &plugin, StereoSignal signal) {
    for (size_t offset = 0; offset < signal.frames(); offset += blockSize) {
        const int frames = static_cast<int>(std::min<size_t>(blockSize, signal.frames() - offset));
        EXPECT_TRUE(
            plugin.process(signal.left.data() + offset, signal.right.data() + offset, frames));
    }
    return signal;
}

inline bool writeFloatWav(const std::string &path, const StereoSignal &signal) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate);
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    std::vector<float> interleaved(signal.frames() * 2);
    for (size_t i = 0; i < signal.frames(); ++i) {
        interleaved[2 * i] = signal.left[i];
        interleaved[2 * i + 1] = signal.right[i];
    }
    const auto written =
        sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(signal.frames()));
    sf_close(file);
    return written == static_cast<sf_count_t>(signal.frames());
}

inline StereoSignal readFloatWav(const std::string &path) {
    SF_INFO info{};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file || info.channels != 2) {
        if (file) sf_close(file);
        return {};
    }
    std::vector<float> interleaved(static_cast<size_t>(info.frames) * 2);
    sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    StereoSignal signal{std::vector<float>(static_cast<size_t>(info.frames)),
                        std::vector<float>(static_cast<size_t>(info.frames))};
    for (size_t i = 0; i < signal.frames(); ++i) {
        signal.left[i] = interleaved[2 * i];
        signal.right[i] = interleaved[2 * i + 1];
    }
    return signal;
}

/// A scratch folder removed with the object.
struct ScratchFolder {
    std::filesystem::path path;
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "halvora-lv2-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~ScratchFolder() { std::filesystem::remove_all(path); }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;
};

/// The signal through `lv2file`, an independent offline host, with the same control values
/// and block size, after the installed preset labelled `preset` when one is named; empty when
/// it failed.
inline StereoSignal renderWithLv2file(const std::string &uri, const ControlValues &values,
                                      const StereoSignal &input, const std::string &preset = {}) {
    ScratchFolder scratch;
    const std::string in = (scratch.path / "in.wav").string();
    const std::string out = (scratch.path / "out.wav").string();
    if (!writeFloatWav(in, input)) return {};
    std::string command = "lv2file --ignore-clipping -b " + std::to_string(blockSize) + " -i '" +
                          in + "' -o '" + out + "'";
    if (!preset.empty()) command += " -P '" + preset + "'";
    for (const auto &[symbol, value] : values)
        command += " -p " + symbol + ":" + std::to_string(value);
    command += " '" + uri + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return {};
    return readFloatWav(out);
}

inline float largestDifference(const StereoSignal &a, const StereoSignal &b) {
    float largest = 0.0f;
    for (size_t i = 0; i < std::min(a.frames(), b.frames()); ++i)
        largest = std::max(
            {largest, std::fabs(a.left[i] - b.left[i]), std::fabs(a.right[i] - b.right[i])});
    return largest;
}

/// The test plug-in that answers atoms from its interface (see its source), made known to this
/// process's world; false when its bundle is missing.
inline bool loadAtomAnswerBundle() {
    std::lock_guard lock(Lv2World::lock());
    return Lv2World::instance().loadBundle(std::string(HALVORA_LV2_TEST_BUNDLES_DIR) +
                                           "/HalvoraAtomAnswer.lv2");
}

inline LV2_URID_Map &programUridMap() {
    static LV2_URID_Map map{
        nullptr, [](LV2_URID_Map_Handle, const char *uri) { return Lv2World::uridMap().map(uri); }};
    return map;
}

/// The atom the test plug-in's interface writes: an "Ask" object about `number`.
inline std::vector<uint8_t> atomAsking(int32_t number) {
    const AtomAnswerUrids urids = mapAtomAnswerUrids(programUridMap(), false);
    std::vector<uint8_t> buffer(256);
    buffer.resize(forgeAtomAsking(programUridMap(), urids, number, buffer.data(),
                                  static_cast<uint32_t>(buffer.size())));
    return buffer;
}

/// The number an "Answer" object from the test plug-in carries, if it is one.
inline std::optional<int32_t> answerIn(const uint8_t *atom, size_t size) {
    int32_t number = 0;
    if (!atomAnswerNumber(mapAtomAnswerUrids(programUridMap(), false), atom,
                          static_cast<uint32_t>(size), number))
        return std::nullopt;
    return number;
}

} // namespace orvane::lv2::testing
