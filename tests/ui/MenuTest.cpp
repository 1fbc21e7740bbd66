#include "combatants/Hero.hpp"

#include "GameTest.hpp"
#include "base/Console.hpp"
#include "combatants/MonsterRoster.hpp"
#include "combatants/Varen.hpp"

#include <string>
#include <tuple>

namespace valdoria {
namespace {

constexpr const char* kBack = "BACK to return to previous menu.\n\n";

// Varen's turn against a Spinelet, a Finlurk that already fell and a
// Grimhorn. Under the frozen clock the first blow of a run varies by +3.
class MenuTest : public testing::GameTest {
protected:
  void SetUp() override {
    GameTest::SetUp();
    finlurk.setDeathStatus(true);
    clearOutput();
  }

  Varen varen;
  Spinelet spinelet;
  Finlurk finlurk;
  Grimhorn grimhorn;
  MonsterSlots monsters{&spinelet, &finlurk, &grimhorn, nullptr, nullptr};
};

TEST_F(MenuTest, AWholeTurnThroughEveryMenuAndBack) {
  spinelet.setPoisonStatus(true);
  spinelet.setEnhanceStatus(true);
  spinelet.setDefendStatus(true);
  clearOutput();
  typeInput("attack\nAttack\nFinlurk\nSpinelet \n\nBACK\nMagic\nBlaze\nFrost\nBACK\nBACK\n"
            "Attack Grimhorn now\nGrimhorn\nSpinelet\n");
  varen.mainMenu(monsters, 3);

  const std::string monsterList = "\nMONSTER SELECT MENU\n"
                                  "Spinelet - 100 HP, 30 MP POISONED ENHANCED DEFENDING\n"
                                  "Grimhorn - 450 HP, 30 MP \n" +
                                  std::string(kBack);
  EXPECT_EQ(
      output(),
      std::string("\nVaren\tLV1\n---------------\nHP: 1000 / 1000\nMP: 60 / 60\n\nMAIN MENU\n"
                  "Attack\nDefend\nMagic\nStatus\n\nMain menu: Main menu: ") +
          monsterList +
          "Monster select menu: The target is dead. Invalid monster name.\n"
          "Monster select menu: Invalid monster name.\n"
          "Monster select menu: Invalid monster name.\n"
          "Monster select menu: Main menu: "
          "\nMAGIC SELECT MENU\nFrost - 15 MP \nSurge - 15 MP \n" +
          kBack + "Magic select menu: Invalid spell name. Magic select menu: " + monsterList +
          "Monster select menu: Invalid spell name. Magic select menu: Main menu: " + monsterList +
          "Monster select menu: Varen does 147 damage to Grimhorn with a physical attack!\n");
  EXPECT_EQ(grimhorn.getHp(), 450 - 147);
  EXPECT_EQ(varen.getMp(), 60);
  EXPECT_FALSE(hasInputEnded());
  std::string rest; // the trailing words went with their line
  std::getline(in, rest);
  EXPECT_EQ(rest, "Spinelet");
}

// Casting needs strictly more MP than the cost, while the listing marks
// only a cost above the MP.
TEST_F(MenuTest, SpellCostAgainstCurrentMp) {
  for (const auto& [mp, input, tail] : {
           std::tuple{15, "Surge\nBACK\n",
                      "Frost - 15 MP \nSurge - 15 MP \nBACK to return to previous menu.\n\n"
                      "Magic select menu: Not enough MP. Invalid spell name. Magic select menu: "},
           std::tuple{14, "BACK\n",
                      "Frost - 15 MP  NOT ENOUGH MP\nSurge - 15 MP  NOT ENOUGH MP\n"
                      "BACK to return to previous menu.\n\nMagic select menu: "},
           // 3 x (43 + 20) - 15 = 174, varied by +3.
           std::tuple{16, "Frost\nGrimhorn\n",
                      "Monster select menu: Varen does 177 damage to Grimhorn with Frost!\n"},
       }) {
    SCOPED_TRACE(mp);
    varen.setMp(mp);
    clearOutput();
    typeInput(input);
    EXPECT_EQ(varen.magicSelectMenu(monsters, 3), mp == 16);
    EXPECT_TRUE(output().ends_with(tail)) << output();
    EXPECT_EQ(varen.getMp(), mp == 16 ? 1 : mp);
  }
}

// The current record, doubled powers included.
TEST_F(MenuTest, StatusScreenShowsTheCurrentRecord) {
  varen.setLevel(3);
  varen.setExperience(250);
  varen.setToNextLevel(441);
  varen.setHp(700);
  for (const auto& [poisoned, enhanced, words] :
       {std::tuple{false, false, "NORMAL"}, std::tuple{true, false, "POISONED "},
        std::tuple{true, true, "POISONED ENHANCED "}, std::tuple{false, true, "ENHANCED "}}) {
    SCOPED_TRACE(words);
    if (varen.isPoisoned() != poisoned) {
      varen.setPoisonStatus(poisoned);
    }
    if (varen.isEnhanced() != enhanced) {
      varen.setEnhanceStatus(enhanced);
    }
    clearOutput();
    typeInput("BACK \nBACK\n");
    varen.statusMenu();
    EXPECT_EQ(output(), std::string("\nSTATUS MENU\nName         : Varen\nLevel        : 3\n"
                                    "Experience   : 250\nTo Next Level: 191\n"
                                    "HP           : 700 / 1000\nMP           : 60 / 60\n") +
                            (enhanced ? "Attack Power : 86\nDefense Power: 58\n"
                                      : "Attack Power : 43\nDefense Power: 29\n") +
                            "Status       : " + words + "\n\n" + kBack +
                            "Status menu: Status menu: ");
  }
}

// The turn is given up where the input ends, with nothing more printed.
TEST_F(MenuTest, EndOfInputAtEveryPromptReturnsAtOnce) {
  for (const auto& [input, lastPrompt] : {
           std::pair{"", "Status\n\nMain menu: "},
           std::pair{"Attack\n", "previous menu.\n\nMonster select menu: "},
           std::pair{"Attack\nGrim", "Invalid monster name.\nMonster select menu: "},
           std::pair{"Magic\n", "previous menu.\n\nMagic select menu: "},
           std::pair{"Magic\nFrost\n", "previous menu.\n\nMonster select menu: "},
           std::pair{"Status\nstay", "Status menu: Status menu: "},
       }) {
    SCOPED_TRACE(input);
    clearOutput();
    typeInput(input);
    varen.mainMenu(monsters, 3);
    EXPECT_TRUE(hasInputEnded());
    EXPECT_TRUE(output().ends_with(lastPrompt)) << output();
    EXPECT_EQ(grimhorn.getHp() + spinelet.getHp(), 550);
    EXPECT_FALSE(varen.isDefending());
  }
}

} // namespace
} // namespace valdoria
