// The byte frame of a persisted fit: a 17-byte header (the magic "KRELM", format version 1
// as u32 LE, body length d as u64 LE) followed by the d-byte compact JSON body. This is
// the public face of persistence; the Python methods serialize, deserialize and
// __reduce__ use only these two functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "../../error.hpp"
#include "../fitted_gam.hpp"

namespace krelm {

inline constexpr std::size_t frame_header_bytes = 17;
inline constexpr std::uint32_t frame_format_version = 1;

/// The frame of `fit`: exactly 17 + d bytes. Every finite number reads back bit for bit; a
/// NaN or an infinity is written as null (which reads back as NaN). Never fails for records
/// built by this system; the error slot is "FittedGam::serialize: JSON encode failed: …".
[[nodiscard]] Expected<std::string> serialize_fit(const FittedGam& fit);

/// Rebuilds a record from a frame; bytes after 17 + d are ignored. Every error is an
/// InvalidParameter, checked in this order: "buffer too short", "bad magic", "unsupported
/// format_version", "length overflow", "truncated body", "JSON decode failed at byte {pos}:
/// {detail} at line {line} column {column}", "inconsistent record: {what}" (each prefixed
/// "FittedGam::deserialize: "). No input, however damaged, reads out of bounds or
/// allocates beyond a constant multiple of its own size.
[[nodiscard]] Expected<FittedGam> deserialize_fit(std::string_view bytes);

}  // namespace krelm
