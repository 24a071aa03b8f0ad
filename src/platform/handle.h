#pragma once

// Ownership of a system handle: a file descriptor, a Windows HANDLE, a
// process. The types that hold one keep it in a UniqueHandle, so that
// moving them and closing what they hold is written once, here.

#include <cstdint>
#include <utility>

namespace vellumo::platform {

/// Owns one handle and closes it once: on destruction, on reset, or when
/// another is moved in. Move-only. `Closer` names the value that means
/// none (`Closer::invalid`) and closes a valid one (`close(value)`); like a
/// unique_ptr's deleter it may carry state (the path of a file to remove
/// with the handle, say), which moves with the handle.
template <class Closer>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(std::intptr_t value, Closer closer = Closer()) noexcept
      : value_(value), closer_(std::move(closer)) {}
  UniqueHandle(UniqueHandle&& other) noexcept
      : value_(other.release()), closer_(std::move(other.closer_)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = other.release();
      closer_ = std::move(other.closer_);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  std::intptr_t get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Closer::invalid; }

  /// Gives the handle up without closing it.
  std::intptr_t release() noexcept { return std::exchange(value_, Closer::invalid); }

  /// Closes the handle held, if any, and holds `value` instead.
  void reset(std::intptr_t value = Closer::invalid) noexcept {
    const std::intptr_t old = std::exchange(value_, value);
    if (old != Closer::invalid) {
      closer_.close(old);
    }
  }

  Closer& closer() noexcept { return closer_; }
  const Closer& closer() const noexcept { return closer_; }

 private:
  std::intptr_t value_ = Closer::invalid;
  [[no_unique_address]] Closer closer_;
};

/// A file descriptor (POSIX) or a HANDLE (Windows), closed with close or
/// CloseHandle; -1 (INVALID_HANDLE_VALUE) is none.
struct SystemHandle {
  static constexpr std::intptr_t invalid = -1;
  static void close(std::intptr_t handle);
};

}  // namespace vellumo::platform
