// What a score evaluation reads: the model data (owned, copied once per fit), the
// penalties with their ranks and log pseudo-determinants, and the inner-fit settings.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "../design/design.hpp"
#include "../family/family.hpp"
#include "../inner/closed_form.hpp"
#include "../inner/inner_data.hpp"
#include "../inner/pirls.hpp"
#include "../matrix.hpp"
#include "penalty_logdet.hpp"

namespace krelm {

struct ScoreContext {
  FamilyKind family = FamilyKind::Gaussian;
  RowMatrix x;
  Vector y;
  std::optional<Vector> prior_weights;
  std::vector<RowMatrix> penalties;
  std::vector<std::size_t> ranks;
  std::vector<double> log_pdets;
  std::size_t null_space_dim = 0;
  PenaltyLogDet penalty_logdet;
  std::optional<GaussianGram> gaussian;  ///< Gaussian only: XᵀWX and XᵀWy, formed once
  PirlsSettings settings;

  [[nodiscard]] InnerData inner_data() const {
    return {x, y,
            prior_weights ? std::span<const double>(prior_weights->data(),
                                                    static_cast<std::size_t>(prior_weights->size()))
                          : std::span<const double>{},
            penalties};
  }
  [[nodiscard]] std::size_t n() const { return static_cast<std::size_t>(y.size()); }
  [[nodiscard]] std::size_t m() const { return penalties.size(); }
};

/// Moves the design's model matrix and penalties into a context (no copy of X).
[[nodiscard]] ScoreContext make_score_context(FamilyKind family, Design& design, Vector y,
                                              std::optional<Vector> prior_weights);

}  // namespace krelm
