// Rebuilding model matrices from predictors: exact reproduction at the training covariates,
// extrapolation, unseen levels, column checks and the guards against inconsistent stored
// arrays.
#include "design/predictor.hpp"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <variant>

#include "covariates.hpp"
#include "design/additive_design.hpp"
#include "design/cr_design.hpp"
#include "design/cr_stable_design.hpp"
#include "design/re_design.hpp"

namespace krelm {
namespace {

using testing::seeded_covariates;

// Columns 0 and 1 continuous, column 2 a grouping variable with 5 levels.
RowMatrix training_covariates() {
  RowMatrix x = seeded_covariates(150, 3, 2024, -1.0, 4.0);
  for (Eigen::Index r = 0; r < x.rows(); ++r) {
    x(r, 2) = static_cast<double>((r * 3) % 5) - 2.0;
  }
  return x;
}

struct DesignCase {
  const char* label;
  std::function<Expected<Design>(const MatrixRef&)> build;
};

std::vector<DesignCase> every_design() {
  return {
      {"cr", [](const MatrixRef& x) { return build_cr_design(x, 8); }},
      {"cr_stable", [](const MatrixRef& x) { return build_cr_stable_design(x, 7); }},
      {"re on a grouping column",
       [](const MatrixRef& x) { return build_re_design(x.rightCols(1)); }},
      {"additive with every kind",
       [](const MatrixRef& x) {
         return build_additive_design(x,
                                      {CrTermSpec{1, 6}, TensorTermSpec{1, 0, 4, 3}, ReTermSpec{2},
                                       CrStableTermSpec{0, 5}, TensorTermSpec{0, 2, 3, 5}});
       }},
  };
}

TEST(Rebuild, ReproducesTheTrainingModelMatrixExactly) {
  const RowMatrix x = training_covariates();
  for (const auto& c : every_design()) {
    SCOPED_TRACE(c.label);
    const auto design = c.build(x);
    ASSERT_TRUE(design.has_value()) << design.error().display();
    const MatrixRef input =
        std::string(c.label).starts_with("re") ? MatrixRef(x.rightCols(1)) : MatrixRef(x);
    const auto rebuilt = rebuild(design->predictor, input);
    ASSERT_TRUE(rebuilt.has_value()) << rebuilt.error().display();
    EXPECT_EQ(*rebuilt, design->model_matrix);  // same operations on the same inputs
    EXPECT_EQ(predictor_width(design->predictor),
              static_cast<std::size_t>(design->model_matrix.cols()));
  }
}

TEST(Rebuild, ColumnsBeyondThoseReadChangeNothing) {
  const RowMatrix x = training_covariates();
  RowMatrix wider(x.rows(), 6);
  wider.leftCols(3) = x;
  wider.rightCols(3) = seeded_covariates(x.rows(), 3, 77);
  for (const auto& c : every_design()) {
    SCOPED_TRACE(c.label);
    const auto design = c.build(x);
    ASSERT_TRUE(design.has_value());
    const bool reads_grouping = std::string(c.label).starts_with("re");
    // Single smooths read column 0 only: put the column in front, junk after it.
    RowMatrix input = wider;
    if (reads_grouping) {
      input.col(0) = x.col(2);
    }
    const MatrixRef narrow = reads_grouping ? MatrixRef(x.rightCols(1)) : MatrixRef(x);
    const auto expected = rebuild(design->predictor, narrow);
    const auto got = rebuild(design->predictor, input);
    ASSERT_TRUE(expected.has_value());
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(*got, *expected);
  }
}

// Below the first and above the last knot each column is linear in x, so the midpoint of two
// outside points rebuilds to the midpoint of their rows.
TEST(Rebuild, CrExtrapolatesLinearly) {
  RowMatrix x = seeded_covariates(50, 1, 8);
  x(0, 0) = 0.0;
  x(1, 0) = 1.0;
  const auto design = build_cr_design(x, 6);
  ASSERT_TRUE(design.has_value());
  const auto* cr = std::get_if<CrPredictor>(&design->predictor.value);
  ASSERT_NE(cr, nullptr);
  EXPECT_EQ(cr->knots(0), 0.0);
  EXPECT_EQ(cr->knots(5), 1.0);
  const RowMatrix at = (RowMatrix(6, 1) << -1.0, -0.5, 0.0, 1.0, 1.5, 2.0).finished();
  const auto rows = rebuild(design->predictor, at);
  ASSERT_TRUE(rows.has_value());
  const RowMatrix& m = *rows;
  EXPECT_LT((m.row(1) - (m.row(0) + m.row(2)) / 2.0).cwiseAbs().maxCoeff(), 1e-14);
  EXPECT_LT((m.row(4) - (m.row(3) + m.row(5)) / 2.0).cwiseAbs().maxCoeff(), 1e-14);
  EXPECT_GT((m.row(0) - m.row(2)).cwiseAbs().maxCoeff(), 0.1);  // not trivially constant
}

TEST(Rebuild, UnseenLevelGivesTheInterceptAlone) {
  const Predictor predictor{RePredictor{(Vector(3) << 1.0, 2.0, 3.0).finished()}};
  const RowMatrix at = (RowMatrix(3, 2) << 4.0, 9.0, 2.0, 9.0, -0.0, 9.0).finished();
  const auto rows = rebuild(predictor, at);
  ASSERT_TRUE(rows.has_value());
  const RowMatrix expected = (RowMatrix(3, 4) << 1, 0, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0).finished();
  EXPECT_EQ(*rows, expected);
}

// Predictors of valid shapes, to be altered one field at a time.
CrPredictor valid_cr() {
  return {(Vector(4) << 0.0, 1.0, 2.0, 3.0).finished(), RowMatrix::Identity(4, 3)};
}
CrStablePredictor valid_cr_stable() {
  return {(Vector(4) << 0.0, 1.0, 2.0, 3.0).finished(), RowMatrix::Identity(4, 3),
          RowMatrix::Identity(3, 3)};
}
TensorPredictor valid_tensor() {
  return {0,
          1,
          MarginBasis::Cr,
          MarginBasis::Cr,
          (Vector(3) << 0.0, 1.0, 2.0).finished(),
          (Vector(4) << 0.0, 1.0, 2.0, 3.0).finished(),
          RowMatrix::Identity(3, 3),
          RowMatrix::Identity(4, 4),
          RowMatrix::Identity(12, 11)};
}
AdditivePredictor valid_additive() {
  AdditivePredictor additive;
  additive.term_predictors = {Predictor{valid_cr()}, Predictor{valid_tensor()}};
  additive.cols_used = {{0}, {0, 1}};
  additive.term_col_ranges = {{1, 4}, {4, 15}};
  return additive;
}

struct RebuildErrorCase {
  const char* label;
  Predictor predictor;
  RowMatrix x;
  std::string message;
};

std::vector<RebuildErrorCase> rebuild_error_cases() {
  const RowMatrix two = RowMatrix::Constant(4, 2, 0.5);
  const RowMatrix three = RowMatrix::Constant(4, 3, 0.5);
  std::vector<RebuildErrorCase> cases;
  const auto add = [&](const char* label, auto payload, const RowMatrix& x, std::string message) {
    cases.push_back({label, Predictor{std::move(payload)}, x, std::move(message)});
  };
  // Column checks.
  {
    AdditivePredictor a = valid_additive();
    a.term_predictors = {Predictor{valid_cr()}, Predictor{valid_cr()}};
    a.cols_used = {{0}, {2}};
    add("additive: term 1 reads column 2", a, two,
        "AdditivePredictor: term 1 expects column 2 but x has only 2 columns");
  }
  {
    AdditivePredictor a = valid_additive();
    auto& tensor = std::get<TensorPredictor>(a.term_predictors[1].value);
    tensor.col_b = 3;
    a.cols_used = {{0}, {0, 3}};
    add("additive: a tensor term's columns are checked first", a, three,
        "AdditivePredictor: term 1 expects column 3 but x has only 3 columns");
  }
  {
    TensorPredictor t = valid_tensor();
    t.col_b = 3;
    add("tensor: its own column check", t, three,
        "TensorPredictor: term reads columns (0, 3) but x has only 3 columns");
  }
  add("cr: zero columns", valid_cr(), RowMatrix(5, 0),
      "x must have at least one column; got shape (5, 0)");
  add("cr_stable: zero columns", valid_cr_stable(), RowMatrix(5, 0),
      "x must have at least one column; got shape (5, 0)");
  add("re: zero columns", RePredictor{Vector::Ones(1)}, RowMatrix(0, 0),
      "x must have at least one column; got shape (0, 0)");
  // Stored knots.
  {
    CrPredictor p = valid_cr();
    p.knots = (Vector(2) << 0.0, 1.0).finished();
    add("cr: two knots", p, two, "CR spline needs k ≥ 3 (got 2)");
  }
  {
    CrStablePredictor p = valid_cr_stable();
    p.knots(2) = 0.5;
    add("cr_stable: unordered knots", p, two, "CR spline knots must be strictly increasing");
  }
  {
    TensorPredictor t = valid_tensor();
    t.knots_a(1) = 5.0;
    add("tensor: knots_a", t, two,
        "invalid stored knots_a: CR spline knots must be strictly increasing");
  }
  {
    TensorPredictor t = valid_tensor();
    t.knots_b = Vector::Zero(1);
    add("tensor: knots_b", t, two, "invalid stored knots_b: CR spline needs k ≥ 3 (got 1)");
  }
  // Stored shapes that disagree.
  {
    CrPredictor p = valid_cr();
    p.centring = RowMatrix::Identity(5, 4);
    add("cr: centring rows", p, two, "CrPredictor: centring must have 4 rows; got 5");
  }
  {
    CrStablePredictor p = valid_cr_stable();
    p.centring = RowMatrix::Identity(3, 3);
    add("cr_stable: centring rows", p, two, "CrStablePredictor: centring must have 4 rows; got 3");
  }
  {
    CrStablePredictor p = valid_cr_stable();
    p.reparam_v = RowMatrix::Identity(3, 2);
    add("cr_stable: reparam_v", p, two, "CrStablePredictor: reparam_v must be (3, 3); got (3, 2)");
  }
  {
    TensorPredictor t = valid_tensor();
    t.xp_a = RowMatrix::Identity(3, 4);
    add("tensor: xp_a", t, two, "TensorPredictor: xp_a must be (3, 3); got (3, 4)");
  }
  {
    TensorPredictor t = valid_tensor();
    t.xp_b = RowMatrix::Identity(3, 3);
    add("tensor: xp_b", t, two, "TensorPredictor: xp_b must be (4, 4); got (3, 3)");
  }
  {
    TensorPredictor t = valid_tensor();
    t.centring = RowMatrix::Identity(11, 11);
    add("tensor: centring rows", t, two, "TensorPredictor: centring must have 12 rows; got 11");
  }
  {
    AdditivePredictor a = valid_additive();
    a.cols_used.pop_back();
    add("additive: cols_used length", a, two,
        "AdditivePredictor: cols_used must have one entry per term (2); got 1");
  }
  {
    AdditivePredictor a = valid_additive();
    a.term_col_ranges.emplace_back(15, 16);
    add("additive: term_col_ranges length", a, two,
        "AdditivePredictor: term_col_ranges must have one entry per term (2); got 3");
  }
  {
    AdditivePredictor a = valid_additive();
    a.cols_used[0].clear();
    add("additive: empty cols_used entry", a, two,
        "AdditivePredictor: term 0 must read one column; got an empty cols_used entry");
  }
  {
    AdditivePredictor a = valid_additive();
    std::get<CrPredictor>(a.term_predictors[0].value).centring = RowMatrix::Zero(2, 2);
    add("additive: a term's error passes through", a, two,
        "CrPredictor: centring must have 4 rows; got 2");
  }
  return cases;
}

TEST(Rebuild, RefusesNarrowXAndInconsistentStoredArrays) {
  for (const auto& c : rebuild_error_cases()) {
    SCOPED_TRACE(c.label);
    const auto rebuilt = rebuild(c.predictor, c.x);
    ASSERT_FALSE(rebuilt.has_value());
    ASSERT_TRUE(std::holds_alternative<InvalidParameter>(rebuilt.error().value));
    EXPECT_EQ(error_message(rebuilt.error()), c.message);
  }
}

TEST(Rebuild, ValidHandMadePredictorsRebuildAtTheirWidth) {
  const RowMatrix x = (RowMatrix(3, 2) << -1.0, 0.5, 1.5, 2.5, 9.0, -3.0).finished();
  const std::array predictors = {Predictor{valid_cr()}, Predictor{valid_cr_stable()},
                                 Predictor{valid_tensor()}, Predictor{valid_additive()},
                                 Predictor{RePredictor{Vector::Ones(2)}}};
  for (const Predictor& predictor : predictors) {
    SCOPED_TRACE(predictor.value.index());
    const auto rebuilt = rebuild(predictor, x);
    ASSERT_TRUE(rebuilt.has_value()) << rebuilt.error().display();
    EXPECT_EQ(static_cast<std::size_t>(rebuilt->cols()), predictor_width(predictor));
    EXPECT_EQ(rebuilt->rows(), 3);
    EXPECT_TRUE((rebuilt->col(0).array() == 1.0).all());
  }
  EXPECT_EQ(predictor_width(Predictor{valid_additive()}), 15U);
}

}  // namespace
}  // namespace krelm
