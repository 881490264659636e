// Builds the tensor-product term: margins, rescaled Kronecker-expanded penalties, centring.
#include "tensor_term.hpp"

#include <string>
#include <utility>

#include "../basis/cr_basis.hpp"
#include "../internal_fault.hpp"
#include "../linalg.hpp"
#include "../transform/centring.hpp"

namespace krelm {

namespace {

// S̃_a ⊗ I_{k_b}: couples coefficients that differ only in their margin-a index.
RowMatrix expand_slow_margin(const RowMatrix& penalty_a, Eigen::Index k_b) {
  const Eigen::Index k_a = penalty_a.rows();
  RowMatrix expanded = RowMatrix::Zero(k_a * k_b, k_a * k_b);
  for (Eigen::Index i = 0; i < k_a; ++i) {
    for (Eigen::Index i_other = 0; i_other < k_a; ++i_other) {
      const double entry = penalty_a(i, i_other);
      if (entry == 0.0) {
        continue;
      }
      for (Eigen::Index j = 0; j < k_b; ++j) {
        expanded(i * k_b + j, i_other * k_b + j) = entry;
      }
    }
  }
  return expanded;
}

// I_{k_a} ⊗ S̃_b: couples coefficients that differ only in their margin-b index.
RowMatrix expand_fast_margin(const RowMatrix& penalty_b, Eigen::Index k_a) {
  const Eigen::Index k_b = penalty_b.rows();
  RowMatrix expanded = RowMatrix::Zero(k_a * k_b, k_a * k_b);
  for (Eigen::Index i = 0; i < k_a; ++i) {
    expanded.block(i * k_b, i * k_b, k_b, k_b) = penalty_b;
  }
  return expanded;
}

RowMatrix centred_penalty(const RowMatrix& centring, const RowMatrix& expanded) {
  const RowMatrix zt_penalty = centring.transpose() * expanded;
  return zt_penalty * centring;
}

}  // namespace

Expected<RowMatrix> rescale_margin_penalty(const RowMatrix& penalty) {
  const auto eigen = symmetric_eigen(penalty);
  if (!eigen) {
    return std::unexpected(
        linalg_error("eigh failed in tensor penalty rescale: " + error_message(eigen.error())));
  }
  double largest = 0.0;
  for (const double value : eigen->values) {
    if (value > largest) {  // a NaN never wins
      largest = value;
    }
  }
  if (largest > 0.0) {
    return RowMatrix(penalty / largest);
  }
  return penalty;
}

RowMatrix row_tensor_product(const RowMatrix& a, const RowMatrix& b) {
  if (a.rows() != b.rows()) {
    internal_fault("row_tensor_product: margins with different rows");
  }
  const Eigen::Index width_b = b.cols();
  RowMatrix product(a.rows(), a.cols() * width_b);
  for (Eigen::Index r = 0; r < a.rows(); ++r) {
    for (Eigen::Index i = 0; i < a.cols(); ++i) {
      for (Eigen::Index j = 0; j < width_b; ++j) {
        product(r, i * width_b + j) = a(r, i) * b(r, j);
      }
    }
  }
  return product;
}

Expected<TensorTerm> build_tensor_term(const MatrixRef& x, std::size_t col_a, std::size_t col_b,
                                       std::size_t k_a, std::size_t k_b) {
  if (col_a == col_b) {
    return std::unexpected(
        invalid_parameter("Tensor term must have distinct margin columns (got col_a == col_b == " +
                          std::to_string(col_a) + ")"));
  }
  const auto columns = static_cast<std::size_t>(x.cols());
  if (col_a >= columns || col_b >= columns) {
    internal_fault("build_tensor_term: column outside x");
  }
  const auto column_a = x.col(static_cast<Eigen::Index>(col_a));
  const auto column_b = x.col(static_cast<Eigen::Index>(col_b));
  const auto margin_a = place_knots(column_a, k_a);
  if (!margin_a) {
    return std::unexpected(margin_a.error());
  }
  const auto margin_b = place_knots(column_b, k_b);
  if (!margin_b) {
    return std::unexpected(margin_b.error());
  }
  auto penalty_a = rescale_margin_penalty(margin_a->penalty());
  if (!penalty_a) {
    return std::unexpected(std::move(penalty_a.error()));
  }
  auto penalty_b = rescale_margin_penalty(margin_b->penalty());
  if (!penalty_b) {
    return std::unexpected(std::move(penalty_b.error()));
  }
  const RowMatrix product =
      row_tensor_product(margin_a->evaluate(column_a), margin_b->evaluate(column_b));
  const Eigen::Index size_a = margin_a->knots().size();
  const Eigen::Index size_b = margin_b->knots().size();
  const RowMatrix expanded_a = expand_slow_margin(*penalty_a, size_b);
  const RowMatrix expanded_b = expand_fast_margin(*penalty_b, size_a);
  RowMatrix centring = centring_from_constraint(column_sums(product));
  TensorTerm term{product * centring, centred_penalty(centring, expanded_a),
                  centred_penalty(centring, expanded_b), TensorPredictor{}};
  term.predictor = TensorPredictor{col_a,
                                   col_b,
                                   MarginBasis::Cr,
                                   MarginBasis::Cr,
                                   margin_a->knots(),
                                   margin_b->knots(),
                                   RowMatrix::Identity(size_a, size_a),
                                   RowMatrix::Identity(size_b, size_b),
                                   std::move(centring)};
  return term;
}

}  // namespace krelm
