#pragma once

#include <memory>

namespace valdoria {

class Monster;

// Picks the kind of one ordinary monster. It re-seeds the shared generator
// from a seed it keeps for the whole run, moved on by offset at every call.
std::unique_ptr<Monster> createRandomMonster(int offset);

// Forgets the kept seed, as at the start of a run.
void resetEncounterGenerator();

} // namespace valdoria
