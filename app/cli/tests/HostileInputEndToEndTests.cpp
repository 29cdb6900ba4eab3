#include "app/cli/tests/RunProgram.h"
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

bool allowed(const std::string &entry, const std::vector<std::string> &mayChange) {
    for (const auto &pattern : mayChange) {
        if (pattern == entry) return true;
        if (pattern == "*.partial" && entry.size() > 8 &&
            entry.compare(entry.size() - 8, 8, ".partial") == 0)
            return true;
    }
    return entry == "stdout.txt" || entry == "stderr.txt";
}

} // namespace

// Each damaged or unusual input either renders correctly or fails with its message, never
// hangs, never lets a control character through, and never changes a file it was not told
// to write. Runs in the sanitizer build too, where the program itself is instrumented.
TEST(HostileInput, RendersCorrectlyOrFailsWithItsMessageAndTouchesNothingElse) {
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

        const ProgramRun run = runHalvora(hostile.arguments(project, scratch), scratch);
        ASSERT_EQ(run.signal, 0) << run.errors;
        EXPECT_EQ(run.exitStatus, hostile.status) << run.errors;
        EXPECT_EQ(run.errors.find("Sanitizer"), std::string::npos) << run.errors;
        EXPECT_EQ(run.errors.find("runtime error"), std::string::npos) << run.errors;
        if (hostile.message.empty()) {
            EXPECT_EQ(run.errors, "");
        } else {
            EXPECT_NE(run.errors.find(hostile.message), std::string::npos) << run.errors;
        }
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
    const auto temporaries = [&outputs] {
        int found = 0;
        for (const auto &entry : fs::directory_iterator(outputs))
            if (entry.path().extension() == ".partial") ++found;
        return found;
    };
    for (const int signal : {SIGINT, SIGTERM}) {
        for (const char *verb : {"render"}) {
            std::vector<std::string> arguments = {
                verb,       folder.string(), "-o",     (outputs / "long.wav").string(),
                "--length", "400000000",     "--quiet"};
            const RunningProgram program = startHalvora(arguments, scratch);
            // Until the render is writing its temporary (or has ended, which fails below).
            for (int wait = 0; wait < 2000 && temporaries() == 0; ++wait)
                ::usleep(5000);
            ::kill(program.pid, signal);
            const ProgramRun run = finishHalvora(program);
            EXPECT_EQ(run.signal, signal) << verb << ": " << run.errors;
            EXPECT_EQ(temporaries(), 0) << verb << " ended by signal " << signal;
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
