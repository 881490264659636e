// The single path for broken invariants (see the header).
#include "internal_fault.hpp"

#include <atomic>
#include <cstdlib>

namespace krelm {

namespace {
std::atomic<InternalFaultHandler> installed_handler{nullptr};
}  // namespace

void set_internal_fault_handler(InternalFaultHandler handler) { installed_handler.store(handler); }

void internal_fault(const std::string& message) {
  if (const auto handler = installed_handler.load(); handler != nullptr) {
    handler(message);
  }
  std::abort();
}

}  // namespace krelm
