#pragma once

#include "combatants/MonsterSlots.hpp"

namespace valdoria {

struct Party;

enum class BattleResult { Won, Lost };

// Announces the result. A win grants every hero, dead or alive, the whole
// experience total, raises each by at most one level and saves the party.
void applyBattleOutcome(const Party& party, const MonsterSlots& monsters, int monsterCount,
                        BattleResult result);

} // namespace valdoria
