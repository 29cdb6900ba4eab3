#include "app/cli/tests/RunProgram.h"
#include "app/shell/tests/ApplicationTestSupport.h"
#include "core/project_io/ProjectFolder.h"
#include "tests/support/TestWavFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <numbers>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 48000.0;
constexpr uint64_t audioTrack = 1;
constexpr uint64_t audioClip = 1;
constexpr int64_t renderFrames = 24000;

/// A one-second tone on an audio track and a chord on a MIDI track.
Project makeSong() {
    Project project;
    project.sampleRate = rate;
    auto track = project.addTrack(TrackType::Audio, "Tone");
    auto clip = project.addClip(track->id, ClipKind::Audio);
    auto samples = std::make_shared<std::vector<float>>(2 * 48000);
    for (std::size_t frame = 0; frame < 48000; ++frame)
        (*samples)[2 * frame] = (*samples)[2 * frame + 1] =
            0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 440.0 * frame / rate));
    clip->audio = std::move(samples);
    clip->length = 48000;
    auto midi = project.addTrack(TrackType::Midi, "Keys");
    auto phrase = project.addClip(midi->id, ClipKind::Midi);
    phrase->length = 48000;
    phrase->notes.push_back(MidiNote{64, 0.7f, 0, 24000, 1.0f, 0.0f});
    return project;
}

// Media files written by hand, the way other programs write them.

struct Encoding {
    uint16_t tag; // 1 PCM, 3 float, 0xFFFE extensible
    uint16_t bits;
    uint32_t sampleRate;
    bool oddChunkFirst = false;
};

/// One second of a 440 Hz tone at half scale, stereo, in the given encoding.
std::string toneWav(const Encoding &encoding) {
    const uint32_t frames = encoding.sampleRate;
    const int width = encoding.bits / 8;
    std::vector<uint8_t> data;
    for (uint32_t frame = 0; frame < frames; ++frame) {
        const double value =
            0.5 * std::sin(2.0 * std::numbers::pi * 440.0 * frame / encoding.sampleRate);
        for (int channel = 0; channel < 2; ++channel) {
            if (encoding.tag == 3 && encoding.bits == 32) {
                const float sample = static_cast<float>(value);
                uint32_t word;
                std::memcpy(&word, &sample, 4);
                putLittleEndian(data, word, 4);
            } else if (encoding.tag == 3) {
                uint64_t word;
                std::memcpy(&word, &value, 8);
                putLittleEndian(data, word, 8);
            } else if (encoding.bits == 8) {
                putLittleEndian(data, static_cast<uint64_t>(std::lround(128 + value * 127)), 1);
            } else {
                const auto scale = static_cast<double>((int64_t{1} << (encoding.bits - 1)) - 1);
                putLittleEndian(data, static_cast<uint64_t>(std::llround(value * scale)), width);
            }
        }
    }
    std::vector<uint8_t> format;
    putLittleEndian(format, encoding.tag, 2);
    putLittleEndian(format, 2, 2);
    putLittleEndian(format, encoding.sampleRate, 4);
    putLittleEndian(format, uint64_t{encoding.sampleRate} * 2 * width, 4);
    putLittleEndian(format, 2 * width, 2);
    putLittleEndian(format, encoding.bits, 2);
    if (encoding.tag == 0xFFFE) {
        putLittleEndian(format, 22, 2);
        putLittleEndian(format, encoding.bits, 2);
        putLittleEndian(format, 3, 4);
        format.insert(format.end(), {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                     0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    }
    RiffBuilder riff;
    if (encoding.oddChunkFirst) riff.chunk("LIST", 3, {'a', 'b', 'c', 0});
    riff.chunk("fmt ", static_cast<uint32_t>(format.size()), format)
        .chunk("data", static_cast<uint32_t>(data.size()), data)
        .sealed();
    return {riff.bytes.begin(), riff.bytes.end()};
}

void writeText(const fs::path &file, const std::string &text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

std::string readText(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Replaces the first `from` in the project's document.
void editDocument(const fs::path &project, const std::string &from, const std::string &to) {
    std::string text = readText(project / "project.json");
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    writeText(project / "project.json", text);
}

fs::path mediaOf(const fs::path &project) { return project / "media" / "clip_1.wav"; }

/// What a folder holds: each entry's kind and, for files and links, what it says.
std::map<std::string, std::string> snapshot(const fs::path &folder) {
    std::map<std::string, std::string> entries;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        const auto status = entry.symlink_status();
        std::string what;
        if (fs::is_symlink(status))
            what = "link to " + fs::read_symlink(entry.path()).string();
        else if (fs::is_regular_file(status))
            what = "file " + readText(entry.path());
        else if (fs::is_directory(status))
            what = "folder";
        else
            what = "special " + std::to_string(static_cast<int>(status.type()));
        entries[fs::relative(entry.path(), folder).string()] = what;
    }
    return entries;
}

/// A process id nobody has any more.
pid_t deadProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

double peakOf(const WrittenWav &wav) {
    double peak = 0.0;
    for (const int16_t sample : wav.samples)
        peak = std::max(peak, std::abs(sample / 32767.0));
    return peak;
}

/// Rising zero crossings of the left channel per second.
double frequencyOf(const WrittenWav &wav) {
    int crossings = 0;
    const std::size_t frames = wav.samples.size() / 2;
    for (std::size_t frame = 1; frame < frames; ++frame)
        if (wav.samples[2 * (frame - 1)] < 0 && wav.samples[2 * frame] >= 0) ++crossings;
    return crossings * rate / static_cast<double>(frames);
}

struct HostileCase {
    using Input = std::function<std::string(const fs::path &project, const fs::path &scratch)>;
    using Prepare = std::function<void(const fs::path &project, const fs::path &scratch)>;
    using Arguments =
        std::function<std::vector<std::string>(const fs::path &project, const fs::path &scratch)>;
    HostileCase(const char *what, Prepare prepare, Arguments arguments, int status,
                std::string message, std::vector<std::string> mayChange,
                std::function<void(const WrittenWav &)> checkOutput, Input input = nullptr,
                std::vector<std::string> written = {})
        : what(what), prepare(std::move(prepare)), arguments(std::move(arguments)), status(status),
          message(std::move(message)), mayChange(std::move(mayChange)),
          checkOutput(std::move(checkOutput)), input(std::move(input)),
          written(std::move(written)) {}

    const char *what;
    /// Damages the copy of the song at `project` inside `scratch`.
    std::function<void(const fs::path &project, const fs::path &scratch)> prepare;
    /// The arguments after "render PROJECT" (or the whole command line when `custom`).
    std::function<std::vector<std::string>(const fs::path &project, const fs::path &scratch)>
        arguments;
    int status;
    std::string message; // expected on standard error; empty for none at all
    /// Paths, relative to the scratch folder, that the run may write or remove.
    std::vector<std::string> mayChange;
    std::function<void(const WrittenWav &)> checkOutput;
    /// Lines for `Halvora --headless PROJECT` to read; the command line is then the headless
    /// one and the message is looked for among its status lines too.
    Input input;
    /// Paths, relative to the scratch folder, that must be regular files afterwards.
    std::vector<std::string> written;
};

std::vector<std::string> renderTrack(const fs::path &project, const fs::path &scratch) {
    return {"render",  project.string(),           "-o",       (scratch / "out.wav").string(),
            "--track", std::to_string(audioTrack), "--length", std::to_string(renderFrames)};
}

std::vector<std::string> renderMixTo(const fs::path &project, const fs::path &output) {
    return {"render",        project.string(), "-o",
            output.string(), "--length",       std::to_string(renderFrames)};
}

void expectTone(const WrittenWav &wav) {
    EXPECT_GT(peakOf(wav), 0.3);
    EXPECT_NEAR(frequencyOf(wav), 440.0, 8.0);
}

void expectSound(const WrittenWav &wav) { EXPECT_GT(peakOf(wav), 0.01); }

/// A one-second 16-bit stereo WAV of silence but for one click of `level` steps.
std::string clickWav(int16_t level) {
    std::vector<int16_t> samples(2 * 48000, 0);
    samples[2 * 8000] = samples[2 * 8000 + 1] = level;
    RiffBuilder riff;
    riff.format(1, 2, 48000, 16).data(samples).sealed();
    return {riff.bytes.begin(), riff.bytes.end()};
}

/// A WAV whose data chunk holds no frame at all.
std::string emptyWav() {
    RiffBuilder riff;
    riff.format(1, 2, 48000, 16).data({}).sealed();
    return {riff.bytes.begin(), riff.bytes.end()};
}

void putBigEndian(std::string &bytes, uint64_t value, int size) {
    for (int index = size - 1; index >= 0; --index)
        bytes += static_cast<char>(value >> (8 * index));
}

std::string midiTrack(const std::string &events) {
    std::string chunk = "MTrk";
    putBigEndian(chunk, events.size(), 4);
    return chunk + events;
}

/// A MIDI file of one note after 65 536 of the longest pauses a delta can hold, at one tick a
/// beat and the slowest tempo: some 2^44 beats, far past where any song can reach.
std::string farNoteMidi() {
    std::string conductor("\x00\xFF\x51\x03\xFF\xFF\xFF\x00\xFF\x2F\x00", 11);
    std::string notes;
    for (int pause = 0; pause < 65536; ++pause)
        notes += std::string("\xFF\xFF\xFF\x7F\xFF\x01\x00", 7); // an empty text event
    notes += std::string("\x00\x90\x3C\x40\x01\x80\x3C\x00\x00\xFF\x2F\x00", 12);
    std::string file = "MThd";
    putBigEndian(file, 6, 4);
    putBigEndian(file, 1, 2); // format 1
    putBigEndian(file, 2, 2); // two tracks
    putBigEndian(file, 1, 2); // one tick a beat
    return file + midiTrack(conductor) + midiTrack(notes);
}

/// The song with an LV2 insert on its audio track whose id names no plug-in.
void addLv2InsertWithoutUri(const fs::path &project) {
    std::optional<Project> song = project_io::loadProject(project.string());
    ASSERT_TRUE(song);
    InsertSlot insert;
    insert.pluginId = "lv2:";
    insert.displayName = "Nameless";
    song->findTrack(audioTrack)->inserts.push_back(insert);
    ASSERT_TRUE(project_io::saveProject(*song, project.string(), false).ok);
}

std::vector<std::string> headless(const fs::path &project, const fs::path &) {
    return {"--headless", project.string()};
}

std::vector<std::string> renderWith(const fs::path &project, const fs::path &scratch,
                                    std::vector<std::string> options) {
    std::vector<std::string> arguments = renderMixTo(project, scratch / "out.wav");
    arguments.insert(arguments.end(), options.begin(), options.end());
    return arguments;
}

HostileCase headlessCase(const char *what,
                         std::function<void(const fs::path &, const fs::path &)> prepare,
                         std::function<std::string(const fs::path &, const fs::path &)> input,
                         std::string message, std::vector<std::string> mayChange) {
    return {what,    std::move(prepare), headless, 0, message, std::move(mayChange),
            nullptr, std::move(input),   {}};
}

HostileCase encodingCase(const char *what, Encoding encoding) {
    return {what,
            [encoding](const fs::path &project, const fs::path &) {
                writeText(mediaOf(project), toneWav(encoding));
            },
            renderTrack,
            0,
            "",
            {"out.wav"},
            expectTone};
}

HostileCase unreadableMediaCase(const char *what, std::function<void(const fs::path &)> make,
                                const std::string &message) {
    return {what,        [make](const fs::path &project, const fs::path &) { make(project); },
            renderTrack, 0,
            message,     {"out.wav"},
            nullptr};
}

HostileCase documentCase(const char *what, std::string from, std::string to) {
    return {
        what,
        [from, to](const fs::path &project, const fs::path &) { editDocument(project, from, to); },
        [](const fs::path &project, const fs::path &scratch) {
            return renderMixTo(project, scratch / "out.wav");
        },
        0,
        "",
        {"out.wav"},
        expectSound};
}

std::vector<HostileCase> hostileCases() {
    return {
        encodingCase("8-bit media", {1, 8, 48000}),
        encodingCase("24-bit media", {1, 24, 48000}),
        encodingCase("32-bit integer media", {1, 32, 48000}),
        encodingCase("32-bit float media", {3, 32, 48000}),
        encodingCase("64-bit float media", {3, 64, 48000}),
        encodingCase("extensible 16-bit media", {0xFFFE, 16, 48000}),
        encodingCase("extensible 24-bit media", {0xFFFE, 24, 48000}),
        encodingCase("media with an odd-sized chunk before the data", {1, 16, 48000, true}),
        encodingCase("media at 8 kHz plays at its own pitch", {1, 16, 8000}),
        encodingCase("media at 44.1 kHz plays at its own pitch", {1, 24, 44100}),
        unreadableMediaCase(
            "media that is a FIFO",
            [](const fs::path &project) {
                fs::remove(mediaOf(project));
                ::mkfifo(mediaOf(project).c_str(), 0600);
            },
            "media file \"media/clip_1.wav\" of clip 1 is unreadable (not a regular file)"),
        unreadableMediaCase(
            "media that is standard input",
            [](const fs::path &project) {
                editDocument(project, "\"media/clip_1.wav\"", "\"/dev/stdin\"");
            },
            "media file \"/dev/stdin\" of clip 1 is unreadable (not a regular file)"),
        unreadableMediaCase(
            "media that is text",
            [](const fs::path &project) { writeText(mediaOf(project), "hello"); },
            "is unreadable (not an audio file that can be read)"),
        unreadableMediaCase(
            "media name with terminal controls",
            [](const fs::path &project) {
                editDocument(project, "\"media/clip_1.wav\"",
                             "\"x\\nHalvora render: all media loaded\\u001b]0;owned\\u0007\"");
            },
            "media file \"x\\x0aHalvora render: all media loaded\\x1b]0;owned\\x07\" of clip 1 "
            "is missing"),
        {"media named with a \\u escape",
         [](const fs::path &project, const fs::path &) {
             fs::rename(mediaOf(project), project / "media" / "Caf\xC3\xA9.wav");
             editDocument(project, "\"media/clip_1.wav\"", "\"media/Caf\\u00e9.wav\"");
         },
         renderTrack,
         0,
         "",
         {"out.wav"},
         expectTone},
        {"document with a byte-order mark",
         [](const fs::path &project, const fs::path &) {
             writeText(project / "project.json",
                       "\xEF\xBB\xBF" + readText(project / "project.json"));
         },
         renderTrack,
         0,
         "",
         {"out.wav"},
         expectTone},
        documentCase("note pitch 1e9", "\"pitch\":64", "\"pitch\":1e9"),
        documentCase("tuning cents 3e38", "\"scalaCents\": [0", "\"scalaCents\": [3e38"),
        documentCase("automation of 3e38", "\"volumeAutomation\": []",
                     "\"volumeAutomation\": [{\"t\":0,\"v\":3e38},{\"t\":10,\"v\":-3e38}]"),
        documentCase("stretch ratio 1e308", "\"stretchRatio\":1", "\"stretchRatio\":1e308"),
        {"document that is a FIFO",
         [](const fs::path &project, const fs::path &) {
             fs::remove(project / "project.json");
             ::mkfifo((project / "project.json").c_str(), 0600);
         },
         renderTrack,
         1,
         "project.json\" is not a regular file",
         {},
         nullptr},
        {"output that is a FIFO",
         [](const fs::path &, const fs::path &scratch) {
             ::mkfifo((scratch / "pipe.wav").c_str(), 0600);
         },
         [](const fs::path &project, const fs::path &scratch) {
             return renderMixTo(project, scratch / "pipe.wav");
         },
         1,
         "it is not a regular file",
         {},
         nullptr},
        {"output that is a device",
         nullptr,
         [](const fs::path &project, const fs::path &) {
             return renderMixTo(project, "/dev/null");
         },
         1,
         "it is not a regular file",
         {},
         nullptr},
        {"output inside the project folder",
         nullptr,
         [](const fs::path &project, const fs::path &) {
             return renderMixTo(project, mediaOf(project));
         },
         1,
         "lies inside the project folder",
         {},
         nullptr},
        {"output over the project's document through another path",
         nullptr,
         [](const fs::path &project, const fs::path &) {
             return renderMixTo(project, project / "media" / ".." / "project.json");
         },
         1,
         "lies inside the project folder",
         {},
         nullptr},
        {"a planted link at the old temporary name",
         [](const fs::path &, const fs::path &scratch) {
             writeText(scratch / "victim.txt", "victim contents");
             fs::create_symlink(scratch / "victim.txt", scratch / "out.wav.partial");
         },
         [](const fs::path &project, const fs::path &scratch) {
             return renderMixTo(project, scratch / "out.wav");
         },
         0,
         "",
         {"out.wav"},
         expectSound},
        {"output that is a link is replaced, its target kept",
         [](const fs::path &, const fs::path &scratch) {
             writeText(scratch / "victim.txt", "victim contents");
             fs::create_symlink(scratch / "victim.txt", scratch / "out.wav");
         },
         [](const fs::path &project, const fs::path &scratch) {
             return renderMixTo(project, scratch / "out.wav");
         },
         0,
         "",
         {"out.wav"},
         expectSound},
        {"temporary file of a killed render",
         [](const fs::path &, const fs::path &scratch) {
             writeText(scratch / (".halvora-render-" + std::to_string(deadProcess()) +
                                  "-0badf00d.partial"),
                       "RIFF cut short");
         },
         [](const fs::path &project, const fs::path &scratch) {
             return renderMixTo(project, scratch / "out.wav");
         },
         0,
         "",
         {"out.wav", "*.partial"},
         expectSound},
        headlessCase("MIDI export onto the open project's document", nullptr,
                     [](const fs::path &project, const fs::path &) {
                         return "export-midi " + (project / "project.json").string() + "\nquit\n";
                     },
                     "MIDI export failed: cannot write", {}),
        headlessCase("MIDI export onto the open project's media", nullptr,
                     [](const fs::path &project, const fs::path &) {
                         return "export-midi " + mediaOf(project).string() + "\nquit\n";
                     },
                     "lies inside the project folder", {}),
        headlessCase(
            "MIDI export beside a file of the user's named like its old temporary",
            [](const fs::path &, const fs::path &scratch) {
                writeText(scratch / "out.mid.partial", "mine");
            },
            [](const fs::path &, const fs::path &scratch) {
                return "export-midi " + (scratch / "out.mid").string() + "\nquit\n";
            },
            "MIDI file exported", {"out.mid"}),
        headlessCase(
            "export onto a folder",
            [](const fs::path &, const fs::path &scratch) {
                fs::create_directory(scratch / "folder.wav");
            },
            [](const fs::path &, const fs::path &scratch) {
                return "export " + (scratch / "folder.wav").string() + "\nquit\n";
            },
            "Export failed: cannot write", {}),
        headlessCase(
            "export onto a FIFO",
            [](const fs::path &, const fs::path &scratch) {
                ::mkfifo((scratch / "pipe.wav").c_str(), 0600);
            },
            [](const fs::path &, const fs::path &scratch) {
                return "export " + (scratch / "pipe.wav").string() + "\nquit\n";
            },
            "it is not a regular file (a device or a pipe is never replaced)", {}),
        headlessCase(
            "MIDI import of a note past the end of the timeline",
            [](const fs::path &, const fs::path &scratch) {
                writeText(scratch / "far.mid", farNoteMidi());
            },
            [](const fs::path &, const fs::path &scratch) {
                return "import-midi " + (scratch / "far.mid").string() + "\nsave\nquit\n";
            },
            "Could not import the MIDI file: its notes reach beyond the end of the timeline",
            {"song.halvora/project.json"}),
        {"analysis of a WAV without frames",
         [](const fs::path &, const fs::path &scratch) {
             writeText(scratch / "empty.wav", emptyWav());
         },
         [](const fs::path &, const fs::path &scratch) {
             return std::vector<std::string>{"analyze", (scratch / "empty.wav").string()};
         },
         1,
         "it holds no samples (0 frames)",
         {},
         nullptr},
        {"a FIFO named like a stem",
         [](const fs::path &, const fs::path &scratch) {
             fs::create_directory(scratch / "stems");
             ::mkfifo((scratch / "stems" / "Tone.wav").c_str(), 0600);
         },
         [](const fs::path &project, const fs::path &scratch) {
             return renderWith(project, scratch, {"--stems", (scratch / "stems").string()});
         },
         1,
         "Tone.wav\": it is not a regular file",
         {},
         nullptr},
        {"the mix onto one of the stems",
         [](const fs::path &, const fs::path &scratch) { fs::create_directory(scratch / "stems"); },
         [](const fs::path &project, const fs::path &scratch) {
             return std::vector<std::string>{"render",   project.string(),
                                             "-o",       (scratch / "stems" / "Tone.wav").string(),
                                             "--stems",  (scratch / "stems").string(),
                                             "--length", std::to_string(renderFrames)};
         },
         1,
         "would replace the mix written to the same file",
         {},
         nullptr},
        {"stems into a folder that does not exist yet",
         nullptr,
         [](const fs::path &project, const fs::path &scratch) {
             return renderWith(project, scratch, {"--stems", (scratch / "new" / "stems").string()});
         },
         0,
         "",
         {"out.wav", "new*"},
         expectSound,
         nullptr,
         {"new/stems/Tone.wav", "new/stems/Keys.wav"}},
        {"stems into a folder below a file",
         [](const fs::path &, const fs::path &scratch) { writeText(scratch / "file", "mine"); },
         [](const fs::path &project, const fs::path &scratch) {
             return renderWith(project, scratch,
                               {"--stems", (scratch / "file" / "stems").string()});
         },
         1,
         "cannot create the folder",
         {},
         nullptr},
        {"stems into the project folder that does not exist yet",
         nullptr,
         [](const fs::path &project, const fs::path &scratch) {
             return renderWith(project, scratch, {"--stems", (project / "new").string()});
         },
         1,
         "lies inside the project folder",
         {},
         nullptr},
        {"--quality with WAV",
         nullptr,
         [](const fs::path &project, const fs::path &scratch) {
             return renderWith(project, scratch, {"--quality", "0.5"});
         },
         2,
         "--quality applies to ogg and mp3; wav takes --bits",
         {},
         nullptr},
        {"FLAC longer than a FLAC file holds",
         nullptr,
         [](const fs::path &project, const fs::path &scratch) {
             return std::vector<std::string>{
                 "render",   project.string(), "-o",       (scratch / "out.flac").string(),
                 "--format", "flac",           "--length", "2305843009213693952"};
         },
         1,
         "more than a FLAC file holds",
         {},
         nullptr},
        {"LV2 insert whose id has no URI",
         [](const fs::path &project, const fs::path &) { addLv2InsertWithoutUri(project); },
         renderTrack,
         0,
         "LV2 unavailable: Nameless (no URI)",
         {"out.wav"},
         expectTone},
        {"loudness normalisation of a click in silence",
         [](const fs::path &project, const fs::path &) {
             writeText(mediaOf(project), clickWav(3));
         },
         [](const fs::path &project, const fs::path &scratch) {
             std::vector<std::string> arguments = renderTrack(project, scratch);
             arguments.insert(arguments.end(), {"--normalize", "lufs:-14"});
             return arguments;
         },
         0,
         "and was held to +20 dB; the file is quieter than the target",
         {"out.wav"},
         [](const WrittenWav &wav) {
             // Raised by 20 dB at most (dither adds a step either way), not to the ceiling.
             EXPECT_GE(peakOf(wav), 20 / 32767.0);
             EXPECT_LE(peakOf(wav), 50 / 32767.0);
         }},
        {"reference project over an existing project",
         nullptr,
         [](const fs::path &project, const fs::path &) {
             return std::vector<std::string>{
                 "reference-project", project.string(), "--tracks", "1", "--seconds", "1"};
         },
         1,
         "give --force to overwrite it",
         {},
         nullptr},
    };
}

/// Whether the program `pid` holds a file in `folder` open: the one a render writes, which
/// has no name there until it is complete.
bool writesInto(pid_t pid, const fs::path &folder) {
    const std::string prefix = fs::canonical(folder).string() + "/";
    const fs::path descriptors = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code fault;
    for (fs::directory_iterator entry(descriptors, fault), end; !fault && entry != end;
         entry.increment(fault)) {
        std::error_code unreadable;
        const fs::path target = fs::read_symlink(entry->path(), unreadable);
        if (!unreadable && target.string().starts_with(prefix)) return true;
    }
    return false;
}

bool allowed(const std::string &entry, const std::vector<std::string> &mayChange) {
    for (const auto &pattern : mayChange) {
        if (pattern == entry) return true;
        if (pattern == "*.partial" && entry.size() > 8 &&
            entry.compare(entry.size() - 8, 8, ".partial") == 0)
            return true;
        if (pattern.size() > 1 && pattern.back() == '*' && pattern != "*.partial" &&
            entry.starts_with(pattern.substr(0, pattern.size() - 1)))
            return true;
    }
    return entry == "stdout.txt" || entry == "stderr.txt" || entry == "stdin.txt";
}

} // namespace

// Each damaged or unusual input either renders correctly or fails with its message, never
// hangs, never lets a control character through, and never changes a file it was not told
// to write. Runs in the sanitizer build too, where the program itself is instrumented.
TEST(HostileInput, RendersCorrectlyOrFailsWithItsMessageAndTouchesNothingElse) {
    // The headless sessions start on the null device in a home of their own, in English.
    TemporaryHome home("hostile");
    home.rememberOutputDevice("Null");
    const ScopedEnvironment language("LANGUAGE", std::optional<std::string>("en"));
    const ScopedEnvironment lang("LANG", std::optional<std::string>("C.UTF-8"));
    const ScopedEnvironment all("LC_ALL", std::nullopt);
    const ScopedEnvironment messages("LC_MESSAGES", std::nullopt);
    const fs::path scratchRoot = makeScratchFolder("hostile");
    const fs::path song = scratchRoot / "song.halvora";
    {
        Project project = makeSong();
        const auto saved = project_io::saveProject(project, song.string(), false);
        ASSERT_TRUE(saved.ok) << saved.error;
    }
    int index = 0;
    for (const HostileCase &hostile : hostileCases()) {
        SCOPED_TRACE(hostile.what);
        const fs::path scratch = scratchRoot / ("case" + std::to_string(index++));
        fs::create_directories(scratch);
        const fs::path project = scratch / "song.halvora";
        fs::copy(song, project, fs::copy_options::recursive);
        if (hostile.prepare) hostile.prepare(project, scratch);
        const auto before = snapshot(scratch);

        const std::string input = hostile.input ? hostile.input(project, scratch) : "";
        const ProgramRun run = runHalvora(hostile.arguments(project, scratch), scratch, input);
        ASSERT_EQ(run.signal, 0) << run.errors;
        EXPECT_EQ(run.exitStatus, hostile.status) << run.output << run.errors;
        EXPECT_EQ(run.errors.find("Sanitizer"), std::string::npos) << run.errors;
        EXPECT_EQ(run.errors.find("runtime error"), std::string::npos) << run.errors;
        // A headless session answers on its status lines, which go to standard output.
        const std::string &told = hostile.input ? run.output : run.errors;
        if (hostile.message.empty()) {
            EXPECT_EQ(run.errors, "");
        } else {
            EXPECT_NE(told.find(hostile.message), std::string::npos) << told << run.errors;
        }
        for (const std::string &file : hostile.written)
            EXPECT_TRUE(fs::is_regular_file(scratch / file)) << file << " was not written";
        for (const char byte : run.errors) {
            EXPECT_TRUE(byte == '\n' || static_cast<unsigned char>(byte) >= 0x20)
                << "raw control byte " << static_cast<int>(byte) << " in: " << run.errors;
        }

        const auto after = snapshot(scratch);
        for (const auto &[entry, was] : before) {
            const auto now = after.find(entry);
            if (allowed(entry, hostile.mayChange)) continue;
            EXPECT_TRUE(now != after.end() && now->second == was) << entry << " was changed";
        }
        const bool sweepsTemporaries =
            std::count(hostile.mayChange.begin(), hostile.mayChange.end(), "*.partial") > 0;
        for (const auto &[entry, is] : after) {
            EXPECT_TRUE(before.count(entry) || allowed(entry, hostile.mayChange))
                << entry << " was left behind";
            if (sweepsTemporaries) {
                EXPECT_FALSE(entry.ends_with(".partial")) << entry << " was not cleared away";
            }
        }
        if (hostile.status == 0 && hostile.checkOutput) {
            const fs::path out = scratch / "out.wav";
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out)));
            const WrittenWav wav = readWrittenWav(out);
            ASSERT_TRUE(wav.valid);
            EXPECT_EQ(wav.sampleRate, 48000u);
            hostile.checkOutput(wav);
        }
    }
    fs::remove_all(scratchRoot);
}

TEST(HostileInput, ImpossibleValuesAreRefusedWithTheirReason) {
    const fs::path scratch = makeScratchFolder("impossible");
    const fs::path folder = scratch / "song.halvora";
    Project song = makeSong();
    ASSERT_TRUE(project_io::saveProject(song, folder.string(), false).ok);
    // A 16-bit WAV that claims 0 Hz, and a float one of infinities.
    std::string zeroRate = toneWav({1, 16, 48000});
    zeroRate.replace(24, 4, std::string(4, '\0'));
    writeText(scratch / "zero.wav", zeroRate);
    std::string infinite = toneWav({3, 32, 48000});
    const float infinity = std::numeric_limits<float>::infinity();
    for (std::size_t at = infinite.size() - 4 * 2 * 48000; at + 4 <= infinite.size(); at += 4)
        infinite.replace(at, 4, reinterpret_cast<const char *>(&infinity), 4);
    writeText(scratch / "infinite.wav", infinite);
    struct Case {
        std::vector<std::string> arguments;
        int exitStatus;
        const char *reason;
    };
    const std::string out = (scratch / "out.wav").string();
    const std::vector<Case> cases = {
        {{"record", folder.string(), "--track", "1", "--seconds", "0.5", "--cycle", "0:48"},
         2,
         "--cycle must span at least 4096 samples (one block), not 48"},
        {{"play", folder.string(), "--device", "null", "--start", "9223372036854775807",
          "--seconds", "1"},
         1,
         "leaves no room to play --seconds"},
        {{"perform", folder.string(), "-o", out, "--length", "48000",
          "0:launch-clip:" + std::to_string(audioClip)},
         2,
         "is an arrangement clip, not a session clip"},
        {{"analyze", (scratch / "zero.wav").string()}, 1, "its sample rate of 0 Hz lies outside"},
        {{"analyze", (scratch / "infinite.wav").string()},
         1,
         "it holds infinite or impossibly large sample values"},
    };
    for (const Case &check : cases) {
        const ProgramRun run = runHalvora(check.arguments, scratch);
        EXPECT_EQ(run.exitStatus, check.exitStatus) << check.arguments[0] << ": " << run.errors;
        EXPECT_NE(run.errors.find(check.reason), std::string::npos)
            << check.arguments[0] << ": " << run.errors;
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(folder / "media" / "clip_3.wav")) << "no take was recorded";
    fs::remove_all(scratch);
}

TEST(HostileInput, AnInterruptedRenderLeavesNoTemporary) {
    const fs::path scratch = makeScratchFolder("interrupted");
    const fs::path folder = scratch / "song.halvora";
    Project song = makeSong();
    ASSERT_TRUE(project_io::saveProject(song, folder.string(), false).ok);
    const fs::path outputs = scratch / "out";
    fs::create_directories(outputs);
    const auto leftovers = [&outputs] {
        int found = 0;
        for ([[maybe_unused]] const auto &entry : fs::directory_iterator(outputs))
            ++found;
        return found;
    };
    for (const int signal : {SIGINT, SIGTERM}) {
        for (const char *verb : {"render"}) {
            std::vector<std::string> arguments = {
                verb,       folder.string(), "-o",     (outputs / "long.wav").string(),
                "--length", "400000000",     "--quiet"};
            const RunningProgram program = startHalvora(arguments, scratch);
            // Until the render is writing its file (or has ended, which fails below).
            bool started = false;
            for (int wait = 0; wait < 2000 && !(started = writesInto(program.pid, outputs)); ++wait)
                ::usleep(5000);
            EXPECT_TRUE(started) << verb << " never opened its file";
            ::kill(program.pid, signal);
            const ProgramRun run = finishHalvora(program);
            EXPECT_EQ(run.signal, signal) << verb << ": " << run.errors;
            EXPECT_EQ(leftovers(), 0) << verb << " ended by signal " << signal;
            EXPECT_FALSE(fs::exists(outputs / "long.wav")) << verb;
        }
    }
    fs::remove_all(scratch);
}

TEST(HostileInput, ARenderNamesTheTracksItSilencedForNonFiniteValues) {
    const fs::path scratch = makeScratchFolder("silenced");
    const fs::path folder = scratch / "song.halvora";
    Project song = makeSong();
    // Each stock reverb adds gain: a thousand in series overflow to infinity.
    InsertSlot reverb;
    reverb.pluginId = "stock.reverb";
    reverb.isStock = true;
    song.findTrack(audioTrack)->inserts.assign(1000, reverb);
    ASSERT_TRUE(project_io::saveProject(song, folder.string(), false).ok);
    const ProgramRun run =
        runHalvora({"render", folder.string(), "-o", (scratch / "out.wav").string(), "--track",
                    std::to_string(audioTrack), "--length", "24000", "--quiet"},
                   scratch);
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    EXPECT_NE(run.errors.find("Halvora render: warning: track \"Tone\" gave non-finite values "
                              "and was silenced"),
              std::string::npos)
        << run.errors;
    EXPECT_EQ(run.errors.find("\"Keys\""), std::string::npos) << run.errors;
    fs::remove_all(scratch);
}

TEST(HostileInput, ReferenceProjectOverwritesAnExistingProjectOnlyWhenForced) {
    const fs::path scratch = makeScratchFolder("force");
    const fs::path folder = scratch / "mine.halvora";
    fs::create_directories(folder);
    writeText(folder / "project.json", "{\"name\":\"mine\"}");
    const std::vector<std::string> write{
        "reference-project", folder.string(), "--tracks", "1", "--seconds", "1"};
    const ProgramRun refused = runHalvora(write, scratch);
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(readText(folder / "project.json"), "{\"name\":\"mine\"}");

    std::vector<std::string> forced = write;
    forced.push_back("--force");
    const ProgramRun written = runHalvora(forced, scratch);
    EXPECT_EQ(written.exitStatus, 0) << written.errors;
    EXPECT_NE(readText(folder / "project.json"), "{\"name\":\"mine\"}");

    const ProgramRun help = runHalvora({"reference-project", "--help"}, scratch);
    EXPECT_NE(help.output.find("--force"), std::string::npos);
    fs::remove_all(scratch);
}

namespace {

/// Runs `scenario` in a child process with a mount namespace of its own, in which a tmpfs of
/// `kibibytes` is mounted on `folder`: a real file system that fills up, which disappears with
/// the child. What the scenario returns comes back; nullopt when this machine lets no process
/// mount one (as root, or as root of a user namespace of its own).
std::optional<std::string> runOnSmallFileSystem(const fs::path &folder, int kibibytes,
                                                const std::function<std::string()> &scenario) {
    int report[2];
    if (::pipe(report) != 0) return std::nullopt;
    const uid_t user = ::geteuid();
    const gid_t group = ::getegid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        const auto writeFile = [](const char *path, const std::string &text) {
            std::ofstream(path) << text;
        };
        bool isolated = ::unshare(CLONE_NEWNS) == 0;
        if (!isolated && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
            writeFile("/proc/self/setgroups", "deny");
            writeFile("/proc/self/uid_map", "0 " + std::to_string(user) + " 1");
            writeFile("/proc/self/gid_map", "0 " + std::to_string(group) + " 1");
            isolated = true;
        }
        const std::string size = "size=" + std::to_string(kibibytes) + "k";
        if (!isolated || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", folder.c_str(), "tmpfs", 0, size.c_str()) != 0)
            ::_exit(3);
        const std::string text = scenario();
        const bool sent =
            ::write(report[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::_exit(sent ? 0 : 4);
    }
    ::close(report[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(report[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3) return std::nullopt;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    return text;
}

/// Fills the file system `folder` is on until a write fails.
void fillUp(const fs::path &file) {
    const int descriptor = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::vector<char> zeros(65536, 0);
    for (std::size_t chunk = zeros.size(); chunk > 0; chunk /= 2)
        while (::write(descriptor, zeros.data(), chunk) == static_cast<ssize_t>(chunk)) {
        }
    ::close(descriptor);
}

std::vector<std::string> entriesOf(const fs::path &folder) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// A render onto a file system that is full fails with the reason, in every format, and leaves
// the earlier file as it was; one onto a full disk with no earlier file leaves none.
TEST(HostileInput, ARenderOntoAFullDiskFailsAndKeepsTheEarlierFile) {
    const fs::path scratch = makeScratchFolder("full-disk");
    const fs::path song = scratch / "song.halvora";
    Project made = makeSong();
    ASSERT_TRUE(project_io::saveProject(made, song.string(), false).ok);
    const fs::path full = scratch / "full";
    fs::create_directories(full);
    const std::vector<std::string> formats = {"mp3", "ogg", "flac", "wav"};
    const auto renderTo = [&](const fs::path &out, const std::string &format) {
        return runHalvora({"render", song.string(), "-o", out.string(), "--format", format,
                           "--length", std::to_string(renderFrames), "--quiet"},
                          scratch);
    };
    // Each format's outcome as lines the test below reads: what the child saw.
    const std::optional<std::string> report = runOnSmallFileSystem(full, 1024, [&] {
        std::ostringstream lines;
        for (const std::string &format : formats) {
            const fs::path out = full / ("song." + format);
            const ProgramRun good = renderTo(out, format);
            const std::string earlier = readText(out);
            fillUp(full / "fill");
            const ProgramRun onFull = renderTo(out, format);
            const ProgramRun fresh = renderTo(full / ("new." + format), format);
            std::string entries;
            for (const std::string &name : entriesOf(full))
                entries += name + ",";
            const auto firstLine = [](const std::string &text) {
                return text.substr(0, text.find('\n'));
            };
            lines << format << "|" << good.exitStatus << "|" << earlier.size() << "|"
                  << (readText(out) == earlier ? "kept" : "changed") << "|" << onFull.exitStatus
                  << "|" << firstLine(onFull.errors) << firstLine(onFull.output) << "|"
                  << fresh.exitStatus << "|" << entries << "\n";
            fs::remove(full / "fill");
            fs::remove(out);
        }
        return lines.str();
    });
    if (!report) GTEST_SKIP() << "no small file system can be mounted here";
    std::istringstream lines(*report);
    std::size_t seen = 0;
    for (std::string line; std::getline(lines, line); ++seen) {
        std::vector<std::string> field;
        for (std::size_t from = 0, bar;; from = bar + 1) {
            bar = line.find('|', from);
            field.push_back(line.substr(from, bar - from));
            if (bar == std::string::npos) break;
        }
        ASSERT_EQ(field.size(), 8u) << line;
        SCOPED_TRACE(field[0]);
        EXPECT_EQ(field[1], "0") << "the first render fits";
        EXPECT_GT(std::stoul(field[2]), 1000u) << "the earlier file holds the song";
        EXPECT_EQ(field[3], "kept");
        EXPECT_EQ(field[4], "1");
        // The reason, once, on standard error; nothing on standard output.
        EXPECT_NE(field[5].find("No space left on device"), std::string::npos) << field[5];
        EXPECT_TRUE(field[5].ends_with(": No space left on device")) << field[5];
        EXPECT_EQ(field[5].find("libsndfile"), std::string::npos) << field[5];
        EXPECT_EQ(field[6], "1") << "a fresh file onto the full disk";
        EXPECT_EQ(field[7], "fill,song." + field[0] + ",") << "nothing else is left";
    }
    EXPECT_EQ(seen, formats.size()) << *report;
    fs::remove_all(scratch);
}

// kill -9 reaches no handler: whatever point of the render it lands on, the folder holds what
// it held before, the user's earlier file as it was, and nothing else.
TEST(HostileInput, ARenderKilledOutrightLeavesNothingBehind) {
    const fs::path scratch = makeScratchFolder("killed");
    const fs::path song = scratch / "song.halvora";
    Project made = makeSong();
    ASSERT_TRUE(project_io::saveProject(made, song.string(), false).ok);
    const fs::path outputs = scratch / "out";
    fs::create_directories(outputs);
    writeText(outputs / "earlier.wav", "the user's earlier file");
    const auto before = snapshot(outputs);
    for (const char *name : {"earlier.wav", "fresh.wav"}) {
        for (const int delayMs : {0, 50, 250}) {
            SCOPED_TRACE(std::string(name) + " after " + std::to_string(delayMs) + " ms");
            const RunningProgram program =
                startHalvora({"render", song.string(), "-o", (outputs / name).string(), "--format",
                              "flac", "--length", "400000000", "--quiet"},
                             scratch);
            bool started = false;
            for (int wait = 0; wait < 4000 && !(started = writesInto(program.pid, outputs)); ++wait)
                ::usleep(2000);
            EXPECT_TRUE(started) << "the render never opened its file";
            ::usleep(static_cast<useconds_t>(delayMs) * 1000);
            ::kill(program.pid, SIGKILL);
            const ProgramRun run = finishHalvora(program);
            EXPECT_EQ(run.signal, SIGKILL) << run.errors;
            EXPECT_EQ(snapshot(outputs), before);
        }
    }
    fs::remove_all(scratch);
}
