#include "core/plugins/vst3/Vst3Plugin.h"

#include "core/plugins/FramedNotes.h"
#include "core/plugins/vst3/PluginScanner.h"

#include "core/plugins/vst3/hosting/EditorWindow.h"
#include "core/plugins/vst3/hosting/HostContext.h"
#include "core/plugins/vst3/hosting/Module.h"
#include "core/plugins/vst3/hosting/ParameterHandOver.h"
#include "core/plugins/vst3/hosting/PlugProvider.h"
#include "core/plugins/vst3/hosting/ProcessObjects.h"
#include "core/plugins/vst3/hosting/Utf16.h"
#include "core/rt/SpscRing.h"

#include <pluginterfaces/gui/iplugview.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstprocesscontext.h>
#include <pluginterfaces/vst/ivstunits.h>
#include <public.sdk/source/common/memorystream.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
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

// Parameters whose last sent value is remembered, so that a block carries only changes.
constexpr size_t trackedParameters = 4096;

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
    // Last value sent to the plug-in per hand-over slot; NaN before the first. Written under
    // the processing lock only.
    std::unique_ptr<float[]> sentValues;
    ProcessEditQueue processEdits;
    // Every value given since the instance was created; main thread only. The audio thread
    // reads the same values through `handOver`.
    std::unordered_map<uint32_t, float> pendingParams;
    ParameterHandOver handOver{initialParameterCapacity};
    IPtr<EditorWindow> editorWindow;
    // What the user turned in the editor since the host last asked, the latest value per
    // parameter; main thread only, as the editor is.
    std::vector<ParameterValue> editorEdits;
    IPtr<ComponentHandler> componentHandler;
    // Held by prepare and unload; the audio thread only tries it.
    std::mutex processing;

    Impl() {
        pendingParams.max_load_factor(1.0f);
        inputParameterChanges.setCapacity(static_cast<int>(handOver.capacity()), 1);
    }
};

Vst3Plugin::Vst3Plugin() : impl(std::make_unique<Impl>()) {}

Vst3Plugin::~Vst3Plugin() { unload(); }

bool Vst3Plugin::load(const std::string &path, const std::string &uid) {
    unload();
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
                if (instanceInProcess == impl.get()) {
                    impl->processEdits.push({id, static_cast<float>(value)});
                    return;
                }
                rememberParameter(id, static_cast<float>(value));
                if (impl->editorWindow)
                    noteEditorEdit(impl->editorEdits, {id, static_cast<float>(value)});
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
                               const Deadline *) {
    if (frames <= 0 || left == nullptr || right == nullptr) return false;
    std::unique_lock<std::mutex> lock(impl->processing, std::try_to_lock);
    if (!lock.owns_lock()) return false;
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

// In process an instrument hears every note on its own frame: the block is cut where notes
// start or stop, and each piece starts with its notes. False when the first piece was not
// processed (the buffers are then as they were); a later piece the plug-in was too busy for
// stays as it was.
bool Vst3Plugin::processRt(float *left, float *right, int32_t frames, Deadline deadline,
                           std::span<const PluginMidiEvent> events) noexcept {
    if (events.empty()) return processWithin(left, right, frames, {}, {}, &deadline);
    const FramedNotes notes = FramedNotes::from(events);
    if (notes.empty()) return processWithin(left, right, frames, {}, {}, &deadline);
    std::size_t on = 0, off = 0;
    for (int32_t from = 0; from < frames;) {
        std::size_t onEnd = on, offEnd = off;
        while (onEnd < notes.onCount && notes.onFrames[onEnd] <= from)
            ++onEnd;
        while (offEnd < notes.offCount && notes.offFrames[offEnd] <= from)
            ++offEnd;
        int32_t to = frames;
        if (onEnd < notes.onCount) to = std::min(to, notes.onFrames[onEnd]);
        if (offEnd < notes.offCount) to = std::min(to, notes.offFrames[offEnd]);
        const bool processed = processWithin(
            left + from, right + from, to - from, notes.noteOns().subspan(on, onEnd - on),
            notes.noteOffs().subspan(off, offEnd - off), &deadline);
        if (!processed && from == 0) return false;
        on = onEnd;
        off = offEnd;
        from = to;
    }
    return true;
}

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

bool Vst3Plugin::setState(const std::vector<uint8_t> &state) {
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

// A list's programs are chosen through the program-change parameter of the unit that uses the
// list; a plug-in with one such parameter and one list may leave the unit out.
std::vector<Vst3Program> Vst3Plugin::factoryPrograms() {
    std::vector<Vst3Program> programs;
    if (!impl->editController) return programs;
    FUnknownPtr<IUnitInfo> units(impl->editController);
    if (!units) return programs;
    std::vector<ParameterInfo> changers;
    const Steinberg::int32 parameterCount = impl->editController->getParameterCount();
    for (Steinberg::int32 index = 0; index < parameterCount; ++index) {
        ParameterInfo info{};
        if (impl->editController->getParameterInfo(index, info) == kResultOk &&
            (info.flags & ParameterInfo::kIsProgramChange))
            changers.push_back(info);
    }
    const Steinberg::int32 listCount = units->getProgramListCount();
    for (Steinberg::int32 list = 0; list < listCount; ++list) {
        ProgramListInfo listInfo{};
        if (units->getProgramListInfo(list, listInfo) != kResultOk || listInfo.programCount < 1)
            continue;
        const ParameterInfo *changer =
            changers.size() == 1 && listCount == 1 ? &changers[0] : nullptr;
        for (Steinberg::int32 unit = 0; unit < units->getUnitCount() && !changer; ++unit) {
            UnitInfo unitInfo{};
            if (units->getUnitInfo(unit, unitInfo) != kResultOk ||
                unitInfo.programListId != listInfo.id)
                continue;
            for (const ParameterInfo &candidate : changers)
                if (candidate.unitId == unitInfo.id) changer = &candidate;
        }
        if (!changer) continue;
        for (Steinberg::int32 index = 0; index < listInfo.programCount; ++index) {
            Steinberg::Vst::String128 name{};
            if (units->getProgramName(listInfo.id, index, name) != kResultOk) continue;
            // A stepped parameter spreads its steps evenly over [0, 1].
            const int32_t steps = changer->stepCount > 0 ? changer->stepCount
                                                         : std::max(listInfo.programCount - 1, 1);
            programs.push_back(
                {boundedTitle(name), changer->id,
                 clampNormalized(static_cast<float>(index) / static_cast<float>(steps))});
        }
    }
    return programs;
}

namespace {

/// The group each unit stands for: its name after those of the units that hold it, the root
/// unit's none. A unit whose parents loop or run too deep is named by itself.
std::map<UnitID, std::string> unitGroups(IEditController *controller) {
    std::map<UnitID, std::string> groups;
    FUnknownPtr<IUnitInfo> units(controller);
    if (!units) return groups;
    std::map<UnitID, std::pair<UnitID, std::string>> named;
    const Steinberg::int32 count = std::min(units->getUnitCount(), Steinberg::int32{4096});
    for (Steinberg::int32 index = 0; index < count; ++index) {
        UnitInfo info{};
        if (units->getUnitInfo(index, info) == kResultOk && info.id != kRootUnitId)
            named[info.id] = {info.parentUnitId, boundedTitle(info.name)};
    }
    for (const auto &[id, parentAndName] : named) {
        std::string group = parentAndName.second;
        UnitID parent = parentAndName.first;
        for (int depth = 0; depth < 8 && parent != kRootUnitId && parent != kNoParentUnitId;
             ++depth) {
            const auto found = named.find(parent);
            if (found == named.end()) break;
            group = found->second.second + " / " + group;
            parent = found->second.first;
        }
        groups[id] = std::move(group);
    }
    return groups;
}

} // namespace

bool Vst3Plugin::stateOfProgram(Vst3Plugin &fresh, const Vst3Program &program,
                                std::vector<uint8_t> &state, std::string &error) {
    const std::vector<Vst3Program> programs = fresh.factoryPrograms();
    const bool known = std::any_of(programs.begin(), programs.end(), [&](const auto &listed) {
        return listed.parameterId == program.parameterId && listed.normalized == program.normalized;
    });
    // The state is the processor's, so the program is played once for the processor to take it.
    std::vector<float> left(64), right(64);
    if (!known || !fresh.prepare(48000.0, 64) ||
        !fresh.setParameterNormalized(program.parameterId, program.normalized)) {
        error = "the plug-in has no program \"" + program.name + "\"";
        return false;
    }
    fresh.process(left.data(), right.data(), 64);
    std::vector<uint8_t> taken;
    if (!fresh.getState(taken)) {
        error = "the plug-in gave no state for its program \"" + program.name + "\"";
        return false;
    }
    state = std::move(taken);
    return true;
}

bool Vst3Plugin::programState(const Vst3Program &program, std::vector<uint8_t> &state,
                              std::string &error) {
    Vst3Plugin fresh;
    if (!isLoaded() || !fresh.load(description.path, description.uid)) {
        error = "the plug-in cannot be loaded again for its program \"" + program.name + "\"";
        return false;
    }
    return stateOfProgram(fresh, program, state, error);
}

std::vector<PluginParameterInfo> Vst3Plugin::listParameters() {
    collectProcessEdits();
    std::vector<PluginParameterInfo> parameters;
    if (!impl->editController) return parameters;
    const std::map<UnitID, std::string> groups = unitGroups(impl->editController);
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
        if (const auto group = groups.find(info.unitId); group != groups.end())
            parameter.group = group->second;
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

bool Vst3Plugin::setParameterNormalizedRt(uint32_t id, float value) noexcept {
    return impl->handOver.setExisting(id, clampNormalized(value));
}

bool Vst3Plugin::setParameterNormalized(uint32_t id, float value) {
    collectProcessEdits();
    float clamped = clampNormalized(value);
    rememberParameter(id, clamped);
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

bool Vst3Plugin::hasEditor() { return static_cast<bool>(impl->editController); }

bool Vst3Plugin::openEditor() {
    closeEditor();
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
    impl->editorWindow->setView(impl->view);
    return true;
}

EditorStatus Vst3Plugin::pollEditor(std::vector<ParameterValue> &edits) {
    edits.clear();
    edits.swap(impl->editorEdits);
    if (!impl->editorWindow) return EditorStatus::closed;
    if (!impl->editorWindow->closeRequested()) return EditorStatus::open;
    closeEditor();
    return EditorStatus::closed;
}

void Vst3Plugin::closeEditor() {
    if (impl->editorWindow) impl->editorWindow->setView(nullptr);
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

bool Vst3Plugin::isLoaded() const { return impl->component != nullptr; }

} // namespace orvane::vst
