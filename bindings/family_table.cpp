// The family table (see the header).
#include "family_table.hpp"

#include <array>
#include <utility>

namespace krelm::bindings {

namespace {

struct NamedRow {
  std::string_view name;
  FamilyRow row;
};

constexpr std::array family_rows = {
    NamedRow{"gaussian", {FamilyKind::Gaussian, Driver::Glm}},
    NamedRow{"bernoulli", {FamilyKind::Bernoulli, Driver::Glm}},
    NamedRow{"binomial", {FamilyKind::Bernoulli, Driver::Glm}},
    NamedRow{"poisson", {FamilyKind::Poisson, Driver::Glm}},
    NamedRow{"quasipoisson", {FamilyKind::QuasiPoisson, Driver::Glm}},
    NamedRow{"quasibinomial", {FamilyKind::QuasiBinomial, Driver::Glm}},
    NamedRow{"gamma", {FamilyKind::Gamma, Driver::Glm}},
    NamedRow{"inverse_gaussian", {FamilyKind::InverseGaussian, Driver::Glm}},
    NamedRow{"inverse.gaussian", {FamilyKind::InverseGaussian, Driver::Glm}},
    NamedRow{"negbin", {FamilyKind::NegBin, Driver::ShapeAware}},
    NamedRow{"nb", {FamilyKind::NegBin, Driver::ShapeAware}},
    NamedRow{"tdist", {FamilyKind::TDist, Driver::ShapeAware}},
    NamedRow{"scat", {FamilyKind::TDist, Driver::ShapeAware}},
    NamedRow{"tweedie", {FamilyKind::Tweedie, Driver::ShapeAware}},
    NamedRow{"tw", {FamilyKind::Tweedie, Driver::ShapeAware}},
    NamedRow{"ocat", {FamilyKind::Ocat, Driver::Ocat}},
    NamedRow{"elf", {FamilyKind::Elf, Driver::Quantile}},
    NamedRow{"quantile", {FamilyKind::Elf, Driver::Quantile}},
};

}  // namespace

std::optional<FamilyRow> find_family(std::string_view name) {
  for (const auto& entry : family_rows) {
    if (entry.name == name) {
      return entry.row;
    }
  }
  return std::nullopt;
}

bool is_additive_family(std::string_view name) {
  const auto row = find_family(name);
  return row && row->driver == Driver::Glm;
}

}  // namespace krelm::bindings
