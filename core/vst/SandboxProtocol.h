#pragma once

#include "core/vst/Vst3Plugin.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::vst {

/// Longest reply line the application accepts, apart from "STATE " replies.
constexpr size_t replyLineLimit = 65536;
/// Longest "STATE " reply: room for a 32 MB plug-in state written as hexadecimal pairs.
constexpr size_t stateReplyLimit = 6 + 64u * 1024u * 1024u;
/// Most frames one "PROCESS " exchange may carry.
constexpr int maximumProcessFrames = 8192;
/// Most note events one block carries, as the plug-in's event list holds them.
constexpr int maximumBlockNotes = 50;
/// Longest "NOTES " line: the prefix, two counts and 50 events of a pitch and a velocity.
constexpr size_t notesLineCapacity = 32 + maximumBlockNotes * 40;
/// How long the application waits for the reply to a control request.
constexpr std::chrono::milliseconds controlReplyDeadline{5000};

/// A point in time after which a socket transfer counts as failed. `never` waits without end
/// (the helper waits for its client that way).
struct Deadline {
    std::chrono::steady_clock::time_point at;
    bool unlimited = false;

    static Deadline never() { return {{}, true}; }
    static Deadline after(std::chrono::milliseconds span) {
        return {std::chrono::steady_clock::now() + span, false};
    }
    /// Milliseconds left, for poll: -1 without a deadline, 0 once it has passed.
    int remainingMilliseconds() const;
};

/// Writes `text` and a line feed (unless it already ends with one), repeating partial writes;
/// true when every byte went out before the control deadline.
bool oopWriteLine(int fd, std::string_view text);
/// Reads one reply line and reports whether it begins with "OK".
bool oopExpectOk(int fd);

/// Reads one line (without its line feed). Fails at the end of the stream, on a read error,
/// when the line grows longer than `limit` characters or when the deadline passes. Never reads
/// past the line feed, so binary data that follows stays in the socket.
bool oopReadLine(int fd, std::string &line, size_t limit, Deadline deadline);
/// Like `oopReadLine`, but a line beginning with "STATE " may grow to `stateReplyLimit`.
bool oopReadReply(int fd, std::string &line, Deadline deadline);

/// Sends every byte, never raising SIGPIPE. Allocation-free, so the audio thread may call it.
bool oopWriteAll(int fd, const void *data, size_t size, Deadline deadline);
/// Receives exactly `size` bytes. Allocation-free, so the audio thread may call it.
bool oopReadExact(int fd, void *data, size_t size, Deadline deadline);

/// Connects a Unix-domain stream socket to `path`; the descriptor, or -1.
int connectToSocket(const std::string &path);

/// Uppercase hexadecimal pairs.
std::string encodeHex(const std::vector<uint8_t> &bytes);
/// Decodes hexadecimal pairs of either case; absent when a character is not a hexadecimal
/// digit. With `ignoreOddDigit`, one digit left over after at least one pair is dropped;
/// otherwise an odd count fails.
std::optional<std::vector<uint8_t>> decodeHex(std::string_view text, bool ignoreOddDigit);

/// A request argument may not carry a line break or a NUL: it would end the request early and
/// let the rest of the text pose as a request of its own.
bool isSafeRequestArgument(std::string_view text);

/// Note events for the next audio block, carried by a "NOTES " request: the count of note-offs
/// and their pitches, then the count of note-ons and a pitch and velocity for each. It has no
/// reply; the helper keeps the notes for the next "PROCESS " block.
struct BlockNotes {
    std::vector<int> noteOffs;
    std::vector<NoteOn> noteOns;
};
/// Writes the "NOTES " line (with its line feed) into `line` without allocating; returns its
/// length. Note-offs come first; events past `maximumBlockNotes` are dropped.
size_t formatNotesLine(char (&line)[notesLineCapacity], std::span<const int> noteOffs,
                       std::span<const NoteOn> noteOns);
/// Parses the rest of a "NOTES " line; absent when it does not parse.
std::optional<BlockNotes> parseNotes(std::string_view text);

/// A plug-in's class uid and state, as a state blob file holds them.
struct PluginInstanceState {
    std::string uid;
    std::vector<uint8_t> state;
};

bool writeStateBlob(const std::string &path, const PluginInstanceState &blob);
/// Absent when the file cannot be opened. A short file gives a shorter uid or state; a length
/// larger than the rest of the file is cut to what the file holds.
std::optional<PluginInstanceState> readStateBlob(const std::string &path);

} // namespace orvane::vst
