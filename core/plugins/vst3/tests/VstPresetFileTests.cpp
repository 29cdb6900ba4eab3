#include "core/plugins/vst3/VstPresetFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace orvane::vst {
namespace {

/// A preset file put together field by field, as the format describes it, with chunks in any
/// order and of any kind.
struct Assembled {
    std::vector<uint8_t> bytes;

    void text(const std::string &value) { bytes.insert(bytes.end(), value.begin(), value.end()); }
    template <class Integer> void number(Integer value) {
        for (std::size_t i = 0; i < sizeof(Integer); ++i)
            bytes.push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i)));
    }
};

struct ChunkSpec {
    std::string id;
    std::string data;
};

std::vector<uint8_t> assemble(const std::string &classId, const std::vector<ChunkSpec> &chunks) {
    Assembled file;
    file.text("VST3");
    file.number<int32_t>(1);
    file.text(classId);
    const std::size_t listOffsetAt = file.bytes.size();
    file.number<int64_t>(0);
    std::vector<std::pair<std::size_t, std::size_t>> places;
    for (const ChunkSpec &chunk : chunks) {
        places.emplace_back(file.bytes.size(), chunk.data.size());
        file.text(chunk.data);
    }
    const int64_t listAt = static_cast<int64_t>(file.bytes.size());
    std::memcpy(&file.bytes[listOffsetAt], &listAt, sizeof listAt);
    file.text("List");
    file.number<int32_t>(static_cast<int32_t>(chunks.size()));
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        file.text(chunks[i].id);
        file.number<int64_t>(static_cast<int64_t>(places[i].first));
        file.number<int64_t>(static_cast<int64_t>(places[i].second));
    }
    return file.bytes;
}

std::vector<uint8_t> bytesOf(const std::string &text) { return {text.begin(), text.end()}; }

const std::string classId = "5a616d436f6d70abcdef0123456789ab";

TEST(VstPresetFile, ReadsTheStatesWhateverTheChunksAroundThem) {
    const std::vector<uint8_t> file =
        assemble(classId, {{"Info", "<MetaInfo/>"}, {"Cont", "controller"}, {"Comp", "state"}});
    VstPresetFile preset;
    std::string error;
    ASSERT_TRUE(readVstPresetFile(file, preset, error)) << error;
    EXPECT_EQ(preset.classId, "5A616D436F6D70ABCDEF0123456789AB");
    EXPECT_EQ(preset.componentState, bytesOf("state"));
    EXPECT_EQ(preset.controllerState, bytesOf("controller"));
}

TEST(VstPresetFile, WhatIsWrittenReadsBackTheSame) {
    VstPresetFile written;
    written.classId = "00112233445566778899AABBCCDDEEFF";
    written.componentState = {0, 1, 2, 255, 'V', 'S', 'T', '3'};
    for (const bool withController : {false, true}) {
        written.controllerState = withController ? bytesOf("ctl") : std::vector<uint8_t>{};
        VstPresetFile read;
        std::string error;
        ASSERT_TRUE(readVstPresetFile(writeVstPresetFile(written), read, error)) << error;
        EXPECT_EQ(read.classId, written.classId);
        EXPECT_EQ(read.componentState, written.componentState);
        EXPECT_EQ(read.controllerState, written.controllerState);
    }
}

TEST(VstPresetFile, DamagedFilesAreRefusedWithAReasonAndChangeNothing) {
    const std::vector<uint8_t> good = assemble(classId, {{"Comp", "state"}, {"Cont", "c"}});
    const auto changed = [&good](std::size_t at, const std::string &with) {
        std::vector<uint8_t> bytes = good;
        std::memcpy(&bytes[at], with.data(), with.size());
        return bytes;
    };
    const auto withNumber = [&good](std::size_t at, int64_t value, std::size_t size) {
        std::vector<uint8_t> bytes = good;
        std::memcpy(&bytes[at], &value, size);
        return bytes;
    };
    const std::size_t listAt = good.size() - 4 - 4 - 2 * 20;
    struct Damage {
        const char *name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Damage> damages = {
        {"empty", {}},
        {"otherMagic", changed(0, "RIFF")},
        {"versionZero", withNumber(4, 0, 4)},
        {"classIdNotHex", changed(8, "zz")},
        {"listPastTheEnd", withNumber(40, static_cast<int64_t>(good.size()) + 1, 8)},
        {"listInsideTheHeader", withNumber(40, 8, 8)},
        {"listNegative", withNumber(40, -1, 8)},
        {"notAList", changed(listAt, "Lost")},
        {"countNegative", withNumber(listAt + 4, -1, 4)},
        {"countTooLarge", withNumber(listAt + 4, 3, 4)},
        {"chunkBeforeTheData", withNumber(listAt + 8 + 4, 4, 8)},
        {"chunkIntoTheList", withNumber(listAt + 8 + 12, 100, 8)},
        {"chunkSizeNegative", withNumber(listAt + 8 + 12, -5, 8)},
        {"chunkSizeHuge", withNumber(listAt + 8 + 12, INT64_MAX, 8)},
        {"noComponentChunk", assemble(classId, {{"Cont", "c"}})},
    };
    // Every file cut short is refused too.
    for (std::size_t size = 0; size < good.size(); size += 7)
        damages.push_back({"cutShort", std::vector<uint8_t>(good.begin(), good.begin() + size)});
    for (const Damage &damage : damages) {
        SCOPED_TRACE(damage.name);
        VstPresetFile preset;
        preset.classId = "kept";
        std::string error;
        EXPECT_FALSE(readVstPresetFile(damage.bytes, preset, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(preset.classId, "kept");
        EXPECT_TRUE(preset.componentState.empty());
    }
}

} // namespace
} // namespace orvane::vst
