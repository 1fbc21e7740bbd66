#pragma once

#include "save/SmallFile.hpp"

#include <optional>
#include <string>

namespace valdoria {

class Hero;

// A hero's progress between battles: seven numbers, each followed by one
// blank, no line end: maximum HP, maximum MP, attack power, defense power,
// level, experience and the next level's threshold.
//
// Saving is false when anything on the way fails, and the file then holds
// its old or its new record; `seen` as for replaceSmallFile.
bool saveHero(const Hero& hero, const std::string& fileName,
              std::optional<FileStamp>* seen = nullptr);

// False, the hero unchanged, unless the file yields seven numbers; a loaded
// hero starts at full HP and MP. `loaded` stamps the file read.
bool loadHero(Hero& hero, const std::string& fileName, FileStamp* loaded = nullptr);

} // namespace valdoria
