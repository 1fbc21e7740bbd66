#include "combatants/EncounterGenerator.hpp"

#include "combatants/MonsterRoster.hpp"
#include "random/Random.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace valdoria {

namespace {

struct StoredSeed {
  bool isSet = false;
  std::uint32_t value = 0;
};

StoredSeed storedSeed;

template <typename Kind> std::unique_ptr<Monster> createKind() { return std::make_unique<Kind>(); }

// The ordinary kinds in the order the generator's last draw picks them from;
// a new kind is one more row.
constexpr std::array kKinds{
    createKind<AzureWisp>,   // 0
    createKind<Gloomeye>,    // 1
    createKind<Spinelet>,    // 2
    createKind<Whiskrel>,    // 3
    createKind<SteelHulk>,   // 4
    createKind<Grimhorn>,    // 5
    createKind<Rotvine>,     // 6
    createKind<PodGloomeye>, // 7
    createKind<Finlurk>,     // 8
    createKind<PaleWisp>,    // 9
    createKind<AmberWisp>,   // 10
};
constexpr int kKindCount = static_cast<int>(kKinds.size());

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
  return kKinds.at(static_cast<std::size_t>(drawRandom() % kKindCount))();
}

void resetEncounterGenerator() { storedSeed = StoredSeed{}; }

} // namespace valdoria
