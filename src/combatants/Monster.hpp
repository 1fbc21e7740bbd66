#pragma once

#include "combatants/Combatant.hpp"
#include "combatants/MonsterSlots.hpp"

#include <string>
#include <utility>

namespace valdoria {

class MoveSet;

// A foe of the party. Each kind owns its special actions and a move set
// over them, which decides the monster's turn.
class Monster : public Combatant {
public:
  virtual ~Monster() = default;
  Monster(const Monster&) = delete;
  Monster& operator=(const Monster&) = delete;

  // Takes the monster's turn against the hero it targets.
  virtual void act(Combatant& target) = 0;

  int getExperienceReward() const { return experienceReward; }
  // The kind's actions in the order its turn weighs them.
  const MoveSet& getMoveSet() const { return *moveSet; }
  // Namesakes in one battle are told apart by lettered names.
  void setName(std::string value) { Combatant::setName(std::move(value)); }

protected:
  Monster() = default;

  // A kind's fixed numbers (current and maximum values start equal) and the
  // move set it owns.
  void describe(std::string displayName, int hitPoints, int magicPoints, int attack, int defense,
                int reward, const MoveSet& moves) {
    Combatant::setName(std::move(displayName));
    setStats(hitPoints, magicPoints, attack, defense);
    experienceReward = reward;
    moveSet = &moves;
  }

private:
  int experienceReward = 0;
  const MoveSet* moveSet = nullptr;
};

} // namespace valdoria
