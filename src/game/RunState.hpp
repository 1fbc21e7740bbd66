#pragma once

#include "random/Clock.hpp"

#include <iosfwd>

namespace valdoria {

// What lives for one run of the program: the generator, the seed offsets of
// blows, monster turns and level-ups, the encounter generator's stored seed,
// the console and the clock. A process runs the game once; tests, fuzzers
// and benchmarks run it again and again, each time from this fresh start.

// Back to the start of a run on the process's own streams and clock.
void resetRunState();

// A fresh run that talks through in and out and is seeded from clock.
void startRun(std::istream& in, std::ostream& out, ClockSource clock);

} // namespace valdoria
