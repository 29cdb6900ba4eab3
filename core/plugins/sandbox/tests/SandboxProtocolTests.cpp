#include "core/plugins/sandbox/SandboxProtocol.h"

#include "core/plugins/vst3/tests/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace orvane::vst {
namespace {

using namespace std::chrono_literals;

/// Two connected stream sockets: what one end writes, the other reads.
class SocketPair {
  public:
    SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0); }
    ~SocketPair() {
        closeWriter();
        if (ends[0] >= 0) close(ends[0]);
    }
    int reader() const { return ends[0]; }
    int writer() const { return ends[1]; }
    void send(const std::string &bytes) const {
        ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    void closeWriter() {
        if (ends[1] >= 0) close(ends[1]);
        ends[1] = -1;
    }
    void closeReader() {
        if (ends[0] >= 0) close(ends[0]);
        ends[0] = -1;
    }
    std::string drain() const {
        std::string bytes;
        char chunk[256];
        ssize_t count;
        while ((count = recv(ends[0], chunk, sizeof chunk, MSG_DONTWAIT)) > 0)
            bytes.append(chunk, size_t(count));
        return bytes;
    }

  private:
    int ends[2] = {-1, -1};
};

std::vector<uint8_t> fileBytes(const std::filesystem::path &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(OopWriteLine, AddsOneLineFeedOnlyWhenMissing) {
    SocketPair pair;
    ASSERT_TRUE(oopWriteLine(pair.writer(), "PING"));
    EXPECT_EQ(pair.drain(), "PING\n");
    ASSERT_TRUE(oopWriteLine(pair.writer(), "PING\n"));
    EXPECT_EQ(pair.drain(), "PING\n");
}

TEST(OopWriteLine, FailsWithoutRaisingSignalWhenThePeerHasGone) {
    SocketPair pair;
    pair.closeReader();
    EXPECT_FALSE(oopWriteLine(pair.writer(), "PING"));
}

TEST(OopReadLine, StopsAtTheLineFeedAndLeavesWhatFollowsInTheSocket) {
    SocketPair pair;
    pair.send(std::string("OK 256\n") + std::string("\x01\x02\x03\x04", 4));
    std::string line;
    ASSERT_TRUE(oopReadLine(pair.reader(), line, replyLineLimit, Deadline::after(1s)));
    EXPECT_EQ(line, "OK 256");
    char block[4] = {};
    ASSERT_TRUE(oopReadExact(pair.reader(), block, sizeof block, Deadline::after(1s)));
    EXPECT_EQ(block[0], 1);
    EXPECT_EQ(block[3], 4);
}

TEST(OopReadLine, FailsAtEndOfStreamOverLimitAndAfterTheDeadline) {
    {
        SocketPair pair;
        pair.send("PON");
        pair.closeWriter();
        std::string line;
        EXPECT_FALSE(oopReadLine(pair.reader(), line, replyLineLimit, Deadline::after(1s)));
    }
    {
        SocketPair pair;
        pair.send(std::string(11, 'x') + "\n");
        std::string line;
        EXPECT_FALSE(oopReadLine(pair.reader(), line, 10, Deadline::after(1s)));
    }
    {
        SocketPair pair;
        pair.send(std::string(10, 'x') + "\n");
        std::string line;
        EXPECT_TRUE(oopReadLine(pair.reader(), line, 10, Deadline::after(1s)));
    }
    {
        SocketPair pair;
        pair.send("PON");
        std::string line;
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(oopReadLine(pair.reader(), line, replyLineLimit, Deadline::after(50ms)));
        EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    }
}

TEST(OopReadReply, AcceptsLongStateRepliesButKeepsTheLimitForOtherReplies) {
    std::string longHex(200000, 'A');
    {
        SocketPair pair;
        std::thread sender([&] { pair.send("STATE " + longHex + "\n"); });
        std::string line;
        EXPECT_TRUE(oopReadReply(pair.reader(), line, Deadline::after(5s)));
        sender.join();
        EXPECT_EQ(line.size(), longHex.size() + 6);
    }
    {
        SocketPair pair;
        std::thread sender([&] {
            // The reader gives up part-way, so the sender may find the socket closed.
            std::string text = "OK " + longHex + "\n";
            (void)!send(pair.writer(), text.data(), text.size(), MSG_NOSIGNAL);
        });
        std::string line;
        EXPECT_FALSE(oopReadReply(pair.reader(), line, Deadline::after(5s)));
        shutdown(pair.reader(), SHUT_RDWR);
        sender.join();
    }
}

TEST(OopExpectOk, LooksOnlyAtTheFirstTwoCharacters) {
    SocketPair pair;
    pair.send("OK 12\nOKAY\nERR load\n");
    EXPECT_TRUE(oopExpectOk(pair.reader()));
    EXPECT_TRUE(oopExpectOk(pair.reader()));
    EXPECT_FALSE(oopExpectOk(pair.reader()));
}

TEST(Hex, RoundTripsEveryByteValueInUppercase) {
    std::vector<uint8_t> bytes;
    for (int value = 0; value < 256; ++value)
        bytes.push_back(uint8_t(value));
    std::string text = encodeHex(bytes);
    EXPECT_EQ(text.substr(0, 6), "000102");
    EXPECT_EQ(text.substr(text.size() - 4), "FEFF");
    EXPECT_EQ(decodeHex(text, false), bytes);
}

TEST(Hex, DecodesEitherCaseAndRefusesWhatIsNotHexadecimal) {
    EXPECT_EQ(decodeHex("aBcD", false), (std::vector<uint8_t>{0xAB, 0xCD}));
    EXPECT_EQ(decodeHex("", false), std::vector<uint8_t>{});
    EXPECT_FALSE(decodeHex("0G", false));
    EXPECT_FALSE(decodeHex("ABC", false));
    EXPECT_FALSE(decodeHex("A", true));
    EXPECT_EQ(decodeHex("ABC", true), std::vector<uint8_t>{0xAB});
    EXPECT_FALSE(decodeHex("ABZ", true));
}

TEST(RequestArguments, RefuseLineBreaksAndNulButAllowSpaces) {
    EXPECT_TRUE(isSafeRequestArgument("/home/user/My Plug-ins/Comp.vst3"));
    EXPECT_FALSE(isSafeRequestArgument("/a.vst3\nQUIT"));
    EXPECT_FALSE(isSafeRequestArgument("/a.vst3\rQUIT"));
    EXPECT_FALSE(isSafeRequestArgument(std::string_view("/a.vst3\0QUIT", 12)));
}

TEST(NotesLine, ReadsBackTheSameNotesWithExactVelocities) {
    std::vector<int> offs = {60, 64};
    std::vector<NoteOn> ons = {{67, 0.1f}, {72, 1.0f / 3.0f}, {0, 1e-7f}};
    char line[notesLineCapacity];
    size_t length = formatNotesLine(line, offs, ons);
    std::string_view text(line, length);
    ASSERT_TRUE(text.starts_with("NOTES "));
    ASSERT_TRUE(text.ends_with("\n"));
    auto notes = parseNotes(text.substr(6, text.size() - 7));
    ASSERT_TRUE(notes);
    EXPECT_EQ(notes->noteOffs, offs);
    ASSERT_EQ(notes->noteOns.size(), ons.size());
    for (size_t index = 0; index < ons.size(); ++index) {
        EXPECT_EQ(notes->noteOns[index].pitch, ons[index].pitch);
        EXPECT_EQ(notes->noteOns[index].velocity, ons[index].velocity);
    }
}

TEST(NotesLine, KeepsAtMostFiftyEventsNoteOffsFirst) {
    std::vector<int> offs(30, 127);
    std::vector<NoteOn> ons(30, NoteOn{127, 0.123456789f});
    char line[notesLineCapacity];
    size_t length = formatNotesLine(line, offs, ons);
    ASSERT_LE(length, notesLineCapacity);
    auto notes = parseNotes(std::string_view(line + 6, length - 7));
    ASSERT_TRUE(notes);
    EXPECT_EQ(notes->noteOffs.size(), 30u);
    EXPECT_EQ(notes->noteOns.size(), 20u);
}

TEST(NotesLine, RefusesMalformedOrOversizedLists) {
    EXPECT_TRUE(parseNotes("0 0"));
    EXPECT_FALSE(parseNotes(""));
    EXPECT_FALSE(parseNotes("1"));
    EXPECT_FALSE(parseNotes("0 1 60"));
    EXPECT_FALSE(parseNotes("0 1 60 x"));
    EXPECT_FALSE(parseNotes("0 0 QUIT"));
    EXPECT_FALSE(parseNotes("51 0"));
    EXPECT_FALSE(parseNotes("18446744073709551615 0"));
}

void expectSameParameter(const PluginParameterInfo &read, const PluginParameterInfo &written,
                         const std::string &name) {
    EXPECT_EQ(read.id, written.id);
    EXPECT_EQ(read.name, name);
    EXPECT_EQ(read.normalizedValue, written.normalizedValue);
    EXPECT_EQ(read.units, written.units);
    EXPECT_EQ(read.stepCount, written.stepCount);
    EXPECT_EQ(read.editable, written.editable);
    EXPECT_EQ(read.group, written.group);
}

TEST(ParameterList, ReadsBackWhatWasListedWhateverThePlugInCallsItsParameters) {
    const std::vector<PluginParameterInfo> listed = {
        {7, "Threshold", 0.25f, "dB", 0, true, "Detector"},
        {4294967295u, "Tab\there\nand\x1erecord", 1.0f, "", 1, false, ""},
        {0, "", 0.0f, "Hz", 12, true, "Source 1"},
        {3, "Thirds", 1.0f / 3.0f, "%", 0, true, ""}};
    const std::string line = formatParameterList(listed);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const std::optional<std::vector<PluginParameterInfo>> read = parseParameterList(line);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), listed.size());
    const char *names[] = {"Threshold", "Tab here and record", "", "Thirds"};
    for (size_t index = 0; index < listed.size(); ++index) {
        SCOPED_TRACE(index);
        expectSameParameter((*read)[index], listed[index], names[index]);
    }
    const std::optional<std::vector<PluginParameterInfo>> none = parseParameterList("PARAMETERS");
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

TEST(ParameterList, LeavesOutWhatCannotBeAValueAndStopsBeforeTheLineIsTooLong) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<PluginParameterInfo> odd = {{1, "NaN", nan, "", 0, true, ""},
                                                  {2, "Above", 1.5f, "", 0, true, ""},
                                                  {3, "Kept", 0.5f, "", 0, true, ""},
                                                  {4, "Negative steps", 0.5f, "", -3, true, ""}};
    const auto read = parseParameterList(formatParameterList(odd));
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), 1u);
    EXPECT_EQ(read->front().name, "Kept");

    std::vector<PluginParameterInfo> many(5000);
    for (size_t index = 0; index < many.size(); ++index)
        many[index] = {
            static_cast<uint32_t>(index), std::string(40, 'p'), 0.5f, "dB", 0, true, "Group"};
    const std::string line = formatParameterList(many);
    EXPECT_LT(line.size(), replyLineLimit);
    const auto kept = parseParameterList(line);
    ASSERT_TRUE(kept);
    EXPECT_GT(kept->size(), 500u);
    EXPECT_LT(kept->size(), many.size());
    EXPECT_EQ(kept->back().id, kept->size() - 1) << "the first ones, in order";
}

TEST(ParameterList, RefusesAnswersThatDoNotRead) {
    const std::string good = "PARAMETERS\x1e"
                             "1\t0.5\t0\t1\tName\tdB\tGroup";
    ASSERT_TRUE(parseParameterList(good)) << "the table below changes one thing each";
    const std::string records[] = {"PARAMETER",
                                   "PARAMETERSX",
                                   "PARAMETERS\x1e",
                                   "PARAMETERS\x1e"
                                   "1\t0.5\t0\t1\tName\tdB",
                                   "PARAMETERS\x1e"
                                   "1\t0.5\t0\t1\tName\tdB\tGroup\textra",
                                   "PARAMETERS\x1e"
                                   "1\tnan\t0\t1\tName\tdB\tGroup",
                                   "PARAMETERS\x1e"
                                   "1\t1.5\t0\t1\tName\tdB\tGroup",
                                   "PARAMETERS\x1e"
                                   "1\t-0.1\t0\t1\tName\tdB\tGroup",
                                   "PARAMETERS\x1e"
                                   "-1\t0.5\t0\t1\tName\tdB\tGroup",
                                   "PARAMETERS\x1e"
                                   "12a\t0.5\t0\t1\tName\tdB\tGroup",
                                   "PARAMETERS\x1e"
                                   "1\t0.5\t-2\t1\tName\tdB\tGroup",
                                   "PARAMETERS\x1e"
                                   "1\t0.5\t0\t2\tName\tdB\tGroup",
                                   good + "\x1e",
                                   good + "\x1e"
                                          "99999999999\t0\t0\t1\tx\t\t"};
    for (const std::string &record : records) {
        SCOPED_TRACE(record);
        EXPECT_FALSE(parseParameterList(record));
    }
}

TEST(ProgramList, ReadsBackEveryProgramAndRefusesWhatDoesNotRead) {
    const std::vector<PluginProgram> listed = {{"Unity", 1, 0.0f},
                                               {"Half\tand\nhalf\x1e", 1, 0.5f},
                                               {"", 4294967295u, 1.0f},
                                               {"NaN", 1, std::numeric_limits<float>::quiet_NaN()},
                                               {"Third", 9, 1.0f / 3.0f}};
    const std::optional<std::vector<PluginProgram>> read =
        parseProgramList(formatProgramList(listed));
    ASSERT_TRUE(read);
    const std::vector<PluginProgram> expected = {{"Unity", 1, 0.0f},
                                                 {"Half and half ", 1, 0.5f},
                                                 {"", 4294967295u, 1.0f},
                                                 {"Third", 9, 1.0f / 3.0f}};
    EXPECT_EQ(*read, expected) << "names cleaned, the value that is none left out";
    EXPECT_EQ(parseProgramList("PROGRAMS"),
              std::optional<std::vector<PluginProgram>>(std::vector<PluginProgram>{}));
    for (const std::string bad : {"PROGRAM", "PROGRAMS\x1e",
                                  "PROGRAMS\x1e"
                                  "1\t0.5",
                                  "PROGRAMS\x1e"
                                  "1\t0.5\tA\tB",
                                  "PROGRAMS\x1e"
                                  "x\t0.5\tA",
                                  "PROGRAMS\x1e"
                                  "1\t2\tA",
                                  "PROGRAMS\x1e"
                                  "1\t0.5\tA\x1e",
                                  "PARAMETERS\x1e"
                                  "1\t0.5\tA"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseProgramList(bad));
    }
    const std::string request = formatProgramStateRequest({"Half a gain", 1, 0.5f});
    ASSERT_TRUE(request.starts_with("PROGRAMSTATE "));
    EXPECT_EQ(parseProgramStateRequest(request.substr(13)),
              std::optional<PluginProgram>(PluginProgram{"Half a gain", 1, 0.5f}));
    for (const char *bad : {"", "1", "x 0.5 A", "1 1.5 A", "1 nan A", "-1 0.5 A"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseProgramStateRequest(bad));
    }
}

TEST(ValueText, AsksForOneValueAndReadsOneLineBack) {
    const std::string request = formatValueTextRequest(42, 0.125f);
    ASSERT_TRUE(request.starts_with("VALUETEXT "));
    const std::optional<ParameterValue> asked = parseValueTextRequest(request.substr(10));
    ASSERT_TRUE(asked);
    EXPECT_EQ(*asked, (ParameterValue{42, 0.125f}));
    for (const char *bad : {"", "1", "1 ", "x 0.5", "1 nan", "1 2", "1 0.5 3", "-1 0.5"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseValueTextRequest(bad));
    }
    const std::string answer = formatValueText("12 dB\nINJECTED");
    EXPECT_EQ(answer.find('\n'), std::string::npos);
    EXPECT_EQ(parseValueText(answer), std::optional<std::string>("12 dB INJECTED"));
    EXPECT_EQ(parseValueText(formatValueText("")), std::optional<std::string>(""));
    EXPECT_FALSE(parseValueText("ERR valuetext"));
}

TEST(StateBlob, WritesTheLengthPrefixedLayout) {
    testing::TemporaryFolder folder;
    auto path = folder.path() / "blob.bin";
    ASSERT_TRUE(writeStateBlob(path, {"abc", {0x01, 0x02}}));
    std::vector<uint8_t> expected = {3, 0, 0, 0, 'a', 'b', 'c', 2, 0, 0, 0, 1, 2};
    EXPECT_EQ(fileBytes(path), expected);
}

TEST(StateBlob, RoundTripsALargeState) {
    testing::TemporaryFolder folder;
    auto path = folder.path() / "blob.bin";
    PluginInstanceState written{std::string(32, 'F'), std::vector<uint8_t>(100000)};
    for (size_t index = 0; index < written.state.size(); ++index)
        written.state[index] = uint8_t(index * 31);
    ASSERT_TRUE(writeStateBlob(path, written));
    auto read = readStateBlob(path);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->uid, written.uid);
    EXPECT_EQ(read->state, written.state);
}

TEST(StateBlob, ReadsShortAndForgedFilesWithoutFailingOrOverAllocating) {
    testing::TemporaryFolder folder;
    EXPECT_FALSE(readStateBlob(folder.path() / "missing.bin"));

    auto truncated = folder.path() / "truncated.bin";
    std::ofstream(truncated, std::ios::binary)
        .write("\x05\x00\x00\x00"
               "ab",
               6);
    auto shortBlob = readStateBlob(truncated);
    ASSERT_TRUE(shortBlob);
    EXPECT_EQ(shortBlob->uid, "ab");
    EXPECT_TRUE(shortBlob->state.empty());

    // A state length of 4 GB in a 14-byte file: only what the file holds is read.
    auto forged = folder.path() / "forged.bin";
    std::ofstream(forged, std::ios::binary)
        .write("\x01\x00\x00\x00"
               "x"
               "\xFF\xFF\xFF\xFF"
               "\x07\x08\x09",
               12);
    auto forgedBlob = readStateBlob(forged);
    ASSERT_TRUE(forgedBlob);
    EXPECT_EQ(forgedBlob->uid, "x");
    EXPECT_EQ(forgedBlob->state, (std::vector<uint8_t>{7, 8, 9}));
}

TEST(StateBlob, WriteFailsInAFolderThatDoesNotExist) {
    EXPECT_FALSE(writeStateBlob("/nonexistent-folder/blob.bin", {"abc", {1}}));
}

} // namespace
} // namespace orvane::vst
