// An effect whose editor the user may resize, within limits: its view is an X11 window of its
// own, embedded in the host's, that takes whatever size the host gives it. It passes audio
// through unchanged.
#include "core/plugins/vst3/testplugins/TestPluginSupport.h"

#include <pluginterfaces/gui/iplugview.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <cstdint>

// The SDK copy we build against declares the view's interface but defines its id nowhere.
namespace Steinberg {
DEF_CLASS_IID(IPlugView)
} // namespace Steinberg

namespace orvane::vst::testplugins {
namespace {

constexpr int32 startWidth = 600, startHeight = 400;
constexpr int32 largestWidth = 1000, largestHeight = 800;

class ResizableView final : public IPlugView {
  public:
    tresult PLUGIN_API isPlatformTypeSupported(FIDString type) override {
        return std::strcmp(type, kPlatformTypeX11EmbedWindowID) == 0 ? kResultTrue : kResultFalse;
    }
    tresult PLUGIN_API attached(void *parent, FIDString type) override {
        if (isPlatformTypeSupported(type) != kResultTrue || display) return kResultFalse;
        display = XOpenDisplay(nullptr);
        if (!display) return kResultFalse;
        const int screen = DefaultScreen(display);
        window = XCreateSimpleWindow(
            display, static_cast<Window>(reinterpret_cast<uintptr_t>(parent)), 0, 0,
            static_cast<unsigned>(size.getWidth()), static_cast<unsigned>(size.getHeight()), 0,
            WhitePixel(display, screen), WhitePixel(display, screen));
        XMapWindow(display, window);
        XSync(display, False);
        return kResultOk;
    }
    tresult PLUGIN_API removed() override {
        if (!display) return kResultFalse;
        XDestroyWindow(display, window);
        XCloseDisplay(display);
        display = nullptr;
        window = 0;
        return kResultOk;
    }
    tresult PLUGIN_API onWheel(float) override { return kResultFalse; }
    tresult PLUGIN_API onKeyDown(char16, int16, int16) override { return kResultFalse; }
    tresult PLUGIN_API onKeyUp(char16, int16, int16) override { return kResultFalse; }
    tresult PLUGIN_API getSize(ViewRect *rect) override {
        if (!rect) return kInvalidArgument;
        *rect = size;
        return kResultOk;
    }
    tresult PLUGIN_API onSize(ViewRect *rect) override {
        if (!rect) return kInvalidArgument;
        size = *rect;
        if (display) {
            XResizeWindow(display, window, static_cast<unsigned>(size.getWidth()),
                          static_cast<unsigned>(size.getHeight()));
            XSync(display, False);
        }
        return kResultOk;
    }
    tresult PLUGIN_API onFocus(TBool) override { return kResultOk; }
    tresult PLUGIN_API setFrame(IPlugFrame *) override { return kResultOk; }
    tresult PLUGIN_API canResize() override { return kResultTrue; }
    tresult PLUGIN_API checkSizeConstraint(ViewRect *rect) override {
        if (!rect) return kInvalidArgument;
        rect->right = rect->left + std::min(rect->getWidth(), largestWidth);
        rect->bottom = rect->top + std::min(rect->getHeight(), largestHeight);
        return kResultTrue;
    }

    tresult PLUGIN_API queryInterface(const TUID iid, void **object) override {
        QUERY_INTERFACE(iid, object, FUnknown::iid, IPlugView)
        QUERY_INTERFACE(iid, object, IPlugView::iid, IPlugView)
        *object = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return ++references; }
    uint32 PLUGIN_API release() override {
        const uint32 remaining = --references;
        if (remaining == 0) {
            removed();
            delete this;
        }
        return remaining;
    }

  private:
    Display *display = nullptr;
    Window window = 0;
    ViewRect size{0, 0, startWidth, startHeight};
    std::atomic<uint32> references{1};
};

class ResizableEditorEffect : public TestPluginBase {
  public:
    ResizableEditorEffect() : TestPluginBase({2, 2, false}) {}

    tresult processAudio(ProcessData &data) override {
        if (data.numInputs < 1 || data.numOutputs < 1) return kResultOk;
        for (int32 channel = 0; channel < 2; ++channel)
            std::copy_n(data.inputs[0].channelBuffers32[channel], data.numSamples,
                        data.outputs[0].channelBuffers32[channel]);
        return kResultOk;
    }
    tresult writeState(IBStream &) override { return kResultOk; }
    tresult readState(IBStream &) override { return kResultOk; }
    IPlugView *PLUGIN_API createView(FIDString name) override {
        return name && std::strcmp(name, ViewType::kEditor) == 0 ? new ResizableView() : nullptr;
    }
};

} // namespace
} // namespace orvane::vst::testplugins

orvane::vst::testplugins::TestPluginBase *makeTestPlugin() {
    return new orvane::vst::testplugins::ResizableEditorEffect();
}

const orvane::vst::testplugins::TestPluginClass &testPluginClass() {
    static const orvane::vst::testplugins::TestPluginClass info{
        INLINE_UID(0x48565245, 0x53495A45, 0x45444954, 0x4F523031), "Halvora Resizable Editor",
        "Fx"};
    return info;
}
