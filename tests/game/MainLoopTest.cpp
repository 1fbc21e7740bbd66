#include "game/MainLoop.hpp"

#include "GameTest.hpp"

namespace valdoria {
namespace {

using MainLoopTest = testing::GameTest;

constexpr const char* kBanner =
    "VALDORIA BATTLE\nVersion 1.1\n\n"
    "NOTE: Capitalization is important! Type the commands and names as you see them.\n\n";

TEST_F(MainLoopTest, NoAtTheFirstPromptEndsWithoutABattle) {
  typeInput("no\n");
  EXPECT_EQ(runMainLoop(), 0);
  EXPECT_EQ(output(), std::string(kBanner) +
                          "Fight a battle (yes/no)? \nYou fought 0 battles. Exiting program...\n");
  EXPECT_FALSE(fileExists("Varen.txt"));
}

TEST_F(MainLoopTest, EndOfInputAtThePromptEndsLikeNo) {
  typeInput("\n\n  \n");
  EXPECT_EQ(runMainLoop(), 0);
  EXPECT_EQ(output(), std::string(kBanner) +
                          "Fight a battle (yes/no)? \nYou fought 0 battles. Exiting program...\n");
}

} // namespace
} // namespace valdoria
