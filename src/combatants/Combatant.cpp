#include "combatants/Combatant.hpp"

namespace valdoria {

void Combatant::setStats(int hitPoints, int magicPoints, int attack, int defense) {
  hp = hitPoints;
  maxHp = hitPoints;
  mp = magicPoints;
  maxMp = magicPoints;
  attackPower = attack;
  defensePower = defense;
}

} // namespace valdoria
