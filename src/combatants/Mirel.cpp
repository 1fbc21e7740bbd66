#include "combatants/Mirel.hpp"

#include <cstdint>

namespace valdoria {

namespace {

constexpr std::uint32_t kInitialLevelUpOffset = 120;
std::uint32_t levelUpOffset = kInitialLevelUpOffset;

} // namespace

Mirel::Mirel() {
  setName("Mirel");
  setStats(900, 75, 40, 27);
}

const Attack& Mirel::getSpell(int index) const {
  if (index >= 1) {
    return surge;
  }
  return blaze;
}

void Mirel::levelUp() {
  static constexpr GrowthTable kGrowth{"Mirel", {230, 23, 10}, {13, 8, 3}, {8, 4, 3}, {6, 3, 1}};
  growOneLevel(kGrowth, levelUpOffset);
}

void resetMirelLevelUpOffset() { levelUpOffset = kInitialLevelUpOffset; }

} // namespace valdoria
