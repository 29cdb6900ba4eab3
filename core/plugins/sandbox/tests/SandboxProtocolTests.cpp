#include "core/plugins/sandbox/SandboxProtocol.h"

#include "core/plugins/vst3/tests/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
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
