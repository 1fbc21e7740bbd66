#include "game/MainLoop.hpp"

#include "base/Console.hpp"
#include "base/SaturatingMath.hpp"
#include "game/BattleSetup.hpp"
#include "game/Version.hpp"

#include <ostream>
#include <string>

namespace valdoria {

int runMainLoop() {
  std::ostream& out = consoleOut();
  out << "VALDORIA BATTLE\n"
      << "Version " << kVersion << "\n\n"
      << "NOTE: Capitalization is important! Type the commands and names as you see them.\n\n";

  int battleCount = 0;
  std::string answer;
  while (true) {
    out << (battleCount == 0 ? "Fight a battle (yes/no)? " : "Fight another battle (yes/no)? ");
    // The end of input answers like any word other than "yes".
    const bool answered = readWord(answer);
    out << "\n";
    if (!answered || answer != "yes") {
      break;
    }
    runBattle();
    if (hasInputEnded()) {
      // An abandoned battle is not counted.
      out << "\n";
      break;
    }
    battleCount = saturatingAdd(battleCount, 1);
  }

  out << "You fought " << battleCount << (battleCount == 1 ? " battle. " : " battles. ")
      << "Exiting program...\n";
  out.flush();
  return 0;
}

} // namespace valdoria
