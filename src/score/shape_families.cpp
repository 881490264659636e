// Shape families: decoding ϑ, the inner fit at ϑ and the family terms of the score.
#include "shape_families.hpp"

#include <cmath>
#include <optional>
#include <string>

#include "../family/negbin.hpp"
#include "../family/special_functions.hpp"
#include "../family/tdist.hpp"
#include "../family/tweedie.hpp"
#include "../internal_fault.hpp"

namespace krelm {

namespace {

/// ρ as the one-element vector the inner solvers take.
Vector rho_of(const Vector& joint) { return joint.head(1); }

Expected<InnerFit> pirls_at(const ScoreContext& context, FamilyKind kind, const Vector& joint) {
  return pirls(context.inner_data(), shape_pirls_family(kind, joint), rho_of(joint),
               context.settings);
}

}  // namespace

PirlsFamily shape_pirls_family(FamilyKind kind, const Vector& joint) {
  switch (kind) {
    case FamilyKind::NegBin:
      return PirlsFamily{.kind = kind, .theta = std::exp(joint(1))};
    case FamilyKind::TDist: {
      const TDistParams params = tdist_params_from(joint(1), joint(2));
      return PirlsFamily{.kind = kind, .nu = params.nu, .sigma2 = params.sigma2};
    }
    case FamilyKind::Tweedie:
      return PirlsFamily{.kind = kind, .power = tweedie_params_from(joint(1), joint(2)).power};
    default:
      internal_fault("shape_pirls_family: not a shape-aware family: " +
                     std::string(display_name(kind)));
  }
}

Expected<InnerFit> NegBinShape::fit_at(const ScoreContext& context, const Vector& joint) const {
  return pirls_at(context, FamilyKind::NegBin, joint);
}
double NegBinShape::score_scale(const Vector& /*joint*/) const { return 1.0; }
double NegBinShape::saturated_loglik(const ScoreContext& context, const Vector& joint) const {
  return negbin_saturated_loglik(context.y, std::exp(joint(1)));
}

Expected<InnerFit> TDistShape::fit_at(const ScoreContext& context, const Vector& joint) const {
  return pirls_at(context, FamilyKind::TDist, joint);
}
double TDistShape::score_scale(const Vector& /*joint*/) const { return 1.0; }
// The t log density at r = 0 is lnΓ((ν+1)/2) − lnΓ(ν/2) − ½·ln(πνσ²). Without the lnΓ
// ratio, which grows like ½·ln(ν/2), the score rewards small ν and the search runs to the
// boundary ν → 2 on ordinary data (a t₄ sample of 2,000 rows gave ν̂ = 2.000001); with it
// ν is estimated (4.8 on that sample).
double TDistShape::saturated_loglik(const ScoreContext& context, const Vector& joint) const {
  const TDistParams params = tdist_params_from(joint(1), joint(2));
  const auto n = static_cast<double>(context.n());
  return tdist_saturated_loglik(context.n(), params.nu, params.sigma2) +
         n * (ln_gamma((params.nu + 1.0) / 2.0) - ln_gamma(params.nu / 2.0));
}

Expected<InnerFit> TweedieShape::fit_at(const ScoreContext& context, const Vector& joint) const {
  return pirls_at(context, FamilyKind::Tweedie, joint);
}
double TweedieShape::score_scale(const Vector& joint) const {
  return tweedie_params_from(joint(1), joint(2)).phi;
}
double TweedieShape::saturated_loglik(const ScoreContext& context, const Vector& joint) const {
  const TweedieParams params = tweedie_params_from(joint(1), joint(2));
  double total = 0.0;
  for (const double y : context.y) {
    total += tweedie_log_density_saturated(params.power, params.phi, y);
  }
  return total;
}
std::optional<Vector> TweedieShape::analytic_shape_score_gradient(const ScoreContext& context,
                                                                  const Vector& mu,
                                                                  const Vector& joint,
                                                                  double penalised_deviance) const {
  const TweedieParams params = tweedie_params_from(joint(1), joint(2));
  // m = n − M_p, so the score's −(M_p/2)·ln φ term enters as −½·(n − m).
  const double count =
      static_cast<double>(context.n()) - static_cast<double>(context.null_space_dim);
  const auto gradient =
      tweedie_shape_gradient(context.y, mu, params.power, params.phi, penalised_deviance, count);
  return Vector{{gradient[0], gradient[1]}};
}

Expected<InnerFit> ocat_inner_fit(const ScoreContext& context, std::size_t n_cats,
                                  const Vector& joint) {
  const std::vector<double> thresholds(joint.begin() + 1, joint.end());
  return ocat_newton_fit(context.inner_data(), n_cats, thresholds, rho_of(joint),
                         OcatNewtonSettings{context.settings.max_iter, context.settings.tol});
}

Expected<InnerFit> OcatShape::fit_at(const ScoreContext& context, const Vector& joint) const {
  return ocat_inner_fit(context, n_cats_, joint);
}
double OcatShape::score_scale(const Vector& /*joint*/) const { return 1.0; }
double OcatShape::saturated_loglik(const ScoreContext& /*context*/, const Vector& /*joint*/) const {
  return 0.0;
}

std::unique_ptr<ShapeFamily> make_shape_family(FamilyKind kind) {
  switch (kind) {
    case FamilyKind::NegBin:
      return std::make_unique<NegBinShape>();
    case FamilyKind::TDist:
      return std::make_unique<TDistShape>();
    case FamilyKind::Tweedie:
      return std::make_unique<TweedieShape>();
    default:
      internal_fault("make_shape_family: not a shape-aware family: " +
                     std::string(display_name(kind)));
  }
}

std::size_t shape_component_count(FamilyKind kind) { return kind == FamilyKind::NegBin ? 1 : 2; }

}  // namespace krelm
