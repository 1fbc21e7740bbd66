#pragma once

#include "combatants/Hero.hpp"
#include "combatants/Spells.hpp"

namespace valdoria {

class Varen final : public Hero {
public:
  Varen();

  const Attack& getSpell(int index) const override;
  void levelUp() override;

  // Back to the level-up offset a fresh run starts with.
  static void resetLevelUpOffset();

private:
  Frost frost;
  Surge surge;
};

} // namespace valdoria
