#include "combat/AttackResolution.hpp"

#include "GameTest.hpp"
#include "TestFighter.hpp"
#include "combatants/DreadColossus.hpp"
#include "combatants/Spells.hpp"

#include <climits>
#include <set>
#include <tuple>

namespace valdoria {
namespace {

using AttackResolutionTest = testing::GameTest;
using testing::Blow;
using testing::Fighter;

TEST_F(AttackResolutionTest, PhysicalAttackVariesAroundThreeTimesTheBase) {
  // 3 × (36 + 10) − 40 = 98. Seed +3232: draws 23939 (offset), 21492 even,
  // 31202 % 7 = 3. Same second, seed +27171: 3810, 489 odd, 26434 % 7 = 2.
  Fighter wisp("Azure Wisp", 300, 100, 36, 45);
  Fighter varen("Varen", 1000, 60, 43, 40);
  performAttack(wisp, varen, wisp.getBasicAttack());
  performAttack(wisp, varen, wisp.getBasicAttack());
  EXPECT_EQ(output(), "Azure Wisp does 101 damage to Varen with a physical attack!\n"
                      "Azure Wisp does 96 damage to Varen with a physical attack!\n");
  EXPECT_EQ(varen.getHp(), 803);
  EXPECT_EQ(wisp.getMp(), 100);

  // Over many seconds every amount from 92 to 104 turns up, and nothing else.
  std::set<int> amounts;
  for (int second = 0; second < 2000; ++second) {
    freezeClock(kDefaultTime + second);
    varen.setHp(1000);
    performAttack(wisp, varen, wisp.getBasicAttack());
    amounts.insert(1000 - varen.getHp());
  }
  EXPECT_EQ(std::tuple(*amounts.begin(), *amounts.rbegin(), amounts.size()),
            std::tuple(92, 104, 13U));
}

TEST_F(AttackResolutionTest, CrushTakesAQuarterOfWhatIsLeft) {
  DreadColossus boss;
  const Crush crush;
  Fighter varen("Varen", 601, 60, 43, 29);
  varen.setDefendStatus(true);
  performAttack(boss, varen, crush);
  EXPECT_EQ(varen.getHp(), 526);
  EXPECT_EQ(boss.getMp(), 2985);

  // By name alone, whoever uses it: 3 HP leaves a quarter of 0.
  Fighter gnat("Gnat", 10, 20, 1, 1);
  Fighter frail("Frail", 3, 0, 1, 1);
  performAttack(gnat, frail, crush);
  EXPECT_EQ(frail.getHp(), 3);
  EXPECT_FALSE(frail.isDead());
  EXPECT_EQ(output(), "Varen defends!\nDread Colossus does 75 damage to Varen with Crush!\n"
                      "Gnat does 0 damage to Frail with Crush!\n");
}

TEST_F(AttackResolutionTest, DefeatFollowsTheBlowAndEndsStatusesSilently) {
  // Defense 29 doubled twice is 116: 3 × 56 − 116 = 52, + 3, halved: 27.
  Fighter wisp("Azure Wisp", 300, 100, 36, 45);
  Fighter varen("Varen", 27, 60, 43, 29);
  varen.setPoisonStatus(true);
  varen.setEnhanceStatus(true);
  varen.setDefendStatus(true);
  clearOutput();
  performAttack(wisp, varen, Surge{});
  EXPECT_EQ(output(), "Azure Wisp does 27 damage to Varen with Surge!\nVaren dies!\n");
  EXPECT_TRUE(varen.isDead());
  EXPECT_FALSE(varen.isPoisoned() || varen.isEnhanced() || varen.isDefending());
  EXPECT_EQ(std::tuple(varen.getHp(), varen.getAttackPower(), varen.getDefensePower()),
            std::tuple(0, 43, 29));
  EXPECT_EQ(wisp.getMp(), 85);
}

TEST_F(AttackResolutionTest, FloorNegativeAmountsAndSaturationAtEveryStep) {
  // The first blow of a run varies by +3 at second +0, by −5 at +12 (23978,
  // 19401 odd, 16196 % 7) and by −6 at +8 (23965, 9175 odd, 10275 % 7).
  struct Case {
    int second, attack, power, cost, defense, hp, mp;
    bool defending;
    const char* amount;
    int hpAfter, mpAfter;
  };
  for (const Case& c : {
           // 3 × 10 − 2000 floors to 1, varied to −5 and halved toward zero.
           Case{8, 0, 10, 0, 1000, 50, 0, true, "-2", 52, 0},
           Case{0, INT_MAX, 10, 0, 0, 1000, 100, false, "2147483647", 0, 100},
           Case{0, INT_MIN, 10, 0, 40, 1000, 100, false, "4", 996, 100},
           // 3 × base holds at the top before the defense comes off.
           Case{0, 36, INT_MAX, 0, 40, INT_MAX, 100, false, "2147483610", 37, 100},
           Case{0, 36, 10, 0, INT_MIN, INT_MAX, 100, false, "2147483647", 0, 100},
           Case{12, 0, 10, 15, 1000, INT_MAX, INT_MIN, false, "-4", INT_MAX, INT_MIN},
           // Floored to 1 and varied below zero, the blow heals past the maximum.
           Case{12, INT_MIN, INT_MIN, 0, INT_MAX, 50, 100, false, "-4", 54, 100},
       }) {
    SCOPED_TRACE(c.amount);
    Fighter striker("Striker", 10, c.mp, c.attack, 0);
    Fighter target("Target", c.hp, 0, 0, c.defense);
    if (c.defending) {
      target.setDefendStatus(true);
    }
    resetAttackSeedOffset();
    freezeClock(kDefaultTime + c.second);
    clearOutput();
    performAttack(striker, target, Blow(c.power, c.cost));
    const std::string line =
        std::string("Striker does ") + c.amount + " damage to Target with Blow!\n";
    EXPECT_EQ(output(), c.hpAfter == 0 ? line + "Target dies!\n" : line);
    EXPECT_EQ(target.getHp(), c.hpAfter);
    EXPECT_EQ(striker.getMp(), c.mpAfter);
  }
}

} // namespace
} // namespace valdoria
