#include "game/BattleOutcome.hpp"

#include "GameTest.hpp"
#include "TestBattle.hpp"
#include "combatants/MonsterRoster.hpp"
#include "save/HeroSaveFile.hpp"

#include <filesystem>
#include <iterator>
#include <string>
#include <tuple>

namespace valdoria {
namespace {

// The party after a battle against a Spinelet (reward 31) and a Grimhorn
// (reward 36): 67 experience points for every hero.
class BattleOutcomeTest : public testing::GameTest, protected testing::TestBattle {
protected:
  void finish(BattleResult result) {
    clearOutput();
    applyBattleOutcome(party, monsters, 2, result);
  }
};

TEST_F(BattleOutcomeTest, AWinRewardsEveryHeroAndSavesTheParty) {
  varen.setExperience(90); // passes its threshold
  gorak.setExperience(33); // reaches it exactly, though dead
  gorak.setDeathStatus(true);
  mirel.setEnhanceStatus(true);
  mirel.setDefendStatus(true);
  finish(BattleResult::Won);
  // Gains drawn from the frozen clock plus each kind's first offset (211, 43).
  EXPECT_EQ(output(), "\nCongratulations! You won the battle!\nYou gained 67 experience points.\n\n"
                      "Varen gains a level!\nMaximum HP increases by 261!\n"
                      "Maximum MP increases by 9!\nAttack power increases by 8!\n"
                      "Defense power increases by 8!\n\n"
                      "Gorak gains a level!\nMaximum HP increases by 303!\n"
                      "Maximum MP increases by 10!\nAttack power increases by 11!\n"
                      "Defense power increases by 7!\n\n"
                      "Mirel is no longer enhanced.\nMirel stops defending.\nData saved.\n\n");
  EXPECT_EQ(readFile("Varen.txt"), "1261 69 51 37 2 157 210 ");
  EXPECT_EQ(readFile("Gorak.txt"), "1603 60 62 35 2 100 210 ");
  // Saved with the powers its statuses had doubled back to normal.
  EXPECT_EQ(readFile("Mirel.txt"), "900 75 40 27 1 67 100 ");
}

TEST_F(BattleOutcomeTest, PassingTwoThresholdsGivesOneLevelPerWin) {
  varen.setExperience(300);
  finish(BattleResult::Won);
  EXPECT_EQ(std::pair(varen.getLevel(), varen.getToNextLevel()), std::pair(2, 210));

  Varen nextBattle;
  ASSERT_TRUE(loadHero(nextBattle, "Varen.txt"));
  applyBattleOutcome(Party{{&nextBattle, &gorak, &mirel}}, monsters, 2, BattleResult::Won);
  EXPECT_EQ(
      std::tuple(nextBattle.getLevel(), nextBattle.getExperience(), nextBattle.getToNextLevel()),
      std::tuple(3, 434, 441));
}

TEST_F(BattleOutcomeTest, ALossChangesNothing) {
  writeFile("Varen.txt", "1 2 3 4 5 6 7 ");
  varen.setExperience(99);
  finish(BattleResult::Lost);
  EXPECT_EQ(output(), "You lost the battle...\n\n");
  EXPECT_EQ(varen.getExperience(), 99);
  EXPECT_EQ(readFile("Varen.txt"), "1 2 3 4 5 6 7 ");
  EXPECT_FALSE(fileExists("Gorak.txt") || fileExists("Mirel.txt"));
}

// Hundreds of won battles, each finding files it has not seen and keeping
// or comparing them, leave no descriptor open.
TEST_F(BattleOutcomeTest, DescriptorsStayFlatOverManyBattles) {
#if defined(_WIN32)
  GTEST_SKIP() << "counts the descriptors in /proc/self/fd";
#endif
  const auto openDescriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  finish(BattleResult::Won);
  const auto before = openDescriptors();
  for (int battle = 0; battle < 300; ++battle) {
    writeFile("Gorak.txt", battle % 2 == 0 ? "1 2 3 4 5 6 7 " : "7 6 5 4 3 2 1 ");
    finish(BattleResult::Won);
  }
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_TRUE(fileExists("Gorak.txt.bak") && fileExists("Gorak.txt.bak.2"));
}

TEST_F(BattleOutcomeTest, AFailedSaveStopsTheSaving) {
  std::filesystem::create_directory(workDirectory() / "Varen.txt");
  finish(BattleResult::Won);
  EXPECT_EQ(output(), "\nCongratulations! You won the battle!\nYou gained 67 experience points.\n\n"
                      "Unable to save data.\n\n");
  EXPECT_FALSE(fileExists("Gorak.txt") || fileExists("Mirel.txt"));
}

} // namespace
} // namespace valdoria
