#include "combatants/Hero.hpp"

#include "base/Console.hpp"
#include "base/SaturatingMath.hpp"
#include "random/Random.hpp"

#include <ostream>

namespace valdoria {

int Hero::getExperienceToNextLevel() const { return saturatingSubtract(toNextLevel, experience); }

void Hero::raiseToNextLevel() {
  toNextLevel =
      saturatingAdd(toNextLevel, truncateSaturated(static_cast<double>(toNextLevel) * 1.1));
}

void Hero::growOneLevel(const GrowthTable& table, std::uint32_t& seedOffset) {
  seedRandomFromClock(seedOffset);
  // This draw only moves the kind's offset on, so the next level-up in the
  // same second seeds differently.
  seedOffset += static_cast<std::uint32_t>(drawRandom());

  // Two draws per stat, in the order HP, MP, attack, defense.
  const auto drawGain = [](const Growth& growth) {
    const bool add = drawRandom() % 2 == 0;
    const int amount = drawRandom();
    return add ? growth.base + amount % growth.addModulus
               : growth.base - amount % growth.subtractModulus;
  };
  const int hpGain = drawGain(table.hp);
  const int mpGain = drawGain(table.mp);
  const int attackGain = drawGain(table.attack);
  const int defenseGain = drawGain(table.defense);

  level = saturatingAdd(level, 1);
  setMaxHp(saturatingAdd(getMaxHp(), hpGain));
  setMaxMp(saturatingAdd(getMaxMp(), mpGain));
  setAttackPower(saturatingAdd(getAttackPower(), attackGain));
  setDefensePower(saturatingAdd(getDefensePower(), defenseGain));

  consoleOut() << table.heroName << " gains a level!\n"
               << "Maximum HP increases by " << hpGain << "!\n"
               << "Maximum MP increases by " << mpGain << "!\n"
               << "Attack power increases by " << attackGain << "!\n"
               << "Defense power increases by " << defenseGain << "!\n\n";

  raiseToNextLevel();
}

} // namespace valdoria
