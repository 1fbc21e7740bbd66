#include "GameTest.hpp"

#include "base/Console.hpp"
#include "game/RunState.hpp"
#include "random/Clock.hpp"

#include <fstream>
#include <iterator>
#include <random>

namespace valdoria::testing {

void GameTest::SetUp() {
  startRun(in, out, frozenClock(kDefaultTime));

  previousDirectory = std::filesystem::current_path();
  std::random_device entropy;
  directory = std::filesystem::temp_directory_path() /
              ("valdoria-test-" + std::to_string(entropy()) + std::to_string(entropy()));
  std::filesystem::create_directories(directory);
  std::filesystem::current_path(directory);
}

void GameTest::TearDown() {
  std::filesystem::current_path(previousDirectory);
  std::error_code ignored;
  std::filesystem::remove_all(directory, ignored);
  resetRunState();
}

void GameTest::typeInput(const std::string& text) {
  in.clear();
  in.str(text);
  setConsole(in, out);
}

void GameTest::freezeClock(std::int64_t seconds) { setClock(frozenClock(seconds)); }

void GameTest::writeFile(const std::string& name, const std::string& content) const {
  std::ofstream file(directory / name, std::ios::binary);
  file << content;
}

std::string GameTest::readFile(const std::string& name) const {
  std::ifstream file(directory / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool GameTest::fileExists(const std::string& name) const {
  return std::filesystem::exists(directory / name);
}

} // namespace valdoria::testing
