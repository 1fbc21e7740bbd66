#include "game/BattleLoop.hpp"

#include "GameTest.hpp"
#include "TestBattle.hpp"
#include "combatants/Gorak.hpp"
#include "combatants/Mirel.hpp"
#include "combatants/MonsterRoster.hpp"
#include "combatants/Varen.hpp"
#include "game/Party.hpp"

#include <string>

namespace valdoria {
namespace {

constexpr const char* kWin = "\nCongratulations! You won the battle!\n"
                             "You gained 31 experience points.\n\nData saved.\n\n";

// Battles between a hand-made party and a Spinelet (100 HP, reward 31) with
// a Grimhorn (450 HP, reward 36). Under the frozen clock the first blow of a
// run varies by +3, and the first target draw after the loop's re-seed falls
// on Mirel, the second on Gorak.
class BattleLoopTest : public testing::GameTest, protected testing::TestBattle {
protected:
  void run(const std::string& script, int monsterCount) {
    clearOutput();
    typeInput(script);
    runBattleLoop(party, monsters, monsterCount);
  }
};

TEST_F(BattleLoopTest, VictoryIsNoticedAfterTheNextLivingHerosUpdate) {
  spinelet.setHp(1);
  gorak.setDefendStatus(true);
  mirel.setPoisonStatus(true);
  run("Attack\nSpinelet\n", 1);
  EXPECT_TRUE(output().ends_with("Varen does 138 damage to Spinelet with a physical attack!\n"
                                 "Spinelet dies!\nGorak stops defending.\n" +
                                 std::string(kWin)))
      << output();
  EXPECT_EQ(mirel.getHp(), 900); // Mirel got no update: her poison did not bite
  EXPECT_EQ(readFile("Gorak.txt"), "1300 50 51 28 1 31 100 ");
}

// The last hero in party order fells the last monster: the monsters' phase
// still runs, and the win waits for Mirel's next update, which here kills her.
TEST_F(BattleLoopTest, WinOfTheLastHeroWaitsForTheNextCycle) {
  varen.setDeathStatus(true);
  gorak.setDeathStatus(true);
  mirel.setHp(46);
  mirel.setPoisonStatus(true);
  spinelet.setHp(1);
  run("Attack\nSpinelet\n", 1);
  EXPECT_TRUE(output().ends_with("Mirel does 129 damage to Spinelet with a physical attack!\n"
                                 "Spinelet dies!\nMirel takes 45 damage from poison!\n"
                                 "Mirel dies!\nYou lost the battle...\n\n"))
      << output();
}

// Defeat is noticed at the next monster's turn, after its update only.
TEST_F(BattleLoopTest, DefeatIsNoticedAtTheNextMonstersUpdate) {
  varen.setDeathStatus(true);
  gorak.setDeathStatus(true);
  mirel.setHp(1);
  mirel.setPoisonStatus(true);
  spinelet.setPoisonStatus(true);
  grimhorn.setPoisonStatus(true);
  run("", 2);
  EXPECT_EQ(output(), "You encountered: Spinelet, Grimhorn\nMirel takes 45 damage from poison!\n"
                      "Mirel dies!\nSpinelet takes 5 damage from poison!\n"
                      "You lost the battle...\n\n");
  EXPECT_EQ(grimhorn.getHp(), 450);
}

// A target draw that falls on a dead hero runs the monster's turn again,
// update included, so a poisoned monster takes a second tick at once.
TEST_F(BattleLoopTest, ADeadTargetIsDrawnAgainWithAnotherUpdate) {
  mirel.setDeathStatus(true);
  spinelet.setPoisonStatus(true);
  run("Defend\nDefend\n", 1);
  EXPECT_NE(output().find("Gorak defends!\nSpinelet takes 5 damage from poison!\n"
                          "Spinelet takes 5 damage from poison!\n"
                          // 3 x (20 + 100) - 56 = 304, varied by +3, halved.
                          "Spinelet does 153 damage to Gorak with Quill Volley!\n"
                          "Varen stops defending.\n\nVaren\tLV1\n"),
            std::string::npos)
      << output();
  EXPECT_EQ(spinelet.getHp(), 90);
  EXPECT_EQ(spinelet.getPoisonCounter(), 3);
}

} // namespace
} // namespace valdoria
