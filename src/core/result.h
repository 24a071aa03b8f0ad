#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace vellumo {

/// What went wrong, as far as the exit code is concerned.
enum class ErrorKind {
  Usage,       ///< the command line is wrong (exit code 2, with a hint line)
  NotRunning,  ///< the app is not running or cannot be reached (exit code 3)
  Failed,      ///< the command was understood but failed (exit code 1)
};

/// The one error value of the program. It travels back to the entry, which
/// alone prints it. The message is UTF-8, one line, without a line feed.
struct CliError {
  ErrorKind kind;
  std::string message;
  /// Reported by the exit code alone: nobody is left to read a message
  /// (the reader of our output went away).
  bool quiet = false;

  static CliError usage(std::string message) { return {ErrorKind::Usage, std::move(message)}; }
  static CliError not_running(std::string message) {
    return {ErrorKind::NotRunning, std::move(message)};
  }
  static CliError failed(std::string message) { return {ErrorKind::Failed, std::move(message)}; }
  static CliError quiet_failure() { return {ErrorKind::Failed, {}, true}; }

  friend bool operator==(const CliError&, const CliError&) = default;
};

/// The exit code of an error of `kind`; success is 0.
constexpr int exit_code(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Usage:
      return 2;
    case ErrorKind::NotRunning:
      return 3;
    case ErrorKind::Failed:
      return 1;
  }
  return 1;
}

/// Marks a value as the error of a Result, where the value and error types
/// are the same (Result<std::string, std::string>): `return Err{text};`.
template <class E>
struct Err {
  E error;
};
template <class E>
Err(E) -> Err<E>;

/// A value or an error. C++20 has no std::expected; this is the small part
/// of it the program needs.
template <class T, class E = CliError>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(E error)
    requires(!std::is_same_v<T, E>)
      : state_(std::in_place_index<1>, std::move(error)) {}
  template <class F>
  Result(Err<F> error) : state_(std::in_place_index<1>, std::move(error.error)) {}

  explicit operator bool() const { return state_.index() == 0; }
  bool ok() const { return state_.index() == 0; }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  E& error() & { return std::get<1>(state_); }
  const E& error() const& { return std::get<1>(state_); }
  E&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, E> state_;
};

/// Success without a value, or an error.
template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  Result(E error) : error_(std::move(error)), failed_(true) {}

  explicit operator bool() const { return !failed_; }
  bool ok() const { return !failed_; }

  E& error() & { return error_; }
  const E& error() const& { return error_; }
  E&& error() && { return std::move(error_); }

 private:
  E error_{};
  bool failed_ = false;
};

using Status = Result<void>;

}  // namespace vellumo

#define VELLUMO_CONCAT_INNER(a, b) a##b
#define VELLUMO_CONCAT(a, b) VELLUMO_CONCAT_INNER(a, b)

/// Evaluates `expr` (a Result); on error returns the error from the calling
/// function, otherwise assigns the value to `decl`, as in
/// `TRY(auto reply, send(request));`.
#define TRY(decl, expr)                                              \
  auto VELLUMO_CONCAT(try_result_, __LINE__) = (expr);               \
  if (!VELLUMO_CONCAT(try_result_, __LINE__)) {                      \
    return std::move(VELLUMO_CONCAT(try_result_, __LINE__)).error(); \
  }                                                                  \
  decl = std::move(VELLUMO_CONCAT(try_result_, __LINE__)).value()

/// Evaluates `expr` (a Status-like Result<void>); on error returns it.
#define TRY_STATUS(expr)                     \
  do {                                       \
    auto try_status_ = (expr);               \
    if (!try_status_) {                      \
      return std::move(try_status_).error(); \
    }                                        \
  } while (false)
