#include "combatants/DreadColossus.hpp"

namespace valdoria {

DreadColossus::DreadColossus()
    : moveSet(getBasicAttack(), crush, oblivion, voidPulse, starfall, glassStorm) {
  describe("Dread Colossus", 20000, 3000, 250, 50, 5000, moveSet);
}

void DreadColossus::act(Combatant& target) { moveSet.takeTurn(*this, target); }

} // namespace valdoria
