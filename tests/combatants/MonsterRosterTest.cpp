#include "combatants/MonsterRoster.hpp"

#include "GameTest.hpp"
#include "combatants/EncounterGenerator.hpp"
#include "game/RunState.hpp"
#include "random/Random.hpp"

#include <memory>

namespace valdoria {
namespace {

using MonsterRosterTest = testing::GameTest;

template <typename Kind> bool isKind(const std::unique_ptr<Monster>& monster) {
  return dynamic_cast<Kind*>(monster.get()) != nullptr;
}

TEST_F(MonsterRosterTest, EncounterKindsFollowTheStoredSeedForTheWholeRun) {
  // Seed 12345 draws 7584 (skip 0) and 19164: the stored seed becomes
  // 19164 + 100. Later calls re-seed from it, moved on by each offset.
  const auto drawKinds = [] {
    seedRandom(12345);
    EXPECT_TRUE(isKind<Grimhorn>(createRandomMonster(100)));
    EXPECT_TRUE(isKind<Whiskrel>(createRandomMonster(7)));
    EXPECT_TRUE(isKind<AzureWisp>(createRandomMonster(-50)));
  };
  drawKinds();

  // The next battle's generator state plays no part in the stored seed:
  // it re-seeds with 19371 - 50 = 19321, skips nothing and leaves the
  // shared generator on that seed's sequence.
  seedRandom(999);
  EXPECT_TRUE(isKind<SteelHulk>(createRandomMonster(5)));
  EXPECT_EQ(drawRandom(), 26863);

  // A new run draws the stored seed afresh.
  startRun(in, out, frozenClock(kDefaultTime));
  drawKinds();
}

} // namespace
} // namespace valdoria
