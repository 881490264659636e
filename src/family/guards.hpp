// The floors and clamps shared by the family pieces. Their NaN behaviour is deliberate:
// a floor replaces NaN by the floor, the probability clamp lets NaN through.
#pragma once

namespace krelm {

/// max(value, floor); a NaN value gives the floor.
[[nodiscard]] constexpr double floor_at(double value, double floor) {
  return value >= floor ? value : floor;
}

/// min(value, ceiling); a NaN value gives the ceiling.
[[nodiscard]] constexpr double ceiling_at(double value, double ceiling) {
  return value <= ceiling ? value : ceiling;
}

/// value held in [low, high]; a NaN value stays NaN.
[[nodiscard]] constexpr double clamp_keeping_nan(double value, double low, double high) {
  if (value < low) {
    return low;
  }
  if (value > high) {
    return high;
  }
  return value;
}

}  // namespace krelm
