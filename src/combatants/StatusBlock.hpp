#pragma once

namespace valdoria {

// The statuses of one combatant: plain stores, no game rule. The rules that
// switch a status on and off with its effects live on Combatant.
class StatusBlock {
public:
  bool isPoisoned() const { return poisoned; }
  int getPoisonCounter() const { return poisonCounter; }
  bool isEnhanced() const { return enhanced; }
  int getEnhanceCounter() const { return enhanceCounter; }
  bool isDefending() const { return defending; }
  bool isDead() const { return dead; }

  void setPoisoned(bool value) { poisoned = value; }
  void setPoisonCounter(int value) { poisonCounter = value; }
  void setEnhanced(bool value) { enhanced = value; }
  void setEnhanceCounter(int value) { enhanceCounter = value; }
  void setDefending(bool value) { defending = value; }
  void setDead(bool value) { dead = value; }

private:
  bool poisoned = false;
  int poisonCounter = 0;
  bool enhanced = false;
  int enhanceCounter = 0;
  bool defending = false;
  bool dead = false;
};

} // namespace valdoria
