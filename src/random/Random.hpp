#pragma once

#include <cstdint>

namespace valdoria {

// The one generator the whole game shares. Every seeding and every draw
// happens at a fixed point of play, so sessions replay exactly.

// Sets the generator's state.
void seedRandom(std::uint32_t seed);

// Advances the state and returns a number from 0 to 32767.
int drawRandom();

// Seeds from the clock: current time in seconds plus offset, modulo 2^32.
void seedRandomFromClock(std::uint32_t offset);

// Back to the state a fresh run starts with.
void resetRandom();

} // namespace valdoria
