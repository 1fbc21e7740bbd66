#include "save/HeroSaveFile.hpp"

#include "GameTest.hpp"
#include "combatants/Varen.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
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

// One step of a save made to fail, once, on one file.
enum class Step {
  Open,
  Truncate,
  Write,
  Sync,
  Close,
  ChangeOwner,
  ChangeMode,
  SetAttribute,
  Link,
  Rename,
  Lock
};
enum class On { SaveFile, Temporary, Directory, Backup };
struct Fault {
  Step step;
  On on;
  int error; // errno; for a write, 0 means it takes only one byte
};

std::vector<Fault> pendingFaults;

// Takes the pending fault for this step, if there is one, and sets errno.
bool takeFault(Step step, On on, int* error = nullptr) {
  const auto fault = std::find_if(pendingFaults.begin(), pendingFaults.end(),
                                  [&](const Fault& f) { return f.step == step && f.on == on; });
  if (fault == pendingFaults.end()) {
    return false;
  }
  errno = fault->error;
  if (error != nullptr) {
    *error = fault->error;
  }
  pendingFaults.erase(fault);
  return true;
}

const FileOps& real = systemFileCalls().saveFile;

// The system's calls, each failing when a pending fault names it and `on`.
template <On on> FileOps faultyOps() {
  return {
      [](int directory, const char* name, int flags, mode_t mode) {
        return takeFault(Step::Open, on) ? -1 : real.openAt(directory, name, flags, mode);
      },
      [](int descriptor, const void* data, std::size_t size) -> ssize_t {
        int error = 0;
        if (!takeFault(Step::Write, on, &error))
          return real.write(descriptor, data, size);
        return error == 0 ? real.write(descriptor, data, 1) : -1;
      },
      [](int descriptor, off_t length) {
        return takeFault(Step::Truncate, on) ? -1 : real.truncate(descriptor, length);
      },
      [](int descriptor) { return takeFault(Step::Sync, on) ? -1 : real.sync(descriptor); },
      [](int descriptor) {
        // Like the kernel: the descriptor is gone even when the close fails.
        const int result = real.close(descriptor);
        return takeFault(Step::Close, on) ? -1 : result;
      },
      [](int descriptor, uid_t owner, gid_t group) {
        return takeFault(Step::ChangeOwner, on) ? -1 : real.changeOwner(descriptor, owner, group);
      },
      [](int descriptor, mode_t mode) {
        return takeFault(Step::ChangeMode, on) ? -1 : real.changeMode(descriptor, mode);
      },
      [](int descriptor, const char* name, const void* value, std::size_t size) {
        return takeFault(Step::SetAttribute, on) ? -1
                                                 : real.setAttribute(descriptor, name, value, size);
      },
      [](int fromDirectory, const char* from, int toDirectory, const char* to) {
        return takeFault(Step::Link, on) ? -1 : real.linkAt(fromDirectory, from, toDirectory, to);
      },
      [](int fromDirectory, const char* from, int toDirectory, const char* to) {
        return takeFault(Step::Rename, on) ? -1
                                           : real.renameAt(fromDirectory, from, toDirectory, to);
      },
      [](int descriptor, int operation) {
        return takeFault(Step::Lock, on) ? -1 : real.lock(descriptor, operation);
      },
  };
}

const FileCalls kFaultyCalls{faultyOps<On::SaveFile>(), faultyOps<On::Temporary>(),
                             faultyOps<On::Directory>(), faultyOps<On::Backup>()};

constexpr uid_t kNobody = 65534;
constexpr const char* kOldContent = "1000 60 43 29 1 40 100 ";
constexpr const char* kNewContent = "1000 60 43 29 1 77 100 ";

// Varen.txt before the save: missing, the user's own, another user's, or
// the user's with a second name.
enum class Before { Missing, Own, Foreign, Linked };
// Its content after: the old or the new numbers, or missing.
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

class SaveFailureTest : public testing::GameTest {
protected:
  void TearDown() override {
    pendingFaults.clear();
    GameTest::TearDown();
  }

  Varen varen;
};

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
  const std::vector<Case> cases = {
      {"replaced", Before::Own, Dropped, {}, true, After::New, true, false},
      {"replaced, another user's", Before::Foreign, Dropped, {}, true, After::New, true, false},
      {"created", Before::Missing, Dropped, {}, true, After::New, false, false},
      {"short write continued",
       Before::Own,
       Dropped,
       {{Step::Write, On::Temporary, 0}},
       true,
       After::New,
       true,
       false},
      {"interrupted write retried",
       Before::Own,
       Dropped,
       {{Step::Write, On::Temporary, EINTR}},
       true,
       After::New,
       true,
       false},

      {"file not writable",
       Before::Own,
       Dropped,
       {{Step::Open, On::SaveFile, EACCES}, {Step::Open, On::SaveFile, EACCES}},
       false,
       After::Old,
       false,
       false},
      {"disk full",
       Before::Own,
       Dropped,
       {{Step::Open, On::Temporary, ENOSPC}},
       false,
       After::Old,
       false,
       false},
      {"no new file allowed",
       Before::Missing,
       Dropped,
       {{Step::Open, On::Temporary, EACCES}},
       false,
       After::Missing,
       false,
       false},
      {"owner not set",
       Before::Foreign,
       Dropped,
       {{Step::ChangeOwner, On::Temporary, EIO}},
       false,
       After::Old,
       false,
       false},
      {"mode not set",
       Before::Own,
       Dropped,
       {{Step::ChangeMode, On::Temporary, EIO}},
       false,
       After::Old,
       false,
       false},
      {"write fails",
       Before::Own,
       Dropped,
       {{Step::Write, On::Temporary, EIO}},
       false,
       After::Old,
       false,
       false},
      {"flush fails",
       Before::Own,
       Dropped,
       {{Step::Sync, On::Temporary, EIO}},
       false,
       After::Old,
       false,
       false},
      {"rename fails",
       Before::Own,
       Dropped,
       {{Step::Rename, On::Temporary, EIO}},
       false,
       After::Old,
       false,
       false},
      {"rename of a new file fails",
       Before::Missing,
       Dropped,
       {{Step::Rename, On::Temporary, EIO}},
       false,
       After::Missing,
       false,
       false},
      {"close fails after the rename",
       Before::Own,
       Dropped,
       {{Step::Close, On::Temporary, EIO}},
       false,
       After::New,
       true,
       false},
      {"directory flush fails",
       Before::Own,
       Dropped,
       {{Step::Sync, On::Directory, EIO}},
       false,
       After::New,
       true,
       false},
      {"directory flush of a new file fails",
       Before::Missing,
       Dropped,
       {{Step::Sync, On::Directory, EIO}},
       false,
       After::New,
       false,
       false},

      {"directory not writable",
       Before::Own,
       Dropped,
       {{Step::Open, On::Temporary, EACCES}},
       true,
       After::New,
       false,
       false},
      {"directory refuses new files",
       Before::Own,
       Dropped,
       {{Step::Open, On::Temporary, EPERM}},
       true,
       After::New,
       false,
       false},
      {"temporary name too long",
       Before::Own,
       Dropped,
       {{Step::Open, On::Temporary, ENAMETOOLONG}},
       true,
       After::New,
       false,
       false},
      {"owner may not be given",
       Before::Foreign,
       Dropped,
       {{Step::ChangeOwner, On::Temporary, EPERM}},
       true,
       After::New,
       false,
       false},
      {"attribute may not be given",
       Before::Own,
       Dropped,
       {{Step::SetAttribute, On::Temporary, EPERM}},
       true,
       After::New,
       false,
       false},
      {"sticky directory refuses the rename",
       Before::Own,
       Dropped,
       {{Step::Rename, On::Temporary, EPERM}},
       true,
       After::New,
       false,
       false},
      {"a second link", Before::Linked, Dropped, {}, true, After::New, false, false},
      {"in place, write fails",
       Before::Own,
       Dropped,
       {{Step::Open, On::Temporary, EACCES}, {Step::Write, On::SaveFile, EIO}},
       false,
       After::Old,
       false,
       false},
      {"in place, write breaks off",
       Before::Own,
       Dropped,
       {{Step::Open, On::Temporary, EACCES},
        {Step::Write, On::SaveFile, 0},
        {Step::Write, On::SaveFile, EFBIG}},
       false,
       After::Old,
       false,
       false},
      {"in place, flush fails",
       Before::Own,
       Dropped,
       {{Step::Open, On::Temporary, EACCES}, {Step::Sync, On::SaveFile, EIO}},
       false,
       After::New,
       false,
       false},
      {"in place, cut fails",
       Before::Own,
       Dropped,
       {{Step::Open, On::Temporary, EACCES}, {Step::Truncate, On::SaveFile, EIO}},
       false,
       After::New,
       false,
       false},
      {"in place, close fails",
       Before::Own,
       Dropped,
       {{Step::Open, On::Temporary, EACCES}, {Step::Close, On::SaveFile, EIO}},
       false,
       After::New,
       false,
       false},

      {"kept by a link", Before::Own, Kept, {}, true, After::New, true, true},
      {"kept, nothing to keep", Before::Missing, Kept, {}, true, After::New, false, false},
      {"kept by a copy, no link allowed",
       Before::Own,
       Kept,
       {{Step::Link, On::Backup, EPERM}},
       true,
       After::New,
       true,
       true},
      {"kept by a copy, in place",
       Before::Own,
       Kept,
       {{Step::Open, On::Temporary, EACCES}},
       true,
       After::New,
       false,
       true},
      {"copy not made",
       Before::Own,
       Kept,
       {{Step::Link, On::Backup, EPERM}, {Step::Open, On::Backup, ENOSPC}},
       false,
       After::Old,
       false,
       false},
      {"copy not flushed",
       Before::Own,
       Kept,
       {{Step::Link, On::Backup, EPERM}, {Step::Sync, On::Backup, EIO}},
       false,
       After::Old,
       false,
       false},
      {"link not made",
       Before::Own,
       Kept,
       {{Step::Link, On::Backup, EIO}},
       false,
       After::Old,
       false,
       false},
  };
  varen.setExperience(77);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    if (test.before == Before::Foreign && ::geteuid() != 0) {
      continue; // only root can give a file to another user
    }
    for (const char* name : {"Varen.txt", "Varen.txt.bak", "Varen.link"}) {
      fs::remove(name);
    }
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

  varen.setExperience(77);
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
