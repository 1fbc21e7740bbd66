#include "save/HeroSaveFile.hpp"

#include "GameTest.hpp"
#include "combatants/Varen.hpp"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

namespace valdoria {
namespace {

namespace fs = std::filesystem;

// One Windows call of a save made to fail, once, on one file.
enum class Step { Open, Write, Flush, Cut, Replace, Move, Link };
enum class On { SaveFile, Temporary, Backup };
struct Fault {
  Step step;
  On on;
  DWORD error; // for a write, 0 means it takes only one byte
};

std::vector<Fault> pendingFaults;

bool fails(Step step, On on, DWORD* error = nullptr) {
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

// The real call, unless it is to fail: then 0 (for a handle, no handle).
template <On on, Step step, auto FileOps::*call>
constexpr auto faulty = [](auto... arguments) {
  using Result = decltype((real.*call)(arguments...));
  return fails(step, on) ? Result{} : (real.*call)(arguments...);
};

template <On on> FileOps faultyOps() {
  return {faulty<on, Step::Open, &FileOps::createFile>,
          [](void* file, const void* data, unsigned long size, unsigned long* written) {
            DWORD error = 0;
            if (!fails(Step::Write, on, &error))
              return real.writeFile(file, data, size, written);
            return error == 0 ? real.writeFile(file, data, 1, written) : 0;
          },
          faulty<on, Step::Flush, &FileOps::flushFileBuffers>,
          faulty<on, Step::Cut, &FileOps::setLength>,
          real.closeHandle,
          faulty<on, Step::Replace, &FileOps::replaceFile>,
          faulty<on, Step::Move, &FileOps::moveFile>,
          faulty<on, Step::Link, &FileOps::createHardLink>,
          real.deleteFile};
}

const FileCalls kFaultyCalls{faultyOps<On::SaveFile>(), faultyOps<On::Temporary>(), real,
                             faultyOps<On::Backup>()};

constexpr const char* kOldContent = "1000 60 43 29 1 40 100 ";
constexpr const char* kNewContent = "1000 60 43 29 1 77 100 ";
constexpr const char* kLeftover = "Varen.txt.tmp-0123456789abcdef";

// Varen.txt before the save; a killed save's leftover beside it is removed
// unless another process holds it open.
enum class Before { Missing, Own, ReadOnly, Linked, Leftover, HeldLeftover };
enum class After { Old, New, Gone };

struct Case {
  const char* what;
  Before before;
  OldBytes keep;
  std::vector<Fault> faults;
  bool saved;
  After after;
  bool backup; // Varen.txt.bak holds the old numbers
};

using SaveFailureWindowsTest = testing::GameTest;

// The Linux table's promises in Windows' calls: a replacement that fails
// keeps the old file whole; where the folder or Windows refuses one, or the
// file has a second name, it is written in place and still holds its old or
// its new numbers whatever fails. Nothing else is left behind.
TEST_F(SaveFailureWindowsTest, EveryFailingStepLeavesTheFileOldOrNew) {
  constexpr auto Dropped = OldBytes::Dropped;
  constexpr auto Kept = OldBytes::Kept;
  using enum Before;
  using enum After;
  using enum Step;
  using enum On;
  constexpr DWORD kBroken = ERROR_IO_DEVICE;
  constexpr DWORD kDenied = ERROR_ACCESS_DENIED;
  // clang-format off
  const std::vector<Case> cases = {
      {"replaced", Own, Dropped, {}, true, New, false},
      {"created", Missing, Dropped, {}, true, New, false},
      {"read-only", ReadOnly, Dropped, {}, false, Old, false},
      {"disk full", Own, Dropped, {{Open, Temporary, ERROR_DISK_FULL}}, false, Old, false},
      {"no new file allowed", Missing, Dropped, {{Open, Temporary, kDenied}}, false, Gone, false},
      {"write fails", Own, Dropped, {{Write, Temporary, kBroken}}, false, Old, false},
      {"flush fails", Own, Dropped, {{Flush, Temporary, kBroken}}, false, Old, false},
      {"replace fails", Own, Dropped, {{Replace, Temporary, kBroken}}, false, Old, false},
      {"new file not moved", Missing, Dropped, {{Move, Temporary, kBroken}}, false, Gone, false},
      {"free leftover removed", Leftover, Dropped, {}, true, New, false},
      {"held leftover kept", HeldLeftover, Dropped, {}, true, New, false},
      {"no new file, in place", Own, Dropped, {{Open, Temporary, kDenied}}, true, New, false},
      {"replacing refused, in place", Own, Dropped, {{Replace, Temporary, ERROR_UNABLE_TO_REMOVE_REPLACED}}, true, New, false},
      {"a second name, in place", Linked, Dropped, {}, true, New, false},
      {"in place, write breaks off", Own, Dropped, {{Open, Temporary, kDenied}, {Write, SaveFile, 0}, {Write, SaveFile, ERROR_DISK_FULL}}, false, Old, false},
      {"in place, cut fails", Own, Dropped, {{Open, Temporary, kDenied}, {Cut, SaveFile, kBroken}}, false, New, false},
      {"kept by a link", Own, Kept, {}, true, New, true},
      {"kept by a copy, no link allowed", Own, Kept, {{Link, Backup, ERROR_NOT_SUPPORTED}}, true, New, true},
      {"kept by a copy, in place", Own, Kept, {{Open, Temporary, kDenied}}, true, New, true},
      {"copy not made", Own, Kept, {{Link, Backup, ERROR_NOT_SUPPORTED}, {Open, Backup, ERROR_DISK_FULL}}, false, Old, false},
      {"copy not moved", Own, Kept, {{Link, Backup, ERROR_NOT_SUPPORTED}, {Move, Backup, kBroken}}, false, Old, false},
      {"link not made", Own, Kept, {{Link, Backup, kBroken}}, false, Old, false},
  };
  // clang-format on
  Varen varen;
  varen.setExperience(77);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    for (const fs::path& entry : std::vector<fs::path>(fs::directory_iterator(workDirectory()), {}))
      fs::remove(entry);
    if (test.before != Missing)
      writeFile("Varen.txt", kOldContent);
    if (test.before == Leftover || test.before == HeldLeftover)
      writeFile(kLeftover, kOldContent);
    const HANDLE held =
        test.before == HeldLeftover
            ? CreateFileA(kLeftover, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
            : INVALID_HANDLE_VALUE;
    const bool prepared =
        (test.before != Linked || CreateHardLinkA("Varen.link", "Varen.txt", nullptr)) &&
        (test.before != ReadOnly || SetFileAttributesA("Varen.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(prepared);

    pendingFaults = test.faults;
    const bool saved = saveHero(varen, "Varen.txt", test.keep, kFaultyCalls);
    CloseHandle(held);
    SetFileAttributesA("Varen.txt", FILE_ATTRIBUTE_NORMAL);

    EXPECT_TRUE(pendingFaults.empty()) << "a step that should have failed was never taken";
    EXPECT_EQ(saved, test.saved);
    const std::string expected[] = {kOldContent, kNewContent, ""};
    EXPECT_EQ(fileExists("Varen.txt"), test.after != Gone);
    EXPECT_EQ(readFile("Varen.txt"), expected[static_cast<int>(test.after)]);
    EXPECT_EQ(readFile("Varen.txt.bak"), test.backup ? kOldContent : "");
    EXPECT_EQ(readFile("Varen.link"), test.before == Linked ? readFile("Varen.txt") : "");
    const std::vector<fs::path> left(fs::directory_iterator(workDirectory()), {});
    EXPECT_EQ(left.size(), (test.after == Gone ? 0U : 1U) + (test.backup ? 1U : 0U) +
                               (test.before == Linked || test.before == HeldLeftover ? 1U : 0U))
        << "something left behind";
  }
}

} // namespace
} // namespace valdoria
