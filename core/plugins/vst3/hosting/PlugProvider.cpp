#include "core/plugins/vst3/hosting/PlugProvider.h"

#include "core/plugins/vst3/hosting/HostContext.h"

#include <public.sdk/source/common/memorystream.h>

#include <algorithm>

namespace orvane::vst {
namespace {

using Steinberg::FUnknownPtr;
using Steinberg::IPtr;
using Steinberg::kResultOk;
using Steinberg::Vst::IComponent;
using Steinberg::Vst::IConnectionPoint;
using Steinberg::Vst::IEditController;

bool isNullId(const Steinberg::TUID id) {
    return std::all_of(id, id + 16, [](char byte) { return byte == 0; });
}

} // namespace

PlugProvider::PlugProvider(const PluginFactory &factory, ClassInfo classInfo,
                           bool componentMayBeController)
    : factory(factory), classInfo(std::move(classInfo)),
      componentMayBeController(componentMayBeController) {}

PlugProvider::~PlugProvider() { terminate(); }

bool PlugProvider::initialize() {
    component = factory.createInstance<IComponent>(classInfo.id);
    if (!component) return false;
    if (component->initialize(hostContext()) != kResultOk) {
        component = nullptr;
        return false;
    }
    if (createController()) {
        connectComponentAndController();
        sendComponentStateToController();
    }
    return true;
}

bool PlugProvider::createController() {
    Steinberg::TUID controllerId{};
    if (component->getControllerClassId(controllerId) == kResultOk && !isNullId(controllerId)) {
        std::array<uint8_t, 16> id{};
        std::copy(controllerId, controllerId + 16, id.begin());
        controller = factory.createInstance<IEditController>(id);
        if (controller && controller->initialize(hostContext()) != kResultOk) controller = nullptr;
        if (controller) return true;
    }
    if (!componentMayBeController) return false;
    controller = FUnknownPtr<IEditController>(component);
    controllerIsComponent = static_cast<bool>(controller);
    return controllerIsComponent;
}

void PlugProvider::connectComponentAndController() {
    if (controllerIsComponent) return;
    componentConnection = FUnknownPtr<IConnectionPoint>(component);
    controllerConnection = FUnknownPtr<IConnectionPoint>(controller);
    if (!componentConnection || !controllerConnection) {
        componentConnection = nullptr;
        controllerConnection = nullptr;
        return;
    }
    componentConnection->connect(controllerConnection);
    controllerConnection->connect(componentConnection);
}

// A separate controller starts from its own defaults; the component's state tells it what the
// processor really holds.
void PlugProvider::sendComponentStateToController() {
    if (controllerIsComponent) return;
    IPtr<Steinberg::MemoryStream> stream = Steinberg::owned(new Steinberg::MemoryStream());
    if (component->getState(stream) != kResultOk) return;
    stream->seek(0, Steinberg::IBStream::kIBSeekSet, nullptr);
    controller->setComponentState(stream);
}

void PlugProvider::terminate() {
    if (componentConnection && controllerConnection) {
        componentConnection->disconnect(controllerConnection);
        controllerConnection->disconnect(componentConnection);
    }
    componentConnection = nullptr;
    controllerConnection = nullptr;
    if (controller && !controllerIsComponent) controller->terminate();
    controller = nullptr;
    if (component) component->terminate();
    component = nullptr;
}

} // namespace orvane::vst
