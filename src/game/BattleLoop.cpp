#include "game/BattleLoop.hpp"

#include "base/Console.hpp"
#include "combatants/Hero.hpp"
#include "combatants/Monster.hpp"
#include "game/BattleOutcome.hpp"
#include "game/Lettering.hpp"
#include "game/Party.hpp"
#include "random/Random.hpp"

#include <ostream>
#include <string>

namespace valdoria {

namespace {

int countLivingMonsters(const MonsterSlots& monsters, int monsterCount) {
  int living = 0;
  for (int slot = 0; slot < monsterCount; ++slot) {
    living += monsterAt(monsters, slot).isDead() ? 0 : 1;
  }
  return living;
}

int countLivingHeroes(const Party& party) {
  int living = 0;
  for (int index = 0; index < kPartySize; ++index) {
    living += heroAt(party, index).isDead() ? 0 : 1;
  }
  return living;
}

// The heroes' turns, in party order. True once victory is noticed, at the
// start of a living hero's turn.
bool playHeroesPhase(const Party& party, const MonsterSlots& monsters, int monsterCount) {
  for (int index = 0; index < kPartySize; ++index) {
    Hero& hero = heroAt(party, index);
    hero.updateStatus();
    if (hero.isDead()) {
      continue;
    }
    if (countLivingMonsters(monsters, monsterCount) == 0) {
      return true;
    }
    hero.mainMenu(monsters, monsterCount);
    if (hasInputEnded()) {
      return false;
    }
  }
  return false;
}

// One monster's turn. A target draw that hits a dead hero runs the whole
// turn again, status update included. False once defeat is noticed, at the
// start of a monster's turn.
bool playMonsterTurn(const Party& party, Monster& monster) {
  while (true) {
    const int livingHeroes = countLivingHeroes(party);
    monster.updateStatus();
    if (livingHeroes == 0) {
      return false;
    }
    if (monster.isDead()) {
      return true;
    }
    Hero& target = heroAt(party, drawRandom() % kPartySize);
    if (!target.isDead()) {
      monster.act(target);
      return true;
    }
  }
}

} // namespace

void runBattleLoop(const Party& party, const MonsterSlots& monsters, int monsterCount) {
  letterNamesakes(monsters, monsterCount);

  std::ostream& out = consoleOut();
  out << "You encountered: ";
  for (int slot = 0; slot < monsterCount; ++slot) {
    out << monsterAt(monsters, slot).getName() << (slot + 1 < monsterCount ? ", " : "\n");
  }

  seedRandomFromClock(0);
  while (true) {
    if (playHeroesPhase(party, monsters, monsterCount)) {
      applyBattleOutcome(party, monsters, monsterCount, BattleResult::Won);
      return;
    }
    if (hasInputEnded()) {
      return;
    }
    for (int slot = 0; slot < monsterCount; ++slot) {
      if (!playMonsterTurn(party, monsterAt(monsters, slot))) {
        applyBattleOutcome(party, monsters, monsterCount, BattleResult::Lost);
        return;
      }
    }
  }
}

} // namespace valdoria
