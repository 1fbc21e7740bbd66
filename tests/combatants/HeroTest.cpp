#include "combatants/Gorak.hpp"
#include "combatants/Mirel.hpp"
#include "combatants/Varen.hpp"

#include "GameTest.hpp"

#include <array>
#include <climits>

namespace valdoria {
namespace {

using HeroTest = testing::GameTest;

TEST_F(HeroTest, LevelUpsInOneSecondDrawTheirGainsFromEachKindsOffset) {
  // Varen seeds with +211. The offset draw is 14074, then one (parity, size)
  // pair per stat: HP (23644, 32436) even: 250 + 32436 % 25 = 261; MP
  // (26595, 25763) odd: 11 - 25763 % 3 = 9; attack (2725, 13389) odd:
  // 9 - 13389 % 2 = 8; defense (21249, 6097) odd: 8 - 6097 % 1 = 8.
  Varen varen;
  varen.setHp(700);
  varen.setMp(20);
  varen.setExperience(130);
  varen.levelUp();
  EXPECT_EQ(output(), "Varen gains a level!\n"
                      "Maximum HP increases by 261!\n"
                      "Maximum MP increases by 9!\n"
                      "Attack power increases by 8!\n"
                      "Defense power increases by 8!\n\n");
  // Current HP, MP and experience stay; the threshold moves to 210.
  EXPECT_EQ((std::array{varen.getHp(), varen.getMaxHp(), varen.getMp(), varen.getMaxMp(),
                        varen.getAttackPower(), varen.getDefensePower(), varen.getLevel(),
                        varen.getExperience(), varen.getToNextLevel()}),
            (std::array{700, 1261, 20, 69, 51, 37, 2, 130, 210}));

  // Same second: Gorak seeds with +43, Mirel with +120, and a second Varen
  // with 211 + 14074, moved on by the first Varen's offset draw.
  //   Gorak  HP (20152, 13143) 300+3, MP (14423, 29619) 10-0,
  //          attack (31162, 14785) 11+0, defense (21511, 17429) 8-1
  //   Mirel  HP (28579, 12428) 230-8, MP (32290, 4641) 13+1,
  //          attack (5840, 25068) 8+0, defense (25487, 10870) 6-0
  //   Varen  HP (6860, 23921) 250+21, MP (3625, 30844) 11-1,
  //          attack (20673, 7208) 9-0, defense (12158, 32330) 8+2
  Gorak gorak;
  Mirel mirel;
  Varen second;
  struct Grown {
    Hero& hero;
    std::array<int, 4> maxima;
  };
  for (const Grown& g : {Grown{gorak, {1603, 60, 62, 35}}, Grown{mirel, {1122, 89, 48, 33}},
                         Grown{second, {1271, 70, 52, 39}}}) {
    g.hero.levelUp();
    EXPECT_EQ((std::array{g.hero.getMaxHp(), g.hero.getMaxMp(), g.hero.getAttackPower(),
                          g.hero.getDefensePower()}),
              g.maxima)
        << g.hero.getName();
  }
}

TEST_F(HeroTest, ThresholdsRiseByATenthMoreAndHoldAtTheLimits) {
  Gorak gorak;
  for (const int expected : {210, 441, 926, 1944, 4082, 8572, 18001, 37802}) {
    gorak.raiseToNextLevel();
    EXPECT_EQ(gorak.getToNextLevel(), expected);
  }
  // 1226257714 × 1.1 truncates to 1348883485; the sum no longer fits.
  for (const auto& [from, to] :
       {std::pair{1226257714, INT_MAX}, std::pair{INT_MAX, INT_MAX}, std::pair{0, 0},
        std::pair{-100, -210}, std::pair{INT_MIN, INT_MIN}}) {
    gorak.setToNextLevel(from);
    gorak.raiseToNextLevel();
    EXPECT_EQ(gorak.getToNextLevel(), to) << from;
  }
  gorak.setExperience(1);
  EXPECT_EQ(gorak.getExperienceToNextLevel(), INT_MIN);
}

} // namespace
} // namespace valdoria
