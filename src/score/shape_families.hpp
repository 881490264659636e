// The families the shape score is instantiated with, each decoding its shape components
// from ϑ = (ρ, s₁, …): negative binomial (log θ), scaled t (log σ², log(ν − 2)), Tweedie
// (log φ, logit-like power) and the ordered categorical family (R − 2 log-gap thresholds).
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "../family/family.hpp"
#include "../inner/ocat_newton.hpp"
#include "../inner/pirls.hpp"
#include "shape_aware.hpp"

namespace krelm {

/// NegBin: ϑ = (ρ, log θ); PIRLS at θ; φ_V = 1.
class NegBinShape final : public ShapeFamily {
 public:
  [[nodiscard]] Expected<InnerFit> fit_at(const ScoreContext& context,
                                          const Vector& joint) const override;
  [[nodiscard]] double score_scale(const Vector& joint) const override;
  [[nodiscard]] double saturated_loglik(const ScoreContext& context,
                                        const Vector& joint) const override;
};

/// TDist: ϑ = (ρ, log σ², log(ν − 2)); PIRLS at (ν, σ²); φ_V = 1; ls includes the lnΓ
/// normalising terms of the t density, so that ν is identified.
class TDistShape final : public ShapeFamily {
 public:
  [[nodiscard]] Expected<InnerFit> fit_at(const ScoreContext& context,
                                          const Vector& joint) const override;
  [[nodiscard]] double score_scale(const Vector& joint) const override;
  [[nodiscard]] double saturated_loglik(const ScoreContext& context,
                                        const Vector& joint) const override;
};

/// Tweedie: ϑ = (ρ, log φ, θ_p); PIRLS at p; φ_V = φ; analytic shape gradient.
class TweedieShape final : public ShapeFamily {
 public:
  [[nodiscard]] Expected<InnerFit> fit_at(const ScoreContext& context,
                                          const Vector& joint) const override;
  [[nodiscard]] double score_scale(const Vector& joint) const override;
  [[nodiscard]] double saturated_loglik(const ScoreContext& context,
                                        const Vector& joint) const override;
  [[nodiscard]] bool has_analytic_shape_grad() const override { return true; }
  [[nodiscard]] std::optional<Vector> analytic_shape_score_gradient(
      const ScoreContext& context, const Vector& mu, const Vector& joint,
      double penalised_deviance) const override;
};

/// Ocat: ϑ = (ρ, θ₁, …, θ_{R−2}); the Newton solver at those thresholds; φ_V = 1, ls = 0.
class OcatShape final : public ShapeFamily {
 public:
  explicit OcatShape(std::size_t n_cats) : n_cats_(n_cats) {}
  [[nodiscard]] Expected<InnerFit> fit_at(const ScoreContext& context,
                                          const Vector& joint) const override;
  [[nodiscard]] double score_scale(const Vector& joint) const override;
  [[nodiscard]] double saturated_loglik(const ScoreContext& context,
                                        const Vector& joint) const override;

 private:
  std::size_t n_cats_;
};

/// The PIRLS family with the parameters decoded from ϑ (NegBin, TDist, Tweedie).
[[nodiscard]] PirlsFamily shape_pirls_family(FamilyKind kind, const Vector& joint);

/// The shape family of NegBin, TDist or Tweedie; another kind is an internal fault.
[[nodiscard]] std::unique_ptr<ShapeFamily> make_shape_family(FamilyKind kind);

/// Number of shape components: 1 for NegBin, 2 for TDist and Tweedie.
[[nodiscard]] std::size_t shape_component_count(FamilyKind kind);

/// The Ocat inner fit at ϑ: thresholds ϑ₂…ϑ_R, Newton solver at ρ = ϑ₁.
[[nodiscard]] Expected<InnerFit> ocat_inner_fit(const ScoreContext& context, std::size_t n_cats,
                                                const Vector& joint);

}  // namespace krelm
