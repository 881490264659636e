// The converted arguments of `fit`, in signature order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "matrix.hpp"
#include "pybind.hpp"

namespace krelm::bindings {

struct FitArguments {
  std::string family_name;
  MatrixView x;
  VectorView y;
  std::optional<Vector> weights;
  std::uint64_t k;
  std::string design;
  std::optional<double> theta;
  std::optional<double> nu;
  std::optional<double> sigma2;
  std::optional<double> tweedie_p;
  std::optional<double> tweedie_phi;
  std::optional<std::uint64_t> r;
  std::optional<double> tau;
  std::optional<double> elf_sigma;
  std::optional<double> elf_lambda;
};

/// Converts in argument order; the first failing conversion is the one reported.
FitArguments convert_fit_arguments(const py::object& family_name, const py::object& x,
                                   const py::object& y, const py::object& weights,
                                   const py::object& k, const py::object& design,
                                   const py::object& theta, const py::object& nu,
                                   const py::object& sigma2, const py::object& tweedie_p,
                                   const py::object& tweedie_phi, const py::object& r,
                                   const py::object& tau, const py::object& elf_sigma,
                                   const py::object& elf_lambda);

}  // namespace krelm::bindings
