#pragma once

namespace valdoria {

// The banner, then a battle for every "yes", then the summary. Returns the
// program's exit status.
int runMainLoop();

// Puts back everything that lives for a run: the generator, the seed
// offsets, the encounter generator's seed and the console's end of input.
void resetRunState();

} // namespace valdoria
