// The fit result record. Owns all its data; never modified after a driver or the
// deserialiser has built it.
#pragma once

#include <cstdint>

#include "../design/predictor.hpp"
#include "../family/family.hpp"
#include "../matrix.hpp"

namespace krelm {

/// Fourteen fields in declaration order (also the order of the serialised keys).
/// Invariants: vcov is p × p with p = beta.size(); rho, lambda, edf_per_term have equal
/// lengths; the predictor rebuilds p columns.
struct FittedGam {
  Vector beta;
  Vector rho;
  Vector lambda;
  double scale = 0.0;
  double edf_total = 0.0;
  Vector edf_per_term;
  std::uint64_t n = 0;
  std::uint64_t n_iters = 0;
  bool converged = false;
  double reml_value = 0.0;
  Predictor predictor;
  RowMatrix vcov;
  LinkKind link_kind = LinkKind::Identity;
  Vector shape_params;
};

}  // namespace krelm
