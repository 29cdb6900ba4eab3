#include "device/AudioDeviceEngine.h"

#include "core/model/SampleBuffer.h"
#include "core/model/Translate.h"
#include "core/rt/RtThread.h"
#include "device/DeviceSettings.h"
#include "device/OfflineRender.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace orvane {

namespace {

// What the device layer reports, in the user's words. Back ends add their own texts for
// their own calls ("jack_activate failed", "openStream failed: …").
constexpr const char *inputUnavailable =
    QT_TRANSLATE_NOOP("AudioDeviceEngine", "The input device is unavailable");
constexpr const char *noDeviceName = "—";
constexpr const char *invalidOutputLog = "audio: invalid output device id, keeping current";
constexpr const char *invalidInputLog = "audio: invalid input device id, keeping current";
constexpr const char *alreadyRecording =
    QT_TRANSLATE_NOOP("AudioDeviceEngine", "Already recording");
/// How long a finishing take waits for the device to end the block it may be capturing.
constexpr auto lastBlockTimeout = std::chrono::seconds(2);

/// The device gives the engine its own rate; the Part's fixed 48 kHz render format is only
/// what a device is asked for when it lets the application choose.
constexpr double requestedSampleRate = 48000.0;
/// Render buffers hold at least this much, so that most period changes need no new memory.
constexpr int32_t minimumRenderCapacity = 4096;
/// Input mixed into the output while recording: louder while the talkback is on.
constexpr float talkbackInputGain = 0.85f;
constexpr float recordingInputGain = 0.55f;

std::unique_ptr<AudioBackend> makeBackend(AudioBackendKind kind) {
    switch (kind) {
    case AudioBackendKind::Jack: return makeJackBackend();
    case AudioBackendKind::RtAudio: return makeRtAudioBackend();
    case AudioBackendKind::Null: break;
    }
    return makeNullBackend();
}

} // namespace

AudioBackendKind backendKindOf(const std::string &deviceName) {
    if (deviceName == jackDeviceName) return AudioBackendKind::Jack;
    if (deviceName.rfind(alsaDevicePrefix, 0) == 0) return AudioBackendKind::RtAudio;
    return AudioBackendKind::Null;
}

AudioDeviceEngine::AudioDeviceEngine(Engine &engine) : engine(engine) { refreshDeviceLabels(); }

AudioDeviceEngine::~AudioDeviceEngine() { stop(); }

// --- Devices ---------------------------------------------------------------------------------

std::vector<AudioDeviceDesc> AudioDeviceEngine::listDevices() {
    expectMainThread("AudioDeviceEngine::listDevices");
    std::vector<AudioDeviceDesc> found = listJackDevices();
    for (auto &device : listRtAudioDevices())
        found.push_back(std::move(device));
    found.push_back(AudioDeviceDesc{0, nullDeviceName, true, true});
    for (std::size_t index = 0; index < found.size(); ++index)
        found[index].id = static_cast<uint32_t>(index + 1);
    // Ids of the old list keep naming the same devices where the names still exist.
    const std::string outputName = nameOf(outputDeviceId);
    const std::string inputName = nameOf(inputDeviceId);
    devices = std::move(found);
    outputDeviceId = outputName.empty() ? 0 : deviceIdByName(outputName);
    inputDeviceId = inputName.empty() ? 0 : deviceIdByName(inputName);
    writeLog("audio devices enumerated: " + std::to_string(devices.size()));
    return devices;
}

const AudioDeviceDesc *AudioDeviceEngine::findDevice(uint32_t id) const {
    for (const auto &device : devices)
        if (device.id == id && id != 0) return &device;
    return nullptr;
}

std::string AudioDeviceEngine::nameOf(uint32_t id) const {
    const AudioDeviceDesc *device = findDevice(id);
    return device ? device->name : std::string();
}

uint32_t AudioDeviceEngine::deviceIdByName(const std::string &name) {
    if (devices.empty()) listDevices();
    for (const auto &device : devices)
        if (device.name == name) return device.id;
    return 0;
}

uint32_t AudioDeviceEngine::defaultOutputDeviceId() {
    if (devices.empty()) listDevices();
    for (const auto &device : devices)
        if (device.hasOutput) return device.id;
    return 0;
}

uint32_t AudioDeviceEngine::defaultInputDeviceId() {
    if (devices.empty()) listDevices();
    // Input is captured by the output's stream, so the default input is on its back end.
    const AudioDeviceDesc *output = findDevice(outputDeviceId);
    const AudioBackendKind kind =
        output ? backendKindOf(output->name) : backendKindOf(nameOf(defaultOutputDeviceId()));
    for (const auto &device : devices)
        if (device.hasInput && backendKindOf(device.name) == kind) return device.id;
    return 0;
}

bool AudioDeviceEngine::isValidDevice(uint32_t id, bool needsInput, bool needsOutput) {
    if (devices.empty()) listDevices();
    const AudioDeviceDesc *device = findDevice(id);
    return device && (!needsInput || device->hasInput) && (!needsOutput || device->hasOutput);
}

double AudioDeviceEngine::inputNominalSampleRate() const {
    if (inputDeviceId == 0) return sampleRate;
    // Capture runs in the output's stream, at its rate.
    return sampleRate > 0.0 ? sampleRate : 48000.0;
}

void AudioDeviceEngine::refreshDeviceLabels() {
    const std::string output = nameOf(outputDeviceId);
    const std::string input = nameOf(inputDeviceId);
    outputDeviceName = output.empty() ? noDeviceName : output;
    inputDeviceName = input.empty() ? noDeviceName : input;
    deviceLabel = outputDeviceName + " → " + inputDeviceName;
}

void AudioDeviceEngine::resolveDefaultDevices() {
    if (outputDeviceId == 0 || !isValidDevice(outputDeviceId, false, true))
        outputDeviceId = defaultOutputDeviceId();
    if (inputDeviceId == 0) inputDeviceId = defaultInputDeviceId();
}

// --- Running -----------------------------------------------------------------------------------

void AudioDeviceEngine::sizeRenderBuffers(int32_t frames) {
    const auto capacity = static_cast<std::size_t>(std::max(frames, minimumRenderCapacity));
    for (auto *buffer : {&renderLeft, &renderRight, &monitorScratchLeft, &monitorScratchRight})
        buffer->assign(capacity, 0.0f);
    renderCapacity.store(static_cast<int32_t>(capacity), std::memory_order_release);
}

void AudioDeviceEngine::prepareEngine(double rate, int32_t frames) {
    // Prepared for the format as it is now, announced changes included (the server tells
    // its rate once while the device opens).
    formatChangesApplied = formatChanges.load(std::memory_order_acquire);
    engine.prepareToPlay(rate, frames);
    preparedFrames = frames;
    periodRate.store(rate);
}

bool AudioDeviceEngine::openOutput() {
    closeOutput();
    resolveDefaultDevices();
    const std::string output = nameOf(outputDeviceId);
    const std::string input = nameOf(inputDeviceId);
    const AudioBackendKind kind = backendKindOf(output);
    BackendOpenRequest request;
    request.outputDevice = output;
    // Capture runs in the output's stream; an input on another back end is not captured.
    if (!input.empty() && backendKindOf(input) == kind)
        request.inputDevice = input;
    else if (!input.empty())
        writeLog("audio: input " + input + " is not on the output's back end");
    request.bufferFrames = requestedBufferFrames;
    request.sampleRate = requestedSampleRate;
    request.connectPorts = connectPorts;
    request.inputChannels = 2 * std::clamp(inputPairs, 1, maxInputPairs);
    request.engine = &engine;
    request.sync = syncSettings;
    lost.store(false);
    backend = makeBackend(kind);
    std::string error;
    if (!backend->open(request, *this, error)) {
        lastError = error;
        backend.reset();
        return false;
    }
    sampleRate = backend->sampleRate() > 0.0 ? backend->sampleRate() : requestedSampleRate;
    bufferFrames = backend->bufferFrames();
    outputInterleaved = false;
    sizeRenderBuffers(bufferFrames);
    monitor.allocate(monitorRingFrames);
    allocateInputCaptures();
    loadMeter.reset();
    refreshDeviceLabels();
    writeLog("audio open out=" + outputDeviceName + " sr=" + std::to_string(sampleRate) +
             " buf=" + std::to_string(bufferFrames));
    return true;
}

void AudioDeviceEngine::closeOutput() {
    if (backend) backend->stop();
    backend.reset();
    // After the last period: the main thread may render and carry out requests again.
    if (outputRunning.exchange(false)) engine.deviceStopped();
}

bool AudioDeviceEngine::applySettings(uint32_t outputId, uint32_t inputId, int32_t frames) {
    expectMainThread("AudioDeviceEngine::applySettings");
    if (outputId != 0) {
        if (isValidDevice(outputId, false, true))
            outputDeviceId = outputId;
        else
            writeLog(invalidOutputLog);
    }
    if (inputId != 0) {
        if (isValidDevice(inputId, true, false))
            inputDeviceId = inputId;
        else
            writeLog(invalidInputLog);
    }
    resolveDefaultDevices();
    requestedBufferFrames = clampBufferFrames(frames);
    const bool wasRunning = outputRunning.load();
    closeOutput();
    if (!openOutput()) return false;
    prepareEngine(sampleRate, bufferFrames);
    refreshDeviceLabels();
    return !wasRunning || startBackend();
}

bool AudioDeviceEngine::startBackend() {
    audioThreadId.store(0, std::memory_order_relaxed); // a new stream may bring a new thread
    // The device owns the engine's rendering from before its first period.
    engine.deviceStarted();
    std::string error;
    if (!backend->start(error)) {
        engine.deviceStopped();
        lastError = error;
        writeLog(error);
        return false;
    }
    engine.playbackLatencyFrames.store(playbackLatencyFrames());
    outputRunning.store(true);
    return true;
}

bool AudioDeviceEngine::start() {
    expectMainThread("AudioDeviceEngine::start");
    if (outputRunning.load()) return true;
    resolveDefaultDevices();
    if (!backend && !openOutput()) {
        writeLog("audio open failed: " + lastError);
        return false;
    }
    prepareEngine(sampleRate, bufferFrames);
    if (!startBackend()) return false;
    ensureInputMonitor();
    writeLog("audio started sr=" + std::to_string(sampleRate) +
             " buf=" + std::to_string(bufferFrames));
    return true;
}

void AudioDeviceEngine::stop() {
    expectMainThread("AudioDeviceEngine::stop");
    recording.store(false);
    stopRecordQueue();
    // A take the device stopped under keeps its files and journal: it is offered next time.
    closeTakeSpools();
    closeOutput();
    if (preparedFrames > 0) engine.releaseResources();
    preparedFrames = 0;
}

bool AudioDeviceEngine::startRecordQueue() {
    expectMainThread("AudioDeviceEngine::startRecordQueue");
    stopRecordQueue();
    if (inputDeviceId == 0) inputDeviceId = defaultInputDeviceId();
    const int32_t channels = backend ? backend->inputChannels() : 0;
    if (!isValidDevice(inputDeviceId, true, false) || channels < 1) {
        lastError = translate("AudioDeviceEngine", inputUnavailable);
        writeLog(lastError);
        return false;
    }
    recordChannels = std::clamp(channels, 1, 2);
    for (int32_t pair = 0; pair < capturedInputPairs(); ++pair)
        inputCaptures[pair].channels = std::clamp(channels - 2 * pair, 1, 2);
    recordSampleRate = sampleRate;
    recordNonInterleaved = false;
    recordQueueRunning = true;
    writeLog("record queue started in=" + inputDeviceName + " sr=" + std::to_string(sampleRate) +
             " ch=" + std::to_string(recordChannels));
    return true;
}

void AudioDeviceEngine::stopRecordQueue() {
    expectMainThread("AudioDeviceEngine::stopRecordQueue");
    // What was captured before the stop still belongs to the recording.
    if (recordQueueRunning) drainCapture();
    recordQueueRunning = false;
}

bool AudioDeviceEngine::ensureInputMonitor() {
    expectMainThread("AudioDeviceEngine::ensureInputMonitor");
    if (recordQueueRunning) return true;
    if (inputDeviceId == 0) inputDeviceId = defaultInputDeviceId();
    if (inputDeviceId == 0 || !isValidDevice(inputDeviceId, true, false)) return false;
    return startRecordQueue();
}

// --- Input -------------------------------------------------------------------------------------

void AudioDeviceEngine::pushMonitorSamples(const float *samples, int32_t frames, int32_t channels) {
    monitor.push(samples, frames, channels);
}

void AudioDeviceEngine::pullMonitorSamples(float *left, float *right, int32_t frames) const {
    monitor.pull(left, right, frames);
}

bool AudioDeviceEngine::readMonitorInterleaved(std::vector<float> &out, uint32_t frames) const {
    return monitor.readInterleaved(out, frames);
}

void AudioDeviceEngine::capturePreview(std::vector<float> &out, int32_t &channels,
                                       int64_t &frames) {
    std::lock_guard lock(recordMutex);
    channels = recordChannels;
    const std::vector<float> &recordBuffer = inputCaptures[0].recordBuffer;
    if (channels >= 1 && !recordBuffer.empty()) {
        frames = static_cast<int64_t>(recordBuffer.size()) / channels;
        out = recordBuffer;
    } else {
        frames = 0;
        out.clear();
    }
}

int64_t AudioDeviceEngine::drainCapture() {
    expectMainThread("AudioDeviceEngine::drainCapture");
    std::lock_guard lock(recordMutex);
    int64_t firstPairFrames = 0;
    for (int32_t pair = 0; pair < capturedInputPairs(); ++pair) {
        InputCapture &capture = inputCaptures[pair];
        const std::size_t before = capture.recordBuffer.size();
        const int64_t frames = capture.queue.popInto(capture.recordBuffer, capture.channels);
        if (pair == 0) firstPairFrames = frames;
        if (spools[pair] && frames > 0)
            spools[pair]->append(capture.recordBuffer.data() + before, frames);
    }
    if (!journalPath.empty()) noteTakeStartInJournal();
    return firstPairFrames;
}

void AudioDeviceEngine::allocateInputCaptures() {
    const int32_t pairs = backend ? std::min((backend->inputChannels() + 1) / 2, maxInputPairs) : 0;
    for (int32_t pair = 0; pair < pairs; ++pair)
        inputCaptures[pair].queue.allocate();
    capturedPairs.store(pairs, std::memory_order_relaxed);
}

uint64_t AudioDeviceEngine::captureOverflowFrames() const {
    uint64_t dropped = 0;
    for (const InputCapture &capture : inputCaptures)
        dropped += capture.queue.droppedFrames();
    return dropped;
}

// --- Recording and bouncing -------------------------------------------------------------------

bool AudioDeviceEngine::beginRecording() {
    expectMainThread("AudioDeviceEngine::beginRecording");
    if (recording.load()) {
        lastError = translate("AudioDeviceEngine", alreadyRecording);
        writeLog(lastError);
        return false;
    }
    if (!startRecordQueue()) return false;
    {
        std::lock_guard lock(recordMutex);
        for (InputCapture &capture : inputCaptures) {
            capture.recordBuffer.clear();
            // Input that waited in the hand-off belongs to no take.
            if (capture.queue.allocated()) capture.queue.discard();
            capture.overflowAtStart = capture.queue.droppedFrames();
        }
    }
    captureStartKnown.store(false, std::memory_order_relaxed);
    standingCaptureFrames.store(0, std::memory_order_relaxed);
    captureRolled.store(false, std::memory_order_relaxed);
    lastRecordingOverflowFrames = 0;
    recordStartSample = engine.transport.playhead.load();
    // Read now and again at the end, keeping the larger: the player whose ports report it may
    // connect after the start, or be gone before the end, and the take must not shift by what
    // its ports no longer say.
    recordLatencyFrames = roundTripLatencyFrames();
    openTakeSpools();
    recording.store(true, std::memory_order_release);
    writeLog("record: started at sample " + std::to_string(recordStartSample) +
             " in=" + inputDeviceName);
    return true;
}

void AudioDeviceEngine::waitForDeviceBlock() {
    const uint64_t target = blocksRendered.load(std::memory_order_acquire) + 2;
    const auto giveUp = std::chrono::steady_clock::now() + lastBlockTimeout;
    while (outputRunning.load() && !deviceWasLost() &&
           blocksRendered.load(std::memory_order_acquire) < target &&
           std::chrono::steady_clock::now() < giveUp)
        std::this_thread::yield();
}

int64_t AudioDeviceEngine::roundTripLatencyFrames() const {
    if (!backend) return 0;
    return std::max<int64_t>(backend->captureLatencyFrames(), 0) +
           std::max<int64_t>(backend->playbackLatencyFrames(), 0);
}

int64_t AudioDeviceEngine::playbackLatencyFrames() const {
    return backend ? std::max<int64_t>(backend->playbackLatencyFrames(), 0) : 0;
}

int64_t AudioDeviceEngine::midiInputLatencyFrames() const {
    if (!backend) return 0;
    return std::max<int64_t>(backend->midiCaptureLatencyFrames(), 0) +
           std::max<int64_t>(backend->playbackLatencyFrames(), 0);
}

int64_t AudioDeviceEngine::finishRecordingIntoProject(Engine &target, uint64_t targetTrackId,
                                                      uint64_t *outTrackId, uint64_t *outClipId,
                                                      uint64_t overdubClipId, int32_t sessionRow,
                                                      int32_t sessionColumn) {
    expectMainThread("AudioDeviceEngine::finishRecordingIntoProject");
    const InputRecordingTarget firstPair{
        0, RecordingDestination{targetTrackId, overdubClipId, sessionRow, sessionColumn}};
    const RecordingOutcome outcome =
        finishRecordingInputsIntoProject(target, std::span(&firstPair, 1)).front();
    if (outTrackId) *outTrackId = outcome.trackId;
    if (outClipId) *outClipId = outcome.clipId;
    return outcome.clipId != 0 ? outcome.frames : 0;
}

std::vector<RecordingOutcome>
AudioDeviceEngine::finishRecordingInputsIntoProject(Engine &target,
                                                    std::span<const InputRecordingTarget> targets) {
    expectMainThread("AudioDeviceEngine::finishRecordingInputsIntoProject");
    const bool wasRecording = recording.exchange(false);
    if (wasRecording) waitForDeviceBlock();
    drainCapture();
    if (captureStartKnown.load(std::memory_order_acquire))
        recordStartSample = captureStart.load(std::memory_order_acquire);
    recordLatencyFrames = std::max(recordLatencyFrames, roundTripLatencyFrames());
    if (!journalPath.empty()) noteTakeStartInJournal();
    closeTakeSpools();
    lastRecordingOverflowFrames = 0;
    for (InputCapture &capture : inputCaptures) {
        lastRecordingOverflowFrames += capture.queue.droppedFrames() - capture.overflowAtStart;
        capture.overflowAtStart = capture.queue.droppedFrames();
    }
    if (lastRecordingOverflowFrames > 0) {
        lastError = withArguments(translate("AudioDeviceEngine", "Recording: %1 input frames lost"),
                                  {std::to_string(lastRecordingOverflowFrames)});
        writeLog("record: hand-off overflow dropped " +
                 std::to_string(lastRecordingOverflowFrames) + " frames");
    }
    std::vector<RecordingOutcome> outcomes;
    for (const InputRecordingTarget &each : targets) {
        std::optional<CapturedTake> take = takeFromPair(each.inputPair);
        RecordingOutcome outcome;
        if (take) {
            outcome = placeRecordedTake(target, std::move(*take), each.destination);
            writeLog("record: takes frames=" + std::to_string(outcome.frames) +
                     " cycling=" + (target.transport.loopEnabled.load() ? "1" : "0"));
        }
        if (outcome.clipId == 0) outcome.frames = 0;
        outcomes.push_back(outcome);
    }
    // Pairs nobody asked for recorded nothing anyone keeps; their memory goes back now.
    std::lock_guard lock(recordMutex);
    for (InputCapture &capture : inputCaptures)
        std::vector<float>().swap(capture.recordBuffer);
    return outcomes;
}

void AudioDeviceEngine::keepTakesOnDisk(std::string projectFolder,
                                        std::vector<InputRecordingTarget> targets) {
    spoolFolder = std::move(projectFolder);
    spoolTargets = std::move(targets);
}

void AudioDeviceEngine::openTakeSpools() {
    // A take placed earlier and never forgotten is in the project by now: its journal must
    // not offer it a second time.
    if (!journalPath.empty()) removeTakeJournal(journalPath);
    journalPath.clear();
    journal = TakeJournal{};
    if (spoolFolder.empty() || spoolTargets.empty()) return;
    const std::filesystem::path folder = takeJournalFolder(spoolFolder);
    std::error_code fault;
    std::filesystem::create_directories(folder, fault);
    // Names no other run of this or another program can have chosen.
    static int runNumber = 0;
    const std::string stem = "take-" + std::to_string(::getpid()) + "-" +
                             std::to_string(std::chrono::system_clock::now().time_since_epoch() /
                                            std::chrono::milliseconds(1)) +
                             "-" + std::to_string(++runNumber);
    stampTakeJournal(journal);
    journal.captureStart = recordStartSample;
    journal.latencyFrames = recordLatencyFrames;
    {
        std::lock_guard lock(engine.projectMutex);
        const Project &project = engine.project;
        journal.punchEnabled = project.punchEnabled && project.punchOut > project.punchIn;
        journal.punchIn = project.punchIn;
        journal.punchOut = project.punchOut;
    }
    std::string error;
    for (const InputRecordingTarget &target : spoolTargets) {
        const int32_t pair = target.inputPair;
        if (pair < 0 || pair >= capturedInputPairs() || spools[pair]) continue;
        const std::string file = stem + "-in" + std::to_string(pair + 1) + ".wav";
        auto spool = std::make_unique<TakeSpool>();
        if (!spool->open((folder / file).string(), inputCaptures[pair].channels, recordSampleRate,
                         error)) {
            writeLog("record: the take stays in memory only: " + error);
            continue;
        }
        spools[pair] = std::move(spool);
        journal.takes.push_back({pair, target.destination.targetTrackId, file});
    }
    if (journal.takes.empty()) return;
    const std::string path = (folder / (stem + ".takes")).string();
    if (!writeTakeJournal(path, journal, error)) {
        writeLog("record: the take stays in memory only: " + error);
        for (auto &spool : spools)
            if (spool) spool->discard();
        for (auto &spool : spools)
            spool.reset();
        return;
    }
    journalPath = path;
    writeLog("record: take journal " + path);
}

void AudioDeviceEngine::noteTakeStartInJournal() {
    const int64_t start = captureStartKnown.load(std::memory_order_acquire)
                              ? captureStart.load(std::memory_order_acquire)
                              : recordStartSample;
    if (start == journal.captureStart && recordLatencyFrames == journal.latencyFrames) return;
    journal.captureStart = start;
    journal.latencyFrames = recordLatencyFrames;
    std::string error;
    if (!writeTakeJournal(journalPath, journal, error)) writeLog("record: " + error);
}

void AudioDeviceEngine::closeTakeSpools() {
    for (auto &spool : spools) {
        if (spool && !spool->close())
            writeLog("record: not all of the take reached " + spool->path());
        spool.reset();
    }
}

void AudioDeviceEngine::forgetTakesOnDisk() {
    expectMainThread("AudioDeviceEngine::forgetTakesOnDisk");
    closeTakeSpools();
    if (!journalPath.empty()) removeTakeJournal(journalPath);
    journalPath.clear();
    journal = TakeJournal{};
}

std::optional<CapturedTake> AudioDeviceEngine::takeFromPair(int32_t pair) {
    if (pair < 0 || pair >= capturedInputPairs()) {
        writeLog("record: input pair " + std::to_string(pair + 1) + " is not captured");
        return std::nullopt;
    }
    std::vector<float> captured;
    int32_t channels = 1;
    {
        std::lock_guard lock(recordMutex);
        captured.swap(inputCaptures[pair].recordBuffer);
        channels = std::max(inputCaptures[pair].channels, 1);
    }
    const auto frames = static_cast<int64_t>(captured.size()) / channels;
    writeLog("record: captured raw frames=" + std::to_string(frames) +
             " sr=" + std::to_string(recordSampleRate));
    if (frames == 0) {
        writeLog("record: empty capture (frames=0)");
        return std::nullopt;
    }
    CapturedTake take;
    take.samples = widenToStereo(
        convertCaptureRate(captured, channels, recordSampleRate, sampleRate), channels);
    // The input arrives a round trip after the sound it answers was rendered; frames heard
    // before the timeline's start have no place on it.
    take.start = recordStartSample - recordLatencyFrames;
    if (take.start < 0) {
        take.samples = extractPcmFrames(take.samples, 2, -take.start, take.frames());
        take.start = 0;
    }
    return take;
}

bool AudioDeviceEngine::bounce(std::vector<float> &out, int64_t start, int64_t frames,
                               int32_t channels) {
    expectMainThread("AudioDeviceEngine::bounce");
    return renderMixdown(engine, out, start, frames, channels, &lastError);
}

bool AudioDeviceEngine::bounceTrack(uint64_t trackId, std::vector<float> &out, int64_t start,
                                    int64_t frames, int32_t channels) {
    expectMainThread("AudioDeviceEngine::bounceTrack");
    return renderTrackMixdown(engine, trackId, out, start, frames, channels, &lastError);
}

std::string AudioDeviceEngine::lostReason() const {
    if (!lost.load(std::memory_order_acquire)) return {};
    return std::string(lostText.data());
}

void AudioDeviceEngine::writeLog(const std::string &line) {
    if (log) log(line);
}

// --- Back-end callbacks ------------------------------------------------------------------------

void AudioDeviceEngine::renderDevice(const float *const *inputs, int32_t inputCount,
                                     float *const *outputs, int32_t outputCount, int32_t frames,
                                     std::span<const MidiEvent> midi) noexcept {
    // The whole period is the audio thread's, not only the engine's block: capture, the
    // monitor ring, the input mix and the load meter run under the same trap.
    RtScope scope(engine.deviceActive());
    const auto started = std::chrono::steady_clock::now();
    // Once per thread: one call that neither blocks nor allocates.
    if (audioThreadId.load(std::memory_order_relaxed) == 0)
        audioThreadId.store(::gettid(), std::memory_order_relaxed);
    if (frames < 1 || outputCount < 1) return;
    if (frames > renderCapacity.load(std::memory_order_acquire)) {
        // More than the buffers hold: silence rather than whatever the device buffer held.
        for (int32_t channel = 0; channel < outputCount; ++channel)
            if (outputs[channel]) std::fill_n(outputs[channel], frames, 0.0f);
        return;
    }
    if (periodRate.load(std::memory_order_relaxed) != engine.sampleRate.load()) {
        // A new rate the engine is not prepared for yet would play at the wrong pitch.
        for (int32_t channel = 0; channel < outputCount; ++channel)
            if (outputs[channel]) std::fill_n(outputs[channel], frames, 0.0f);
        return;
    }
    std::fill_n(renderLeft.data(), frames, 0.0f);
    std::fill_n(renderRight.data(), frames, 0.0f);
    std::array<float *, 2> channels{renderLeft.data(), renderRight.data()};
    BlockIo io;
    io.inputs = inputs;
    io.inputChannelCount = inputs ? inputCount : 0;
    io.outputs = channels.data();
    io.outputChannelCount = 2;
    io.frames = frames;
    io.midi = midi;
    engine.processBlock(io);
    // After the block's requests: the block start is then the position the input was heard at.
    captureInputRt(inputs, inputCount, frames);
    // Tracks that monitor their input already play it through their chains; a raw copy on top
    // would double it. Talkback always reaches the output.
    const bool rawInputHeard =
        engine.monitoring.talkback.load() ||
        !engine.monitoring.tracksMonitorInput.load(std::memory_order_relaxed);
    if ((recording.load(std::memory_order_relaxed) || engine.transport.recording.load()) &&
        rawInputHeard)
        mixInputRt(frames);
    if (outputs[0]) std::copy_n(renderLeft.data(), frames, outputs[0]);
    if (outputCount > 1 && outputs[1]) std::copy_n(renderRight.data(), frames, outputs[1]);
    const double period = frames / periodRate.load(std::memory_order_relaxed);
    const double spent =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    loadMeter.record(spent / period);
    framesRendered.fetch_add(static_cast<uint64_t>(frames), std::memory_order_release);
    blocksRendered.fetch_add(1, std::memory_order_release);
}

long AudioDeviceEngine::audioThreadMajorFaults() const {
    const pid_t thread = audioThreadId.load(std::memory_order_relaxed);
    if (thread == 0) return -1;
    std::FILE *stat =
        std::fopen(("/proc/self/task/" + std::to_string(thread) + "/stat").c_str(), "r");
    if (!stat) return -1;
    char line[1024] = {};
    const bool read = std::fgets(line, sizeof line, stat) != nullptr;
    std::fclose(stat);
    // The name in parentheses may hold spaces. After it come the state and eight numbers
    // (parent, group, session, terminal, foreground group, flags, minor faults and the
    // children's), then the major faults.
    const char *fields = read ? std::strrchr(line, ')') : nullptr;
    if (!fields) return -1;
    char state = 0;
    long number[9] = {};
    if (std::sscanf(fields + 1, " %c %ld %ld %ld %ld %ld %ld %ld %ld %ld", &state, &number[0],
                    &number[1], &number[2], &number[3], &number[4], &number[5], &number[6],
                    &number[7], &number[8]) != 10)
        return -1;
    return number[8];
}

void AudioDeviceEngine::captureInputRt(const float *const *inputs, int32_t inputCount,
                                       int32_t frames) noexcept {
    expectAudioThread("AudioDeviceEngine::captureInputRt");
    if (!inputs || inputCount < 1 || !inputs[0]) return;
    monitor.pushPlanar(inputs[0], inputCount > 1 ? inputs[1] : nullptr, frames);
    if (!recording.load(std::memory_order_acquire)) return;
    if (!captureStartKnown.load(std::memory_order_relaxed)) {
        captureStart.store(engine.deviceBlockStart.load(std::memory_order_acquire),
                           std::memory_order_release);
        captureStartKnown.store(true, std::memory_order_release);
    }
    noteWhereTheTakeRollsRt(frames);
    const int32_t pairs =
        std::min(capturedPairs.load(std::memory_order_relaxed), (inputCount + 1) / 2);
    for (int32_t pair = 0; pair < pairs; ++pair) {
        const float *left = inputs[2 * pair];
        const float *right = 2 * pair + 1 < inputCount ? inputs[2 * pair + 1] : nullptr;
        if (left) inputCaptures[pair].queue.push(left, right, frames);
    }
}

void AudioDeviceEngine::noteWhereTheTakeRollsRt(int32_t frames) noexcept {
    if (captureRolled.load(std::memory_order_relaxed)) return;
    const bool rolling = engine.transport.playing.load() || engine.transport.recording.load();
    const int64_t standing = standingCaptureFrames.load(std::memory_order_relaxed);
    if (!rolling) {
        standingCaptureFrames.store(standing + frames, std::memory_order_relaxed);
        return;
    }
    captureRolled.store(true, std::memory_order_relaxed);
    // Blocks captured between the press of record and the start request all ran at the
    // standing playhead. They go just before the position the transport started from, so
    // that every frame after them lands where it was played, not that many blocks late.
    if (standing > 0)
        captureStart.store(engine.deviceBlockStart.load(std::memory_order_acquire) - standing,
                           std::memory_order_release);
}

void AudioDeviceEngine::mixInputRt(int32_t frames) noexcept {
    expectAudioThread("AudioDeviceEngine::mixInputRt");
    monitor.pull(monitorScratchLeft.data(), monitorScratchRight.data(), frames);
    const float gain = engine.monitoring.talkback.load() ? talkbackInputGain : recordingInputGain;
    for (int32_t i = 0; i < frames; ++i) {
        renderLeft[i] = std::clamp(renderLeft[i] + gain * monitorScratchLeft[i], -1.0f, 1.0f);
        renderRight[i] = std::clamp(renderRight[i] + gain * monitorScratchRight[i], -1.0f, 1.0f);
    }
}

void AudioDeviceEngine::periodChanging(double newSampleRate, int32_t frames) {
    // The server runs no client until this returns, so nothing here may wait on the main
    // thread: the format is noted for `applyDeviceFormat`. No period renders meanwhile, so
    // the buffers may be replaced here; until the engine is prepared it renders a longer
    // period in pieces, and a new rate as silence.
    if (frames > renderCapacity.load()) sizeRenderBuffers(frames);
    pendingFrames.store(frames, std::memory_order_relaxed);
    periodRate.store(newSampleRate);
    formatChanges.fetch_add(1, std::memory_order_release);
}

bool AudioDeviceEngine::applyDeviceFormat() {
    expectMainThread("AudioDeviceEngine::applyDeviceFormat");
    const uint64_t changes = formatChanges.load(std::memory_order_acquire);
    if (changes == formatChangesApplied) return false;
    formatChangesApplied = changes;
    const double rate = periodRate.load();
    const int32_t frames = pendingFrames.load(std::memory_order_relaxed);
    engine.prepareForDeviceFormat(rate, frames);
    sampleRate = rate;
    bufferFrames = frames;
    preparedFrames = frames;
    writeLog("audio format sr=" + std::to_string(rate) + " buf=" + std::to_string(frames));
    return true;
}

bool AudioDeviceEngine::setTransportSync(const TransportSyncSettings &settings) {
    expectMainThread("AudioDeviceEngine::setTransportSync");
    syncSettings = settings;
    return backend && backend->setTransportSync(settings);
}

bool AudioDeviceEngine::applyExternalClockTempo() {
    expectMainThread("AudioDeviceEngine::applyExternalClockTempo");
    if (syncSettings.midiClock != MidiClockMode::in || !syncSettings.followClockTempo) return false;
    const double measured = externalClockBpm();
    if (!(measured > 0.0)) return false;
    // A clock's jitter moves the estimate by fractions of a beat per minute; the project
    // keeps a tempo a person would type.
    const double bpm = std::round(measured * 100.0) / 100.0;
    {
        std::lock_guard lock(engine.projectMutex);
        if (std::abs(engine.project.tempoBpm - bpm) <= 0.01) return false;
        engine.project.tempoBpm = bpm;
    }
    engine.publishGraph();
    (void)engine.pushRequest(RequestProducer::MainThread, Request::setTempo(bpm));
    return true;
}

void AudioDeviceEngine::deviceUnderrun() noexcept { xruns.fetch_add(1, std::memory_order_relaxed); }

void AudioDeviceEngine::deviceLost(const char *reason) {
    const char *text = reason && *reason ? reason : "the audio server stopped";
    std::strncpy(lostText.data(), text, lostText.size() - 1);
    lost.store(true, std::memory_order_release);
    // No more periods: the engine may be driven from the main thread again.
    engine.deviceStopped();
}

// --- Memory ----------------------------------------------------------------------------------

bool lockMemoryIfAllowed() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;
#else
    rlimit limit{};
    const bool unlimited =
        ::getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY;
    if (!unlimited && ::geteuid() != 0) return false;
    // On fault: what the process reserves but never touches stays out of memory, while the
    // media windows, written by the disk thread before the audio thread sees them, are locked.
    if (::mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) != 0) return false;
    return true;
#endif
}

} // namespace orvane
