#pragma once

#include <string>

namespace valdoria {

// A named action a combatant can use: its power adds to the user's attack
// power, its cost comes off the user's MP.
class Attack {
public:
  Attack() = default;

  std::string getName() const { return name; }
  int getPower() const { return power; }
  int getMpCost() const { return mpCost; }

protected:
  Attack(std::string name, int power, int mpCost);

private:
  std::string name;
  int power = 0;
  int mpCost = 0;
};

// The plain attack every combatant can always use.
class PhysicalAttack : public Attack {
public:
  PhysicalAttack();
};

} // namespace valdoria
