#include "core/plugins/vst3/VstPresetFile.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace orvane::vst {

namespace {

// The layout every VST 3 host shares: "VST3", a format version, the class id as 32 ASCII hex
// digits and where the chunk list starts; the chunks; the list ("List", a count, then per
// chunk its four-letter id, offset and size). Numbers are little-endian.
constexpr char fileMagic[4] = {'V', 'S', 'T', '3'};
constexpr char listMagic[4] = {'L', 'i', 's', 't'};
constexpr char componentChunk[4] = {'C', 'o', 'm', 'p'};
constexpr char controllerChunk[4] = {'C', 'o', 'n', 't'};
constexpr int32_t formatVersion = 1;
constexpr std::size_t classIdLength = 32;
constexpr std::size_t headerSize = 4 + 4 + classIdLength + 8;
constexpr std::size_t listEntrySize = 4 + 8 + 8;

template <class Integer>
std::optional<Integer> readLittle(std::span<const uint8_t> bytes, std::size_t at) {
    if (at > bytes.size() || bytes.size() - at < sizeof(Integer)) return std::nullopt;
    uint64_t value = 0;
    for (std::size_t i = 0; i < sizeof(Integer); ++i)
        value |= static_cast<uint64_t>(bytes[at + i]) << (8 * i);
    return static_cast<Integer>(value);
}

template <class Integer> void appendLittle(std::vector<uint8_t> &out, Integer value) {
    const auto bits = static_cast<uint64_t>(value);
    for (std::size_t i = 0; i < sizeof(Integer); ++i)
        out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

bool sameId(std::span<const uint8_t> bytes, std::size_t at, const char (&id)[4]) {
    return at <= bytes.size() && bytes.size() - at >= 4 && std::memcmp(&bytes[at], id, 4) == 0;
}

bool hexDigit(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

struct Chunk {
    std::size_t offset = 0;
    std::size_t size = 0;
};

/// The chunk `id` of the list at `listAt`, checked to lie inside the file; none when the
/// list does not name it. False when the list or a chunk it names is broken.
bool findChunk(std::span<const uint8_t> bytes, std::size_t listAt, const char (&id)[4],
               std::optional<Chunk> &found, std::string &error) {
    const auto count = readLittle<int32_t>(bytes, listAt + 4);
    if (!count || *count < 0 ||
        static_cast<uint64_t>(*count) > (bytes.size() - listAt - 8) / listEntrySize) {
        error = "its list of chunks is cut short";
        return false;
    }
    for (int32_t index = 0; index < *count; ++index) {
        const std::size_t entry = listAt + 8 + static_cast<std::size_t>(index) * listEntrySize;
        if (!sameId(bytes, entry, id)) continue;
        const auto offset = readLittle<int64_t>(bytes, entry + 4);
        const auto size = readLittle<int64_t>(bytes, entry + 12);
        if (!offset || !size || *offset < static_cast<int64_t>(headerSize) || *size < 0 ||
            static_cast<uint64_t>(*offset) > listAt ||
            static_cast<uint64_t>(*size) > listAt - static_cast<uint64_t>(*offset)) {
            error = "a chunk lies outside the file";
            return false;
        }
        found = Chunk{static_cast<std::size_t>(*offset), static_cast<std::size_t>(*size)};
        return true;
    }
    return true;
}

} // namespace

bool readVstPresetFile(std::span<const uint8_t> bytes, VstPresetFile &preset, std::string &error) {
    if (bytes.size() < headerSize || !sameId(bytes, 0, fileMagic)) {
        error = "it is not a VST 3 preset";
        return false;
    }
    const auto version = readLittle<int32_t>(bytes, 4);
    if (!version || *version < formatVersion) {
        error = "its format version is unknown";
        return false;
    }
    if (!std::all_of(bytes.begin() + 8, bytes.begin() + 8 + classIdLength, hexDigit)) {
        error = "its class id is damaged";
        return false;
    }
    const auto listAt = readLittle<int64_t>(bytes, 8 + classIdLength);
    if (!listAt || *listAt < static_cast<int64_t>(headerSize) ||
        static_cast<uint64_t>(*listAt) > bytes.size() ||
        !sameId(bytes, static_cast<std::size_t>(*listAt), listMagic)) {
        error = "its list of chunks is missing";
        return false;
    }
    const auto list = static_cast<std::size_t>(*listAt);
    std::optional<Chunk> component, controller;
    if (!findChunk(bytes, list, componentChunk, component, error) ||
        !findChunk(bytes, list, controllerChunk, controller, error))
        return false;
    if (!component) {
        error = "it holds no state of the plug-in";
        return false;
    }
    VstPresetFile read;
    read.classId.assign(bytes.begin() + 8, bytes.begin() + 8 + classIdLength);
    std::transform(read.classId.begin(), read.classId.end(), read.classId.begin(),
                   [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c; });
    const auto chunkBytes = [&bytes](const Chunk &chunk) {
        return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(chunk.offset),
                                    bytes.begin() +
                                        static_cast<std::ptrdiff_t>(chunk.offset + chunk.size));
    };
    read.componentState = chunkBytes(*component);
    if (controller) read.controllerState = chunkBytes(*controller);
    preset = std::move(read);
    return true;
}

std::vector<uint8_t> writeVstPresetFile(const VstPresetFile &preset) {
    std::vector<uint8_t> out(fileMagic, fileMagic + 4);
    appendLittle<int32_t>(out, formatVersion);
    std::string classId = preset.classId.substr(0, classIdLength);
    classId.resize(classIdLength, '0');
    out.insert(out.end(), classId.begin(), classId.end());
    const std::size_t listOffsetAt = out.size();
    appendLittle<int64_t>(out, 0);
    struct Entry {
        const char *id;
        std::size_t offset, size;
    };
    std::vector<Entry> entries;
    entries.push_back({componentChunk, out.size(), preset.componentState.size()});
    out.insert(out.end(), preset.componentState.begin(), preset.componentState.end());
    if (!preset.controllerState.empty()) {
        entries.push_back({controllerChunk, out.size(), preset.controllerState.size()});
        out.insert(out.end(), preset.controllerState.begin(), preset.controllerState.end());
    }
    const auto listAt = static_cast<int64_t>(out.size());
    for (std::size_t i = 0; i < 8; ++i)
        out[listOffsetAt + i] = static_cast<uint8_t>(static_cast<uint64_t>(listAt) >> (8 * i));
    out.insert(out.end(), listMagic, listMagic + 4);
    appendLittle<int32_t>(out, static_cast<int32_t>(entries.size()));
    for (const Entry &entry : entries) {
        out.insert(out.end(), entry.id, entry.id + 4);
        appendLittle<int64_t>(out, static_cast<int64_t>(entry.offset));
        appendLittle<int64_t>(out, static_cast<int64_t>(entry.size));
    }
    return out;
}

} // namespace orvane::vst
