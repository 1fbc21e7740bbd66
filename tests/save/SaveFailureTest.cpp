#include "save/HeroSaveFile.hpp"

#include "SaveFaultTest.hpp"
#include "save/PosixCalls.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
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
using testing::Copies;
using testing::Fault;
using testing::On;
using testing::Step;

const files::PosixCalls real = files::os;

constexpr uid_t kNobody = 65534;

// Varen.txt before the save: missing, the user's own, another user's, or
// the user's with a second name.
enum class Before { Missing, Own, Foreign, Linked };

struct Case {
  const char* what;
  Before before;
  Copies copies;
  bool seen; // loaded before the save, so nothing of it needs keeping
  std::vector<Fault> faults;
  bool saved;
  After after;
  bool replaced;    // a new file in the old one's place, rather than written in place
  const char* kept; // the copy that holds the old numbers
};

using SaveFailureTest = testing::SaveFaultTest;

std::string attributeOf(const char* name, const char* attribute = "user.valdoria") {
  std::array<char, 64> value{};
  const ssize_t size = ::getxattr(name, attribute, value.data(), value.size());
  return size < 0 ? "" : std::string(value.data(), static_cast<std::size_t>(size));
}

// The working directory gives every new file an ACL entry for nobody.
bool giveNobodyAccessByDefault() {
  const std::array<std::uint32_t, 11> acl = {2,                 // version
                                             0x00060001, ~0U,   // user::rw-
                                             0x00060002, 65534, // user:nobody:rw-
                                             0x00040004, ~0U,   // group::r--
                                             0x00060010, ~0U,   // mask::rw-
                                             0x00000020, ~0U};  // other::---
  return ::setxattr(".", "system.posix_acl_default", acl.data(), sizeof acl, 0) == 0;
}

// Every step of a save that can fail, and what the player's file looks like
// after it: a replacement that fails keeps the old file whole; where the
// directory, the owner, an attribute, a mount or a second link rule out a
// replacement the file is written in place, and still holds its old or its
// new numbers whatever fails. A file the save has not seen is first copied
// to the first free copy name after the taken ones, with the file's own
// mode, owner and attributes (or the user's alone, mode 600, where the owner
// may not be given), unless a copy holds its bytes already. Neither a
// replacement nor a copy gains the ACL the directory gives new files.
// Nothing else is ever left behind.
TEST_F(SaveFailureTest, EveryFailingStepLeavesTheFileOldOrNew) {
  using enum Before;
  using enum Copies;
  using enum After;
  using enum Step;
  using enum On;
  constexpr const char* bak = "Varen.txt.bak";
  constexpr const char* none = "";
  // clang-format off
  const std::vector<Case> cases = {
      {"replaced", Own, None, true, {}, true, New, true, none},
      {"replaced, another user's", Foreign, None, true, {}, true, New, true, none},
      {"created", Missing, None, true, {}, true, New, false, none},
      {"short write continued", Own, None, true, {{Write, Temporary, 0}}, true, New, true, none},
      {"interrupted write retried", Own, None, true, {{Write, Temporary, EINTR}}, true, New, true, none},
      {"file not writable", Own, None, true, {{Open, SaveFile, EACCES}, {Open, SaveFile, EACCES}}, false, Old, false, none},
      {"disk full", Own, None, true, {{Open, Temporary, ENOSPC}}, false, Old, false, none},
      {"no new file allowed", Missing, None, true, {{Open, Temporary, EACCES}}, false, Gone, false, none},
      {"temporary's name not checked", Own, None, true, {{Stat, Temporary, EIO}}, false, Old, false, none},
      {"owner not set", Foreign, None, true, {{ChangeOwner, Temporary, EIO}}, false, Old, false, none},
      {"mode not set", Own, None, true, {{ChangeMode, Temporary, EIO}}, false, Old, false, none},
      {"write fails", Own, None, true, {{Write, Temporary, EIO}}, false, Old, false, none},
      {"flush fails", Own, None, true, {{Sync, Temporary, EIO}}, false, Old, false, none},
      {"rename fails", Own, None, true, {{Rename, Temporary, EIO}}, false, Old, false, none},
      {"rename of a new file fails", Missing, None, true, {{Rename, Temporary, EIO}}, false, Gone, false, none},
      {"close fails after the rename", Own, None, true, {{Close, Temporary, EIO}}, false, New, true, none},
      {"directory flush fails", Own, None, true, {{Sync, Directory, EIO}}, false, New, true, none},
      {"directory not opened for its flush", Own, None, true, {{Open, Directory, EMFILE}}, false, New, true, none},
      {"directory not readable for its flush", Own, None, true, {{Open, Directory, EACCES}}, true, New, true, none},
      {"directory flush of a new file fails", Missing, None, true, {{Sync, Directory, EIO}}, false, New, false, none},
      {"directory not writable", Own, None, true, {{Open, Temporary, EACCES}}, true, New, false, none},
      {"directory refuses new files", Own, None, true, {{Open, Temporary, EPERM}}, true, New, false, none},
      {"temporary name too long", Own, None, true, {{Open, Temporary, ENAMETOOLONG}}, true, New, false, none},
      {"owner may not be given", Foreign, None, true, {{ChangeOwner, Temporary, EPERM}}, true, New, false, none},
      {"attribute may not be given", Own, None, true, {{SetAttribute, Temporary, EPERM}}, true, New, false, none},
      {"inherited ACL may not be taken away", Own, None, true, {{RemoveAttribute, Temporary, EPERM}}, true, New, false, none},
      {"sticky directory refuses the rename", Own, None, true, {{Rename, Temporary, EPERM}}, true, New, false, none},
      {"a mount point refuses the rename", Own, None, true, {{Rename, Temporary, EBUSY}}, true, New, false, none},
      {"another file system refuses the rename", Own, None, true, {{Rename, Temporary, EXDEV}}, true, New, false, none},
      {"a second link", Linked, None, true, {}, true, New, false, none},
      {"in place, write fails", Own, None, true, {{Open, Temporary, EACCES}, {Write, SaveFile, EIO}}, false, Old, false, none},
      {"in place, write breaks off", Own, None, true, {{Open, Temporary, EACCES}, {Write, SaveFile, 0}, {Write, SaveFile, EFBIG}}, false, Old, false, none},
      {"in place, flush fails", Own, None, true, {{Open, Temporary, EACCES}, {Sync, SaveFile, EIO}}, false, New, false, none},
      {"in place, cut fails", Own, None, true, {{Open, Temporary, EACCES}, {Truncate, SaveFile, EIO}}, false, New, false, none},
      {"in place, close fails", Own, None, true, {{Open, Temporary, EACCES}, {Close, SaveFile, EIO}}, false, New, false, none},
      {"kept", Own, None, false, {}, true, New, true, bak},
      {"kept, nothing to keep", Missing, None, false, {}, true, New, false, none},
      {"kept, in place", Own, None, false, {{Open, Temporary, EACCES}}, true, New, false, bak},
      {"kept, no link allowed", Own, None, false, {{Link, Backup, EPERM}}, true, New, true, bak},
      {"kept, a second link", Linked, None, false, {}, true, New, false, bak},
      {"kept, another user's, in place", Foreign, None, false, {{ChangeOwner, Backup, EPERM}, {ChangeOwner, Temporary, EPERM}}, true, New, false, bak},
      {"kept beside a directory", Own, ADirectory, false, {}, true, New, true, "Varen.txt.bak.2"},
      {"kept beside another copy", Own, OtherBytes, false, {}, true, New, true, "Varen.txt.bak.2"},
      {"kept already", Own, SameBytes, false, {}, true, New, true, bak},
      {"all copy names taken", Own, AllNine, false, {}, false, Old, false, none},
      {"kept, then a mount point refuses the rename", Own, None, false, {{Rename, Temporary, EBUSY}}, true, New, false, bak},
      {"copy not made", Own, None, false, {{Link, Backup, EPERM}, {Open, Backup, ENOSPC}}, false, Old, false, none},
      {"copy's write fails", Own, None, false, {{Link, Backup, EPERM}, {Write, Backup, EIO}}, false, Old, false, none},
      {"copy not flushed", Own, None, false, {{Link, Backup, EPERM}, {Sync, Backup, EIO}}, false, Old, false, none},
      {"copy not put beside", Own, None, false, {{Link, Backup, EPERM}, {Link, Backup, EIO}}, false, Old, false, none},
      {"link not made", Own, None, false, {{Link, Backup, EIO}}, false, Old, false, none},
      {"copy's directory not flushed", Own, None, false, {{Sync, Directory, EIO}}, false, Old, false, bak},
  };
  // clang-format on
  const bool inheriting = giveNobodyAccessByDefault();
  // The system's calls, each failing where a pending fault names it and its file.
  testing::restoreCalls = [] { files::os = {}; };
  testing::setError = [](int error) { errno = error; };
  files::os.openat = [](int directory, const char* name, int flags, mode_t mode) {
    const On on = (flags & O_CREAT) != 0  ? testing::newFile()
                  : (flags & O_PATH) != 0 ? Other
                                          : testing::named(name);
    const int file = testing::fails(Open, on) ? -1 : real.openat(directory, name, flags, mode);
    testing::openFiles[file] = on;
    return file;
  };
  files::os.fstatat = [](int directory, const char* name, struct stat* status, int flags) {
    const bool temporary = std::string_view(name).find(".tmp-") != std::string_view::npos;
    return temporary && testing::fails(Stat, Temporary)
               ? -1
               : real.fstatat(directory, name, status, flags);
  };
  files::os.pwrite = [](int file, const void* data, std::size_t size, off_t offset) -> ssize_t {
    if (!testing::fails(Write, testing::fileOf(file)))
      return real.pwrite(file, data, size, offset);
    return errno == 0 ? real.pwrite(file, data, size - 1, offset) : -1;
  };
  files::os.close = [](int file) {
    // Like the kernel: the descriptor is gone even when the close fails.
    const int result = real.close(file);
    return testing::fails(Close, testing::fileOf(file)) ? -1 : result;
  };
  files::os.ftruncate = testing::onFile<Truncate, real, &files::PosixCalls::ftruncate, -1>;
  files::os.fsync = testing::onFile<Sync, real, &files::PosixCalls::fsync, -1>;
  files::os.fchown = testing::onFile<ChangeOwner, real, &files::PosixCalls::fchown, -1>;
  files::os.fchmod = testing::onFile<ChangeMode, real, &files::PosixCalls::fchmod, -1>;
  files::os.fsetxattr = testing::onFile<SetAttribute, real, &files::PosixCalls::fsetxattr, -1>;
  files::os.fremovexattr =
      testing::onFile<RemoveAttribute, real, &files::PosixCalls::fremovexattr, -1>;
  files::os.linkat = [](auto... a) {
    return testing::fails(Link, Backup) ? -1 : real.linkat(a...);
  };
  files::os.renameat = [](int from, const char* name, int to, const char* newName) {
    const On on = testing::named(newName) == Backup ? Backup : Temporary;
    return testing::fails(Rename, on) ? -1 : real.renameat(from, name, to, newName);
  };
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
      ASSERT_EQ(::removexattr("Varen.txt", "system.posix_acl_access") == 0 || errno == ENODATA ||
                    errno == ENOTSUP,
                true);
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
    const std::size_t planted = plantCopies(test.copies);

    saveAndExpect(test.faults, test.seen, test.saved, test.after, test.kept,
                  planted + (test.before == Before::Linked ? 1 : 0));
    if (test.before == Before::Linked) {
      EXPECT_EQ(readFile("Varen.link"), readFile("Varen.txt"));
    }
    // The user's alone where the owner could not be given.
    const bool own = std::none_of(test.faults.begin(), test.faults.end(), [](const Fault& fault) {
      return fault.step == Step::ChangeOwner && fault.on == On::Backup;
    });
    for (const std::string& name : {std::string("Varen.txt"), std::string(test.kept)}) {
      struct stat after {};
      if (test.before == Before::Missing || name.empty() || test.copies == Copies::SameBytes ||
          ::stat(name.c_str(), &after) != 0) {
        continue;
      }
      SCOPED_TRACE(name);
      const bool copy = name != "Varen.txt";
      if (!copy) {
        EXPECT_EQ(after.st_ino != before.st_ino, test.replaced);
      }
      EXPECT_EQ(after.st_mode & 07777U, copy && !own ? 0600U : 0640U);
      EXPECT_EQ(std::pair(after.st_uid, after.st_gid),
                copy && !own ? std::pair(::geteuid(), ::getegid())
                             : std::pair(before.st_uid, before.st_gid));
      EXPECT_EQ(attributeOf(name.c_str()), attributes && (!copy || own) ? "kept" : "");
      if (inheriting) {
        EXPECT_EQ(attributeOf(name.c_str(), "system.posix_acl_access"), "");
      }
    }
  }
}

// A save killed halfway leaves its temporary file, which nobody holds locked
// any more; the next clean-up after a save removes every such file of the
// heroes named, and none that another process still holds locked, whatever
// its name says.
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
  removeLeftovers({"Varen.txt"});
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
