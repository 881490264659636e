// Ordered categorical cut points, probabilities and deviance derivatives. The category
// probability is a difference of two logistic values; each case below is written so
// that no digits cancel, whichever side of zero the two arguments fall.
#include "ocat.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "../internal_fault.hpp"
#include "guards.hpp"

namespace krelm {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

/// The interval (a, b] = (c_{k−1} − η, c_k − η] of the latent variable for y's category.
struct LatentInterval {
  double lower;
  double upper;
};

LatentInterval latent_interval(double y, double eta, const Vector& cut_points) {
  const std::size_t n_cats = static_cast<std::size_t>(cut_points.size()) - 1;
  const auto k = static_cast<Eigen::Index>(ocat_category(y, n_cats));
  return {cut_points[k - 1] - eta, cut_points[k] - eta};
}

/// F(b) − F(a) for the logistic F, floored at the smallest normal double.
double interval_probability(double a, double b) {
  double probability = 0.0;
  const bool lower_open = a == -infinity;
  const bool upper_open = b == infinity;
  if (lower_open && upper_open) {
    probability = 1.0;
  } else if (lower_open) {
    probability = 1.0 / (1.0 + std::exp(-b));
  } else if (upper_open) {
    probability = 1.0 / (1.0 + std::exp(a));
  } else {
    const double ea = std::exp(-std::abs(a));
    const double eb = std::exp(-std::abs(b));
    if (b < 0.0) {
      probability = eb / (eb + 1.0) - ea / (ea + 1.0);
    } else if (a > 0.0) {
      probability = (ea - eb) / ((ea + 1.0) * (eb + 1.0));
    } else {
      probability = (1.0 - ea * eb) / ((ea + 1.0) * (eb + 1.0));
    }
  }
  return floor_at(probability, ocat_probability_floor);
}

/// f(t) = F′(t) = v/(1 + v)² with v = e^{−|t|}; 0 at ±∞.
double logistic_density(double t) {
  if (std::isinf(t)) {
    return 0.0;
  }
  const double v = std::exp(-std::abs(t));
  return v / ((1.0 + v) * (1.0 + v));
}

/// f′(t) = F″(t) = s·(u − u²)/(1 + u)³ with u = e^{s·t} ≤ 1; 0 at ±∞.
double logistic_density_slope(double t) {
  if (std::isinf(t)) {
    return 0.0;
  }
  const double sign = t > 0.0 ? -1.0 : 1.0;
  const double u = std::exp(sign * t);
  const double one_plus_u = 1.0 + u;
  return sign * (u - u * u) / (one_plus_u * one_plus_u * one_plus_u);
}

}  // namespace

Vector ocat_cut_points(std::size_t n_cats, const std::vector<double>& thresholds) {
  if (n_cats < 3) {
    internal_fault("Ocat requires R ≥ 3, got " + std::to_string(n_cats));
  }
  if (thresholds.size() != n_cats - 2) {
    internal_fault("Ocat thresholds length must equal n_cats - 2");
  }
  const auto last = static_cast<Eigen::Index>(n_cats);
  Vector cuts(last + 1);
  cuts[0] = -infinity;
  cuts[1] = -1.0;
  // Each gap e^{θ} is positive, so the cut points increase for any real θ.
  for (Eigen::Index k = 2; k < last; ++k) {
    cuts[k] = cuts[k - 1] + std::exp(thresholds[static_cast<std::size_t>(k - 2)]);
  }
  cuts[last] = infinity;
  return cuts;
}

std::size_t ocat_category(double y, std::size_t n_cats) {
  const double nearest = std::round(y);  // halves away from zero
  if (std::isnan(nearest) || nearest <= 0.0) {
    return 1;
  }
  if (nearest > static_cast<double>(n_cats)) {
    return n_cats;
  }
  return static_cast<std::size_t>(nearest);
}

double ocat_probability(double y, double eta, const Vector& cut_points) {
  const LatentInterval interval = latent_interval(y, eta, cut_points);
  return interval_probability(interval.lower, interval.upper);
}

double ocat_deviance(const Vector& y, const Vector& eta, std::span<const double> prior_weights,
                     const Vector& cut_points) {
  double total = 0.0;
  for (Eigen::Index i = 0; i < y.size(); ++i) {
    const double weight = prior_weights.empty() ? 1.0 : prior_weights[static_cast<std::size_t>(i)];
    total += weight * (-2.0 * std::log(ocat_probability(y[i], eta[i], cut_points)));
  }
  return total;
}

void ocat_eta_derivatives(const Vector& y, const Vector& eta, const Vector& cut_points,
                          Vector& g_out, Vector& h_out) {
  const Eigen::Index n = y.size();
  g_out.resize(n);
  h_out.resize(n);
  for (Eigen::Index i = 0; i < n; ++i) {
    const auto [a, b] = latent_interval(y[i], eta[i], cut_points);
    const double probability = interval_probability(a, b);
    const double density_a = logistic_density(a);
    const double density_b = logistic_density(b);
    // ∂P/∂η = f(a) − f(b), ∂²P/∂η² = f′(b) − f′(a)
    g_out[i] = 2.0 * (density_b - density_a) / probability;
    const double density_gap = density_a - density_b;
    h_out[i] = 2.0 *
               (density_gap * density_gap / probability + logistic_density_slope(a) -
                logistic_density_slope(b)) /
               probability;
  }
}

}  // namespace krelm
