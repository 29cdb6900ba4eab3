#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <utility>

namespace orvane {

/// One blocking call run on its own worker thread, so that the main thread's tick only looks
/// whether the result has arrived. The destructor waits for the worker, which the call's own
/// time limits keep short.
template <typename Result> class BackgroundCall {
  public:
    BackgroundCall() = default;
    ~BackgroundCall() { wait(); }
    BackgroundCall(const BackgroundCall &) = delete;
    BackgroundCall &operator=(const BackgroundCall &) = delete;

    /// False (and nothing started) while an earlier call is still running or unclaimed.
    [[nodiscard]] bool start(std::function<Result()> call) {
        if (future.valid()) return false;
        future = std::async(std::launch::async, std::move(call));
        return true;
    }
    bool running() const { return future.valid(); }
    /// The result once it has arrived, without waiting; the call is then over.
    std::optional<Result> take() {
        if (!future.valid() ||
            future.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return std::nullopt;
        return future.get();
    }
    /// Waits for the result (nothing when no call was started).
    std::optional<Result> wait() {
        if (!future.valid()) return std::nullopt;
        return future.get();
    }

  private:
    std::future<Result> future;
};

} // namespace orvane
