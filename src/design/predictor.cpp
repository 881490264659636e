// Rebuilds a model matrix at new covariates from a stored predictor. A predictor may come
// from altered stored bytes, so every stored shape is checked before it is used.
#include "predictor.hpp"

#include <string>
#include <utility>

#include "../basis/cr_basis.hpp"
#include "design.hpp"
#include "re_design.hpp"
#include "tensor_term.hpp"

namespace krelm {

namespace {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};

std::string shape_text(Eigen::Index rows, Eigen::Index cols) {
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on a chain of operator+ here.
  std::string text = "(";
  text.append(std::to_string(rows)).append(", ").append(std::to_string(cols)).append(")");
  return text;
}

KrelmError rows_mismatch(const std::string& what, Eigen::Index expected, Eigen::Index got) {
  return invalid_parameter(what + " must have " + std::to_string(expected) + " rows; got " +
                           std::to_string(got));
}

KrelmError shape_mismatch(const std::string& what, Eigen::Index rows, Eigen::Index cols,
                          const RowMatrix& got) {
  return invalid_parameter(what + " must be " + shape_text(rows, cols) + "; got " +
                           shape_text(got.rows(), got.cols()));
}

// Single-smooth predictors read column 0.
Expected<void> require_a_column(const MatrixRef& x) {
  if (x.cols() == 0) {
    return std::unexpected(invalid_parameter("x must have at least one column; got shape " +
                                             shape_text(x.rows(), x.cols())));
  }
  return {};
}

Expected<RowMatrix> rebuild_cr(const CrPredictor& predictor, const MatrixRef& x) {
  if (auto checked = require_a_column(x); !checked) {
    return std::unexpected(std::move(checked.error()));
  }
  const auto basis = CrBasis::from_knots(predictor.knots);
  if (!basis) {
    return std::unexpected(basis.error());
  }
  const Eigen::Index k = predictor.knots.size();
  if (predictor.centring.rows() != k) {
    return std::unexpected(rows_mismatch("CrPredictor: centring", k, predictor.centring.rows()));
  }
  // Same operations as the builder, so training covariates give the training matrix exactly.
  const RowMatrix raw_basis = basis->evaluate(x.col(0));
  const RowMatrix centred = raw_basis * predictor.centring;
  return prepend_intercept(centred);
}

Expected<RowMatrix> rebuild_cr_stable(const CrStablePredictor& predictor, const MatrixRef& x) {
  if (auto checked = require_a_column(x); !checked) {
    return std::unexpected(std::move(checked.error()));
  }
  const auto basis = CrBasis::from_knots(predictor.knots);
  if (!basis) {
    return std::unexpected(basis.error());
  }
  const Eigen::Index k = predictor.knots.size();
  if (predictor.centring.rows() != k) {
    return std::unexpected(
        rows_mismatch("CrStablePredictor: centring", k, predictor.centring.rows()));
  }
  const Eigen::Index m = predictor.centring.cols();
  if (predictor.reparam_v.rows() != m || predictor.reparam_v.cols() != m) {
    return std::unexpected(
        shape_mismatch("CrStablePredictor: reparam_v", m, m, predictor.reparam_v));
  }
  const RowMatrix raw_basis = basis->evaluate(x.col(0));
  const RowMatrix centred = raw_basis * predictor.centring;
  const RowMatrix stable = centred * predictor.reparam_v;
  return prepend_intercept(stable);
}

Expected<RowMatrix> rebuild_re(const RePredictor& predictor, const MatrixRef& x) {
  if (auto checked = require_a_column(x); !checked) {
    return std::unexpected(std::move(checked.error()));
  }
  return prepend_intercept(re_indicator(predictor.levels, x.col(0)));
}

Expected<CrBasis> stored_margin(const Vector& knots, const char* name) {
  auto basis = CrBasis::from_knots(knots);
  if (!basis) {
    return std::unexpected(invalid_parameter(std::string("invalid stored ") + name + ": " +
                                             error_message(basis.error())));
  }
  return basis;
}

// A·xp for one margin, xp checked to be k × k.
Expected<RowMatrix> margin_block(const CrBasis& basis, const RowMatrix& xp, const char* name,
                                 const VectorRef& column) {
  const Eigen::Index k = basis.knots().size();
  if (xp.rows() != k || xp.cols() != k) {
    return std::unexpected(shape_mismatch(std::string("TensorPredictor: ") + name, k, k, xp));
  }
  const RowMatrix raw_basis = basis.evaluate(column);
  return RowMatrix(raw_basis * xp);
}

Expected<RowMatrix> rebuild_tensor(const TensorPredictor& predictor, const MatrixRef& x) {
  const auto width = static_cast<std::uint64_t>(x.cols());
  if (predictor.col_a >= width || predictor.col_b >= width) {
    return std::unexpected(invalid_parameter("TensorPredictor: term reads columns (" +
                                             std::to_string(predictor.col_a) + ", " +
                                             std::to_string(predictor.col_b) + ") but x has only " +
                                             std::to_string(width) + " columns"));
  }
  const auto basis_a = stored_margin(predictor.knots_a, "knots_a");
  if (!basis_a) {
    return std::unexpected(basis_a.error());
  }
  const auto basis_b = stored_margin(predictor.knots_b, "knots_b");
  if (!basis_b) {
    return std::unexpected(basis_b.error());
  }
  const Eigen::Index product_width = basis_a->knots().size() * basis_b->knots().size();
  if (predictor.centring.rows() != product_width) {
    return std::unexpected(
        rows_mismatch("TensorPredictor: centring", product_width, predictor.centring.rows()));
  }
  const auto block_a = margin_block(*basis_a, predictor.xp_a, "xp_a",
                                    x.col(static_cast<Eigen::Index>(predictor.col_a)));
  if (!block_a) {
    return std::unexpected(block_a.error());
  }
  const auto block_b = margin_block(*basis_b, predictor.xp_b, "xp_b",
                                    x.col(static_cast<Eigen::Index>(predictor.col_b)));
  if (!block_b) {
    return std::unexpected(block_b.error());
  }
  const RowMatrix product = row_tensor_product(*block_a, *block_b);
  const RowMatrix centred = product * predictor.centring;
  return prepend_intercept(centred);
}

Expected<RowMatrix> rebuild_additive(const AdditivePredictor& predictor, const MatrixRef& x);

Expected<RowMatrix> rebuild_any(const Predictor& predictor, const MatrixRef& x) {
  return std::visit(Overloaded{
                        [&](const CrPredictor& p) { return rebuild_cr(p, x); },
                        [&](const RePredictor& p) { return rebuild_re(p, x); },
                        [&](const CrStablePredictor& p) { return rebuild_cr_stable(p, x); },
                        [&](const AdditivePredictor& p) { return rebuild_additive(p, x); },
                        [&](const TensorPredictor& p) { return rebuild_tensor(p, x); },
                    },
                    predictor.value);
}

Expected<void> check_additive_lengths(const AdditivePredictor& predictor) {
  const std::size_t terms = predictor.term_predictors.size();
  const auto count_error = [&](const char* field, std::size_t got) {
    return invalid_parameter(std::string("AdditivePredictor: ") + field +
                             " must have one entry per term (" + std::to_string(terms) + "); got " +
                             std::to_string(got));
  };
  if (predictor.cols_used.size() != terms) {
    return std::unexpected(count_error("cols_used", predictor.cols_used.size()));
  }
  if (predictor.term_col_ranges.size() != terms) {
    return std::unexpected(count_error("term_col_ranges", predictor.term_col_ranges.size()));
  }
  return {};
}

// The covariates one term sees: all of x for a tensor term (it names its own columns), the
// single column it reads otherwise, as a strided n × 1 view.
Expected<MatrixRef> term_input(const Predictor& term, const std::vector<std::uint64_t>& columns,
                               std::size_t t, const MatrixRef& x) {
  const auto width = static_cast<std::uint64_t>(x.cols());
  for (const std::uint64_t column : columns) {
    if (column >= width) {
      return std::unexpected(invalid_parameter(
          "AdditivePredictor: term " + std::to_string(t) + " expects column " +
          std::to_string(column) + " but x has only " + std::to_string(width) + " columns"));
    }
  }
  if (std::holds_alternative<TensorPredictor>(term.value)) {
    return MatrixRef(x);
  }
  if (columns.empty()) {
    return std::unexpected(invalid_parameter("AdditivePredictor: term " + std::to_string(t) +
                                             " must read one column; got an empty cols_used "
                                             "entry"));
  }
  return MatrixRef(x.middleCols(static_cast<Eigen::Index>(columns.front()), 1));
}

Expected<RowMatrix> rebuild_additive(const AdditivePredictor& predictor, const MatrixRef& x) {
  if (auto checked = check_additive_lengths(predictor); !checked) {
    return std::unexpected(std::move(checked.error()));
  }
  std::vector<RowMatrix> blocks;
  blocks.reserve(predictor.term_predictors.size());
  Eigen::Index width = 1;
  for (std::size_t t = 0; t < predictor.term_predictors.size(); ++t) {
    const Predictor& term = predictor.term_predictors[t];
    const auto input = term_input(term, predictor.cols_used[t], t, x);
    if (!input) {
      return std::unexpected(input.error());
    }
    auto rebuilt = rebuild_any(term, *input);
    if (!rebuilt) {
      return std::unexpected(std::move(rebuilt.error()));
    }
    width += rebuilt->cols() - 1;
    blocks.push_back(std::move(*rebuilt));
  }
  RowMatrix model_matrix = RowMatrix::Zero(x.rows(), width);
  model_matrix.col(0).setOnes();
  Eigen::Index first = 1;
  for (const RowMatrix& block : blocks) {
    const Eigen::Index block_width = block.cols() - 1;  // without its intercept
    model_matrix.middleCols(first, block_width) = block.rightCols(block_width);
    first += block_width;
  }
  return model_matrix;
}

}  // namespace

Expected<RowMatrix> rebuild(const Predictor& predictor, const MatrixRef& x) {
  return rebuild_any(predictor, x);
}

std::size_t predictor_width(const Predictor& predictor) {
  return std::visit(
      Overloaded{
          [](const CrPredictor& p) { return static_cast<std::size_t>(p.centring.cols()) + 1; },
          [](const RePredictor& p) { return static_cast<std::size_t>(p.levels.size()) + 1; },
          [](const CrStablePredictor& p) {
            return static_cast<std::size_t>(p.reparam_v.cols()) + 1;
          },
          [](const AdditivePredictor& p) {
            std::size_t width = 1;
            for (const Predictor& term : p.term_predictors) {
              width += predictor_width(term) - 1;
            }
            return width;
          },
          [](const TensorPredictor& p) { return static_cast<std::size_t>(p.centring.cols()) + 1; },
      },
      predictor.value);
}

}  // namespace krelm
