#include "core/plugins/vst3/hosting/Module.h"

#include "core/plugins/vst3/PluginScanner.h"

#include "core/plugins/vst3/hosting/HostContext.h"
#include "core/plugins/vst3/hosting/Utf16.h"

#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <system_error>

namespace orvane::vst {
namespace {

using Steinberg::IPtr;
using Steinberg::kResultOk;

#if defined(__x86_64__)
constexpr const char *architectureFolder = "x86_64-linux";
#elif defined(__aarch64__)
constexpr const char *architectureFolder = "aarch64-linux";
#elif defined(__i386__)
constexpr const char *architectureFolder = "i386-linux";
#else
constexpr const char *architectureFolder = "unknown-linux";
#endif

using GetFactoryFunction = Steinberg::IPluginFactory *(*)();
using ModuleEntryFunction = bool (*)(void *);
using ModuleExitFunction = bool (*)();

std::array<uint8_t, 16> toArray(const Steinberg::TUID id) {
    std::array<uint8_t, 16> bytes{};
    std::memcpy(bytes.data(), id, bytes.size());
    return bytes;
}

// Fixed-size char fields from a plug-in are not trusted to be terminated.
std::string boundedString(const char *text, size_t capacity) {
    return std::string(text, strnlen(text, capacity));
}

template <size_t N> std::string boundedUtf16(const char16_t (&text)[N]) {
    char16_t copy[N + 1];
    std::memcpy(copy, text, sizeof(text));
    copy[N] = 0;
    return utf16ToUtf8(copy);
}

std::string factoryVendor(Steinberg::IPluginFactory &factory) {
    Steinberg::PFactoryInfo info;
    if (factory.getFactoryInfo(&info) != kResultOk) return {};
    return boundedString(info.vendor, sizeof(info.vendor));
}

ClassInfo fromInfo(const Steinberg::PClassInfo &info) {
    ClassInfo result;
    result.id = toArray(info.cid);
    result.category = boundedString(info.category, sizeof(info.category));
    result.name = boundedString(info.name, sizeof(info.name));
    result.cardinality = info.cardinality;
    return result;
}

ClassInfo fromInfo(const Steinberg::PClassInfo2 &info) {
    ClassInfo result;
    result.id = toArray(info.cid);
    result.category = boundedString(info.category, sizeof(info.category));
    result.name = boundedString(info.name, sizeof(info.name));
    result.vendor = boundedString(info.vendor, sizeof(info.vendor));
    result.version = boundedString(info.version, sizeof(info.version));
    result.sdkVersion = boundedString(info.sdkVersion, sizeof(info.sdkVersion));
    result.subCategories = boundedString(info.subCategories, sizeof(info.subCategories));
    result.cardinality = info.cardinality;
    result.classFlags = info.classFlags;
    return result;
}

ClassInfo fromInfo(const Steinberg::PClassInfoW &info) {
    ClassInfo result;
    result.id = toArray(info.cid);
    result.category = boundedString(info.category, sizeof(info.category));
    result.name = boundedUtf16(info.name);
    result.vendor = boundedUtf16(info.vendor);
    result.version = boundedUtf16(info.version);
    result.sdkVersion = boundedUtf16(info.sdkVersion);
    result.subCategories = boundedString(info.subCategories, sizeof(info.subCategories));
    result.cardinality = info.cardinality;
    result.classFlags = info.classFlags;
    return result;
}

bool readClassInfo(Steinberg::IPluginFactory &factory, Steinberg::IPluginFactory2 *factory2,
                   Steinberg::IPluginFactory3 *factory3, int32_t index, ClassInfo &out) {
    if (factory3) {
        Steinberg::PClassInfoW info{};
        if (factory3->getClassInfoUnicode(index, &info) == kResultOk) {
            out = fromInfo(info);
            return true;
        }
    }
    if (factory2) {
        Steinberg::PClassInfo2 info{};
        if (factory2->getClassInfo2(index, &info) == kResultOk) {
            out = fromInfo(info);
            return true;
        }
    }
    Steinberg::PClassInfo info{};
    if (factory.getClassInfo(index, &info) != kResultOk) return false;
    out = fromInfo(info);
    return true;
}

} // namespace

PluginFactory::PluginFactory(IPtr<Steinberg::IPluginFactory> factory)
    : factory(std::move(factory)) {}

std::vector<ClassInfo> PluginFactory::classInfos() const {
    std::vector<ClassInfo> infos;
    if (!factory) return infos;
    auto factory2 = Steinberg::FUnknownPtr<Steinberg::IPluginFactory2>(factory);
    auto factory3 = Steinberg::FUnknownPtr<Steinberg::IPluginFactory3>(factory);
    std::string vendor = factoryVendor(*factory);
    int32_t count = factory->countClasses();
    for (int32_t index = 0; index < count; ++index) {
        ClassInfo info;
        if (!readClassInfo(*factory, factory2.get(), factory3.get(), index, info)) continue;
        if (info.vendor.empty()) info.vendor = vendor;
        infos.push_back(std::move(info));
    }
    return infos;
}

std::string moduleBinaryPath(const std::string &path) {
    std::error_code error;
    std::filesystem::path bundle(path);
    if (!std::filesystem::is_directory(bundle, error)) return path;
    std::string stem =
        bundle.filename().empty() ? bundle.parent_path().stem().string() : bundle.stem().string();
    auto binary = bundle / "Contents" / architectureFolder / (stem + ".so");
    return binary.string();
}

std::shared_ptr<Module> Module::create(const std::string &path, std::string &errorText) {
    std::string binary = moduleBinaryPath(path);
    std::error_code error;
    if (!std::filesystem::is_regular_file(binary, error)) {
        errorText = "no plug-in binary at " + binary;
        return nullptr;
    }
    void *handle = dlopen(binary.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *reason = dlerror();
        errorText = reason ? reason : "dlopen failed";
        return nullptr;
    }
    auto entry = reinterpret_cast<ModuleEntryFunction>(dlsym(handle, "ModuleEntry"));
    auto getFactory = reinterpret_cast<GetFactoryFunction>(dlsym(handle, "GetPluginFactory"));
    if (getFactory == nullptr) {
        errorText = "GetPluginFactory missing in " + binary;
        dlclose(handle);
        return nullptr;
    }
    if (entry != nullptr && !entry(handle)) {
        errorText = "ModuleEntry failed in " + binary;
        dlclose(handle);
        return nullptr;
    }
    // GetPluginFactory hands over one reference, which the factory wrapper now owns.
    IPtr<Steinberg::IPluginFactory> factory = Steinberg::owned(getFactory());
    if (!factory) {
        errorText = "GetPluginFactory returned no factory in " + binary;
        if (auto exit = reinterpret_cast<ModuleExitFunction>(dlsym(handle, "ModuleExit"))) exit();
        dlclose(handle);
        return nullptr;
    }
    if (auto factory3 = Steinberg::FUnknownPtr<Steinberg::IPluginFactory3>(factory))
        factory3->setHostContext(hostContext());
    return std::shared_ptr<Module>(new Module(handle, path, PluginFactory(std::move(factory))));
}

Module::Module(void *handle, std::string path, PluginFactory factory)
    : handle(handle), path(std::move(path)), factory(std::move(factory)) {}

Module::~Module() {
    factory = PluginFactory(nullptr);
    if (auto exit = reinterpret_cast<ModuleExitFunction>(dlsym(handle, "ModuleExit"))) exit();
    dlclose(handle);
}

std::string tuidToHex(const Steinberg::TUID id) { return tuidToHex(toArray(id)); }

} // namespace orvane::vst
