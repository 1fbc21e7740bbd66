#pragma once

// A monster owns its move set, which lives with the combat rules.
#include "combat/MoveSet.hpp"
#include "combatants/Monster.hpp"
#include "combatants/Spells.hpp"

namespace valdoria {

// The boss, met alone while Varen is at level 30.
class DreadColossus final : public Monster {
public:
  DreadColossus();
  void act(Combatant& target) override;

private:
  Crush crush;
  Oblivion oblivion;
  VoidPulse voidPulse;
  Starfall starfall;
  GlassStorm glassStorm;
  MoveSet6 moveSet;
};

} // namespace valdoria
