#include "save/HeroSaveFile.hpp"

#include "SaveFaultTest.hpp"

#include <optional>
#include <vector>

#include <windows.h>

namespace valdoria {
namespace {

using testing::After;
using testing::Fault;
using testing::On;
using testing::Step;

// Takes the pending fault for this step, if there is one, as the last error.
bool fails(Step step, On on) {
  const std::optional<int> error = testing::takeFault(step, on);
  if (error)
    SetLastError(static_cast<DWORD>(*error));
  return error.has_value();
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
            if (!fails(Step::Write, on))
              return real.writeFile(file, data, size, written);
            return GetLastError() == 0 ? real.writeFile(file, data, size - 1, written) : 0;
          },
          faulty<on, Step::Sync, &FileOps::flushFileBuffers>,
          faulty<on, Step::Truncate, &FileOps::setLength>,
          real.closeHandle,
          faulty<on, Step::Replace, &FileOps::replaceFile>,
          faulty<on, Step::Move, &FileOps::moveFile>,
          faulty<on, Step::Link, &FileOps::createHardLink>,
          real.deleteFile};
}

const FileCalls kFaultyCalls{faultyOps<On::SaveFile>(), faultyOps<On::Temporary>(), real,
                             faultyOps<On::Backup>()};

constexpr const char* kLeftover = "Varen.txt.tmp-0123456789abcdef";

// Varen.txt before the save; a killed save's leftover beside it is removed
// unless another process holds it open.
enum class Before { Missing, Own, ReadOnly, Linked, Leftover, HeldLeftover };

struct Case {
  const char* what;
  Before before;
  OldBytes keep;
  std::vector<Fault> faults;
  bool saved;
  After after;
  bool backup; // Varen.txt.bak holds the old numbers
};

using SaveFailureWindowsTest = testing::SaveFaultTest;

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
      {"flush fails", Own, Dropped, {{Sync, Temporary, kBroken}}, false, Old, false},
      {"replace fails", Own, Dropped, {{Replace, Temporary, kBroken}}, false, Old, false},
      {"new file not moved", Missing, Dropped, {{Move, Temporary, kBroken}}, false, Gone, false},
      {"free leftover removed", Leftover, Dropped, {}, true, New, false},
      {"held leftover kept", HeldLeftover, Dropped, {}, true, New, false},
      {"no new file, in place", Own, Dropped, {{Open, Temporary, kDenied}}, true, New, false},
      {"replacing refused, in place", Own, Dropped, {{Replace, Temporary, ERROR_UNABLE_TO_REMOVE_REPLACED}}, true, New, false},
      {"a second name, in place", Linked, Dropped, {}, true, New, false},
      {"in place, write breaks off", Own, Dropped, {{Open, Temporary, kDenied}, {Write, SaveFile, 0}, {Write, SaveFile, ERROR_DISK_FULL}}, false, Old, false},
      {"in place, cut fails", Own, Dropped, {{Open, Temporary, kDenied}, {Truncate, SaveFile, kBroken}}, false, New, false},
      {"kept by a link", Own, Kept, {}, true, New, true},
      {"kept by a copy, no link allowed", Own, Kept, {{Link, Backup, ERROR_NOT_SUPPORTED}}, true, New, true},
      {"kept by a copy, in place", Own, Kept, {{Open, Temporary, kDenied}}, true, New, true},
      {"copy not made", Own, Kept, {{Link, Backup, ERROR_NOT_SUPPORTED}, {Open, Backup, ERROR_DISK_FULL}}, false, Old, false},
      {"copy not moved", Own, Kept, {{Link, Backup, ERROR_NOT_SUPPORTED}, {Move, Backup, kBroken}}, false, Old, false},
      {"link not made", Own, Kept, {{Link, Backup, kBroken}}, false, Old, false},
  };
  // clang-format on
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    clearWorkDirectory();
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

    saveAndExpect(kFaultyCalls, test.faults, test.keep, test.saved, test.after, test.backup,
                  test.before == Linked || test.before == HeldLeftover ? 1 : 0);
    EXPECT_EQ(readFile("Varen.link"), test.before == Linked ? readFile("Varen.txt") : "");
    CloseHandle(held);
    SetFileAttributesA("Varen.txt", FILE_ATTRIBUTE_NORMAL);
  }
}

} // namespace
} // namespace valdoria
