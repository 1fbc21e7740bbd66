#pragma once

#include "combatants/Combatant.hpp"
#include "combatants/MonsterSlots.hpp"

#include <cstdint>

namespace valdoria {

// A member of the party. Each kind brings two spells and its own growth;
// a hero's turn is played through the four menus below.
class Hero : public Combatant {
public:
  virtual ~Hero() = default;
  Hero(const Hero&) = delete;
  Hero& operator=(const Hero&) = delete;

  // --- kind-specific ---
  // Index 1 or more gives the second spell, 0 or less the first.
  virtual const Attack& getSpell(int index) const = 0;
  // Raises the hero exactly one level with the kind's growth.
  virtual void levelUp() = 0;

  // --- progress ---
  int getLevel() const { return level; }
  int getExperience() const { return experience; }
  int getToNextLevel() const { return toNextLevel; }
  int getSpellCount() const { return spellCount; }
  // The experience still missing for the next level.
  int getExperienceToNextLevel() const;

  void setLevel(int value) { level = value; }
  void setExperience(int value) { experience = value; }
  void setToNextLevel(int value) { toNextLevel = value; }
  // Adds a tenth more than the threshold itself: 100, 210, 441, 926...
  void raiseToNextLevel();

  // --- menus: one hero's turn (defined with the player interface) ---
  void mainMenu(const MonsterSlots& monsters, int monsterCount);
  bool monsterSelectMenu(const MonsterSlots& monsters, int monsterCount, const Attack& attack);
  bool magicSelectMenu(const MonsterSlots& monsters, int monsterCount);
  void statusMenu() const;

protected:
  // How one stat grows at a level-up: the base, then plus a draw modulo
  // addModulus on an even coin, minus a draw modulo subtractModulus on an odd.
  struct Growth {
    int base;
    int addModulus;
    int subtractModulus;
  };

  struct GrowthTable {
    const char* heroName;
    Growth hp;
    Growth mp;
    Growth attack;
    Growth defense;
  };

  Hero() = default;

  // The level-up every kind shares; seedOffset is the kind's own offset,
  // which lives for the whole run.
  void growOneLevel(const GrowthTable& table, std::uint32_t& seedOffset);

private:
  int level = 1;
  int experience = 0;
  int toNextLevel = 100;
  int spellCount = 2;
};

} // namespace valdoria
