#pragma once

#include "combatants/Attack.hpp"
#include "combatants/StatusBlock.hpp"

#include <string>
#include <utility>

namespace valdoria {

// What heroes and monsters share: the numbers a blow reads and changes, the
// statuses, and the basic attack. The record enforces no bound by itself.
class Combatant {
public:
  // --- record access ---
  std::string getName() const { return name; }
  int getHp() const { return hp; }
  int getMaxHp() const { return maxHp; }
  int getMp() const { return mp; }
  int getMaxMp() const { return maxMp; }
  int getAttackPower() const { return attackPower; }
  int getDefensePower() const { return defensePower; }

  void setHp(int value) { hp = value; }
  void setMaxHp(int value) { maxHp = value; }
  void setMp(int value) { mp = value; }
  void setMaxMp(int value) { maxMp = value; }
  void setAttackPower(int value) { attackPower = value; }
  void setDefensePower(int value) { defensePower = value; }

  StatusBlock& getStatus() { return status; }
  const StatusBlock& getStatus() const { return status; }
  bool isPoisoned() const { return status.isPoisoned(); }
  bool isEnhanced() const { return status.isEnhanced(); }
  bool isDefending() const { return status.isDefending(); }
  bool isDead() const { return status.isDead(); }
  int getPoisonCounter() const { return status.getPoisonCounter(); }
  int getEnhanceCounter() const { return status.getEnhanceCounter(); }
  void setPoisonCounter(int value) { status.setPoisonCounter(value); }
  void setEnhanceCounter(int value) { status.setEnhanceCounter(value); }

  PhysicalAttack& getBasicAttack() { return basicAttack; }
  const PhysicalAttack& getBasicAttack() const { return basicAttack; }

  // --- status effects, with their messages (defined with the combat rules) ---
  // The start-of-turn update: poison, end of enhancement, end of defending.
  void updateStatus();
  void setDefendStatus(bool on);
  void setEnhanceStatus(bool on);
  void setPoisonStatus(bool on);
  void setDeathStatus(bool on);

protected:
  Combatant() = default;
  ~Combatant() = default;
  Combatant(const Combatant&) = default;
  Combatant& operator=(const Combatant&) = default;

  void setName(std::string value) { name = std::move(value); }

  // Current and maximum values start equal.
  void setStats(int hitPoints, int magicPoints, int attack, int defense);

private:
  std::string name;
  int hp = 0;
  int maxHp = 0;
  int mp = 0;
  int maxMp = 0;
  int attackPower = 0;
  int defensePower = 0;
  StatusBlock status;
  PhysicalAttack basicAttack;
};

} // namespace valdoria
