#include "save/HeroSaveFile.hpp"

#include "GameTest.hpp"
#include "combatants/Varen.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::vector<std::string> entryNames(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

mode_t fileMode(const char* name) {
  struct stat info {};
  return ::stat(name, &info) == 0 ? info.st_mode & 07777 : 0;
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

// Through a link into a subfolder, and a link there relative to it: loaded
// and saved, the links kept, and a leftover beside the real file cleared.
TEST_F(HeroSaveFileTest, ALinkIsFollowedAndStays) {
  fs::create_directories(workDirectory() / "saves/slots");
  writeFile("saves/slots/real.txt", "1500 70 43 -29 4 500 926");
  writeFile("saves/slots/real.txt.tmp-0123456789abcdef", "1 2 3 4 5 6 ");
  fs::create_symlink("slots/real.txt", workDirectory() / "saves/current");
  fs::create_symlink("saves/current", workDirectory() / "Varen.txt");
  Varen loaded;
  ASSERT_TRUE(loadHero(loaded, "Varen.txt"));
  EXPECT_EQ(loaded.getLevel(), 4);
  ASSERT_TRUE(saveHero(varen, "Varen.txt"));
  removeLeftovers({"Varen.txt"});
  EXPECT_TRUE(fs::is_symlink(workDirectory() / "Varen.txt"));
  EXPECT_TRUE(fs::is_symlink(workDirectory() / "saves/current"));
  EXPECT_EQ(readFile("saves/slots/real.txt"), "1000 60 43 29 1 0 100 ");
  EXPECT_EQ(entryNames(workDirectory() / "saves/slots"), std::vector<std::string>{"real.txt"});
}

// A new file gets what the umask allows; a replaced file keeps its own mode,
// so a file the player made private stays private.
TEST_F(HeroSaveFileTest, PermissionsAreTheOldFilesOrTheUmasks) {
  for (const mode_t mask : {mode_t{022}, mode_t{077}}) {
    const mode_t previous = ::umask(mask);
    fs::remove(workDirectory() / "Varen.txt");
    const bool created = saveHero(varen, "Varen.txt");
    std::vector<std::pair<bool, mode_t>> results{{created, fileMode("Varen.txt")}};
    for (const mode_t mode : {0600U, 0640U, 0604U, 0666U, 0700U}) {
      ::chmod("Varen.txt", mode);
      results.emplace_back(saveHero(varen, "Varen.txt"), fileMode("Varen.txt"));
    }
    ::umask(previous);
    EXPECT_EQ(results, (std::vector<std::pair<bool, mode_t>>{{true, 0666 & ~mask},
                                                             {true, 0600},
                                                             {true, 0640},
                                                             {true, 0604},
                                                             {true, 0666},
                                                             {true, 0700}}))
        << "umask " << mask;
  }
}

// Runs `call` in a child process, so that a call that blocks cannot hold up
// the tests: nothing if it has not returned within five seconds.
std::optional<bool> withinFiveSeconds(const std::function<bool()>& call) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::_exit(call() ? 1 : 0);
  }
  for (int tick = 0; tick < 500; ++tick) {
    int status = 0;
    if (::waitpid(child, &status, WNOHANG) == child) {
      return WIFEXITED(status) ? std::optional(WEXITSTATUS(status) == 1) : std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  return std::nullopt;
}

// Anything but a regular file at the name, or at the end of its links, is
// neither loaded nor saved, and a pipe does not make the program wait.
TEST_F(HeroSaveFileTest, OnlyARegularFileIsLoadedOrSaved) {
  const auto makeSocket = [](const char* name) {
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, name);
    EXPECT_EQ(::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(socket);
  };
  const std::vector<std::pair<const char*, std::function<void()>>> cases = {
      {"pipe", [] { ::mkfifo("Varen.txt", 0666); }},
      {"link to a pipe",
       [] {
         ::mkfifo("pipe", 0666);
         ::symlink("pipe", "Varen.txt");
       }},
      {"socket", [&] { makeSocket("Varen.txt"); }},
      // A device of the test's own, so that a broken save cannot replace a
      // system one; without the right to make one, a pipe stands in.
      {"link to a device",
       [] {
         if (::mknod("device", S_IFCHR | 0666, ::makedev(1, 3)) != 0) {
           ::mkfifo("device", 0666);
         }
         ::symlink("device", "Varen.txt");
       }},
      {"directory", [] { ::mkdir("Varen.txt", 0777); }},
      {"link loop", [] { ::symlink("Varen.txt", "Varen.txt"); }},
      {"file inside a file", [] { ::symlink("Gorak.txt/Varen.txt", "Varen.txt"); }},
  };
  writeFile("Gorak.txt", "1 2 3 4 5 6 7 ");
  for (const auto& [what, make] : cases) {
    SCOPED_TRACE(what);
    make();
    const std::vector<std::string> before = entryNames(workDirectory());
    EXPECT_EQ(withinFiveSeconds([] {
                Varen hero;
                return loadHero(hero, "Varen.txt");
              }),
              false);
    EXPECT_EQ(withinFiveSeconds([this] { return saveHero(varen, "Varen.txt"); }), false);
    EXPECT_EQ(entryNames(workDirectory()), before);
    EXPECT_EQ(readFile("Gorak.txt"), "1 2 3 4 5 6 7 ");
    for (const char* name : {"Varen.txt", "pipe"}) {
      fs::remove(workDirectory() / name);
    }
  }
}

// In a sticky, world-writable directory such as /tmp anyone may plant a link;
// one that is neither the player's nor the directory owner's is not followed,
// as the kernel's protection of such links would refuse it to a plain open.
TEST_F(HeroSaveFileTest, ALinkPlantedInASharedDirectoryIsNotFollowed) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to give links to another user";
  }
  constexpr uid_t kRoot = 0;
  constexpr uid_t kNobody = 65534;
  struct Case {
    const char* what;
    mode_t directoryMode;
    uid_t directoryOwner;
    uid_t linkOwner;
    const char* name;
    bool followed;
  };
  for (const Case& test : {
           Case{"another user's link", 01777, kRoot, kNobody, "shared/Varen.txt", false},
           Case{"reached through a link", 01777, kRoot, kNobody, "Varen.txt", false},
           Case{"the player's link", 01777, kRoot, kRoot, "shared/Varen.txt", true},
           Case{"the directory owner's link", 01777, kNobody, kNobody, "shared/Varen.txt", true},
           Case{"not sticky", 0777, kRoot, kNobody, "shared/Varen.txt", true},
           Case{"not world-writable", 01775, kRoot, kNobody, "shared/Varen.txt", true},
       }) {
    SCOPED_TRACE(test.what);
    fs::remove_all(workDirectory() / "shared");
    fs::remove(workDirectory() / "Varen.txt");
    ASSERT_TRUE(fs::create_directory(workDirectory() / "shared"));
    writeFile("real.txt", "1500 70 43 -29 4 500 926");
    ASSERT_EQ(::symlink("../real.txt", "shared/Varen.txt"), 0);
    ASSERT_EQ(::symlink("shared/Varen.txt", "Varen.txt"), 0);
    ASSERT_EQ(::lchown("shared/Varen.txt", test.linkOwner, test.linkOwner), 0);
    ASSERT_EQ(::chown("shared", test.directoryOwner, test.directoryOwner), 0);
    ASSERT_EQ(::chmod("shared", test.directoryMode), 0);

    Varen hero;
    EXPECT_EQ(loadHero(hero, test.name), test.followed);
    EXPECT_EQ(hero.getLevel(), test.followed ? 4 : 1);
    EXPECT_EQ(saveHero(varen, test.name), test.followed);
    EXPECT_EQ(readFile("real.txt"),
              test.followed ? "1000 60 43 29 1 0 100 " : "1500 70 43 -29 4 500 926");
    EXPECT_TRUE(fs::is_symlink(workDirectory() / "shared/Varen.txt"));
    EXPECT_EQ(entryNames(workDirectory() / "shared"), std::vector<std::string>{"Varen.txt"});
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
