#pragma once

#include <atomic>
#include <cstdint>

namespace orvane {

/// Who may render the engine, and whether a block renders right now. One thread at a time
/// renders: it holds the slot through a `Claim` for the block and is meanwhile the only
/// consumer of the request rings and the only producer of the notification ring.
///
/// The state is one word of three flags, so that every change is a single atomic step and
/// two threads can never both believe they won:
/// - device: a device called `deviceStarted` and not yet `deviceStopped`;
/// - offline: an export called `beginOffline` and not yet `endOffline`;
/// - held: some thread holds a `Claim` (renders a block, or drains requests).
///
// clang-format off
/// | state (flags)  | deviceStarted         | deviceStopped | beginOffline          | endOffline  | claimForDevice | claimForOffline      | claimWhileIdle |
/// |----------------|-----------------------|---------------|-----------------------|-------------|----------------|----------------------|----------------|
/// | idle           | device                | idle          | offline               | idle        | held           | refused              | held           |
/// | held           | waits, device         | held          | waits, offline        | held        | refused        | refused              | refused        |
/// | device         | device                | idle          | device+offline        | device      | device+held    | refused              | refused        |
/// | device+held    | waits, device         | held          | waits, device+offline | device+held | refused        | refused              | refused        |
/// | offline        | device+offline        | offline       | refused               | idle        | refused        | offline+held         | refused        |
/// | offline+held   | waits, device+offline | offline+held  | refused               | held        | refused        | waits, offline+held  | refused        |
/// | device+offline | device+offline        | offline       | refused               | device      | refused        | all three            | refused        |
/// | all three      | waits, device+offline | offline+held  | refused               | device+held | refused        | waits, all three     | refused        |
// clang-format on
///
/// "waits" means the call sets its flag at once and returns once the claim in progress ended
/// (the state shown is the one it returns in): a device block that began before an export
/// took over finishes first, and a block that begins after sees the new owner. Releasing a
/// claim clears only `held`. A device claim is refused rather than waited for, since a device
/// period must not block; an export's claim waits, since an export must not lose a block (a device
/// block holds the slot only for the moment it takes to see the export and back off).
class RenderSlot {
  public:
    /// The slot held for one block; released when it goes. Empty when the claim was refused.
    class Claim {
      public:
        Claim() = default;
        Claim(Claim &&other) noexcept : slot(other.slot) { other.slot = nullptr; }
        Claim &operator=(Claim &&) = delete;
        Claim(const Claim &) = delete;
        Claim &operator=(const Claim &) = delete;
        ~Claim() {
            if (slot) slot->release();
        }
        explicit operator bool() const { return slot != nullptr; }

      private:
        friend class RenderSlot;
        explicit Claim(RenderSlot *held) : slot(held) {}
        RenderSlot *slot = nullptr;
    };

    /// The flags as one value, for readers and tests.
    struct State {
        bool device = false;
        bool offline = false;
        bool held = false;
        friend bool operator==(const State &, const State &) = default;
    };

    /// From now on device blocks may render and the main thread never claims. Returns once a
    /// claim in progress ended.
    void deviceStarted();
    /// After the device's last block returned (any thread, also the server's).
    void deviceStopped();
    /// Takes the engine for an export; false when another export has it. Returns once a
    /// claim in progress ended.
    [[nodiscard]] bool beginOffline();
    void endOffline();

    /// A device block: refused while an export owns the engine or a block renders.
    [[nodiscard]] Claim claimForDevice();
    /// An export's block: refused without an export, else waits for a device block to back
    /// off.
    [[nodiscard]] Claim claimForOffline();
    /// The main thread carrying out requests itself: only while neither a device nor an
    /// export owns the engine and no block renders.
    [[nodiscard]] Claim claimWhileIdle();

    State state() const;
    bool deviceOwns() const { return (word.load() & deviceBit) != 0; }
    bool offlineOwns() const { return (word.load() & offlineBit) != 0; }
    /// Whether someone renders or will: a device or an export owns the engine, or a block is
    /// in progress. Without one, nobody empties the request rings.
    bool anyoneRenders() const { return word.load() != 0; }

  private:
    static constexpr uint8_t deviceBit = 1;
    static constexpr uint8_t offlineBit = 2;
    static constexpr uint8_t heldBit = 4;

    /// Sets `held` when `word` has none of `refusing` set; false when it has, or when held.
    [[nodiscard]] bool tryHold(uint8_t refusing);
    void waitUntilReleased() const;
    void release() { word.fetch_and(static_cast<uint8_t>(~heldBit)); }

    std::atomic<uint8_t> word{0};
};

} // namespace orvane
