#include "game/RunState.hpp"

#include "GameTest.hpp"
#include "base/Console.hpp"
#include "game/MainLoop.hpp"
#include "random/Clock.hpp"
#include "random/Random.hpp"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

namespace valdoria {
namespace {

namespace fs = std::filesystem;

using RunStateTest = testing::GameTest;

// What the program itself starts from: the process's streams, input not
// ended, the generator on seed 1 and the calendar clock.
TEST_F(RunStateTest, AResetRunIsTheProgramsOwnStart) {
  typeInput("");
  std::string word;
  ASSERT_FALSE(readWord(word));
  ASSERT_TRUE(hasInputEnded());
  seedRandom(99);
  setClock(frozenClock(0));

  resetRunState();
  EXPECT_EQ(&consoleIn(), &std::cin);
  EXPECT_EQ(&consoleOut(), &std::cout);
  EXPECT_FALSE(hasInputEnded());
  EXPECT_EQ(drawRandom(), 41);
  // No longer frozen at 1970: the calendar says this game was written later.
  EXPECT_GE(currentTime(), kDefaultTime);
}

// Two runs of one process play a session alike only when every value that
// lives for a run (generator, blow, turn and level-up offsets, the
// encounter generator's seed, end of input) starts afresh.
TEST_F(RunStateTest, EveryRunReplaysTheSameSession) {
  const fs::path scenario = fs::path(VALDORIA_SESSIONS_DIR) / "first-run-won-and-lost";
  std::ifstream inputFile(scenario / "input", std::ios::binary);
  const std::string script{std::istreambuf_iterator<char>(inputFile),
                           std::istreambuf_iterator<char>()};
  const auto play = [&] {
    std::istringstream input(script);
    std::ostringstream output;
    startRun(input, output, frozenClock(1767225609));
    runMainLoop();
    for (const char* name : {"Varen.txt", "Gorak.txt", "Mirel.txt"}) {
      fs::remove(workDirectory() / name);
    }
    return output.str();
  };
  const std::string first = play();
  ASSERT_NE(first.find("gains a level!"), std::string::npos);
  EXPECT_EQ(play(), first);
  resetRunState();
}

} // namespace
} // namespace valdoria
