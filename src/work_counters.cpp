// Storage of the global work counters.
#include "work_counters.hpp"

namespace krelm {

WorkCounters& work_counters() {
  static WorkCounters counters;
  return counters;
}

WorkCounts read_work_counts() {
  const auto& c = work_counters();
  return {c.gram_products.load(std::memory_order_relaxed),
          c.design_products.load(std::memory_order_relaxed),
          c.inner_fits.load(std::memory_order_relaxed),
          c.inner_iterations.load(std::memory_order_relaxed)};
}

void reset_work_counts() {
  auto& c = work_counters();
  c.gram_products = 0;
  c.design_products = 0;
  c.inner_fits = 0;
  c.inner_iterations = 0;
}

}  // namespace krelm
