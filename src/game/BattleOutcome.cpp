#include "game/BattleOutcome.hpp"

#include "base/Console.hpp"
#include "base/SaturatingMath.hpp"
#include "combatants/Hero.hpp"
#include "combatants/Monster.hpp"
#include "game/Party.hpp"
#include "game/PartyFiles.hpp"

#include <ostream>

namespace valdoria {

namespace {

int sumExperienceRewards(const MonsterSlots& monsters, int monsterCount) {
  int total = 0;
  for (int slot = 0; slot < monsterCount; ++slot) {
    total = saturatingAdd(total, monsterAt(monsters, slot).getExperienceReward());
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
