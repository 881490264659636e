// The one error type of the numerical core. Every fallible core function returns
// std::expected<T, KrelmError>; the bindings turn it into a Python exception once.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <variant>

namespace krelm {

struct InvalidParameter {
  std::string message;
};
struct SingularSystem {
  std::string message;
};
struct NotConverged {
  std::uint64_t iters = 0;
  double grad_norm = 0.0;
};
struct Linalg {
  std::string message;
};

/// A core failure. The variant order is part of the contract (display texts depend on it).
struct KrelmError {
  std::variant<InvalidParameter, SingularSystem, NotConverged, Linalg> value;

  /// "invalid parameter: {message}", "singular system: {message}", ... as users see them.
  [[nodiscard]] std::string display() const;
  /// The variant name with its payload, used only inside internal-fault texts.
  [[nodiscard]] std::string debug() const;
};

[[nodiscard]] inline KrelmError invalid_parameter(std::string message) {
  return KrelmError{InvalidParameter{std::move(message)}};
}
[[nodiscard]] inline KrelmError singular_system(std::string message) {
  return KrelmError{SingularSystem{std::move(message)}};
}
[[nodiscard]] inline KrelmError linalg_error(std::string message) {
  return KrelmError{Linalg{std::move(message)}};
}
[[nodiscard]] inline KrelmError not_converged(std::uint64_t iters, double grad_norm) {
  return KrelmError{NotConverged{iters, grad_norm}};
}

template <class T>
using Expected = std::expected<T, KrelmError>;

/// The message carried by the text variants; empty for NotConverged.
[[nodiscard]] std::string error_message(const KrelmError& error);

}  // namespace krelm
