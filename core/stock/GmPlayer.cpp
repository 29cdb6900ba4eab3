#include "core/stock/GmPlayer.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <unordered_map>

namespace orvane::stock {

namespace {

constexpr const char *debianGmFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
/// What a player asks its own loader for: no file on disk has this name, so the library's
/// file loader, should it be asked first, fails without reading anything.
constexpr const char *sharedFontName = "halvora-shared-font";

std::atomic<uint64_t> fontLoads{0};

// The library reports why a file did not load through its global log. Messages go to the
// loading thread's sink (loads are serialised by the cache's lock) and never to the terminal.
thread_local std::string *logSink = nullptr;

void keepMessage(int, const char *message, void *) {
    if (logSink && message) {
        if (!logSink->empty()) logSink->append("; ");
        logSink->append(message);
    }
}

void routeLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, keepMessage, nullptr);
        fluid_set_log_function(FLUID_ERR, keepMessage, nullptr);
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    });
}

struct LogCapture {
    std::string messages;
    LogCapture() { logSink = &messages; }
    ~LogCapture() { logSink = nullptr; }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
};

fluid_settings_t *makeSettings(double sampleRate) {
    fluid_settings_t *settings = new_fluid_settings();
    if (!settings) return nullptr;
    fluid_settings_setnum(settings, "synth.sample-rate", sampleRate);
    // The track's inserts and sends are where reverb and chorus belong.
    fluid_settings_setint(settings, "synth.reverb.active", 0);
    fluid_settings_setint(settings, "synth.chorus.active", 0);
    fluid_settings_setint(settings, "synth.polyphony", GmPlayer::polyphony);
    // Each synthesiser is driven by one thread at a time: the library's own lock would only
    // be a lock on the audio thread.
    fluid_settings_setint(settings, "synth.threadsafe-api", 0);
    fluid_settings_setint(settings, "synth.cpu-cores", 1);
    // Samples stay in memory: loading on demand would read the disk from the audio thread.
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 0);
    return settings;
}

/// Whether the bytes start as a SoundFont 2 file does, so that other files are refused with
/// a plain reason before the library parses them.
bool looksLikeSoundFont(const std::string &path, std::string &error) {
    std::ifstream in(path, std::ios::binary);
    std::array<char, 12> head{};
    if (!in.read(head.data(), head.size())) {
        error = "The sound font is too short to be a SoundFont 2 file: " + path;
        return false;
    }
    if (std::string_view(head.data(), 4) != "RIFF" ||
        std::string_view(head.data() + 8, 4) != "sfbk") {
        error = "Not a SoundFont 2 file: " + path;
        return false;
    }
    return true;
}

std::vector<SoundFontPreset> presetsOf(fluid_sfont_t *sfont) {
    std::vector<SoundFontPreset> presets;
    fluid_sfont_iteration_start(sfont);
    while (fluid_preset_t *preset = fluid_sfont_iteration_next(sfont)) {
        const char *name = fluid_preset_get_name(preset);
        presets.push_back({fluid_preset_get_banknum(preset), fluid_preset_get_num(preset),
                           name ? std::string(name) : std::string()});
    }
    std::sort(presets.begin(), presets.end(), [](const auto &a, const auto &b) {
        return a.bank != b.bank ? a.bank < b.bank : a.program < b.program;
    });
    return presets;
}

// A player's view of the shared font: its presets are the shared font's own, so a note the
// player strikes makes voices in the player's synthesiser from samples loaded once. The
// presets are selected and released on the main thread only (when a player is made or
// destroyed), which is where the library counts the font's users.
fluid_sfont_t *sharedOf(fluid_sfont_t *view) {
    return static_cast<fluid_sfont_t *>(fluid_sfont_get_data(view));
}
const char *viewName(fluid_sfont_t *view) { return fluid_sfont_get_name(sharedOf(view)); }
fluid_preset_t *viewPreset(fluid_sfont_t *view, int bank, int program) {
    return fluid_sfont_get_preset(sharedOf(view), bank, program);
}
void viewIterationStart(fluid_sfont_t *view) { fluid_sfont_iteration_start(sharedOf(view)); }
fluid_preset_t *viewIterationNext(fluid_sfont_t *view) {
    return fluid_sfont_iteration_next(sharedOf(view));
}
int viewFree(fluid_sfont_t *view) { return delete_fluid_sfont(view); }

fluid_sfont_t *loadView(fluid_sfloader_t *loader, const char *name) {
    if (!name || std::string_view(name) != sharedFontName) return nullptr;
    fluid_sfont_t *view =
        new_fluid_sfont(viewName, viewPreset, viewIterationStart, viewIterationNext, viewFree);
    if (view) fluid_sfont_set_data(view, fluid_sfloader_get_data(loader));
    return view;
}

} // namespace

std::string writeGmStateText(const GmSettings &settings) {
    std::string text;
    if (!settings.font.empty()) text += "font=" + settings.font + "\n";
    text += "bank=" + std::to_string(settings.bank) + "\n";
    text += "program=" + std::to_string(settings.program) + "\n";
    text += std::string("drums=") + (settings.drums ? "1" : "0") + "\n";
    return text;
}

bool readGmStateText(std::string_view text, GmSettings &settings, std::string *error) {
    GmSettings read;
    const auto fail = [error](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    const auto number = [](std::string_view value, int32_t low, int32_t high, int32_t &out) {
        int32_t parsed = 0;
        const auto [end, code] = std::from_chars(value.data(), value.data() + value.size(), parsed);
        if (code != std::errc() || end != value.data() + value.size()) return false;
        if (parsed < low || parsed > high) return false;
        out = parsed;
        return true;
    };
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t equals = line.find('=');
        if (line.empty() || equals == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (key == "font") {
            read.font = std::string(value);
        } else if (key == "bank") {
            if (!number(value, 0, 16383, read.bank)) return fail("Bad bank: " + std::string(value));
        } else if (key == "program") {
            if (!number(value, 0, 127, read.program))
                return fail("Bad program: " + std::string(value));
        } else if (key == "drums") {
            if (value != "0" && value != "1") return fail("Bad drums flag: " + std::string(value));
            read.drums = value == "1";
        }
    }
    settings = std::move(read);
    return true;
}

std::string defaultGmFontPath() {
    std::error_code ignored;
    return std::filesystem::is_regular_file(debianGmFont, ignored) ? debianGmFont : std::string();
}

struct SoundFont::Holder {
    fluid_settings_t *settings = nullptr;
    // The synthesiser that owns the loaded font; it never renders.
    fluid_synth_t *owner = nullptr;
    fluid_sfont_t *sfont = nullptr;
    ~Holder() {
        if (owner) delete_fluid_synth(owner);
        if (settings) delete_fluid_settings(settings);
    }
};

SoundFont::~SoundFont() = default;

std::shared_ptr<const SoundFont> SoundFont::load(const std::string &path, std::string &error) {
    routeLibraryLog();
    const std::string asked = path.empty() ? defaultGmFontPath() : path;
    if (asked.empty()) {
        error = "General MIDI sound font not installed";
        return nullptr;
    }
    std::error_code failed;
    const std::filesystem::path canonical = std::filesystem::canonical(asked, failed);
    if (failed || !std::filesystem::is_regular_file(canonical, failed)) {
        error = "Sound font not found: " + asked;
        return nullptr;
    }
    const std::string key = canonical.string();

    // A file that did not load is not read again until it changes: every publication asks
    // for the fonts of all tracks.
    struct Failure {
        std::string error;
        std::filesystem::file_time_type written;
        std::uintmax_t size = 0;
    };
    static std::mutex mutex;
    static std::unordered_map<std::string, std::weak_ptr<const SoundFont>> cache;
    static std::unordered_map<std::string, Failure> failures;
    // Held while loading, so that two tracks asking for one font at once read it once.
    std::lock_guard lock(mutex);
    std::erase_if(cache, [](const auto &entry) { return entry.second.expired(); });
    if (auto found = cache.find(key); found != cache.end())
        if (auto shared = found->second.lock()) return shared;
    const auto written = std::filesystem::last_write_time(canonical, failed);
    const std::uintmax_t size = std::filesystem::file_size(canonical, failed);
    if (auto found = failures.find(key);
        found != failures.end() && found->second.written == written && found->second.size == size) {
        error = found->second.error;
        return nullptr;
    }
    auto font = readFont(key, error);
    if (font)
        cache[key] = font;
    else
        failures[key] = Failure{error, written, size};
    return font;
}

std::shared_ptr<const SoundFont> SoundFont::readFont(const std::string &key, std::string &error) {
    if (!looksLikeSoundFont(key, error)) return nullptr;
    auto holder = std::make_unique<Holder>();
    holder->settings = makeSettings(48000.0);
    holder->owner = holder->settings ? new_fluid_synth(holder->settings) : nullptr;
    if (!holder->owner) {
        error = "Could not start the General MIDI player";
        return nullptr;
    }
    LogCapture log;
    const int id = fluid_synth_sfload(holder->owner, key.c_str(), 0);
    ++fontLoads;
    holder->sfont = id == FLUID_FAILED ? nullptr : fluid_synth_get_sfont_by_id(holder->owner, id);
    if (!holder->sfont) {
        error = "The sound font could not be read: " + key +
                (log.messages.empty() ? std::string() : " (" + log.messages + ")");
        return nullptr;
    }
    std::vector<SoundFontPreset> presets = presetsOf(holder->sfont);
    if (presets.empty()) {
        error = "The sound font has no presets: " + key;
        return nullptr;
    }
    auto font = std::shared_ptr<SoundFont>(new SoundFont());
    font->path_ = key;
    font->presets_ = std::move(presets);
    font->holder_ = std::move(holder);
    return font;
}

uint64_t SoundFont::loadCount() { return fontLoads.load(); }

GmPlayer::GmPlayer(std::shared_ptr<const SoundFont> font, const GmSettings &settings,
                   double sampleRate)
    : font_(std::move(font)) {
    if (!font_ || !font_->holder_ || !font_->holder_->sfont) return;
    routeLibraryLog();
    LogCapture log; // what the library's file loader says about the shared name stays quiet
    auto *fluidSettings = makeSettings(sampleRate);
    if (!fluidSettings) return;
    settings_ = fluidSettings;
    synth_ = new_fluid_synth(fluidSettings);
    if (!synth_) return;
    fluid_sfloader_t *loader = new_fluid_sfloader(loadView, delete_fluid_sfloader);
    if (!loader) return;
    fluid_sfloader_set_data(loader, font_->holder_->sfont);
    fluid_synth_add_sfloader(synth_, loader);
    const int id = fluid_synth_sfload(synth_, sharedFontName, 0);
    if (id == FLUID_FAILED) return;
    // Channel 10 of a General MIDI file, where the library plays the percussion bank.
    channel_ = settings.drums ? 9 : 0;
    const int32_t bank = settings.drums ? gmDrumBank : settings.bank;
    const int32_t program = std::clamp(settings.program, 0, 127);
    // A missing program falls back to the first of its bank, then to the first of the
    // melodic or percussion bank, as a General MIDI module does.
    const std::array<std::pair<int32_t, int32_t>, 3> tries{
        {{bank, program}, {bank, 0}, {settings.drums ? gmDrumBank : 0, 0}}};
    for (const auto &[tryBank, tryProgram] : tries) {
        if (fluid_synth_program_select(synth_, channel_, id, tryBank, tryProgram) == FLUID_OK) {
            bank_ = tryBank;
            program_ = tryProgram;
            presetFound_ = true;
            break;
        }
    }
}

GmPlayer::~GmPlayer() {
    if (synth_) delete_fluid_synth(synth_);
    if (settings_) delete_fluid_settings(static_cast<fluid_settings_t *>(settings_));
}

void GmPlayer::noteOn(int pitch, float velocity) {
    if (!ready() || pitch < 0 || pitch > 127) return;
    const int midiVelocity = std::clamp(static_cast<int>(std::lround(velocity * 127.0f)), 0, 127);
    if (midiVelocity == 0) {
        noteOff(pitch);
        return;
    }
    fluid_synth_noteon(synth_, channel_, pitch, midiVelocity);
}

void GmPlayer::noteOff(int pitch) {
    if (!ready() || pitch < 0 || pitch > 127) return;
    fluid_synth_noteoff(synth_, channel_, pitch);
}

void GmPlayer::allNotesOff() {
    if (ready()) fluid_synth_all_notes_off(synth_, channel_);
}

void GmPlayer::allSoundOff() {
    if (ready()) fluid_synth_all_sounds_off(synth_, -1);
}

void GmPlayer::process(float *left, float *right, int frames) {
    if (!ready() || frames <= 0) return;
    // The library adds its dry output into the buffers; with no effect buffers given, the
    // effects' sends are dropped (they are off anyway).
    float *outputs[2] = {left, right};
    fluid_synth_process(synth_, frames, 0, nullptr, 2, outputs);
}

int GmPlayer::activeVoiceCount() const {
    return synth_ ? fluid_synth_get_active_voice_count(synth_) : 0;
}

} // namespace orvane::stock
