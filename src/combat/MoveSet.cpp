#include "combat/MoveSet.hpp"

#include "combat/AttackResolution.hpp"
#include "combatants/Combatant.hpp"
#include "random/Random.hpp"

#include <cstdint>
#include <limits>

namespace valdoria {

namespace {

constexpr int kInitialMoveSeedOffset = 31;
int moveSeedOffset = kInitialMoveSeedOffset;

// Re-seeds for this turn and moves the offset on by at most its own value;
// past the 32-bit range it starts over, so it never becomes a zero or
// negative modulus.
void reseedForTurn() {
  seedRandomFromClock(static_cast<std::uint32_t>(moveSeedOffset));
  const std::int64_t next =
      static_cast<std::int64_t>(moveSeedOffset) + drawRandom() % moveSeedOffset + 1;
  moveSeedOffset =
      next > std::numeric_limits<int>::max() ? kInitialMoveSeedOffset : static_cast<int>(next);
}

// The late defend roll is likelier once the monster is down to a quarter.
bool rollsLateDefend(const Combatant& user) {
  const int limit = user.getHp() > user.getMaxHp() / 4 ? 10 : 8;
  return drawRandom() % limit == 0;
}

} // namespace

void MoveSet::takeTurn(Combatant& user, Combatant& target) const {
  // The first defend roll continues the sequence from before the re-seed.
  const bool defendsAtOnce = drawRandom() % 6 == 0;
  reseedForTurn();
  if (defendsAtOnce) {
    user.setDefendStatus(true);
    return;
  }

  // Each affordable action stronger than the current choice gets a coin flip.
  int best = 0;
  int chosen = -1;
  for (int index = 0; index < count; ++index) {
    const Attack& attack = getAttack(index);
    if (attack.getPower() <= best || attack.getMpCost() >= user.getMp()) {
      continue;
    }
    if (drawRandom() % 2 == 0) {
      best = attack.getPower();
      chosen = index;
      drawRandom();
    }
  }

  if (rollsLateDefend(user)) {
    user.setDefendStatus(true);
    return;
  }
  if (chosen < 0) {
    // The first special action, whatever it costs; a lone basic attack
    // for a monster without specials.
    chosen = count >= 2 ? 1 : 0;
  }
  performAttack(user, target, getAttack(chosen));
}

void resetMoveSeedOffset() { moveSeedOffset = kInitialMoveSeedOffset; }

MoveSet1::MoveSet1(const Attack& basic) : MoveSet(1), attacks{&basic} {}

const Attack& MoveSet1::getAttack(int index) const { return attackAt(attacks, index); }

MoveSet2::MoveSet2(const Attack& basic, const Attack& special)
    : MoveSet(2), attacks{&basic, &special} {}

const Attack& MoveSet2::getAttack(int index) const { return attackAt(attacks, index); }

MoveSet3::MoveSet3(const Attack& basic, const Attack& first, const Attack& second)
    : MoveSet(3), attacks{&basic, &first, &second} {}

const Attack& MoveSet3::getAttack(int index) const { return attackAt(attacks, index); }

MoveSet4::MoveSet4(const Attack& basic, const Attack& first, const Attack& second,
                   const Attack& third)
    : MoveSet(4), attacks{&basic, &first, &second, &third} {}

const Attack& MoveSet4::getAttack(int index) const { return attackAt(attacks, index); }

MoveSet6::MoveSet6(const Attack& basic, const Attack& first, const Attack& second,
                   const Attack& third, const Attack& fourth, const Attack& fifth)
    : MoveSet(6), attacks{&basic, &first, &second, &third, &fourth, &fifth} {}

const Attack& MoveSet6::getAttack(int index) const { return attackAt(attacks, index); }

} // namespace valdoria
