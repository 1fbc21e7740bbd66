#pragma once

#include <string>

namespace valdoria {

class Hero;

// A hero's progress between battles: seven numbers, each followed by one
// blank, no line end: maximum HP, maximum MP, attack power, defense power,
// level, experience and the next level's threshold.

// Replaces the file as a whole, or leaves the old one untouched: false when
// anything on the way fails.
bool saveHero(const Hero& hero, const std::string& fileName);

// False, with the hero unchanged, unless the file yields seven numbers.
// A loaded hero starts at full HP and MP.
bool loadHero(Hero& hero, const std::string& fileName);

} // namespace valdoria
