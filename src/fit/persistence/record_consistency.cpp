// Shape and length checks of a decoded FittedGam.
#include "record_consistency.hpp"

#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

namespace krelm {

namespace {

using Width = Expected<std::uint64_t>;

std::string count_text(Eigen::Index count) { return std::to_string(count); }

std::string entries_text(Eigen::Index count) {
  return count_text(count) + (count == 1 ? " entry" : " entries");
}

std::string shape_text(Eigen::Index rows, Eigen::Index cols) {
  return count_text(rows) + " × " + count_text(cols);
}

std::unexpected<KrelmError> inconsistent(std::string what) {
  return std::unexpected(invalid_parameter(std::move(what)));
}

// Passes when `matrix` is rows × cols; otherwise says what `name` is and what `reason` needs.
Expected<void> require_shape(const RowMatrix& matrix, Eigen::Index rows, Eigen::Index cols,
                             std::string_view name, std::string_view reason) {
  if (matrix.rows() == rows && matrix.cols() == cols) {
    return {};
  }
  return inconsistent(std::string(name) + " is " + shape_text(matrix.rows(), matrix.cols()) +
                      " but " + std::string(reason) + " need " + shape_text(rows, cols));
}

Expected<void> require_knots(const Vector& knots, std::string_view name) {
  if (knots.size() >= 3) {
    return {};
  }
  return inconsistent(std::string(name) + " has " + entries_text(knots.size()) +
                      "; at least 3 are needed");
}

// w = k − 1: the centred basis drops one column of the k knot values.
Width cr_width(const Vector& knots, const RowMatrix& centring, std::string_view kind) {
  const std::string prefix(kind);
  if (auto valid = require_knots(knots, prefix + " knots"); !valid) {
    return std::unexpected(std::move(valid.error()));
  }
  const Eigen::Index k = knots.size();
  if (auto valid =
          require_shape(centring, k, k - 1, prefix + " centring", count_text(k) + " knots");
      !valid) {
    return std::unexpected(std::move(valid.error()));
  }
  return static_cast<std::uint64_t>(k - 1);
}

Width payload_width(const CrPredictor& cr) { return cr_width(cr.knots, cr.centring, "cr"); }

Width payload_width(const RePredictor& re) { return static_cast<std::uint64_t>(re.levels.size()); }

Width payload_width(const CrStablePredictor& stable) {
  auto width = cr_width(stable.knots, stable.centring, "cr_stable");
  if (!width) {
    return width;
  }
  const auto w = static_cast<Eigen::Index>(*width);
  if (auto valid = require_shape(stable.reparam_v, w, w, "cr_stable reparam_v",
                                 count_text(stable.knots.size()) + " knots");
      !valid) {
    return std::unexpected(std::move(valid.error()));
  }
  return width;
}

Width payload_width(const TensorPredictor& tensor) {
  for (const auto& [knots, xp, name] :
       {std::tuple(&tensor.knots_a, &tensor.xp_a, std::string_view("a")),
        std::tuple(&tensor.knots_b, &tensor.xp_b, std::string_view("b"))}) {
    const std::string suffix(name);
    if (auto valid = require_knots(*knots, "tensor knots_" + suffix); !valid) {
      return std::unexpected(std::move(valid.error()));
    }
    const Eigen::Index k = knots->size();
    if (auto valid =
            require_shape(*xp, k, k, "tensor xp_" + suffix, count_text(k) + " knots_" + suffix);
        !valid) {
      return std::unexpected(std::move(valid.error()));
    }
  }
  const Eigen::Index k_a = tensor.knots_a.size();
  const Eigen::Index k_b = tensor.knots_b.size();
  // Both extents are element counts of vectors in memory, far below the square root of
  // the index range, so the product cannot overflow.
  const Eigen::Index columns = k_a * k_b;
  if (auto valid = require_shape(tensor.centring, columns, columns - 1, "tensor centring",
                                 shape_text(k_a, k_b) + " margin knots");
      !valid) {
    return std::unexpected(std::move(valid.error()));
  }
  return static_cast<std::uint64_t>(columns - 1);
}

Width payload_width(const AdditivePredictor& additive);

Width term_width(const Predictor& term) {
  return std::visit([](const auto& payload) { return payload_width(payload); }, term.value);
}

std::string column_list_text(const std::vector<std::uint64_t>& columns) {
  std::string text = "[";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    text += (i == 0 ? "" : ", ") + std::to_string(columns[i]);
  }
  return text + "]";
}

// A tensor term reads [col_a, col_b]; every other term reads exactly one column.
Expected<void> check_term_columns(const Predictor& term, const std::vector<std::uint64_t>& columns,
                                  const std::string& term_name) {
  if (const auto* tensor = std::get_if<TensorPredictor>(&term.value)) {
    if (columns.size() == 2 && columns[0] == tensor->col_a && columns[1] == tensor->col_b) {
      return {};
    }
    return inconsistent(term_name + " is a tensor on columns (" + std::to_string(tensor->col_a) +
                        ", " + std::to_string(tensor->col_b) + ") but its cols_used is " +
                        column_list_text(columns));
  }
  if (columns.size() == 1) {
    return {};
  }
  return inconsistent(term_name + " reads one column but its cols_used is " +
                      column_list_text(columns));
}

Width payload_width(const AdditivePredictor& additive) {
  const std::size_t terms = additive.term_predictors.size();
  if (additive.cols_used.size() != terms || additive.term_col_ranges.size() != terms) {
    return inconsistent("additive has " + std::to_string(terms) + " term predictors, " +
                        std::to_string(additive.cols_used.size()) + " cols_used entries and " +
                        std::to_string(additive.term_col_ranges.size()) + " term_col_ranges");
  }
  // Blocks sit one after the other from column 1, right after the intercept.
  std::uint64_t next_column = 1;
  for (std::size_t t = 0; t < terms; ++t) {
    const Predictor& term = additive.term_predictors[t];
    const std::string term_name = "additive term " + std::to_string(t);
    if (std::holds_alternative<AdditivePredictor>(term.value)) {
      return inconsistent(term_name + " is itself additive");
    }
    auto width = term_width(term);
    if (!width) {
      return width;
    }
    if (auto columns = check_term_columns(term, additive.cols_used[t], term_name); !columns) {
      return std::unexpected(std::move(columns.error()));
    }
    const auto [first, last_exclusive] = additive.term_col_ranges[t];
    if (first != next_column || last_exclusive < first || last_exclusive - first != *width) {
      return inconsistent(term_name + " has column range [" + std::to_string(first) + ", " +
                          std::to_string(last_exclusive) + ") but its " + std::to_string(*width) +
                          " columns start at " + std::to_string(next_column));
    }
    next_column = last_exclusive;
  }
  return next_column - 1;
}

}  // namespace

Expected<std::uint64_t> consistent_predictor_width(const Predictor& predictor) {
  auto width = term_width(predictor);
  if (!width) {
    return width;
  }
  return *width + 1;
}

Expected<void> check_record_consistency(const FittedGam& fit) {
  auto checked = [&fit]() -> Expected<void> {
    const Eigen::Index p = fit.beta.size();
    if (fit.vcov.rows() != p || fit.vcov.cols() != p) {
      return inconsistent("beta has " + entries_text(p) + " but vcov is " +
                          shape_text(fit.vcov.rows(), fit.vcov.cols()));
    }
    const Eigen::Index m = fit.rho.size();
    for (const auto& [vector, name] :
         {std::pair(&fit.lambda, "lambda"), std::pair(&fit.edf_per_term, "edf_per_term")}) {
      if (vector->size() != m) {
        return inconsistent("rho has " + entries_text(m) + " but " + name + " has " +
                            entries_text(vector->size()));
      }
    }
    auto width = consistent_predictor_width(fit.predictor);
    if (!width) {
      return std::unexpected(std::move(width.error()));
    }
    if (*width != static_cast<std::uint64_t>(p)) {
      return inconsistent("the predictor rebuilds " + std::to_string(*width) +
                          " columns but beta has " + entries_text(p));
    }
    return {};
  }();
  if (!checked) {
    return std::unexpected(invalid_parameter("FittedGam::deserialize: inconsistent record: " +
                                             error_message(checked.error())));
  }
  return {};
}

}  // namespace krelm
