#pragma once

#include <string>

namespace valdoria {

class Hero;

// A hero's progress between battles: seven numbers, each followed by one
// blank, no line end: maximum HP, maximum MP, attack power, defense power,
// level, experience and the next level's threshold.
//
// A link at the name is followed, except one planted in a shared sticky
// directory by another user; anything but a regular file at the end of it
// (a directory, a pipe, a device) is neither loaded nor saved.

// Writes the file whole and flushed to disk, keeping an existing file's
// owner, group and permissions; false when anything on the way fails. An
// existing file is replaced, so a failure leaves the old content, except where
// it can only be written in place (see writeSaveFile).
bool saveHero(const Hero& hero, const std::string& fileName);

// False, with the hero unchanged, unless the file yields seven numbers.
// A loaded hero starts at full HP and MP.
bool loadHero(Hero& hero, const std::string& fileName);

} // namespace valdoria
