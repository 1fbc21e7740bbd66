#include "random/Random.hpp"

#include "random/Clock.hpp"

namespace valdoria {

namespace {

constexpr std::uint32_t kInitialState = 1;
constexpr std::uint32_t kMultiplier = 214013;
constexpr std::uint32_t kIncrement = 2531011;

std::uint32_t state = kInitialState;

} // namespace

void seedRandom(std::uint32_t seed) { state = seed; }

int drawRandom() {
  state = state * kMultiplier + kIncrement;
  return static_cast<int>((state >> 16) & 32767U);
}

void seedRandomFromClock(std::uint32_t offset) {
  // Truncating the seconds to 32 bits and adding wraps modulo 2^32.
  seedRandom(static_cast<std::uint32_t>(currentTime()) + offset);
}

void resetRandom() { state = kInitialState; }

} // namespace valdoria
