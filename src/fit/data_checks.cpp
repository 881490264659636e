// Data checks (see the header).
#include "data_checks.hpp"

#include <cmath>
#include <string>

#include "../format.hpp"

namespace krelm {

Expected<void> check_row_count(std::size_t x_rows, std::size_t y_len) {
  if (x_rows != y_len) {
    return std::unexpected(invalid_parameter(
        "x and y must have the same number of rows; got x.nrows()=" + std::to_string(x_rows) +
        ", y.len()=" + std::to_string(y_len)));
  }
  return {};
}

Expected<void> check_weight_length(const std::optional<Vector>& weights, std::size_t x_rows) {
  if (weights && static_cast<std::size_t>(weights->size()) != x_rows) {
    return std::unexpected(invalid_parameter(
        "prior_weights length must match x rows; got weights.len()=" +
        std::to_string(weights->size()) + ", x.nrows()=" + std::to_string(x_rows)));
  }
  return {};
}

Expected<void> check_rows_and_weight_length(std::size_t x_rows, std::size_t y_len,
                                            const std::optional<Vector>& weights) {
  if (auto rows = check_row_count(x_rows, y_len); !rows) {
    return rows;
  }
  return check_weight_length(weights, x_rows);
}

Expected<void> check_response_finite(const VectorRef& y) {
  for (Eigen::Index row = 0; row < y.size(); ++row) {
    if (!std::isfinite(y(row))) {
      return std::unexpected(invalid_parameter("y must be finite; got y=" + format_float(y(row)) +
                                               " at row " + std::to_string(row)));
    }
  }
  return {};
}

Expected<void> check_weights_valid(const std::optional<Vector>& weights) {
  if (!weights) {
    return {};
  }
  for (Eigen::Index row = 0; row < weights->size(); ++row) {
    const double weight = (*weights)(row);
    if (!std::isfinite(weight) || weight < 0.0) {
      return std::unexpected(invalid_parameter(
          "weights must be finite and non-negative; got weight=" + format_float(weight) +
          " at row " + std::to_string(row)));
    }
  }
  return {};
}

Expected<void> check_covariates_finite(const MatrixRef& x, std::span<const std::size_t> columns) {
  for (const std::size_t column : columns) {
    const auto col = static_cast<Eigen::Index>(column);
    if (col >= x.cols()) {
      continue;  // the design's own column check reports it
    }
    for (Eigen::Index row = 0; row < x.rows(); ++row) {
      if (!std::isfinite(x(row, col))) {
        return std::unexpected(
            invalid_parameter("x must be finite; got x=" + format_float(x(row, col)) + " at row " +
                              std::to_string(row) + ", column " + std::to_string(column)));
      }
    }
  }
  return {};
}

Expected<void> check_has_columns(const MatrixRef& x) {
  if (x.cols() == 0) {
    return std::unexpected(invalid_parameter("x must have at least one column; got shape (" +
                                             std::to_string(x.rows()) + ", 0)"));
  }
  return {};
}

}  // namespace krelm
