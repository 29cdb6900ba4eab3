#pragma once

#include <cstdint>

namespace orvane {

// The thread contract made executable. Every thread has a role; the rendering thread takes
// the audio role for the span of a block through `RtScope`. `expectAudioThread` and
// `expectMainThread` sit at the entry points whose comments name a thread and abort a debug
// build that breaks the contract; release builds compile them away.
//
// The allocation trap: while a device renders (an `RtScope` opened with `trapAllocations`),
// an allocation or free on that thread aborts debug and sanitizer builds that link the trap
// (see `rtAllocationTrapped`). Deliberate exceptions open an `RtScope::Allow`.

enum class ThreadRole : uint8_t { unknown, main, audio };

/// The calling thread's role.
ThreadRole currentThreadRole();
/// Marks the calling thread as the main thread (the thread that creates the engine does).
void markMainThread();

/// Audio role for the lifetime of the scope; nests.
class RtScope {
  public:
    explicit RtScope(bool trapAllocations = false) noexcept;
    ~RtScope();
    RtScope(const RtScope &) = delete;
    RtScope &operator=(const RtScope &) = delete;

    /// Lets the enclosing scope allocate (an I/O path the audio thread takes on purpose).
    class Allow {
      public:
        Allow() noexcept;
        ~Allow();
        Allow(const Allow &) = delete;
        Allow &operator=(const Allow &) = delete;
    };

  private:
    ThreadRole previousRole;
    bool previousTrap;
};

/// True when an allocation on the calling thread breaks the contract right now.
bool rtAllocationTrapped() noexcept;

/// Aborts with `what` and the role found, for the debug checks below.
[[noreturn]] void failThreadContract(const char *what, ThreadRole found);

#ifdef NDEBUG
inline void expectAudioThread(const char *) {}
inline void expectMainThread(const char *) {}
#else
/// The caller must be inside an `RtScope` (a device block, an offline block or the main
/// thread's claim of the idle rendering slot).
inline void expectAudioThread(const char *what) {
    if (currentThreadRole() != ThreadRole::audio) failThreadContract(what, currentThreadRole());
}
/// The caller must not be rendering.
inline void expectMainThread(const char *what) {
    if (currentThreadRole() == ThreadRole::audio) failThreadContract(what, currentThreadRole());
}
#endif

} // namespace orvane
