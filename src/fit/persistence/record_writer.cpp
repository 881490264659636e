// Writes a FittedGam as the JSON body of its frame.
#include "record_writer.hpp"

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <variant>

#include "../../internal_fault.hpp"
#include "json_writer.hpp"

namespace krelm {

namespace {

void write_dims_and_data(JsonWriter& writer, std::initializer_list<Eigen::Index> dims,
                         const double* data, Eigen::Index count) {
  writer.begin_object();
  writer.key("v");
  writer.unsigned_value(1);
  writer.key("dim");
  writer.begin_array();
  for (const Eigen::Index extent : dims) {
    writer.unsigned_value(static_cast<std::uint64_t>(extent));
  }
  writer.end_array();
  writer.key("data");
  writer.begin_array();
  for (Eigen::Index i = 0; i < count; ++i) {
    writer.float_value(data[i]);
  }
  writer.end_array();
  writer.end_object();
}

void write_vector(JsonWriter& writer, std::string_view name, const Vector& vector) {
  writer.key(name);
  write_dims_and_data(writer, {vector.size()}, vector.data(), vector.size());
}

// RowMatrix storage is row-major and contiguous, which is exactly the "data" order.
void write_matrix(JsonWriter& writer, std::string_view name, const RowMatrix& matrix) {
  writer.key(name);
  write_dims_and_data(writer, {matrix.rows(), matrix.cols()}, matrix.data(), matrix.size());
}

void write_float(JsonWriter& writer, std::string_view name, double value) {
  writer.key(name);
  writer.float_value(value);
}

void write_unsigned(JsonWriter& writer, std::string_view name, std::uint64_t value) {
  writer.key(name);
  writer.unsigned_value(value);
}

void write_predictor(JsonWriter& writer, const Predictor& predictor);

void write_payload(JsonWriter& writer, const CrPredictor& cr) {
  writer.plain_string_value("cr");
  write_vector(writer, "knots", cr.knots);
  write_matrix(writer, "centring", cr.centring);
}

void write_payload(JsonWriter& writer, const RePredictor& re) {
  writer.plain_string_value("re");
  writer.key("levels");
  writer.begin_array();
  for (const double level : re.levels) {
    writer.float_value(level);
  }
  writer.end_array();
}

void write_payload(JsonWriter& writer, const CrStablePredictor& stable) {
  writer.plain_string_value("cr_stable");
  write_vector(writer, "knots", stable.knots);
  write_matrix(writer, "centring", stable.centring);
  write_matrix(writer, "reparam_v", stable.reparam_v);
}

void write_payload(JsonWriter& writer, const AdditivePredictor& additive) {
  writer.plain_string_value("additive");
  writer.key("term_predictors");
  writer.begin_array();
  for (const Predictor& term : additive.term_predictors) {
    write_predictor(writer, term);
  }
  writer.end_array();
  writer.key("cols_used");
  writer.begin_array();
  for (const auto& columns : additive.cols_used) {
    writer.begin_array();
    for (const std::uint64_t column : columns) {
      writer.unsigned_value(column);
    }
    writer.end_array();
  }
  writer.end_array();
  writer.key("term_col_ranges");
  writer.begin_array();
  for (const auto& [first, last_exclusive] : additive.term_col_ranges) {
    writer.begin_array();
    writer.unsigned_value(first);
    writer.unsigned_value(last_exclusive);
    writer.end_array();
  }
  writer.end_array();
}

void write_payload(JsonWriter& writer, const TensorPredictor& tensor) {
  writer.plain_string_value("tensor");
  write_unsigned(writer, "col_a", tensor.col_a);
  write_unsigned(writer, "col_b", tensor.col_b);
  // The cubic regression spline is the only margin basis kind.
  writer.key("bs_a");
  writer.plain_string_value("cr");
  writer.key("bs_b");
  writer.plain_string_value("cr");
  write_vector(writer, "knots_a", tensor.knots_a);
  write_vector(writer, "knots_b", tensor.knots_b);
  write_matrix(writer, "xp_a", tensor.xp_a);
  write_matrix(writer, "xp_b", tensor.xp_b);
  write_matrix(writer, "centring", tensor.centring);
}

// "kind" first, then the payload's fields in declaration order.
void write_predictor(JsonWriter& writer, const Predictor& predictor) {
  writer.begin_object();
  writer.key("kind");
  std::visit([&writer](const auto& payload) { write_payload(writer, payload); }, predictor.value);
  writer.end_object();
}

std::string_view link_kind_name(LinkKind kind) {
  switch (kind) {
    case LinkKind::Identity:
      return "Identity";
    case LinkKind::Log:
      return "Log";
    case LinkKind::Logit:
      return "Logit";
  }
  internal_fault("LinkKind out of range");
}

}  // namespace

std::string encode_record_body(const FittedGam& fit) {
  JsonWriter writer;
  writer.begin_object();
  write_vector(writer, "beta", fit.beta);
  write_vector(writer, "rho", fit.rho);
  write_vector(writer, "lambda", fit.lambda);
  write_float(writer, "scale", fit.scale);
  write_float(writer, "edf_total", fit.edf_total);
  write_vector(writer, "edf_per_term", fit.edf_per_term);
  write_unsigned(writer, "n", fit.n);
  write_unsigned(writer, "n_iters", fit.n_iters);
  writer.key("converged");
  writer.boolean_value(fit.converged);
  write_float(writer, "reml_value", fit.reml_value);
  writer.key("predictor");
  write_predictor(writer, fit.predictor);
  write_matrix(writer, "vcov", fit.vcov);
  writer.key("link_kind");
  writer.plain_string_value(link_kind_name(fit.link_kind));
  write_vector(writer, "shape_params", fit.shape_params);
  writer.end_object();
  return writer.take();
}

}  // namespace krelm
