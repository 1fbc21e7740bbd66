#include "save/HeroSaveFile.hpp"

#include "combatants/Hero.hpp"
#include "save/DescriptorReadBuffer.hpp"
#include "save/FileDescriptor.hpp"
#include "save/SaveFileWriting.hpp"
#include "save/SaveLocation.hpp"

#include <array>
#include <istream>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>

namespace valdoria {

namespace {

constexpr int kFieldCount = 7;

std::string formatFields(const Hero& hero) {
  std::ostringstream text;
  for (const int value :
       {hero.getMaxHp(), hero.getMaxMp(), hero.getAttackPower(), hero.getDefensePower(),
        hero.getLevel(), hero.getExperience(), hero.getToNextLevel()}) {
    text << value << ' ';
  }
  return text.str();
}

} // namespace

bool saveHero(const Hero& hero, const std::string& fileName) {
  const std::optional<SaveLocation> location = SaveLocation::find(fileName);
  return location && writeSaveFile(*location, formatFields(hero));
}

bool loadHero(Hero& hero, const std::string& fileName) {
  const std::optional<SaveLocation> location = SaveLocation::find(fileName);
  if (!location) {
    return false;
  }
  struct stat status {};
  const FileDescriptor file = location->openRegularFile(O_RDONLY, status);
  if (!file.isOpen()) {
    return false;
  }
  DescriptorReadBuffer buffer(file.get());
  std::istream input(&buffer);
  // Read everything first: a file that breaks off changes nothing.
  std::array<int, kFieldCount> values{};
  for (int& value : values) {
    if (!(input >> value)) {
      return false;
    }
  }
  const auto [maxHp, maxMp, attackPower, defensePower, level, experience, toNextLevel] = values;
  hero.setHp(maxHp);
  hero.setMaxHp(maxHp);
  hero.setMp(maxMp);
  hero.setMaxMp(maxMp);
  hero.setAttackPower(attackPower);
  hero.setDefensePower(defensePower);
  hero.setLevel(level);
  hero.setExperience(experience);
  hero.setToNextLevel(toNextLevel);
  return true;
}

} // namespace valdoria
