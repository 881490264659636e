// log|S_λ|₊ and its derivatives for the score. Penalties that act on disjoint columns
// contribute r_j·ρ_j + ℓ_j each. Penalties that share columns (a tensor term's two
// margins) are grouped: their λ-weighted sum S_B has a rank that does not depend on λ,
// and its generalised log determinant must be taken as a whole — summing the members'
// ranks would count the shared null space twice and let the score fall without bound.
#pragma once

#include <cstddef>
#include <vector>

#include "../design/design.hpp"
#include "../matrix.hpp"

namespace krelm {

class PenaltyLogDet {
 public:
  struct Value {
    double log_det = 0.0;  ///< log|S_λ|₊
    Vector derivative;     ///< ∂log|S_λ|₊/∂ρ_j (r_j for an ungrouped penalty)
  };

  /// Groups the penalties by shared columns; ranks of multi-penalty groups are found here.
  static PenaltyLogDet create(const std::vector<PenaltyBlock>& penalties);

  [[nodiscard]] Value evaluate(const Vector& rho) const;

  /// Σ over groups of the group rank (the penalised dimension of the whole design).
  [[nodiscard]] std::size_t total_rank() const { return total_rank_; }

 private:
  struct Member {
    std::size_t index = 0;  ///< position in the penalty list
    RowMatrix restricted;   ///< S_j restricted to the group's columns
    RowMatrix range_basis;  ///< eigenvectors of S_j with counted eigenvalues (q × r_j)
    RowMatrix null_basis;   ///< the remaining eigenvectors (q × (q − r_j))
    Vector range_values;    ///< the counted eigenvalues
  };
  struct Group {
    std::vector<Member> members;
    std::size_t rank = 0;
  };
  struct Single {
    std::size_t index = 0;
    double rank = 0.0;
    double log_pdet = 0.0;
  };

  void evaluate_group(const Group& group, const Vector& rho, Value& value) const;

  std::vector<Single> singles_;
  std::vector<Group> groups_;
  std::size_t penalty_count_ = 0;
  std::size_t total_rank_ = 0;
};

}  // namespace krelm
