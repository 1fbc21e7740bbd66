#pragma once

#include <cstdint>
#include <limits>

namespace valdoria {

// Game values are signed 32-bit. Every sum, difference and product is taken
// exactly and then held at the range's ends, so no value a save file can
// hold ever overflows.

constexpr int saturate(std::int64_t value) {
  constexpr std::int64_t low = std::numeric_limits<int>::min();
  constexpr std::int64_t high = std::numeric_limits<int>::max();
  if (value < low) {
    return static_cast<int>(low);
  }
  if (value > high) {
    return static_cast<int>(high);
  }
  return static_cast<int>(value);
}

// A product taken in double precision, truncated toward zero and held at the
// range's ends (converting a double outside the range would be undefined).
constexpr int truncateSaturated(double value) {
  if (value <= -2147483648.0) {
    return std::numeric_limits<int>::min();
  }
  if (value >= 2147483647.0) {
    return std::numeric_limits<int>::max();
  }
  return static_cast<int>(value);
}

constexpr int saturatingAdd(int a, int b) { return saturate(static_cast<std::int64_t>(a) + b); }

constexpr int saturatingSubtract(int a, int b) {
  return saturate(static_cast<std::int64_t>(a) - b);
}

constexpr int saturatingMultiply(int a, int b) {
  return saturate(static_cast<std::int64_t>(a) * b);
}

} // namespace valdoria
