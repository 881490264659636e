// Conversion of fit's arguments (see the header).
#include "fit_arguments.hpp"

#include "conversion.hpp"

namespace krelm::bindings {

FitArguments convert_fit_arguments(const py::object& family_name, const py::object& x,
                                   const py::object& y, const py::object& weights,
                                   const py::object& k, const py::object& design,
                                   const py::object& theta, const py::object& nu,
                                   const py::object& sigma2, const py::object& tweedie_p,
                                   const py::object& tweedie_phi, const py::object& r,
                                   const py::object& tau, const py::object& elf_sigma,
                                   const py::object& elf_lambda) {
  // Designated initialisers evaluate in order, so conversions run in signature order.
  return FitArguments{
      .family_name = to_text(family_name, "family_name"),
      .x = borrow_matrix(x, "x"),
      .y = borrow_vector(y, "y"),
      .weights = copy_optional_vector(weights, "weights"),
      .k = to_unsigned(k, "k"),
      .design = to_text(design, "design"),
      .theta = to_optional_float(theta, "theta"),
      .nu = to_optional_float(nu, "nu"),
      .sigma2 = to_optional_float(sigma2, "sigma2"),
      .tweedie_p = to_optional_float(tweedie_p, "tweedie_p"),
      .tweedie_phi = to_optional_float(tweedie_phi, "tweedie_phi"),
      .r = to_optional_unsigned(r, "r"),
      .tau = to_optional_float(tau, "tau"),
      .elf_sigma = to_optional_float(elf_sigma, "elf_sigma"),
      .elf_lambda = to_optional_float(elf_lambda, "elf_lambda"),
  };
}

}  // namespace krelm::bindings
