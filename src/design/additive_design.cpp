// Assembles the additive design from independently built and centred terms.
#include "additive_design.hpp"

#include <string>
#include <utility>

#include "../internal_fault.hpp"
#include "cr_design.hpp"
#include "cr_stable_design.hpp"
#include "re_design.hpp"
#include "tensor_term.hpp"

namespace krelm {

namespace {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};

// One term as its builder leaves it, before placement in the model matrix.
struct BuiltTerm {
  RowMatrix block;                   // C_t, n × w_t
  std::vector<RowMatrix> penalties;  // each w_t × w_t; two for a tensor term
  Predictor predictor;
  std::vector<std::uint64_t> cols_used;
};

std::vector<std::uint64_t> columns_read(const TermSpec& term) {
  return std::visit(Overloaded{
                        [](const TensorTermSpec& t) {
                          return std::vector<std::uint64_t>{t.col_a, t.col_b};
                        },
                        [](const auto& t) { return std::vector<std::uint64_t>{t.col}; },
                    },
                    term);
}

Expected<void> check_columns(const std::vector<TermSpec>& terms, std::uint64_t width) {
  for (std::size_t t = 0; t < terms.size(); ++t) {
    for (const std::uint64_t col : columns_read(terms[t])) {
      if (col >= width) {
        return std::unexpected(invalid_parameter(
            "Additive term " + std::to_string(t) + " reads column " + std::to_string(col) +
            " but x has only " + std::to_string(width) + " columns"));
      }
    }
  }
  return {};
}

Expected<BuiltTerm> build_term(const MatrixRef& x, const TermSpec& spec) {
  return std::visit(
      Overloaded{
          [&](const CrTermSpec& s) -> Expected<BuiltTerm> {
            auto term = build_cr_term(x, s.col, s.k);
            if (!term) {
              return std::unexpected(std::move(term.error()));
            }
            return BuiltTerm{
                std::move(term->basis),
                {std::move(term->penalty)},
                Predictor{CrPredictor{std::move(term->knots), std::move(term->centring)}},
                {s.col}};
          },
          [&](const CrStableTermSpec& s) -> Expected<BuiltTerm> {
            auto term = build_cr_stable_term(x, s.col, s.k);
            if (!term) {
              return std::unexpected(std::move(term.error()));
            }
            return BuiltTerm{
                std::move(term->basis),
                {std::move(term->penalty)},
                Predictor{CrStablePredictor{std::move(term->knots), std::move(term->centring),
                                            std::move(term->reparam_v)}},
                {s.col}};
          },
          [&](const ReTermSpec& s) -> Expected<BuiltTerm> {
            auto term = build_re_term(x, s.col);
            if (!term) {
              return std::unexpected(std::move(term.error()));
            }
            const Eigen::Index levels = term->levels.size();
            return BuiltTerm{std::move(term->basis),
                             {RowMatrix::Identity(levels, levels)},
                             Predictor{RePredictor{std::move(term->levels)}},
                             {s.col}};
          },
          [&](const TensorTermSpec& s) -> Expected<BuiltTerm> {
            auto term = build_tensor_term(x, s.col_a, s.col_b, s.k_a, s.k_b);
            if (!term) {
              return std::unexpected(std::move(term.error()));
            }
            return BuiltTerm{std::move(term->basis),
                             {std::move(term->penalty_a), std::move(term->penalty_b)},
                             Predictor{std::move(term->predictor)},
                             {s.col_a, s.col_b}};
          },
      },
      spec);
}

std::vector<PenaltyBlock> embed_term_penalties(const std::vector<RowMatrix>& term_penalties,
                                               std::size_t p, std::size_t first) {
  std::vector<PenaltyBlock> blocks;
  for (const RowMatrix& term_penalty : term_penalties) {
    RowMatrix penalty = embed_penalty(term_penalty, p, first);
    const RankLogDet rank_logdet = penalty_rank_logdet(penalty);
    blocks.push_back(PenaltyBlock{std::move(penalty), rank_logdet.rank, rank_logdet.log_pdet});
  }
  return blocks;
}

// The number of directions a term's penalties penalise together. A tensor term's two
// penalties act on the same columns, so this is the rank of their sum, not the sum of their
// ranks (which can exceed the term's width).
std::size_t penalised_directions(const std::vector<PenaltyBlock>& blocks) {
  if (blocks.size() == 1) {
    return blocks.front().rank;
  }
  RowMatrix sum = blocks.front().matrix;
  for (std::size_t j = 1; j < blocks.size(); ++j) {
    sum += blocks[j].matrix;
  }
  return penalty_rank_logdet(sum).rank;
}

}  // namespace

Expected<Design> build_additive_design(const MatrixRef& x, const std::vector<TermSpec>& terms) {
  if (terms.empty()) {
    internal_fault("build_additive_design: empty term list");
  }
  if (auto checked = check_columns(terms, static_cast<std::uint64_t>(x.cols())); !checked) {
    return std::unexpected(std::move(checked.error()));
  }
  std::vector<BuiltTerm> built;
  built.reserve(terms.size());
  Eigen::Index width = 1;
  for (const TermSpec& spec : terms) {
    auto term = build_term(x, spec);
    if (!term) {
      return std::unexpected(std::move(term.error()));
    }
    width += term->block.cols();
    built.push_back(std::move(*term));
  }

  Design design;
  design.model_matrix = RowMatrix::Zero(x.rows(), width);
  design.model_matrix.col(0).setOnes();
  AdditivePredictor predictor;
  const auto p = static_cast<std::size_t>(width);
  std::size_t penalised_total = 0;
  Eigen::Index first = 1;
  for (BuiltTerm& term : built) {
    const Eigen::Index term_width = term.block.cols();
    design.model_matrix.middleCols(first, term_width) = term.block;
    term.block = RowMatrix();  // placed: free the n-sized copy before the next term
    std::vector<PenaltyBlock> blocks =
        embed_term_penalties(term.penalties, p, static_cast<std::size_t>(first));
    penalised_total += penalised_directions(blocks);
    for (PenaltyBlock& block : blocks) {
      design.penalties.push_back(std::move(block));
    }
    predictor.term_predictors.push_back(std::move(term.predictor));
    predictor.cols_used.push_back(std::move(term.cols_used));
    predictor.term_col_ranges.emplace_back(static_cast<std::uint64_t>(first),
                                           static_cast<std::uint64_t>(first + term_width));
    first += term_width;
  }
  design.null_space_dim = p > penalised_total ? p - penalised_total : 0;
  design.predictor = Predictor{std::move(predictor)};
  return design;
}

}  // namespace krelm
