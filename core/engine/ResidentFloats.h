#pragma once

#include <cstddef>

namespace orvane {

/// A zeroed array of floats whose pages are all made resident when it is allocated, in one
/// system call. Fresh memory otherwise comes in a page at a time on first touch, each page a
/// fault, and on virtual machines a fault costs tens of microseconds: the disk reader's
/// windows and the delay lines of a mixdown would pay thousands of them. Resident pages are
/// also what a real-time thread needs, which must never fault. Contents are not kept across
/// `reallocate`.
class ResidentFloats {
  public:
    ResidentFloats() = default;
    explicit ResidentFloats(std::size_t count) { reallocate(count); }
    ~ResidentFloats() { release(); }
    ResidentFloats(ResidentFloats &&other) noexcept { take(other); }
    ResidentFloats &operator=(ResidentFloats &&other) noexcept {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }
    ResidentFloats(const ResidentFloats &) = delete;
    ResidentFloats &operator=(const ResidentFloats &) = delete;

    /// `count` zeroes in place of whatever was held; throws std::bad_alloc when the memory
    /// cannot be had, leaving the array empty.
    void reallocate(std::size_t count);

    float *data() { return data_; }
    const float *data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    float &operator[](std::size_t index) { return data_[index]; }
    float operator[](std::size_t index) const { return data_[index]; }
    float *begin() { return data_; }
    float *end() { return data_ + size_; }
    const float *begin() const { return data_; }
    const float *end() const { return data_ + size_; }

  private:
    void release();
    void take(ResidentFloats &other) {
        data_ = other.data_;
        size_ = other.size_;
        mapped_ = other.mapped_;
        other.data_ = nullptr;
        other.size_ = 0;
        other.mapped_ = false;
    }

    float *data_ = nullptr;
    std::size_t size_ = 0;
    bool mapped_ = false;
};

} // namespace orvane
