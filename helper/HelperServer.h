#pragma once

#include "core/plugins/InsertDryPath.h"
#include "core/plugins/lv2/Lv2Editor.h"
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/sandbox/SandboxProtocol.h"
#include "core/plugins/sandbox/SandboxSharedBlock.h"
#include "core/plugins/vst3/Vst3Plugin.h"
#include "core/plugins/vst3/hosting/EditorWindow.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvane::vst {

/// Exit statuses of the helper program.
enum HelperExitStatus { helperQuit = 0, helperUsage = 1, helperNoSocket = 2, helperNoListen = 3 };

/// Serves the sandbox protocol for one in-process plug-in: VST 3, or LV2 when "LOAD " names
/// "lv2:" and a URI; "CHAINLOAD " adds more after it, up to `maximumChainLength` in all, which
/// every block goes through in series ("MEMBER " addresses them). The listening socket and
/// every open connection are registered with the editor run loop, so requests and the plug-in's
/// editor window are served from the same single-threaded loop.
///
/// Several connections are served side by side, each with a buffer of its own: a client that
/// sends nothing, or half a line, never keeps another one waiting. What a client can make the
/// helper hold is bounded: request lines by `requestLineLimit` (`stateRequestLimit` for
/// "SETSTATE "), block sizes by `maximumPrepareFrames`, connections by `maximumHelperConnections`.
///
/// After "SHAREDBLOCK " audio blocks arrive through shared memory instead and are processed on
/// a thread of their own, at real-time priority where the system allows it, so that a block
/// never waits behind a request or the editor; the plug-in lock keeps the two apart.
class HelperServer : public Steinberg::Linux::IEventHandler {
  public:
    explicit HelperServer(std::string socketPath);
    ~HelperServer();
    HelperServer(const HelperServer &) = delete;
    HelperServer &operator=(const HelperServer &) = delete;

    /// Creates, binds and listens; returns `helperQuit` on success, otherwise the exit status.
    [[nodiscard]] HelperExitStatus listen();
    /// Serves requests until one asks to "QUIT"; then removes the socket file.
    void serve();

    void PLUGIN_API onFDIsSet(Steinberg::Linux::FileDescriptor fd) override;
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **object) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

  private:
    struct Connection {
        int fd = -1;
        /// Bytes received and not yet served.
        std::string pending;
        /// Whether a whole request has come: one that never sent any is the first to go.
        bool served = false;
    };

    void acceptConnection();
    void endConnection(int fd);
    void receive(Connection &connection);
    /// Serves every complete request in the connection's buffer; false when the connection
    /// ended meanwhile.
    [[nodiscard]] bool serveBuffered(Connection &connection);
    /// The reply to one request line; empty when the request sends no reply line.
    std::string dispatch(Connection &connection, const std::string &line);
    std::string load(const std::string &arguments);
    std::string describe(const std::string &arguments);
    std::string prepare(const std::string &arguments);
    std::string setParameter(const std::string &arguments);
    void applyParams(const std::string &arguments);
    [[nodiscard]] bool processBlock(Connection &connection, const std::string &arguments);
    std::string getState();
    /// The answer to "PROGRAMSTATE ": the state of a program of `hosted`, taken from another
    /// instance of it.
    static std::string programStateOf(Plugin &hosted, const std::string &arguments);
    std::string setState(const std::string &arguments);
    std::string openEditor();
    std::string loadLv2(const std::string &pluginId);
    [[nodiscard]] bool setLv2Parameter(uint32_t portIndex, float value);
    void processLv2Block(float *blockLeft, float *blockRight, int frames,
                         std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                         std::span<const int32_t> noteOffFrames = {});
    std::string attachSharedBlock(const std::string &arguments);
    void serveSharedBlocks(int priority);
    void processSharedBlock(SharedBlockSlot &block);
    void applyBlockValues(size_t member, std::span<const ParameterValue> values);
    void deferBlockValues(size_t member, std::span<const ParameterValue> values);
    void applyValue(size_t member, const ParameterValue &entry);
    void processMain(float *blockLeft, float *blockRight, int frames,
                     std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                     std::span<const int32_t> noteOffFrames);
    std::string serveBesideBlocks(const std::string &line);
    static bool asksAboutParameters(const std::string &line);
    static std::string describeParameters(Plugin &hosted, const std::string &line);
    /// The answer to "EDITORSTATE" for a VST 3's editor: its state and what the user turned.
    static std::string editorReport(Vst3Plugin &edited, std::vector<ParameterValue> &pending);
    void stopSharedBlocks();
    void watchAll();
    Connection *connectionFor(int fd);

    /// An LV2 plug-in's interface, shown by the interface host (a process of the helper's own,
    /// so that an interface's crash does not take the plug-in with it), and the values the
    /// user set in it that the application has not asked for yet.
    struct Lv2EditorSlot {
        std::unique_ptr<lv2::Lv2Editor> editor;
        std::vector<ParameterValue> edits;
        /// How the last one ended by itself.
        EditorStatus ended = EditorStatus::closed;
    };
    /// The reply to an editor request for an LV2 plug-in; empty when `request` is none.
    std::string serveLv2Editor(lv2::Lv2Plugin &hosted, Lv2EditorSlot &slot,
                               const std::string &request);
    /// Lets open LV2 interfaces exchange values; true while any is open.
    bool idleLv2Editors();
    static void idleLv2Editor(Lv2EditorSlot &slot);

    /// A plug-in processed after the main one, in the same block: the rest of a track's chain
    /// when its inserts share one helper.
    struct ChainMember {
        Vst3Plugin vst;
        lv2::Lv2Plugin lv2;
        /// Declared after the plug-in, so that the interface goes first.
        Lv2EditorSlot editor;
        /// What the user turned in the VST 3's editor that the application has not asked for.
        std::vector<ParameterValue> editorEdits;
        bool isLv2 = false;
        /// What the member plays while bypassed, sized by "PREPARE ".
        InsertDryPath dryPath;
    };
    std::string loadChainMember(const std::string &arguments);
    std::string serveChainMember(const std::string &arguments);
    std::string prepareChain(int32_t mainLatency);
    int32_t mainPluginLatency() const;
    /// `members` as the block gave them, the main plug-in's first; the members past its end
    /// play with no bypass and no values.
    void processChain(float *blockLeft, float *blockRight, int frames,
                      std::span<const MemberBlockValues> members = {},
                      std::span<float> memberSeconds = {});

    std::string socketPath;
    int listenFd = -1;
    /// The chain after the main plug-in, in processing order; "MEMBER " requests number them
    /// from 1.
    std::vector<std::unique_ptr<ChainMember>> chain;
    std::vector<Connection> connections;
    /// Set when a request ended its own connection while it was being served.
    bool connectionEnded = false;
    bool quitRequested = false;
    Vst3Plugin plugin;
    /// What the user turned in `plugin`'s editor that the application has not asked for.
    std::vector<ParameterValue> pluginEditorEdits;
    lv2::Lv2Plugin lv2Plugin;
    /// True while `lv2Plugin` is the plug-in served.
    bool hostingLv2 = false;
    /// Declared after the plug-in, so that the interface goes first.
    Lv2EditorSlot mainEditor;
    std::vector<lv2::Lv2MidiEvent> pendingEvents;
    double sampleRate = 48000.0;
    int blockSize = 512;
    std::vector<float> interleaved, left, right;
    BlockNotes pendingNotes;
    /// Held while the plug-in is used, by requests and by the block thread alike; not by a
    /// VST 3's state and editor requests, which the format allows beside processing.
    std::mutex pluginLock;
    /// Keeps the instance's parameter bookkeeping to one thread: held by the requests served
    /// beside the block thread, and tried by the block thread, which meanwhile keeps the
    /// block's values for later instead of waiting.
    std::mutex valuesLock;
    struct DeferredValue {
        size_t member = 0;
        ParameterValue value;
    };
    std::array<DeferredValue, 4 * maximumParamsPerLine> deferredValues{};
    size_t deferredCount = 0;
    /// What the main plug-in plays while bypassed in a chain, sized by "PREPARE ".
    InsertDryPath mainDryPath;
    std::unique_ptr<SharedBlockMapping> sharedBlock;
    std::thread blockThread;
    std::atomic<bool> blockThreadStopping{false};
};

} // namespace orvane::vst
