#include "combatants/Attack.hpp"

#include <utility>

namespace valdoria {

Attack::Attack(std::string name, int power, int mpCost)
    : name(std::move(name)), power(power), mpCost(mpCost) {}

PhysicalAttack::PhysicalAttack() : Attack("a physical attack", 10, 0) {}

} // namespace valdoria
