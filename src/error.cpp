// Display and debug texts of KrelmError.
#include "error.hpp"

#include "format.hpp"

namespace krelm {

namespace {
template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
}  // namespace

std::string KrelmError::display() const {
  return std::visit(
      Overloaded{
          [](const InvalidParameter& e) { return "invalid parameter: " + e.message; },
          [](const SingularSystem& e) { return "singular system: " + e.message; },
          [](const NotConverged& e) {
            return "solver did not converge after " + std::to_string(e.iters) +
                   " iterations (last grad norm = " + format_scientific3(e.grad_norm) + ")";
          },
          [](const Linalg& e) { return "linalg failure: " + e.message; },
      },
      value);
}

std::string KrelmError::debug() const {
  return std::visit(
      Overloaded{
          [](const InvalidParameter& e) { return "InvalidParameter(\"" + e.message + "\")"; },
          [](const SingularSystem& e) { return "SingularSystem(\"" + e.message + "\")"; },
          [](const NotConverged& e) {
            return "NotConverged { iters: " + std::to_string(e.iters) +
                   ", grad_norm: " + format_float(e.grad_norm) + " }";
          },
          [](const Linalg& e) { return "Linalg(\"" + e.message + "\")"; },
      },
      value);
}

std::string error_message(const KrelmError& error) {
  return std::visit(Overloaded{
                        [](const InvalidParameter& e) { return e.message; },
                        [](const SingularSystem& e) { return e.message; },
                        [](const NotConverged&) { return std::string(); },
                        [](const Linalg& e) { return e.message; },
                    },
                    error.value);
}

}  // namespace krelm
