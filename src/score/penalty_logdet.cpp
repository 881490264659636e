// Grouped penalty log determinants. For a group, the dominant member (largest λ_j·‖S_j‖)
// is split off first by a similarity transform into its own eigenbasis [U_r | U_0]:
//   Uᵀ S_B U = [[B11, B12], [B21, B22]],  B11 = λ*·D* + (rest on U_r) is well conditioned,
// and log|S_B|₊ = log det B11 + log|C|₊ with the Schur complement C = B22 − B21·B11⁻¹·B12,
// so the weak members' eigenvalues are never swamped by the dominant one's rounding.
// The derivative λ_j·tr(S_B⁺S_j) may use any generalised inverse, since every S_j lies in
// the range of S_B; the block LDLᵀ inverse diag(B11⁻¹, C⁺) is one.
#include "penalty_logdet.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "../internal_fault.hpp"
#include "../linalg.hpp"

namespace krelm {

namespace {

std::vector<Eigen::Index> nonzero_rows(const RowMatrix& matrix) {
  std::vector<Eigen::Index> rows;
  for (Eigen::Index r = 0; r < matrix.rows(); ++r) {
    if ((matrix.row(r).array() != 0.0).any()) {
      rows.push_back(r);
    }
  }
  return rows;
}

RowMatrix restrict_to(const RowMatrix& matrix, const std::vector<Eigen::Index>& columns) {
  const auto q = static_cast<Eigen::Index>(columns.size());
  RowMatrix restricted(q, q);
  for (Eigen::Index a = 0; a < q; ++a) {
    for (Eigen::Index b = 0; b < q; ++b) {
      restricted(a, b) =
          matrix(columns[static_cast<std::size_t>(a)], columns[static_cast<std::size_t>(b)]);
    }
  }
  return restricted;
}

SymmetricEigen eigen_or_fault(const RowMatrix& matrix) {
  auto eigen = symmetric_eigen(matrix);
  if (!eigen) {
    internal_fault("penalty eigendecomposition failed");
  }
  return *std::move(eigen);
}

// Eigenvalues counted as non-zero, as for a single penalty's rank.
double rank_threshold(const Vector& ascending_values) {
  double top = 0.0;
  for (const double value : ascending_values) {
    if (value > top) {
      top = value;
    }
  }
  return 1e-10 * std::max(1.0, top);
}

// Sum of ln of the `count` largest eigenvalues, and the matching pseudo-inverse.
struct PseudoInverse {
  double log_det = 0.0;
  RowMatrix inverse;
};

PseudoInverse truncated_pseudo_inverse(const RowMatrix& matrix, std::size_t count) {
  const SymmetricEigen eigen = eigen_or_fault(matrix);
  const auto q = eigen.values.size();
  PseudoInverse result{0.0, RowMatrix::Zero(q, q)};
  for (std::size_t k = 0; k < count && static_cast<Eigen::Index>(k) < q; ++k) {
    const Eigen::Index column = q - 1 - static_cast<Eigen::Index>(k);
    const double value = eigen.values(column);
    result.log_det += std::log(value);
    result.inverse.noalias() +=
        (eigen.vectors.col(column) / value) * eigen.vectors.col(column).transpose();
  }
  return result;
}

}  // namespace

PenaltyLogDet PenaltyLogDet::create(const std::vector<PenaltyBlock>& penalties) {
  PenaltyLogDet result;
  const std::size_t m = penalties.size();
  result.penalty_count_ = m;
  std::vector<std::vector<Eigen::Index>> rows(m);
  for (std::size_t j = 0; j < m; ++j) {
    rows[j] = nonzero_rows(penalties[j].matrix);
  }
  // Union of penalties whose non-zero rows intersect.
  std::vector<std::size_t> parent(m);
  std::iota(parent.begin(), parent.end(), 0);
  const auto find = [&parent](std::size_t j) {
    while (parent[j] != j) {
      j = parent[j] = parent[parent[j]];
    }
    return j;
  };
  for (std::size_t a = 0; a < m; ++a) {
    for (std::size_t b = a + 1; b < m; ++b) {
      std::vector<Eigen::Index> shared;
      std::set_intersection(rows[a].begin(), rows[a].end(), rows[b].begin(), rows[b].end(),
                            std::back_inserter(shared));
      if (!shared.empty()) {
        parent[find(b)] = find(a);
      }
    }
  }
  for (std::size_t root = 0; root < m; ++root) {
    std::vector<std::size_t> members;
    for (std::size_t j = 0; j < m; ++j) {
      if (find(j) == root) {
        members.push_back(j);
      }
    }
    if (members.empty()) {
      continue;
    }
    if (members.size() == 1) {
      const auto& block = penalties[members.front()];
      result.singles_.push_back({members.front(), static_cast<double>(block.rank), block.log_pdet});
      result.total_rank_ += block.rank;
      continue;
    }
    std::vector<Eigen::Index> columns;
    for (const std::size_t j : members) {
      columns.insert(columns.end(), rows[j].begin(), rows[j].end());
    }
    std::sort(columns.begin(), columns.end());
    columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
    Group group;
    RowMatrix unit_sum = RowMatrix::Zero(static_cast<Eigen::Index>(columns.size()),
                                         static_cast<Eigen::Index>(columns.size()));
    for (const std::size_t j : members) {
      Member member;
      member.index = j;
      member.restricted = restrict_to(penalties[j].matrix, columns);
      unit_sum += member.restricted;
      const SymmetricEigen eigen = eigen_or_fault(member.restricted);
      const double threshold = rank_threshold(eigen.values);
      const auto q = eigen.values.size();
      Eigen::Index counted = 0;
      for (Eigen::Index k = 0; k < q; ++k) {
        counted += eigen.values(k) > threshold ? 1 : 0;
      }
      // Ascending order: the counted (largest) eigenvalues are the last `counted`.
      member.range_basis = eigen.vectors.rightCols(counted);
      member.range_values = eigen.values.tail(counted);
      member.null_basis = eigen.vectors.leftCols(q - counted);
      group.members.push_back(std::move(member));
    }
    // The rank of Σ λ_j S_j is the same for every positive λ; find it once at λ = 1.
    group.rank = penalty_rank_logdet(unit_sum).rank;
    result.total_rank_ += group.rank;
    result.groups_.push_back(std::move(group));
  }
  return result;
}

void PenaltyLogDet::evaluate_group(const Group& group, const Vector& rho, Value& value) const {
  // Dominant member: largest λ_j·(largest eigenvalue of S_j).
  std::size_t dominant = 0;
  double dominant_size = -1.0;
  for (std::size_t a = 0; a < group.members.size(); ++a) {
    const Member& member = group.members[a];
    const double top = member.range_values.size() > 0 ? member.range_values.maxCoeff() : 0.0;
    const double size = std::exp(rho(static_cast<Eigen::Index>(member.index))) * top;
    if (size > dominant_size) {
      dominant_size = size;
      dominant = a;
    }
  }
  const Member& lead = group.members[dominant];
  const double lead_lambda = std::exp(rho(static_cast<Eigen::Index>(lead.index)));
  const auto r = lead.range_basis.cols();
  const auto q = lead.restricted.rows();
  RowMatrix basis(q, q);
  basis << lead.range_basis, lead.null_basis;

  // The rest of the group, expressed in the dominant member's eigenbasis.
  std::vector<RowMatrix> rotated(group.members.size());
  RowMatrix rest_rotated = RowMatrix::Zero(q, q);
  for (std::size_t a = 0; a < group.members.size(); ++a) {
    if (a != dominant) {
      const Member& member = group.members[a];
      rotated[a] = basis.transpose() * member.restricted * basis;
      rest_rotated += std::exp(rho(static_cast<Eigen::Index>(member.index))) * rotated[a];
    }
  }
  RowMatrix b11 = rest_rotated.topLeftCorner(r, r);
  b11.diagonal() += lead_lambda * lead.range_values;
  const RowMatrix b12 = rest_rotated.topRightCorner(r, q - r);
  const RowMatrix b22 = rest_rotated.bottomRightCorner(q - r, q - r);

  RowMatrix b11_factor = b11;
  if (!factor_cholesky_in_place(b11_factor)) {
    internal_fault("penalty eigendecomposition failed");
  }
  double log_det = 2.0 * b11_factor.diagonal().array().log().sum();
  RowMatrix b11_inverse_b12 = b12;
  for (Eigen::Index c = 0; c < b12.cols(); ++c) {
    Vector column = b12.col(c);
    cholesky_solve_in_place(b11_factor, column);
    b11_inverse_b12.col(c) = column;
  }
  RowMatrix schur = b22 - b12.transpose() * b11_inverse_b12;
  schur = (0.5 * (schur + schur.transpose())).eval();
  const std::size_t schur_rank =
      group.rank > static_cast<std::size_t>(r) ? group.rank - static_cast<std::size_t>(r) : 0;
  const PseudoInverse schur_pinv = truncated_pseudo_inverse(schur, schur_rank);
  log_det += schur_pinv.log_det;
  value.log_det += log_det;

  // G̃ = L⁻ᵀ·diag(B11⁻¹, C⁺)·L⁻¹ with L = [[I, 0], [B21·B11⁻¹, I]].
  RowMatrix b11_inverse = RowMatrix::Identity(r, r);
  for (Eigen::Index c = 0; c < r; ++c) {
    Vector column = b11_inverse.col(c);
    cholesky_solve_in_place(b11_factor, column);
    b11_inverse.col(c) = column;
  }
  RowMatrix g_inverse(q, q);
  const RowMatrix coupling = b11_inverse_b12 * schur_pinv.inverse;  // B11⁻¹B12·C⁺
  g_inverse.topLeftCorner(r, r) = b11_inverse + coupling * b11_inverse_b12.transpose();
  g_inverse.topRightCorner(r, q - r) = -coupling;
  g_inverse.bottomLeftCorner(q - r, r) = -coupling.transpose();
  g_inverse.bottomRightCorner(q - r, q - r) = schur_pinv.inverse;
  // Traces in the rotated basis. The dominant member is exactly diag(D*, 0) there; taking
  // it through the original coordinates would mix its rounding into the weak directions,
  // where G̃ is as large as 1/λ of the weakest member.
  for (std::size_t a = 0; a < group.members.size(); ++a) {
    const Member& member = group.members[a];
    const auto j = static_cast<Eigen::Index>(member.index);
    const double trace = a == dominant ? g_inverse.diagonal().head(r).dot(lead.range_values)
                                       : g_inverse.cwiseProduct(rotated[a]).sum();
    value.derivative(j) = std::exp(rho(j)) * trace;
  }
}

PenaltyLogDet::Value PenaltyLogDet::evaluate(const Vector& rho) const {
  Value value{0.0, Vector::Zero(static_cast<Eigen::Index>(penalty_count_))};
  for (const Single& single : singles_) {
    const auto j = static_cast<Eigen::Index>(single.index);
    value.log_det += single.rank * rho(j) + single.log_pdet;
    value.derivative(j) = single.rank;
  }
  for (const Group& group : groups_) {
    evaluate_group(group, rho, value);
  }
  return value;
}

}  // namespace krelm
