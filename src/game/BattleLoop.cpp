#include "game/BattleLoop.hpp"

#include "combatants/Hero.hpp"
#include "game/BattleOutcome.hpp"
#include "game/Party.hpp"
#include "random/Random.hpp"
#include "ui/Console.hpp"

#include <cstddef>
#include <ostream>
#include <string>

namespace valdoria {

namespace {

Monster& monsterAt(const MonsterSlots& monsters, int slot) {
  return *monsters.at(static_cast<std::size_t>(slot));
}

Hero& heroAt(const Party& party, int index) {
  return *party.heroes.at(static_cast<std::size_t>(index));
}

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

bool isNameTaken(const MonsterSlots& monsters, int monsterCount, const std::string& name) {
  for (int slot = 0; slot < monsterCount; ++slot) {
    if (monsterAt(monsters, slot).getName() == name) {
      return true;
    }
  }
  return false;
}

bool hasEarlierNamesake(const MonsterSlots& monsters, int slot) {
  const std::string name = monsterAt(monsters, slot).getName();
  for (int earlier = 0; earlier < slot; ++earlier) {
    if (monsterAt(monsters, earlier).getName() == name) {
      return true;
    }
  }
  return false;
}

// The first pair of namesakes: " A" and " B". Returns their old name, or
// an empty one when every name differs.
std::string letterFirstPair(const MonsterSlots& monsters, int monsterCount) {
  for (int i = 0; i < monsterCount; ++i) {
    for (int j = 0; j < monsterCount; ++j) {
      Monster& first = monsterAt(monsters, i);
      Monster& second = monsterAt(monsters, j);
      if (i == j || first.getName() != second.getName()) {
        continue;
      }
      std::string duplicate = first.getName();
      first.setName(duplicate + " A");
      second.setName(duplicate + " B");
      return duplicate;
    }
  }
  return {};
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

void letterNamesakes(const MonsterSlots& monsters, int monsterCount) {
  const std::string duplicate = letterFirstPair(monsters, monsterCount);
  if (monsterCount == 3 && !duplicate.empty()) {
    for (int slot = 0; slot < monsterCount; ++slot) {
      Monster& monster = monsterAt(monsters, slot);
      if (monster.getName() == duplicate) {
        monster.setName(duplicate + " C");
      }
    }
  }
  // Larger encounters can hold more namesakes: each later one gets the first
  // free letter, so a typed name always picks out one monster.
  for (int slot = 1; slot < monsterCount; ++slot) {
    if (!hasEarlierNamesake(monsters, slot)) {
      continue;
    }
    Monster& monster = monsterAt(monsters, slot);
    const std::string name = monster.getName();
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      const std::string lettered = name + " " + letter;
      if (!isNameTaken(monsters, monsterCount, lettered)) {
        monster.setName(lettered);
        break;
      }
    }
  }
}

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
