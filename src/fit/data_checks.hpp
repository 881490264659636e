// Data checks the drivers make before any fitting, with the messages users see.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "../error.hpp"
#include "../matrix.hpp"

namespace krelm {

/// "x and y must have the same number of rows; got x.nrows()={x_rows}, y.len()={y_len}".
[[nodiscard]] Expected<void> check_row_count(std::size_t x_rows, std::size_t y_len);

/// "prior_weights length must match x rows; got weights.len()={w_len}, x.nrows()={x_rows}".
[[nodiscard]] Expected<void> check_weight_length(const std::optional<Vector>& weights,
                                                 std::size_t x_rows);

/// The two checks every driver makes first: rows of x against y, then the weight length.
[[nodiscard]] Expected<void> check_rows_and_weight_length(std::size_t x_rows, std::size_t y_len,
                                                          const std::optional<Vector>& weights);

/// Refuses NaN or infinite responses: "y must be finite; got y={y} at row {row}".
[[nodiscard]] Expected<void> check_response_finite(const VectorRef& y);

/// "weights must be finite and non-negative; got weight={w} at row {row}".
[[nodiscard]] Expected<void> check_weights_valid(const std::optional<Vector>& weights);

/// Refuses a non-finite covariate in the given columns, scanning each column from row 0:
/// "x must be finite; got x={v} at row {row}, column {col}".
[[nodiscard]] Expected<void> check_covariates_finite(const MatrixRef& x,
                                                     std::span<const std::size_t> columns);

/// "x must have at least one column; got shape ({n}, 0)".
[[nodiscard]] Expected<void> check_has_columns(const MatrixRef& x);

}  // namespace krelm
