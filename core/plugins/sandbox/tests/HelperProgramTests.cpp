#include "core/plugins/sandbox/SandboxSharedBlock.h"
#include "core/plugins/sandbox/tests/SandboxTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>

extern char **environ;

namespace orvane::vst {
namespace {

using namespace testing;

// The misbehaving effect's state: its magic number and the behaviour, both little-endian.
const std::string passThroughState = "4D42564800000000";
const std::string latencyState = "4D42564803000000";
// "Behaviour" 1.0 selects the state of more than 64 KB.
const std::string largeStateParameter = "SETPARAM 0 1";

int runHelper(std::vector<std::string> arguments) {
    std::vector<char *> argv;
    std::string program = helperProgramPath();
    argv.push_back(program.data());
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<float> rampBlock(int frames) {
    std::vector<float> samples(size_t(frames) * 2);
    for (size_t index = 0; index < samples.size(); ++index)
        samples[index] = float(index % 1000) / 1000.0f - 0.5f;
    return samples;
}

class HelperProtocol : public ::testing::Test {
  protected:
    RunningHelper helper;
    RawClient client{helper.socketPath};

    void loadMisbehavingEffect() {
        ASSERT_EQ(client.request("LOAD " + misbehavingEffectPath()), "OK");
        ASSERT_EQ(client.request("PREPARE 48000 512"), "OK 0");
    }
};

TEST(HelperCommandLine, ExitsWithStatusOneWithoutArgumentAndThreeWhenItCannotBind) {
    EXPECT_EQ(runHelper({}), 1);
    EXPECT_EQ(runHelper({"/nonexistent-folder/helper.sock"}), 3);
}

TEST(HelperCommandLine, RemovesAStaleSocketFileAndListensOnlyForItsUser) {
    TemporaryFolder folder;
    std::string path = (folder.path() / "stale.sock").string();
    std::ofstream(path) << "left over";
    HelperProcess process;
    std::string errorText;
    ASSERT_TRUE(startHelperProcess(helperProgramPath(), path, process, errorText)) << errorText;
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    stopHelperProcess(process);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(HelperProtocol, AnswersPingAndRefusesUnknownRequestsIncludingLowerCaseQuit) {
    EXPECT_EQ(client.request("PING"), "PONG");
    EXPECT_EQ(client.request("quit"), "ERR unknown");
    EXPECT_EQ(client.request("PING "), "ERR unknown");
    EXPECT_EQ(client.request("LOAD"), "ERR unknown");
    EXPECT_EQ(client.request("PING"), "PONG");
}

TEST_F(HelperProtocol, QuitEndsTheHelperWithStatusZeroAndRemovesTheSocketFile) {
    ASSERT_TRUE(client.send("QUIT"));
    EXPECT_EQ(helper.waitForExit(), 0);
    EXPECT_FALSE(std::filesystem::exists(helper.socketPath));
}

TEST_F(HelperProtocol, RequestsWithoutAPluginGetTheirErrors) {
    EXPECT_EQ(client.request("LOAD /nonexistent/Missing.vst3"), "ERR load");
    EXPECT_EQ(client.request("PREPARE 48000 512"), "ERR prepare");
    EXPECT_EQ(client.request("SETPARAM 0 0.5"), "ERR param");
    EXPECT_EQ(client.request("GETSTATE"), "ERR state");
    EXPECT_EQ(client.request("SETSTATE 00"), "ERR setstate");
    EXPECT_EQ(client.request("HASEDITOR"), "NO");
    EXPECT_EQ(client.request("OPENEDITOR"), "ERR editor");
    EXPECT_EQ(client.request("CLOSEEDITOR"), "OK");
    EXPECT_EQ(client.request("EDITORSTATE"), "EDITOR CLOSED");
    EXPECT_EQ(client.request("UNLOAD"), "OK");
}

TEST_F(HelperProtocol, LoadsZamCompByUidAndAnswersEditorAndParameterRequests) {
    ASSERT_TRUE(zamPluginsInstalled());
    RawClient probe(helper.socketPath);
    ASSERT_EQ(client.request("LOAD " + zamBundle("ZamComp")), "OK");
    EXPECT_EQ(client.request("PREPARE 44100.5 256"), "OK 0");
    EXPECT_EQ(client.request("SETPARAM 7 0.25"), "OK");
    EXPECT_EQ(client.request("HASEDITOR"), "YES");
    std::string state = client.request("GETSTATE");
    ASSERT_TRUE(state.starts_with("STATE ")) << state;
    EXPECT_EQ(client.request("SETSTATE " + state.substr(6)), "OK");
}

TEST_F(HelperProtocol, ClassUidIsTakenOnlyWhenItIsThirtyTwoHexDigits) {
    const std::string uid = "48564C544D49534245484156";
    EXPECT_EQ(client.request("LOAD " + misbehavingEffectPath() + " " + uid + "45464658"), "OK");
    EXPECT_EQ(client.request("LOAD " + misbehavingEffectPath() + " " + uid + "00000000"),
              "ERR load");
}

TEST_F(HelperProtocol, LoadsABundleWhosePathContainsSpaces) {
    TemporaryFolder folder;
    auto spaced = folder.path() / "My Plug-ins";
    std::filesystem::create_directory(spaced);
    // The bundle keeps its name: the library inside is found by it.
    auto bundle = spaced / std::filesystem::path(misbehavingEffectPath()).filename();
    std::filesystem::create_directory_symlink(misbehavingEffectPath(), bundle);
    EXPECT_EQ(client.request("LOAD " + bundle.string()), "OK");
}

TEST_F(HelperProtocol, PrepareWithUnreadableNumbersKeepsTheDefaults) {
    loadMisbehavingEffect();
    EXPECT_EQ(client.request("PREPARE fast please"), "OK 0");
    EXPECT_EQ(client.request("SETSTATE " + latencyState), "OK");
    EXPECT_EQ(client.request("PREPARE"), "ERR unknown");
    EXPECT_EQ(client.request("PREPARE x"), "OK 256");
}

TEST_F(HelperProtocol, ProcessRefusesZeroAndMoreThan8192FramesWithoutReadingSamples) {
    loadMisbehavingEffect();
    EXPECT_EQ(client.request("PROCESS 0"), "ERR frames");
    EXPECT_EQ(client.request("PROCESS 9000"), "ERR frames");
    EXPECT_EQ(client.request("PROCESS -4"), "ERR frames");
    EXPECT_EQ(client.request("PROCESS many"), "ERR frames");
    // Had the helper read samples, this line would have been swallowed as audio.
    EXPECT_EQ(client.request("PING"), "PONG");
}

TEST_F(HelperProtocol, ProcessOf8192FramesReturnsTheBlockThroughThePlugin) {
    loadMisbehavingEffect();
    std::vector<float> block = rampBlock(8192);
    ASSERT_TRUE(client.send("PROCESS 8192"));
    ASSERT_TRUE(client.sendBytes(block.data(), block.size() * sizeof(float)));
    std::vector<float> returned(block.size());
    ASSERT_TRUE(client.receiveBytes(returned.data(), returned.size() * sizeof(float)));
    EXPECT_EQ(returned, block);
    EXPECT_TRUE(client.silent());
    EXPECT_EQ(client.request("PING"), "PONG");
}

TEST_F(HelperProtocol, ProcessCutShortByTheClientRepliesErrRead) {
    loadMisbehavingEffect();
    std::vector<float> block = rampBlock(100);
    ASSERT_TRUE(client.send("PROCESS 200"));
    ASSERT_TRUE(client.sendBytes(block.data(), block.size() * sizeof(float)));
    shutdown(client.fd, SHUT_WR);
    EXPECT_EQ(client.reply(), "ERR read");
    RawClient next(helper.socketPath);
    EXPECT_EQ(next.request("PING"), "PONG");
}

TEST_F(HelperProtocol, SetStateEdgeCases) {
    loadMisbehavingEffect();
    EXPECT_EQ(client.request("SETSTATE A"), "ERR hex");
    EXPECT_EQ(client.request("SETSTATE 4D4G"), "ERR hex");
    // An empty state reaches the plug-in, which refuses it for want of its magic number.
    EXPECT_EQ(client.request("SETSTATE "), "ERR setstate");
    EXPECT_EQ(client.request("SETSTATE " + passThroughState), "OK");
    EXPECT_EQ(client.request("SETSTATE " + latencyState + "F"), "OK");
    EXPECT_EQ(client.request("GETSTATE"), "STATE " + latencyState);
    EXPECT_EQ(client.request("SETSTATE 4d42564800000000"), "OK");
    EXPECT_EQ(client.request("GETSTATE"), "STATE " + passThroughState);
}

TEST_F(HelperProtocol, StateLargerThan64KilobytesTravelsAsOneReply) {
    loadMisbehavingEffect();
    ASSERT_EQ(client.request(largeStateParameter), "OK");
    // The plug-in takes the parameter with its next block.
    std::vector<float> block = rampBlock(64);
    ASSERT_TRUE(client.send("PROCESS 64"));
    ASSERT_TRUE(client.sendBytes(block.data(), block.size() * sizeof(float)));
    ASSERT_TRUE(client.receiveBytes(block.data(), block.size() * sizeof(float)));
    std::string state = client.request("GETSTATE");
    ASSERT_TRUE(state.starts_with("STATE 4D42564805000000")) << state.substr(0, 40);
    EXPECT_GT(state.size(), 6u + 2 * 65536);
    EXPECT_EQ(client.request("SETSTATE " + state.substr(6)), "OK");
}

TEST_F(HelperProtocol, ANewConnectionCarriesOnWithThePluginOfTheLastOne) {
    loadMisbehavingEffect();
    ASSERT_EQ(client.request("SETSTATE " + latencyState), "OK");
    client.disconnect();
    RawClient second(helper.socketPath);
    EXPECT_EQ(second.request("GETSTATE"), "STATE " + latencyState);
    EXPECT_EQ(second.request("PREPARE 48000 512"), "OK 256");
}

TEST_F(HelperProtocol, APeerThatClosesRightAfterUnloadNeverEndsTheHelper) {
    loadMisbehavingEffect();
    ASSERT_TRUE(client.send("UNLOAD"));
    client.disconnect();
    for (int round = 0; round < 3; ++round) {
        RawClient next(helper.socketPath);
        ASSERT_TRUE(next.send("UNLOAD"));
    }
    RawClient last(helper.socketPath);
    EXPECT_EQ(last.request("PING"), "PONG");
    EXPECT_EQ(last.request("GETSTATE"), "ERR state");
}

} // namespace
} // namespace orvane::vst

namespace orvane::vst {
namespace {

using namespace testing;

// --- What a client can make the helper hold ------------------------------------------------

TEST_F(HelperProtocol, PrepareRefusesBlockSizesPastTheProcessBoundAndKeepsTheLastGoodOnes) {
    ASSERT_EQ(client.request("LOAD " + misbehavingEffectPath()), "OK");
    for (const char *request : {"PREPARE 48000 2147483647", "PREPARE 48000 8193", "PREPARE 48000 0",
                                "PREPARE 48000 -5", "PREPARE -48000 512", "PREPARE 1e300 512"})
        EXPECT_EQ(client.request(request), "ERR prepare") << request;
    EXPECT_EQ(client.request("PREPARE 48000 8192"), "OK 0");
    // An unreadable request keeps the last good numbers, which still prepare.
    EXPECT_EQ(client.request("PREPARE what"), "OK 0");
    EXPECT_EQ(client.request("PING"), "PONG");
}

TEST_F(HelperProtocol, AnOverlongLineEndsOnlyItsOwnConnection) {
    RawClient flooding(helper.socketPath);
    // A little over the limit, without a line feed: the helper must not wait for the end.
    std::string line(requestLineLimit + 4096, 'A');
    flooding.sendBytes(line.data(), line.size());
    char byte = 0;
    EXPECT_FALSE(flooding.receiveBytes(&byte, 1)) << "the connection stays open";
    // Only "SETSTATE " lines may be longer, up to the size of the largest state.
    RawClient stateSender(helper.socketPath);
    std::string state = "SETSTATE " + std::string(requestLineLimit * 2, '0');
    EXPECT_EQ(stateSender.request(state), "ERR setstate");
    EXPECT_EQ(client.request("PING"), "PONG");
}

TEST_F(HelperProtocol, IdleAndHalfSentConnectionsKeepNoOtherClientWaiting) {
    RawClient idle(helper.socketPath);
    RawClient halfLine(helper.socketPath);
    ASSERT_TRUE(halfLine.sendBytes("PIN", 3));
    RawClient third(helper.socketPath);
    EXPECT_EQ(third.request("PING"), "PONG");
    EXPECT_EQ(client.request("PING"), "PONG");
    // The half line is served once it is complete.
    ASSERT_TRUE(halfLine.send("G"));
    EXPECT_EQ(halfLine.reply(), "PONG");
}

TEST_F(HelperProtocol, ConnectionsPastTheLimitAreClosedAtOnce) {
    // Every place is held by a client that spoke, so none of them is the one to make room.
    EXPECT_EQ(client.request("PING"), "PONG");
    std::vector<std::unique_ptr<RawClient>> others;
    for (size_t count = 1; count < maximumHelperConnections; ++count)
        others.push_back(std::make_unique<RawClient>(helper.socketPath));
    for (auto &other : others)
        EXPECT_EQ(other->request("PING"), "PONG");
    RawClient refused(helper.socketPath);
    // Closed at once: depending on when the close lands, the request cannot even be sent.
    const std::string answer = refused.request("PING");
    EXPECT_TRUE(answer == "<no reply>" || answer == "<send failed>") << answer;
    others.pop_back();
    // Served in the same pass as the closed connection's end, so the room is free after it.
    EXPECT_EQ(client.request("PING"), "PONG");
    RawClient admitted(helper.socketPath);
    EXPECT_EQ(admitted.request("PING"), "PONG");
}

TEST_F(HelperProtocol, HeldOpenConnectionsThatSayNothingCannotLockOutAClient) {
    EXPECT_EQ(client.request("PING"), "PONG");
    std::vector<std::unique_ptr<RawClient>> held;
    for (int count = 0; count < 300; ++count)
        held.push_back(std::make_unique<RawClient>(helper.socketPath));
    RawClient newcomer(helper.socketPath);
    EXPECT_EQ(newcomer.request("PING"), "PONG");
    EXPECT_EQ(client.request("PING"), "PONG") << "a client that spoke keeps its place";
    // The silent ones made room, the oldest first.
    const std::string answer = held.front()->request("PING");
    EXPECT_TRUE(answer == "<no reply>" || answer == "<send failed>") << answer;
}

// --- Requests added for the application -------------------------------------------------------

TEST_F(HelperProtocol, DescribeListsABundlesAudioClassesOrRefusesWhatIsNoBundle) {
    ASSERT_TRUE(client.send("DESCRIBE " + misbehavingEffectPath()));
    EXPECT_EQ(client.reply(), "CLASSES 1");
    std::optional<PluginDescription> described = parseClassLine(client.reply());
    ASSERT_TRUE(described.has_value());
    EXPECT_EQ(described->uid, "48564C544D4953424548415645464658");
    EXPECT_EQ(described->name, "Halvora Misbehaving Effect");
    EXPECT_EQ(described->vendor, "Halvora Tests");
    EXPECT_EQ(client.request("DESCRIBE /nonexistent/Nothing.vst3"), "ERR load");
    EXPECT_EQ(client.request("PING"), "PONG");
}

TEST_F(HelperProtocol, ParamsLinesHaveNoReplyAndReachThePluginBeforeTheNextBlock) {
    loadMisbehavingEffect();
    // "Behaviour" 0.6 selects the latency of 256 samples, which the next prepare reports.
    ASSERT_TRUE(client.send("PARAMS 0 0.6"));
    std::vector<float> block = rampBlock(64);
    ASSERT_TRUE(client.send("PROCESS 64"));
    ASSERT_TRUE(client.sendBytes(block.data(), block.size() * sizeof(float)));
    std::vector<float> back(block.size());
    ASSERT_TRUE(client.receiveBytes(back.data(), back.size() * sizeof(float)));
    EXPECT_EQ(back, block);
    EXPECT_EQ(client.request("PREPARE 48000 512"), "OK 256");
    // A line that does not parse changes nothing and is not answered either.
    ASSERT_TRUE(client.send("PARAMS 0 x"));
    EXPECT_EQ(client.request("PING"), "PONG");
}

// Blocks through shared memory: parameter values ride along, the helper wakes on the request
// word, finishes every block it was given in order, and answers on the completion word.
TEST_F(HelperProtocol, SharedBlocksCarryAudioAndParametersThroughMemory) {
    EXPECT_EQ(client.request("SHAREDBLOCK /halvora_block_missing 0"), "ERR sharedblock");
    EXPECT_EQ(client.request("SHAREDBLOCK"), "ERR unknown");
    loadMisbehavingEffect();
    SharedBlockMapping mapping;
    std::string name;
    ASSERT_TRUE(mapping.create(name));
    ASSERT_EQ(client.request("SHAREDBLOCK " + name + " 0"), "OK");
    unlinkSharedBlock(name);
    SharedBlockLayout &block = *mapping.block();
    // Two blocks wait at once, as when the application sends the next while the helper is late.
    const std::vector<float> samples = rampBlock(64);
    for (uint32_t number : {1u, 2u}) {
        SharedBlockSlot &slot = block.slotOf(number);
        for (size_t frame = 0; frame < 64; ++frame) {
            slot.input[0][frame] = samples[frame] * float(number);
            slot.input[1][frame] = samples[64 + frame] * float(number);
        }
        slot.frames = 64;
    }
    // "Behaviour" 0.6 selects the latency of 256 samples, which the next prepare reports.
    block.slotOf(1).params[0] = {0, 0.6f};
    block.slotOf(1).paramCount = 1;
    block.requested.store(2, std::memory_order_release);
    wakeSharedWord(block.requested);
    const auto until = std::chrono::steady_clock::now() + 10s;
    for (uint32_t done = 0; (done = block.completed.load(std::memory_order_acquire)) != 2 &&
                            std::chrono::steady_clock::now() < until;)
        waitOnSharedWord(block.completed, done, 100ms);
    ASSERT_EQ(block.completed.load(), 2u);
    for (uint32_t number : {1u, 2u}) {
        const SharedBlockSlot &slot = block.slotOf(number);
        for (size_t frame = 0; frame < 64; ++frame) {
            ASSERT_EQ(slot.output[0][frame], samples[frame] * float(number)) << number;
            ASSERT_EQ(slot.output[1][frame], samples[64 + frame] * float(number)) << number;
        }
    }
    EXPECT_EQ(client.request("PREPARE 48000 512"), "OK 256");
}

} // namespace
} // namespace orvane::vst
