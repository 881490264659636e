// Shared record filling (see the header).
#include "fit_record.hpp"

#include <cmath>

namespace krelm {

void record_search(FittedGam& record, const Vector& rho, std::size_t iters, double value,
                   std::size_t x_rows) {
  record.rho = rho;
  record.lambda = rho.unaryExpr([](double v) { return std::exp(v); });
  record.n = x_rows;
  record.n_iters = iters;
  record.reml_value = value;
}

bool record_is_finite(const FittedGam& record) {
  return record.beta.array().isFinite().all() && std::isfinite(record.reml_value);
}

}  // namespace krelm
