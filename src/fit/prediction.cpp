// Prediction arithmetic. Interval methods never form the n × n covariance of the
// predictions: one V·x_i product per output row.
#include "prediction.hpp"

#include <array>
#include <cmath>
#include <string>

#include "../format.hpp"
#include "../internal_fault.hpp"
#include "../products.hpp"

namespace krelm {

namespace {

constexpr double tail_split = 0.02425;
constexpr std::array<double, 6> coeff_a = {-39.69683028665376, 220.9460984245205,
                                           -275.9285104469687, 138.357751867269,
                                           -30.66479806614716, 2.506628277459239};
constexpr std::array<double, 5> coeff_b = {-54.47609879822406, 161.5858368580409,
                                           -155.6989798598866, 66.80131188771972,
                                           -13.28068155288572};
constexpr std::array<double, 6> coeff_c = {-0.007784894002430293, -0.3223964580411365,
                                           -2.400758277161838,    -2.549732539343734,
                                           4.374664141464968,     2.938163982698783};
constexpr std::array<double, 4> coeff_d = {0.007784695709041462, 0.3224671290700398,
                                           2.445134137142996, 3.754408661907416};

double tail_ratio(double q) {
  const auto& c = coeff_c;
  const auto& d = coeff_d;
  return (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
         ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1.0);
}

// √max(q, 0), where a NaN variance gives a zero half-width.
double standard_error(double variance) { return variance > 0.0 ? std::sqrt(variance) : 0.0; }

}  // namespace

double normal_quantile(double p) {
  if (!(p > 0.0 && p < 1.0)) {
    internal_fault("normal_quantile: p must be in (0,1), got " + format_float(p));
  }
  if (p < tail_split) {
    return tail_ratio(std::sqrt(-2.0 * std::log(p)));
  }
  if (p <= 1.0 - tail_split) {
    const double q = p - 0.5;
    const double r = q * q;
    const auto& a = coeff_a;
    const auto& b = coeff_b;
    return (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
           (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1.0);
  }
  return -tail_ratio(std::sqrt(-2.0 * std::log(1.0 - p)));
}

Vector apply_inverse_link(LinkKind link, const Vector& eta) {
  switch (link) {
    case LinkKind::Identity:
      return eta;
    case LinkKind::Log:
      return eta.unaryExpr([](double v) { return std::exp(v); });
    case LinkKind::Logit: {
      Vector mu(eta.size());
      for (Eigen::Index i = 0; i < eta.size(); ++i) {
        if (eta(i) >= 0.0) {
          mu(i) = 1.0 / (1.0 + std::exp(-eta(i)));
        } else {
          const double e = std::exp(eta(i));
          mu(i) = e / (1.0 + e);
        }
      }
      return mu;
    }
  }
  return eta;
}

Expected<double> interval_quantile(double level) {
  if (!(level > 0.0 && level < 1.0) || !((level + 1.0) * 0.5 < 1.0)) {
    return std::unexpected(
        invalid_parameter("level must be in (0, 1); got level=" + format_float(level)));
  }
  return normal_quantile((level + 1.0) * 0.5);
}

Interval linear_predictor_interval(const RowMatrix& lpmatrix, const Vector& beta,
                                   const RowMatrix& vcov, double z) {
  const auto n = lpmatrix.rows();
  Interval result{design_times(lpmatrix, beta), Vector(n), Vector(n)};
  Vector v(beta.size());
  for (Eigen::Index i = 0; i < n; ++i) {
    v.noalias() = vcov * lpmatrix.row(i).transpose();
    const double se = standard_error(lpmatrix.row(i).dot(v));
    result.lower(i) = result.centre(i) - se * z;
    result.upper(i) = se * z + result.centre(i);
  }
  return result;
}

Expected<Interval> contrast_interval(const RowMatrix& lpmatrix_a, const RowMatrix& lpmatrix_b,
                                     const Vector& beta, const RowMatrix& vcov, double z) {
  if (lpmatrix_a.cols() != lpmatrix_b.cols()) {
    return std::unexpected(invalid_parameter(
        "predict_diff: design width mismatch (a=" + std::to_string(lpmatrix_a.cols()) +
        ", b=" + std::to_string(lpmatrix_b.cols()) + ")"));
  }
  const auto n_a = lpmatrix_a.rows();
  const auto n_b = lpmatrix_b.rows();
  Eigen::Index n_out = 0;
  if (n_a == n_b) {
    n_out = n_a;
  } else if (n_a == 1) {
    n_out = n_b;
  } else if (n_b == 1) {
    n_out = n_a;
  } else {
    return std::unexpected(invalid_parameter(
        "predict_diff: row counts must match or one must be 1 (broadcast); got a=" +
        std::to_string(n_a) + ", b=" + std::to_string(n_b)));
  }
  Interval result{Vector(n_out), Vector(n_out), Vector(n_out)};
  Vector difference(beta.size());
  Vector v(beta.size());
  for (Eigen::Index i = 0; i < n_out; ++i) {
    const Eigen::Index a = n_a == 1 ? 0 : i;
    const Eigen::Index b = n_b == 1 ? 0 : i;
    difference = lpmatrix_a.row(a).transpose() - lpmatrix_b.row(b).transpose();
    result.centre(i) = difference.dot(beta);
    v.noalias() = vcov * difference;
    const double se = standard_error(difference.dot(v));
    result.lower(i) = result.centre(i) - se * z;
    result.upper(i) = se * z + result.centre(i);
  }
  return result;
}

}  // namespace krelm
