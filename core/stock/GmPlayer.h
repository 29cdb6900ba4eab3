#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct _fluid_synth_t;

namespace orvane::stock {

/// The General MIDI player's stored settings: which SoundFont 2 file, which preset in it, and
/// whether the track is a drum part (the file's channel 10: the font's percussion bank, 128).
struct GmSettings {
    /// Empty: the General MIDI font the system installs (`defaultGmFontPath`).
    std::string font;
    int32_t bank = 0;
    int32_t program = 0; // 0..127, as in a program change
    bool drums = false;
    bool operator==(const GmSettings &) const = default;
};

/// One preset of a SoundFont, as its list names it.
struct SoundFontPreset {
    int32_t bank = 0;
    int32_t program = 0;
    std::string name;
    bool operator==(const SoundFontPreset &) const = default;
};

/// The percussion bank of a SoundFont, which a General MIDI file's channel 10 plays.
inline constexpr int32_t gmDrumBank = 128;

/// "font=...", "bank=...", "program=...", "drums=0|1", one a line. Unknown lines are skipped
/// (a later version's settings); a value that does not read is an error and leaves `settings`
/// untouched.
std::string writeGmStateText(const GmSettings &settings);
bool readGmStateText(std::string_view text, GmSettings &settings, std::string *error);

/// The General MIDI font the system package installs, or empty when it is not installed.
std::string defaultGmFontPath();

/// A SoundFont loaded once for the whole process and shared by every player that uses it:
/// the General MIDI font is 140 MB of samples. It stays loaded while a player or a caller
/// holds it.
class SoundFont {
  public:
    ~SoundFont();
    SoundFont(const SoundFont &) = delete;
    SoundFont &operator=(const SoundFont &) = delete;

    /// The font at `path` (empty: the system's General MIDI font), loaded on the first call
    /// for its canonical path and shared afterwards. Blocks while it loads, so never call it
    /// on the audio thread. Null with `error` saying why for a missing, damaged or hostile
    /// file; nothing else changes then.
    static std::shared_ptr<const SoundFont> load(const std::string &path, std::string &error);
    /// How many fonts were read from disk since the process started.
    static uint64_t loadCount();

    const std::string &path() const { return path_; }
    /// Every preset the font holds, by bank and then program.
    const std::vector<SoundFontPreset> &presets() const { return presets_; }

  private:
    friend class GmPlayer;
    struct Holder;
    SoundFont() = default;
    static std::shared_ptr<const SoundFont> readFont(const std::string &canonicalPath,
                                                     std::string &error);
    std::string path_;
    std::unique_ptr<Holder> holder_;
    std::vector<SoundFontPreset> presets_;
};

/// One track's General MIDI voice: its own synthesiser playing a preset of a shared font,
/// with the library's reverb and chorus off (the track's inserts do that). Made on the main
/// thread; the note calls and `process` neither allocate nor lock once made.
class GmPlayer {
  public:
    /// Every voice the player may sound at once, reserved up front.
    static constexpr int polyphony = 128;

    GmPlayer(std::shared_ptr<const SoundFont> font, const GmSettings &settings, double sampleRate);
    ~GmPlayer();
    GmPlayer(const GmPlayer &) = delete;
    GmPlayer &operator=(const GmPlayer &) = delete;

    /// False when the synthesiser could not be made or the font has no preset near the one
    /// asked for; the player is silent then.
    bool ready() const { return synth_ != nullptr && presetFound_; }
    /// The preset actually playing: the one asked for, else the font's fallback in that
    /// bank (as a General MIDI module does with a missing program).
    int32_t bank() const { return bank_; }
    int32_t program() const { return program_; }

    /// `velocity` in 0..1; zero releases the key.
    void noteOn(int pitch, float velocity);
    void noteOff(int pitch);
    /// Releases every note through its envelope.
    void allNotesOff();
    /// Silences every voice at once.
    void allSoundOff();
    /// Adds the next `frames` into both buffers.
    void process(float *left, float *right, int frames);
    int activeVoiceCount() const;

  private:
    std::shared_ptr<const SoundFont> font_;
    void *settings_ = nullptr; // fluid_settings_t
    _fluid_synth_t *synth_ = nullptr;
    int channel_ = 0;
    int32_t bank_ = 0;
    int32_t program_ = 0;
    bool presetFound_ = false;
};

} // namespace orvane::stock
