#pragma once

#include "core/plugins/Deadline.h"
#include "core/plugins/Plugin.h"
#include "core/plugins/PluginDescription.h"

#include <atomic>
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

/// Writes `text` and a line feed (unless it already ends with one), repeating partial writes;
/// true when every byte went out before the control deadline.
[[nodiscard]] bool oopWriteLine(int fd, std::string_view text);
/// Reads one reply line and reports whether it begins with "OK".
[[nodiscard]] bool oopExpectOk(int fd);

/// Reads one line (without its line feed). Fails at the end of the stream, on a read error,
/// when the line grows longer than `limit` characters or when the deadline passes. Never reads
/// past the line feed, so binary data that follows stays in the socket.
[[nodiscard]] bool oopReadLine(int fd, std::string &line, size_t limit, Deadline deadline);
/// Like `oopReadLine`, but a line beginning with "STATE " may grow to `stateReplyLimit`.
[[nodiscard]] bool oopReadReply(int fd, std::string &line, Deadline deadline);

/// Sends every byte, never raising SIGPIPE. Allocation-free, so the audio thread may call it.
[[nodiscard]] bool oopWriteAll(int fd, const void *data, size_t size, Deadline deadline);
/// Receives up to `size` bytes, until all have come or the deadline passes; returns how many
/// came. `failed` is set when the stream ended or broke (not when the deadline passed).
/// Allocation-free, so the audio thread may call it.
size_t oopReadUntil(int fd, void *data, size_t size, Deadline deadline, bool &failed);
/// Receives exactly `size` bytes. Allocation-free, so the audio thread may call it.
[[nodiscard]] bool oopReadExact(int fd, void *data, size_t size, Deadline deadline);

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

/// Longest request line the helper accepts, apart from "SETSTATE " requests; a longer line
/// ends the connection.
constexpr size_t requestLineLimit = 65536;
/// Longest "SETSTATE " request: the same 32 MB of state that a "STATE " reply may carry.
constexpr size_t stateRequestLimit = 9 + 64u * 1024u * 1024u;
/// Connections one helper serves side by side; a client past them is closed at once.
constexpr size_t maximumHelperConnections = 4;
/// Plug-ins one helper processes in series per block: the main one that "LOAD " names and the
/// members "CHAINLOAD " adds after it.
constexpr size_t maximumChainLength = 16;

/// What a plug-in cost over a stretch of blocks, as fractions of the blocks' durations (1 is
/// the whole block).
struct LoadStretch {
    uint64_t blocks = 0;
    double mean = 0.0;
    double peak = 0.0;
};

/// Block loads the audio thread adds up and the main thread takes, a stretch at a time. Each
/// word is taken on its own: a block landing in between counts in the next stretch for some
/// and in this one for others, which a display a second long never shows.
struct LoadSums {
    std::atomic<uint64_t> blocks{0};
    std::atomic<double> sum{0.0};
    std::atomic<double> peak{0.0};

    /// Audio thread: one block that took `load` of its duration.
    void addRt(double load) noexcept {
        sum.fetch_add(load, std::memory_order_relaxed);
        double largest = peak.load(std::memory_order_relaxed);
        while (load > largest &&
               !peak.compare_exchange_weak(largest, load, std::memory_order_relaxed)) {
        }
        blocks.fetch_add(1, std::memory_order_relaxed);
    }
    /// What was added since the last call; the next stretch starts empty.
    LoadStretch take() {
        LoadStretch taken;
        taken.blocks = blocks.exchange(0, std::memory_order_relaxed);
        const double total = sum.exchange(0.0, std::memory_order_relaxed);
        taken.peak = peak.exchange(0.0, std::memory_order_relaxed);
        taken.mean = taken.blocks > 0 ? total / static_cast<double>(taken.blocks) : 0.0;
        return taken;
    }
};

/// Largest block size "PREPARE " accepts: the same bound as one "PROCESS " exchange.
constexpr int maximumPrepareFrames = maximumProcessFrames;

/// Parameter values for the next audio block, carried by a "PARAMS " request: pairs of a
/// parameter id and a normalised value. It has no reply; the helper applies the values before
/// the next "PROCESS " block.
constexpr int maximumParamsPerLine = 128;
constexpr size_t paramsLineCapacity = 16 + maximumParamsPerLine * 32;
/// Builds a "PARAMS " line in the caller's room without allocating.
class ParamsLineWriter {
  public:
    explicit ParamsLineWriter(char (&room)[paramsLineCapacity]) : begin(room), cursor(room) {}
    /// False, and nothing written, once the line holds `maximumParamsPerLine` values.
    [[nodiscard]] bool add(uint32_t id, float value);
    /// Ends the line with its line feed and returns its length; 0 when no value was added.
    size_t finish();

  private:
    char *begin;
    char *cursor;
    int count = 0;
};
/// Parses the rest of a "PARAMS " line; absent when it does not parse.
std::optional<std::vector<ParameterValue>> parseParams(std::string_view text);

/// The helper's answer to "EDITORSTATE": "EDITOR OPEN", "EDITOR CLOSED" or "EDITOR CRASHED",
/// then the values the user set in the editor since the last question, as parameter id and
/// normalised value pairs (at most `maximumParamsPerLine`; the rest go with the next answer).
std::string formatEditorReport(EditorStatus status, std::span<const ParameterValue> edits);
/// The editor's report with as many of `pending` as one line holds, which leave `pending`;
/// the rest wait for the next question.
std::string takeEditorReport(EditorStatus status, std::vector<ParameterValue> &pending);
/// Absent when the line is not such an answer.
std::optional<EditorStatus> parseEditorReport(std::string_view line,
                                              std::vector<ParameterValue> &edits);

/// The helper's answer to "PARAMETERS": "PARAMETERS", then for each parameter of the plug-in a
/// record separator (0x1e) and its id, normalised value, step count, 1 or 0 for editable, name,
/// units and group, separated by tabs. Parameters that would take the line past `replyLineLimit`
/// are left out, and so are values that are no number in [0, 1].
std::string formatParameterList(std::span<const PluginParameterInfo> parameters);
/// Absent when the line is not such an answer or one of its records does not read.
std::optional<std::vector<PluginParameterInfo>> parseParameterList(std::string_view line);
/// The helper's answer to "PROGRAMS": "PROGRAMS", then for each of the plug-in's factory
/// programs a record separator (0x1e) and its program-change parameter's id, the value that
/// chooses it and its name, separated by tabs; limited as the parameter list is.
std::string formatProgramList(std::span<const PluginProgram> programs);
/// Absent when the line is not such an answer or one of its records does not read.
std::optional<std::vector<PluginProgram>> parseProgramList(std::string_view line);
/// "PROGRAMSTATE " and the program's parameter id, value and name: the state the plug-in has
/// with that program chosen, answered as "STATE " and hex digits, as "GETSTATE" is.
std::string formatProgramStateRequest(const PluginProgram &program);
/// The state a "PROGRAMSTATE " reply carries; false, with `error` naming the program, for a
/// reply that carries none.
bool readProgramStateReply(std::string_view reply, const PluginProgram &program,
                           std::vector<uint8_t> &state, std::string &error);
/// The program a "PROGRAMSTATE " request's rest names; absent when it does not read.
std::optional<PluginProgram> parseProgramStateRequest(std::string_view text);
/// "VALUETEXT " and the parameter's id and a normalised value: the plug-in's text for that
/// value, answered as "TEXT " and the text on one line.
std::string formatValueTextRequest(uint32_t id, float normalized);
/// The id and value of a "VALUETEXT " request's rest; absent when it does not read.
std::optional<ParameterValue> parseValueTextRequest(std::string_view text);
std::string formatValueText(std::string_view text);
/// The text of a "TEXT " answer; absent when the line is none.
std::optional<std::string> parseValueText(std::string_view line);

/// The helper's answer to "DESCRIBE " (one bundle's audio classes): "CLASSES " and a count,
/// then that many lines of "CLASS " with uid, name, vendor and sub-categories separated by tabs.
constexpr int maximumDescribedClasses = 1024;
std::string formatClassLine(const PluginDescription &description);
/// Absent when the line is not a "CLASS " line with four fields.
std::optional<PluginDescription> parseClassLine(std::string_view line);

/// A plug-in's class uid and state, as a state blob file holds them.
struct PluginInstanceState {
    std::string uid;
    std::vector<uint8_t> state;
};

[[nodiscard]] bool writeStateBlob(const std::string &path, const PluginInstanceState &blob);
/// Absent when the file cannot be opened. A short file gives a shorter uid or state; a length
/// larger than the rest of the file is cut to what the file holds.
std::optional<PluginInstanceState> readStateBlob(const std::string &path);

} // namespace orvane::vst
