#pragma once

namespace valdoria {

struct Party;

// The party's save files, one a hero in turn order: "Varen.txt",
// "Gorak.txt", "Mirel.txt" in the working directory. Both chains stop at the
// first hero that fails, so the heroes after it are neither loaded (they
// keep their default stats) nor saved (their files keep an earlier save).

// True when all three files loaded.
bool loadParty(const Party& party);

// True when all three files were saved.
bool saveParty(const Party& party);

} // namespace valdoria
