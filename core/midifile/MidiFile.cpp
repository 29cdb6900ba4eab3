#include "core/midifile/MidiFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::midifile {

namespace {

constexpr std::size_t largestFile = 64u << 20;
// Far beyond any song; keeps tick sums far from overflow whatever the deltas claim.
constexpr int64_t lastTick = int64_t{1} << 48;

/// Reads big-endian numbers and variable-length quantities from a span, never past its end.
class ByteReader {
  public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    bool atEnd() const { return at_ >= bytes_.size(); }
    std::size_t remaining() const { return bytes_.size() - at_; }
    std::size_t position() const { return at_; }

    std::optional<uint8_t> byte() {
        if (atEnd()) return std::nullopt;
        return bytes_[at_++];
    }
    std::optional<uint32_t> bigEndian(int count) {
        if (remaining() < static_cast<std::size_t>(count)) return std::nullopt;
        uint32_t value = 0;
        for (int index = 0; index < count; ++index)
            value = value << 8 | bytes_[at_++];
        return value;
    }
    /// At most four bytes, as the format allows (28 bits).
    std::optional<uint32_t> variableLength() {
        uint32_t value = 0;
        for (int index = 0; index < 4; ++index) {
            const auto next = byte();
            if (!next) return std::nullopt;
            value = value << 7 | (*next & 0x7Fu);
            if ((*next & 0x80u) == 0) return value;
        }
        return std::nullopt;
    }
    std::optional<std::span<const uint8_t>> take(std::size_t count) {
        if (remaining() < count) return std::nullopt;
        const auto piece = bytes_.subspan(at_, count);
        at_ += count;
        return piece;
    }

  private:
    std::span<const uint8_t> bytes_;
    std::size_t at_ = 0;
};

struct TrackReading {
    FileTrack track;
    std::vector<FileTempo> tempos;
    std::vector<FileMeter> meters;
    /// Notes still sounding, per channel and pitch, oldest first.
    std::map<int32_t, std::deque<FileNote>> sounding;
};

void startNote(TrackReading &reading, int64_t tick, int32_t channel, int32_t pitch,
               int32_t velocity) {
    reading.sounding[channel * 128 + pitch].push_back({channel, pitch, velocity, tick, 0});
}

void endNote(TrackReading &reading, int64_t tick, int32_t channel, int32_t pitch) {
    auto found = reading.sounding.find(channel * 128 + pitch);
    if (found == reading.sounding.end() || found->second.empty()) return; // a stray note-off
    FileNote note = found->second.front();
    found->second.pop_front();
    note.lengthTicks = tick - note.startTick;
    reading.track.notes.push_back(note);
}

bool readMeta(ByteReader &reader, TrackReading &reading, int64_t tick, bool &ended,
              std::string &error) {
    const auto type = reader.byte();
    const auto length = reader.variableLength();
    if (!type || !length) {
        error = "a meta event is cut short";
        return false;
    }
    const auto data = reader.take(*length);
    if (!data) {
        error = "a meta event claims more bytes than its track holds";
        return false;
    }
    switch (*type) {
    case 0x2F: ended = true; break;
    case 0x03: reading.track.name.assign(data->begin(), data->end()); break;
    case 0x51:
        if (data->size() != 3) {
            error = "a tempo event is not three bytes long";
            return false;
        }
        {
            const uint32_t micros =
                uint32_t{(*data)[0]} << 16 | uint32_t{(*data)[1]} << 8 | (*data)[2];
            if (micros == 0) {
                error = "a tempo event of zero microseconds a beat";
                return false;
            }
            reading.tempos.push_back({tick, micros});
        }
        break;
    case 0x58:
        if (data->size() < 2 || (*data)[0] == 0 || (*data)[1] > 6) {
            error = "a time signature event is malformed";
            return false;
        }
        reading.meters.push_back({tick, (*data)[0], 1 << (*data)[1]});
        break;
    default: break; // text, markers, key signatures, ...: not kept
    }
    return true;
}

int32_t dataBytesOf(uint8_t status) {
    const uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

bool readTrack(std::span<const uint8_t> bytes, TrackReading &reading, std::string &error) {
    ByteReader reader(bytes);
    int64_t tick = 0;
    uint8_t running = 0;
    bool ended = false;
    while (!ended && !reader.atEnd()) {
        const auto delta = reader.variableLength();
        if (!delta) {
            error = "an event time is cut short";
            return false;
        }
        tick = std::min(tick + *delta, lastTick);
        const auto first = reader.byte();
        if (!first) {
            error = "an event is missing after its time";
            return false;
        }
        uint8_t status = *first;
        std::array<uint8_t, 2> data{};
        int32_t have = 0;
        if (status < 0x80) {
            if (running == 0) {
                error = "a data byte without a status (running status before any event)";
                return false;
            }
            data[0] = status;
            have = 1;
            status = running;
        }
        if (status == 0xFF) {
            if (!readMeta(reader, reading, tick, ended, error)) return false;
            continue;
        }
        if (status == 0xF0 || status == 0xF7) {
            const auto length = reader.variableLength();
            if (!length || !reader.take(*length)) {
                error = "a sysex event claims more bytes than its track holds";
                return false;
            }
            running = 0; // sysex cancels running status
            continue;
        }
        if (status >= 0xF0) {
            error = "a system message (status " + std::to_string(status) + ") inside a track";
            return false;
        }
        running = status;
        for (; have < dataBytesOf(status); ++have) {
            const auto next = reader.byte();
            if (!next || *next >= 0x80) {
                error = "a channel event is cut short";
                return false;
            }
            data[static_cast<std::size_t>(have)] = *next;
        }
        const int32_t channel = status & 0x0F;
        const uint8_t kind = status & 0xF0;
        if (kind == 0xC0 &&
            reading.track.programs[static_cast<std::size_t>(channel)] == FileTrack::noProgram)
            reading.track.programs[static_cast<std::size_t>(channel)] = data[0] & 0x7F;
        if (kind == 0x90 && data[1] > 0)
            startNote(reading, tick, channel, data[0], data[1]);
        else if (kind == 0x80 || kind == 0x90)
            endNote(reading, tick, channel, data[0]);
    }
    // Whatever still sounds ends with the track.
    for (auto &[key, notes] : reading.sounding)
        for (const FileNote &open : notes) {
            FileNote note = open;
            note.lengthTicks = tick - note.startTick;
            reading.track.notes.push_back(note);
        }
    reading.sounding.clear();
    std::stable_sort(reading.track.notes.begin(), reading.track.notes.end(),
                     [](const FileNote &a, const FileNote &b) {
                         return a.startTick != b.startTick ? a.startTick < b.startTick
                                                           : a.pitch < b.pitch;
                     });
    return true;
}

// --- writing ---

void putBigEndian(std::vector<uint8_t> &out, uint32_t value, int count) {
    for (int index = count - 1; index >= 0; --index)
        out.push_back(static_cast<uint8_t>(value >> (8 * index)));
}

void putVariableLength(std::vector<uint8_t> &out, uint32_t value) {
    value = std::min<uint32_t>(value, 0x0FFFFFFF);
    std::array<uint8_t, 4> groups{};
    int count = 0;
    do {
        groups[static_cast<std::size_t>(count++)] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value > 0);
    while (count > 1)
        out.push_back(groups[static_cast<std::size_t>(--count)] | 0x80);
    out.push_back(groups[0]);
}

struct TimedEvent {
    int64_t tick = 0;
    int order = 0; // at one tick: maps, then note-offs, then note-ons
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> trackChunk(std::vector<TimedEvent> events) {
    std::stable_sort(events.begin(), events.end(), [](const TimedEvent &a, const TimedEvent &b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    std::vector<uint8_t> body;
    int64_t tick = 0;
    uint8_t running = 0;
    for (const TimedEvent &event : events) {
        putVariableLength(
            body, static_cast<uint32_t>(std::clamp<int64_t>(event.tick - tick, 0, 0x0FFFFFFF)));
        tick = std::max(tick, event.tick);
        const uint8_t status = event.bytes.front();
        const bool channelEvent = status >= 0x80 && status < 0xF0;
        const bool sameStatus = channelEvent && status == running;
        body.insert(body.end(), event.bytes.begin() + (sameStatus ? 1 : 0), event.bytes.end());
        running = channelEvent ? status : 0;
    }
    body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<uint8_t> chunk{'M', 'T', 'r', 'k'};
    putBigEndian(chunk, static_cast<uint32_t>(body.size()), 4);
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

int32_t log2Denominator(int32_t denominator) {
    int32_t power = 0;
    while (power < 6 && (1 << power) < denominator)
        ++power;
    return power;
}

std::vector<TimedEvent> mapEvents(const MidiFile &file) {
    std::vector<TimedEvent> events;
    for (const FileTempo &tempo : file.tempos) {
        const uint32_t micros = std::clamp<uint32_t>(tempo.microsecondsPerQuarter, 1, 0xFFFFFF);
        events.push_back({tempo.tick,
                          0,
                          {0xFF, 0x51, 0x03, static_cast<uint8_t>(micros >> 16),
                           static_cast<uint8_t>(micros >> 8), static_cast<uint8_t>(micros)}});
    }
    for (const FileMeter &meter : file.meters)
        events.push_back(
            {meter.tick,
             0,
             {0xFF, 0x58, 0x04, static_cast<uint8_t>(std::clamp(meter.numerator, 1, 255)),
              static_cast<uint8_t>(log2Denominator(meter.denominator)), 24, 8}});
    return events;
}

std::vector<TimedEvent> noteEvents(const FileTrack &track) {
    std::vector<TimedEvent> events;
    if (!track.name.empty()) {
        TimedEvent name{0, 0, {0xFF, 0x03}};
        putVariableLength(name.bytes, static_cast<uint32_t>(track.name.size()));
        name.bytes.insert(name.bytes.end(), track.name.begin(), track.name.end());
        events.push_back(std::move(name));
    }
    for (const FileNote &note : track.notes) {
        const auto channel = static_cast<uint8_t>(std::clamp(note.channel, 0, 15));
        const auto pitch = static_cast<uint8_t>(std::clamp(note.pitch, 0, 127));
        const auto velocity = static_cast<uint8_t>(std::clamp(note.velocity, 1, 127));
        events.push_back(
            {note.startTick, 2, {static_cast<uint8_t>(0x90 | channel), pitch, velocity}});
        // A note-on of velocity 0 ends a note, so that running status carries across both.
        events.push_back({note.startTick + std::max<int64_t>(note.lengthTicks, 1),
                          1,
                          {static_cast<uint8_t>(0x90 | channel), pitch, 0}});
    }
    return events;
}

} // namespace

bool readMidiFile(std::span<const uint8_t> bytes, MidiFile &file, std::string &error) {
    ByteReader reader(bytes);
    const auto tag = reader.take(4);
    const auto headerLength = reader.bigEndian(4);
    if (!tag || std::memcmp(tag->data(), "MThd", 4) != 0 || !headerLength || *headerLength < 6) {
        error = "not a Standard MIDI File (no MThd header)";
        return false;
    }
    const auto format = reader.bigEndian(2);
    const auto trackCount = reader.bigEndian(2);
    const auto division = reader.bigEndian(2);
    if (!format || !trackCount || !division || !reader.take(*headerLength - 6)) {
        error = "the MIDI file's header is cut short";
        return false;
    }
    if (*format > 1) {
        error = "MIDI file format " + std::to_string(*format) + " is not supported (only 0 and 1)";
        return false;
    }
    if ((*division & 0x8000u) != 0 || *division == 0) {
        error = "the MIDI file counts time in SMPTE frames, not in beats";
        return false;
    }
    MidiFile read;
    read.format = static_cast<int32_t>(*format);
    read.ticksPerQuarter = static_cast<int32_t>(*division);
    while (read.tracks.size() < *trackCount && !reader.atEnd()) {
        const auto chunkTag = reader.take(4);
        const auto length = reader.bigEndian(4);
        if (!chunkTag || !length) {
            error = "a chunk header is cut short";
            return false;
        }
        const auto body = reader.take(*length);
        if (!body) {
            error = "track " + std::to_string(read.tracks.size() + 1) +
                    " claims more bytes than the file holds";
            return false;
        }
        if (std::memcmp(chunkTag->data(), "MTrk", 4) != 0) continue; // chunks of other kinds
        TrackReading reading;
        if (!readTrack(*body, reading, error)) {
            error = "track " + std::to_string(read.tracks.size() + 1) + ": " + error;
            return false;
        }
        read.tracks.push_back(std::move(reading.track));
        read.tempos.insert(read.tempos.end(), reading.tempos.begin(), reading.tempos.end());
        read.meters.insert(read.meters.end(), reading.meters.begin(), reading.meters.end());
    }
    if (read.tracks.size() < *trackCount) {
        error = "the file holds " + std::to_string(read.tracks.size()) + " of the " +
                std::to_string(*trackCount) + " tracks its header announces";
        return false;
    }
    const auto byTick = [](const auto &a, const auto &b) { return a.tick < b.tick; };
    std::stable_sort(read.tempos.begin(), read.tempos.end(), byTick);
    std::stable_sort(read.meters.begin(), read.meters.end(), byTick);
    file = std::move(read);
    return true;
}

bool readMidiFileAt(const std::string &path, MidiFile &file, std::string &error) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        error = "cannot open \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        error = "\"" + path + "\" is not a regular file";
        return false;
    }
    if (static_cast<std::size_t>(status.st_size) > largestFile) {
        ::close(descriptor);
        error = "\"" + path + "\" is too large for a MIDI file";
        return false;
    }
    std::vector<uint8_t> bytes(static_cast<std::size_t>(status.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(descriptor, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    ::close(descriptor);
    bytes.resize(done);
    if (!readMidiFile(bytes, file, error)) {
        error = "\"" + path + "\": " + error;
        return false;
    }
    return true;
}

std::vector<uint8_t> writeMidiFile(const MidiFile &file) {
    std::vector<uint8_t> out{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    putBigEndian(out, static_cast<uint32_t>(file.tracks.size() + 1), 2);
    putBigEndian(out, static_cast<uint32_t>(std::clamp(file.ticksPerQuarter, 1, 0x7FFF)), 2);
    const std::vector<uint8_t> conductor = trackChunk(mapEvents(file));
    out.insert(out.end(), conductor.begin(), conductor.end());
    for (const FileTrack &track : file.tracks) {
        const std::vector<uint8_t> chunk = trackChunk(noteEvents(track));
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

bool writeMidiFileTo(int descriptor, const MidiFile &file) {
    const std::vector<uint8_t> bytes = writeMidiFile(file);
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t put = ::write(descriptor, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool writeMidiFileAt(const std::string &path, const MidiFile &file, std::string &error) {
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    // Created exclusively under a fresh name: a file the user keeps beside the target, under
    // any name, is never opened, replaced or removed.
    std::string temporary = folder + ".halvora-midi-XXXXXX";
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    bool written = descriptor >= 0 && ::fchmod(descriptor, 0644) == 0 &&
                   writeMidiFileTo(descriptor, file) && ::fsync(descriptor) == 0;
    int failure = errno;
    if (descriptor >= 0 && ::close(descriptor) != 0 && written) {
        written = false;
        failure = errno;
    }
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
    if (written) failure = errno;
    if (descriptor >= 0) ::unlink(temporary.c_str());
    error = "cannot write \"" + path + "\": " + std::strerror(failure != 0 ? failure : EIO);
    return false;
}

} // namespace orvane::midifile
