// Tweedie shape decoding, the Dunn–Smyth series for the saturated density and the
// analytic shape gradient. Every series sum is shifted by its largest term e before
// exponentiating, so it never overflows, and stops once terms fall 104·ln 2 below e:
// such terms no longer change a double sum.
#include "tweedie.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "glm_family.hpp"
#include "guards.hpp"
#include "special_functions.hpp"

namespace krelm {
namespace {

/// The series divides by φ; below this it is meaningless.
constexpr double series_phi_floor = 1e-12;
/// 104·ln 2: terms smaller than 2⁻¹⁰⁴ times the largest are dropped.
constexpr double truncation_gap = 72.0873067782343;
/// The density's upward walk ends at the latest with the term j₀ + 1001.
constexpr std::uint64_t density_upward_extent = 1001;
/// The gradient's upward walk ends at the latest with this term.
constexpr std::uint64_t gradient_last_index = 10'000'000;
/// Terms cached beyond the largest start index of the data.
constexpr std::uint64_t cache_margin = 64;
/// The term cache never holds more than this many entries; terms beyond are computed on
/// the fly with the same formula, so the cap changes speed only, never results.
constexpr std::uint64_t cache_capacity = std::uint64_t{1} << 18;

constexpr std::uint64_t largest_index = std::numeric_limits<std::uint64_t>::max();

/// The y-independent constants of the series at (p, φ′).
struct SeriesConstants {
  double power;
  double phi;             ///< φ′ = max(φ, 1e-12)
  double alpha;           ///< α = (2 − p)/(1 − p) < 0
  double c;               ///< log φ′/(1 − p) + α·log(p − 1) − log(2 − p)
  double one_minus_p_sq;  ///< (1 − p)², which is 1/(∂α/∂p)

  SeriesConstants(double p, double phi_floored)
      : power(p),
        phi(phi_floored),
        alpha((2.0 - p) / (1.0 - p)),
        c(std::log(phi_floored) / (1.0 - p) + alpha * std::log(p - 1.0) - std::log(2.0 - p)),
        one_minus_p_sq((1.0 - p) * (1.0 - p)) {}

  /// ∂c/∂p = (log(p − 1) + log φ′)/(1 − p)² − α/(1 − p) + 1/(2 − p).
  [[nodiscard]] double c_power_derivative() const {
    return (std::log(power - 1.0) + std::log(phi)) / one_minus_p_sq - alpha / (1.0 - power) +
           1.0 / (2.0 - power);
  }

  /// L_j = c·j − lnΓ(j + 1) − lnΓ(−jα): log W_j without its y-dependent part.
  [[nodiscard]] double log_term_base(std::uint64_t j) const {
    const auto index = static_cast<double>(j);
    return c * index - ln_gamma(index + 1.0) - ln_gamma(-index * alpha);
  }
};

/// Saturating float-to-index conversion: NaN and negatives give 0, overflow the largest.
std::uint64_t saturating_index(double value) {
  if (!(value > 0.0)) {
    return 0;
  }
  if (value >= 18446744073709551616.0) {  // 2⁶⁴
    return largest_index;
  }
  return static_cast<std::uint64_t>(value);
}

/// ⌊y^{2−p}/((2 − p)φ′)⌋ saturated; the series' largest term sits near it.
std::uint64_t start_index_floor(double power, double phi, double y) {
  return saturating_index(std::floor(std::pow(y, 2.0 - power) / ((2.0 - power) * phi)));
}

std::uint64_t start_index(double power, double phi, double y) {
  return std::max<std::uint64_t>(1, start_index_floor(power, phi, y));
}

/// L_j and G_j = ∂L_j/∂p, cached for j below a bound and filled on first use.
class SeriesTermCache {
 public:
  SeriesTermCache(const SeriesConstants& constants, std::uint64_t bound)
      : constants_(constants),
        c_power_derivative_(constants.c_power_derivative()),
        base_(static_cast<std::size_t>(std::min(bound, cache_capacity)) + 1,
              std::numeric_limits<double>::quiet_NaN()),
        power_derivative_(base_.size(), 0.0) {}

  struct Term {
    double base;              ///< L_j
    double power_derivative;  ///< G_j
  };

  Term at(std::uint64_t j) {
    if (j >= base_.size()) {
      return compute(j);
    }
    const auto slot = static_cast<std::size_t>(j);
    if (std::isnan(base_[slot])) {
      const Term term = compute(j);
      base_[slot] = term.base;
      power_derivative_[slot] = term.power_derivative;
      return term;
    }
    return {base_[slot], power_derivative_[slot]};
  }

 private:
  // G_j = j·∂c/∂p + j·ψ(−jα)/(1 − p)², since ∂α/∂p = 1/(1 − p)².
  [[nodiscard]] Term compute(std::uint64_t j) const {
    const auto index = static_cast<double>(j);
    return {constants_.log_term_base(j),
            index * c_power_derivative_ +
                index * digamma(-index * constants_.alpha) / constants_.one_minus_p_sq};
  }

  SeriesConstants constants_;
  double c_power_derivative_;
  std::vector<double> base_;  // NaN marks an entry not computed yet
  std::vector<double> power_derivative_;
};

/// q = ∂log W/∂log φ and r = ∂log W/∂p of one y > 0, from the weighted sums
/// S₀ = Σ H_j, S₁ = Σ j·H_j, Sp = Σ H_j·∂log W_j/∂p with H_j = exp(log W_j − e).
TweedieSeriesDerivatives walk_series_derivatives(const SeriesConstants& constants,
                                                 SeriesTermCache& cache, double y) {
  const double log_y = std::log(y);
  const auto log_term = [&](std::uint64_t j, double base) {
    return base - static_cast<double>(j) * constants.alpha * log_y;
  };
  const std::uint64_t start = start_index(constants.power, constants.phi, y);
  const double largest = log_term(start, cache.at(start).base);
  const double threshold = largest - truncation_gap;
  double sum = 0.0;
  double index_sum = 0.0;
  double power_sum = 0.0;
  // Adds term j; true once the term has fallen below the truncation threshold.
  const auto add_term = [&](std::uint64_t j) {
    const auto [base, power_derivative] = cache.at(j);
    const auto index = static_cast<double>(j);
    const double log_w = log_term(j, base);
    const double h = std::exp(log_w - largest);
    sum += h;
    index_sum += index * h;
    power_sum += h * (power_derivative - index * log_y / constants.one_minus_p_sq);
    return log_w < threshold;
  };
  for (std::uint64_t j = start;; ++j) {
    if (add_term(j) || j >= gradient_last_index) {
      break;
    }
  }
  for (std::uint64_t j = start - 1; j >= 1; --j) {
    if (add_term(j)) {
      break;
    }
  }
  return {index_sum / ((1.0 - constants.power) * sum), power_sum / sum};
}

/// ∂d(y, μ)/∂p of the unit deviance; the y-terms are 0 for y ≤ 0.
double deviance_power_derivative(double y, double mu, double power) {
  const double m = floor_at(mu, mean_floor);
  const double log_m = std::log(m);
  const double one_minus_p = 1.0 - power;
  const double two_minus_p = 2.0 - power;
  const double m_two_minus_p = std::pow(m, two_minus_p);
  double y_two_minus_p = 0.0;
  double y_two_minus_p_log_y = 0.0;
  double y_m_one_minus_p = 0.0;
  if (y > 0.0) {
    y_two_minus_p = std::pow(y, two_minus_p);
    y_two_minus_p_log_y = y_two_minus_p * std::log(y);
    y_m_one_minus_p = y * std::pow(m, one_minus_p);
  }
  return 2.0 * ((log_m * y_m_one_minus_p - y_two_minus_p_log_y) / one_minus_p +
                (y_two_minus_p_log_y - log_m * m_two_minus_p) / two_minus_p +
                (y_two_minus_p - y_m_one_minus_p) / (one_minus_p * one_minus_p) -
                (y_two_minus_p - m_two_minus_p) / (two_minus_p * two_minus_p));
}

}  // namespace

TweedieParams tweedie_params_from(double log_phi, double power_logit) {
  const double raw_power = 1.0 + 1.0 / (1.0 + std::exp(-power_logit));
  return {floor_at(std::exp(log_phi), tweedie_phi_floor),
          ceiling_at(floor_at(raw_power, tweedie_power_min), tweedie_power_max)};
}

double tweedie_power_chain_factor(double power) { return (power - 1.0) * (2.0 - power); }

double tweedie_log_series(double power, double phi, double y) {
  const SeriesConstants constants(power, floor_at(phi, series_phi_floor));
  const double log_y = std::log(y);
  // log W_j = c·j − lnΓ(j + 1) − lnΓ(−jα) − j·α·log y
  const auto log_term = [&](std::uint64_t j) {
    return constants.log_term_base(j) - static_cast<double>(j) * constants.alpha * log_y;
  };
  const std::uint64_t start_floor = start_index_floor(power, constants.phi, y);
  const std::uint64_t start = std::max<std::uint64_t>(1, start_floor);
  const double largest = log_term(start);
  const double threshold = largest - truncation_gap;
  double sum = 0.0;
  for (std::uint64_t j = start;; ++j) {
    const double log_w = log_term(j);
    sum += std::exp(log_w - largest);
    if (log_w < threshold || j - start >= density_upward_extent || j == largest_index) {
      break;
    }
  }
  if (start_floor >= 2) {
    for (std::uint64_t j = start - 1; j >= 1; --j) {
      const double log_w = log_term(j);
      sum += std::exp(log_w - largest);
      if (log_w < threshold) {
        break;
      }
    }
  }
  return largest + std::log(sum);
}

double tweedie_log_density_saturated(double power, double phi, double y) {
  if (y <= 0.0) {
    return 0.0;
  }
  const double phi_floored = floor_at(phi, series_phi_floor);
  const double t = std::pow(y, 2.0 - power) / ((1.0 - power) * (2.0 - power) * phi_floored);
  if (power <= 1.0 || power >= 2.0) {
    return t - std::log(y);
  }
  return t - std::log(y) + tweedie_log_series(power, phi, y);
}

TweedieSeriesDerivatives tweedie_series_derivatives(double power, double phi, double y) {
  const SeriesConstants constants(power, floor_at(phi, series_phi_floor));
  SeriesTermCache cache(constants, 0);
  return walk_series_derivatives(constants, cache, y);
}

std::array<double, 2> tweedie_shape_gradient(const Vector& y, const Vector& mu, double p,
                                             double phi, double penalised_deviance, double m) {
  const double phi_floored = floor_at(phi, series_phi_floor);
  const SeriesConstants constants(p, phi_floored);
  std::uint64_t largest_start = 1;
  for (Eigen::Index i = 0; i < y.size(); ++i) {
    if (y[i] > 0.0) {
      largest_start = std::max(largest_start, start_index(p, phi_floored, y[i]));
    }
  }
  const std::uint64_t cache_bound =
      largest_start > largest_index - cache_margin ? largest_index : largest_start + cache_margin;
  SeriesTermCache cache(constants, cache_bound);

  const double one_minus_p = 1.0 - p;
  const double two_minus_p = 2.0 - p;
  double saturated_sum = 0.0;        // A = Σ T_i
  double saturated_power_sum = 0.0;  // B = Σ ∂T_i/∂p
  double series_log_phi_sum = 0.0;   // Σ q_i
  double series_power_sum = 0.0;     // Σ r_i
  double deviance_power_sum = 0.0;   // ∂D/∂p, unweighted
  for (Eigen::Index i = 0; i < y.size(); ++i) {
    const double yi = y[i];
    if (yi > 0.0) {
      const double y_two_minus_p = std::pow(yi, two_minus_p);
      saturated_sum += y_two_minus_p / (one_minus_p * two_minus_p * phi_floored);
      saturated_power_sum +=
          y_two_minus_p *
          (1.0 / (one_minus_p * one_minus_p) - 1.0 / (two_minus_p * two_minus_p) -
           std::log(yi) / (one_minus_p * two_minus_p)) /
          phi_floored;
      const TweedieSeriesDerivatives series = walk_series_derivatives(constants, cache, yi);
      series_log_phi_sum += series.d_log_phi;
      series_power_sum += series.d_power;
    }
    deviance_power_sum += deviance_power_derivative(yi, mu[i], p);
  }
  const auto n = static_cast<double>(y.size());
  const double log_phi_component =
      saturated_sum - 0.5 * (n - m) - penalised_deviance / (2.0 * phi_floored) - series_log_phi_sum;
  const double power_component =
      tweedie_power_chain_factor(p) *
      (deviance_power_sum / (2.0 * phi_floored) - saturated_power_sum - series_power_sum);
  return {log_phi_component, power_component};
}

}  // namespace krelm
