#include "core/rt/RtPublished.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

using namespace orvane;
using orvane::testing::AllocationScope;

namespace {

using Published = RtPublished<std::string>;

std::shared_ptr<const std::string> copyOf(const char *text) {
    return std::make_shared<const std::string>(text);
}

TEST(RtPublished, AReaderKeepsTheCopyCurrentWhenItWasMade) {
    Published published;
    EXPECT_FALSE(published.read()) << "nothing published yet";
    published.publish(copyOf("first"));
    std::weak_ptr<const std::string> first = published.current();
    {
        Published::Reader early(published);
        EXPECT_EQ(published.readersNow(), 1u);
        published.publish(copyOf("second"));
        Published::Reader late(published);
        EXPECT_EQ(*early, "first");
        EXPECT_EQ(*late, "second");
        EXPECT_EQ(published.readersNow(), 2u);
        EXPECT_EQ(published.retiredCount(), 1u);
        published.collect();
        EXPECT_FALSE(first.expired()) << "a copy a reader holds is never freed";
    }
    EXPECT_EQ(published.readersNow(), 0u);
    published.collect();
    EXPECT_EQ(published.retiredCount(), 0u);
    EXPECT_TRUE(first.expired());
}

TEST(RtPublished, PublishingFreesUnreadCopiesAndTakeUnreadHandsOverTheRest) {
    Published published;
    published.publish(copyOf("held"));
    std::optional<Published::Reader> reader(std::in_place, published);
    published.publish(copyOf("unread"));
    std::weak_ptr<const std::string> unread = published.current();
    published.publish(copyOf("current"));
    EXPECT_TRUE(unread.expired()) << "no reader held it";
    ASSERT_EQ(published.retiredCopies().size(), 1u);
    EXPECT_EQ(*published.retiredCopies()[0], "held");
    EXPECT_TRUE(published.takeUnread().empty());
    reader.reset();
    const auto handedOver = published.takeUnread();
    ASSERT_EQ(handedOver.size(), 1u);
    EXPECT_EQ(*handedOver[0], "held") << "the caller decides where it is destroyed";
    EXPECT_EQ(published.retiredCount(), 0u);
    EXPECT_EQ(*published.current(), "current");
}

TEST(RtPublished, AReaderLettingGoOfARetiredCopyNeitherAllocatesNorFrees) {
    Published published;
    published.publish(copyOf("a copy long enough to live on the heap, not in the string"));
    std::weak_ptr<const std::string> old = published.current();
    std::optional<Published::Reader> reader(std::in_place, published);
    published.publish(copyOf("next"));
    {
        AllocationScope scope;
        { Published::Reader another(published); }
        reader.reset();
        EXPECT_EQ(scope.allocations(), 0u);
        EXPECT_EQ(scope.frees(), 0u);
    }
    EXPECT_FALSE(old.expired()) << "only the writer frees";
    published.waitForRetired();
    EXPECT_TRUE(old.expired());
}

} // namespace
