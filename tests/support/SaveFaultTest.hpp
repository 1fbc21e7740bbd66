#pragma once

#include "GameTest.hpp"
#include "combatants/Varen.hpp"
#include "save/HeroSaveFile.hpp"

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace valdoria::testing {

// One step of a save made to fail, once, on one file: each platform's
// failure table makes its own calls fail among these.
// clang-format off
enum class Step { Open, Truncate, Write, Sync, Close, ChangeOwner, ChangeMode, SetAttribute, Link, Rename, Replace, Move };
// clang-format on
enum class On { SaveFile, Temporary, Directory, Backup };
struct Fault {
  Step step;
  On on;
  // The platform's error code; for a write, 0: it takes all but the last byte.
  int error;
};

inline std::vector<Fault> pendingFaults;

// The error of the pending fault for this step on this file, which is then
// taken; nothing when no fault is pending there.
inline std::optional<int> takeFault(Step step, On on) {
  const auto fault = std::find_if(pendingFaults.begin(), pendingFaults.end(),
                                  [&](const Fault& f) { return f.step == step && f.on == on; });
  if (fault == pendingFaults.end())
    return std::nullopt;
  const int error = fault->error;
  pendingFaults.erase(fault);
  return error;
}

// Varen.txt after the save: the old or the new numbers, or no file.
enum class After { Old, New, Gone };

// A failure table's row: Varen's new numbers saved over the old ones with
// some steps made to fail.
class SaveFaultTest : public GameTest {
protected:
  static constexpr const char* kOldContent = "1000 60 43 29 1 40 100 ";
  static constexpr const char* kNewContent = "1000 60 43 29 1 77 100 ";

  void SetUp() override {
    GameTest::SetUp();
    varen.setExperience(77);
  }
  void TearDown() override {
    pendingFaults.clear();
    GameTest::TearDown();
  }

  // Saves through `calls` with `faults` pending; every fault must be met, and
  // Varen.txt and Varen.txt.bak hold what the row says, with no file beside
  // them but the row's own `others`.
  void saveAndExpect(const FileCalls& calls, const std::vector<Fault>& faults, OldBytes keep,
                     bool saved, After after, bool backup, std::size_t others) {
    pendingFaults = faults;
    EXPECT_EQ(saveHero(varen, "Varen.txt", keep, calls), saved);
    EXPECT_TRUE(pendingFaults.empty()) << "a step that should have failed was never taken";
    const std::string expected[] = {kOldContent, kNewContent, ""};
    EXPECT_EQ(fileExists("Varen.txt"), after != After::Gone);
    EXPECT_EQ(readFile("Varen.txt"), expected[static_cast<int>(after)]);
    EXPECT_EQ(readFile("Varen.txt.bak"), backup ? kOldContent : "");
    const std::vector<std::filesystem::path> left(
        std::filesystem::directory_iterator(workDirectory()), {});
    EXPECT_EQ(left.size(), (after == After::Gone ? 0U : 1U) + (backup ? 1U : 0U) + others)
        << "something left behind";
  }

  // Nothing left of the previous row.
  void clearWorkDirectory() const {
    for (const auto& entry : std::filesystem::directory_iterator(workDirectory()))
      std::filesystem::remove_all(entry.path());
  }

  Varen varen;
};

} // namespace valdoria::testing
