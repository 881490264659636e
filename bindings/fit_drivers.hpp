// The family rows of `fit` after the name is matched: parameter checks, design, data
// checks, starting values and the driver call, per driver.
#pragma once

#include "family/family.hpp"
#include "fit_arguments.hpp"
#include "pybind.hpp"

namespace krelm::bindings {

py::object fit_glm_family(FamilyKind kind, FitArguments&& args);
py::object fit_shape_family(FamilyKind kind, FitArguments&& args);
py::object fit_ocat_family(FitArguments&& args);
py::object fit_quantile_family(FitArguments&& args);

void bind_fit(py::module_& module);

}  // namespace krelm::bindings
