#include "game/Lettering.hpp"

#include "combatants/Monster.hpp"

#include <string>

namespace valdoria {

namespace {

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

} // namespace valdoria
