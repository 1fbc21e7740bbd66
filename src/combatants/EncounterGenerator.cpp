#include "combatants/EncounterGenerator.hpp"

#include "combatants/MonsterRoster.hpp"
#include "random/Random.hpp"

#include <cstdint>

namespace valdoria {

namespace {

constexpr int kKindCount = 11;

struct StoredSeed {
  bool isSet = false;
  std::uint32_t value = 0;
};

StoredSeed storedSeed;

std::unique_ptr<Monster> createMonsterKind(int index) {
  switch (index) {
  case 0:
    return std::make_unique<AzureWisp>();
  case 1:
    return std::make_unique<Gloomeye>();
  case 2:
    return std::make_unique<Spinelet>();
  case 3:
    return std::make_unique<Whiskrel>();
  case 4:
    return std::make_unique<SteelHulk>();
  case 5:
    return std::make_unique<Grimhorn>();
  case 6:
    return std::make_unique<Rotvine>();
  case 7:
    return std::make_unique<PodGloomeye>();
  case 8:
    return std::make_unique<Finlurk>();
  case 9:
    return std::make_unique<PaleWisp>();
  default:
    return std::make_unique<AmberWisp>();
  }
}

} // namespace

std::unique_ptr<Monster> createRandomMonster(int offset) {
  const int skip = drawRandom() % 3;
  const auto step = static_cast<std::uint32_t>(offset);
  if (!storedSeed.isSet) {
    storedSeed = StoredSeed{true, static_cast<std::uint32_t>(drawRandom()) + step};
  }
  seedRandom(storedSeed.value);
  storedSeed.value += step;
  for (int i = 0; i < skip; ++i) {
    drawRandom();
  }
  return createMonsterKind(drawRandom() % kKindCount);
}

void resetEncounterGenerator() { storedSeed = StoredSeed{}; }

} // namespace valdoria
