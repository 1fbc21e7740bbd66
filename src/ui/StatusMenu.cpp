// The hero's full record; viewing it does not use the turn.

#include "combatants/Hero.hpp"

#include "base/Console.hpp"

#include <ostream>
#include <string>

namespace valdoria {

void Hero::statusMenu() const {
  std::ostream& out = consoleOut();
  out << "\nSTATUS MENU\n"
      << "Name         : " << getName() << "\n"
      << "Level        : " << level << "\n"
      << "Experience   : " << experience << "\n"
      << "To Next Level: " << getExperienceToNextLevel() << "\n"
      << "HP           : " << getHp() << " / " << getMaxHp() << "\n"
      << "MP           : " << getMp() << " / " << getMaxMp() << "\n"
      << "Attack Power : " << getAttackPower() << "\n"
      << "Defense Power: " << getDefensePower() << "\n"
      << "Status       : ";
  if (isPoisoned()) {
    out << "POISONED ";
  }
  if (isEnhanced()) {
    out << "ENHANCED ";
  }
  if (!isPoisoned() && !isEnhanced()) {
    out << "NORMAL";
  }
  out << "\n\n"
      << "BACK to return to previous menu.\n\n";

  std::string line;
  while (true) {
    out << "Status menu: ";
    if (!readLine(line) || line == "BACK") {
      return;
    }
  }
}

} // namespace valdoria
