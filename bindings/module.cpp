// Module initialisation: registers FittedGam, fit and fit_additive, in that order.
#include "benchmark_hooks.hpp"
#include "errors.hpp"
#include "fit_additive_entry.hpp"
#include "fit_drivers.hpp"
#include "fitted_gam_class.hpp"
#include "products.hpp"
#include "pybind.hpp"

PYBIND11_MODULE(_krelm_native, module) {
  namespace kb = krelm::bindings;
  // Docstrings carry their own signature line for inspect.signature.
  py::options options;
  options.disable_function_signatures();
  module.doc() = "";
  krelm::use_calling_thread_for_blas();
  kb::bind_errors(module);
  auto cls = kb::bind_fitted_gam(module);
  kb::bind_predictions(cls);
  kb::bind_persistence(cls);
  kb::bind_fit(module);
  kb::bind_fit_additive(module);
  py::list all_names;
  for (const char* name : {"FittedGam", "fit", "fit_additive"}) {
    all_names.append(name);
  }
  module.attr("__all__") = all_names;
  kb::bind_benchmark_hooks(module);
}
