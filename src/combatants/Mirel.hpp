#pragma once

#include "combatants/Hero.hpp"
#include "combatants/Spells.hpp"

namespace valdoria {

class Mirel final : public Hero {
public:
  Mirel();

  const Attack& getSpell(int index) const override;
  void levelUp() override;

private:
  Blaze blaze;
  Surge surge;
};

// Back to the level-up offset a fresh run starts with.
void resetMirelLevelUpOffset();

} // namespace valdoria
