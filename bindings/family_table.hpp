// The family table of `fit`: every accepted name, the typed family it yields and the
// driver that fits it. Names match exactly and case-sensitively.
#pragma once

#include <optional>
#include <string_view>

#include "family/family.hpp"

namespace krelm::bindings {

enum class Driver { Glm, ShapeAware, Ocat, Quantile };

struct FamilyRow {
  FamilyKind kind;
  Driver driver;
};

/// The row for `name`, or nothing for an unknown name.
[[nodiscard]] std::optional<FamilyRow> find_family(std::string_view name);

/// True for the nine names `fit_additive` accepts (the exponential families).
[[nodiscard]] bool is_additive_family(std::string_view name);

}  // namespace krelm::bindings
