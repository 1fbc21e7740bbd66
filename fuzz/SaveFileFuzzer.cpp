// Loads Varen's save file from arbitrary bytes. A file that loads must come
// back the same through a save and a second load; one that does not load
// must leave the hero exactly as it was.

#include "FuzzWorkDirectory.hpp"

#include "combatants/Varen.hpp"
#include "save/HeroSaveFile.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using Fields = std::array<int, 9>;

Fields fieldsOf(const valdoria::Hero& hero) {
  return {hero.getHp(),    hero.getMaxHp(),       hero.getMp(),
          hero.getMaxMp(), hero.getAttackPower(), hero.getDefensePower(),
          hero.getLevel(), hero.getExperience(),  hero.getToNextLevel()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  valdoria::fuzzing::clearWorkDirectory();
  std::ofstream("Varen.txt", std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  valdoria::Varen loaded;
  const Fields defaults = fieldsOf(loaded);
  if (!valdoria::loadHero(loaded, "Varen.txt")) {
    if (fieldsOf(loaded) != defaults) {
      std::abort();
    }
    return 0;
  }
  // A loaded hero starts at full HP and MP.
  const Fields fields = fieldsOf(loaded);
  if (fields[0] != fields[1] || fields[2] != fields[3]) {
    std::abort();
  }

  valdoria::Varen reloaded;
  if (!valdoria::saveHero(loaded, "Copy.txt") || !valdoria::loadHero(reloaded, "Copy.txt") ||
      fieldsOf(reloaded) != fields) {
    std::abort();
  }
  return 0;
}
