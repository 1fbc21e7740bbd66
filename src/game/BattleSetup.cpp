#include "game/BattleSetup.hpp"

#include "base/Console.hpp"
#include "combatants/DreadColossus.hpp"
#include "combatants/EncounterGenerator.hpp"
#include "combatants/Gorak.hpp"
#include "combatants/Mirel.hpp"
#include "combatants/Varen.hpp"
#include "game/BattleLoop.hpp"
#include "game/Encounter.hpp"
#include "game/Party.hpp"
#include "game/PartyFiles.hpp"
#include "random/Random.hpp"

#include <array>
#include <cstddef>
#include <memory>
#include <ostream>

namespace valdoria {

namespace {

constexpr int kBossLevel = 30;
constexpr int kLargeEncounterLevel = 10;

// Varen's level alone decides how many monsters come, or the boss.
int drawMonsterCount(int varenLevel) {
  int count = drawRandom() % 3 + 1;
  if (varenLevel >= kLargeEncounterLevel) {
    count = drawRandom() % 5 + 1;
  }
  return count;
}

} // namespace

void runBattle() {
  std::array<std::unique_ptr<Hero>, kPartySize> heroes{
      std::make_unique<Varen>(), std::make_unique<Gorak>(), std::make_unique<Mirel>()};
  Party party;
  for (std::size_t index = 0; index < heroes.size(); ++index) {
    party.heroes.at(index) = heroes.at(index).get();
  }

  std::ostream& out = consoleOut();
  if (loadParty(party)) {
    out << "Data loaded from save file. Generating random battle...\n";
  } else {
    out << "No save files found. Generating random battle with default stats...\n";
  }

  seedRandomFromClock(0);
  const int varenLevel = heroes[0]->getLevel();
  const int drawnCount = drawMonsterCount(varenLevel);

  std::array<std::unique_ptr<Monster>, kMaxMonsters> monsters;
  Encounter encounter;
  if (varenLevel == kBossLevel) {
    monsters[0] = std::make_unique<DreadColossus>();
    encounter.count = 1;
    out << "Seeing a worthy challenge at last, Dread Colossus draws near...\n";
  } else {
    encounter.count = drawnCount;
    for (int slot = 0; slot < drawnCount; ++slot) {
      monsters.at(static_cast<std::size_t>(slot)) = createRandomMonster(drawRandom());
    }
  }
  for (std::size_t slot = 0; slot < monsters.size(); ++slot) {
    encounter.monsters.at(slot) = monsters.at(slot).get();
  }

  runBattleLoop(party, encounter.monsters, encounter.count);

  // Heroes first, then the monsters, each in order.
  for (auto& hero : heroes) {
    hero.reset();
  }
  for (auto& monster : monsters) {
    monster.reset();
  }
}

} // namespace valdoria
