#include "save/HeroSaveFile.hpp"

#include "GameTest.hpp"
#include "combatants/Varen.hpp"

#include <array>
#include <filesystem>
#include <iterator>
#include <string>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace valdoria {
namespace {

namespace fs = std::filesystem;

// HP, maximum HP, MP, maximum MP, attack, defense, level, experience, threshold.
using Record = std::array<int, 9>;

Record recordOf(const Hero& hero) {
  return {hero.getHp(),    hero.getMaxHp(),       hero.getMp(),
          hero.getMaxMp(), hero.getAttackPower(), hero.getDefensePower(),
          hero.getLevel(), hero.getExperience(),  hero.getToNextLevel()};
}

long entryCount(const fs::path& directory) {
  return std::distance(fs::directory_iterator(directory), fs::directory_iterator());
}

class HeroSaveFileTest : public testing::GameTest {
protected:
  Varen varen;
};

TEST_F(HeroSaveFileTest, TheExampleHeroIsTwentyThreeCharacters) {
  // Longer old content leaves no trace, and no file is left beside it.
  writeFile("Varen.txt", "99999999999 99999999999 99999999999 99999999999 99999999999 junk\n");
  varen.setExperience(40);
  ASSERT_TRUE(saveHero(varen, "Varen.txt"));
  EXPECT_EQ(readFile("Varen.txt"), "1000 60 43 29 1 40 100 ");
  EXPECT_EQ(entryCount(workDirectory()), 1);
}

// Any whitespace and signs are read, at full HP and MP; a file that does
// not give seven 32-bit numbers changes nothing.
TEST_F(HeroSaveFileTest, OnlySevenWholeNumbersLoad) {
  for (const auto& [content, loads] : {
           std::pair{"\t 1500 \n\n+70   43\r\n-29\t4 500\n926", true},
           std::pair{"", false},
           std::pair{"   \n", false},
           std::pair{"1500 70 43 29 4 500", false},
           std::pair{"1500 70 43 word 4 500 926", false},
           std::pair{"1500 70 43 29 4 500 x926", false},
           std::pair{"1500 70 43 29 4 500 2147483648", false},
           std::pair{"-2147483649 70 43 29 4 500 926", false},
           std::pair{"1500 70 + 29 4 500 926", false},
           std::pair{"1500,70,43,29,4,500,926", false},
       }) {
    SCOPED_TRACE(content);
    writeFile("Varen.txt", content);
    Varen hero;
    hero.setHp(7);
    EXPECT_EQ(loadHero(hero, "Varen.txt"), loads);
    EXPECT_EQ(recordOf(hero), (loads ? Record{1500, 1500, 70, 70, 43, -29, 4, 500, 926}
                                     : Record{7, 1000, 60, 60, 43, 29, 1, 0, 100}));
  }
}

TEST_F(HeroSaveFileTest, ALinkIsFollowedAndStays) {
  fs::create_directory(workDirectory() / "saves");
  writeFile("saves/real.txt", "old old old old old old old old");
  fs::create_symlink("saves/real.txt", workDirectory() / "Varen.txt");
  ASSERT_TRUE(saveHero(varen, "Varen.txt"));
  EXPECT_TRUE(fs::is_symlink(workDirectory() / "Varen.txt"));
  EXPECT_EQ(readFile("saves/real.txt"), "1000 60 43 29 1 0 100 ");
  EXPECT_EQ(entryCount(workDirectory()), 2);
  EXPECT_EQ(entryCount(workDirectory() / "saves"), 1);
}

TEST_F(HeroSaveFileTest, ANewFileGetsThePermissionsTheUmaskAllows) {
  for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{002}}) {
    const mode_t previous = ::umask(mask);
    fs::remove(workDirectory() / "Varen.txt");
    const bool saved = saveHero(varen, "Varen.txt");
    ::umask(previous);
    ASSERT_TRUE(saved);
    struct stat info {};
    ASSERT_EQ(::stat("Varen.txt", &info), 0);
    EXPECT_EQ(info.st_mode & 0777U, 0666U & ~mask) << mask;
  }
}

// A write that breaks off (here at a file size limit of 5 bytes) is a failed
// save: the old file stays whole and no temporary file is left.
TEST_F(HeroSaveFileTest, AWriteErrorKeepsTheOldFile) {
  writeFile("Varen.txt", "1000 60 43 29 1 40 100 ");
  varen.setExperience(99999);
  rlimit previous{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
  const rlimit limit{5, previous.rlim_max};
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const bool saved = saveHero(varen, "Varen.txt");
  ::setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, handler);
  EXPECT_FALSE(saved);
  EXPECT_EQ(readFile("Varen.txt"), "1000 60 43 29 1 40 100 ");
  EXPECT_EQ(entryCount(workDirectory()), 1);
}

} // namespace
} // namespace valdoria
