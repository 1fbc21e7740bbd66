#pragma once

#include "combatants/Gorak.hpp"
#include "combatants/Mirel.hpp"
#include "combatants/MonsterRoster.hpp"
#include "combatants/Varen.hpp"
#include "game/Party.hpp"

namespace valdoria::testing {

// A hand-made battle: the default party against a Spinelet (100 HP,
// reward 31) and a Grimhorn (450 HP, reward 36).
struct TestBattle {
  Varen varen;
  Gorak gorak;
  Mirel mirel;
  Party party{{&varen, &gorak, &mirel}};
  Spinelet spinelet;
  Grimhorn grimhorn;
  MonsterSlots monsters{&spinelet, &grimhorn, nullptr, nullptr, nullptr};
};

} // namespace valdoria::testing
