#include "combatants/Gorak.hpp"

#include <cstdint>

namespace valdoria {

namespace {

constexpr std::uint32_t kInitialLevelUpOffset = 43;
std::uint32_t levelUpOffset = kInitialLevelUpOffset;

} // namespace

Gorak::Gorak() {
  setName("Gorak");
  setStats(1300, 50, 51, 28);
}

const Attack& Gorak::getSpell(int index) const {
  if (index >= 1) {
    return spark;
  }
  return blaze;
}

void Gorak::levelUp() {
  static constexpr GrowthTable kGrowth{"Gorak", {300, 30, 10}, {10, 5, 3}, {11, 5, 2}, {8, 3, 2}};
  growOneLevel(kGrowth, levelUpOffset);
}

void resetGorakLevelUpOffset() { levelUpOffset = kInitialLevelUpOffset; }

} // namespace valdoria
