#include "combat/MoveSet.hpp"

#include "GameTest.hpp"
#include "TestFighter.hpp"
#include "combatants/MonsterRoster.hpp"
#include "game/RunState.hpp"
#include "random/Clock.hpp"

#include <string>

namespace valdoria {
namespace {

using MonsterBehaviourTest = testing::GameTest;
using testing::Fighter;

// Each turn as the battle loop gives it: the update, then act.
TEST_F(MonsterBehaviourTest, WithoutMpTheFallbackIsUsedAndPaidForAgain) {
  // Nothing is affordable at MP 0, so every attacking turn uses index 1.
  // The first turn's defend roll is the run's first draw, 41 % 6 = 5.
  Spinelet spinelet;
  spinelet.setMp(0);
  Fighter varen("Varen", 1000, 60, 43, 29);
  for (const int mpAfter : {-15, -30, -30, -45, -60}) {
    spinelet.updateStatus();
    spinelet.act(varen);
    EXPECT_EQ(spinelet.getMp(), mpAfter);
  }
  EXPECT_EQ(output(), "Spinelet does 334 damage to Varen with Quill Volley!\n"
                      "Spinelet does 329 damage to Varen with Quill Volley!\n"
                      "Spinelet defends!\nSpinelet stops defending.\n"
                      "Spinelet does 325 damage to Varen with Quill Volley!\n"
                      "Spinelet does 330 damage to Varen with Quill Volley!\nVaren dies!\n");
}

TEST_F(MonsterBehaviourTest, OfEqualPowersOnlyTheFirstFlipThatSucceedsCounts) {
  // Parities of the draws after the turn's re-seed (+31), 0 for even:
  //   +7: basic 0 (then a spare draw), Frost 0 (spare): Blaze and Spark are
  //       no longer stronger, so the next draw is already the late roll.
  //   +3: basic 0 (spare), Frost 1, Blaze 0 (spare): Spark is not stronger.
  //   +6: basic 0 (spare), Frost 1, Blaze 1, Spark 0.
  for (const auto& [second, action] :
       {std::pair{7, "Frost"}, std::pair{3, "Blaze"}, std::pair{6, "Spark"}}) {
    startRun(in, out, frozenClock(kDefaultTime + second));
    clearOutput();
    Whiskrel whiskrel;
    Fighter varen("Varen", 1000, 60, 43, 29);
    whiskrel.act(varen);
    EXPECT_EQ(output(), std::string("Whiskrel does ") + (second == 3 ? "153" : "154") +
                            " damage to Varen with " + action + "!\n");
  }
}

TEST_F(MonsterBehaviourTest, LoneBasicAttackIsTheFallbackOverALongRun) {
  // Long enough for the turn offset to pass the top of its range and start
  // over at 31 (at turn 132626); the defends and the damage dealt are fixed
  // by the draws before and after that point.
  Finlurk finlurk;
  Fighter varen("Varen", 1000000000, 60, 43, 29);
  int defends = 0;
  for (int turn = 0; turn < 133000; ++turn) {
    finlurk.updateStatus();
    finlurk.act(varen);
    defends += finlurk.isDefending() ? 1 : 0;
    clearOutput();
  }
  EXPECT_EQ(defends, 33275);
  EXPECT_EQ(varen.getHp(), 991225035);
  EXPECT_EQ(finlurk.getMp(), 45);
}

TEST_F(MonsterBehaviourTest, ChoicesFollowTheirOddsOverManySeeds) {
  // Defend: 1/6 + 5/6 × 1/10 = 1/4 above a quarter of HP, 1/6 + 5/6 × 1/8 =
  // 13/48 at it. A two-action monster's special wins 3 times in 4.
  AzureWisp wisp;
  Fighter varen("Varen", 1000000000, 60, 43, 29);
  const auto tally = [&](int hp) {
    constexpr double kTurns = 20000;
    double defends = 0;
    double surges = 0;
    for (int turn = 0; turn < kTurns; ++turn) {
      freezeClock(kDefaultTime + turn);
      wisp.setHp(hp);
      wisp.setMp(100);
      wisp.updateStatus();
      wisp.act(varen);
      defends += wisp.isDefending() ? 1 : 0;
      surges += wisp.getMp() < 100 ? 1 : 0;
    }
    clearOutput();
    return std::pair(defends / kTurns, surges / (kTurns - defends));
  };
  const auto [healthyDefends, surges] = tally(300);
  EXPECT_NEAR(healthyDefends, 0.25, 0.012);
  EXPECT_NEAR(surges, 0.75, 0.02);
  EXPECT_NEAR(tally(75).first, 13.0 / 48.0, 0.012);
}

} // namespace
} // namespace valdoria
