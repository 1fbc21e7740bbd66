#pragma once

#include "combatants/Hero.hpp"
#include "combatants/Spells.hpp"

namespace valdoria {

class Gorak final : public Hero {
public:
  Gorak();

  const Attack& getSpell(int index) const override;
  void levelUp() override;

private:
  Blaze blaze;
  Spark spark;
};

// Back to the level-up offset a fresh run starts with.
void resetGorakLevelUpOffset();

} // namespace valdoria
