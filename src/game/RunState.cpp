#include "game/RunState.hpp"

#include "base/Console.hpp"
#include "combat/AttackResolution.hpp"
#include "combat/MoveSet.hpp"
#include "combatants/EncounterGenerator.hpp"
#include "combatants/Gorak.hpp"
#include "combatants/Mirel.hpp"
#include "combatants/Varen.hpp"
#include "game/PartyFiles.hpp"
#include "random/Random.hpp"

#include <utility>

namespace valdoria {

void resetRunState() {
  resetRandom();
  resetAttackSeedOffset();
  resetMoveSeedOffset();
  resetEncounterGenerator();
  resetVarenLevelUpOffset();
  resetGorakLevelUpOffset();
  resetMirelLevelUpOffset();
  resetPartyFiles();
  resetConsole();
  resetClock();
}

void startRun(std::istream& in, std::ostream& out, ClockSource clock) {
  resetRunState();
  setConsole(in, out);
  setClock(std::move(clock));
}

} // namespace valdoria
