#pragma once

namespace valdoria {

class Attack;
class Combatant;

// Resolves one blow: damage with its variation, the Crush rule, halving for
// a defender, the MP cost, the blow's line and a defeat.
void performAttack(Combatant& attacker, Combatant& target, const Attack& attack);

// Back to the blow seed offset a fresh run starts with.
void resetAttackSeedOffset();

} // namespace valdoria
