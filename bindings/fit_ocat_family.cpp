// The ordered categorical row of `fit`: the number of categories is required and checked
// here; the design and the data checks are the driver's.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "errors.hpp"
#include "family/family.hpp"
#include "fit/ocat_driver.hpp"
#include "fit_drivers.hpp"
#include "gil.hpp"
#include "pybind.hpp"

namespace krelm::bindings {

py::object fit_ocat_family(FitArguments&& args) {
  if (!args.r) {
    raise_value_error("family='ocat' requires r=K (number of ordered categories, K >= 3)");
  }
  const std::uint64_t n_cats = *args.r;
  if (n_cats < 3) {
    raise_value_error("ocat requires r >= 3, got r=" + std::to_string(n_cats));
  }
  Family family;
  family.kind = FamilyKind::Ocat;
  family.n_cats = static_cast<std::size_t>(n_cats);
  family.thresholds.assign(static_cast<std::size_t>(n_cats - 2), 0.0);
  // The driver reads only column 0 of x and builds the design itself; it gets its own
  // copies of that column and of y, so that it can run with the lock released.
  const RowMatrix first_column = args.x.leftCols(std::min<Eigen::Index>(args.x.cols(), 1));
  Vector y(args.y);
  auto fitted = without_gil([&] {
    return fit_ocat(family, first_column, std::move(y), std::move(args.weights), args.design,
                    static_cast<std::size_t>(args.k), interrupt_check());
  });
  return py::cast(value_or_raise(std::move(fitted)));
}

}  // namespace krelm::bindings
