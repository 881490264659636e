// log Γ, digamma and trigamma for the extended families and the Gamma scale. The fixed
// approximations below (Lanczos g = 7, asymptotic series after an upward shift to 6) are
// what the scores and shape estimates are calibrated against, to the last digits.
#pragma once

namespace krelm {

/// log Γ(x) by the Lanczos approximation, reflected below 0.5 (NaN where Γ(x) < 0).
[[nodiscard]] double ln_gamma(double x);

/// ψ(x) = d log Γ(x)/dx for x > 0.
[[nodiscard]] double digamma(double x);

/// ψ′(x) for x > 0.
[[nodiscard]] double trigamma(double x);

}  // namespace krelm
