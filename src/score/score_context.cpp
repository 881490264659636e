// Building a score context from a design.
#include "score_context.hpp"

namespace krelm {

ScoreContext make_score_context(FamilyKind family, Design& design, Vector y,
                                std::optional<Vector> prior_weights) {
  ScoreContext context;
  context.family = family;
  context.penalty_logdet = PenaltyLogDet::create(design.penalties);
  context.x = std::move(design.model_matrix);
  context.y = std::move(y);
  context.prior_weights = std::move(prior_weights);
  for (auto& block : design.penalties) {
    context.ranks.push_back(block.rank);
    context.log_pdets.push_back(block.log_pdet);
    context.penalties.push_back(std::move(block.matrix));
  }
  design.penalties.clear();
  context.null_space_dim = design.null_space_dim;
  if (family == FamilyKind::Gaussian) {
    context.gaussian = make_gaussian_gram(context.inner_data());
  }
  return context;
}

}  // namespace krelm
