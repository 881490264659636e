// The one way the bindings include pybind11, so every translation unit sees the same
// casters and options.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace py = pybind11;
