#pragma once

#include <string>
#include <vector>

namespace valdoria {

struct Party;

// The party's save files, one a hero in turn order: "Varen.txt",
// "Gorak.txt", "Mirel.txt" in the working directory. Both chains stop at the
// first hero that fails, so the heroes after it are neither loaded (they
// keep their default stats) nor saved (their files keep an earlier save).
// Two games in one directory load and save one whole party at a time.

// The three names, in turn order.
const std::vector<std::string>& partyFileNames();

// True when all three files loaded; the party records how many did.
bool loadParty(Party& party);

// True when all three files were saved. A file holding anything the game
// has not seen (one it could not load, or one another game wrote since) is
// kept as a copy before it is replaced.
bool saveParty(const Party& party);

// The heroes' files found in `folder` (any of the three) put in place of
// the party's, all or none, as one party's save: what they replace is kept
// as a copy first. True when all were put in place.
bool replacePartyFiles(const std::string& folder);

// Forgets what this run saw of the files.
void resetPartyFiles();

} // namespace valdoria
