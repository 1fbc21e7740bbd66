#include "GameTest.hpp"
#include "TestFighter.hpp"

#include <array>

namespace valdoria {
namespace {

using StatusEffectsTest = testing::GameTest;

// Poison hits at two updates and ends at the third; enhancement doubles the
// powers and ends at the update its counter reads 3; defending doubles the
// defense until the next update. All three at once: four times the defense.
TEST_F(StatusEffectsTest, EachStatusRunsItsCourseAtTheStartOfTurns) {
  testing::Fighter rotvine("Rotvine", 300, 70, 30, 5);
  rotvine.setPoisonStatus(true);
  rotvine.setEnhanceStatus(true);
  rotvine.setDefendStatus(true);
  const auto state = [&rotvine] {
    return std::array{rotvine.getHp(), rotvine.getPoisonCounter(), rotvine.getAttackPower(),
                      rotvine.getDefensePower(), rotvine.getEnhanceCounter()};
  };
  EXPECT_EQ(state(), (std::array{300, 1, 60, 20, 1}));
  for (const auto& expected : {std::array{285, 2, 60, 10, 2}, std::array{270, 3, 60, 10, 3},
                               std::array{270, 0, 30, 5, 0}, std::array{270, 0, 30, 5, 0}}) {
    rotvine.updateStatus();
    EXPECT_EQ(state(), expected);
  }
  EXPECT_FALSE(rotvine.isPoisoned() || rotvine.isEnhanced() || rotvine.isDefending());
  EXPECT_EQ(output(), "Rotvine is poisoned!\nRotvine is enhanced!\nRotvine defends!\n"
                      "Rotvine takes 15 damage from poison!\nRotvine stops defending.\n"
                      "Rotvine takes 15 damage from poison!\n"
                      "Rotvine is no longer poisoned.\nRotvine is no longer enhanced.\n");
}

} // namespace
} // namespace valdoria
