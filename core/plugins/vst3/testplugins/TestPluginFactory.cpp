// The factory and module entry points every test bundle exports.
#include "core/plugins/vst3/testplugins/TestPluginSupport.h"

#include <atomic>

namespace orvane::vst::testplugins {
namespace {

constexpr const char *vendor = "Halvora Tests";

class Factory : public IPluginFactory2 {
  public:
    tresult PLUGIN_API getFactoryInfo(PFactoryInfo *info) override {
        if (info == nullptr) return kInvalidArgument;
        *info = PFactoryInfo(vendor, "", "", PFactoryInfo::kUnicode);
        return kResultOk;
    }
    int32 PLUGIN_API countClasses() override { return 1; }
    tresult PLUGIN_API getClassInfo(int32 index, PClassInfo *info) override {
        if (index != 0 || info == nullptr) return kInvalidArgument;
        *info = PClassInfo(testPluginClass().id, PClassInfo::kManyInstances, kVstAudioEffectClass,
                           testPluginClass().name);
        return kResultOk;
    }
    tresult PLUGIN_API getClassInfo2(int32 index, PClassInfo2 *info) override {
        if (index != 0 || info == nullptr) return kInvalidArgument;
        *info = PClassInfo2(testPluginClass().id, PClassInfo::kManyInstances, kVstAudioEffectClass,
                            testPluginClass().name, 0, testPluginClass().subCategories, vendor,
                            "1.0.0", "VST 3.7.2");
        return kResultOk;
    }
    tresult PLUGIN_API createInstance(FIDString classId, FIDString interfaceId,
                                      void **object) override {
        *object = nullptr;
        if (std::memcmp(classId, testPluginClass().id, sizeof(TUID)) != 0) return kInvalidArgument;
        TestPluginBase *plugin = makeTestPlugin();
        tresult result = plugin->queryInterface(interfaceId, object);
        plugin->release();
        return result;
    }
    tresult PLUGIN_API queryInterface(const TUID iid, void **object) override {
        QUERY_INTERFACE(iid, object, FUnknown::iid, IPluginFactory2)
        QUERY_INTERFACE(iid, object, IPluginFactory::iid, IPluginFactory2)
        QUERY_INTERFACE(iid, object, IPluginFactory2::iid, IPluginFactory2)
        *object = nullptr;
        return kNoInterface;
    }
    // The factory lives as long as the module; the host's references only count.
    uint32 PLUGIN_API addRef() override { return ++references; }
    uint32 PLUGIN_API release() override { return --references; }

  private:
    std::atomic<uint32> references{0};
};

Factory factory;

} // namespace
} // namespace orvane::vst::testplugins

extern "C" {
__attribute__((visibility("default"))) bool ModuleEntry(void *) { return true; }
__attribute__((visibility("default"))) bool ModuleExit() { return true; }
__attribute__((visibility("default"))) Steinberg::IPluginFactory *GetPluginFactory() {
    orvane::vst::testplugins::factory.addRef();
    return &orvane::vst::testplugins::factory;
}
}
