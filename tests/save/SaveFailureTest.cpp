#include "save/HeroSaveFile.hpp"

#include "GameTest.hpp"
#include "combatants/Varen.hpp"
#include "save/FileCalls.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace valdoria {
namespace {

namespace fs = std::filesystem;

// One step of a save made to fail, once, on one kind of file.
enum class Step { Open, Truncate, Write, Sync, Close, ChangeOwner, ChangeMode, Rename };
enum class On { SaveFile, Temporary, Directory };
struct Fault {
  Step step;
  On on;
  int error; // errno; for a write, 0 means it takes only one byte
};

std::vector<Fault> pendingFaults;

On kindOfName(const char* name) {
  if (std::strstr(name, ".tmp") != nullptr) {
    return On::Temporary;
  }
  return std::strcmp(name, ".") == 0 ? On::Directory : On::SaveFile;
}

On kindOfDescriptor(int descriptor) {
  struct stat status {};
  if (::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode)) {
    return On::Directory;
  }
  std::array<char, PATH_MAX> path{};
  const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
  const ssize_t length = ::readlink(link.c_str(), path.data(), path.size() - 1);
  return length > 0 ? kindOfName(fs::path(path.data()).filename().c_str()) : On::SaveFile;
}

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

const FileCalls kFaultyCalls{
    [](int directory, const char* name, int flags, mode_t mode) {
      return takeFault(Step::Open, kindOfName(name))
                 ? -1
                 : systemFileCalls().openAt(directory, name, flags, mode);
    },
    [](int descriptor, const void* data, std::size_t size) -> ssize_t {
      int error = 0;
      if (!takeFault(Step::Write, kindOfDescriptor(descriptor), &error)) {
        return systemFileCalls().write(descriptor, data, size);
      }
      return error == 0 ? systemFileCalls().write(descriptor, data, 1) : -1;
    },
    [](int descriptor, off_t length) {
      return takeFault(Step::Truncate, kindOfDescriptor(descriptor))
                 ? -1
                 : systemFileCalls().truncate(descriptor, length);
    },
    [](int descriptor) {
      return takeFault(Step::Sync, kindOfDescriptor(descriptor))
                 ? -1
                 : systemFileCalls().sync(descriptor);
    },
    [](int descriptor) {
      // Like the kernel: the descriptor is gone even when the close fails.
      const On on = kindOfDescriptor(descriptor);
      const int result = systemFileCalls().close(descriptor);
      return takeFault(Step::Close, on) ? -1 : result;
    },
    [](int descriptor, uid_t owner, gid_t group) {
      return takeFault(Step::ChangeOwner, kindOfDescriptor(descriptor))
                 ? -1
                 : systemFileCalls().changeOwner(descriptor, owner, group);
    },
    [](int descriptor, mode_t mode) {
      return takeFault(Step::ChangeMode, kindOfDescriptor(descriptor))
                 ? -1
                 : systemFileCalls().changeMode(descriptor, mode);
    },
    [](int fromDirectory, const char* from, int toDirectory, const char* to) {
      return takeFault(Step::Rename, kindOfName(from))
                 ? -1
                 : systemFileCalls().renameAt(fromDirectory, from, toDirectory, to);
    },
};

constexpr uid_t kNobody = 65534;
constexpr const char* kOldContent = "1000 60 43 29 1 40 100 ";
constexpr const char* kNewContent = "1000 60 43 29 1 77 100 ";

// Varen.txt before the save: missing, the user's own, or another user's.
enum class Before { Missing, Own, Foreign };
// Its content after: the old or the new numbers, emptied, or missing.
enum class After { Old, New, Empty, Missing };

struct Case {
  const char* what;
  Before before;
  std::vector<Fault> faults;
  bool saved;
  After after;
  bool replaced; // a new file in the old one's place, rather than written in place
};

class SaveFailureTest : public testing::GameTest {
protected:
  void TearDown() override {
    pendingFaults.clear();
    GameTest::TearDown();
  }

  Varen varen;
};

// Every step of a save that can fail, and what the player's file looks like
// after it: a replacement that fails keeps the old file whole; where the
// directory or the owner rule out a replacement the file is written in
// place, and from then on fails as a plain truncating write would. Nothing
// but the save file is ever left behind.
TEST_F(SaveFailureTest, EveryFailingStepLeavesTheFileOldNewOrAsAPlainWriteWould) {
  const std::vector<Case> cases = {
      {"replaced", Before::Own, {}, true, After::New, true},
      {"replaced, another user's", Before::Foreign, {}, true, After::New, true},
      {"created", Before::Missing, {}, true, After::New, false},
      {"short write continued",
       Before::Own,
       {{Step::Write, On::Temporary, 0}},
       true,
       After::New,
       true},
      {"interrupted write retried",
       Before::Own,
       {{Step::Write, On::Temporary, EINTR}},
       true,
       After::New,
       true},

      {"file not writable",
       Before::Own,
       {{Step::Open, On::SaveFile, EACCES}},
       false,
       After::Old,
       false},
      {"disk full", Before::Own, {{Step::Open, On::Temporary, ENOSPC}}, false, After::Old, false},
      {"no new file allowed",
       Before::Missing,
       {{Step::Open, On::Temporary, EACCES}},
       false,
       After::Missing,
       false},
      {"owner not set",
       Before::Foreign,
       {{Step::ChangeOwner, On::Temporary, EIO}},
       false,
       After::Old,
       false},
      {"mode not set",
       Before::Own,
       {{Step::ChangeMode, On::Temporary, EIO}},
       false,
       After::Old,
       false},
      {"write fails", Before::Own, {{Step::Write, On::Temporary, EIO}}, false, After::Old, false},
      {"flush fails", Before::Own, {{Step::Sync, On::Temporary, EIO}}, false, After::Old, false},
      {"close fails", Before::Own, {{Step::Close, On::Temporary, EIO}}, false, After::Old, false},
      {"rename fails", Before::Own, {{Step::Rename, On::Temporary, EIO}}, false, After::Old, false},
      {"rename of a new file fails",
       Before::Missing,
       {{Step::Rename, On::Temporary, EIO}},
       false,
       After::Missing,
       false},
      {"directory flush fails",
       Before::Own,
       {{Step::Sync, On::Directory, EIO}},
       false,
       After::New,
       true},
      {"directory flush of a new file fails",
       Before::Missing,
       {{Step::Sync, On::Directory, EIO}},
       false,
       After::New,
       false},

      {"directory not writable",
       Before::Own,
       {{Step::Open, On::Temporary, EACCES}},
       true,
       After::New,
       false},
      {"directory refuses new files",
       Before::Own,
       {{Step::Open, On::Temporary, EPERM}},
       true,
       After::New,
       false},
      {"temporary name too long",
       Before::Own,
       {{Step::Open, On::Temporary, ENAMETOOLONG}},
       true,
       After::New,
       false},
      {"owner may not be given",
       Before::Foreign,
       {{Step::ChangeOwner, On::Temporary, EPERM}},
       true,
       After::New,
       false},
      {"sticky directory refuses the rename",
       Before::Own,
       {{Step::Rename, On::Temporary, EPERM}},
       true,
       After::New,
       false},
      {"in place, truncation fails",
       Before::Own,
       {{Step::Open, On::Temporary, EACCES}, {Step::Truncate, On::SaveFile, EIO}},
       false,
       After::Old,
       false},
      {"in place, write fails",
       Before::Own,
       {{Step::Open, On::Temporary, EACCES}, {Step::Write, On::SaveFile, EIO}},
       false,
       After::Empty,
       false},
      {"in place, flush fails",
       Before::Own,
       {{Step::Open, On::Temporary, EACCES}, {Step::Sync, On::SaveFile, EIO}},
       false,
       After::New,
       false},
      {"in place, close fails",
       Before::Own,
       {{Step::Open, On::Temporary, EACCES}, {Step::Close, On::SaveFile, EIO}},
       false,
       After::New,
       false},
  };
  varen.setExperience(77);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    if (test.before == Before::Foreign && ::geteuid() != 0) {
      continue; // only root can give a file to another user
    }
    fs::remove("Varen.txt");
    struct stat before {};
    if (test.before != Before::Missing) {
      writeFile("Varen.txt", kOldContent);
      ASSERT_EQ(::chmod("Varen.txt", 0640), 0);
      if (test.before == Before::Foreign) {
        ASSERT_EQ(::chown("Varen.txt", kNobody, kNobody), 0);
      }
      ASSERT_EQ(::stat("Varen.txt", &before), 0);
    }

    pendingFaults = test.faults;
    fileCalls() = kFaultyCalls;
    const bool saved = saveHero(varen, "Varen.txt");
    resetFileCalls();

    EXPECT_TRUE(pendingFaults.empty()) << "a step that should have failed was never taken";
    EXPECT_EQ(saved, test.saved);
    const std::string expected[] = {kOldContent, kNewContent, "", ""};
    EXPECT_EQ(fileExists("Varen.txt"), test.after != After::Missing);
    EXPECT_EQ(readFile("Varen.txt"), expected[static_cast<int>(test.after)]);
    const std::vector<fs::path> left(fs::directory_iterator(workDirectory()), {});
    EXPECT_EQ(left.size(), test.after == After::Missing ? 0U : 1U) << "something left behind";

    struct stat after {};
    if (test.before != Before::Missing && ::stat("Varen.txt", &after) == 0) {
      EXPECT_EQ(after.st_ino != before.st_ino, test.replaced);
      EXPECT_EQ(after.st_mode & 07777U, 0640U);
      EXPECT_EQ(std::pair(after.st_uid, after.st_gid), std::pair(before.st_uid, before.st_gid));
    }
  }
}

pid_t endedProcess() {
  const pid_t child = ::fork();
  if (child == 0) {
    ::_exit(0);
  }
  ::waitpid(child, nullptr, 0);
  return child;
}

// A save killed halfway leaves its temporary file; the next save of that
// hero removes every one whose process has ended, and no other file. A name
// that is taken for good only makes the save pick the next one.
TEST_F(SaveFailureTest, ASaveClearsWhatKilledSavesLeftAndSkipsTakenNames) {
  const std::string ended = std::to_string(endedProcess());
  const std::string running = std::to_string(::getppid());
  const std::string self = std::to_string(::getpid());
  const std::vector<std::pair<std::string, bool>> leftovers = {
      {"Varen.txt.tmp" + ended + "-0", false},
      {"Varen.txt.tmp" + ended + "-12", false},
      {"Varen.txt.tmp" + self + "-3", false}, // an earlier process with this id
      {"Varen.txt.tmp" + running + "-0", true},
      {"Gorak.txt.tmp" + ended + "-0", true},
      {"Varen.txt.tmp" + ended + "-0.bak", true},
      {"Varen.txt.tmp" + ended, true},
      {"Varen.txt.tmp" + ended + "-", true},
      {"Varen.txt.tmp-" + ended + "-0", true},
      {"Varen.txt.tmp0-0", true},
      {"Varen.txt.tmp0" + ended + "-0", true},
      {"Varen.txt.tmp99999999999999999999-0", true},
      {"Varen.txt.tmp" + ended + "-0x", true},
      {"xVaren.txt.tmp" + ended + "-0", true},
  };
  for (const auto& [name, kept] : leftovers) {
    writeFile(name, "1 2 3 4 5 6 ");
  }
  // Taken for good: directories, which a save never removes.
  for (const char* attempt : {"-0", "-1", "-2"}) {
    fs::create_directory("Varen.txt.tmp" + self + attempt);
  }
  writeFile("Varen.txt", kOldContent);

  varen.setExperience(77);
  ASSERT_TRUE(saveHero(varen, "Varen.txt"));
  EXPECT_EQ(readFile("Varen.txt"), kNewContent);
  for (const auto& [name, kept] : leftovers) {
    EXPECT_EQ(fileExists(name), kept) << name;
  }
  const std::vector<fs::path> left(fs::directory_iterator(workDirectory()), {});
  EXPECT_EQ(left.size(), 1 + 3 +
                             std::count_if(leftovers.begin(), leftovers.end(),
                                           [](const auto& entry) { return entry.second; }));
}

} // namespace
} // namespace valdoria
