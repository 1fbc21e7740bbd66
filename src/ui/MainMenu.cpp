// A hero's turn: the header, the commands, and the loop until one of them
// uses the turn up.

#include "combatants/Hero.hpp"

#include "base/Console.hpp"

#include <ostream>
#include <string>

namespace valdoria {

void Hero::mainMenu(const MonsterSlots& monsters, int monsterCount) {
  std::ostream& out = consoleOut();
  out << "\n"
      << getName() << "\tLV" << level << "\n"
      << "---------------\n"
      << "HP: " << getHp() << " / " << getMaxHp() << "\n"
      << "MP: " << getMp() << " / " << getMaxMp() << "\n\n"
      << "MAIN MENU\nAttack\nDefend\nMagic\nStatus\n\n";

  std::string command;
  while (true) {
    out << "Main menu: ";
    if (!readCommandWord(command)) {
      return;
    }
    if (command == "Defend") {
      setDefendStatus(true);
      return;
    }
    bool turnUsed = false;
    if (command == "Attack") {
      turnUsed = monsterSelectMenu(monsters, monsterCount, getBasicAttack());
    }
    if (command == "Magic") {
      turnUsed = magicSelectMenu(monsters, monsterCount);
    }
    if (command == "Status") {
      statusMenu();
    }
    // Backing out, viewing the status or any other word keeps the turn.
    if (turnUsed || hasInputEnded()) {
      return;
    }
  }
}

} // namespace valdoria
