// Choosing one of the hero's spells; the target is then chosen as for a
// plain attack.

#include "combatants/Hero.hpp"

#include "base/Console.hpp"

#include <ostream>
#include <string>

namespace valdoria {

bool Hero::magicSelectMenu(const MonsterSlots& monsters, int monsterCount) {
  std::ostream& out = consoleOut();
  out << "\nMAGIC SELECT MENU\n";
  for (int index = 0; index < spellCount; ++index) {
    const Attack& spell = getSpell(index);
    out << spell.getName() << " - " << spell.getMpCost() << " MP ";
    if (spell.getMpCost() > getMp()) {
      out << " NOT ENOUGH MP";
    }
    out << "\n";
  }
  out << "BACK to return to previous menu.\n\n";

  std::string word;
  while (true) {
    out << "Magic select menu: ";
    if (!readCommandWord(word)) {
      return false;
    }
    for (int index = 0; index < spellCount; ++index) {
      const Attack& spell = getSpell(index);
      if (word != spell.getName()) {
        if (word == "BACK") {
          return false;
        }
        continue;
      }
      // Casting needs more MP than the cost: a spell costing exactly the MP
      // left is listed as affordable yet refused.
      if (spell.getMpCost() >= getMp()) {
        out << "Not enough MP. ";
        word.clear();
        continue;
      }
      if (monsterSelectMenu(monsters, monsterCount, spell)) {
        return true;
      }
      // Backing out of the target goes on with the scan.
      if (hasInputEnded()) {
        return false;
      }
    }
    out << "Invalid spell name. ";
  }
}

} // namespace valdoria
