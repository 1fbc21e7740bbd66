#include "combat/AttackResolution.hpp"

#include "base/Console.hpp"
#include "base/SaturatingMath.hpp"
#include "combatants/Attack.hpp"
#include "combatants/Combatant.hpp"
#include "random/Random.hpp"

#include <cstdint>
#include <ostream>

namespace valdoria {

namespace {

constexpr std::uint32_t kInitialAttackSeedOffset = 3232;
std::uint32_t attackSeedOffset = kInitialAttackSeedOffset;

// The amount of a blow before its variation: 3 × (attack power + power)
// − defense power, never below 1.
int baseDamage(int attackPower, int power, int defensePower) {
  const int base = saturatingAdd(attackPower, power);
  const int amount = saturatingSubtract(saturatingMultiply(3, base), defensePower);
  return amount <= 0 ? 1 : amount;
}

// From −6 to +6; 0 comes from both branches.
int applyVariation(int amount) {
  const bool add = drawRandom() % 2 == 0;
  const int variation = drawRandom() % 7;
  return add ? saturatingAdd(amount, variation) : saturatingSubtract(amount, variation);
}

} // namespace

void performAttack(Combatant& attacker, Combatant& target, const Attack& attack) {
  seedRandomFromClock(attackSeedOffset);
  attackSeedOffset += static_cast<std::uint32_t>(drawRandom());

  int amount = applyVariation(
      baseDamage(attacker.getAttackPower(), attack.getPower(), target.getDefensePower()));
  // Crush takes a quarter of what the target has left, by name alone.
  if (attack.getName() == "Crush") {
    amount = target.getHp() / 4;
  }
  if (target.isDefending()) {
    amount /= 2;
  }

  const int newHp = saturatingSubtract(target.getHp(), amount);
  const int newMp = saturatingSubtract(attacker.getMp(), attack.getMpCost());
  attacker.setMp(newMp);
  target.setHp(newHp);

  consoleOut() << attacker.getName() << " does " << amount << " damage to " << target.getName()
               << " with " << attack.getName() << "!\n";

  if (target.getHp() <= 0) {
    target.setDeathStatus(true);
  }
}

void resetAttackSeedOffset() { attackSeedOffset = kInitialAttackSeedOffset; }

} // namespace valdoria
