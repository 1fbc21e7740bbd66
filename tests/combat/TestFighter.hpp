#pragma once

#include "combatants/Attack.hpp"
#include "combatants/Combatant.hpp"

#include <string>
#include <utility>

namespace valdoria::testing {

// A bare combatant with chosen numbers, to strike and be struck outside a
// battle.
class Fighter : public Combatant {
public:
  Fighter(std::string fighterName, int hp, int mp, int attack, int defense) {
    setName(std::move(fighterName));
    setStats(hp, mp, attack, defense);
  }
};

// An action with any power and cost, including ones no kind owns.
class Blow : public Attack {
public:
  Blow(int power, int mpCost) : Attack("Blow", power, mpCost) {}
};

} // namespace valdoria::testing
