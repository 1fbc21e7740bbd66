// Every kind's numbers, written out from the rules of the roster and the
// heroes: one wrong number in a kind's table fails here even when no
// session meets that kind.

#include "combat/MoveSet.hpp"
#include "combatants/DreadColossus.hpp"
#include "combatants/EncounterGenerator.hpp"
#include "combatants/Gorak.hpp"
#include "combatants/Mirel.hpp"
#include "combatants/MonsterRoster.hpp"
#include "combatants/Varen.hpp"
#include "game/RunState.hpp"
#include "random/Random.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace valdoria {
namespace {

struct Action {
  std::string name;
  int power;
  int mpCost;
};

struct KindRow {
  std::function<std::unique_ptr<Monster>()> create;
  std::string name;
  int hp;
  int mp;
  int attack;
  int defense;
  int reward;
  std::vector<Action> specials;
};

template <typename Kind> std::unique_ptr<Monster> create() { return std::make_unique<Kind>(); }

// The ordinary kinds by the index the encounter generator draws.
const std::vector<KindRow>& ordinaryKinds() {
  static const std::vector<KindRow> rows{
      {create<AzureWisp>, "Azure Wisp", 300, 100, 36, 45, 38, {{"Surge", 20, 15}}},
      {create<Gloomeye>, "Gloomeye", 300, 30, 33, 22, 25, {{"Glare", 12, 5}}},
      {create<Spinelet>, "Spinelet", 100, 30, 20, 24, 31, {{"Quill Volley", 100, 15}}},
      {create<Whiskrel>,
       "Whiskrel",
       400,
       100,
       41,
       20,
       43,
       {{"Frost", 20, 15}, {"Blaze", 20, 15}, {"Spark", 20, 15}}},
      {create<SteelHulk>,
       "Steel Hulk",
       800,
       50,
       45,
       10,
       50,
       {{"Vaulting Cleave", 21, 10}, {"Harvester", 17, 8}}},
      {create<Grimhorn>, "Grimhorn", 450, 30, 35, 15, 36, {{"Storm Breath", 13, 5}}},
      {create<Rotvine>, "Rotvine", 900, 70, 30, 5, 61, {{"Foul Breath", 22, 15}}},
      {create<PodGloomeye>, "Gloomeye", 633, 54, 31, 15, 35, {{"Pod Barrage", 30, 18}}},
      {create<Finlurk>, "Finlurk", 350, 45, 29, 13, 27, {}},
      {create<PaleWisp>, "Pale Wisp", 300, 100, 36, 45, 38, {{"Frost", 20, 15}}},
      {create<AmberWisp>, "Amber Wisp", 300, 100, 36, 45, 38, {{"Spark", 20, 15}}},
  };
  return rows;
}

const KindRow kBoss{create<DreadColossus>,
                    "Dread Colossus",
                    20000,
                    3000,
                    250,
                    50,
                    5000,
                    {{"Crush", 50, 15},
                     {"Oblivion", 100, 100},
                     {"Void Pulse", 90, 90},
                     {"Starfall", 115, 110},
                     {"Glass Storm", 95, 95}}};

void expectAction(const Attack& attack, const Action& expected, const std::string& owner) {
  EXPECT_EQ(attack.getName(), expected.name) << owner;
  EXPECT_EQ(attack.getPower(), expected.power) << owner << ": " << expected.name;
  EXPECT_EQ(attack.getMpCost(), expected.mpCost) << owner << ": " << expected.name;
}

void expectKind(const Monster& monster, const KindRow& row) {
  const std::string& name = row.name;
  EXPECT_EQ(monster.getName(), name);
  EXPECT_EQ(monster.getHp(), row.hp) << name;
  EXPECT_EQ(monster.getMaxHp(), row.hp) << name;
  EXPECT_EQ(monster.getMp(), row.mp) << name;
  EXPECT_EQ(monster.getMaxMp(), row.mp) << name;
  EXPECT_EQ(monster.getAttackPower(), row.attack) << name;
  EXPECT_EQ(monster.getDefensePower(), row.defense) << name;
  EXPECT_EQ(monster.getExperienceReward(), row.reward) << name;

  // The move set: the basic attack first, then the specials in order, and
  // nothing after them (an index past the end gives the last action).
  const MoveSet& moves = monster.getMoveSet();
  EXPECT_EQ(&moves.getAttack(0), &monster.getBasicAttack()) << name;
  expectAction(moves.getAttack(0), {"a physical attack", 10, 0}, name);
  const auto size = static_cast<int>(row.specials.size()) + 1;
  for (int index = 1; index < size; ++index) {
    expectAction(moves.getAttack(index), row.specials.at(static_cast<std::size_t>(index - 1)),
                 name);
  }
  EXPECT_EQ(&moves.getAttack(size), &moves.getAttack(size - 1)) << name << " has more actions";
}

TEST(KindTable, EveryMonsterKindHasItsNumbersRewardAndActions) {
  for (const KindRow& row : ordinaryKinds()) {
    expectKind(*row.create(), row);
  }
  expectKind(*kBoss.create(), kBoss);
}

TEST(KindTable, EveryHeroHasItsTwoSpells) {
  const Varen varen;
  const Gorak gorak;
  const Mirel mirel;
  for (const auto& [hero, first, second] : {
           std::tuple<const Hero&, Action, Action>{varen, {"Frost", 20, 15}, {"Surge", 20, 15}},
           std::tuple<const Hero&, Action, Action>{gorak, {"Blaze", 20, 15}, {"Spark", 20, 15}},
           std::tuple<const Hero&, Action, Action>{mirel, {"Blaze", 20, 15}, {"Surge", 20, 15}},
       }) {
    EXPECT_EQ(hero.getSpellCount(), 2);
    expectAction(hero.getSpell(0), first, hero.getName());
    expectAction(hero.getSpell(1), second, hero.getName());
  }
}

// The generator's draws worked out apart from the game: each draw sets
// state = state * 214013 + 2531011 and yields bits 16 to 30.
class Draws {
public:
  explicit Draws(std::uint32_t seed) : state(seed) {}
  int next() {
    state = state * 214013U + 2531011U;
    return static_cast<int>((state >> 16) & 32767U);
  }

private:
  std::uint32_t state;
};

// The first monster of a run: skip = r mod 3, the stored seed r + offset,
// the re-seed, skip discarded draws, then the kind's index r mod 11.
int firstKindIndex(std::uint32_t seed, int offset) {
  Draws draws(seed);
  const int skip = draws.next() % 3;
  Draws reseeded(static_cast<std::uint32_t>(draws.next()) + static_cast<std::uint32_t>(offset));
  for (int i = 0; i < skip; ++i) {
    reseeded.next();
  }
  return reseeded.next() % 11;
}

TEST(KindTable, TheEncounterGeneratorCreatesTheKindOfEachIndex) {
  std::set<int> seen;
  for (int offset = 0; seen.size() < ordinaryKinds().size() && offset < 1000; ++offset) {
    resetRunState();
    seedRandom(7);
    const int index = firstKindIndex(7, offset);
    seen.insert(index);
    expectKind(*createRandomMonster(offset), ordinaryKinds().at(static_cast<std::size_t>(index)));
  }
  EXPECT_EQ(seen.size(), ordinaryKinds().size());
  resetRunState();
}

} // namespace
} // namespace valdoria
