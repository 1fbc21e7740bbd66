#include "save/HeroSaveFile.hpp"

#include "SaveFaultTest.hpp"
#include "save/WindowsCalls.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace valdoria {
namespace {

using testing::After;
using testing::Copies;
using testing::Fault;
using testing::On;
using testing::Step;

const files::WindowsCalls real = files::os;

constexpr const char* kLeftover = "Varen.txt.tmp-0123456789abcdef";

// Varen.txt before the save; a killed save's leftover beside it is removed
// unless a running save holds it open or has marked it.
enum class Before { Missing, Own, ReadOnly, Linked, Dangling, Leftover, Held, Marked };

struct Case {
  const char* what;
  Before before;
  Copies copies;
  bool seen; // loaded before the save, so nothing of it needs keeping
  std::vector<Fault> faults;
  bool saved;
  After after;
  const char* kept;         // the copy that holds the old numbers
  const char* rescued = ""; // where the new numbers went instead
};

using SaveFailureWindowsTest = testing::SaveFaultTest;

// The Linux table's promises in Windows' calls: a replacement that fails
// keeps the old file whole; where the folder or Windows refuses one, or the
// file has a second name, it is written in place and still holds its old or
// its new numbers whatever fails. A file the save has not seen is first
// copied to the first free copy name, unless a copy holds its bytes
// already. Where Windows removes the old file but cannot move the new one,
// the new one is moved to the name or else kept as a copy. Nothing else is
// left behind.
TEST_F(SaveFailureWindowsTest, EveryFailingStepLeavesTheFileOldOrNew) {
  using enum Before;
  using enum Copies;
  using enum After;
  using enum Step;
  using enum On;
  constexpr DWORD kBroken = ERROR_IO_DEVICE;
  constexpr DWORD kDenied = ERROR_ACCESS_DENIED;
  constexpr DWORD kOldGone = ERROR_UNABLE_TO_MOVE_REPLACEMENT;
  constexpr DWORD kNoLinks = ERROR_NOT_SUPPORTED;
  constexpr const char* bak = "Varen.txt.bak";
  constexpr const char* none = "";
  // clang-format off
  const std::vector<Case> cases = {
      {"replaced", Own, None, true, {}, true, New, none},
      {"created", Missing, None, true, {}, true, New, none},
      {"read-only", ReadOnly, None, true, {}, false, Old, none},
      {"file not writable", Own, None, true, {{Open, SaveFile, kDenied}, {Open, SaveFile, kDenied}}, false, Old, none},
      {"short write continued", Own, None, true, {{Write, Temporary, 0}}, true, New, none},
      {"disk full", Own, None, true, {{Open, Temporary, ERROR_DISK_FULL}}, false, Old, none},
      {"no new file allowed", Missing, None, true, {{Open, Temporary, kDenied}}, false, Gone, none},
      {"write fails", Own, None, true, {{Write, Temporary, kBroken}}, false, Old, none},
      {"flush fails", Own, None, true, {{Sync, Temporary, kBroken}}, false, Old, none},
      {"replace fails", Own, None, true, {{Replace, Temporary, kBroken}}, false, Old, none},
      {"new file not moved", Missing, None, true, {{Move, Temporary, kBroken}}, false, Gone, none},
      {"old file gone, new one moved in", Own, None, true, {{Replace, Temporary, kOldGone}}, true, New, none},
      {"old file gone, new one kept as a copy", Own, None, true, {{Replace, Temporary, kOldGone}, {Move, Temporary, kBroken}}, false, Gone, none, bak},
      {"free leftover removed", Leftover, None, true, {}, true, New, none},
      {"held leftover kept", Held, None, true, {}, true, New, none},
      {"marked leftover kept", Marked, None, true, {}, true, New, none},
      {"a link that leads nowhere", Dangling, None, true, {}, true, New, none},
      {"no new file, in place", Own, None, true, {{Open, Temporary, kDenied}}, true, New, none},
      {"replacing refused, in place", Own, None, true, {{Replace, Temporary, ERROR_UNABLE_TO_REMOVE_REPLACED}}, true, New, none},
      {"a second name, in place", Linked, None, true, {}, true, New, none},
      {"in place, write breaks off", Own, None, true, {{Open, Temporary, kDenied}, {Write, SaveFile, 0}, {Write, SaveFile, ERROR_DISK_FULL}}, false, Old, none},
      {"in place, flush fails", Own, None, true, {{Open, Temporary, kDenied}, {Sync, SaveFile, kBroken}}, false, New, none},
      {"in place, cut fails", Own, None, true, {{Open, Temporary, kDenied}, {Truncate, SaveFile, kBroken}}, false, New, none},
      {"kept", Own, None, false, {}, true, New, bak},
      {"kept, in place", Own, None, false, {{Open, Temporary, kDenied}}, true, New, bak},
      {"kept, a second name", Linked, None, false, {}, true, New, bak},
      {"kept beside a directory", Own, ADirectory, false, {}, true, New, "Varen.txt.bak.2"},
      {"kept, no link allowed", Own, None, false, {{Link, Backup, kNoLinks}}, true, New, bak},
      {"kept, then replacing refused", Own, None, false, {{Replace, Temporary, ERROR_UNABLE_TO_REMOVE_REPLACED}}, true, New, bak},
      {"copy not made", Own, None, false, {{Link, Backup, kNoLinks}, {Open, Backup, ERROR_DISK_FULL}}, false, Old, none},
      {"copy's write fails", Own, None, false, {{Link, Backup, kNoLinks}, {Write, Backup, kBroken}}, false, Old, none},
      {"copy not flushed", Own, None, false, {{Link, Backup, kNoLinks}, {Sync, Backup, kBroken}}, false, Old, none},
      {"copy not moved", Own, None, false, {{Link, Backup, kNoLinks}, {Move, Backup, kBroken}}, false, Old, none},
      {"link not made", Own, None, false, {{Link, Backup, kBroken}}, false, Old, none},
  };
  // clang-format on
  // The system's calls, each failing where a pending fault names it and its file.
  testing::restoreCalls = [] { files::os = {}; };
  testing::setError = [](int error) { SetLastError(static_cast<DWORD>(error)); };
  files::os.createFile = [](LPCWSTR name, DWORD access, DWORD sharing,
                            LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                            HANDLE model) {
    const On on = disposition == CREATE_NEW                        ? testing::newFile()
                  : (access & (GENERIC_READ | GENERIC_WRITE)) == 0 ? Other
                                                                   : testing::named(name);
    const HANDLE file = testing::fails(Open, on) ? INVALID_HANDLE_VALUE
                                                 : real.createFile(name, access, sharing, security,
                                                                   disposition, flags, model);
    testing::openFiles[reinterpret_cast<std::intptr_t>(file)] = on;
    return file;
  };
  files::os.writeFile = [](HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                           LPOVERLAPPED at) {
    if (!testing::fails(Write, testing::fileOf(file)))
      return real.writeFile(file, data, size, written, at);
    return GetLastError() == 0 ? real.writeFile(file, data, size - 1, written, at) : FALSE;
  };
  files::os.flushFileBuffers =
      testing::onFile<Sync, real, &files::WindowsCalls::flushFileBuffers, FALSE>;
  files::os.setFileInformation =
      testing::onFile<Truncate, real, &files::WindowsCalls::setFileInformation, FALSE>;
  files::os.replaceFile = [](LPCWSTR replaced, LPCWSTR replacement, auto... rest) {
    if (!testing::fails(Replace, Temporary))
      return real.replaceFile(replaced, replacement, rest...);
    // Reported so, the old file is gone already.
    const DWORD error = GetLastError();
    const std::wstring gone = std::wstring(replaced) + L".gone";
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT && MoveFileExW(replaced, gone.c_str(), 0))
      DeleteFileW(gone.c_str());
    SetLastError(error);
    return FALSE;
  };
  files::os.moveFile = [](LPCWSTR from, LPCWSTR to, DWORD flags) {
    const On on = testing::named(to) == Backup ? Backup : Temporary;
    return testing::fails(Move, on) ? FALSE : real.moveFile(from, to, flags);
  };
  files::os.createHardLink = [](auto... a) {
    return testing::fails(Link, Backup) ? FALSE : real.createHardLink(a...);
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    clearWorkDirectory();
    // Wine makes no link (its call does nothing): that row needs Windows.
    if (test.before == Dangling &&
        (!CreateSymbolicLinkA("Varen.txt", "Target.txt",
                              SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
         !std::filesystem::is_symlink("Varen.txt")))
      continue;
    if (test.before != Missing && test.before != Dangling)
      writeFile("Varen.txt", kOldContent);
    const bool leftover = test.before >= Leftover;
    if (leftover)
      writeFile(kLeftover, kOldContent);
    const HANDLE held = test.before == Held ? CreateFileA(kLeftover, GENERIC_READ, 0, nullptr,
                                                          OPEN_EXISTING, 0, nullptr)
                                            : INVALID_HANDLE_VALUE;
    const HANDLE mark =
        test.before == Marked
            ? CreateMutexA(nullptr, FALSE, "Global\\valdoria-temporary-0123456789abcdef")
            : nullptr;
    const bool prepared =
        (test.before != Linked || CreateHardLinkA("Varen.link", "Varen.txt", nullptr)) &&
        (test.before != ReadOnly || SetFileAttributesA("Varen.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(prepared);
    const std::size_t planted = plantCopies(test.copies);
    if (leftover)
      removeLeftovers({"Varen.txt"});

    saveAndExpect(test.faults, test.seen, test.saved, test.after, test.kept,
                  planted + (test.before == Linked || test.before == Dangling ? 1 : 0) +
                      (test.before > Leftover ? 1 : 0) + (*test.rescued != '\0' ? 1 : 0));
    EXPECT_EQ(readFile("Varen.link"), test.before == Linked ? readFile("Varen.txt") : "");
    EXPECT_EQ(readFile("Target.txt"), test.before == Dangling ? kNewContent : "");
    if (*test.rescued != '\0') {
      EXPECT_EQ(readFile(test.rescued), kNewContent);
    }
    CloseHandle(held);
    if (mark != nullptr)
      CloseHandle(mark);
    SetFileAttributesA("Varen.txt", FILE_ATTRIBUTE_NORMAL);
  }
}

} // namespace
} // namespace valdoria
