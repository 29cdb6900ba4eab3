#pragma once

#include <utility>

namespace orvane {

/// What an edit replaced, kept from the first redo that found its target, so that every
/// later undo gives back the user's own earlier value rather than a default.
template <typename T> class CapturedValue {
  public:
    /// Keeps `value` unless an earlier redo already kept one.
    void capture(const T &value) {
        if (captured_) return;
        value_ = value;
        captured_ = true;
    }

    /// Writes the kept value into `target`; false, writing nothing, before any capture.
    bool restoreInto(T &target) const {
        if (captured_) target = value_;
        return captured_;
    }

    bool captured() const { return captured_; }
    const T &value() const { return value_; }

  private:
    T value_{};
    bool captured_ = false;
};

} // namespace orvane
