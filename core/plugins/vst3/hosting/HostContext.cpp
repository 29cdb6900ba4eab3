#include "core/plugins/vst3/hosting/HostContext.h"

#include <public.sdk/source/vst/hosting/hostclasses.h>

namespace orvane::vst {

Steinberg::FUnknown *hostContext() {
    static auto *application = new Steinberg::Vst::HostApplication();
    return application;
}

ComponentHandler::ComponentHandler(EditCallback onEdit) : onEdit(std::move(onEdit)) {}

Steinberg::tresult PLUGIN_API ComponentHandler::beginEdit(Steinberg::Vst::ParamID) {
    return Steinberg::kResultOk;
}

Steinberg::tresult PLUGIN_API ComponentHandler::performEdit(Steinberg::Vst::ParamID id,
                                                            Steinberg::Vst::ParamValue value) {
    if (onEdit) onEdit(id, value);
    return Steinberg::kResultOk;
}

Steinberg::tresult PLUGIN_API ComponentHandler::endEdit(Steinberg::Vst::ParamID) {
    return Steinberg::kResultOk;
}

// Restart requests (latency or bus changes) are picked up by the next prepare.
Steinberg::tresult PLUGIN_API ComponentHandler::restartComponent(Steinberg::int32) {
    return Steinberg::kResultOk;
}

Steinberg::tresult PLUGIN_API ComponentHandler::queryInterface(const Steinberg::TUID iid,
                                                               void **object) {
    QUERY_INTERFACE(iid, object, Steinberg::FUnknown::iid, Steinberg::Vst::IComponentHandler)
    QUERY_INTERFACE(iid, object, Steinberg::Vst::IComponentHandler::iid,
                    Steinberg::Vst::IComponentHandler)
    *object = nullptr;
    return Steinberg::kNoInterface;
}

Steinberg::uint32 PLUGIN_API ComponentHandler::addRef() { return ++references; }

Steinberg::uint32 PLUGIN_API ComponentHandler::release() {
    Steinberg::uint32 remaining = --references;
    if (remaining == 0) delete this;
    return remaining;
}

} // namespace orvane::vst
