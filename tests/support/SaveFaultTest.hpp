#pragma once

#include "GameTest.hpp"
#include "combatants/Varen.hpp"
#include "save/HeroSaveFile.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace valdoria::testing {

// One step of a save made to fail, once, on one file: each platform's
// failure table makes its own calls fail among these.
// clang-format off
enum class Step { Open, Stat, Truncate, Write, Sync, Close, ChangeOwner, ChangeMode, SetAttribute, RemoveAttribute, Link, Rename, Replace, Move };
// clang-format on
enum class On { SaveFile, Temporary, Directory, Backup, Other };
struct Fault {
  Step step;
  On on;
  // The platform's error code; for a write, 0: it takes all but the last byte.
  int error;
};

inline std::vector<Fault> pendingFaults;
// The platform's own: how an error is set, how the system's calls come back.
inline void (*setError)(int error) = nullptr;
inline void (*restoreCalls)() = [] {};

// Takes the pending fault for this step on this file, if there is one.
inline bool fails(Step step, On on) {
  const auto fault = std::find_if(pendingFaults.begin(), pendingFaults.end(),
                                  [&](const Fault& f) { return f.step == step && f.on == on; });
  if (fault == pendingFaults.end())
    return false;
  setError(fault->error);
  pendingFaults.erase(fault);
  return true;
}

// The file each open descriptor or handle is; the first new file a save
// makes is its temporary, any later one a copy's.
inline std::map<std::intptr_t, On> openFiles;
inline int newFiles = 0;
inline On newFile() { return newFiles++ == 0 ? On::Temporary : On::Backup; }
inline On fileOf(std::intptr_t file) {
  const auto found = openFiles.find(file);
  return found == openFiles.end() ? On::Other : found->second;
}
inline On fileOf(const void* file) { return fileOf(reinterpret_cast<std::intptr_t>(file)); }
inline On named(const std::filesystem::path& name) {
  return name == "."                                       ? On::Directory
         : name.string().find(".bak") != std::string::npos ? On::Backup
                                                           : On::SaveFile;
}

// The call `real.*call` on a file, unless a pending fault names it and that
// file: then `failed`.
template <Step step, auto& real, auto call, auto failed>
constexpr auto onFile = [](auto file, auto... rest) {
  return fails(step, fileOf(file)) ? failed : (real.*call)(file, rest...);
};

// Varen.txt after the save: the old or the new numbers, or no file.
enum class After { Old, New, Gone };

// What the copy names hold before the save.
enum class Copies { None, ADirectory, OtherBytes, SameBytes, AllNine };

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
    restoreCalls();
    GameTest::TearDown();
  }

  // Saves with `faults` pending, the file loaded first where `seen`; every
  // fault must be met, Varen.txt holds what the row says, the copy named
  // `kept` (none: "") the old numbers, and no file is beside them but the
  // row's own `others`. A save that succeeds has seen its own file.
  void saveAndExpect(const std::vector<Fault>& faults, bool seen, bool saved, After after,
                     const std::string& kept, std::size_t others) {
    std::optional<FileStamp> stamp;
    FileStamp loaded;
    if (Varen reader; seen && loadHero(reader, "Varen.txt", &loaded))
      stamp = loaded;
    pendingFaults = faults;
    newFiles = 0;
    EXPECT_EQ(saveHero(varen, "Varen.txt", &stamp), saved);
    EXPECT_TRUE(pendingFaults.empty()) << "a step that should have failed was never taken";
    const std::string expected[] = {kOldContent, kNewContent, ""};
    EXPECT_EQ(fileExists("Varen.txt"), after != After::Gone);
    EXPECT_EQ(readFile("Varen.txt"), expected[static_cast<int>(after)]);
    if (!kept.empty()) {
      EXPECT_EQ(readFile(kept), kOldContent);
    }
    const auto anything = [](std::istream&) { return true; };
    if (saved && readSmallFile("Varen.txt", anything, &loaded)) {
      EXPECT_EQ(stamp, loaded);
    }
    const std::vector<std::filesystem::path> left(
        std::filesystem::directory_iterator(workDirectory()), {});
    EXPECT_EQ(left.size(), (after == After::Gone ? 0U : 1U) + (kept.empty() ? 0U : 1U) + others)
        << "something left behind";
  }

  // Lays out the copy names; how many entries that makes beside the copy
  // that is to hold the old numbers.
  std::size_t plantCopies(Copies copies) const {
    if (copies == Copies::ADirectory)
      return std::filesystem::create_directory(workDirectory() / "Varen.txt.bak") ? 1 : 0;
    const int count = copies == Copies::AllNine ? 9 : copies == Copies::None ? 0 : 1;
    for (int number = 1; number <= count; ++number)
      writeFile(number == 1 ? "Varen.txt.bak" : "Varen.txt.bak." + std::to_string(number),
                copies == Copies::SameBytes ? kOldContent : "1 2 3 4 5 6 7 ");
    return copies == Copies::SameBytes ? 0 : static_cast<std::size_t>(count);
  }

  // Nothing left of the previous row.
  void clearWorkDirectory() const {
    for (const auto& entry : std::filesystem::directory_iterator(workDirectory()))
      std::filesystem::remove_all(entry.path());
  }

  Varen varen;
};

} // namespace valdoria::testing
