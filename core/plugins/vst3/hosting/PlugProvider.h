#pragma once

#include "core/plugins/vst3/hosting/Module.h"

#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstmessage.h>

namespace orvane::vst {

/// Creates, initialises and connects the component and the edit controller of one plug-in
/// class, and takes them down again in the order plug-ins expect (disconnect, controller,
/// component).
class PlugProvider {
  public:
    /// `componentMayBeController` lets a component that implements the controller interface
    /// itself serve as its own controller when it names no separate controller class.
    PlugProvider(const PluginFactory &factory, ClassInfo classInfo, bool componentMayBeController);
    ~PlugProvider();
    PlugProvider(const PlugProvider &) = delete;
    PlugProvider &operator=(const PlugProvider &) = delete;

    /// Creates both objects; false when the component cannot be created or initialised. A
    /// controller that fails is dropped and the plug-in runs without one.
    [[nodiscard]] bool initialize();

    Steinberg::IPtr<Steinberg::Vst::IComponent> getComponent() const { return component; }
    /// Null when the plug-in has no edit controller.
    Steinberg::IPtr<Steinberg::Vst::IEditController> getController() const { return controller; }

  private:
    [[nodiscard]] bool createController();
    void connectComponentAndController();
    void sendComponentStateToController();
    void terminate();

    const PluginFactory &factory;
    ClassInfo classInfo;
    bool componentMayBeController;
    bool controllerIsComponent = false;
    Steinberg::IPtr<Steinberg::Vst::IComponent> component;
    Steinberg::IPtr<Steinberg::Vst::IEditController> controller;
    Steinberg::IPtr<Steinberg::Vst::IConnectionPoint> componentConnection;
    Steinberg::IPtr<Steinberg::Vst::IConnectionPoint> controllerConnection;
};

} // namespace orvane::vst
