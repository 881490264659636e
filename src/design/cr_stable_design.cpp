// Stable reparametrisation of the centred cr term and the "cr_stable" design.
#include "cr_stable_design.hpp"

#include <string>
#include <utility>

#include "../linalg.hpp"
#include "cr_design.hpp"

namespace krelm {

Expected<StableReparam> StableReparam::create(const RowMatrix& inner_penalty, std::size_t m) {
  const auto order = static_cast<Eigen::Index>(m);
  if (inner_penalty.rows() != order || inner_penalty.cols() != order) {
    const std::string size = std::to_string(m);
    return std::unexpected(invalid_parameter(
        "StableReparam: inner_penalty must be (" + size + ", " + size + "); got (" +
        std::to_string(inner_penalty.rows()) + ", " + std::to_string(inner_penalty.cols()) + ")"));
  }
  auto eigen = symmetric_eigen(inner_penalty);
  if (!eigen) {
    return std::unexpected(
        linalg_error("eigh failed in StableReparam: " + error_message(eigen.error())));
  }
  // The solver gives ascending order; the design wants the largest first. Signs stay as the
  // solver chose them: V is stored with the fit, so nothing downstream depends on them.
  StableReparam reparam{RowMatrix(order, order), Vector(order)};
  for (Eigen::Index i = 0; i < order; ++i) {
    reparam.eigenvalues(i) = eigen->values(order - 1 - i);
    reparam.reparam_v.col(i) = eigen->vectors.col(order - 1 - i);
  }
  return reparam;
}

Expected<CrStableTerm> build_cr_stable_term(const MatrixRef& x, std::size_t col, std::size_t k) {
  auto term = build_cr_term(x, col, k);
  if (!term) {
    return std::unexpected(std::move(term.error()));
  }
  const auto m = static_cast<std::size_t>(term->centring.cols());
  auto reparam = StableReparam::create(term->penalty, m);
  if (!reparam) {
    return std::unexpected(std::move(reparam.error()));
  }
  const RowMatrix& v = reparam->reparam_v;
  RowMatrix basis = term->basis * v;
  const RowMatrix vt_penalty = v.transpose() * term->penalty;
  RowMatrix penalty = vt_penalty * v;
  return CrStableTerm{std::move(term->knots), std::move(term->centring),
                      std::move(reparam->reparam_v), std::move(basis), std::move(penalty)};
}

Expected<Design> build_cr_stable_design(const MatrixRef& x, std::size_t k) {
  auto term = build_cr_stable_term(x, 0, k);
  if (!term) {
    return std::unexpected(std::move(term.error()));
  }
  Predictor predictor{CrStablePredictor{std::move(term->knots), std::move(term->centring),
                                        std::move(term->reparam_v)}};
  return single_smooth_design(term->basis, term->penalty, std::move(predictor));
}

}  // namespace krelm
