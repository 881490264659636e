// Hooks for the benchmark build only (KRELM_BENCHMARK_HOOKS): the work counters and a
// plain BLAS Gram product to relate a fit's time to the arithmetic it did. The shipped
// module registers none of them.
#include "benchmark_hooks.hpp"

#ifdef KRELM_BENCHMARK_HOOKS
#include <chrono>
#include <vector>

#include "conversion.hpp"
#include "numpy_results.hpp"
#include "products.hpp"
#include "work_counters.hpp"
#endif

namespace krelm::bindings {

void bind_benchmark_hooks([[maybe_unused]] py::module_& module) {
#ifdef KRELM_BENCHMARK_HOOKS
  module.def("_work_counts", [] {
    const WorkCounts counts = read_work_counts();
    py::dict result;
    result["gram_products"] = counts.gram_products;
    result["design_products"] = counts.design_products;
    result["inner_fits"] = counts.inner_fits;
    result["inner_iterations"] = counts.inner_iterations;
    return result;
  });
  module.def("_reset_work_counts", [] { reset_work_counts(); });
  // Seconds taken by each of `repeats` weighted Gram products XᵀWX of a copy of x.
  module.def(
      "_gram_product_seconds", [](const py::object& x, const py::object& weights, int repeats) {
        const RowMatrix matrix(borrow_matrix(x, "x"));
        const Vector w(borrow_vector(weights, "weights"));
        std::vector<double> seconds;
        const py::gil_scoped_release release;
        for (int r = 0; r < repeats; ++r) {
          const auto start = std::chrono::steady_clock::now();
          const RowMatrix gram = weighted_gram(matrix, as_span(w));
          const auto stop = std::chrono::steady_clock::now();
          seconds.push_back(std::chrono::duration<double>(stop - start).count() + 0.0 * gram(0, 0));
        }
        return seconds;
      });
#endif
}

}  // namespace krelm::bindings
