#pragma once

namespace valdoria {

struct Party;

// The party's save files, one a hero in turn order: "Varen.txt",
// "Gorak.txt", "Mirel.txt" in the working directory. Both chains stop at the
// first hero that fails, so the heroes after it are neither loaded (they
// keep their default stats) nor saved (their files keep an earlier save).
// Two games in one directory load and save one whole party at a time.

// True when all three files loaded; the party records how many did.
bool loadParty(Party& party);

// True when all three files were saved. A file holding anything the game
// has not seen (one it could not load, or one another game wrote since) is
// kept as a copy before it is replaced.
bool saveParty(const Party& party);

// Forgets what this run saw of the files.
void resetPartyFiles();

} // namespace valdoria
