#pragma once
// A value or one message text: how listener operations report failure.

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace ombri {

struct ErrorText {
  std::string text;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(ErrorText failure) : state_(std::in_place_index<1>, std::move(failure.text)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const std::string& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, std::string> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(ErrorText failure) : error_(std::move(failure.text)) {}

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }
  const std::string& error() const { return *error_; }

 private:
  std::optional<std::string> error_;
};

}  // namespace ombri
