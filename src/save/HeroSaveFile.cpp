#include "save/HeroSaveFile.hpp"

#include "combatants/Hero.hpp"

#include <algorithm>
#include <array>
#include <istream>
#include <sstream>

namespace valdoria {

bool saveHero(const Hero& hero, const std::string& fileName, std::optional<FileStamp>* seen) {
  std::ostringstream text;
  for (const int value :
       {hero.getMaxHp(), hero.getMaxMp(), hero.getAttackPower(), hero.getDefensePower(),
        hero.getLevel(), hero.getExperience(), hero.getToNextLevel()})
    text << value << ' ';
  return replaceSmallFile(fileName, text.str(), seen);
}

bool loadHero(Hero& hero, const std::string& fileName, FileStamp* loaded) {
  // Read everything first: a file that breaks off changes nothing.
  std::array<int, 7> values{};
  const auto readSeven = [&values](std::istream& input) {
    return std::all_of(values.begin(), values.end(),
                       [&input](int& value) { return static_cast<bool>(input >> value); });
  };
  if (!readSmallFile(fileName, readSeven, loaded))
    return false;
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
