#include "helper/HelperServer.h"

#include "core/vst/SandboxProtocol.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvane::vst {

namespace {

constexpr int listenBacklog = 4;
// The loop wakes this often even when nothing happens, so editor timers never starve.
constexpr int idleWaitMilliseconds = 1000;
constexpr size_t classUidLength = 32;

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

} // namespace

HelperServer::HelperServer(std::string path) : socketPath(std::move(path)) {}

HelperServer::~HelperServer() {
    EditorRunLoop::instance().unregisterEventHandler(this);
    if (connectionFd >= 0) close(connectionFd);
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

void HelperServer::watch(int fd) {
    EditorRunLoop &runLoop = EditorRunLoop::instance();
    runLoop.unregisterEventHandler(this);
    runLoop.registerEventHandler(this, fd);
}

void HelperServer::serve() {
    watch(listenFd);
    while (!quitRequested)
        runEditorEvents(idleWaitMilliseconds);
    EditorRunLoop::instance().unregisterEventHandler(this);
    if (connectionFd >= 0) close(connectionFd);
    connectionFd = -1;
    close(listenFd);
    listenFd = -1;
    unlink(socketPath.c_str());
    plugin.unload();
}

void PLUGIN_API HelperServer::onFDIsSet(Steinberg::Linux::FileDescriptor fd) {
    if (fd == listenFd && connectionFd < 0)
        acceptConnection();
    else if (fd == connectionFd)
        serveOneRequest();
}

Steinberg::tresult PLUGIN_API HelperServer::queryInterface(const Steinberg::TUID iid,
                                                           void **object) {
    QUERY_INTERFACE(iid, object, Steinberg::FUnknown::iid, IEventHandler)
    QUERY_INTERFACE(iid, object, IEventHandler::iid, IEventHandler)
    *object = nullptr;
    return Steinberg::kNoInterface;
}

void HelperServer::acceptConnection() {
    int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    connectionFd = fd;
    watch(connectionFd);
}

// The plug-in is not touched: the next connection carries on with it as it was left.
void HelperServer::endConnection() {
    close(connectionFd);
    connectionFd = -1;
    watch(listenFd);
}

void HelperServer::serveOneRequest() {
    std::string line;
    if (!oopReadLine(connectionFd, line, std::string::npos, Deadline::never())) {
        endConnection();
        return;
    }
    std::string answer = dispatch(line);
    if (quitRequested) return;
    if (!reply(connectionFd, answer)) endConnection();
}

std::string HelperServer::dispatch(const std::string &line) {
    auto rest = [&line](std::string_view prefix) { return line.substr(prefix.size()); };
    if (line == "PING") return "PONG";
    if (line == "QUIT") {
        quitRequested = true;
        return {};
    }
    if (line.starts_with("LOAD ")) return load(rest("LOAD "));
    if (line.starts_with("PREPARE ")) return prepare(rest("PREPARE "));
    if (line.starts_with("SETPARAM ")) return setParameter(rest("SETPARAM "));
    if (line.starts_with("PROCESS ")) {
        processBlock(rest("PROCESS "));
        return {};
    }
    // No reply: the client sends its block right behind this line.
    if (line.starts_with("NOTES ")) {
        pendingNotes = parseNotes(rest("NOTES ")).value_or(BlockNotes{});
        return {};
    }
    if (line == "UNLOAD") {
        plugin.unload();
        return "OK";
    }
    if (line == "GETSTATE") return getState();
    if (line.starts_with("SETSTATE ")) return setState(rest("SETSTATE "));
    if (line == "HASEDITOR") return plugin.hasEditor() ? "YES" : "NO";
    if (line == "OPENEDITOR") return openEditor();
    if (line == "CLOSEEDITOR") {
        plugin.closeEditor();
        return "OK";
    }
    return "ERR unknown";
}

std::string HelperServer::load(const std::string &arguments) {
    std::string path, uid;
    splitPathAndUid(arguments, path, uid);
    plugin.unload();
    return plugin.load(path, uid) ? "OK" : "ERR load";
}

std::string HelperServer::prepare(const std::string &arguments) {
    std::istringstream words(arguments);
    double rate = 0.0;
    int size = 0;
    if (words >> rate >> size) {
        sampleRate = rate;
        blockSize = size;
    }
    if (!plugin.prepare(sampleRate, blockSize)) return "ERR prepare";
    return "OK " + std::to_string(plugin.latency);
}

std::string HelperServer::setParameter(const std::string &arguments) {
    std::istringstream words(arguments);
    unsigned long id = 0;
    float value = 0.0f;
    if (!(words >> id)) id = 0;
    if (!(words >> value)) value = 0.0f;
    return plugin.setParameterNormalized(static_cast<uint32_t>(id), value) ? "OK" : "ERR param";
}

void HelperServer::processBlock(const std::string &arguments) {
    std::istringstream words(arguments);
    long frames = 0;
    if (!(words >> frames)) frames = 0;
    if (frames < 1 || frames > maximumProcessFrames) {
        reply(connectionFd, "ERR frames");
        return;
    }
    auto count = static_cast<size_t>(frames);
    // Kept between requests: a block of the same size as the last one allocates nothing.
    interleaved.resize(count * 2);
    left.resize(count);
    right.resize(count);
    if (!oopReadExact(connectionFd, interleaved.data(), count * 2 * sizeof(float),
                      Deadline::never())) {
        reply(connectionFd, "ERR read");
        return;
    }
    for (size_t frame = 0; frame < count; ++frame) {
        left[frame] = interleaved[frame * 2];
        right[frame] = interleaved[frame * 2 + 1];
    }
    plugin.processInstrument(left.data(), right.data(), static_cast<int>(count),
                             pendingNotes.noteOns, pendingNotes.noteOffs);
    pendingNotes = BlockNotes{};
    for (size_t frame = 0; frame < count; ++frame) {
        interleaved[frame * 2] = left[frame];
        interleaved[frame * 2 + 1] = right[frame];
    }
    if (!oopWriteAll(connectionFd, interleaved.data(), count * 2 * sizeof(float),
                     Deadline::after(controlReplyDeadline)))
        endConnection();
}

std::string HelperServer::getState() {
    std::vector<uint8_t> state;
    if (!plugin.getState(state)) return "ERR state";
    return "STATE " + encodeHex(state);
}

std::string HelperServer::setState(const std::string &arguments) {
    std::optional<std::vector<uint8_t>> state = decodeHex(arguments, true);
    if (!state) return "ERR hex";
    return plugin.setState(*state) ? "OK" : "ERR setstate";
}

std::string HelperServer::openEditor() {
    return plugin.attachEditor(nullptr) ? "OK" : "ERR editor";
}

} // namespace orvane::vst
