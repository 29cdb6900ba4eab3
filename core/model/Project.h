#pragma once

#include "core/model/MidiMappings.h"
#include "core/model/SampleBuffer.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvane {

enum class TrackType : uint8_t { Audio = 0, Midi = 1, Unused = 2, Return = 3 };
enum class ClipKind : uint8_t { Audio = 0, Midi = 1 };
enum class GridQuantize : uint8_t {
    Off = 0,
    Quarter = 1,
    Eighth = 2,
    Sixteenth = 3,
    Bar = 4,
    QuarterTriplet = 5,
    EighthTriplet = 6,
    SixteenthTriplet = 7
};
enum class LaunchQuantize : uint8_t { Immediate = 0, OneBeat = 1, OneBar = 2, EightBars = 3 };
enum class SessionLaunchMode : uint8_t { Trigger = 0, Gate = 1, Toggle = 2, PlayOnce = 3 };
enum class FollowAction : uint8_t {
    None = 0,
    Again = 1,
    NextScene = 2,
    PreviousScene = 3,
    NextClipInColumn = 4
};
enum class AutomationWriteMode : uint8_t { Read = 0, Touch = 1, Latch = 2, Write = 3 };
enum class SessionPlayerKind : uint8_t {
    DrumsFourFour = 0,
    DrumsBreak = 1,
    BassRoot = 2,
    ChordsPad = 3
};

/// Display label of each enumeration value, as the user sees it when cycling.
const char *sessionLaunchModeLabel(SessionLaunchMode mode);
const char *followActionLabel(FollowAction action);
const char *automationWriteModeLabel(AutomationWriteMode mode);
const char *sessionPlayerKindLabel(SessionPlayerKind kind);

struct TimeSignature {
    int32_t numerator = 4;
    int32_t denominator = 4;

    /// The pair as one 64-bit word, numerator in the low half.
    uint64_t packed() const;
    static TimeSignature fromPacked(uint64_t word);
    bool operator==(const TimeSignature &) const = default;
};

struct MidiNote {
    int32_t pitch = 60;
    float velocity = 0.8f;
    int64_t start = 0;
    int64_t length = 0;
    float expression = 1.0f; // not stored
    float bendCents = 0.0f;  // not stored; kept within -200..+200
    bool operator==(const MidiNote &) const = default;
};
static_assert(sizeof(MidiNote) == 32, "MidiNote is a 32-byte record");

struct AutomationPoint {
    int64_t t = 0;
    float v = 0.0f;
    bool operator==(const AutomationPoint &) const = default;
};

struct AutomationClip {
    uint64_t id = 0;
    int64_t start = 0;
    int64_t length = 0;
    int32_t lane = 0;                    // 0 volume, 1 pan, 2 mute
    std::vector<AutomationPoint> points; // t relative to start
    bool operator==(const AutomationClip &) const = default;
};

struct WarpMarker {
    int64_t dest = 0;   // timeline position relative to the clip
    int64_t source = 0; // source position
    bool operator==(const WarpMarker &) const = default;
};

struct Marker {
    uint64_t id = 0;
    std::string name;
    int64_t position = 0;
    bool operator==(const Marker &) const = default;
};

struct TempoMarker {
    int64_t position = 0;
    double bpm = 120.0;
    bool operator==(const TempoMarker &) const = default;
};

struct MeterMarker {
    int64_t position = 0;
    int32_t num = 4;
    int32_t den = 4;
    bool operator==(const MeterMarker &) const = default;
};

struct ChordMarker {
    int64_t position = 0;
    std::string chord;
    bool operator==(const ChordMarker &) const = default;
};

struct BeatMarker {
    int64_t position = 0;
    bool downbeat = false;
    bool operator==(const BeatMarker &) const = default;
};

struct ControlRoomSettings {
    float masterGain = 1.0f;
    float cueGain = 1.0f;
    bool dim = false;
    bool mono = false;
    bool talkback = false;
    bool operator==(const ControlRoomSettings &) const = default;
};

/// Band types 0..4: high-pass, low shelf, peak, high shelf, low-pass.
enum class EqBandType : uint8_t {
    HighPass = 0,
    LowShelf = 1,
    Peak = 2,
    HighShelf = 3,
    LowPass = 4
};

struct EqBandSettings {
    uint8_t type = 2;
    float freq = 1000.0f;
    float gainDb = 0.0f;
    float q = 1.0f;
    bool enabled = true;
    bool operator==(const EqBandSettings &) const = default;
};

struct ChannelEq8 {
    bool enabled = true;
    bool bypass = false;
    float outDb = 0.0f;
    std::array<EqBandSettings, 8> bands = defaultBands();

    static std::array<EqBandSettings, 8> defaultBands();
    bool operator==(const ChannelEq8 &) const = default;
};

struct MasteringUtility {
    bool enabled = true;
    bool bypass = false;
    int32_t character = 0;
    float loudness = 0.35f;
    bool excite = false;
    float exciteAmt = 0.25f;
    float width = 1.0f;
    bool loudCmp = true;
    bool operator==(const MasteringUtility &) const = default;
};

struct SendSlot {
    uint64_t returnId = 0; // "return" in the file; id of the target return track, 0 = none
    float level = 0.0f;    // linear send gain
    bool pre = false;      // pre-fader
    bool operator==(const SendSlot &) const = default;
};

struct InsertSlot {
    std::string pluginId;
    std::string displayName;
    std::string bundlePath;
    std::vector<uint8_t> state;
    bool bypassed = false;
    bool isStock = false;
    uint32_t automParamId = 0;
    std::vector<AutomationPoint> paramAutomation;
    /// The user's choice to run this plug-in in the application rather than in a helper.
    bool inProcess = false;
    /// Whether the plug-in's own window was open when the project was saved: it opens again
    /// with the project.
    bool editorOpen = false;
    bool operator==(const InsertSlot &) const = default;
};

struct Clip {
    uint64_t id = 0;
    uint64_t trackId = 0;
    ClipKind kind = ClipKind::Audio;
    std::string name;
    int64_t arrangeStart = 0;
    int64_t length = 0;
    int64_t sourceOffset = 0;
    bool loop = false;
    int64_t loopLength = 0;
    float gain = 1.0f;
    int64_t fadeIn = 0;
    int64_t fadeOut = 0;
    std::string audioFile;
    double stretchRatio = 1.0;
    std::vector<WarpMarker> warpMarkers;
    /// Samples interleaved by `channels`, on the heap or mapped from the media file. A buffer
    /// is never written again: edits build a new one, so the audio thread can read it unlocked.
    SharedSamples audio;
    int32_t channels = 2;
    std::vector<MidiNote> notes;
    int32_t sessionRow = -1;
    int32_t sessionCol = -1;
    LaunchQuantize launchQuantize = LaunchQuantize::OneBar;
    SessionLaunchMode launchMode = SessionLaunchMode::Trigger;
    bool legatoLaunch = false;
    std::vector<AutomationPoint> gainEnvelope;
    int32_t takeLane = 0;
    bool takeActive = true;
    FollowAction followAction = FollowAction::None;

    bool isSessionClip() const { return sessionRow >= 0; }
    /// Frames of decoded audio: sample count over channels, fewer than 2 channels count as 1.
    int64_t audioFrameCount() const;
};

/// The colour a track has until the user gives it another.
inline constexpr uint32_t defaultTrackColor = 0xFF4A90D9u;
/// Devices open at most eight stereo input pairs.
inline constexpr int32_t highestInputPair = 7;

/// Positions and lengths are added together while rendering (a clip's start, a note's start
/// within it, its length). Held below 2^61 samples, some 1.5 million years, no such sum can
/// overflow: a render refuses anything beyond, and nothing may put it there.
inline constexpr int64_t timelineLimit = int64_t{1} << 61;

/// When an audio track plays its input through its own chain: "Auto" while it is armed, "In"
/// always, "Off" never (the input is still recorded).
enum class MonitorMode : uint8_t { Auto = 0, In = 1, Off = 2 };
/// How a track's sandboxed inserts share helper processes: one each keeps a crash to its own
/// plug-in; one for the track's chain costs one process wake-up per block instead of one per
/// insert.
enum class SandboxGrouping : uint8_t { PerPlugin = 0, PerTrack = 1 };

/// The id of Halvora Synth as a track's instrument.
inline constexpr std::string_view synthInstrumentId = "stock.synth";
/// The id of the General MIDI player (a SoundFont preset) as a track's instrument.
inline constexpr std::string_view gmInstrumentId = "stock.gm";

struct Track {
    uint64_t id = 0;
    TrackType type = TrackType::Audio;
    std::string name;
    uint32_t color = defaultTrackColor; // stored only when the user chose another
    bool armed = false;                 // not stored
    /// The stereo input pair an audio track records from, 0 for the first; stored only
    /// when another is chosen.
    int32_t inputPair = 0;
    MonitorMode monitor = MonitorMode::Auto; // stored only when another is chosen
    float gain = 1.0f;
    float pan = 0.0f;
    bool mute = false;
    bool solo = false;
    float peakL = 0.0f; // not stored; copied from the engine's meter table on the main thread
    float peakR = 0.0f; // not stored
    ChannelEq8 eq;
    std::vector<InsertSlot> inserts;
    std::array<SendSlot, 4> sends{};
    std::vector<std::shared_ptr<Clip>> clips;
    std::vector<AutomationPoint> volumeAutomation;
    std::vector<AutomationPoint> panAutomation;
    std::vector<AutomationPoint> muteAutomation;
    std::vector<AutomationClip> automationClips;
    std::array<float, 4> macros{0.5f, 0.5f, 0.5f, 0.5f};
    int32_t expressionMapIndex = -1;
    bool mpeEnabled = false;
    bool frozen = false;
    /// Launching one of the track's session clips ends its others at the launch point.
    bool oneClipAtATime = false;
    SandboxGrouping sandboxGrouping = SandboxGrouping::PerPlugin; // stored only when per track
    /// Every plug-in of the track runs in the application rather than in a helper.
    bool pluginsInProcess = false;
    /// The built-in instrument a MIDI track plays (`synthInstrumentId`), stored only when set.
    /// Empty, or an id this build does not know, plays the plain sine voice, so documents from
    /// before instruments existed sound as they always did.
    std::string instrument;
    /// The instrument's settings as it writes them (for the synth, one "id=value" line per
    /// parameter); stored only when set.
    std::string instrumentState;

    /// True when the track plays its input pair through its chain now.
    bool monitorsInput() const {
        return type == TrackType::Audio &&
               (monitor == MonitorMode::In || (monitor == MonitorMode::Auto && armed));
    }
};

struct Scene {
    uint64_t id = 0;
    std::string name;
    std::vector<uint64_t> clips; // 0 = emptied slot
    FollowAction followAction = FollowAction::None;
    bool useSceneTempo = false;
    double sceneTempoBpm = 120.0;
    bool useSceneMeter = false;
    int32_t sceneMeterNum = 4;
    int32_t sceneMeterDen = 4;
    /// Without its own launch quantisation a scene launches on the grid's.
    bool useSceneLaunchQuantize = false;
    LaunchQuantize sceneLaunchQuantize = LaunchQuantize::OneBar;
    bool operator==(const Scene &) const = default;
};

struct SessionGrid {
    int32_t rows = 8;
    int32_t cols = 8;
    LaunchQuantize launchQuantize = LaunchQuantize::OneBar;
    std::vector<Scene> scenes;
    bool operator==(const SessionGrid &) const = default;
};

struct TrackMixerSnapshot {
    uint64_t trackId = 0;
    float gain = 1.0f;
    float pan = 0.0f;
    bool mute = false;
    bool solo = false;
    std::array<SendSlot, 4> sends{};
    std::array<float, 4> macros{0.5f, 0.5f, 0.5f, 0.5f};
    bool operator==(const TrackMixerSnapshot &) const = default;
};

struct MixerSnapshot {
    std::string name;
    std::vector<TrackMixerSnapshot> tracks;
    ControlRoomSettings controlRoom;
    /// Not stored. False for a snapshot read from a file, whose track entries keep only gain,
    /// pan, mute and solo; recalling it then leaves the tracks' sends and macros alone.
    bool hasSendsAndMacros = true;
    bool operator==(const MixerSnapshot &) const = default;
};

struct MixerSnapshotEvent {
    std::string label;
    MixerSnapshot snapshot;
    bool operator==(const MixerSnapshotEvent &) const = default;
};

struct GrooveTemplate {
    std::string name;
    float timing = 0.0f;
    float velocity = 0.0f;
    std::array<float, 16> timingPattern{};
    std::array<float, 16> velocityPattern{};
    bool operator==(const GrooveTemplate &) const = default;
};

struct ExpressionArticulation {
    std::string name;
    int32_t keyswitch = 0;
    float velScale = 1.0f;
    int32_t cc = 0;
    int32_t ccVal = 0;
    bool operator==(const ExpressionArticulation &) const = default;
};

struct ExpressionMap {
    std::string name;
    std::vector<ExpressionArticulation> articulations;
    bool operator==(const ExpressionMap &) const = default;
};

struct Project {
    int32_t formatVersion = 1;
    std::string name = "Untitled";
    std::string rootPath; // not stored
    double sampleRate = 48000.0;
    /// How media Halvora writes store their samples: 32 (float, nothing rounded) or 24 bits.
    int32_t mediaBitDepth = 32;
    double tempoBpm = 120.0;
    TimeSignature timeSignature;
    GridQuantize gridQuantize = GridQuantize::Quarter; // not stored
    float swingAmount = 0.0f;
    float grooveTimingAmount = 0.0f;
    float grooveVelocityAmount = 0.0f;
    float quantizeStrength = 1.0f;
    int32_t scaleRoot = 0;
    bool scaleMinor = false;
    bool scaleSnapEnabled = false;
    float metronomeVolume = 0.8f;
    AutomationWriteMode automationWriteMode = AutomationWriteMode::Read;
    uint8_t smartTempoMode = 0;    // 0 Keep, 1 Adapt, 2 Automatic
    bool metronomeEnabled = false; // not stored
    int32_t countInBars = 1;
    bool punchEnabled = false;
    /// Every plug-in of the song runs in the application rather than in helpers.
    bool pluginsInProcess = false;
    /// The cycle range as it was when the song was saved: the transport owns it while the
    /// song is open; it is copied here to be saved and back when the song opens.
    int64_t cycleStart = 0;
    int64_t cycleEnd = 0;
    bool cycleEnabled = false;
    int64_t punchIn = 0;
    int64_t punchOut = 0;
    int64_t lengthSamples = 0; // not stored
    std::vector<std::shared_ptr<Track>> tracks;
    SessionGrid session;
    uint64_t nextTrackId = 1;
    uint64_t nextClipId = 1;
    uint64_t nextSceneId = 1;
    uint64_t nextMarkerId = 1;
    std::vector<Marker> markers;
    std::vector<TempoMarker> tempoMarkers;
    std::vector<MeterMarker> meterMarkers;
    std::vector<ChordMarker> chordMarkers;
    std::vector<BeatMarker> beatMarkers;
    ControlRoomSettings controlRoom;
    ChannelEq8 masterEq;
    MasteringUtility mastering;
    std::vector<MixerSnapshot> mixerSnapshots;
    std::vector<MixerSnapshotEvent> mixerSnapshotHistory;
    std::vector<ExpressionMap> expressionMaps;
    std::vector<GrooveTemplate> groovePool;
    int32_t activeGrooveIndex = -1;
    bool tempoFollowerEnabled = false;
    float tempoFollowerSmoothing = 0.35f;
    bool tempoFollowerFromInput = true;
    bool lowLatencyMode = false;
    int32_t flashbackBufferSeconds = 30;
    std::unordered_map<std::string, std::vector<std::string>> pluginUserTags;
    std::unordered_map<std::string, std::vector<std::string>> audioMediaTags;
    int32_t scalaPresetIndex = 0;
    std::array<float, 12> scalaCents{};
    std::string scalaName;
    std::string kbmName;
    std::vector<int32_t> kbmDegrees;
    int32_t inputLatencyOffsetSamples = 0;
    int32_t outputLatencyOffsetSamples = 0;
    /// Controllers learned for mixer, send and insert parameters.
    std::vector<MidiMapping> midiMappings;

    std::shared_ptr<Track> findTrack(uint64_t id) const;
    std::shared_ptr<Clip> findClip(uint64_t id) const;
    std::shared_ptr<Track> addTrack(TrackType type, const std::string &trackName);
    std::shared_ptr<Clip> addClip(uint64_t trackId, ClipKind kind);
    void removeClip(uint64_t id);
    bool moveClipToTrack(const std::shared_ptr<Clip> &clip, uint64_t trackId);
    void removeTrack(uint64_t id);
};

} // namespace orvane
