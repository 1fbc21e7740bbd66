#include "game/MainLoop.hpp"

#include "GameTest.hpp"

namespace valdoria {
namespace {

using MainLoopTest = testing::GameTest;

constexpr const char* kBanner =
    "VALDORIA BATTLE\nVersion 1.1\n\n"
    "NOTE: Capitalization is important! Type the commands and names as you see them.\n\n";

// Only the exact word "yes" starts a battle; empty lines and blanks are
// passed over, and the end of input answers like any other word.
TEST_F(MainLoopTest, AnythingButYesEndsTheRunWithoutABattle) {
  for (const char* input :
       {"no\n", "\n\n  \n", "Yes\nyes\n", "y\nyes\n", "yes,\nyes\n", "YES\nyes\n", "no yes\n"}) {
    SCOPED_TRACE(input);
    clearOutput();
    typeInput(input);
    EXPECT_EQ(runMainLoop(), 0);
    EXPECT_EQ(output(),
              std::string(kBanner) +
                  "Fight a battle (yes/no)? \nYou fought 0 battles. Exiting program...\n");
  }
  EXPECT_FALSE(fileExists("Varen.txt"));

  // Cut off at the first command, the battle is abandoned and not counted.
  typeInput("yes");
  clearOutput();
  runMainLoop();
  EXPECT_TRUE(
      output().ends_with("Status\n\nMain menu: \nYou fought 0 battles. Exiting program...\n"));
}

// Heroes strong enough to fell any monster with one blow; under the frozen
// clock the first battle brings a Steel Hulk, a Grimhorn and a Pale Wisp, the
// second an Amber Wisp, a Spinelet and a Finlurk.
class MainLoopBattleTest : public MainLoopTest {
protected:
  void SetUp() override {
    MainLoopTest::SetUp();
    for (const char* name : {"Varen.txt", "Gorak.txt", "Mirel.txt"}) {
      writeFile(name, "1000 60 100000 29 1 0 100 ");
    }
  }

  static constexpr const char* kFirstBattle =
      "Attack\nSteel Hulk\nAttack\nGrimhorn\nAttack\nPale Wisp\n";
};

TEST_F(MainLoopBattleTest, OneBattleIsCountedInTheSingular) {
  // Empty lines before the answer are passed over; the word after "yes" on
  // its line is the first command of the battle.
  typeInput(std::string("\n\n   \n yes ") + kFirstBattle + "Attack\n");
  EXPECT_EQ(runMainLoop(), 0);
  EXPECT_TRUE(output().starts_with(std::string(kBanner) +
                                   "Fight a battle (yes/no)? \n"
                                   "Data loaded from save file. Generating random battle...\n"
                                   "You encountered: Steel Hulk, Grimhorn, Pale Wisp\n"));
  EXPECT_TRUE(output().ends_with("Defense power increases by 6!\n\nData saved.\n\n"
                                 "Fight another battle (yes/no)? \n"
                                 "You fought 1 battle. Exiting program...\n"));
}

TEST_F(MainLoopBattleTest, TwoBattlesAreCountedInThePlural) {
  typeInput(std::string("yes\n") + kFirstBattle +
            "yes\nAttack\nAmber Wisp\nAttack\nSpinelet\nAttack\nFinlurk\nno\n");
  EXPECT_EQ(runMainLoop(), 0);
  EXPECT_TRUE(output().ends_with("Data saved.\n\nFight another battle (yes/no)? \n"
                                 "You fought 2 battles. Exiting program...\n"));
  // The second win, 124 + 96, passes the second threshold, 210; next is 441.
  const std::string varen = readFile("Varen.txt");
  EXPECT_EQ(varen.substr(varen.size() - 11), " 3 220 441 ");
}

} // namespace
} // namespace valdoria
