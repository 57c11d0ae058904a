// How the code above the serial component says that something failed in a
// way that can be expected (a file that cannot be read, a wrong option, a
// record file that is a folder): it returns a Result, which holds either its
// value or a Failure, the failure's kind and the words the user reads.
// A Result must be looked at; `ok()` (or `if (result)`) says which it holds.
// Exceptions stay where a component's own interface throws (the serial
// component's EVaCommError, the controls' EInvalidOperation and
// EConvertError, the update file's EInOutError with its classic messages) and
// for programming errors.
#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace base {

// What kind of thing failed; the front ends turn it into their exit codes.
enum class FailureKind {
  kUsage,        // the options or the command given
  kFile,         // a file named by the user: the image, a log, the record file
  kInterrupted,  // the user interrupted (Ctrl-C) before anything was sent
  kBusy,         // a file another program holds, when the wait for it was ended
};

struct Failure {
  FailureKind kind = FailureKind::kFile;
  std::string text;
};

inline Failure UsageFailure(std::string text) { return {FailureKind::kUsage, std::move(text)}; }
inline Failure FileFailure(std::string text) { return {FailureKind::kFile, std::move(text)}; }

// Either a T or an E (a Failure unless another type says more, as a load's
// outcome does).
template <class T, class E = Failure>
class [[nodiscard]] Result {
 public:
  Result(T value) : held_(std::in_place_index<0>, std::move(value)) {}
  Result(E error) : held_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return held_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() {
    assert(ok());
    return std::get<0>(held_);
  }
  const T& value() const {
    assert(ok());
    return std::get<0>(held_);
  }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const E& error() const {
    assert(!ok());
    return std::get<1>(held_);
  }

 private:
  std::variant<T, E> held_;
};

// Success that carries nothing: `return {};`, or the failure.
template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  Result(E error) : error_(std::move(error)), failed_(true) {}

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const E& error() const {
    assert(failed_);
    return error_;
  }

 private:
  E error_{};
  bool failed_ = false;
};

using Status = Result<void>;

}  // namespace base
