#pragma once

#include "combatants/Hero.hpp"
#include "combatants/Spells.hpp"

namespace valdoria {

class Varen final : public Hero {
public:
  Varen();

  const Attack& getSpell(int index) const override;
  void levelUp() override;

private:
  Frost frost;
  Surge surge;
};

// Back to the level-up offset a fresh run starts with.
void resetVarenLevelUpOffset();

} // namespace valdoria
