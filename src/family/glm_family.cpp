// The PIRLS pieces of the nine PIRLS families. Each family is a small value type with
// inline scalar pieces; the public functions switch on the family once and then run one
// tight loop over the whole vector with those pieces inlined.
#include "glm_family.hpp"

#include <cmath>
#include <string>

#include "../format.hpp"
#include "../internal_fault.hpp"
#include "guards.hpp"

namespace krelm {
namespace {

/// Starting mean of the count-like families: a zero count must still give a finite log.
constexpr double count_start_floor = 0.1;
/// Starting mean of the positive families (Gamma, inverse Gaussian).
constexpr double positive_start_floor = 0.001;

double log_link_start(double mu0) { return std::log(floor_at(mu0, mean_floor)); }

/// μ = 1/(1 + e^{−η}) for η ≥ 0 and e^{η}/(1 + e^{η}) below, so neither branch overflows.
double logistic(double eta) {
  if (eta >= 0.0) {
    return 1.0 / (1.0 + std::exp(-eta));
  }
  const double e = std::exp(eta);
  return e / (1.0 + e);
}

double clamp_probability(double mu) {
  return clamp_keeping_nan(mu, probability_floor, probability_ceiling);
}

struct GaussianPieces {
  static double start_eta(double y) { return y; }
  static double mean(double eta) { return eta; }
  static double link_derivative(double /*mu*/) { return 1.0; }
  static double variance(double /*mu*/) { return 1.0; }
  static double unit_deviance(double y, double mu) {
    const double residual = y - mu;
    return residual * residual;
  }
};

struct PoissonPieces {
  static double start_eta(double y) { return log_link_start(floor_at(y, count_start_floor)); }
  static double mean(double eta) { return std::exp(eta); }
  static double link_derivative(double mu) { return 1.0 / floor_at(mu, mean_floor); }
  static double variance(double mu) { return floor_at(mu, mean_floor); }
  static double unit_deviance(double y, double mu) {
    const double m = floor_at(mu, mean_floor);
    if (y > 0.0) {
      return 2.0 * (y * std::log(y / m) - (y - m));
    }
    return 2.0 * m;
  }
};

struct BernoulliPieces {
  static double start_eta(double y) {
    const double m = clamp_probability((y + 0.5) * 0.5);
    return std::log(m / (1.0 - m));
  }
  static double mean(double eta) { return logistic(eta); }
  static double link_derivative(double mu) {
    const double m = clamp_probability(mu);
    return 1.0 / (m * (1.0 - m));
  }
  // From the unclamped mean, unlike g′.
  static double variance(double mu) { return floor_at(mu * (1.0 - mu), mean_floor); }
  static double unit_deviance(double y, double mu) {
    const double m = clamp_probability(mu);
    const double a = y > 0.0 ? y * std::log(y / m) : 0.0;
    const double b = y < 1.0 ? (1.0 - y) * std::log((1.0 - y) / (1.0 - m)) : 0.0;
    return 2.0 * (a + b);
  }
};

struct GammaPieces {
  static double start_eta(double y) { return log_link_start(floor_at(y, positive_start_floor)); }
  static double mean(double eta) { return std::exp(eta); }
  static double link_derivative(double mu) { return 1.0 / floor_at(mu, mean_floor); }
  static double variance(double mu) { return floor_at(mu * mu, mean_floor); }
  static double unit_deviance(double y, double mu) {
    const double y_floored = floor_at(y, mean_floor);
    const double m = floor_at(mu, mean_floor);
    return 2.0 * (std::log(m / y_floored) + (y_floored - m) / m);
  }
};

struct InverseGaussianPieces {
  static double start_eta(double y) { return log_link_start(floor_at(y, positive_start_floor)); }
  static double mean(double eta) { return std::exp(eta); }
  static double link_derivative(double mu) { return 1.0 / floor_at(mu, mean_floor); }
  static double variance(double mu) { return floor_at(mu * mu * mu, mean_floor); }
  static double unit_deviance(double y, double mu) {
    const double y_floored = floor_at(y, mean_floor);
    const double m = floor_at(mu, mean_floor);
    const double difference = y_floored - m;
    return difference * difference / (y_floored * (m * m));
  }
};

struct NegBinPieces {
  double theta;

  static double start_eta(double y) { return log_link_start(floor_at(y, count_start_floor)); }
  static double mean(double eta) { return std::exp(eta); }
  static double link_derivative(double mu) { return 1.0 / floor_at(mu, mean_floor); }
  // V = μ + μ²/θ from the unguarded mean.
  [[nodiscard]] double variance(double mu) const {
    return floor_at(mu + mu * mu / theta, mean_floor);
  }
  [[nodiscard]] double unit_deviance(double y, double mu) const {
    const double m = floor_at(mu, mean_floor);
    if (y > 0.0) {
      return 2.0 * (y * std::log(y / m) - (y + theta) * std::log((y + theta) / (m + theta)));
    }
    return 2.0 * theta * std::log((m + theta) / theta);
  }
};

struct TweediePieces {
  double power;

  static double start_eta(double y) { return log_link_start(floor_at(y, count_start_floor)); }
  static double mean(double eta) { return std::exp(eta); }
  static double link_derivative(double mu) { return 1.0 / floor_at(mu, mean_floor); }
  [[nodiscard]] double variance(double mu) const {
    return floor_at(std::pow(floor_at(mu, mean_floor), power), mean_floor);
  }
  // d = 2[y^{2−p}/((1−p)(2−p)) − y·m^{1−p}/(1−p) + m^{2−p}/(2−p)]; the y-terms vanish at y = 0.
  [[nodiscard]] double unit_deviance(double y, double mu) const {
    const double m = floor_at(mu, mean_floor);
    const double mean_term = std::pow(m, 2.0 - power) / (2.0 - power);
    if (y > 0.0) {
      return 2.0 * (std::pow(y, 2.0 - power) / ((1.0 - power) * (2.0 - power)) -
                    y * std::pow(m, 1.0 - power) / (1.0 - power) + mean_term);
    }
    return 2.0 * mean_term;
  }
};

struct TDistPieces {
  double nu;
  double sigma2;

  // TDist starts from the vector mean; starting_eta handles it before any per-element call.
  static double mean(double eta) { return eta; }
  static double link_derivative(double /*mu*/) { return 1.0; }
  [[nodiscard]] double variance(double /*mu*/) const { return floor_at(sigma2, mean_floor); }
  [[nodiscard]] double unit_deviance(double y, double mu) const {
    const double residual = y - mu;
    return (nu + 1.0) * std::log(1.0 + residual * residual / (nu * sigma2));
  }
};

/// Calls `body` with the pieces of `family`: the one switch that the loops below share.
template <class Body>
decltype(auto) with_pieces(const PirlsFamily& family, Body&& body) {
  switch (family.kind) {
    case FamilyKind::Gaussian:
      return body(GaussianPieces{});
    case FamilyKind::Poisson:
    case FamilyKind::QuasiPoisson:
      return body(PoissonPieces{});
    case FamilyKind::Bernoulli:
    case FamilyKind::QuasiBinomial:
      return body(BernoulliPieces{});
    case FamilyKind::Gamma:
      return body(GammaPieces{});
    case FamilyKind::InverseGaussian:
      return body(InverseGaussianPieces{});
    case FamilyKind::NegBin:
      return body(NegBinPieces{family.theta});
    case FamilyKind::Tweedie:
      return body(TweediePieces{family.power});
    case FamilyKind::TDist:
      return body(TDistPieces{family.nu, family.sigma2});
    case FamilyKind::Ocat:
    case FamilyKind::Elf:
      break;
  }
  internal_fault("PIRLS pieces requested for family " + std::string(display_name(family.kind)));
}

double prior_weight(std::span<const double> prior_weights, Eigen::Index i) {
  return prior_weights.empty() ? 1.0 : prior_weights[static_cast<std::size_t>(i)];
}

Expected<void> check_each_row(FamilyKind kind, const VectorRef& y, std::string_view requirement,
                              auto&& accepts) {
  for (Eigen::Index row = 0; row < y.size(); ++row) {
    if (!accepts(y[row])) {
      return std::unexpected(invalid_parameter(
          std::string(display_name(kind)) + " requires y " + std::string(requirement) + "; got y=" +
          format_float(y[row]) + " at row " + std::to_string(static_cast<std::size_t>(row))));
    }
  }
  return {};
}

}  // namespace

void starting_eta(const PirlsFamily& family, const Vector& y, Vector& eta_out) {
  const Eigen::Index n = y.size();
  eta_out.resize(n);
  if (family.kind == FamilyKind::TDist) {
    // μ₀ = (y_i + ȳ)/2 under the identity link, ȳ the plain mean.
    double sum = 0.0;
    for (Eigen::Index i = 0; i < n; ++i) {
      sum += y[i];
    }
    const double y_mean = sum / static_cast<double>(n);
    for (Eigen::Index i = 0; i < n; ++i) {
      eta_out[i] = 0.5 * (y[i] + y_mean);
    }
    return;
  }
  with_pieces(family, [&](const auto& pieces) {
    if constexpr (requires { pieces.start_eta(0.0); }) {
      for (Eigen::Index i = 0; i < n; ++i) {
        eta_out[i] = pieces.start_eta(y[i]);
      }
    }
  });
}

void inverse_link(const PirlsFamily& family, const Vector& eta, Vector& mu_out) {
  const Eigen::Index n = eta.size();
  mu_out.resize(n);
  with_pieces(family, [&](const auto& pieces) {
    for (Eigen::Index i = 0; i < n; ++i) {
      mu_out[i] = pieces.mean(eta[i]);
    }
  });
}

void working_weights_and_response(const PirlsFamily& family, const Vector& y, const Vector& eta,
                                  const Vector& mu, std::span<const double> prior_weights,
                                  Vector& weights_out, Vector& response_out) {
  const Eigen::Index n = y.size();
  weights_out.resize(n);
  response_out.resize(n);
  with_pieces(family, [&](const auto& pieces) {
    for (Eigen::Index i = 0; i < n; ++i) {
      const double link_derivative = pieces.link_derivative(mu[i]);
      const double variance = pieces.variance(mu[i]);
      // W = w/(V·g′²), z = η + g′·(y − μ) with the unguarded μ in the residual.
      weights_out[i] =
          prior_weight(prior_weights, i) / (variance * (link_derivative * link_derivative));
      response_out[i] = eta[i] + link_derivative * (y[i] - mu[i]);
    }
  });
}

double unit_deviance(const PirlsFamily& family, double y, double mu) {
  return with_pieces(family,
                     [&](const auto& pieces) -> double { return pieces.unit_deviance(y, mu); });
}

double deviance(const PirlsFamily& family, const Vector& y, const Vector& mu,
                std::span<const double> prior_weights) {
  return with_pieces(family, [&](const auto& pieces) -> double {
    double total = 0.0;
    for (Eigen::Index i = 0; i < y.size(); ++i) {
      total += prior_weight(prior_weights, i) * pieces.unit_deviance(y[i], mu[i]);
    }
    return total;
  });
}

bool deviance_terms_finite(const PirlsFamily& family, const Vector& y, const Vector& eta,
                           const Vector& mu) {
  return with_pieces(family, [&](const auto& pieces) -> bool {
    for (Eigen::Index i = 0; i < y.size(); ++i) {
      if (!std::isfinite(eta[i]) || !std::isfinite(mu[i]) ||
          !std::isfinite(2.0 * pieces.unit_deviance(y[i], mu[i]))) {
        return false;
      }
    }
    return true;
  });
}

CheckedDeviance checked_deviance(const PirlsFamily& family, const Vector& y, const Vector& eta,
                                 const Vector& mu, std::span<const double> prior_weights) {
  return with_pieces(family, [&](const auto& pieces) -> CheckedDeviance {
    CheckedDeviance result;
    for (Eigen::Index i = 0; i < y.size(); ++i) {
      const double unit = pieces.unit_deviance(y[i], mu[i]);
      result.deviance += prior_weight(prior_weights, i) * unit;
      result.terms_finite = result.terms_finite && std::isfinite(eta[i]) && std::isfinite(mu[i]) &&
                            std::isfinite(2.0 * unit);
    }
    return result;
  });
}

Expected<void> validate_response(FamilyKind kind, const VectorRef& y) {
  switch (kind) {
    case FamilyKind::Poisson:
    case FamilyKind::QuasiPoisson:
    case FamilyKind::NegBin:
    case FamilyKind::Tweedie:
      // NaN compares false and passes, as does every check except [0, 1].
      return check_each_row(kind, y, "≥ 0", [](double value) { return !(value < 0.0); });
    case FamilyKind::Gamma:
    case FamilyKind::InverseGaussian:
      return check_each_row(kind, y, "> 0", [](double value) { return !(value <= 0.0); });
    case FamilyKind::Bernoulli:
    case FamilyKind::QuasiBinomial:
      return check_each_row(kind, y, "in [0, 1]",
                            [](double value) { return value >= 0.0 && value <= 1.0; });
    case FamilyKind::Gaussian:
    case FamilyKind::TDist:
    case FamilyKind::Ocat:
    case FamilyKind::Elf:
      break;
  }
  return {};
}

}  // namespace krelm
