// The read-only Python class `FittedGam`.
#pragma once

#include "fit/fitted_gam.hpp"
#include "pybind.hpp"

namespace krelm::bindings {

using FittedGamClass = py::class_<FittedGam>;

/// Creates the class with its attributes and non-prediction methods.
FittedGamClass bind_fitted_gam(py::module_& module);

/// The prediction methods (predict, predict_response, predict_ci, predict_diff,
/// evaluate_lpmatrix).
void bind_predictions(FittedGamClass& cls);

/// serialize, deserialize and __reduce__.
void bind_persistence(FittedGamClass& cls);

}  // namespace krelm::bindings
