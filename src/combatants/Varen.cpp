#include "combatants/Varen.hpp"

#include <cstdint>

namespace valdoria {

namespace {

constexpr std::uint32_t kInitialLevelUpOffset = 211;
std::uint32_t levelUpOffset = kInitialLevelUpOffset;

} // namespace

Varen::Varen() {
  setName("Varen");
  setStats(1000, 60, 43, 29);
}

const Attack& Varen::getSpell(int index) const {
  if (index >= 1) {
    return surge;
  }
  return frost;
}

void Varen::levelUp() {
  static constexpr GrowthTable kGrowth{"Varen", {250, 25, 10}, {11, 6, 3}, {9, 4, 2}, {8, 3, 1}};
  growOneLevel(kGrowth, levelUpOffset);
}

void resetVarenLevelUpOffset() { levelUpOffset = kInitialLevelUpOffset; }

} // namespace valdoria
