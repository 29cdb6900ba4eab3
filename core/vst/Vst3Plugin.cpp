#include "core/vst/Vst3Plugin.h"

#include "core/rt/SpscRing.h"
#include "core/vst/PluginSandboxController.h"
#include "core/vst/PluginScanner.h"
#include "core/vst/SandboxProtocol.h"
#include "core/vst/SandboxSharedBlock.h"
#include "core/vst/hosting/EditorWindow.h"
#include "core/vst/hosting/HostContext.h"
#include "core/vst/hosting/Module.h"
#include "core/vst/hosting/ParameterHandOver.h"
#include "core/vst/hosting/PlugProvider.h"
#include "core/vst/hosting/ProcessObjects.h"
#include "core/vst/hosting/Utf16.h"

#include <pluginterfaces/gui/iplugview.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstprocesscontext.h>
#include <public.sdk/source/common/memorystream.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
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

using Steinberg::FUnknownPtr;
using Steinberg::IPtr;
using Steinberg::kResultOk;
using namespace Steinberg::Vst;

namespace {

constexpr int eventCapacity = 50;
constexpr size_t initialParameterCapacity = 64;
constexpr int outputPointsPerParameter = 16;
constexpr double contextTempo = 120.0;

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
// The helper's block thread runs one below the audio thread, which a sound server gives real-time
// priority 10 unless told otherwise.
constexpr int helperBlockPriority = 9;

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

bool isClassFilter(const std::string &uid) {
    return uid.size() == 32 && std::all_of(uid.begin(), uid.end(),
                                           [](unsigned char c) { return std::isxdigit(c) != 0; });
}

const ClassInfo *chooseClass(const std::vector<ClassInfo> &classes, const std::string &uid) {
    bool filtered = isClassFilter(uid);
    for (const ClassInfo &info : classes) {
        if (info.category != kVstAudioEffectClass) continue;
        if (!filtered || tuidToHex(info.id) == uid) return &info;
    }
    return nullptr;
}

float clampNormalized(float value) {
    if (std::isnan(value)) return 0.0f;
    return std::clamp(value, 0.0f, 1.0f);
}

template <size_t N> std::string boundedTitle(const Steinberg::Vst::TChar (&title)[N]) {
    char16_t copy[N + 1];
    std::memcpy(copy, title, sizeof(title));
    copy[N] = 0;
    return utf16ToUtf8(copy);
}

Event noteOffEvent(int pitch) {
    Event event{};
    event.busIndex = 0;
    event.sampleOffset = 0;
    event.type = Event::kNoteOffEvent;
    event.noteOff.channel = 0;
    event.noteOff.pitch = static_cast<Steinberg::int16>(pitch);
    event.noteOff.velocity = 0.0f;
    event.noteOff.noteId = 0;
    return event;
}

Event noteOnEvent(const NoteOn &note) {
    Event event{};
    event.busIndex = 0;
    event.sampleOffset = 0;
    event.type = Event::kNoteOnEvent;
    event.noteOn.channel = 0;
    event.noteOn.pitch = static_cast<Steinberg::int16>(note.pitch);
    event.noteOn.velocity = note.velocity;
    event.noteOn.tuning = 0.0f;
    event.noteOn.length = 0;
    event.noteOn.noteId = 0;
    return event;
}

// Parameter edits a plug-in reports from inside its own `process`: the audio thread must not
// allocate or lock, so they wait here for the main thread. One producer (the thread inside
// `process`, which holds the instance's processing lock) and one consumer (the main thread).
// A full queue drops the newest edit.
using ProcessEditQueue = SpscRing<ParameterValue, 256>;

// The instance whose plug-in `process` runs on this thread, if any.
thread_local const void *instanceInProcess = nullptr;

struct InsideProcess {
    explicit InsideProcess(const void *instance) { instanceInProcess = instance; }
    ~InsideProcess() { instanceInProcess = nullptr; }
    InsideProcess(const InsideProcess &) = delete;
    InsideProcess &operator=(const InsideProcess &) = delete;
};

} // namespace

struct Vst3Plugin::Impl {
    std::shared_ptr<Module> module;
    std::unique_ptr<PlugProvider> provider;
    IPtr<IComponent> component;
    IPtr<IAudioProcessor> processor;
    IPtr<IEditController> editController;
    IPtr<Steinberg::IPlugView> view;
    ProcessSetup setup{};
    HostProcessData processData;
    ProcessContext context{};
    EventList inputEvents{eventCapacity};
    EventList outputEvents{eventCapacity};
    ParameterChanges inputParameterChanges;
    ParameterChanges outputParameterChanges;
    double sampleRate = 48000.0;
    int32_t blockSize = 512;
    bool active = false;
    /// `setProcessing(true)` has been said since the last activation; the audio thread says it
    /// once, before the first block, because plug-ins may reset their voices there.
    bool processingStarted = false;
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
    ProcessEditQueue processEdits;
    // Every value given since the instance was created; main thread only. The audio thread
    // reads the same values through `handOver`.
    std::unordered_map<uint32_t, float> pendingParams;
    ParameterHandOver handOver{initialParameterCapacity};
    IPtr<EditorWindow> editorWindow;
    IPtr<ComponentHandler> componentHandler;
    // Held by prepare and unload; the audio thread only tries it.
    std::mutex processing;
    // Keeps requests from several threads apart on the control connection; never taken by the
    // audio thread, and taken before `processing` where both are held.
    std::mutex requests;

    Impl() {
        pendingParams.max_load_factor(1.0f);
        inputParameterChanges.setCapacity(static_cast<int>(handOver.capacity()), 1);
    }
};

Vst3Plugin::Vst3Plugin() : impl(std::make_unique<Impl>()) {}

Vst3Plugin::~Vst3Plugin() { unload(); }

void Vst3Plugin::setUseOutOfProcess(bool outOfProcess, PluginSandboxController *sandbox) {
    useOutOfProcess = outOfProcess;
    controller = sandbox;
}

bool Vst3Plugin::load(const std::string &path, const std::string &uid) {
    unload();
    if (useOutOfProcess && controller != nullptr) return loadOutOfProcess(path, uid);
    return loadInProcess(path, uid);
}

// Each out-of-process instance runs in a helper of its own: a plug-in that crashes or hangs
// takes down only its own process, and no request waits behind another plug-in's connection.
bool Vst3Plugin::loadOutOfProcess(const std::string &path, const std::string &uid) {
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
int Vst3Plugin::connectHelper(const std::string &path, const std::string &uid) {
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

bool Vst3Plugin::setSandboxStateFolder(const std::string &folder) {
    // One request line: a folder name holding a line break cannot be sent.
    if (folder.find_first_of("\r\n") != std::string::npos) return false;
    if (folder == impl->stateFolder) return true;
    impl->stateFolder = folder;
    return impl->socketFd < 0 || remoteExpectOk("STATEFOLDER " + folder);
}

// A helper that cannot map the region still serves blocks over the socket.
void Vst3Plugin::attachSharedBlock(int fd) {
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
bool Vst3Plugin::remoteExchange(std::string_view request, std::string &reply) {
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
    if (!answered) dropHelper("Helper not responding");
    return answered;
}

// Under the processing lock: the values set since the last exchange, as a "PARAMS " line.
bool Vst3Plugin::sendChangedParams(int fd, Deadline deadline) {
    const size_t paramsLength = formatChangedParams();
    bool broken = false;
    const bool sent =
        dropLateReply(deadline, broken) &&
        (paramsLength == 0 || oopWriteAll(fd, impl->paramsLine, paramsLength, deadline));
    if (sent) commitParams();
    return sent;
}

bool Vst3Plugin::remoteExpectOk(std::string_view request) {
    std::string reply;
    return remoteExchange(request, reply) && reply.starts_with("OK");
}

// Only this instance's helper is affected: the controller keeps its own helper, and the rack
// learns from `ownHelperCrashed` whether this plug-in is to blame.
void Vst3Plugin::dropHelper(const std::string &reason) {
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

bool Vst3Plugin::ownHelperCrashed() const { return impl->helperDied; }

int32_t Vst3Plugin::helperProcessId() const { return impl->helper.pid; }

bool Vst3Plugin::collectTransportFailure() {
    int failure = impl->transportFailure.exchange(noTransportFailure);
    if (failure == noTransportFailure) return false;
    dropHelper(transportFailureText(failure));
    return true;
}

// Audio thread. Never allocates, never assigns a string and never touches the controller,
// which other instances share: a failure leaves a code for the main thread.
void Vst3Plugin::failTransfer(int failure) {
    impl->transportFailure = failure;
    int fd = impl->socketFd.exchange(-1);
    if (fd >= 0) close(fd);
}

// Under the processing lock. Writes the values set since they were last sent into
// `paramsLine`; its length, 0 when nothing changed. Values that do not fit go with the next
// exchange, and so do these unless `commitParams` follows a successful write.
size_t Vst3Plugin::formatChangedParams() {
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

void Vst3Plugin::commitParams() {
    for (size_t entry = 0; entry < impl->formattedCount; ++entry)
        impl->sentValues[impl->formatted[entry].id] = impl->formatted[entry].value;
    impl->formattedCount = 0;
}

// Under the processing lock: reads and drops what is left of a reply that missed its block.
// False when it has not all come by the deadline, or (with `broken` set) the stream ended.
bool Vst3Plugin::dropLateReply(Deadline deadline, bool &broken) {
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
bool Vst3Plugin::missBlock(bool patient) {
    if (patient || ++impl->consecutiveMisses >= consecutiveMissesBeforeDrop)
        failTransfer(processTimedOut);
    return false;
}

// Audio thread, under the processing lock. The block's parameter values, its notes, the
// "PROCESS " line and the samples leave in one write; the samples come back within the
// deadline or the block is missed. A reply that comes later is dropped before the next
// exchange, so the stream stays in step.
bool Vst3Plugin::transferBlock(float *left, float *right, int frames, std::string_view lines,
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

bool Vst3Plugin::processRemote(float *left, float *right, int frames,
                               std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                               const Deadline *budget) {
    // Without a budget of its own the block gets the helper's whole deadline.
    bool patient = budget == nullptr || budget->unlimited ||
                   budget->at - std::chrono::steady_clock::now() >= patientWait;
    Deadline deadline =
        budget ? *budget : Deadline::after(processDeadline(frames, impl->sampleRate));
    if (impl->sharedBlock)
        return processShared(left, right, frames, noteOns, noteOffs, deadline, patient);
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

// Under the processing lock: the values set since they were last sent, for the shared block.
// As with the "PARAMS " line, they count as sent only once `commitParams` follows.
size_t Vst3Plugin::collectChangedParams() {
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
bool Vst3Plugin::processShared(float *left, float *right, int frames,
                               std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                               Deadline deadline, bool patient) {
    // A block whose time is already up is not sent: its answer could only come too late.
    if (deadline.passed()) return missBlock(patient);
    collectChangedParams();
    SharedBlockClient::BlockExtras extras{
        std::span(impl->blockParams.data(), impl->blockParamCount), noteOns, noteOffs, {}};
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

bool Vst3Plugin::processLive(float *left, float *right, int frames, Deadline patience,
                             std::span<const NoteOn> noteOns, std::span<const int> noteOffs) {
    if (frames <= 0 || left == nullptr || right == nullptr) return false;
    std::unique_lock<std::mutex> lock(impl->processing, std::try_to_lock);
    if (!lock.owns_lock() || impl->socketFd < 0 || !impl->sharedBlock) return false;
    collectChangedParams();
    const SharedBlockClient::BlockExtras extras{
        std::span(impl->blockParams.data(), impl->blockParamCount), noteOns, noteOffs, {}};
    bool extrasSent = false;
    const bool played =
        impl->sharedBlock->processBehind(left, right, frames, extras, patience, extrasSent);
    if (extrasSent) commitParams();
    return played;
}

// Main thread, which alone replaces the shared block: no lock, so the audio thread never finds
// the processing lock taken by a status read and skips a block.
int32_t Vst3Plugin::liveLatency() const {
    return impl->sharedBlock ? impl->sharedBlock->addedLatency() : 0;
}

uint64_t Vst3Plugin::lateBlocks() const {
    return impl->lateBeforeRestart + (impl->sharedBlock ? impl->sharedBlock->lateBlocks() : 0);
}

bool Vst3Plugin::restartLostHelper() {
    if (!useOutOfProcess || controller == nullptr || impl->loadedPath.empty()) return false;
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
    if (!stateBack || !prepareRemote(impl->sampleRate, impl->blockSize)) {
        impl->transportFailure = processReadFailed;
        return false;
    }
    if (controller != nullptr)
        controller->lastError = stuck ? "Helper restarted: missed blocks for a second"
                                      : "Helper restarted: process was gone";
    return true;
}

bool Vst3Plugin::loadInProcess(const std::string &path, const std::string &uid) {
    std::string ignoredError;
    impl->module = Module::create(path, ignoredError);
    if (!impl->module) return false;
    std::vector<ClassInfo> classes = impl->module->getFactory().classInfos();
    const ClassInfo *chosen = chooseClass(classes, uid);
    if (chosen == nullptr) {
        unload();
        return false;
    }
    impl->provider = std::make_unique<PlugProvider>(impl->module->getFactory(), *chosen, true);
    if (!impl->provider->initialize()) {
        unload();
        return false;
    }
    impl->component = impl->provider->getComponent();
    impl->editController = impl->provider->getController();
    impl->processor = FUnknownPtr<IAudioProcessor>(impl->component);
    if (!impl->processor) {
        unload();
        return false;
    }
    if (impl->editController) {
        impl->componentHandler =
            Steinberg::owned(new ComponentHandler([this](ParamID id, double value) {
                // From inside `process` (which plug-ins are not meant to do) the edit waits
                // for the main thread: the audio thread neither allocates nor takes the lock
                // it already holds.
                if (instanceInProcess == impl.get())
                    impl->processEdits.push({id, static_cast<float>(value)});
                else
                    rememberParameter(id, static_cast<float>(value));
            }));
        impl->editController->setComponentHandler(impl->componentHandler);
    }
    description = PluginDescription{};
    description.path = path;
    description.name = chosen->name;
    description.vendor = chosen->vendor;
    description.uid = tuidToHex(chosen->id);
    description.category = chosen->subCategories;
    description.isInstrument = description.category.find("Instrument") != std::string::npos;
    return true;
}

bool Vst3Plugin::prepare(double sampleRate, int blockSize) {
    if (!impl->processor && impl->socketFd < 0) return false;
    if (impl->socketFd >= 0) return prepareRemote(sampleRate, blockSize);
    if (!impl->component || blockSize <= 0 || !(sampleRate > 0.0)) return false;
    std::lock_guard<std::mutex> lock(impl->processing);
    if (impl->active) {
        impl->processor->setProcessing(false);
        impl->component->setActive(false);
        impl->active = false;
        impl->processingStarted = false;
    }
    impl->setup.processMode = kRealtime;
    impl->setup.symbolicSampleSize = kSample32;
    impl->setup.maxSamplesPerBlock = blockSize;
    impl->setup.sampleRate = sampleRate;
    impl->sampleRate = sampleRate;
    impl->blockSize = blockSize;
    if (impl->processor->setupProcessing(impl->setup) != kResultOk) return false;
    for (BusDirection direction : {kInput, kOutput}) {
        int32_t buses = impl->component->getBusCount(kAudio, direction);
        for (int32_t bus = 0; bus < buses; ++bus)
            impl->component->activateBus(kAudio, direction, bus, true);
    }
    if (!impl->processData.prepare(*impl->component, blockSize)) return false;
    int outputParameters = impl->editController ? impl->editController->getParameterCount() : 0;
    impl->outputParameterChanges.setCapacity(std::max(outputParameters, 16),
                                             outputPointsPerParameter);
    impl->processData.inputParameterChanges = &impl->inputParameterChanges;
    impl->processData.outputParameterChanges = &impl->outputParameterChanges;
    impl->processData.inputEvents = &impl->inputEvents;
    impl->processData.outputEvents = &impl->outputEvents;
    impl->processData.processContext = &impl->context;
    if (!impl->sentValues) impl->sentValues = std::make_unique<float[]>(trackedParameters);
    // A fresh activation hears every parameter again.
    std::fill_n(impl->sentValues.get(), trackedParameters, noAutomationValue());
    impl->processingStarted = false;
    if (impl->component->setActive(true) != kResultOk) return false;
    impl->active = true;
    latency = static_cast<int32_t>(impl->processor->getLatencySamples());
    return true;
}

bool Vst3Plugin::prepareRemote(double sampleRate, int blockSize) {
    std::string reply;
    if (!remoteExchange("PREPARE " + formatDefault(sampleRate) + " " + std::to_string(blockSize),
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
    if (impl->sharedBlock) impl->sharedBlock->prepare(blockSize, sampleRate, reported);
    return true;
}

// A block the plug-in did not take stays as it came; callers that must know use a deadline.
void Vst3Plugin::process(float *left, float *right, int frames) {
    (void)processWithin(left, right, frames, {}, {}, nullptr);
}

bool Vst3Plugin::process(float *left, float *right, int frames, Deadline deadline) {
    return processWithin(left, right, frames, {}, {}, &deadline);
}

bool Vst3Plugin::process(float *left, float *right, int frames, Deadline deadline,
                         std::span<const NoteOn> noteOns, std::span<const int> noteOffs) {
    return processWithin(left, right, frames, noteOns, noteOffs, &deadline);
}

void Vst3Plugin::processInstrument(float *left, float *right, int frames,
                                   std::span<const NoteOn> noteOns, std::span<const int> noteOffs) {
    (void)processWithin(left, right, frames, noteOns, noteOffs, nullptr); // as `process`
}

bool Vst3Plugin::processWithin(float *left, float *right, int frames,
                               std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                               const Deadline *budget) {
    if (frames <= 0 || left == nullptr || right == nullptr) return false;
    std::unique_lock<std::mutex> lock(impl->processing, std::try_to_lock);
    if (!lock.owns_lock()) return false;
    if (impl->socketFd >= 0) return processRemote(left, right, frames, noteOns, noteOffs, budget);
    if (!impl->active || !impl->processor) return false;
    // Blocks longer than the prepared size are cut into prepared-size pieces; notes start with
    // the first piece.
    int offset = 0;
    while (offset < frames) {
        int count = std::min(frames - offset, impl->blockSize);
        processBlock(left + offset, right + offset, count, noteOns, noteOffs);
        noteOns = {};
        noteOffs = {};
        offset += count;
    }
    return true;
}

// Audio thread. Only values that changed since the last block go to the plug-in: resending
// every value would undo what the plug-in changed itself (a preset, its own editor) and costs
// a queue per parameter per block. Parameters beyond the tracked ones always go.
void Vst3Plugin::queueChangedParameters() {
    float *sent = impl->sentValues.get();
    uint32_t index = 0;
    impl->handOver.forEach([&](uint32_t id, float value) {
        const bool tracked = sent != nullptr && index < trackedParameters;
        // Bit patterns are compared, so that a first value (NaN sent) always goes out.
        const bool changed = !tracked || std::memcmp(&sent[index], &value, sizeof value) != 0;
        ++index;
        if (!changed) return;
        ParamValueQueue *queue = impl->inputParameterChanges.appendParameter(id);
        if (queue == nullptr) return; // full: retried next block, as it stays unsent
        Steinberg::int32 point = 0;
        queue->addPoint(0, value, point);
        if (tracked) sent[index - 1] = value;
    });
}

bool Vst3Plugin::hasUnsentParameters() {
    const float *sent = impl->sentValues.get();
    uint32_t index = 0;
    bool unsent = false;
    impl->handOver.forEach([&](uint32_t, float value) {
        const bool tracked = sent != nullptr && index < trackedParameters;
        unsent = unsent || !tracked || std::memcmp(&sent[index], &value, sizeof value) != 0;
        ++index;
    });
    return unsent;
}

void Vst3Plugin::processBlock(float *left, float *right, int frames,
                              std::span<const NoteOn> noteOns, std::span<const int> noteOffs) {
    impl->inputEvents.clear();
    impl->outputEvents.clear();
    impl->inputParameterChanges.clear();
    impl->outputParameterChanges.clear();
    queueChangedParameters();
    for (int pitch : noteOffs) {
        Event event = noteOffEvent(pitch);
        impl->inputEvents.addEvent(event);
    }
    for (const NoteOn &note : noteOns) {
        Event event = noteOnEvent(note);
        impl->inputEvents.addEvent(event);
    }
    impl->context.sampleRate = impl->sampleRate;
    impl->context.tempo = contextTempo;
    impl->context.state = ProcessContext::kPlaying | ProcessContext::kTempoValid;
    impl->processData.bindMainBuses(left, right, frames);
    if (!impl->processingStarted) {
        impl->processor->setProcessing(true);
        impl->processingStarted = true;
    }
    InsideProcess inside(impl.get());
    impl->processor->process(impl->processData);
}

// Edits reach the processor, whose state is what a project keeps, with the next block; while
// the transport is stopped no block comes, so they go with a few samples of silence. (A block
// of no samples is the documented way, but plug-ins built on a common framework ignore the
// values it carries.)
void Vst3Plugin::flushParametersToProcessor() {
    collectProcessEdits();
    std::lock_guard<std::mutex> lock(impl->processing);
    if (!impl->active || !impl->processor) return;
    // While playing, blocks carry the values anyway; a block of silence slipped in between
    // would be heard.
    if (!hasUnsentParameters()) return;
    constexpr int flushFrames = 16;
    std::array<float, flushFrames> left{}, right{};
    processBlock(left.data(), right.data(), std::min(flushFrames, impl->blockSize), {}, {});
}

bool Vst3Plugin::getState(std::vector<uint8_t> &state) {
    state.clear();
    if (impl->socketFd >= 0) return getStateRemote(state);
    if (!impl->component) return false;
    flushParametersToProcessor();
    IPtr<Steinberg::MemoryStream> stream = Steinberg::owned(new Steinberg::MemoryStream());
    if (impl->component->getState(stream) != kResultOk) return false;
    stream->seek(0, Steinberg::IBStream::kIBSeekSet, nullptr);
    auto size = static_cast<size_t>(std::max<Steinberg::TSize>(stream->getSize(), 0));
    state.resize(size);
    if (size > 0) std::memcpy(state.data(), stream->getData(), size);
    return true;
}

bool Vst3Plugin::getStateRemote(std::vector<uint8_t> &state) {
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

bool Vst3Plugin::setState(const std::vector<uint8_t> &state) {
    if (impl->socketFd >= 0) {
        if (!remoteExpectOk("SETSTATE " + encodeHex(state))) return false;
        impl->lastState = state;
        impl->stateKnown = true;
        return true;
    }
    if (!impl->component) return false;
    // The stream only reads from the caller's bytes; it never takes them over.
    IPtr<Steinberg::MemoryStream> stream = Steinberg::owned(new Steinberg::MemoryStream(
        const_cast<uint8_t *>(state.data()), static_cast<Steinberg::TSize>(state.size())));
    if (impl->component->setState(stream) != kResultOk) return false;
    if (impl->editController) {
        stream->seek(0, Steinberg::IBStream::kIBSeekSet, nullptr);
        impl->editController->setComponentState(stream);
        refreshParametersFromController();
    }
    return true;
}

// Values set before a state was restored would otherwise be sent again with every block and
// undo the restore; the controller, just given the restored state, knows what they are now.
void Vst3Plugin::refreshParametersFromController() {
    for (auto &[id, value] : impl->pendingParams) {
        float restored =
            clampNormalized(static_cast<float>(impl->editController->getParamNormalized(id)));
        rememberParameter(id, restored);
    }
}

std::vector<PluginParameterInfo> Vst3Plugin::listParameters() {
    collectProcessEdits();
    std::vector<PluginParameterInfo> parameters;
    if (!impl->editController) return parameters;
    Steinberg::int32 count = impl->editController->getParameterCount();
    for (Steinberg::int32 index = 0; index < count; ++index) {
        ParameterInfo info{};
        if (impl->editController->getParameterInfo(index, info) != kResultOk) continue;
        PluginParameterInfo parameter;
        parameter.id = info.id;
        parameter.name = boundedTitle(info.title);
        parameter.normalizedValue =
            static_cast<float>(impl->editController->getParamNormalized(info.id));
        parameter.units = boundedTitle(info.units);
        parameter.stepCount = info.stepCount;
        parameter.editable =
            (info.flags & (ParameterInfo::kIsReadOnly | ParameterInfo::kIsHidden)) == 0;
        parameters.push_back(std::move(parameter));
    }
    return parameters;
}

void Vst3Plugin::rememberParameter(uint32_t id, float value) {
    impl->pendingParams[id] = value;
    impl->handOver.collect();
    if (impl->handOver.set(id, value)) return;
    // A new parameter and a full table. The block's parameter list is grown while the audio
    // thread is kept out of processing (it skips at most this one block); the table itself
    // is republished, so automation the audio thread writes outside that lock never meets
    // freed memory.
    const size_t capacity = impl->handOver.capacity() * 2;
    {
        std::lock_guard<std::mutex> lock(impl->processing);
        impl->inputParameterChanges.setCapacity(static_cast<int>(capacity), 1);
    }
    impl->handOver.grow(capacity);
    (void)impl->handOver.set(id, value); // room was just made
}

void Vst3Plugin::prepareParameterForAutomation(uint32_t id) {
    if (impl->pendingParams.count(id)) return;
    rememberParameter(id, getParameterNormalized(id));
}

bool Vst3Plugin::setParameterNormalizedRt(uint32_t id, float value) {
    return impl->handOver.setExisting(id, clampNormalized(value));
}

// Out of process the value travels with the next exchange on the connection (an audio block
// or a main-thread request), so setting a parameter never holds the processing lock and never
// makes a block wait.
bool Vst3Plugin::setParameterNormalized(uint32_t id, float value) {
    collectProcessEdits();
    float clamped = clampNormalized(value);
    rememberParameter(id, clamped);
    if (useOutOfProcess && impl->socketFd >= 0) return true;
    if (!impl->editController) return false;
    return impl->editController->setParamNormalized(id, clamped) == kResultOk;
}

size_t Vst3Plugin::collectProcessEdits() {
    return impl->processEdits.drain(
        [this](const ParameterValue &edit) { rememberParameter(edit.id, edit.value); });
}

float Vst3Plugin::getParameterNormalized(uint32_t id) {
    collectProcessEdits();
    if (auto found = impl->pendingParams.find(id); found != impl->pendingParams.end())
        return found->second;
    if (impl->editController)
        return static_cast<float>(impl->editController->getParamNormalized(id));
    return 0.0f;
}

std::string Vst3Plugin::parameterValueText(uint32_t id, float normalized) {
    if (!impl->editController) return {};
    Steinberg::Vst::String128 text{};
    if (impl->editController->getParamStringByValue(id, normalized, text) != kResultOk) return {};
    return boundedTitle(text);
}

bool Vst3Plugin::hasEditor() {
    if (impl->socketFd >= 0) {
        std::string reply;
        return remoteExchange("HASEDITOR", reply) && reply == "YES";
    }
    return static_cast<bool>(impl->editController);
}

bool Vst3Plugin::attachEditor(void *) {
    closeEditor();
    if (impl->socketFd >= 0) return remoteExpectOk("OPENEDITOR");
    if (!impl->editController) return false;
    impl->view = Steinberg::owned(impl->editController->createView(ViewType::kEditor));
    if (!impl->view) return false;
    if (impl->view->isPlatformTypeSupported(Steinberg::kPlatformTypeX11EmbedWindowID) !=
        kResultOk) {
        impl->view = nullptr;
        return false;
    }
    Steinberg::ViewRect size{};
    impl->view->getSize(&size);
    std::string title = description.name.empty() ? "VST3" : description.name;
    std::string ignoredError;
    impl->editorWindow = EditorWindow::open(title, size.getWidth(), size.getHeight(), ignoredError);
    if (!impl->editorWindow) {
        impl->view = nullptr;
        return false;
    }
    impl->view->setFrame(impl->editorWindow);
    auto parentWindow =
        reinterpret_cast<void *>(static_cast<uintptr_t>(impl->editorWindow->windowId()));
    if (impl->view->attached(parentWindow, Steinberg::kPlatformTypeX11EmbedWindowID) != kResultOk) {
        closeEditor();
        return false;
    }
    return true;
}

void Vst3Plugin::closeEditor() {
    if (impl->socketFd >= 0) (void)remoteExpectOk("CLOSEEDITOR"); // nothing more to try
    if (impl->view) {
        impl->view->removed();
        impl->view->setFrame(nullptr);
        impl->view = nullptr;
    }
    if (impl->editorWindow) {
        impl->editorWindow->close();
        impl->editorWindow = nullptr;
    }
}

unsigned long Vst3Plugin::editorWindowId() const {
    return impl->editorWindow ? impl->editorWindow->windowId() : 0;
}

void Vst3Plugin::unload() {
    closeEditor();
    unloadRemote();
    {
        std::lock_guard<std::mutex> lock(impl->processing);
        if (impl->active) {
            impl->processor->setProcessing(false);
            impl->component->setActive(false);
            impl->active = false;
            impl->processingStarted = false;
        }
        impl->processData.unprepare();
    }
    if (impl->editController) impl->editController->setComponentHandler(nullptr);
    impl->componentHandler = nullptr;
    impl->processor = nullptr;
    impl->editController = nullptr;
    impl->component = nullptr;
    impl->provider.reset();
    impl->module.reset();
    description = PluginDescription{};
    latency = 0;
}

// The helper belongs to this instance alone, so it goes with the plug-in: asked to quit, and
// terminated when it does not.
void Vst3Plugin::unloadRemote() {
    if (collectTransportFailure()) return;
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

bool Vst3Plugin::isLoaded() const { return impl->component || impl->socketFd >= 0; }

} // namespace orvane::vst
