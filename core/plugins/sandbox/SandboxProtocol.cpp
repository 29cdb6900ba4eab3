#include "core/plugins/sandbox/SandboxProtocol.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <limits>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace orvane::vst {

namespace {

constexpr size_t peekChunk = 4096;
constexpr std::string_view stateReplyPrefix = "STATE ";
constexpr char hexDigits[] = "0123456789ABCDEF";

// Waits until the descriptor is ready for `events`; false on timeout, error or hang-up
// without data.
bool waitFor(int fd, short events, Deadline deadline) {
    for (;;) {
        pollfd descriptor{fd, events, 0};
        timespec left{};
        int ready = ppoll(&descriptor, 1, deadline.remaining(left), nullptr);
        if (ready > 0) return (descriptor.revents & (events | POLLHUP | POLLERR)) != 0;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

int hexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    return -1;
}

bool readUint32(std::ifstream &file, uint32_t &value) {
    value = 0;
    file.read(reinterpret_cast<char *>(&value), sizeof value);
    return file.gcount() == sizeof value;
}

// Reads up to `length` bytes, never reserving more than the file still holds, so a forged
// length cannot make the reader allocate gigabytes.
std::string readBounded(std::ifstream &file, uint32_t length, std::streamoff remaining) {
    size_t size =
        std::min<uint64_t>(length, static_cast<uint64_t>(std::max<std::streamoff>(remaining, 0)));
    std::string bytes(size, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    return bytes;
}

std::streamoff remainingBytes(std::ifstream &file, std::streamoff fileSize) {
    std::streamoff position = file.tellg();
    return position < 0 ? 0 : fileSize - position;
}

} // namespace

int Deadline::remainingMilliseconds() const {
    if (unlimited) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(at - std::chrono::steady_clock::now());
    return static_cast<int>(
        std::clamp<long long>(left.count(), 0, std::numeric_limits<int>::max()));
}

const timespec *Deadline::remaining(timespec &storage) const {
    if (unlimited) return nullptr;
    auto left = std::max(at - std::chrono::steady_clock::now(), std::chrono::nanoseconds::zero());
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    storage.tv_sec = static_cast<time_t>(seconds.count());
    storage.tv_nsec = static_cast<long>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count());
    return &storage;
}

bool oopWriteAll(int fd, const void *data, size_t size, Deadline deadline) {
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t written = send(fd, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written > 0) {
            bytes += written;
            size -= static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            waitFor(fd, POLLOUT, deadline))
            continue;
        return false;
    }
    return true;
}

size_t oopReadUntil(int fd, void *data, size_t size, Deadline deadline, bool &failed) {
    auto *bytes = static_cast<char *>(data);
    size_t got = 0;
    failed = false;
    // Waits before reading: the peer has rarely answered by the time the request is out, and
    // a read that finds nothing costs a system call.
    while (got < size) {
        if (!waitFor(fd, POLLIN, deadline)) {
            failed = !deadline.passed();
            return got;
        }
        ssize_t received = recv(fd, bytes + got, size - got, MSG_DONTWAIT);
        if (received > 0) {
            got += static_cast<size_t>(received);
            continue;
        }
        if (received < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        failed = true;
        return got;
    }
    return got;
}

bool oopReadExact(int fd, void *data, size_t size, Deadline deadline) {
    bool failed = false;
    return oopReadUntil(fd, data, size, deadline, failed) == size;
}

bool oopWriteLine(int fd, std::string_view text) {
    std::string line(text);
    if (line.empty() || line.back() != '\n') line += '\n';
    return oopWriteAll(fd, line.data(), line.size(), Deadline::after(controlReplyDeadline));
}

// Peeks at what has arrived and takes only the bytes up to the line feed, so the reader needs
// no buffer of its own and never swallows an audio block that follows a line.
static bool readLineWithLimits(int fd, std::string &line, size_t limit, size_t stateLimit,
                               Deadline deadline) {
    line.clear();
    char chunk[peekChunk];
    for (;;) {
        ssize_t peeked = recv(fd, chunk, sizeof chunk, MSG_PEEK | MSG_DONTWAIT);
        if (peeked < 0 && errno == EINTR) continue;
        if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(fd, POLLIN, deadline)) return false;
            continue;
        }
        if (peeked <= 0) return false;
        auto *end = static_cast<char *>(std::memchr(chunk, '\n', static_cast<size_t>(peeked)));
        size_t take = end ? static_cast<size_t>(end - chunk) + 1 : static_cast<size_t>(peeked);
        ssize_t received = recv(fd, chunk, take, MSG_DONTWAIT);
        if (received != static_cast<ssize_t>(take)) return false;
        line.append(chunk, end ? take - 1 : take);
        size_t allowed = line.starts_with(stateReplyPrefix) ? stateLimit : limit;
        if (line.size() > allowed) return false;
        if (end) return true;
    }
}

bool oopReadLine(int fd, std::string &line, size_t limit, Deadline deadline) {
    return readLineWithLimits(fd, line, limit, limit, deadline);
}

bool oopReadReply(int fd, std::string &line, Deadline deadline) {
    return readLineWithLimits(fd, line, replyLineLimit, std::max(replyLineLimit, stateReplyLimit),
                              deadline);
}

bool oopExpectOk(int fd) {
    std::string line;
    return oopReadReply(fd, line, Deadline::after(controlReplyDeadline)) && line.starts_with("OK");
}

int connectToSocket(const std::string &path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string encodeHex(const std::vector<uint8_t> &bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t byte : bytes) {
        text += hexDigits[byte >> 4];
        text += hexDigits[byte & 0x0F];
    }
    return text;
}

std::optional<std::vector<uint8_t>> decodeHex(std::string_view text, bool ignoreOddDigit) {
    if (text.size() % 2 != 0 && (!ignoreOddDigit || text.size() == 1)) return std::nullopt;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t index = 0; index + 1 < text.size(); index += 2) {
        int high = hexValue(text[index]);
        int low = hexValue(text[index + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    if (text.size() % 2 != 0 && hexValue(text.back()) < 0) return std::nullopt;
    return bytes;
}

bool isSafeRequestArgument(std::string_view text) {
    return text.find_first_of(std::string_view("\n\r\0", 3)) == std::string_view::npos;
}

size_t formatNotesLine(char (&line)[notesLineCapacity], std::span<const int> noteOffs,
                       std::span<const NoteOn> noteOns) {
    size_t offCount = std::min<size_t>(noteOffs.size(), maximumBlockNotes);
    size_t onCount = std::min<size_t>(noteOns.size(), maximumBlockNotes - offCount);
    char *cursor = line;
    char *end = line + notesLineCapacity;
    auto append = [&](auto value) {
        *cursor++ = ' ';
        cursor = std::to_chars(cursor, end, value).ptr;
    };
    std::memcpy(cursor, "NOTES", 5);
    cursor += 5;
    append(offCount);
    for (size_t index = 0; index < offCount; ++index)
        append(noteOffs[index]);
    append(onCount);
    // The shortest text that reads back as the same float, so velocities arrive exactly.
    for (size_t index = 0; index < onCount; ++index) {
        append(noteOns[index].pitch);
        append(noteOns[index].velocity);
    }
    *cursor++ = '\n';
    return static_cast<size_t>(cursor - line);
}

std::optional<BlockNotes> parseNotes(std::string_view text) {
    const char *cursor = text.data();
    const char *end = text.data() + text.size();
    auto next = [&](auto &value) {
        while (cursor < end && *cursor == ' ')
            ++cursor;
        auto [stop, error] = std::from_chars(cursor, end, value);
        cursor = stop;
        return error == std::errc();
    };
    BlockNotes notes;
    size_t count = 0;
    if (!next(count) || count > maximumBlockNotes) return std::nullopt;
    notes.noteOffs.resize(count);
    for (int &pitch : notes.noteOffs)
        if (!next(pitch)) return std::nullopt;
    if (!next(count) || count + notes.noteOffs.size() > maximumBlockNotes) return std::nullopt;
    notes.noteOns.resize(count);
    for (NoteOn &note : notes.noteOns)
        if (!next(note.pitch) || !next(note.velocity)) return std::nullopt;
    while (cursor < end && *cursor == ' ')
        ++cursor;
    if (cursor != end) return std::nullopt;
    return notes;
}

bool ParamsLineWriter::add(uint32_t id, float value) {
    if (count >= maximumParamsPerLine) return false;
    if (count == 0) {
        std::memcpy(cursor, "PARAMS", 6);
        cursor += 6;
    }
    char *end = begin + paramsLineCapacity;
    *cursor++ = ' ';
    cursor = std::to_chars(cursor, end, id).ptr;
    *cursor++ = ' ';
    // The shortest text that reads back as the same float, so values arrive exactly.
    cursor = std::to_chars(cursor, end, value).ptr;
    ++count;
    return true;
}

size_t ParamsLineWriter::finish() {
    if (count == 0) return 0;
    *cursor++ = '\n';
    return static_cast<size_t>(cursor - begin);
}

std::optional<std::vector<ParameterValue>> parseParams(std::string_view text) {
    const char *cursor = text.data();
    const char *end = text.data() + text.size();
    auto skipSpaces = [&] {
        while (cursor < end && *cursor == ' ')
            ++cursor;
    };
    std::vector<ParameterValue> values;
    for (skipSpaces(); cursor < end; skipSpaces()) {
        if (values.size() >= static_cast<size_t>(maximumParamsPerLine)) return std::nullopt;
        ParameterValue entry;
        auto [afterId, idError] = std::from_chars(cursor, end, entry.id);
        if (idError != std::errc() || afterId == end || *afterId != ' ') return std::nullopt;
        cursor = afterId + 1;
        auto [afterValue, valueError] = std::from_chars(cursor, end, entry.value);
        if (valueError != std::errc() || !std::isfinite(entry.value)) return std::nullopt;
        cursor = afterValue;
        values.push_back(entry);
    }
    return values;
}

namespace {

template <class Number> void appendNumber(std::string &text, Number value) {
    char number[32];
    text.append(number, std::to_chars(number, number + sizeof number, value).ptr);
}

} // namespace

std::string formatEditorReport(EditorStatus status, std::span<const ParameterValue> edits) {
    std::string line = status == EditorStatus::open     ? "EDITOR OPEN"
                       : status == EditorStatus::closed ? "EDITOR CLOSED"
                                                        : "EDITOR CRASHED";
    for (const ParameterValue &edit :
         edits.first(std::min<size_t>(edits.size(), maximumParamsPerLine))) {
        line += ' ';
        appendNumber(line, edit.id);
        line += ' ';
        appendNumber(line, edit.value);
    }
    return line;
}

std::string takeEditorReport(EditorStatus status, std::vector<ParameterValue> &pending) {
    const size_t told = std::min<size_t>(pending.size(), maximumParamsPerLine);
    std::string answer = formatEditorReport(status, pending);
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(told));
    return answer;
}

std::optional<EditorStatus> parseEditorReport(std::string_view line,
                                              std::vector<ParameterValue> &edits) {
    constexpr std::pair<std::string_view, EditorStatus> kinds[] = {
        {"EDITOR OPEN", EditorStatus::open},
        {"EDITOR CLOSED", EditorStatus::closed},
        {"EDITOR CRASHED", EditorStatus::crashed}};
    for (const auto &[prefix, status] : kinds) {
        if (!line.starts_with(prefix)) continue;
        std::string_view rest = line.substr(prefix.size());
        if (!rest.empty() && rest.front() != ' ') continue;
        std::optional<std::vector<ParameterValue>> values = parseParams(rest);
        if (!values) return std::nullopt;
        edits = std::move(*values);
        return status;
    }
    return std::nullopt;
}

namespace {

// Names come from plug-in code: a tab or a line break in one must not shift the fields or
// start a line of its own.
std::string fieldText(std::string text) {
    for (char &c : text)
        if (c == '\t' || c == '\n' || c == '\r' || c == '\0' || c == '\x1e') c = ' ';
    return text;
}

} // namespace

namespace {

constexpr char parameterSeparator = '\x1e';
constexpr std::string_view parameterListPrefix = "PARAMETERS";

std::string_view nextField(std::string_view &rest, char separator) {
    const size_t end = rest.find(separator);
    const std::string_view field = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return field;
}

template <class Number> std::optional<Number> wholeNumber(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<float> normalizedNumber(std::string_view text) {
    const std::optional<float> value = wholeNumber<float>(text);
    if (!value || !std::isfinite(*value) || *value < 0.0f || *value > 1.0f) return std::nullopt;
    return value;
}

std::string parameterRecord(const PluginParameterInfo &parameter) {
    std::string record;
    appendNumber(record, parameter.id);
    record += '\t';
    appendNumber(record, parameter.normalizedValue);
    record += '\t';
    appendNumber(record, parameter.stepCount);
    record += parameter.editable ? "\t1\t" : "\t0\t";
    record += fieldText(parameter.name) + "\t" + fieldText(parameter.units) + "\t" +
              fieldText(parameter.group);
    return record;
}

std::optional<PluginParameterInfo> parseParameterRecord(std::string_view record) {
    std::string_view fields[7];
    for (std::string_view &field : fields)
        field = nextField(record, '\t');
    // A record of fewer fields runs out before its last: that field has no text at all, where
    // empty units still point into the line.
    if (!record.empty() || fields[6].data() == nullptr) return std::nullopt;
    const std::optional<uint32_t> id = wholeNumber<uint32_t>(fields[0]);
    const std::optional<float> value = normalizedNumber(fields[1]);
    const std::optional<int32_t> steps = wholeNumber<int32_t>(fields[2]);
    if (!id || !value || !steps || *steps < 0 || (fields[3] != "0" && fields[3] != "1"))
        return std::nullopt;
    PluginParameterInfo parameter;
    parameter.id = *id;
    parameter.normalizedValue = *value;
    parameter.stepCount = *steps;
    parameter.editable = fields[3] == "1";
    parameter.name = fields[4];
    parameter.units = fields[5];
    parameter.group = fields[6];
    return parameter;
}

} // namespace

namespace {

/// `prefix`, then a record separator and `recordOf(item)` for each item `keep` lets through,
/// as far as one reply line holds them.
template <class Item, class Keep, class RecordOf>
std::string formatRecords(std::string_view prefix, std::span<const Item> items, Keep keep,
                          RecordOf recordOf) {
    std::string line(prefix);
    for (const Item &item : items) {
        if (!keep(item)) continue;
        const std::string record = parameterSeparator + recordOf(item);
        if (line.size() + record.size() >= replyLineLimit) break;
        line += record;
    }
    return line;
}

/// The items of a line `formatRecords` made; absent when it is none or a record does not read.
template <class Item, class ParseRecord>
std::optional<std::vector<Item>> parseRecords(std::string_view line, std::string_view prefix,
                                              ParseRecord parseRecord) {
    if (!line.starts_with(prefix)) return std::nullopt;
    line.remove_prefix(prefix.size());
    std::vector<Item> items;
    if (line.empty()) return items;
    if (line.front() != parameterSeparator) return std::nullopt;
    line.remove_prefix(1);
    for (;;) {
        const size_t end = line.find(parameterSeparator);
        std::optional<Item> item = parseRecord(line.substr(0, end));
        if (!item) return std::nullopt;
        items.push_back(std::move(*item));
        if (end == std::string_view::npos) return items;
        line.remove_prefix(end + 1);
    }
}

constexpr std::string_view programListPrefix = "PROGRAMS";

std::string programRecord(const PluginProgram &program) {
    std::string record;
    appendNumber(record, program.parameterId);
    record += '\t';
    appendNumber(record, program.normalized);
    return record + "\t" + fieldText(program.name);
}

std::optional<PluginProgram> parseProgramRecord(std::string_view record) {
    std::string_view fields[3];
    for (std::string_view &field : fields)
        field = nextField(record, '\t');
    if (!record.empty() || fields[2].data() == nullptr) return std::nullopt;
    const std::optional<uint32_t> id = wholeNumber<uint32_t>(fields[0]);
    const std::optional<float> value = normalizedNumber(fields[1]);
    if (!id || !value) return std::nullopt;
    return PluginProgram{std::string(fields[2]), *id, *value};
}

bool isNormalized(float value) { return std::isfinite(value) && value >= 0.0f && value <= 1.0f; }

} // namespace

std::string formatParameterList(std::span<const PluginParameterInfo> parameters) {
    return formatRecords(
        parameterListPrefix, parameters,
        [](const PluginParameterInfo &parameter) {
            return isNormalized(parameter.normalizedValue) && parameter.stepCount >= 0;
        },
        parameterRecord);
}

std::optional<std::vector<PluginParameterInfo>> parseParameterList(std::string_view line) {
    return parseRecords<PluginParameterInfo>(line, parameterListPrefix, parseParameterRecord);
}

std::string formatProgramList(std::span<const PluginProgram> programs) {
    return formatRecords(
        programListPrefix, programs,
        [](const PluginProgram &program) { return isNormalized(program.normalized); },
        programRecord);
}

std::optional<std::vector<PluginProgram>> parseProgramList(std::string_view line) {
    return parseRecords<PluginProgram>(line, programListPrefix, parseProgramRecord);
}

std::string formatProgramStateRequest(const PluginProgram &program) {
    std::string line = "PROGRAMSTATE ";
    appendNumber(line, program.parameterId);
    line += ' ';
    appendNumber(line, program.normalized);
    return line + " " + fieldText(program.name);
}

bool readProgramStateReply(std::string_view reply, const PluginProgram &program,
                           std::vector<uint8_t> &state, std::string &error) {
    std::optional<std::vector<uint8_t>> decoded;
    if (reply.starts_with("STATE ")) decoded = decodeHex(reply.substr(6), false);
    if (!decoded) {
        error = "the plug-in gave no state for its program \"" + program.name + "\"";
        return false;
    }
    state = std::move(*decoded);
    return true;
}

std::optional<PluginProgram> parseProgramStateRequest(std::string_view text) {
    const std::optional<uint32_t> id = wholeNumber<uint32_t>(nextField(text, ' '));
    const std::optional<float> value = normalizedNumber(nextField(text, ' '));
    if (!id || !value) return std::nullopt;
    return PluginProgram{std::string(text), *id, *value};
}

std::string formatValueTextRequest(uint32_t id, float normalized) {
    std::string line = "VALUETEXT ";
    appendNumber(line, id);
    line += ' ';
    appendNumber(line, normalized);
    return line;
}

std::optional<ParameterValue> parseValueTextRequest(std::string_view text) {
    const std::optional<uint32_t> id = wholeNumber<uint32_t>(nextField(text, ' '));
    const std::optional<float> value = normalizedNumber(text);
    if (!id || !value) return std::nullopt;
    return ParameterValue{*id, *value};
}

std::string formatValueText(std::string_view text) {
    return "TEXT " + fieldText(std::string(text));
}

std::optional<std::string> parseValueText(std::string_view line) {
    if (!line.starts_with("TEXT ")) return std::nullopt;
    return std::string(line.substr(5));
}

std::string formatClassLine(const PluginDescription &description) {
    return "CLASS " + fieldText(description.uid) + "\t" + fieldText(description.name) + "\t" +
           fieldText(description.vendor) + "\t" + fieldText(description.category);
}

std::optional<PluginDescription> parseClassLine(std::string_view line) {
    if (!line.starts_with("CLASS ")) return std::nullopt;
    line.remove_prefix(6);
    std::string_view fields[4];
    for (int index = 0; index < 3; ++index) {
        size_t tab = line.find('\t');
        if (tab == std::string_view::npos) return std::nullopt;
        fields[index] = line.substr(0, tab);
        line.remove_prefix(tab + 1);
    }
    if (line.find('\t') != std::string_view::npos) return std::nullopt;
    fields[3] = line;
    PluginDescription description;
    description.uid = fields[0];
    description.name = fields[1];
    description.vendor = fields[2];
    description.category = fields[3];
    description.isInstrument = description.category.find("Instrument") != std::string::npos;
    return description;
}

bool writeStateBlob(const std::string &path, const PluginInstanceState &blob) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    auto uidLength = static_cast<uint32_t>(blob.uid.size());
    auto stateLength = static_cast<uint32_t>(blob.state.size());
    file.write(reinterpret_cast<const char *>(&uidLength), sizeof uidLength);
    file.write(blob.uid.data(), static_cast<std::streamsize>(blob.uid.size()));
    file.write(reinterpret_cast<const char *>(&stateLength), sizeof stateLength);
    file.write(reinterpret_cast<const char *>(blob.state.data()),
               static_cast<std::streamsize>(blob.state.size()));
    file.flush();
    return static_cast<bool>(file);
}

std::optional<PluginInstanceState> readStateBlob(const std::string &path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return std::nullopt;
    std::streamoff fileSize = file.tellg();
    file.seekg(0);
    PluginInstanceState blob;
    uint32_t length = 0;
    if (!readUint32(file, length)) return blob;
    blob.uid = readBounded(file, length, remainingBytes(file, fileSize));
    if (!readUint32(file, length)) return blob;
    std::string state = readBounded(file, length, remainingBytes(file, fileSize));
    blob.state.assign(state.begin(), state.end());
    return blob;
}

} // namespace orvane::vst
