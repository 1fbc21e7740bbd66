// The status operations of every combatant: defending, enhancement, poison,
// defeat, and the update at the start of each turn.

#include "combatants/Combatant.hpp"

#include "base/Console.hpp"
#include "base/SaturatingMath.hpp"

#include <ostream>

namespace valdoria {

namespace {

constexpr int kPoisonTurns = 3;
constexpr int kEnhanceTurns = 3;

} // namespace

void Combatant::updateStatus() {
  if (isPoisoned()) {
    if (getPoisonCounter() == kPoisonTurns) {
      setPoisonStatus(false);
    } else {
      const int amount = maxHp / 20;
      hp = saturatingSubtract(hp, amount);
      consoleOut() << name << " takes " << amount << " damage from poison!\n";
      if (hp <= 0) {
        setDeathStatus(true);
      }
      setPoisonCounter(saturatingAdd(getPoisonCounter(), 1));
    }
  }
  // Enhancement runs out the way poison does, counted turn by turn.
  if (isEnhanced()) {
    if (getEnhanceCounter() == kEnhanceTurns) {
      setEnhanceStatus(false);
    } else {
      setEnhanceCounter(saturatingAdd(getEnhanceCounter(), 1));
    }
  }
  if (isDefending()) {
    setDefendStatus(false);
  }
}

void Combatant::setDefendStatus(bool on) {
  status.setDefending(on);
  if (on) {
    defensePower = saturatingMultiply(defensePower, 2);
    consoleOut() << name << " defends!\n";
    return;
  }
  defensePower /= 2;
  if (!isDead()) {
    consoleOut() << name << " stops defending.\n";
  }
}

void Combatant::setEnhanceStatus(bool on) {
  status.setEnhanced(on);
  if (on) {
    attackPower = saturatingMultiply(attackPower, 2);
    defensePower = saturatingMultiply(defensePower, 2);
    setEnhanceCounter(1);
    consoleOut() << name << " is enhanced!\n";
    return;
  }
  attackPower /= 2;
  defensePower /= 2;
  if (!isDead()) {
    setEnhanceCounter(0);
    consoleOut() << name << " is no longer enhanced.\n";
  }
}

void Combatant::setPoisonStatus(bool on) {
  status.setPoisoned(on);
  if (on) {
    setPoisonCounter(1);
    consoleOut() << name << " is poisoned!\n";
    return;
  }
  if (!isDead()) {
    setPoisonCounter(0);
    consoleOut() << name << " is no longer poisoned.\n";
  }
}

void Combatant::setDeathStatus(bool on) {
  status.setDead(on);
  if (!on) {
    return;
  }
  hp = 0;
  // Already marked dead, so the statuses end without their messages.
  if (isPoisoned()) {
    setPoisonStatus(false);
    setPoisonCounter(0);
  }
  if (isEnhanced()) {
    setEnhanceStatus(false);
  }
  if (isDefending()) {
    setDefendStatus(false);
  }
  consoleOut() << name << " dies!\n";
}

} // namespace valdoria
