#pragma once

#include <pluginterfaces/base/funknown.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>

#include <atomic>
#include <functional>

namespace orvane::vst {

/// The host application object handed to every factory and plug-in. It is created on first use
/// and deliberately never destroyed: plug-ins keep pointers to it after they are unloaded and
/// call it from their own static destructors.
Steinberg::FUnknown *hostContext();

/// Receives the edits a plug-in's editor makes, so that a knob turned in the editor reaches the
/// processor the same way a host parameter change does.
class ComponentHandler : public Steinberg::Vst::IComponentHandler {
  public:
    using EditCallback = std::function<void(Steinberg::Vst::ParamID, double)>;

    explicit ComponentHandler(EditCallback onEdit);
    virtual ~ComponentHandler() = default;

    Steinberg::tresult PLUGIN_API beginEdit(Steinberg::Vst::ParamID) override;
    Steinberg::tresult PLUGIN_API performEdit(Steinberg::Vst::ParamID id,
                                              Steinberg::Vst::ParamValue value) override;
    Steinberg::tresult PLUGIN_API endEdit(Steinberg::Vst::ParamID) override;
    Steinberg::tresult PLUGIN_API restartComponent(Steinberg::int32) override;

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **object) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

  private:
    EditCallback onEdit;
    std::atomic<Steinberg::uint32> references{1};
};

} // namespace orvane::vst
