// Linked into the test programs whose expectations are the Russian texts: the application
// core's tests read them through the Russian catalogue, and programs they start choose Russian
// from the locale as a Russian-speaking user's would.
#include "translations/Language.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace orvane::testing {
namespace {

class RussianTexts : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("LANGUAGE", "ru", 1);
        std::string error;
        if (!useLanguage(Language::Russian, error)) FAIL() << error;
    }
};

[[maybe_unused]] ::testing::Environment *const registered =
    ::testing::AddGlobalTestEnvironment(new RussianTexts); // gtest owns it

} // namespace
} // namespace orvane::testing
