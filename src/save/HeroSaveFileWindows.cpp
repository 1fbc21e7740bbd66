// Interim: the Windows build's saveHero and loadHero over the byte-level
// module, until the platform-neutral HeroSaveFile.cpp lands.
#include "save/HeroSaveFile.hpp"

#include "combatants/Hero.hpp"
#include "save/SmallFile.hpp"

#include <array>
#include <istream>
#include <sstream>

namespace valdoria {

bool saveHero(const Hero& hero, const std::string& fileName) {
  std::ostringstream text;
  for (const int value :
       {hero.getMaxHp(), hero.getMaxMp(), hero.getAttackPower(), hero.getDefensePower(),
        hero.getLevel(), hero.getExperience(), hero.getToNextLevel()}) {
    text << value << ' ';
  }
  return replaceSmallFile(fileName, text.str(), OldBytes::Dropped);
}

bool loadHero(Hero& hero, const std::string& fileName) {
  return readSmallFile(fileName, [&hero](std::istream& input) {
    std::array<int, 7> values{};
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
  });
}

} // namespace valdoria
