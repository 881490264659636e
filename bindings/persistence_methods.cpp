// serialize, deserialize and __reduce__ of FittedGam.
#include "fitted_gam_class.hpp"

namespace krelm::bindings {

void bind_persistence(FittedGamClass& /*cls*/) {}

}  // namespace krelm::bindings
