#include "core/stock/DrumSamples.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <new>
#include <numbers>
#include <string>
#include <unordered_map>

namespace orvane::stock {

namespace {

namespace fs = std::filesystem;
constexpr double pi = std::numbers::pi;
constexpr double rate = drumSynthesisRate;

/// The same noise on every machine: a 32-bit xorshift.
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed) {}
    double next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<double>(state) / 2147483648.0 - 1.0;
    }
};

/// A state-variable filter (trapezoidal), low, band and high pass out of one step.
struct Svf {
    double g, k, a1, a2, a3;
    double ic1 = 0.0, ic2 = 0.0;
    double low = 0.0, band = 0.0, high = 0.0;
    Svf(double hz, double q)
        : g(std::tan(pi * hz / rate)), k(1.0 / q), a1(1.0 / (1.0 + g * (g + k))), a2(g * a1),
          a3(g * a2) {}
    void step(double x) {
        const double v3 = x - ic2;
        const double v1 = a1 * ic1 + a2 * v3;
        const double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0 * v1 - ic1;
        ic2 = 2.0 * v2 - ic2;
        low = v2;
        band = v1;
        high = x - k * v1 - v2;
    }
};

double decay(double t, double seconds) { return std::exp(-t / seconds); }

/// A sine whose frequency glides from `start` towards `end` with time constant `glide`,
/// the body of kicks and toms.
struct Sweep {
    double start, end, glide, phase = 0.0;
    double next(double t) {
        const double hz = end + (start - end) * decay(t, glide);
        const double value = std::sin(2.0 * pi * phase);
        phase += hz / rate;
        phase -= std::floor(phase);
        return value;
    }
};

/// Six detuned square waves: the inharmonic ring of cymbals and hats.
struct Metal {
    std::array<double, 6> phases{};
    std::array<double, 6> hz;
    explicit Metal(double scale)
        : hz{205.3 * scale, 304.4 * scale, 369.6 * scale,
             522.7 * scale, 540.0 * scale, 800.0 * scale} {}
    double next() {
        double sum = 0.0;
        for (std::size_t i = 0; i < hz.size(); ++i) {
            sum += phases[i] < 0.5 ? 1.0 : -1.0;
            phases[i] += hz[i] / rate;
            phases[i] -= std::floor(phases[i]);
        }
        return sum / 6.0;
    }
};

double kick(double t, Sweep &body, Noise &noise, Svf &click) {
    click.step(noise.next());
    return body.next(t) * decay(t, 0.22) + 0.35 * click.low * decay(t, 0.004);
}

double snare(double t, Noise &noise, Svf &bright) {
    bright.step(noise.next());
    const double tone = 0.5 * std::sin(2.0 * pi * 185.0 * t) * decay(t, 0.06) +
                        0.3 * std::sin(2.0 * pi * 330.0 * t) * decay(t, 0.04);
    return tone + 0.9 * bright.high * decay(t, 0.12);
}

double rim(double t, Noise &noise, Svf &crack) {
    crack.step(noise.next());
    return std::sin(2.0 * pi * 1720.0 * t) * decay(t, 0.012) +
           0.6 * std::sin(2.0 * pi * 830.0 * t) * decay(t, 0.02) +
           0.8 * crack.band * decay(t, 0.004);
}

double clap(double t, Noise &noise, Svf &body) {
    body.step(noise.next());
    double envelope = 0.0;
    for (const double at : {0.0, 0.011, 0.022, 0.034})
        if (t >= at) envelope += decay(t - at, 0.006);
    if (t >= 0.034) envelope += 0.7 * decay(t - 0.034, 0.13);
    return body.band * envelope;
}

double cymbal(double t, Metal &metal, Noise &noise, Svf &ring, Svf &air, double length,
              double noiseLevel) {
    ring.step(metal.next());
    air.step(noise.next());
    return (ring.high + noiseLevel * air.high) * decay(t, length);
}

/// Runs `voice` for `seconds`, then trims the silent tail, fades the last millisecond and
/// scales the peak to 0.7.
template <typename Voice> DrumSample render(double seconds, Voice voice) {
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> mono(frames);
    double peak = 0.0;
    std::vector<double> values(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        values[i] = voice(static_cast<double>(i) / rate);
        peak = std::max(peak, std::abs(values[i]));
    }
    const double scale = peak > 0.0 ? 0.7 / peak : 0.0;
    std::size_t end = frames;
    while (end > 0 && std::abs(values[end - 1]) * scale < 1e-4)
        --end;
    const std::size_t fade = std::min<std::size_t>(end, static_cast<std::size_t>(rate / 1000));
    for (std::size_t i = 0; i < end; ++i) {
        const double tail = i + fade >= end ? static_cast<double>(end - i) / (fade + 1) : 1.0;
        mono[i] = static_cast<float>(values[i] * scale * tail);
    }
    mono.resize(end);
    DrumSample sample;
    sample.left = mono;
    sample.right = std::move(mono);
    sample.sampleRate = rate;
    return sample;
}

DrumSample tom(double hz, uint32_t seed) {
    return render(0.9, [body = Sweep{hz * 1.6, hz, 0.05}, noise = Noise(seed),
                        thump = Svf(600.0, 0.7)](double t) mutable {
        thump.step(noise.next());
        return body.next(t) * decay(t, 0.25) + 0.2 * thump.low * decay(t, 0.01);
    });
}

DrumSample hat(double length, double seconds, uint32_t seed) {
    return render(seconds, [metal = Metal(1.7), noise = Noise(seed), ring = Svf(7500.0, 0.9),
                            air = Svf(9000.0, 0.7), length](double t) mutable {
        return cymbal(t, metal, noise, ring, air, length, 0.8);
    });
}

} // namespace

DrumSample synthesiseDrumSound(DrumSound sound) {
    switch (sound) {
    case DrumSound::Kick:
        return render(0.8,
                      [body = Sweep{155.0, 48.0, 0.04}, noise = Noise(1), click = Svf(3000.0, 0.7)](
                          double t) mutable { return kick(t, body, noise, click); });
    case DrumSound::Snare:
        return render(0.6, [noise = Noise(2), bright = Svf(1500.0, 0.7)](double t) mutable {
            return snare(t, noise, bright);
        });
    case DrumSound::Rim:
        return render(0.2, [noise = Noise(3), crack = Svf(3200.0, 1.2)](double t) mutable {
            return rim(t, noise, crack);
        });
    case DrumSound::Clap:
        return render(0.8, [noise = Noise(4), body = Svf(1150.0, 1.4)](double t) mutable {
            return clap(t, noise, body);
        });
    case DrumSound::ClosedHat: return hat(0.04, 0.35, 5);
    case DrumSound::OpenHat: return hat(0.4, 2.0, 6);
    case DrumSound::LowTom: return tom(92.0, 7);
    case DrumSound::MidTom: return tom(128.0, 8);
    case DrumSound::HighTom: return tom(172.0, 9);
    case DrumSound::Crash:
        return render(3.5, [metal = Metal(2.3), noise = Noise(10), ring = Svf(5000.0, 0.8),
                            air = Svf(6000.0, 0.7)](double t) mutable {
            return cymbal(t, metal, noise, ring, air, 0.75, 1.2);
        });
    case DrumSound::Ride:
        return render(3.5, [metal = Metal(2.9), noise = Noise(11), ring = Svf(4200.0, 1.5),
                            air = Svf(8000.0, 0.7)](double t) mutable {
            const double bell =
                0.25 * (std::sin(2.0 * pi * 2630.0 * t) + 0.6 * std::sin(2.0 * pi * 3710.0 * t)) *
                decay(t, 0.6);
            return cymbal(t, metal, noise, ring, air, 1.0, 0.4) + bell;
        });
    }
    return {};
}

namespace {

std::shared_ptr<const DrumSample> builtinSample(DrumSound sound) {
    static std::mutex mutex;
    static std::array<std::shared_ptr<const DrumSample>, drumSoundCount> made;
    std::lock_guard lock(mutex);
    auto &entry = made[static_cast<std::size_t>(sound)];
    if (!entry) entry = std::make_shared<const DrumSample>(synthesiseDrumSound(sound));
    return entry;
}

struct SndFile {
    SNDFILE *file = nullptr;
    ~SndFile() {
        if (file) sf_close(file);
    }
};

bool readSampleFile(const std::string &path, DrumSample &sample, std::string &error) {
    std::error_code failed;
    if (!fs::is_regular_file(path, failed)) {
        error = fs::exists(path, failed) ? "Not a regular file: " + path
                                         : "Sample file not found: " + path;
        return false;
    }
    SF_INFO info{};
    SndFile opened;
    opened.file = sf_open(path.c_str(), SFM_READ, &info);
    if (!opened.file) {
        error =
            "Not a WAV or FLAC file that can be read: " + path + " (" + sf_strerror(nullptr) + ")";
        return false;
    }
    if (info.frames <= 0 || info.channels <= 0 || info.samplerate <= 0) {
        error = "The sample file holds no audio: " + path;
        return false;
    }
    // A header may claim anything: rates and channel counts no recording has are refused
    // before their samples are given memory.
    constexpr int highestRate = 768000;
    constexpr int mostChannels = 64;
    if (info.samplerate > highestRate || info.channels > mostChannels) {
        error = "The sample file's format is not one a pad plays (" +
                std::to_string(info.channels) + " channels at " + std::to_string(info.samplerate) +
                " Hz): " + path;
        return false;
    }
    if (static_cast<double>(info.frames) > longestDrumSampleSeconds * info.samplerate) {
        error = "The sample is longer than a minute: " + path;
        return false;
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    const auto frames = static_cast<std::size_t>(info.frames);
    std::vector<float> interleaved;
    try {
        interleaved.resize(frames * channels);
        sample.left.reserve(frames);
        sample.right.reserve(frames);
    } catch (const std::bad_alloc &) {
        error = "Not enough memory for the sample: " + path;
        return false;
    }
    const sf_count_t got = sf_readf_float(opened.file, interleaved.data(), info.frames);
    if (got <= 0) {
        error = "The sample file could not be read: " + path;
        return false;
    }
    const auto read = static_cast<std::size_t>(got);
    sample.left.resize(read);
    sample.right.resize(read);
    for (std::size_t i = 0; i < read; ++i) {
        const float left = interleaved[i * channels];
        const float right = interleaved[i * channels + (channels > 1 ? 1 : 0)];
        if (!std::isfinite(left) || !std::isfinite(right)) {
            error = "The sample file holds values that are not numbers: " + path;
            return false;
        }
        sample.left[i] = left;
        sample.right[i] = right;
    }
    sample.sampleRate = info.samplerate;
    return true;
}

} // namespace

std::shared_ptr<const DrumSample>
loadDrumSample(const std::string &file, const std::string &projectRoot, std::string &error) {
    if (file.starts_with(builtinDrumPrefix)) {
        DrumSound sound{};
        if (drumSoundNamed(std::string_view(file).substr(builtinDrumPrefix.size()), sound))
            return builtinSample(sound);
        error = "No such built-in drum sound: " + file;
        return nullptr;
    }
    if (file.empty()) {
        error = "The pad names no sample file";
        return nullptr;
    }
    fs::path path(file);
    if (path.is_relative() && !projectRoot.empty()) path = fs::path(projectRoot) / path;
    std::error_code failed;
    const fs::path canonical = fs::canonical(path, failed);
    if (failed) {
        error = "Sample file not found: " + path.string();
        return nullptr;
    }
    const auto written = fs::last_write_time(canonical, failed);
    const auto size = fs::file_size(canonical, failed);
    struct Entry {
        std::weak_ptr<const DrumSample> sample;
        fs::file_time_type written;
        std::uintmax_t size = 0;
    };
    static std::mutex mutex;
    static std::unordered_map<std::string, Entry> cache;
    // Held while reading, so that two tracks asking for one file at once read it once.
    std::lock_guard lock(mutex);
    std::erase_if(cache, [](const auto &entry) { return entry.second.sample.expired(); });
    const std::string key = canonical.string();
    if (auto found = cache.find(key);
        found != cache.end() && found->second.written == written && found->second.size == size)
        if (auto shared = found->second.sample.lock()) return shared;
    auto sample = std::make_shared<DrumSample>();
    if (!readSampleFile(key, *sample, error)) return nullptr;
    cache[key] = Entry{sample, written, size};
    return sample;
}

bool checkDrumSampleFile(const std::string &path, std::string &error) {
    DrumSample sample;
    return readSampleFile(path, sample, error);
}

namespace {

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

// 32 zero crossings a side and a Kaiser window (beta 9): the stop band sits below −90 dB.
constexpr int crossings = 32;
constexpr int tableSteps = 512; // per zero crossing, interpolated linearly between

/// The windowed sinc from 0 to `crossings`, made once.
const std::vector<double> &sincTable() {
    static const std::vector<double> table = [] {
        constexpr double beta = 9.0;
        const double norm = besselI0(beta);
        std::vector<double> made(crossings * tableSteps + 2, 0.0);
        for (int i = 0; i <= crossings * tableSteps; ++i) {
            const double u = static_cast<double>(i) / tableSteps;
            const double r = u / crossings;
            const double window = besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / norm;
            made[static_cast<std::size_t>(i)] =
                (i == 0 ? 1.0 : std::sin(pi * u) / (pi * u)) * window;
        }
        return made;
    }();
    return table;
}

void convertChannel(const std::vector<float> &in, std::vector<float> &out, double step,
                    double cutoff) {
    const std::vector<double> &table = sincTable();
    const double reach = crossings / cutoff;
    const auto frames = static_cast<int64_t>(in.size());
    for (std::size_t n = 0; n < out.size(); ++n) {
        const double centre = static_cast<double>(n) * step;
        const auto first = std::max<int64_t>(0, static_cast<int64_t>(std::ceil(centre - reach)));
        const auto last =
            std::min<int64_t>(frames - 1, static_cast<int64_t>(std::floor(centre + reach)));
        double sum = 0.0;
        for (int64_t k = first; k <= last; ++k) {
            const double at = std::abs(static_cast<double>(k) - centre) * cutoff * tableSteps;
            const auto index = static_cast<std::size_t>(at);
            if (index >= table.size() - 1) continue;
            const double fraction = at - static_cast<double>(index);
            const double tap = table[index] + (table[index + 1] - table[index]) * fraction;
            sum += in[static_cast<std::size_t>(k)] * tap;
        }
        out[n] = static_cast<float>(sum * cutoff);
    }
}

} // namespace

std::shared_ptr<const DrumSample> drumSampleAtRate(std::shared_ptr<const DrumSample> sample,
                                                   double sampleRate) {
    if (!sample || sample->sampleRate == sampleRate || !(sampleRate > 0.0)) return sample;
    // Converted once for each sample and rate while someone plays it: every drum track of a
    // song at 44.1 kHz shares the default kit's conversion, and a kit made again for new
    // settings does not convert again.
    struct Key {
        const DrumSample *sample;
        double rate;
        bool operator==(const Key &) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key &key) const {
            return std::hash<const void *>()(key.sample) ^ std::hash<double>()(key.rate);
        }
    };
    struct Entry {
        std::weak_ptr<const DrumSample> source;
        std::weak_ptr<const DrumSample> converted;
    };
    static std::mutex mutex;
    static std::unordered_map<Key, Entry, KeyHash> cache;
    std::lock_guard lock(mutex);
    std::erase_if(cache, [](const auto &entry) {
        return entry.second.source.expired() || entry.second.converted.expired();
    });
    const Key key{sample.get(), sampleRate};
    if (auto found = cache.find(key); found != cache.end())
        if (auto converted = found->second.converted.lock()) return converted;
    const double step = sample->sampleRate / sampleRate; // source frames per output frame
    const double cutoff = std::min(1.0, sampleRate / sample->sampleRate);
    const auto frames =
        static_cast<std::size_t>(std::ceil(static_cast<double>(sample->frames()) / step));
    auto converted = std::make_shared<DrumSample>();
    converted->sampleRate = sampleRate;
    converted->left.resize(frames);
    converted->right.resize(frames);
    convertChannel(sample->left, converted->left, step, cutoff);
    if (sample->right == sample->left)
        converted->right = converted->left;
    else
        convertChannel(sample->right, converted->right, step, cutoff);
    cache[key] = Entry{sample, converted};
    return converted;
}

} // namespace orvane::stock
