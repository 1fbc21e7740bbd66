// Choosing the target of a blow by typing the monster's name as listed.

#include "combatants/Hero.hpp"

#include "base/Console.hpp"
#include "combat/AttackResolution.hpp"
#include "combatants/Monster.hpp"

#include <ostream>
#include <string>

namespace valdoria {

namespace {

void listLivingMonsters(std::ostream& out, const MonsterSlots& monsters, int monsterCount) {
  out << "\nMONSTER SELECT MENU\n";
  for (int slot = 0; slot < monsterCount; ++slot) {
    const Monster& monster = monsterAt(monsters, slot);
    if (monster.isDead()) {
      continue;
    }
    out << monster.getName() << " - " << monster.getHp() << " HP, " << monster.getMp() << " MP ";
    if (monster.isPoisoned()) {
      out << "POISONED ";
    }
    if (monster.isEnhanced()) {
      out << "ENHANCED ";
    }
    if (monster.isDefending()) {
      out << "DEFENDING";
    }
    out << "\n";
  }
  out << "BACK to return to previous menu.\n\n";
}

} // namespace

bool Hero::monsterSelectMenu(const MonsterSlots& monsters, int monsterCount, const Attack& attack) {
  std::ostream& out = consoleOut();
  listLivingMonsters(out, monsters, monsterCount);

  std::string line;
  while (true) {
    out << "Monster select menu: ";
    if (!readLine(line)) {
      return false;
    }
    for (int slot = 0; slot < monsterCount; ++slot) {
      Monster& monster = monsterAt(monsters, slot);
      if (line == monster.getName()) {
        if (!monster.isDead()) {
          performAttack(*this, monster, attack);
          return true;
        }
        // A dead namesake blocks the rest of the scan.
        out << "The target is dead. ";
        line.clear();
      } else if (line == "BACK") {
        return false;
      }
    }
    out << "Invalid monster name.\n";
  }
}

} // namespace valdoria
