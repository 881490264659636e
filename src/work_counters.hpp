// Counts of the work whose cost grows with n (Gram formations, Xβ products) and of inner
// fits, so benchmarks can relate a fit's time to the arithmetic it did. Relaxed atomics:
// the counts are statistics, not synchronisation.
#pragma once

#include <atomic>
#include <cstdint>

namespace krelm {

struct WorkCounts {
  std::uint64_t gram_products = 0;    ///< XᵀWX formations
  std::uint64_t design_products = 0;  ///< Xβ (and Xᵀv) products
  std::uint64_t inner_fits = 0;
  std::uint64_t inner_iterations = 0;
};

/// Global counters, updated by the kernels and solvers.
struct WorkCounters {
  std::atomic<std::uint64_t> gram_products{0};
  std::atomic<std::uint64_t> design_products{0};
  std::atomic<std::uint64_t> inner_fits{0};
  std::atomic<std::uint64_t> inner_iterations{0};
};

WorkCounters& work_counters();

/// A snapshot of the counters.
[[nodiscard]] WorkCounts read_work_counts();
void reset_work_counts();

inline void count(std::atomic<std::uint64_t>& counter, std::uint64_t amount = 1) {
  counter.fetch_add(amount, std::memory_order_relaxed);
}

}  // namespace krelm
