// serialize, deserialize and __reduce__ of FittedGam: pickling stores the same compact
// binary frame that serialize() returns.
#include <string>

#include "errors.hpp"
#include "fit/persistence/frame.hpp"
#include "fitted_gam_class.hpp"

namespace krelm::bindings {

namespace {

py::bytes serialize(const FittedGam& fit) {
  const std::string frame = value_or_raise(serialize_fit(fit));
  return {frame.data(), frame.size()};
}

py::object deserialize(const py::object& /*cls*/, const py::object& bytes) {
  if (!PyBytes_Check(bytes.ptr())) {
    raise_argument_type_error("bytes",
                              std::string("expected bytes; got ") + Py_TYPE(bytes.ptr())->tp_name);
  }
  const char* data = PyBytes_AS_STRING(bytes.ptr());
  const auto size = static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr()));
  return py::cast(value_or_raise(deserialize_fit(std::string_view(data, size))));
}

py::tuple reduce(const FittedGam& fit) {
  py::bytes frame = serialize(fit);
  const py::object cls = py::type::of<FittedGam>();
  return py::make_tuple(cls.attr("deserialize"), py::make_tuple(std::move(frame)));
}

}  // namespace

void bind_persistence(FittedGamClass& cls) {
  cls.def("serialize", &serialize,
          "serialize($self)\n--\n\nSerialises the fit to a length-framed binary buffer "
          "(magic + version + JSON body). Round-trips bit for bit through deserialize, so "
          "predictions after a reload are identical to the last bit. The wire format lives "
          "with the core's fit/persistence.")
      .def("deserialize", &deserialize, py::arg("bytes"),
           "deserialize($cls, bytes)\n--\n\nClass method that rebuilds a FittedGam from the "
           "bytes produced by serialize. Raises ValueError (mapped from the InvalidParameter "
           "error) on a bad magic, version, truncated body or unparseable JSON.")
      .def("__reduce__", &reduce,
           "__reduce__($self)\n--\n\nPython pickle support: pickling and unpickling work "
           "through serialize and deserialize, returning a reconstructor and a one-element "
           "tuple holding the bytes, so the pickle stream carries the same compact binary "
           "frame.");
  // deserialize is a class method: FittedGam.deserialize(frame) from the class or any
  // instance, always returning a FittedGam.
  cls.attr("deserialize") =
      py::reinterpret_steal<py::object>(PyClassMethod_New(cls.attr("deserialize").ptr()));
}

}  // namespace krelm::bindings
