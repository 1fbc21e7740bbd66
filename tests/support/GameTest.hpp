#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>

namespace valdoria::testing {

// A fresh run for every test: the run's state reset, the console on string
// streams, the clock frozen, and an empty working directory of its own.
class GameTest : public ::testing::Test {
protected:
  static constexpr std::int64_t kDefaultTime = 1767225600; // 2026-01-01 00:00:00 UTC

  void SetUp() override;
  void TearDown() override;

  // Replaces what the player types from now on.
  void typeInput(const std::string& text);
  // Everything the game wrote so far.
  std::string output() const { return out.str(); }
  void clearOutput() { out.str(""); }

  void freezeClock(std::int64_t seconds);

  // Files in the test's working directory.
  void writeFile(const std::string& name, const std::string& content) const;
  std::string readFile(const std::string& name) const;
  bool fileExists(const std::string& name) const;
  std::filesystem::path workDirectory() const { return directory; }

  std::istringstream in;
  std::ostringstream out;

private:
  std::filesystem::path directory;
  std::filesystem::path previousDirectory;
};

} // namespace valdoria::testing
