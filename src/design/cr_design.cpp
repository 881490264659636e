// Builds the centred cr term (knots, scaled penalty, sum-to-zero centring) and the "cr" design.
#include "cr_design.hpp"

#include <utility>

#include "../basis/cr_basis.hpp"
#include "../internal_fault.hpp"
#include "../transform/centring.hpp"

namespace krelm {

Expected<CrTerm> build_cr_term(const MatrixRef& x, std::size_t col, std::size_t k) {
  if (col >= static_cast<std::size_t>(x.cols())) {
    internal_fault("build_cr_term: column outside x");
  }
  const auto column = x.col(static_cast<Eigen::Index>(col));
  auto basis = place_knots(column, k);
  if (!basis) {
    return std::unexpected(std::move(basis.error()));
  }
  const RowMatrix raw_basis = basis->evaluate(column);
  const RowMatrix scaled_penalty = scale_penalty(raw_basis, basis->penalty());
  RowMatrix centring = centring_from_constraint(column_sums(raw_basis));
  RowMatrix centred_basis = raw_basis * centring;
  const RowMatrix zt_penalty = centring.transpose() * scaled_penalty;
  RowMatrix centred_penalty = zt_penalty * centring;
  return CrTerm{basis->knots(), std::move(centring), std::move(centred_basis),
                std::move(centred_penalty)};
}

Expected<Design> build_cr_design(const MatrixRef& x, std::size_t k) {
  auto term = build_cr_term(x, 0, k);
  if (!term) {
    return std::unexpected(std::move(term.error()));
  }
  Predictor predictor{CrPredictor{std::move(term->knots), std::move(term->centring)}};
  return single_smooth_design(term->basis, term->penalty, std::move(predictor));
}

}  // namespace krelm
