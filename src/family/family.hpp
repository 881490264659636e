// The typed response family: which family, its link, and its parameters.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace krelm {

enum class LinkKind { Identity, Log, Logit };

enum class FamilyKind {
  Gaussian,
  Bernoulli,
  Poisson,
  QuasiPoisson,
  QuasiBinomial,
  Gamma,
  InverseGaussian,
  NegBin,
  TDist,
  Tweedie,
  Ocat,
  Elf,
};

/// A family with its parameters; only the fields of `kind` are meaningful.
struct Family {
  FamilyKind kind = FamilyKind::Gaussian;
  double theta = 2.0;              ///< NegBin overdispersion θ
  double nu = 5.0;                 ///< TDist degrees of freedom
  double sigma2 = 1.0;             ///< TDist scale σ²
  double power = 1.5;              ///< Tweedie p
  double phi = 1.0;                ///< Tweedie dispersion φ
  std::size_t n_cats = 0;          ///< Ocat R
  std::vector<double> thresholds;  ///< Ocat log-gap thresholds, R − 2 of them
  double tau = 0.5;                ///< ELF quantile level
  double elf_sigma = 0.0;          ///< ELF loss scale (0: chosen by the driver)
  double elf_lambda = 0.0;         ///< ELF sharpness (0: chosen by the driver)
};

[[nodiscard]] LinkKind link_kind_of(FamilyKind kind);

/// Name used in messages: "Poisson", "QuasiPoisson", "NegBin", "ELF", ...
[[nodiscard]] std::string_view display_name(FamilyKind kind);

}  // namespace krelm
