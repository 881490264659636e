// The additive design y ~ 1 + f_1 + f_2 + …: typed term specifications, the model matrix
// [1 | C_1 | C_2 | …], one penalty per smoothing parameter and the Additive predictor.
#pragma once

#include <cstdint>
#include <variant>
#include <vector>

#include "../error.hpp"
#include "../matrix.hpp"
#include "design.hpp"

namespace krelm {

struct CrTermSpec {
  std::uint64_t col = 0;
  std::uint64_t k = 0;
};
struct CrStableTermSpec {
  std::uint64_t col = 0;
  std::uint64_t k = 0;
};
struct ReTermSpec {
  std::uint64_t col = 0;
};
struct TensorTermSpec {
  std::uint64_t col_a = 0;
  std::uint64_t col_b = 0;
  std::uint64_t k_a = 0;
  std::uint64_t k_b = 0;
};

/// One additive term, in the order "cr", "cr_stable", "re", "te".
using TermSpec = std::variant<CrTermSpec, CrStableTermSpec, ReTermSpec, TensorTermSpec>;

/// Builds every term in order and lays them out after the intercept. Penalties follow the
/// terms (two for a tensor term, margin a first). null_space_dim counts the unpenalised
/// directions: p minus, per group of penalties sharing columns, the rank of their sum.
/// Errors: InvalidParameter "Additive term {t} reads column {col} but x has only {d} columns"
/// (checked for all terms before any is built); then the first term builder's error.
[[nodiscard]] Expected<Design> build_additive_design(const MatrixRef& x,
                                                     const std::vector<TermSpec>& terms);

}  // namespace krelm
