#include "save/HeroSaveFile.hpp"

#include "SaveFaultTest.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace valdoria {
namespace {

namespace fs = std::filesystem;

using testing::After;
using testing::Fault;
using testing::On;
using testing::Step;

// Takes the pending fault for this step, if there is one, and sets errno.
bool fails(Step step, On on) {
  const std::optional<int> error = testing::takeFault(step, on);
  if (error)
    errno = *error;
  return error.has_value();
}

const FileOps& real = systemFileCalls().saveFile;

// The system's calls, each failing when a pending fault names it and `on`.
template <On on> FileOps faultyOps() {
  return {
      [](auto... a) { return fails(Step::Open, on) ? -1 : real.openAt(a...); },
      [](int descriptor, const void* data, std::size_t size) -> ssize_t {
        if (!fails(Step::Write, on))
          return real.write(descriptor, data, size);
        return errno == 0 ? real.write(descriptor, data, size - 1) : -1;
      },
      [](auto... a) { return fails(Step::Truncate, on) ? -1 : real.truncate(a...); },
      [](auto... a) { return fails(Step::Sync, on) ? -1 : real.sync(a...); },
      [](int descriptor) {
        // Like the kernel: the descriptor is gone even when the close fails.
        const int result = real.close(descriptor);
        return fails(Step::Close, on) ? -1 : result;
      },
      [](auto... a) { return fails(Step::ChangeOwner, on) ? -1 : real.changeOwner(a...); },
      [](auto... a) { return fails(Step::ChangeMode, on) ? -1 : real.changeMode(a...); },
      [](auto... a) { return fails(Step::SetAttribute, on) ? -1 : real.setAttribute(a...); },
      [](auto... a) { return fails(Step::Link, on) ? -1 : real.linkAt(a...); },
      [](auto... a) { return fails(Step::Rename, on) ? -1 : real.renameAt(a...); },
      real.lock,
  };
}

const FileCalls kFaultyCalls{faultyOps<On::SaveFile>(), faultyOps<On::Temporary>(),
                             faultyOps<On::Directory>(), faultyOps<On::Backup>()};

constexpr uid_t kNobody = 65534;

// Varen.txt before the save: missing, the user's own, another user's, or
// the user's with a second name.
enum class Before { Missing, Own, Foreign, Linked };

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

using SaveFailureTest = testing::SaveFaultTest;

std::string attributeOf(const char* name) {
  std::array<char, 16> value{};
  const ssize_t size = ::getxattr(name, "user.valdoria", value.data(), value.size());
  return size < 0 ? "" : std::string(value.data(), static_cast<std::size_t>(size));
}

// Every step of a save that can fail, and what the player's file looks like
// after it: a replacement that fails keeps the old file whole; where the
// directory, the owner, an attribute or a second link rule out a replacement
// the file is written in place, and still holds its old or its new numbers
// whatever fails. Kept old bytes are a link or a copy with the file's own
// mode, owner and attributes. Nothing else is ever left behind.
TEST_F(SaveFailureTest, EveryFailingStepLeavesTheFileOldOrNew) {
  constexpr auto Dropped = OldBytes::Dropped;
  constexpr auto Kept = OldBytes::Kept;
  using enum Before;
  using enum After;
  using enum Step;
  using enum On;
  // clang-format off
  const std::vector<Case> cases = {
      {"replaced", Own, Dropped, {}, true, New, true, false},
      {"replaced, another user's", Foreign, Dropped, {}, true, New, true, false},
      {"created", Missing, Dropped, {}, true, New, false, false},
      {"short write continued", Own, Dropped, {{Write, Temporary, 0}}, true, New, true, false},
      {"interrupted write retried", Own, Dropped, {{Write, Temporary, EINTR}}, true, New, true, false},
      {"file not writable", Own, Dropped, {{Open, SaveFile, EACCES}, {Open, SaveFile, EACCES}}, false, Old, false, false},
      {"disk full", Own, Dropped, {{Open, Temporary, ENOSPC}}, false, Old, false, false},
      {"no new file allowed", Missing, Dropped, {{Open, Temporary, EACCES}}, false, Gone, false, false},
      {"owner not set", Foreign, Dropped, {{ChangeOwner, Temporary, EIO}}, false, Old, false, false},
      {"mode not set", Own, Dropped, {{ChangeMode, Temporary, EIO}}, false, Old, false, false},
      {"write fails", Own, Dropped, {{Write, Temporary, EIO}}, false, Old, false, false},
      {"flush fails", Own, Dropped, {{Sync, Temporary, EIO}}, false, Old, false, false},
      {"rename fails", Own, Dropped, {{Rename, Temporary, EIO}}, false, Old, false, false},
      {"rename of a new file fails", Missing, Dropped, {{Rename, Temporary, EIO}}, false, Gone, false, false},
      {"close fails after the rename", Own, Dropped, {{Close, Temporary, EIO}}, false, New, true, false},
      {"directory flush fails", Own, Dropped, {{Sync, Directory, EIO}}, false, New, true, false},
      {"directory flush of a new file fails", Missing, Dropped, {{Sync, Directory, EIO}}, false, New, false, false},
      {"directory not writable", Own, Dropped, {{Open, Temporary, EACCES}}, true, New, false, false},
      {"directory refuses new files", Own, Dropped, {{Open, Temporary, EPERM}}, true, New, false, false},
      {"temporary name too long", Own, Dropped, {{Open, Temporary, ENAMETOOLONG}}, true, New, false, false},
      {"owner may not be given", Foreign, Dropped, {{ChangeOwner, Temporary, EPERM}}, true, New, false, false},
      {"attribute may not be given", Own, Dropped, {{SetAttribute, Temporary, EPERM}}, true, New, false, false},
      {"sticky directory refuses the rename", Own, Dropped, {{Rename, Temporary, EPERM}}, true, New, false, false},
      {"a second link", Linked, Dropped, {}, true, New, false, false},
      {"in place, write fails", Own, Dropped, {{Open, Temporary, EACCES}, {Write, SaveFile, EIO}}, false, Old, false, false},
      {"in place, write breaks off", Own, Dropped, {{Open, Temporary, EACCES}, {Write, SaveFile, 0}, {Write, SaveFile, EFBIG}}, false, Old, false, false},
      {"in place, flush fails", Own, Dropped, {{Open, Temporary, EACCES}, {Sync, SaveFile, EIO}}, false, New, false, false},
      {"in place, cut fails", Own, Dropped, {{Open, Temporary, EACCES}, {Truncate, SaveFile, EIO}}, false, New, false, false},
      {"in place, close fails", Own, Dropped, {{Open, Temporary, EACCES}, {Close, SaveFile, EIO}}, false, New, false, false},
      {"kept by a link", Own, Kept, {}, true, New, true, true},
      {"kept, nothing to keep", Missing, Kept, {}, true, New, false, false},
      {"kept by a copy, no link allowed", Own, Kept, {{Link, Backup, EPERM}}, true, New, true, true},
      {"kept by a copy, in place", Own, Kept, {{Open, Temporary, EACCES}}, true, New, false, true},
      {"copy not made", Own, Kept, {{Link, Backup, EPERM}, {Open, Backup, ENOSPC}}, false, Old, false, false},
      {"copy not flushed", Own, Kept, {{Link, Backup, EPERM}, {Sync, Backup, EIO}}, false, Old, false, false},
      {"link not made", Own, Kept, {{Link, Backup, EIO}}, false, Old, false, false},
  };
  // clang-format on
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    if (test.before == Before::Foreign && ::geteuid() != 0) {
      continue; // only root can give a file to another user
    }
    clearWorkDirectory();
    struct stat before {};
    bool attributes = false;
    if (test.before != Before::Missing) {
      writeFile("Varen.txt", kOldContent);
      ASSERT_EQ(::chmod("Varen.txt", 0640), 0);
      if (test.before == Before::Foreign) {
        ASSERT_EQ(::chown("Varen.txt", kNobody, kNobody), 0);
      }
      if (test.before == Before::Linked) {
        ASSERT_EQ(::link("Varen.txt", "Varen.link"), 0);
      }
      attributes = ::setxattr("Varen.txt", "user.valdoria", "kept", 4, 0) == 0;
      ASSERT_EQ(::stat("Varen.txt", &before), 0);
    }

    saveAndExpect(kFaultyCalls, test.faults, test.keep, test.saved, test.after, test.backup,
                  test.before == Before::Linked ? 1 : 0);
    if (test.before == Before::Linked) {
      EXPECT_EQ(readFile("Varen.link"), readFile("Varen.txt"));
    }
    for (const char* name : {"Varen.txt", "Varen.txt.bak"}) {
      struct stat after {};
      if (test.before == Before::Missing || ::stat(name, &after) != 0) {
        continue;
      }
      SCOPED_TRACE(name);
      if (name == std::string("Varen.txt")) {
        EXPECT_EQ(after.st_ino != before.st_ino, test.replaced);
      }
      EXPECT_EQ(after.st_mode & 07777U, 0640U);
      EXPECT_EQ(std::pair(after.st_uid, after.st_gid), std::pair(before.st_uid, before.st_gid));
      EXPECT_EQ(attributeOf(name), attributes ? "kept" : "");
    }
  }
}

// A save killed halfway leaves its temporary file, which nobody holds locked
// any more; the next save of that hero removes every such file, and none
// that another process still holds locked, whatever its name says.
TEST_F(SaveFailureTest, ASaveClearsWhatKilledSavesLeft) {
  const std::vector<std::pair<std::string, bool>> leftovers = {
      {"Varen.txt.tmp-0123456789abcdef", false},
      {"Varen.txt.tmp-fedcba9876543210", true}, // locked below
      {"Gorak.txt.tmp-0123456789abcdef", true},
      {"Varen.txt.tmp-0123456789abcdef.bak", true},
      {"Varen.txt.tmp-0123456789ABCDEF", true},
      {"Varen.txt.tmp-0123", true},
      {"Varen.txt.tmp", true},
      {"Varen.txt.tmp-1-2", true},
      {"Varen.txt.tmp1-2-3", true},
      {"xVaren.txt.tmp-0123456789abcdef", true},
  };
  for (const auto& [name, kept] : leftovers) {
    writeFile(name, "1 2 3 4 5 6 ");
  }
  fs::create_directory("Varen.txt.tmp-aaaaaaaaaaaaaaaa");
  const int held = ::open("Varen.txt.tmp-fedcba9876543210", O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  writeFile("Varen.txt", kOldContent);

  ASSERT_TRUE(saveHero(varen, "Varen.txt"));
  ::close(held);
  EXPECT_EQ(readFile("Varen.txt"), kNewContent);
  for (const auto& [name, kept] : leftovers) {
    EXPECT_EQ(fileExists(name), kept) << name;
  }
  const std::vector<fs::path> left(fs::directory_iterator(workDirectory()), {});
  EXPECT_EQ(left.size(), 2 + std::count_if(leftovers.begin(), leftovers.end(),
                                           [](const auto& entry) { return entry.second; }));
}

} // namespace
} // namespace valdoria
