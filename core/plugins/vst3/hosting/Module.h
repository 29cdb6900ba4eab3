#pragma once

#include <pluginterfaces/base/funknown.h>
#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/base/smartpointer.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane::vst {

/// One class a plug-in factory offers, with every text already in UTF-8.
struct ClassInfo {
    std::array<uint8_t, 16> id{};
    std::string category;
    std::string name;
    std::string vendor;
    std::string version;
    std::string sdkVersion;
    std::string subCategories;
    int32_t cardinality = 0;
    uint32_t classFlags = 0;
};

/// Access to a module's plug-in factory. It keeps its own reference to the factory, so it must
/// be released before the module that made it.
class PluginFactory {
  public:
    explicit PluginFactory(Steinberg::IPtr<Steinberg::IPluginFactory> factory);

    /// Every class of the factory, in factory order, read through the newest factory interface
    /// the plug-in offers (unicode names first, then the second version, then the first).
    std::vector<ClassInfo> classInfos() const;

    /// Creates an instance of the class and asks it for interface `I`; null on failure.
    template <class I>
    Steinberg::IPtr<I> createInstance(const std::array<uint8_t, 16> &classId) const {
        void *object = nullptr;
        if (!factory ||
            factory->createInstance(reinterpret_cast<const char *>(classId.data()),
                                    reinterpret_cast<const char *>(I::iid.toTUID()),
                                    &object) != Steinberg::kResultOk ||
            object == nullptr)
            return nullptr;
        return Steinberg::owned(static_cast<I *>(object));
    }

    Steinberg::IPluginFactory *get() const { return factory.get(); }

  private:
    Steinberg::IPtr<Steinberg::IPluginFactory> factory;
};

/// A loaded plug-in module: a ".vst3" bundle (its Linux shared object for this machine) or a
/// plain shared-object path. The destructor releases the factory, calls the module's exit
/// function and unloads the code, in that order, because plug-ins tear down their globals in
/// the exit function and crash when the factory outlives it.
class Module {
  public:
    /// Loads the module at `path`; null with a reason in `errorText` on failure.
    static std::shared_ptr<Module> create(const std::string &path, std::string &errorText);

    ~Module();
    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;

    const PluginFactory &getFactory() const { return factory; }
    const std::string &getPath() const { return path; }

  private:
    Module(void *handle, std::string path, PluginFactory factory);

    void *handle;
    std::string path;
    PluginFactory factory;
};

/// The shared object inside a bundle for this machine's architecture, e.g.
/// "Foo.vst3/Contents/x86_64-linux/Foo.so"; a path that is not a folder is returned unchanged.
std::string moduleBinaryPath(const std::string &path);

/// A class id as 32 uppercase hexadecimal digits, bytes in storage order.
std::string tuidToHex(const Steinberg::TUID id);

} // namespace orvane::vst
