#pragma once

#include <cstdint>

namespace orvane::testing {

/// Counts global allocations and frees made by the calling thread between
/// `AllocationScope` construction and destruction. Only threads inside a scope are
/// counted, so a test can watch the audio thread while other threads allocate.
class AllocationScope {
  public:
    AllocationScope();
    ~AllocationScope();
    AllocationScope(const AllocationScope &) = delete;
    AllocationScope &operator=(const AllocationScope &) = delete;

    uint64_t allocations() const;
    uint64_t frees() const;
};

} // namespace orvane::testing
