#include "core/vst/Vst3Plugin.h"

#include "core/vst/PluginScanner.h"
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
#include <cctype>
#include <cmath>
#include <cstring>
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
    int socketFd = -1;
    // Every value given since the instance was created; main thread only. The audio thread
    // reads the same values through `handOver`.
    std::unordered_map<uint32_t, float> pendingParams;
    ParameterHandOver handOver{initialParameterCapacity};
    IPtr<EditorWindow> editorWindow;
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

void Vst3Plugin::setUseOutOfProcess(bool outOfProcess, PluginSandboxController *sandbox) {
    useOutOfProcess = outOfProcess;
    controller = sandbox;
}

bool Vst3Plugin::load(const std::string &path, const std::string &uid) {
    unload();
    if (useOutOfProcess && controller != nullptr) return loadOutOfProcess(path, uid);
    return loadInProcess(path, uid);
}

// The helper program and its connection come with the sandbox controller; until then an
// instance asked to run out of process does not load rather than silently running in process.
bool Vst3Plugin::loadOutOfProcess(const std::string &, const std::string &) {
    impl->socketFd = -1;
    return false;
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
    if (!impl->component || blockSize <= 0 || !(sampleRate > 0.0)) return false;
    std::lock_guard<std::mutex> lock(impl->processing);
    if (impl->active) {
        impl->processor->setProcessing(false);
        impl->component->setActive(false);
        impl->active = false;
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
    if (impl->component->setActive(true) != kResultOk) return false;
    impl->active = true;
    latency = static_cast<int32_t>(impl->processor->getLatencySamples());
    return true;
}

void Vst3Plugin::process(float *left, float *right, int frames) {
    processInstrument(left, right, frames, {}, {});
}

void Vst3Plugin::processInstrument(float *left, float *right, int frames,
                                   std::span<const NoteOn> noteOns, std::span<const int> noteOffs) {
    if (frames <= 0 || left == nullptr || right == nullptr) return;
    std::unique_lock<std::mutex> lock(impl->processing, std::try_to_lock);
    if (!lock.owns_lock() || !impl->active || !impl->processor) return;
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
}

void Vst3Plugin::processBlock(float *left, float *right, int frames,
                              std::span<const NoteOn> noteOns, std::span<const int> noteOffs) {
    impl->inputEvents.clear();
    impl->outputEvents.clear();
    impl->inputParameterChanges.clear();
    impl->outputParameterChanges.clear();
    impl->handOver.forEach([this](uint32_t id, float value) {
        if (ParamValueQueue *queue = impl->inputParameterChanges.appendParameter(id)) {
            Steinberg::int32 index = 0;
            queue->addPoint(0, value, index);
        }
    });
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
    impl->processor->setProcessing(true);
    impl->processor->process(impl->processData);
}

bool Vst3Plugin::getState(std::vector<uint8_t> &state) {
    state.clear();
    if (!impl->component) return false;
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

std::vector<PluginParameterInfo> Vst3Plugin::listParameters() {
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
        parameters.push_back(std::move(parameter));
    }
    return parameters;
}

void Vst3Plugin::rememberParameter(uint32_t id, float value) {
    impl->pendingParams[id] = value;
    if (impl->handOver.set(id, value)) return;
    // A new parameter and a full table: grow both the table and the block's parameter list
    // while the audio thread is kept out (it skips at most this one block).
    std::lock_guard<std::mutex> lock(impl->processing);
    size_t capacity = impl->handOver.capacity() * 2;
    impl->handOver.grow(capacity);
    impl->inputParameterChanges.setCapacity(static_cast<int>(capacity), 1);
    impl->handOver.set(id, value);
}

bool Vst3Plugin::setParameterNormalized(uint32_t id, float value) {
    float clamped = clampNormalized(value);
    rememberParameter(id, clamped);
    if (!impl->editController) return false;
    return impl->editController->setParamNormalized(id, clamped) == kResultOk;
}

float Vst3Plugin::getParameterNormalized(uint32_t id) {
    if (auto found = impl->pendingParams.find(id); found != impl->pendingParams.end())
        return found->second;
    if (impl->editController)
        return static_cast<float>(impl->editController->getParamNormalized(id));
    return 0.0f;
}

bool Vst3Plugin::hasEditor() { return static_cast<bool>(impl->editController); }

bool Vst3Plugin::attachEditor(void *) {
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
    return true;
}

void Vst3Plugin::closeEditor() {
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

bool Vst3Plugin::isLoaded() const { return impl->component || impl->socketFd >= 0; }

} // namespace orvane::vst
