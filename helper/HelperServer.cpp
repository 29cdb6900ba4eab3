#include "helper/HelperServer.h"

#include "core/plugins/lv2/Lv2World.h"
#include "core/plugins/sandbox/SandboxProtocol.h"
#include "core/plugins/vst3/PluginScanner.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvane::vst {

namespace {

constexpr int listenBacklog = 4;
// The loop wakes this often even when nothing happens, so editor timers never starve.
constexpr int idleWaitMilliseconds = 1000;
/// How often an open LV2 interface exchanges values with its host process.
constexpr int lv2EditorTickMilliseconds = 30;
constexpr size_t classUidLength = 32;
constexpr size_t receiveChunk = 65536;
// An audio block follows its "PROCESS " line at once; a client that stops half-way through
// one holds the helper no longer than this.
constexpr auto payloadDeadline = std::chrono::seconds(2);

float secondsSince(std::chrono::steady_clock::time_point started) {
    return std::chrono::duration<float>(std::chrono::steady_clock::now() - started).count();
}
constexpr double highestSampleRate = 1536000.0;
// The block thread looks this often whether it is being stopped.
constexpr auto blockThreadPoll = std::chrono::milliseconds(100);
// Without real-time scheduling the block thread asks for the best nice level allowed.
constexpr int bestNiceLevel = -20;

// Real-time priority below the application's audio thread when the system allows it
// (RLIMIT_RTPRIO, which the realtime group raises, or the capability to ignore it); otherwise
// the best nice level allowed. The kernel is the judge, so each is simply tried. Said once on
// standard error, as the application's log.
void raiseBlockThreadPriority(int wanted) {
    if (wanted > 0) {
        sched_param parameters{};
        parameters.sched_priority = std::min(wanted, sched_get_priority_max(SCHED_FIFO));
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) == 0) {
            std::fprintf(stderr, "HalvoraVstHelper: audio blocks at real-time priority %d\n",
                         parameters.sched_priority);
            return;
        }
    }
    // The calling thread alone: on Linux a thread id names it for setpriority.
    int nice = bestNiceLevel;
    while (nice < 0 && setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice) != 0)
        ++nice;
    std::fprintf(stderr,
                 "HalvoraVstHelper: no real-time priority allowed (wanted %d), audio blocks at "
                 "nice %d\n",
                 wanted, nice);
}

bool isClassUid(const std::string &word) {
    if (word.size() != classUidLength) return false;
    for (char c : word)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string trimmed(const std::string &text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The uid is the last word only when it is a class uid, so a bundle path with spaces in it
// still arrives whole.
void splitPathAndUid(const std::string &arguments, std::string &path, std::string &uid) {
    path = trimmed(arguments);
    uid.clear();
    size_t space = path.find_last_of(" \t");
    if (space == std::string::npos) return;
    std::string last = path.substr(space + 1);
    if (!isClassUid(last)) return;
    uid = last;
    path = trimmed(path.substr(0, space));
}

bool reply(int fd, const std::string &text) {
    if (text.empty()) return true;
    return oopWriteLine(fd, text);
}

size_t lineLimitFor(const std::string &pending) {
    return pending.starts_with("SETSTATE ") ? stateRequestLimit : requestLineLimit;
}

/// The frame note `index` of a block of `blockFrames` falls on, within the block; the first
/// when the block does not say.
int32_t frameWithin(std::span<const int32_t> frames, size_t index, int blockFrames) {
    const int32_t frame = index < frames.size() ? frames[index] : 0;
    return std::clamp(frame, 0, std::max(blockFrames - 1, 0));
}

} // namespace

HelperServer::HelperServer(std::string path) : socketPath(std::move(path)) {}

HelperServer::~HelperServer() {
    stopSharedBlocks();
    EditorRunLoop::instance().unregisterEventHandler(this);
    for (Connection &connection : connections)
        close(connection.fd);
    if (listenFd >= 0) close(listenFd);
}

HelperExitStatus HelperServer::listen() {
    unlink(socketPath.c_str());
    listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd < 0) return helperNoSocket;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    // Only the user may connect: the socket file is made with mode 0600.
    mode_t previousMask = umask(0177);
    bool bound = bind(listenFd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    umask(previousMask);
    if (!bound || ::listen(listenFd, listenBacklog) != 0) {
        close(listenFd);
        listenFd = -1;
        return helperNoListen;
    }
    return helperQuit;
}

void HelperServer::watchAll() {
    EditorRunLoop &runLoop = EditorRunLoop::instance();
    runLoop.unregisterEventHandler(this);
    runLoop.registerEventHandler(this, listenFd);
    for (const Connection &connection : connections)
        runLoop.registerEventHandler(this, connection.fd);
}

void HelperServer::serve() {
    watchAll();
    bool lv2EditorsOpen = false;
    while (!quitRequested) {
        runEditorEvents(lv2EditorsOpen ? lv2EditorTickMilliseconds : idleWaitMilliseconds);
        lv2EditorsOpen = idleLv2Editors();
    }
    mainEditor.editor.reset();
    stopSharedBlocks();
    EditorRunLoop::instance().unregisterEventHandler(this);
    for (Connection &connection : connections)
        close(connection.fd);
    connections.clear();
    close(listenFd);
    listenFd = -1;
    unlink(socketPath.c_str());
    plugin.unload();
    lv2Plugin.unload();
}

HelperServer::Connection *HelperServer::connectionFor(int fd) {
    auto found = std::find_if(connections.begin(), connections.end(),
                              [fd](const Connection &connection) { return connection.fd == fd; });
    return found == connections.end() ? nullptr : &*found;
}

void PLUGIN_API HelperServer::onFDIsSet(Steinberg::Linux::FileDescriptor fd) {
    if (quitRequested) return;
    if (fd == listenFd) {
        acceptConnection();
        return;
    }
    if (Connection *connection = connectionFor(fd)) receive(*connection);
}

Steinberg::tresult PLUGIN_API HelperServer::queryInterface(const Steinberg::TUID iid,
                                                           void **object) {
    QUERY_INTERFACE(iid, object, Steinberg::FUnknown::iid, IEventHandler)
    QUERY_INTERFACE(iid, object, IEventHandler::iid, IEventHandler)
    *object = nullptr;
    return Steinberg::kNoInterface;
}

// At the limit, the oldest connection that never sent a whole request makes room: held-open
// sockets cannot lock out the application. Past that a new client is let in and closed at
// once: it learns that it is not served instead of waiting in the backlog, and the backlog
// never fills up.
void HelperServer::acceptConnection() {
    int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    if (connections.size() >= maximumHelperConnections) {
        auto silent = std::find_if(connections.begin(), connections.end(),
                                   [](const Connection &connection) { return !connection.served; });
        if (silent == connections.end()) {
            close(fd);
            return;
        }
        endConnection(silent->fd);
    }
    connections.push_back({fd, {}});
    watchAll();
}

// The plug-in is not touched: the next connection carries on with it as it was left.
void HelperServer::endConnection(int fd) {
    auto found = std::find_if(connections.begin(), connections.end(),
                              [fd](const Connection &connection) { return connection.fd == fd; });
    if (found == connections.end()) return;
    close(found->fd);
    connections.erase(found);
    connectionEnded = true;
    watchAll();
}

void HelperServer::receive(Connection &connection) {
    char chunk[receiveChunk];
    ssize_t received = recv(connection.fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (received <= 0) {
        endConnection(connection.fd);
        return;
    }
    connection.pending.append(chunk, static_cast<size_t>(received));
    (void)serveBuffered(connection); // an ended connection is closed in there
}

bool HelperServer::serveBuffered(Connection &connection) {
    int fd = connection.fd;
    size_t start = 0;
    for (;;) {
        size_t lineFeed = connection.pending.find('\n', start);
        if (lineFeed == std::string::npos) break;
        std::string line = connection.pending.substr(start, lineFeed - start);
        start = lineFeed + 1;
        // Requests may read past their line (an audio block), so the buffer is handed over
        // without what has been served.
        connection.pending.erase(0, start);
        start = 0;
        connectionEnded = false;
        connection.served = true;
        std::string answer = dispatch(connection, line);
        if (quitRequested) return false;
        // The connection may have ended, and with it this reference.
        if (connectionEnded) return false;
        if (!reply(fd, answer)) {
            endConnection(fd);
            return false;
        }
    }
    connection.pending.erase(0, start);
    if (connection.pending.size() > lineLimitFor(connection.pending)) {
        endConnection(fd);
        return false;
    }
    // Room kept for the largest line is given back once the line has been served.
    if (connection.pending.empty() && connection.pending.capacity() > receiveChunk)
        std::string().swap(connection.pending);
    return true;
}

std::string HelperServer::dispatch(Connection &connection, const std::string &line) {
    auto rest = [&line](std::string_view prefix) { return line.substr(prefix.size()); };
    if (line == "PING") return "PONG";
    if (line == "QUIT") {
        quitRequested = true;
        return {};
    }
    // Outside the plug-in lock: it stops the block thread, which may be waiting for that lock.
    if (line.starts_with("SHAREDBLOCK ")) return attachSharedBlock(rest("SHAREDBLOCK "));
    // Outside every lock: it loads an instance of its own, and the one playing is not touched.
    if (!hostingLv2 && line.starts_with("PROGRAMSTATE "))
        return programStateOf(plugin, line.substr(13));
    if (!hostingLv2) {
        std::string answer = serveBesideBlocks(line);
        if (!answer.empty()) return answer;
    }
    // Outside the plug-in lock: starting an interface takes a while, and it only reaches the
    // plug-in's values, which blocks read and write without a lock.
    if (hostingLv2) {
        std::string answer = serveLv2Editor(lv2Plugin, mainEditor, line);
        if (!answer.empty()) return answer;
    }
    if (line.starts_with("MEMBER ")) return serveChainMember(rest("MEMBER "));
    std::lock_guard lock(pluginLock);
    if (hostingLv2 && asksAboutParameters(line)) return describeParameters(lv2Plugin, line);
    if (line.starts_with("LOAD ")) return load(rest("LOAD "));
    if (line.starts_with("DESCRIBE ")) return describe(rest("DESCRIBE "));
    if (line.starts_with("PREPARE ")) return prepare(rest("PREPARE "));
    if (line.starts_with("SETPARAM ")) return setParameter(rest("SETPARAM "));
    if (line.starts_with("CHAINLOAD ")) return loadChainMember(rest("CHAINLOAD "));
    // No reply: the client sends its block right behind these lines.
    if (line.starts_with("PARAMS ")) {
        applyParams(rest("PARAMS "));
        return {};
    }
    if (line.starts_with("PROCESS ")) {
        (void)processBlock(connection, rest("PROCESS ")); // a failure is answered in there
        return {};
    }
    if (line.starts_with("NOTES ")) {
        pendingNotes = parseNotes(rest("NOTES ")).value_or(BlockNotes{});
        return {};
    }
    if (line == "UNLOAD") {
        mainEditor.editor.reset();
        chain.clear();
        plugin.unload();
        lv2Plugin.unload();
        hostingLv2 = false;
        return "OK";
    }
    if (line.starts_with("STATEFOLDER ")) {
        (void)lv2Plugin.setStateFolder(rest("STATEFOLDER "));
        return "OK";
    }
    if (line == "GETSTATE") return getState();
    if (line.starts_with("SETSTATE ")) return setState(rest("SETSTATE "));
    if (line == "HASEDITOR") return !hostingLv2 && plugin.hasEditor() ? "YES" : "NO";
    if (line == "OPENEDITOR") return hostingLv2 ? "ERR editor" : openEditor();
    if (line == "CLOSEEDITOR") {
        plugin.closeEditor();
        return "OK";
    }
    return "ERR unknown";
}

// A VST 3 may be asked for its state or its editor while it processes, so these requests leave
// the block thread running: a plug-in that takes long over its state never makes a block late.
// Requests come from this one thread, so nothing loads or unloads meanwhile. Empty when `line`
// is none of them.
std::string HelperServer::serveBesideBlocks(const std::string &line) {
    const bool besideBlocks = line == "GETSTATE" || line.starts_with("SETSTATE ") ||
                              line == "HASEDITOR" || line == "OPENEDITOR" ||
                              line == "CLOSEEDITOR" || line == "EDITORSTATE" ||
                              asksAboutParameters(line);
    if (!besideBlocks) return {};
    std::lock_guard values(valuesLock);
    if (line == "EDITORSTATE") return editorReport(plugin, pluginEditorEdits);
    if (asksAboutParameters(line)) return describeParameters(plugin, line);
    if (line == "GETSTATE") return getState();
    if (line.starts_with("SETSTATE ")) return setState(line.substr(9));
    if (line == "HASEDITOR") return plugin.hasEditor() ? "YES" : "NO";
    if (line == "OPENEDITOR") return openEditor();
    plugin.closeEditor();
    return "OK";
}

bool HelperServer::asksAboutParameters(const std::string &line) {
    return line == "PARAMETERS" || line == "PROGRAMS" || line.starts_with("VALUETEXT ");
}

// What the program's generic editor shows of a plug-in it cannot reach: the parameters with
// their values, and the plug-in's own text for a value.
std::string HelperServer::describeParameters(Plugin &hosted, const std::string &line) {
    if (line == "PARAMETERS") return formatParameterList(hosted.listParameters());
    if (line == "PROGRAMS") return formatProgramList(hosted.factoryPrograms());
    const std::optional<ParameterValue> asked = parseValueTextRequest(line.substr(10));
    if (!asked) return "ERR valuetext";
    return formatValueText(hosted.parameterValueText(asked->id, asked->value));
}

std::string HelperServer::programStateOf(Plugin &hosted, const std::string &arguments) {
    const std::optional<PluginProgram> program = parseProgramStateRequest(arguments);
    if (!program) return "ERR program";
    std::vector<uint8_t> state;
    std::string error;
    return hosted.programState(*program, state, error) ? "STATE " + encodeHex(state)
                                                       : "ERR program";
}

std::string HelperServer::loadLv2(const std::string &pluginId) {
    hostingLv2 = lv2Plugin.load(lv2::uriFromPluginId(pluginId));
    return hostingLv2 ? "OK" : "ERR load";
}

std::string HelperServer::load(const std::string &arguments) {
    std::string path, uid;
    splitPathAndUid(arguments, path, uid);
    mainEditor.editor.reset();
    chain.clear();
    plugin.unload();
    lv2Plugin.unload();
    hostingLv2 = false;
    if (lv2::isLv2PluginId(path)) return loadLv2(path);
    return plugin.load(path, uid) ? "OK" : "ERR load";
}

// Loading a bundle to list its classes runs its code, which is why the application asks a
// helper to do it: a bundle that crashes takes only this process down.
std::string HelperServer::describe(const std::string &arguments) {
    std::optional<std::vector<PluginDescription>> classes =
        describeBundleClasses(trimmed(arguments));
    if (!classes) return "ERR load";
    size_t count = std::min<size_t>(classes->size(), maximumDescribedClasses);
    std::string text = "CLASSES " + std::to_string(count);
    for (size_t index = 0; index < count; ++index)
        text += "\n" + formatClassLine((*classes)[index]);
    return text;
}

std::string HelperServer::prepare(const std::string &arguments) {
    std::istringstream words(arguments);
    double rate = 0.0;
    int size = 0;
    if (words >> rate >> size) {
        // Buffers are sized from these numbers: a block size past the bound, or a rate that is
        // no rate, is refused and the last good values stay.
        if (size < 1 || size > maximumPrepareFrames || !std::isfinite(rate) || rate <= 0.0 ||
            rate > highestSampleRate)
            return "ERR prepare";
        sampleRate = rate;
        blockSize = size;
    }
    if (hostingLv2) {
        if (!lv2Plugin.prepare(sampleRate, blockSize)) return "ERR prepare";
        return prepareChain(lv2Plugin.latency());
    }
    if (!plugin.prepare(sampleRate, blockSize)) return "ERR prepare";
    return prepareChain(plugin.latency);
}

int32_t HelperServer::mainPluginLatency() const {
    return hostingLv2 ? lv2Plugin.latency() : plugin.latency;
}

// The chain delays by what its plug-ins delay together, bypassed or not.
std::string HelperServer::prepareChain(int32_t mainLatency) {
    int64_t total = mainLatency;
    mainDryPath.resize(mainLatency);
    for (auto &member : chain) {
        const bool prepared = member->isLv2 ? member->lv2.prepare(sampleRate, blockSize)
                                            : member->vst.prepare(sampleRate, blockSize);
        if (!prepared) return "ERR prepare";
        const int32_t latency = member->isLv2 ? member->lv2.latency() : member->vst.latency;
        member->dryPath.resize(latency);
        total += latency;
    }
    return "OK " + std::to_string(total);
}

// "CHAINLOAD " adds a plug-in after the last one; the reply names its member number.
std::string HelperServer::loadChainMember(const std::string &arguments) {
    if (chain.size() + 1 >= maximumChainLength) return "ERR chain";
    std::string path, uid;
    splitPathAndUid(arguments, path, uid);
    auto member = std::make_unique<ChainMember>();
    member->isLv2 = lv2::isLv2PluginId(path);
    const bool loaded =
        member->isLv2 ? member->lv2.load(lv2::uriFromPluginId(path)) : member->vst.load(path, uid);
    if (!loaded) return "ERR load";
    chain.push_back(std::move(member));
    return "OK " + std::to_string(chain.size());
}

// "MEMBER <n> " and a state or parameter request for the chain's member n. A VST 3 member's
// state is served beside the block thread, as the main plug-in's is, under the values lock:
// the block thread keeps a block's values for later meanwhile. The chain itself changes only
// on this thread.
std::string HelperServer::serveChainMember(const std::string &arguments) {
    std::istringstream words(arguments);
    size_t number = 0;
    std::string request;
    if (!(words >> number >> request) || number < 1 || number > chain.size()) return "ERR member";
    ChainMember &member = *chain[number - 1];
    Plugin &hosted = member.isLv2 ? static_cast<Plugin &>(member.lv2) : member.vst;
    std::string rest;
    std::getline(words >> std::ws, rest);
    // Outside every lock, as for the main plug-in.
    if (request == "PROGRAMSTATE") return programStateOf(hosted, rest);
    if (member.isLv2) {
        std::string answer = serveLv2Editor(member.lv2, member.editor, request);
        if (!answer.empty()) return answer;
    } else if (request == "EDITORSTATE") {
        return editorReport(member.vst, member.editorEdits);
    }
    std::unique_lock lock(pluginLock, std::defer_lock);
    std::unique_lock values(valuesLock, std::defer_lock);
    if (member.isLv2 || request == "SETPARAM")
        lock.lock();
    else
        values.lock();
    if (request == "GETSTATE") {
        std::vector<uint8_t> state;
        const bool got = member.isLv2 ? member.lv2.getState(state) : member.vst.getState(state);
        return got ? "STATE " + encodeHex(state) : "ERR state";
    }
    if (request == "HASEDITOR") return !member.isLv2 && member.vst.hasEditor() ? "YES" : "NO";
    if (request == "OPENEDITOR")
        return !member.isLv2 && member.vst.openEditor() ? "OK" : "ERR editor";
    if (request == "CLOSEEDITOR") {
        if (!member.isLv2) member.vst.closeEditor();
        return "OK";
    }
    if (const std::string line = rest.empty() ? request : request + " " + rest;
        asksAboutParameters(line))
        return describeParameters(hosted, line);
    if (request == "STATEFOLDER") {
        if (member.isLv2) (void)member.lv2.setStateFolder(rest);
        return "OK";
    }
    if (request == "SETSTATE") {
        std::optional<std::vector<uint8_t>> state = decodeHex(rest, true);
        if (!state) return "ERR hex";
        const bool set = member.isLv2 ? member.lv2.setState(*state) : member.vst.setState(*state);
        return set ? "OK" : "ERR setstate";
    }
    if (request == "SETPARAM") {
        std::istringstream values(rest);
        uint32_t id = 0;
        float value = 0.0f;
        if (!(values >> id >> value)) return "ERR param";
        bool set = false;
        if (!member.isLv2) {
            set = member.vst.setParameterNormalized(id, value);
        } else if (const int index = member.lv2.parameterIndexForPort(id); index >= 0) {
            set = member.lv2.setParameterNormalizedAt(static_cast<size_t>(index), value);
        }
        return set ? "OK" : "ERR param";
    }
    return "ERR unknown";
}

// Under the plug-in lock, after the main plug-in: each member in turn, in place. Notes are the
// main plug-in's; the members are effects after it.
void HelperServer::processChain(float *blockLeft, float *blockRight, int frames,
                                std::span<const MemberBlockValues> members,
                                std::span<float> memberSeconds) {
    for (size_t index = 0; index < chain.size(); ++index) {
        ChainMember &member = *chain[index];
        const auto started = std::chrono::steady_clock::now();
        const bool bypassed = index + 1 < members.size() && members[index + 1].bypassed != 0;
        const int32_t latency = member.isLv2 ? member.lv2.latency() : member.vst.latency;
        member.dryPath.run(blockLeft, blockRight, frames, latency, bypassed, false,
                           [&member](float *inLeft, float *inRight, int count) {
                               if (member.isLv2) return member.lv2.process(inLeft, inRight, count);
                               member.vst.processInstrument(inLeft, inRight, count, {}, {});
                               return true;
                           });
        if (index + 1 < memberSeconds.size()) memberSeconds[index + 1] = secondsSince(started);
    }
}

std::string HelperServer::setParameter(const std::string &arguments) {
    std::istringstream words(arguments);
    unsigned long id = 0;
    float value = 0.0f;
    if (!(words >> id)) id = 0;
    if (!(words >> value)) value = 0.0f;
    const auto parameter = static_cast<uint32_t>(id);
    const bool set = hostingLv2 ? setLv2Parameter(parameter, value)
                                : plugin.setParameterNormalized(parameter, value);
    return set ? "OK" : "ERR param";
}

// An LV2 plug-in's parameters are known by their port index, which stays where a list
// position would move with the plug-in's version.
bool HelperServer::setLv2Parameter(uint32_t portIndex, float value) {
    const int index = lv2Plugin.parameterIndexForPort(portIndex);
    return index >= 0 && lv2Plugin.setParameterNormalizedAt(static_cast<size_t>(index), value);
}

// A value for a parameter the plug-in does not have is dropped: the client sends what its
// copy of the plug-in knows, and an answer would break the block that follows.
void HelperServer::applyParams(const std::string &arguments) {
    std::optional<std::vector<ParameterValue>> values = parseParams(arguments);
    if (!values) return;
    for (const ParameterValue &entry : *values) {
        if (hostingLv2)
            (void)setLv2Parameter(entry.id, entry.value);
        else
            (void)plugin.setParameterNormalized(entry.id, entry.value);
    }
}

bool HelperServer::processBlock(Connection &connection, const std::string &arguments) {
    long frames = 0;
    std::string_view text = arguments;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), frames);
    if (error != std::errc()) frames = 0;
    if (frames < 1 || frames > maximumProcessFrames) {
        reply(connection.fd, "ERR frames");
        pendingNotes = BlockNotes{};
        return false;
    }
    auto count = static_cast<size_t>(frames);
    size_t bytes = count * 2 * sizeof(float);
    // Kept between requests: a block of the same size as the last one allocates nothing.
    interleaved.resize(count * 2);
    left.resize(count);
    right.resize(count);
    size_t buffered = std::min(bytes, connection.pending.size());
    std::memcpy(interleaved.data(), connection.pending.data(), buffered);
    connection.pending.erase(0, buffered);
    auto *rest = reinterpret_cast<char *>(interleaved.data()) + buffered;
    if (buffered < bytes &&
        !oopReadExact(connection.fd, rest, bytes - buffered, Deadline::after(payloadDeadline))) {
        reply(connection.fd, "ERR read");
        pendingNotes = BlockNotes{};
        endConnection(connection.fd);
        return false;
    }
    for (size_t frame = 0; frame < count; ++frame) {
        left[frame] = interleaved[frame * 2];
        right[frame] = interleaved[frame * 2 + 1];
    }
    if (hostingLv2)
        processLv2Block(left.data(), right.data(), static_cast<int>(count), pendingNotes.noteOns,
                        pendingNotes.noteOffs);
    else
        plugin.processInstrument(left.data(), right.data(), static_cast<int>(count),
                                 pendingNotes.noteOns, pendingNotes.noteOffs);
    processChain(left.data(), right.data(), static_cast<int>(count));
    pendingNotes = BlockNotes{};
    for (size_t frame = 0; frame < count; ++frame) {
        interleaved[frame * 2] = left[frame];
        interleaved[frame * 2 + 1] = right[frame];
    }
    if (!oopWriteAll(connection.fd, interleaved.data(), bytes,
                     Deadline::after(controlReplyDeadline))) {
        endConnection(connection.fd);
        return false;
    }
    return true;
}

void HelperServer::processLv2Block(float *blockLeft, float *blockRight, int frames,
                                   std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                                   std::span<const int32_t> noteOffFrames) {
    pendingEvents.clear();
    for (size_t off = 0; off < noteOffs.size(); ++off)
        pendingEvents.push_back(
            {frameWithin(noteOffFrames, off, frames),
             3,
             {0x80, static_cast<uint8_t>(std::clamp(noteOffs[off], 0, 127)), 0}});
    for (const NoteOn &note : noteOns)
        pendingEvents.push_back(
            {std::clamp(note.frame, 0, std::max(frames - 1, 0)),
             3,
             {0x90, static_cast<uint8_t>(std::clamp(note.pitch, 0, 127)),
              static_cast<uint8_t>(std::clamp(std::lround(note.velocity * 127.0f), 1l, 127l))}});
    // Unprepared, the plug-in leaves the block as it came, which the client then gets back.
    (void)lv2Plugin.process(blockLeft, blockRight, frames, pendingEvents);
}

// "SHAREDBLOCK " names the region and the real-time priority wanted for the block thread.
std::string HelperServer::attachSharedBlock(const std::string &arguments) {
    std::istringstream words(arguments);
    std::string name;
    int priority = 0;
    if (!(words >> name)) return "ERR sharedblock";
    if (!(words >> priority)) priority = 0;
    stopSharedBlocks();
    auto mapping = std::make_unique<SharedBlockMapping>();
    if (!mapping->open(name)) return "ERR sharedblock";
    sharedBlock = std::move(mapping);
    pendingEvents.reserve(2 * maximumBlockNotes);
    blockThreadStopping = false;
    blockThread = std::thread([this, priority] { serveSharedBlocks(priority); });
    return "OK";
}

void HelperServer::stopSharedBlocks() {
    if (!blockThread.joinable()) return;
    blockThreadStopping = true;
    wakeSharedWord(sharedBlock->block()->requested);
    blockThread.join();
    sharedBlock.reset();
}

void HelperServer::serveSharedBlocks(int priority) {
    raiseBlockThreadPriority(priority);
    serveBlocksUntil(*sharedBlock->block(), blockThreadStopping, blockThreadPoll,
                     [this](SharedBlockSlot &slot) { processSharedBlock(slot); });
}

// The input is copied to the output and processed there, so the application's next block may
// be written while this one's output waits to be read.
void HelperServer::processSharedBlock(SharedBlockSlot &block) {
    const int frames = std::clamp(block.frames, 0, maximumProcessFrames);
    const auto count = static_cast<size_t>(frames);
    std::memcpy(block.output[0], block.input[0], count * sizeof(float));
    std::memcpy(block.output[1], block.input[1], count * sizeof(float));
    if (frames == 0) return;
    const auto params = std::span(
        block.params, static_cast<size_t>(std::clamp(block.paramCount, 0, maximumParamsPerLine)));
    const auto noteOffs = std::span<const int>(
        block.noteOffs, static_cast<size_t>(std::clamp(block.noteOffCount, 0, maximumBlockNotes)));
    const auto noteOffFrames = std::span<const int32_t>(block.noteOffFrames, noteOffs.size());
    const auto noteOns = std::span<const NoteOn>(
        block.noteOns, static_cast<size_t>(std::clamp(block.noteOnCount, 0, maximumBlockNotes)));
    const auto members = std::span<const MemberBlockValues>(
        block.members, static_cast<size_t>(std::clamp(block.memberCount, 0,
                                                      static_cast<int32_t>(chain.size() + 1))));
    std::lock_guard lock(pluginLock);
    applyBlockValues(0, params);
    for (size_t member = 0; member < members.size(); ++member)
        applyBlockValues(member,
                         std::span(members[member].params,
                                   static_cast<size_t>(std::clamp(members[member].paramCount, 0,
                                                                  maximumParamsPerLine))));
    std::fill(std::begin(block.memberSeconds), std::end(block.memberSeconds), 0.0f);
    const auto started = std::chrono::steady_clock::now();
    mainDryPath.run(block.output[0], block.output[1], frames, mainPluginLatency(),
                    !members.empty() && members[0].bypassed != 0, false,
                    [&](float *inLeft, float *inRight, int count) {
                        processMain(inLeft, inRight, count, noteOns, noteOffs, noteOffFrames);
                        return true;
                    });
    block.memberSeconds[0] = secondsSince(started);
    processChain(block.output[0], block.output[1], frames, members, block.memberSeconds);
}

// Each note on its frame: the block is cut where notes start or stop and each piece starts
// with its notes, as the application cuts it for a plug-in in its own process, so that both
// sound the same to the sample.
void HelperServer::processMain(float *blockLeft, float *blockRight, int frames,
                               std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                               std::span<const int32_t> noteOffFrames) {
    if (hostingLv2) {
        processLv2Block(blockLeft, blockRight, frames, noteOns, noteOffs, noteOffFrames);
        return;
    }
    const auto onFrame = [&](size_t on) {
        return std::clamp(noteOns[on].frame, 0, std::max(frames - 1, 0));
    };
    size_t on = 0, off = 0;
    for (int from = 0; from < frames;) {
        size_t onEnd = on, offEnd = off;
        while (onEnd < noteOns.size() && onFrame(onEnd) <= from)
            ++onEnd;
        while (offEnd < noteOffs.size() && frameWithin(noteOffFrames, offEnd, frames) <= from)
            ++offEnd;
        int to = frames;
        if (onEnd < noteOns.size()) to = std::min(to, onFrame(onEnd));
        if (offEnd < noteOffs.size()) to = std::min(to, frameWithin(noteOffFrames, offEnd, frames));
        plugin.processInstrument(blockLeft + from, blockRight + from, to - from,
                                 noteOns.subspan(on, onEnd - on),
                                 noteOffs.subspan(off, offEnd - off));
        on = onEnd;
        off = offEnd;
        from = to;
    }
}

// Member 0 is the main plug-in; the chain's members follow from 1. A value a plug-in refuses
// leaves it with the one it had: the block goes on.
void HelperServer::applyValue(size_t member, const ParameterValue &entry) {
    if (member == 0) {
        if (hostingLv2)
            (void)setLv2Parameter(entry.id, entry.value);
        else
            (void)plugin.setParameterNormalized(entry.id, entry.value);
        return;
    }
    if (member > chain.size()) return;
    ChainMember &into = *chain[member - 1];
    if (!into.isLv2) {
        (void)into.vst.setParameterNormalized(entry.id, entry.value);
    } else if (const int index = into.lv2.parameterIndexForPort(entry.id); index >= 0) {
        (void)into.lv2.setParameterNormalizedAt(static_cast<size_t>(index), entry.value);
    }
}

// Block thread, under the plug-in lock. Values that came while a state or editor request runs
// wait for the next block, in their order; only when more values wait than there is room for
// does the block wait for that request instead.
void HelperServer::applyBlockValues(size_t member, std::span<const ParameterValue> values) {
    if (values.empty() && deferredCount == 0) return;
    std::unique_lock lock(valuesLock, std::try_to_lock);
    if (!lock.owns_lock()) {
        if (deferredCount + values.size() <= deferredValues.size()) {
            deferBlockValues(member, values);
            return;
        }
        lock.lock();
    }
    for (size_t index = 0; index < deferredCount; ++index)
        applyValue(deferredValues[index].member, deferredValues[index].value);
    deferredCount = 0;
    for (const ParameterValue &entry : values)
        applyValue(member, entry);
}

void HelperServer::deferBlockValues(size_t member, std::span<const ParameterValue> values) {
    for (const ParameterValue &entry : values)
        deferredValues[deferredCount++] = {member, entry};
}

std::string HelperServer::getState() {
    std::vector<uint8_t> state;
    if (hostingLv2) {
        if (!lv2Plugin.getState(state)) return "ERR state";
        return "STATE " + encodeHex(state);
    }
    if (!plugin.getState(state)) return "ERR state";
    return "STATE " + encodeHex(state);
}

std::string HelperServer::setState(const std::string &arguments) {
    std::optional<std::vector<uint8_t>> state = decodeHex(arguments, true);
    if (!state) return "ERR hex";
    if (hostingLv2) return lv2Plugin.setState(*state) ? "OK" : "ERR setstate";
    return plugin.setState(*state) ? "OK" : "ERR setstate";
}

std::string HelperServer::openEditor() { return plugin.openEditor() ? "OK" : "ERR editor"; }

std::string HelperServer::serveLv2Editor(lv2::Lv2Plugin &hosted, Lv2EditorSlot &slot,
                                         const std::string &request) {
    if (request == "HASEDITOR") {
        lv2::Lv2Editor probe(hosted);
        probe.ownProcessOnly = true;
        return probe.available() ? "YES" : "NO";
    }
    if (request == "OPENEDITOR") {
        slot.editor.reset();
        slot.edits.clear();
        auto editor = std::make_unique<lv2::Lv2Editor>(hosted);
        editor->ownProcessOnly = true;
        // The user's values reach the plug-in at once and wait for the application's next
        // question, which records them as its own edits; a value turned twice goes once.
        editor->onEdited = [&hosted, &slot](size_t index, float value) {
            if (!hosted.setParameterValue(index, value)) return;
            noteEditorEdit(slot.edits, {hosted.parameters[index].portIndex,
                                        hosted.getParameterNormalizedAt(index)});
        };
        if (!editor->open()) return "ERR editor";
        slot.editor = std::move(editor);
        return "OK";
    }
    if (request == "CLOSEEDITOR") {
        slot.editor.reset();
        slot.edits.clear();
        return "OK";
    }
    if (request == "EDITORSTATE") {
        idleLv2Editor(slot);
        const EditorStatus status = slot.editor ? EditorStatus::open : slot.ended;
        return takeEditorReport(status, slot.edits);
    }
    return {};
}

std::string HelperServer::editorReport(Vst3Plugin &edited, std::vector<ParameterValue> &pending) {
    std::vector<ParameterValue> polled;
    const EditorStatus status = edited.pollEditor(polled);
    for (const ParameterValue &edit : polled)
        noteEditorEdit(pending, edit);
    return takeEditorReport(status, pending);
}

void HelperServer::idleLv2Editor(Lv2EditorSlot &slot) {
    if (!slot.editor) return;
    slot.editor->idle();
    if (slot.editor->isOpen()) return;
    slot.ended =
        slot.editor->lastClosing == "crashed" ? EditorStatus::crashed : EditorStatus::closed;
    slot.editor.reset();
}

bool HelperServer::idleLv2Editors() {
    bool open = false;
    idleLv2Editor(mainEditor);
    open = open || mainEditor.editor != nullptr;
    for (const std::unique_ptr<ChainMember> &member : chain) {
        idleLv2Editor(member->editor);
        open = open || member->editor.editor != nullptr;
    }
    return open;
}

} // namespace orvane::vst
