#include "core/rt/RtThread.h"

#include <cstdio>
#include <cstdlib>

namespace orvane {

namespace {

thread_local ThreadRole role = ThreadRole::unknown;
thread_local bool trapping = false;
thread_local int allowDepth = 0;

const char *roleName(ThreadRole found) {
    switch (found) {
    case ThreadRole::main: return "the main thread";
    case ThreadRole::audio: return "a rendering thread";
    default: return "an unnamed thread";
    }
}

} // namespace

ThreadRole currentThreadRole() { return role; }

void markMainThread() {
    if (role == ThreadRole::unknown) role = ThreadRole::main;
}

RtScope::RtScope(bool trapAllocations) noexcept : previousRole(role), previousTrap(trapping) {
    role = ThreadRole::audio;
    trapping = trapping || trapAllocations;
}

RtScope::~RtScope() {
    role = previousRole;
    trapping = previousTrap;
}

RtScope::Allow::Allow() noexcept { ++allowDepth; }
RtScope::Allow::~Allow() { --allowDepth; }

bool rtAllocationTrapped() noexcept { return trapping && allowDepth == 0; }

void failThreadContract(const char *what, ThreadRole found) {
    std::fprintf(stderr, "thread contract broken: %s called on %s\n", what, roleName(found));
    std::abort();
}

} // namespace orvane
