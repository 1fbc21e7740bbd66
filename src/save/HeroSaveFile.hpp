#pragma once

#include "save/SmallFile.hpp"

#include <string>

namespace valdoria {

class Hero;

// A hero's progress between battles: seven numbers, each followed by one
// blank, no line end: maximum HP, maximum MP, attack power, defense power,
// level, experience and the next level's threshold.
//
// Saving is false when anything on the way fails, and the file then holds
// its old or its new record; with OldBytes::Kept its bytes go to NAME.bak.
bool saveHero(const Hero& hero, const std::string& fileName, OldBytes old = OldBytes::Dropped,
              const FileCalls& calls = systemFileCalls());

// False, the hero unchanged, unless the file yields seven numbers; a loaded
// hero starts at full HP and MP.
bool loadHero(Hero& hero, const std::string& fileName);

} // namespace valdoria
