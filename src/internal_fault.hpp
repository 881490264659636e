// Broken invariants are bugs, not error values. The core reports them here; the
// bindings install the handler that turns them into the module's internal-fault
// exception. Without a handler (C++ tests, sanitizer runs) the process aborts.
#pragma once

#include <string>

namespace krelm {

using InternalFaultHandler = void (*)(const std::string& message);

/// Installs the handler called by internal_fault; it must not return.
void set_internal_fault_handler(InternalFaultHandler handler);

/// Reports a broken invariant. Never returns.
[[noreturn]] void internal_fault(const std::string& message);

}  // namespace krelm
