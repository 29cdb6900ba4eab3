#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ScopedTestState.h"
#include "tests/support/TestSignals.h"

namespace orvane::vst::testing {

using orvane::testing::ThirdPartyLeaksIgnored;

/// Folder of the test-only bundles built with the tests.
inline std::string testBundlesDir() { return HALVORA_TEST_BUNDLES_DIR; }
inline std::string testInstrumentPath() { return testBundlesDir() + "/HalvoraTestInstrument.vst3"; }
inline std::string misbehavingEffectPath() {
    return testBundlesDir() + "/HalvoraMisbehavingEffect.vst3";
}

#ifdef HALVORA_CRASH_BUNDLES_DIR
/// A bundle that crashes whatever process loads it, kept in a folder of its own.
inline std::string crashBundlesDir() { return HALVORA_CRASH_BUNDLES_DIR; }
inline std::string crashOnLoadPath() { return crashBundlesDir() + "/HalvoraCrashOnLoad.vst3"; }
#endif

/// Debian's zam-plugins, installed by the dependency script. Tests that need them fail (never
/// skip) when they are missing, so a CI machine without them cannot pass by accident.
inline std::string zamDir() { return "/usr/lib/vst3"; }
inline std::string zamBundle(const std::string &name) { return zamDir() + "/" + name + ".vst3"; }
inline ::testing::AssertionResult zamPluginsInstalled() {
    if (std::filesystem::exists(zamBundle("ZamComp"))) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "zam-plugins missing from " << zamDir() << ": run scripts/install-deps.sh";
}

using orvane::testing::ScopedEnvironment;

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

using orvane::testing::fillSine;

inline double rms(const float *samples, size_t count) {
    return orvane::testing::rmsOf({samples, count});
}

inline double decibels(double ratio) { return 20.0 * std::log10(ratio); }

} // namespace orvane::vst::testing
