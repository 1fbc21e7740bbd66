#pragma once

namespace valdoria {

// Runs one whole battle: builds the party from the save files where it can,
// draws the encounter, fights it out and destroys everything afterwards.
void runBattle();

} // namespace valdoria
