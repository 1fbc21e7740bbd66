#pragma once

#include "combatants/MonsterSlots.hpp"

namespace valdoria {

// Gives monsters that share a name distinct names before they are announced,
// so that a typed name always picks out one monster: the first pair of
// namesakes becomes " A" and " B" (and " C" for a third in a battle of
// three); any further namesake gets the first letter still free.
void letterNamesakes(const MonsterSlots& monsters, int monsterCount);

} // namespace valdoria
