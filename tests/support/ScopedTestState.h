#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace orvane::testing {

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

/// Sets (or unsets, with nullopt) an environment variable for the scope's lifetime; programs
/// the test starts inherit it.
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

} // namespace orvane::testing
