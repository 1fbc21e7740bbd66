#include "save/HeroSaveFile.hpp"

#include "GameTest.hpp"
#include "combatants/Varen.hpp"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

namespace valdoria {
namespace {

namespace fs = std::filesystem;

// One Windows call of a save made to fail, once, on one file.
enum class Step { Open, Write, Flush, Cut, Close, Replace, Move, Link };
enum class On { SaveFile, Temporary, Backup };
struct Fault {
  Step step;
  On on;
  DWORD error; // for a write, 0 means it takes only one byte
};

std::vector<Fault> pendingFaults;

bool takeFault(Step step, On on, DWORD* error = nullptr) {
  const auto fault = std::find_if(pendingFaults.begin(), pendingFaults.end(),
                                  [&](const Fault& f) { return f.step == step && f.on == on; });
  if (fault == pendingFaults.end())
    return false;
  SetLastError(fault->error);
  if (error != nullptr)
    *error = fault->error;
  pendingFaults.erase(fault);
  return true;
}

const FileOps& real = systemFileCalls().saveFile;

template <On on> FileOps faultyOps() {
  return {
      [](const wchar_t* path, unsigned long access, unsigned long sharing,
         unsigned long disposition, unsigned long flags) -> void* {
        return takeFault(Step::Open, on)
                   ? INVALID_HANDLE_VALUE
                   : real.createFile(path, access, sharing, disposition, flags);
      },
      [](void* file, const void* data, unsigned long size, unsigned long* written) {
        DWORD error = 0;
        if (!takeFault(Step::Write, on, &error))
          return real.writeFile(file, data, size, written);
        return error == 0 ? real.writeFile(file, data, 1, written) : 0;
      },
      [](void* file) { return takeFault(Step::Flush, on) ? 0 : real.flushFileBuffers(file); },
      [](void* file, std::int64_t length) {
        return takeFault(Step::Cut, on) ? 0 : real.setLength(file, length);
      },
      [](void* file) {
        // Like Windows: the handle is gone even when the close fails.
        const int result = real.closeHandle(file);
        return takeFault(Step::Close, on) ? 0 : result;
      },
      [](const wchar_t* replaced, const wchar_t* replacement) {
        return takeFault(Step::Replace, on) ? 0 : real.replaceFile(replaced, replacement);
      },
      [](const wchar_t* from, const wchar_t* to, unsigned long flags) {
        return takeFault(Step::Move, on) ? 0 : real.moveFile(from, to, flags);
      },
      [](const wchar_t* link, const wchar_t* target) {
        return takeFault(Step::Link, on) ? 0 : real.createHardLink(link, target);
      },
      real.deleteFile,
  };
}

const FileCalls kFaultyCalls{faultyOps<On::SaveFile>(), faultyOps<On::Temporary>(), real,
                             faultyOps<On::Backup>()};

constexpr const char* kOldContent = "1000 60 43 29 1 40 100 ";
constexpr const char* kNewContent = "1000 60 43 29 1 77 100 ";

// Varen.txt before the save: missing, the player's, read-only, or the
// player's with a second name.
enum class Before { Missing, Own, ReadOnly, Linked };
enum class After { Old, New, Missing };

struct Case {
  const char* what;
  Before before;
  OldBytes keep;
  std::vector<Fault> faults;
  bool saved;
  After after;
  bool replaced; // a new file in the old one's place, rather than written in place
  bool backup;   // Varen.txt.bak holds the old numbers
};

std::optional<BY_HANDLE_FILE_INFORMATION> informationOf(const char* name) {
  const HANDLE file = CreateFileA(name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  BY_HANDLE_FILE_INFORMATION information{};
  const bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &information);
  CloseHandle(file);
  return known ? std::optional(information) : std::nullopt;
}

class SaveFailureWindowsTest : public testing::GameTest {
protected:
  void TearDown() override {
    pendingFaults.clear();
    SetFileAttributesA("Varen.txt", FILE_ATTRIBUTE_NORMAL);
    GameTest::TearDown();
  }

  Varen varen;
};

// The same promises as on Linux in Windows' calls: a replacement that fails
// keeps the old file whole; where the folder or the file refuses one, or the
// file has a second name, it is written in place and still holds its old or
// its new numbers whatever fails. Nothing else is ever left behind.
TEST_F(SaveFailureWindowsTest, EveryFailingStepLeavesTheFileOldOrNew) {
  constexpr auto Dropped = OldBytes::Dropped;
  constexpr auto Kept = OldBytes::Kept;
  constexpr Fault kNoFolderRights{Step::Open, On::Temporary, ERROR_ACCESS_DENIED};
  const std::vector<Case> cases = {
      {"replaced", Before::Own, Dropped, {}, true, After::New, true, false},
      {"created", Before::Missing, Dropped, {}, true, After::New, false, false},
      {"short write continued",
       Before::Own,
       Dropped,
       {{Step::Write, On::Temporary, 0}},
       true,
       After::New,
       true,
       false},
      {"read-only", Before::ReadOnly, Dropped, {}, false, After::Old, false, false},
      {"disk full",
       Before::Own,
       Dropped,
       {{Step::Open, On::Temporary, ERROR_DISK_FULL}},
       false,
       After::Old,
       false,
       false},
      {"no new file allowed",
       Before::Missing,
       Dropped,
       {kNoFolderRights},
       false,
       After::Missing,
       false,
       false},
      {"write fails",
       Before::Own,
       Dropped,
       {{Step::Write, On::Temporary, ERROR_WRITE_FAULT}},
       false,
       After::Old,
       false,
       false},
      {"flush fails",
       Before::Own,
       Dropped,
       {{Step::Flush, On::Temporary, ERROR_WRITE_FAULT}},
       false,
       After::Old,
       false,
       false},
      {"close fails",
       Before::Own,
       Dropped,
       {{Step::Close, On::Temporary, ERROR_WRITE_FAULT}},
       false,
       After::Old,
       false,
       false},
      {"replace fails",
       Before::Own,
       Dropped,
       {{Step::Replace, On::Temporary, ERROR_WRITE_FAULT}},
       false,
       After::Old,
       false,
       false},
      {"move of a new file fails",
       Before::Missing,
       Dropped,
       {{Step::Move, On::Temporary, ERROR_WRITE_FAULT}},
       false,
       After::Missing,
       false,
       false},

      {"folder takes no new file",
       Before::Own,
       Dropped,
       {kNoFolderRights},
       true,
       After::New,
       false,
       false},
      {"replacing refused",
       Before::Own,
       Dropped,
       {{Step::Replace, On::Temporary, ERROR_UNABLE_TO_REMOVE_REPLACED}},
       true,
       After::New,
       false,
       false},
      {"a second name", Before::Linked, Dropped, {}, true, After::New, false, false},
      {"in place, write fails",
       Before::Own,
       Dropped,
       {kNoFolderRights, {Step::Write, On::SaveFile, ERROR_WRITE_FAULT}},
       false,
       After::Old,
       false,
       false},
      {"in place, write breaks off",
       Before::Own,
       Dropped,
       {kNoFolderRights,
        {Step::Write, On::SaveFile, 0},
        {Step::Write, On::SaveFile, ERROR_DISK_FULL}},
       false,
       After::Old,
       false,
       false},
      {"in place, flush fails",
       Before::Own,
       Dropped,
       {kNoFolderRights, {Step::Flush, On::SaveFile, ERROR_WRITE_FAULT}},
       false,
       After::New,
       false,
       false},
      {"in place, cut fails",
       Before::Own,
       Dropped,
       {kNoFolderRights, {Step::Cut, On::SaveFile, ERROR_WRITE_FAULT}},
       false,
       After::New,
       false,
       false},

      {"kept by a link", Before::Own, Kept, {}, true, After::New, true, true},
      {"kept by a copy, no link allowed",
       Before::Own,
       Kept,
       {{Step::Link, On::Backup, ERROR_NOT_SUPPORTED}},
       true,
       After::New,
       true,
       true},
      {"kept by a copy, in place",
       Before::Own,
       Kept,
       {kNoFolderRights},
       true,
       After::New,
       false,
       true},
      {"copy not made",
       Before::Own,
       Kept,
       {{Step::Link, On::Backup, ERROR_NOT_SUPPORTED}, {Step::Open, On::Backup, ERROR_DISK_FULL}},
       false,
       After::Old,
       false,
       false},
      {"copy not put in place",
       Before::Own,
       Kept,
       {{Step::Link, On::Backup, ERROR_NOT_SUPPORTED}, {Step::Move, On::Backup, ERROR_WRITE_FAULT}},
       false,
       After::Old,
       false,
       false},
      {"link not made",
       Before::Own,
       Kept,
       {{Step::Link, On::Backup, ERROR_WRITE_FAULT}},
       false,
       After::Old,
       false,
       false},
  };
  varen.setExperience(77);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    SetFileAttributesA("Varen.txt", FILE_ATTRIBUTE_NORMAL);
    for (const char* name : {"Varen.txt", "Varen.txt.bak", "Varen.link"})
      fs::remove(name);
    if (test.before != Before::Missing)
      writeFile("Varen.txt", kOldContent);
    if (test.before == Before::Linked) {
      ASSERT_TRUE(CreateHardLinkA("Varen.link", "Varen.txt", nullptr));
    }
    if (test.before == Before::ReadOnly) {
      ASSERT_TRUE(SetFileAttributesA("Varen.txt", FILE_ATTRIBUTE_READONLY));
    }
    const auto before = informationOf("Varen.txt");

    pendingFaults = test.faults;
    const bool saved = saveHero(varen, "Varen.txt", test.keep, kFaultyCalls);

    EXPECT_TRUE(pendingFaults.empty()) << "a step that should have failed was never taken";
    EXPECT_EQ(saved, test.saved);
    const std::string expected[] = {kOldContent, kNewContent, ""};
    EXPECT_EQ(fileExists("Varen.txt"), test.after != After::Missing);
    EXPECT_EQ(readFile("Varen.txt"), expected[static_cast<int>(test.after)]);
    EXPECT_EQ(readFile("Varen.txt.bak"), test.backup ? kOldContent : "");
    if (test.before == Before::Linked) {
      EXPECT_EQ(readFile("Varen.link"), readFile("Varen.txt"));
    }
    const std::vector<fs::path> left(fs::directory_iterator(workDirectory()), {});
    EXPECT_EQ(left.size(), (test.after == After::Missing ? 0U : 1U) + (test.backup ? 1U : 0U) +
                               (test.before == Before::Linked ? 1U : 0U))
        << "something left behind";
    const auto after = informationOf("Varen.txt");
    if (before && after) {
      EXPECT_EQ(after->nFileIndexLow != before->nFileIndexLow, test.replaced);
    }
  }
}

// A save killed halfway leaves its temporary file, which no process holds
// open any more; the next save of that hero removes every such file, and
// none that another process still has open, whatever its name says.
TEST_F(SaveFailureWindowsTest, ASaveClearsWhatKilledSavesLeft) {
  const std::vector<std::pair<std::string, bool>> leftovers = {
      {"Varen.txt.tmp-0123456789abcdef", false},
      {"Varen.txt.tmp-fedcba9876543210", true}, // held open below
      {"Gorak.txt.tmp-0123456789abcdef", true},
      {"Varen.txt.tmp-0123", true},
      {"xVaren.txt.tmp-0123456789abcdef", true},
  };
  for (const auto& [name, kept] : leftovers)
    writeFile(name, "1 2 3 4 5 6 ");
  const HANDLE held = CreateFileA("Varen.txt.tmp-fedcba9876543210", GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  writeFile("Varen.txt", kOldContent);

  varen.setExperience(77);
  ASSERT_TRUE(saveHero(varen, "Varen.txt"));
  CloseHandle(held);
  EXPECT_EQ(readFile("Varen.txt"), kNewContent);
  for (const auto& [name, kept] : leftovers) {
    EXPECT_EQ(fileExists(name), kept) << name;
  }
}

} // namespace
} // namespace valdoria
