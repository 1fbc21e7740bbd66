#include "game/BattleOutcome.hpp"

#include "combatants/Hero.hpp"
#include "combatants/SaturatingMath.hpp"
#include "game/Party.hpp"
#include "save/DeferredSignals.hpp"
#include "save/HeroSaveFile.hpp"
#include "ui/Console.hpp"

#include <cstddef>
#include <ostream>

namespace valdoria {

namespace {

int sumExperienceRewards(const MonsterSlots& monsters, int monsterCount) {
  int total = 0;
  for (int slot = 0; slot < monsterCount; ++slot) {
    total =
        saturatingAdd(total, monsters.at(static_cast<std::size_t>(slot))->getExperienceReward());
  }
  return total;
}

// Statuses end before the save, so the files hold the undoubled powers.
void rewardHero(Hero& hero, int total) {
  if (hero.isEnhanced()) {
    hero.setEnhanceStatus(false);
  }
  if (hero.isDefending()) {
    hero.setDefendStatus(false);
  }
  hero.setExperience(saturatingAdd(hero.getExperience(), total));
  if (hero.getToNextLevel() <= hero.getExperience()) {
    hero.levelUp();
  }
}

// Stops at the first hero that cannot be saved. A signal that would end the
// program waits until the whole party is saved, so the files never mix the
// heroes of two battles.
bool saveParty(const Party& party) {
  const DeferredSignals deferred;
  for (std::size_t index = 0; index < party.heroes.size(); ++index) {
    if (!saveHero(*party.heroes.at(index), kSaveFileNames.at(index))) {
      return false;
    }
  }
  return true;
}

} // namespace

void applyBattleOutcome(const Party& party, const MonsterSlots& monsters, int monsterCount,
                        BattleResult result) {
  std::ostream& out = consoleOut();
  if (result == BattleResult::Lost) {
    out << "You lost the battle...\n\n";
    return;
  }

  out << "\nCongratulations! You won the battle!\n";
  const int total = sumExperienceRewards(monsters, monsterCount);
  out << "You gained " << total << " experience points.\n\n";
  for (Hero* hero : party.heroes) {
    rewardHero(*hero, total);
  }
  out << (saveParty(party) ? "Data saved.\n\n" : "Unable to save data.\n\n");
}

} // namespace valdoria
