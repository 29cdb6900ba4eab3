#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace orvane::vst::testing {

/// The zam plug-ins leave memory behind when they are unloaded (measured: static tables and
/// editor strings that their exit function never frees), and once their code is unmapped the
/// leak checker cannot tell their allocations from ours. While this scope lives, allocations
/// made on the test's thread are not leak-checked; our own code stays checked by the tests that
/// use the test bundles.
class ThirdPartyLeaksIgnored {
  public:
    ThirdPartyLeaksIgnored() {
#if defined(__SANITIZE_ADDRESS__)
        __lsan_disable();
#endif
    }
    ~ThirdPartyLeaksIgnored() {
#if defined(__SANITIZE_ADDRESS__)
        __lsan_enable();
#endif
    }
    ThirdPartyLeaksIgnored(const ThirdPartyLeaksIgnored &) = delete;
    ThirdPartyLeaksIgnored &operator=(const ThirdPartyLeaksIgnored &) = delete;
};

/// Folder of the test-only bundles built with the tests.
inline std::string testBundlesDir() { return HALVORA_TEST_BUNDLES_DIR; }
inline std::string testInstrumentPath() { return testBundlesDir() + "/HalvoraTestInstrument.vst3"; }
inline std::string misbehavingEffectPath() {
    return testBundlesDir() + "/HalvoraMisbehavingEffect.vst3";
}

/// Debian's zam-plugins, installed by the dependency script. Tests that need them fail (never
/// skip) when they are missing, so a CI machine without them cannot pass by accident.
inline std::string zamDir() { return "/usr/lib/vst3"; }
inline std::string zamBundle(const std::string &name) { return zamDir() + "/" + name + ".vst3"; }
inline ::testing::AssertionResult zamPluginsInstalled() {
    if (std::filesystem::exists(zamBundle("ZamComp"))) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "zam-plugins missing from " << zamDir() << ": run scripts/install-deps.sh";
}

/// Sets (or unsets, with nullopt) an environment variable for the scope's lifetime.
class ScopedEnvironment {
  public:
    ScopedEnvironment(std::string name, std::optional<std::string> value) : name(std::move(name)) {
        if (const char *old = std::getenv(this->name.c_str())) previous = old;
        if (value)
            setenv(this->name.c_str(), value->c_str(), 1);
        else
            unsetenv(this->name.c_str());
    }
    ~ScopedEnvironment() {
        if (previous)
            setenv(name.c_str(), previous->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

  private:
    std::string name;
    std::optional<std::string> previous;
};

/// A fresh folder under the system's temporary folder, removed with everything in it.
class TemporaryFolder {
  public:
    TemporaryFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "halvora-vst-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        folder = buffer.data();
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    const std::filesystem::path &path() const { return folder; }

  private:
    std::filesystem::path folder;
};

inline void fillSine(std::vector<float> &buffer, double frequency, double amplitude,
                     double sampleRate, long firstFrame) {
    for (size_t index = 0; index < buffer.size(); ++index)
        buffer[index] = static_cast<float>(
            amplitude * std::sin(2.0 * M_PI * frequency * (firstFrame + static_cast<long>(index)) /
                                 sampleRate));
}

inline double rms(const float *samples, size_t count) {
    double sum = 0.0;
    for (size_t index = 0; index < count; ++index)
        sum += double(samples[index]) * samples[index];
    return count == 0 ? 0.0 : std::sqrt(sum / count);
}

inline double decibels(double ratio) { return 20.0 * std::log10(ratio); }

} // namespace orvane::vst::testing
