#pragma once

#include "combatants/MonsterSlots.hpp"

namespace valdoria {

struct Party;

// Fights one battle to its end: names the monsters apart, announces them,
// then alternates the heroes' and the monsters' turns until one side is
// wiped out, and applies the outcome. A battle whose input ends is
// abandoned: no more turns and no outcome.
void runBattleLoop(const Party& party, const MonsterSlots& monsters, int monsterCount);

} // namespace valdoria
