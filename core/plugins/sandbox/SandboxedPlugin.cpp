#include "core/plugins/sandbox/SandboxedPlugin.h"

#include "core/plugins/FramedNotes.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/SandboxProtocol.h"
#include "core/plugins/sandbox/SandboxSharedBlock.h"
#include "core/plugins/vst3/hosting/ParameterHandOver.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <sstream>
#include <unistd.h>
#include <unordered_map>

namespace orvane::vst {

namespace {

constexpr size_t initialParameterCapacity = 64;
constexpr int noTransportFailure = 0;
constexpr int processWriteFailed = 1;
constexpr int processReadFailed = 2;
constexpr int processTimedOut = 3;
// Room for the "PROCESS " line in front of the samples.
constexpr size_t processLineCapacity = 32;
// Lines and samples of one exchange leave in one write.
constexpr size_t outgoingCapacity = paramsLineCapacity + notesLineCapacity + processLineCapacity +
                                    2 * maximumProcessFrames * sizeof(float);
// Parameters whose last sent value is remembered, so that a block carries only changes.
constexpr size_t trackedParameters = 4096;
// Without a budget of its own a helper gets a few blocks' time to answer an audio block, never
// less than this.
constexpr int processDeadlineBlocks = 4;
constexpr std::chrono::milliseconds shortestProcessDeadline{100};
// A miss of a wait this long means the helper is stuck: the instance is dropped at once.
// Shorter budgets (the real-time ones) drop it only after this many misses in a row.
constexpr std::chrono::milliseconds patientWait = shortestProcessDeadline;
constexpr int consecutiveMissesBeforeDrop = 8;
// How long a helper that broke its connection is given to be seen as exited.
constexpr std::chrono::milliseconds exitGrace{500};
// The helper's block thread runs real-time, above everything that is not audio, and below any
// audio thread: a JACK server gives its clients' process threads its own priority less five
// (5 by default), a desktop sound server higher ones. Above the audio thread, a session's
// helpers waking together would hold it off its period.
constexpr int helperBlockPriority = 1;

std::chrono::milliseconds processDeadline(int frames, double sampleRate) {
    auto blocks = std::chrono::milliseconds(
        static_cast<long long>(processDeadlineBlocks * 1000.0 * frames / sampleRate));
    return std::max(blocks, shortestProcessDeadline);
}

const char *transportFailureText(int failure) {
    switch (failure) {
    case processWriteFailed: return "PROCESS write failed";
    case processReadFailed: return "PROCESS read failed";
    default: return "Helper not responding";
    }
}

std::string formatDefault(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

float noAutomationValue() { return std::numeric_limits<float>::quiet_NaN(); }

float clampNormalized(float value) {
    if (std::isnan(value)) return 0.0f;
    return std::clamp(value, 0.0f, 1.0f);
}

} // namespace

struct SandboxedPlugin::Impl {
    double sampleRate = 48000.0;
    int32_t blockSize = 512;
    // Connection to this instance's own helper; the audio thread drops it after a failed
    // transfer, so it is atomic.
    std::atomic<int> socketFd{-1};
    HelperProcess helper;
    // Set by the audio thread when a transfer fails; the main thread turns it into text.
    std::atomic<int> transportFailure{noTransportFailure};
    // Interleaved samples of one exchange, and the lines and samples sent, sized once at load
    // so that the audio thread never allocates.
    std::vector<float> transfer;
    std::vector<char> outgoing;
    char paramsLine[paramsLineCapacity];
    char notesLine[notesLineCapacity];
    char lineStaging[paramsLineCapacity + notesLineCapacity];
    // Last value sent to the helper per hand-over slot; NaN before the first. Written under
    // the processing lock only.
    std::unique_ptr<float[]> sentValues;
    // The slots and values in `paramsLine`, taken as sent once the line has gone out.
    std::array<ParameterValue, maximumParamsPerLine> formatted{};
    size_t formattedCount = 0;
    // Bytes of a reply that came too late for its block, still to be read and dropped before
    // the next exchange. Under the processing lock only.
    size_t lateReplyBytes = 0;
    int consecutiveMisses = 0;
    // Blocks and parameter values go through memory shared with the helper when it took the
    // region; the socket then carries requests only. Replaced under the processing lock.
    std::unique_ptr<SharedBlockClient> sharedBlock;
    std::array<ParameterValue, maximumParamsPerLine> blockParams{};
    size_t blockParamCount = 0;
    // What a new helper needs to stand in for one that was lost (main thread).
    std::string loadedPath;
    std::string loadedUid;
    std::vector<uint8_t> lastState;
    bool stateKnown = false;
    std::string stateFolder;
    uint64_t lateBeforeRestart = 0;
    // Whether this instance's own helper process died by itself (main thread).
    bool helperDied = false;
    // Why a request lost the helper, until `collectTransportFailure` tells of it (main thread).
    std::string droppedOnRequest;
    // Every value given since the instance was created; main thread only. The audio thread
    // reads the same values through `handOver`.
    std::unordered_map<uint32_t, float> pendingParams;
    // What the helper last listed, for values never given here; main thread only.
    std::unordered_map<uint32_t, float> listedParams;
    ParameterHandOver handOver{initialParameterCapacity};
    // Held by requests over the socket alone and by unload; the audio thread only tries it.
    std::mutex processing;
    // Keeps requests from several threads apart on the control connection; never taken by the
    // audio thread, and taken before `processing` where both are held.
    std::mutex requests;

    Impl() { pendingParams.max_load_factor(1.0f); }
};

SandboxedPlugin::SandboxedPlugin(PluginSandboxController &sandbox)
    : impl(std::make_unique<Impl>()), controller(&sandbox) {}

SandboxedPlugin::~SandboxedPlugin() { unload(); }

// Each out-of-process instance runs in a helper of its own: a plug-in that crashes or hangs
// takes down only its own process, and no request waits behind another plug-in's connection.
bool SandboxedPlugin::load(const std::string &path, const std::string &uid) {
    unload();
    impl->helperDied = false;
    // A line break in a project's path or uid would let the rest pose as a request of its own.
    if (!isSafeRequestArgument(path) || !isSafeRequestArgument(uid)) return false;
    if (!controller->ensureSandboxRunning()) return false;
    impl->socketFd = -1;
    if (!controller->running) return false;
    int fd = connectHelper(path, uid);
    if (fd < 0) return false;
    impl->transfer.assign(2 * maximumProcessFrames, 0.0f);
    impl->outgoing.assign(outgoingCapacity, 0);
    impl->sentValues = std::make_unique<float[]>(trackedParameters);
    std::fill_n(impl->sentValues.get(), trackedParameters, noAutomationValue());
    impl->lateReplyBytes = 0;
    impl->consecutiveMisses = 0;
    impl->transportFailure = noTransportFailure;
    attachSharedBlock(fd);
    impl->socketFd = fd;
    impl->loadedPath = path;
    impl->loadedUid = uid;
    impl->stateKnown = false;
    impl->lateBeforeRestart = 0;
    description = PluginDescription{};
    description.path = path;
    description.uid = uid.empty() ? path : uid;
    description.name = std::filesystem::path(path).stem().string();
    description.vendor = "VST3";
    description.isInstrument = false;
    latency = 0;
    return true;
}

// Starts this instance's helper and has it load the plug-in; the connection, or -1.
int SandboxedPlugin::connectHelper(const std::string &path, const std::string &uid) {
    if (!controller->startPluginHelper(impl->helper)) return -1;
    int fd = connectToSocket(impl->helper.socketPath);
    if (fd < 0) {
        stopHelperProcess(impl->helper);
        return -1;
    }
    std::string request = "LOAD " + path + (uid.empty() ? "" : " " + uid);
    std::string reply;
    if (!oopWriteLine(fd, request) ||
        !oopReadReply(fd, reply, Deadline::after(controlReplyDeadline)) ||
        !reply.starts_with("OK")) {
        close(fd);
        // A plug-in that crashed while loading has taken its helper with it; one that merely
        // failed to load leaves the helper answering.
        impl->helperDied = reply.empty() && helperExitedWithin(impl->helper, exitGrace);
        if (impl->helperDied && controller != nullptr)
            controller->lastError = "Helper crashed in LOAD";
        stopHelperProcess(impl->helper);
        return -1;
    }
    // Before any state reaches it: files the state names are looked for in this folder.
    if (!impl->stateFolder.empty() &&
        (!oopWriteLine(fd, "STATEFOLDER " + impl->stateFolder) ||
         !oopReadReply(fd, reply, Deadline::after(controlReplyDeadline)))) {
        close(fd);
        stopHelperProcess(impl->helper);
        return -1;
    }
    return fd;
}

bool SandboxedPlugin::setStateFolder(const std::string &folder) {
    // One request line: a folder name holding a line break cannot be sent.
    if (folder.find_first_of("\r\n") != std::string::npos) return false;
    if (folder == impl->stateFolder) return true;
    impl->stateFolder = folder;
    return impl->socketFd < 0 || remoteExpectOk("STATEFOLDER " + folder);
}

// A helper that cannot map the region still serves blocks over the socket.
void SandboxedPlugin::attachSharedBlock(int fd) {
    auto mapping = std::make_unique<SharedBlockMapping>();
    std::string name;
    if (!mapping->create(name)) return;
    std::string reply;
    const bool taken =
        oopWriteLine(fd, "SHAREDBLOCK " + name + " " + std::to_string(helperBlockPriority)) &&
        oopReadReply(fd, reply, Deadline::after(controlReplyDeadline)) && reply == "OK";
    unlinkSharedBlock(name);
    if (!taken) return;
    auto client = std::make_unique<SharedBlockClient>(std::move(mapping), fd);
    std::lock_guard<std::mutex> lock(impl->processing);
    impl->sharedBlock = std::move(client);
}

// One request and its reply line. A helper that does not answer in time is treated as crashed.
// Values set since the last block go first, so that the request sees them; so does a block the
// helper is still processing. Over shared memory the socket carries requests only, so the
// round trip (a state can take the plug-in a long while) leaves the processing lock to the
// audio thread; over the socket alone, blocks share it and the lock keeps the two apart.
bool SandboxedPlugin::remoteExchange(std::string_view request, std::string &reply) {
    std::lock_guard<std::mutex> requestLock(impl->requests);
    const Deadline deadline = Deadline::after(controlReplyDeadline);
    int fd = -1;
    bool answered = false;
    bool overSharedBlock = false;
    for (;;) {
        SharedBlockClient *shared = nullptr;
        uint32_t blockToFollow = 0;
        {
            std::lock_guard<std::mutex> lock(impl->processing);
            fd = impl->socketFd;
            if (fd < 0) return false;
            shared = impl->sharedBlock.get();
            overSharedBlock = shared != nullptr;
            // The values go out only while the helper has no block: one still running could
            // carry an older value of the same parameter and apply it after them.
            if (shared == nullptr || shared->helperIdle()) {
                answered = sendChangedParams(fd, deadline) &&
                           (overSharedBlock ||
                            (oopWriteLine(fd, request) && oopReadReply(fd, reply, deadline)));
                break;
            }
            blockToFollow = shared->lastSubmitted();
        }
        if (shared->finishBlock(blockToFollow, deadline) != SharedBlockOutcome::processed) break;
    }
    if (answered && overSharedBlock)
        answered = oopWriteLine(fd, request) && oopReadReply(fd, reply, deadline);
    if (!answered) dropOnRequest(request);
    return answered;
}

// Under the processing lock: the values set since the last exchange, as a "PARAMS " line.
bool SandboxedPlugin::sendChangedParams(int fd, Deadline deadline) {
    const size_t paramsLength = formatChangedParams();
    bool broken = false;
    const bool sent =
        dropLateReply(deadline, broken) &&
        (paramsLength == 0 || oopWriteAll(fd, impl->paramsLine, paramsLength, deadline));
    if (sent) commitParams();
    return sent;
}

bool SandboxedPlugin::remoteExpectOk(std::string_view request) {
    std::string reply;
    return remoteExchange(request, reply) && reply.starts_with("OK");
}

// Only this instance's helper is affected: the controller keeps its own helper, and the rack
// learns from `ownHelperCrashed` whether this plug-in is to blame.
void SandboxedPlugin::dropHelper(const std::string &reason) {
    {
        // The audio thread may be inside a transfer on this descriptor.
        std::lock_guard<std::mutex> lock(impl->processing);
        int fd = impl->socketFd.exchange(-1);
        if (fd >= 0) close(fd);
        impl->sharedBlock.reset();
    }
    if (controller != nullptr) controller->lastError = reason;
    if (impl->helper.pid >= 1 && helperExitedWithin(impl->helper, exitGrace))
        impl->helperDied = true;
    stopHelperProcess(impl->helper, false);
}

bool SandboxedPlugin::ownHelperCrashed() const { return impl->helperDied; }

int32_t SandboxedPlugin::helperProcessId() const { return impl->helper.pid; }

bool SandboxedPlugin::collectTransportFailure() {
    int failure = impl->transportFailure.exchange(noTransportFailure);
    if (failure != noTransportFailure) {
        dropHelper(transportFailureText(failure));
        impl->droppedOnRequest.clear();
        return true;
    }
    if (impl->droppedOnRequest.empty()) return false;
    if (controller != nullptr) controller->lastError = impl->droppedOnRequest;
    impl->droppedOnRequest.clear();
    return true;
}

// A helper lost over a request (a state saved or restored, an editor opened) is as lost as one
// lost over a block: the rack is to hear of it, or the insert would fall silent without a word.
void SandboxedPlugin::dropOnRequest(std::string_view request) {
    dropHelper("Helper not responding");
    const std::string verb(request.substr(0, request.find(' ')));
    impl->droppedOnRequest =
        impl->helperDied ? "Helper crashed in " + verb : "Helper not responding";
    if (controller != nullptr) controller->lastError = impl->droppedOnRequest;
}

// Audio thread. Never allocates, never assigns a string and never touches the controller,
// which other instances share: a failure leaves a code for the main thread.
void SandboxedPlugin::failTransfer(int failure) {
    impl->transportFailure = failure;
    int fd = impl->socketFd.exchange(-1);
    if (fd >= 0) close(fd);
}

// Under the processing lock. Writes the values set since they were last sent into
// `paramsLine`; its length, 0 when nothing changed. Values that do not fit go with the next
// exchange, and so do these unless `commitParams` follows a successful write.
size_t SandboxedPlugin::formatChangedParams() {
    ParamsLineWriter writer(impl->paramsLine);
    impl->formattedCount = 0;
    uint32_t index = 0;
    const float *sent = impl->sentValues.get();
    impl->handOver.forEach([&](uint32_t id, float value) {
        // Bit patterns are compared, so that a first value (NaN sent) always goes out.
        if (sent != nullptr && index < trackedParameters &&
            std::memcmp(&sent[index], &value, sizeof value) != 0 && writer.add(id, value))
            impl->formatted[impl->formattedCount++] = {index, value};
        ++index;
    });
    return writer.finish();
}

void SandboxedPlugin::commitParams() {
    for (size_t entry = 0; entry < impl->formattedCount; ++entry)
        impl->sentValues[impl->formatted[entry].id] = impl->formatted[entry].value;
    impl->formattedCount = 0;
}

// Under the processing lock: reads and drops what is left of a reply that missed its block.
// False when it has not all come by the deadline, or (with `broken` set) the stream ended.
bool SandboxedPlugin::dropLateReply(Deadline deadline, bool &broken) {
    char *discard = reinterpret_cast<char *>(impl->transfer.data());
    size_t room = impl->transfer.size() * sizeof(float);
    broken = false;
    while (impl->lateReplyBytes > 0) {
        size_t wanted = std::min(impl->lateReplyBytes, room);
        size_t got = oopReadUntil(impl->socketFd, discard, wanted, deadline, broken);
        impl->lateReplyBytes -= got;
        if (broken || got < wanted) return false;
    }
    return true;
}

// Audio thread: the block is left as it was. A helper that was given a patient wait is
// stuck; one that missed a short budget is dropped only when it keeps missing.
bool SandboxedPlugin::missBlock(bool patient) {
    if (patient || ++impl->consecutiveMisses >= consecutiveMissesBeforeDrop)
        failTransfer(processTimedOut);
    return false;
}

// Audio thread, under the processing lock. The block's parameter values, its notes, the
// "PROCESS " line and the samples leave in one write; the samples come back within the
// deadline or the block is missed. A reply that comes later is dropped before the next
// exchange, so the stream stays in step.
bool SandboxedPlugin::transferBlock(float *left, float *right, int frames, std::string_view lines,
                                    Deadline deadline, bool patient) {
    int fd = impl->socketFd;
    bool broken = false;
    if (deadline.passed() || !dropLateReply(deadline, broken)) {
        if (!broken) return missBlock(patient);
        failTransfer(processReadFailed);
        return false;
    }
    char *wire = impl->outgoing.data();
    std::memcpy(wire, lines.data(), lines.size());
    char *cursor = wire + lines.size();
    std::memcpy(cursor, "PROCESS ", 8);
    cursor = std::to_chars(cursor + 8, cursor + processLineCapacity - 1, frames).ptr;
    *cursor++ = '\n';
    for (int frame = 0; frame < frames; ++frame) {
        float pair[2] = {left[frame], right[frame]};
        std::memcpy(cursor, pair, sizeof pair);
        cursor += sizeof pair;
    }
    if (!oopWriteAll(fd, wire, static_cast<size_t>(cursor - wire), deadline)) {
        // Part of a request may have gone out: the stream cannot be trusted any more.
        failTransfer(deadline.passed() ? processTimedOut : processWriteFailed);
        return false;
    }
    if (!lines.empty()) commitParams();
    size_t blockBytes = static_cast<size_t>(frames) * 2 * sizeof(float);
    float *samples = impl->transfer.data();
    bool failed = false;
    size_t got = oopReadUntil(fd, samples, blockBytes, deadline, failed);
    if (failed) {
        failTransfer(processReadFailed);
        return false;
    }
    if (got < blockBytes) {
        impl->lateReplyBytes = blockBytes - got;
        return missBlock(patient);
    }
    impl->consecutiveMisses = 0;
    for (int frame = 0; frame < frames; ++frame) {
        left[frame] = samples[frame * 2];
        right[frame] = samples[frame * 2 + 1];
    }
    return true;
}

// Under the processing lock: the values set since they were last sent, for the shared block.
// As with the "PARAMS " line, they count as sent only once `commitParams` follows.
size_t SandboxedPlugin::collectChangedParams() {
    impl->formattedCount = 0;
    impl->blockParamCount = 0;
    uint32_t index = 0;
    const float *sent = impl->sentValues.get();
    impl->handOver.forEach([&](uint32_t id, float value) {
        if (sent != nullptr && index < trackedParameters &&
            std::memcmp(&sent[index], &value, sizeof value) != 0 &&
            impl->blockParamCount < maximumParamsPerLine) {
            impl->blockParams[impl->blockParamCount++] = {id, value};
            impl->formatted[impl->formattedCount++] = {index, value};
        }
        ++index;
    });
    return impl->blockParamCount;
}

// Audio thread, under the processing lock: the block goes through shared memory and is waited
// for, as a render needs it.
bool SandboxedPlugin::processShared(float *left, float *right, int frames,
                                    std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                                    std::span<const int32_t> noteOffFrames, Deadline deadline,
                                    bool patient) {
    // A block whose time is already up is not sent: its answer could only come too late.
    if (deadline.passed()) return missBlock(patient);
    collectChangedParams();
    SharedBlockClient::BlockExtras extras{
        std::span(impl->blockParams.data(), impl->blockParamCount),
        noteOns,
        noteOffs,
        {},
        noteOffFrames};
    for (int offset = 0; offset < frames; offset += maximumProcessFrames) {
        const int count = std::min(frames - offset, maximumProcessFrames);
        bool extrasSent = false;
        const SharedBlockOutcome outcome = impl->sharedBlock->processNow(
            left + offset, right + offset, count, extras, deadline, extrasSent);
        if (extrasSent && offset == 0) commitParams();
        if (outcome == SharedBlockOutcome::helperGone) {
            failTransfer(processReadFailed);
            return false;
        }
        if (outcome == SharedBlockOutcome::late) return missBlock(patient);
        extras = {};
    }
    impl->consecutiveMisses = 0;
    return true;
}

bool SandboxedPlugin::processLive(float *left, float *right, int frames, Deadline patience,
                                  std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                                  std::span<const int32_t> noteOffFrames) {
    if (frames <= 0 || left == nullptr || right == nullptr) return false;
    std::unique_lock<std::mutex> lock(impl->processing, std::try_to_lock);
    if (!lock.owns_lock() || impl->socketFd < 0 || !impl->sharedBlock) return false;
    collectChangedParams();
    const SharedBlockClient::BlockExtras extras{
        std::span(impl->blockParams.data(), impl->blockParamCount),
        noteOns,
        noteOffs,
        {},
        noteOffFrames};
    bool extrasSent = false;
    const bool played =
        impl->sharedBlock->processBehind(left, right, frames, extras, patience, extrasSent);
    if (extrasSent) commitParams();
    return played;
}

// Main thread, which alone replaces the shared block: no lock, so the audio thread never finds
// the processing lock taken by a status read and skips a block.
int32_t SandboxedPlugin::liveLatency() const {
    return impl->sharedBlock ? impl->sharedBlock->addedLatency() : 0;
}

LoadStretch SandboxedPlugin::takeHelperLoad() {
    return impl->sharedBlock ? impl->sharedBlock->takeHelperLoad(0) : LoadStretch{};
}

uint64_t SandboxedPlugin::lateBlocks() const {
    return impl->lateBeforeRestart + (impl->sharedBlock ? impl->sharedBlock->lateBlocks() : 0);
}

bool SandboxedPlugin::restartLostHelper() {
    if (controller == nullptr || impl->loadedPath.empty()) return false;
    // Called on every tick of the user interface: the processing lock is left to the audio
    // thread unless there is something to do.
    if (!impl->sharedBlock) return false;
    const bool stuck = impl->sharedBlock->stuckForASecond();
    const bool provedItself = impl->sharedBlock->everCompleted();
    const bool gone = impl->helper.pid < 1 || helperExitedWithin(impl->helper, {});
    if (!stuck && !gone) return false;
    // A plug-in that never finished a block would only fail again: it is dropped instead.
    if (!provedItself) {
        if (impl->transportFailure == noTransportFailure)
            impl->transportFailure = gone ? processReadFailed : processTimedOut;
        return false;
    }
    const uint64_t lateSoFar = lateBlocks();
    {
        std::lock_guard<std::mutex> lock(impl->processing);
        int fd = impl->socketFd.exchange(-1);
        if (fd >= 0) close(fd);
        impl->sharedBlock.reset();
    }
    stopHelperProcess(impl->helper, false);
    impl->transportFailure = noTransportFailure;
    int fd = connectHelper(impl->loadedPath, impl->loadedUid);
    // Counts as lost, as a helper that will not take the state back does: the insert is
    // silent from now on and the user is to hear of it.
    if (fd < 0) {
        impl->transportFailure = processReadFailed;
        return false;
    }
    attachSharedBlock(fd);
    impl->socketFd = fd;
    impl->lateBeforeRestart = lateSoFar;
    {
        // The new helper hears every value again with its first block.
        std::lock_guard<std::mutex> lock(impl->processing);
        impl->lateReplyBytes = 0;
        impl->consecutiveMisses = 0;
        if (impl->sentValues)
            std::fill_n(impl->sentValues.get(), trackedParameters, noAutomationValue());
    }
    // A helper that did not take the state back would play, and later save, the plug-in's
    // defaults: it counts as lost instead, and the saved state waits for the next load.
    const bool stateBack =
        !impl->stateKnown || remoteExpectOk("SETSTATE " + encodeHex(impl->lastState));
    if (!stateBack || !prepare(impl->sampleRate, impl->blockSize)) {
        impl->transportFailure = processReadFailed;
        return false;
    }
    if (controller != nullptr)
        controller->lastError = stuck ? "Helper restarted: missed blocks for a second"
                                      : "Helper restarted: process was gone";
    return true;
}

bool SandboxedPlugin::prepare(double sampleRate, int blockSize) {
    if (impl->socketFd < 0) return false;
    std::string reply;
    // Gathered live blocks reach the plug-in a batch at a time: it is prepared for those.
    const int largestBlock = aheadFrames > blockSize
                                 ? std::min(aheadFrames + blockSize, maximumProcessFrames)
                                 : blockSize;
    if (!remoteExchange("PREPARE " + formatDefault(sampleRate) + " " + std::to_string(largestBlock),
                        reply) ||
        !reply.starts_with("OK"))
        return false;
    size_t space = reply.find(' ');
    int32_t reported = 0;
    if (space != std::string::npos)
        std::from_chars(reply.data() + space + 1, reply.data() + reply.size(), reported);
    latency = reported;
    // The audio thread sizes its reply deadline from the rate.
    std::lock_guard<std::mutex> lock(impl->processing);
    impl->sampleRate = sampleRate;
    impl->blockSize = blockSize;
    if (impl->sharedBlock)
        impl->sharedBlock->prepare(blockSize, sampleRate, reported, gathering ? aheadFrames : 0);
    return true;
}

void SandboxedPlugin::gatherLiveBlocks(bool on) {
    if (gathering == on) return;
    gathering = on && aheadFrames > 0;
    std::lock_guard<std::mutex> lock(impl->processing);
    if (impl->sharedBlock)
        impl->sharedBlock->prepare(impl->blockSize, impl->sampleRate, latency,
                                   gathering ? aheadFrames : 0);
}

// A block the plug-in did not take stays as it came; callers that must know use a deadline.
void SandboxedPlugin::process(float *left, float *right, int frames) {
    (void)processWithin(left, right, frames, {}, {}, nullptr);
}

bool SandboxedPlugin::process(float *left, float *right, int frames, Deadline deadline) {
    return processWithin(left, right, frames, {}, {}, &deadline);
}

bool SandboxedPlugin::process(float *left, float *right, int frames, Deadline deadline,
                              std::span<const NoteOn> noteOns, std::span<const int> noteOffs) {
    return processWithin(left, right, frames, noteOns, noteOffs, &deadline);
}

bool SandboxedPlugin::processRt(float *left, float *right, int32_t frames, Deadline deadline,
                                std::span<const PluginMidiEvent> events) noexcept {
    if (events.empty()) return processWithin(left, right, frames, {}, {}, &deadline);
    // Each note goes with its frame: the helper cuts the block where notes start or stop, as a
    // plug-in in this process is played.
    const FramedNotes notes = FramedNotes::from(events);
    return processWithin(left, right, frames, notes.noteOns(), notes.noteOffs(), &deadline,
                         notes.noteOffFrames());
}

bool SandboxedPlugin::processLiveRt(float *left, float *right, int32_t frames, Deadline patience,
                                    std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                                    std::span<const int32_t> noteOffFrames) noexcept {
    return processLive(left, right, frames, patience, noteOns, noteOffs, noteOffFrames);
}

void SandboxedPlugin::processInstrument(float *left, float *right, int frames,
                                        std::span<const NoteOn> noteOns,
                                        std::span<const int> noteOffs) {
    (void)processWithin(left, right, frames, noteOns, noteOffs, nullptr); // as `process`
}

bool SandboxedPlugin::processWithin(float *left, float *right, int frames,
                                    std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                                    const Deadline *budget,
                                    std::span<const int32_t> noteOffFrames) {
    if (frames <= 0 || left == nullptr || right == nullptr) return false;
    std::unique_lock<std::mutex> lock(impl->processing, std::try_to_lock);
    if (!lock.owns_lock() || impl->socketFd < 0) return false;
    // Without a budget of its own the block gets the helper's whole deadline.
    bool patient = budget == nullptr || budget->unlimited ||
                   budget->at - std::chrono::steady_clock::now() >= patientWait;
    Deadline deadline =
        budget ? *budget : Deadline::after(processDeadline(frames, impl->sampleRate));
    if (impl->sharedBlock)
        return processShared(left, right, frames, noteOns, noteOffs, noteOffFrames, deadline,
                             patient);
    // Parameters and notes go with the first piece of the block only.
    size_t length = formatChangedParams();
    std::memcpy(impl->lineStaging, impl->paramsLine, length);
    if (!noteOns.empty() || !noteOffs.empty()) {
        size_t notesLength = formatNotesLine(impl->notesLine, noteOffs, noteOns);
        std::memcpy(impl->lineStaging + length, impl->notesLine, notesLength);
        length += notesLength;
    }
    for (int offset = 0; offset < frames; offset += maximumProcessFrames) {
        int count = std::min(frames - offset, maximumProcessFrames);
        std::string_view lines(impl->lineStaging, offset == 0 ? length : 0);
        if (!transferBlock(left + offset, right + offset, count, lines, deadline, patient))
            return false;
    }
    return true;
}

bool SandboxedPlugin::getState(std::vector<uint8_t> &state) {
    state.clear();
    if (impl->socketFd < 0) return false;
    std::string reply;
    if (!remoteExchange("GETSTATE", reply) || !reply.starts_with("STATE ")) return false;
    std::optional<std::vector<uint8_t>> decoded =
        decodeHex(std::string_view(reply).substr(6), false);
    if (!decoded) return false;
    state = std::move(*decoded);
    impl->lastState = state;
    impl->stateKnown = true;
    return true;
}

bool SandboxedPlugin::setState(const std::vector<uint8_t> &state) {
    if (impl->socketFd < 0) return false;
    if (!remoteExpectOk("SETSTATE " + encodeHex(state))) return false;
    impl->lastState = state;
    impl->stateKnown = true;
    takeRestoredValues();
    return true;
}

std::optional<std::vector<PluginParameterInfo>> SandboxedPlugin::askForParameters() {
    std::string reply;
    if (impl->socketFd < 0 || !remoteExchange("PARAMETERS", reply)) return std::nullopt;
    std::optional<std::vector<PluginParameterInfo>> listed = parseParameterList(reply);
    if (!listed) return std::nullopt;
    impl->listedParams.clear();
    for (const PluginParameterInfo &parameter : *listed)
        impl->listedParams[parameter.id] = parameter.normalizedValue;
    return listed;
}

std::vector<PluginParameterInfo> SandboxedPlugin::listParameters() {
    std::optional<std::vector<PluginParameterInfo>> listed = askForParameters();
    if (!listed) return {};
    for (PluginParameterInfo &parameter : *listed) {
        // A value given here and not yet carried to the helper is the one that holds.
        if (auto given = impl->pendingParams.find(parameter.id); given != impl->pendingParams.end())
            parameter.normalizedValue = given->second;
        impl->listedParams[parameter.id] = parameter.normalizedValue;
    }
    return std::move(*listed);
}

// The values given here went to the helper before the state did, and the state has replaced
// them there: kept here, they would still be shown, and handed on with automation.
void SandboxedPlugin::takeRestoredValues() {
    const std::optional<std::vector<PluginParameterInfo>> listed = askForParameters();
    if (!listed) return;
    for (const PluginParameterInfo &parameter : *listed)
        if (impl->pendingParams.contains(parameter.id))
            rememberParameter(parameter.id, parameter.normalizedValue);
}

std::vector<PluginProgram> SandboxedPlugin::factoryPrograms() {
    std::string reply;
    if (impl->socketFd < 0 || !remoteExchange("PROGRAMS", reply)) return {};
    return parseProgramList(reply).value_or(std::vector<PluginProgram>());
}

bool SandboxedPlugin::programState(const PluginProgram &program, std::vector<uint8_t> &state,
                                   std::string &error) {
    std::string reply;
    if (impl->socketFd < 0 || !remoteExchange(formatProgramStateRequest(program), reply))
        reply.clear();
    return readProgramStateReply(reply, program, state, error);
}

std::string SandboxedPlugin::parameterValueText(uint32_t id, float normalized) {
    std::string reply;
    if (impl->socketFd < 0 ||
        !remoteExchange(formatValueTextRequest(id, clampNormalized(normalized)), reply))
        return {};
    return parseValueText(reply).value_or(std::string());
}

void SandboxedPlugin::rememberParameter(uint32_t id, float value) {
    impl->pendingParams[id] = value;
    impl->handOver.collect();
    if (impl->handOver.set(id, value)) return;
    // A new parameter and a full table: the table is republished, so automation the audio
    // thread writes never meets freed memory.
    impl->handOver.grow(impl->handOver.capacity() * 2);
    (void)impl->handOver.set(id, value); // room was just made
}

void SandboxedPlugin::prepareParameterForAutomation(uint32_t id) {
    if (impl->pendingParams.count(id)) return;
    rememberParameter(id, getParameterNormalized(id));
}

bool SandboxedPlugin::setParameterNormalizedRt(uint32_t id, float value) noexcept {
    return impl->handOver.setExisting(id, clampNormalized(value));
}

// The value travels with the next exchange on the connection (an audio block or a main-thread
// request), so setting a parameter never holds the processing lock and never makes a block
// wait.
bool SandboxedPlugin::setParameterNormalized(uint32_t id, float value) {
    rememberParameter(id, clampNormalized(value));
    return impl->socketFd >= 0;
}

float SandboxedPlugin::getParameterNormalized(uint32_t id) {
    if (auto found = impl->pendingParams.find(id); found != impl->pendingParams.end())
        return found->second;
    if (auto found = impl->listedParams.find(id); found != impl->listedParams.end())
        return found->second;
    return 0.0f;
}

bool SandboxedPlugin::hasEditor() {
    if (impl->socketFd < 0) return false;
    std::string reply;
    return remoteExchange("HASEDITOR", reply) && reply == "YES";
}

bool SandboxedPlugin::openEditor() {
    closeEditor();
    return impl->socketFd >= 0 && remoteExpectOk("OPENEDITOR");
}

// A helper that does not answer has taken the editor with it.
EditorStatus SandboxedPlugin::pollEditor(std::vector<ParameterValue> &edits) {
    edits.clear();
    std::string reply;
    if (impl->socketFd < 0 || !remoteExchange("EDITORSTATE", reply)) return EditorStatus::crashed;
    return parseEditorReport(reply, edits).value_or(EditorStatus::closed);
}

void SandboxedPlugin::closeEditor() {
    if (impl->socketFd >= 0) (void)remoteExpectOk("CLOSEEDITOR"); // nothing more to try
}

// The helper belongs to this instance alone, so it goes with the plug-in: asked to quit, and
// terminated when it does not.
void SandboxedPlugin::unload() {
    closeEditor();
    if (!collectTransportFailure()) {
        int fd = impl->socketFd.exchange(-1);
        if (fd >= 0) {
            std::lock_guard<std::mutex> lock(impl->processing);
            (void)oopWriteLine(fd, "UNLOAD"); // unheard, the helper is stopped below all the same
            close(fd);
        }
        {
            std::lock_guard<std::mutex> lock(impl->processing);
            impl->sharedBlock.reset();
        }
        if (impl->helper.pid >= 1) stopHelperProcess(impl->helper);
    }
    description = PluginDescription{};
    latency = 0;
}

bool SandboxedPlugin::isLoaded() const { return impl->socketFd >= 0; }

} // namespace orvane::vst
