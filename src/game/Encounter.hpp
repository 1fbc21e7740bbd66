#pragma once

#include "combatants/MonsterSlots.hpp"

namespace valdoria {

// The monsters of one battle in the order they were created; slots from
// count on are unused.
struct Encounter {
  MonsterSlots monsters{};
  int count = 0;
};

} // namespace valdoria
