#include "save/FileSystem.hpp"
#include "save/PosixCalls.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/xattr.h>
#endif

namespace valdoria::files {

namespace {

int fd(const File& file) { return static_cast<int>(file.native()); }

bool sameFile(const struct stat& one, const struct stat& other) {
  return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}
bool statAt(int directory, const char* name, struct stat& status) {
  return os.fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) == 0;
}

// A trailing slash asks for a directory: its last part "." is never a file.
std::deque<std::string> splitPath(const std::string& path) {
  std::deque<std::string> parts;
  for (const std::filesystem::path& part : std::filesystem::path(path))
    parts.push_back(part.empty() ? "." : part.string());
  return parts;
}

// Linux opens a directory the user may only pass through.
File openDirectory(int directory, const char* name) {
#if defined(__linux__)
  constexpr int kPassThrough = O_PATH;
#else
  constexpr int kPassThrough = O_RDONLY;
#endif
  return File(os.openat(directory, name, kPassThrough | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0));
}

// The names of a file's extended attributes (none where there are none).
std::optional<std::vector<std::string>> attributeNames(int file) {
  const ssize_t size = os.flistxattr(file, nullptr, 0);
  if (size < 0)
    return errno == ENOTSUP ? std::optional(std::vector<std::string>()) : std::nullopt;
  std::string list(static_cast<std::size_t>(size), '\0');
  if (os.flistxattr(file, list.data(), list.size()) != size)
    return std::nullopt;
  std::vector<std::string> names;
  for (std::size_t at = 0; at < list.size(); at += names.back().size() + 1)
    names.emplace_back(list.c_str() + at);
  return names;
}

// Exactly `from`'s attributes: an ACL `to` inherited from the directory's
// default ACL would give access the old file never gave.
bool adoptAttributes(int to, int from) {
  const auto theirs = attributeNames(from);
  const auto mine = attributeNames(to);
  if (!theirs || !mine)
    return false;
  for (const std::string& name : *mine) {
    if (std::find(theirs->begin(), theirs->end(), name) == theirs->end() &&
        os.fremovexattr(to, name.c_str()) != 0)
      return false;
  }
  for (const std::string& name : *theirs) {
    std::vector<char> value(static_cast<std::size_t>(
        std::max<ssize_t>(os.fgetxattr(from, name.c_str(), nullptr, 0), 0)));
    if (os.fgetxattr(from, name.c_str(), value.data(), value.size()) !=
            static_cast<ssize_t>(value.size()) ||
        os.fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0)
      return false;
  }
  return true;
}

} // namespace

int openAtWithMode(int directory, const char* name, int flags, mode_t mode) {
  return ::openat(directory, name, flags, mode);
}
#if defined(__linux__)
ssize_t listAttributes(int file, char* names, std::size_t size) {
  return ::flistxattr(file, names, size);
}
ssize_t getAttribute(int file, const char* name, void* value, std::size_t size) {
  return ::fgetxattr(file, name, value, size);
}
int setAttribute(int file, const char* name, const void* value, std::size_t size, int flags) {
  return ::fsetxattr(file, name, value, size, flags);
}
int removeAttribute(int file, const char* name) { return ::fremovexattr(file, name); }
#else
ssize_t listAttributes(int, char*, std::size_t) { return errno = ENOTSUP, -1; }
ssize_t getAttribute(int, const char*, void*, std::size_t) { return errno = ENOTSUP, -1; }
int setAttribute(int, const char*, const void*, std::size_t, int) { return errno = ENOTSUP, -1; }
int removeAttribute(int, const char*) { return errno = ENOTSUP, -1; }
#endif

constinit PosixCalls os;

bool closeNative(Native native) { return os.close(static_cast<int>(native)) == 0; }

// Walked by hand, a link at a time, not left to the kernel: a link in a
// sticky, world-writable directory is followed only where the kernel's
// protected links would follow it, so no link another user planted there
// leads a save elsewhere; and the directory at the end is held open, so
// the file is replaced beside the one the name led to, in that directory,
// whatever is renamed meanwhile. Nothing when the name cannot be followed:
// a missing directory on the way, over 40 links (a loop), or a link in a
// sticky, world-writable directory that is neither the user's nor the
// directory owner's.
std::optional<Place> locate(const std::string& path) {
  std::deque<std::string> parts = splitPath(path);
  Place at{openDirectory(AT_FDCWD, "."), {}, false};
  struct stat status {};
  struct stat holder {};
  for (int links = 0; at.directory.isOpen() && !parts.empty();) {
    const std::string part = std::move(parts.front());
    parts.pop_front();
    at.name = part;
    if (part == "/")
      at.directory = openDirectory(AT_FDCWD, "/");
    if (part == "/" || (part == "." && !parts.empty()))
      continue;
    if (!statAt(fd(at.directory), part.c_str(), status))
      return errno == ENOENT && parts.empty() ? std::optional(std::move(at)) : std::nullopt;
    if (S_ISLNK(status.st_mode)) {
      std::string target(PATH_MAX, '\0');
      const ssize_t length =
          os.readlinkat(fd(at.directory), part.c_str(), target.data(), target.size());
      if (++links > 40 || os.fstat(fd(at.directory), &holder) != 0 || length <= 0 ||
          length >= PATH_MAX ||
          ((holder.st_mode & S_ISVTX) != 0 && (holder.st_mode & S_IWOTH) != 0 &&
           status.st_uid != os.geteuid() && status.st_uid != holder.st_uid))
        return std::nullopt;
      target.resize(static_cast<std::size_t>(length));
      const std::deque<std::string> targetParts = splitPath(target);
      parts.insert(parts.begin(), targetParts.begin(), targetParts.end());
    } else if (parts.empty()) {
      at.exists = true;
      return at;
    } else if (S_ISDIR(status.st_mode)) {
      at.directory = openDirectory(fd(at.directory), part.c_str());
    } else {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

bool sameDirectory(const Place& one, const Place& other) {
  struct stat mine {};
  struct stat theirs {};
  return os.fstat(fd(one.directory), &mine) == 0 && os.fstat(fd(other.directory), &theirs) == 0 &&
         sameFile(mine, theirs);
}

bool isTaken(const Place& at, const Name& name) {
  struct stat status {};
  return statAt(fd(at.directory), name.c_str(), status) || errno != ENOENT;
}

// Looked at first, as opening a device may act on it; opened without
// blocking or following a link, in case the name changed meanwhile.
Outcome openRegular(const Place& at, const Name& name, Access access, File& opened) {
  struct stat status {};
  const int flags = access == Access::Read ? O_RDONLY : access == Access::Write ? O_WRONLY : O_RDWR;
  if (!statAt(fd(at.directory), name.c_str(), status) || !S_ISREG(status.st_mode))
    return Outcome::Failed;
  opened = File(
      os.openat(fd(at.directory), name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
  if (!opened.isOpen())
    return errno == EACCES ? Outcome::Refused : Outcome::Failed;
  if (os.fstat(fd(opened), &status) == 0 && S_ISREG(status.st_mode))
    return Outcome::Done;
  opened = File();
  return Outcome::Failed;
}

bool leadsTo(const Place& at, const Name& name, const File& file) {
  struct stat atName {};
  struct stat opened {};
  return statAt(fd(at.directory), name.c_str(), atName) && os.fstat(fd(file), &opened) == 0 &&
         sameFile(atName, opened);
}

bool stampOf(const File& file, FileStamp& stamp, std::uint64_t* links) {
  struct stat status {};
  if (os.fstat(fd(file), &status) != 0)
    return false;
  stamp = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
           static_cast<std::int64_t>(status.st_size),
           static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
  if (links != nullptr)
    *links = static_cast<std::uint64_t>(status.st_nlink);
  return true;
}

std::int64_t readSome(const File& file, std::int64_t offset, char* buffer, std::int64_t size) {
  for (;;) {
    const ssize_t read =
        os.pread(fd(file), buffer, static_cast<std::size_t>(size), static_cast<off_t>(offset));
    if (read >= 0 || errno != EINTR)
      return read;
  }
}

std::int64_t writeSome(const File& file, std::int64_t offset, std::string_view bytes) {
  for (;;) {
    const ssize_t written =
        os.pwrite(fd(file), bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written >= 0 || errno != EINTR)
      return written;
  }
}

// Linux skips the holes of a sparse file; elsewhere every byte is read.
std::int64_t nextData(const File& file, std::int64_t offset) {
#if defined(__linux__)
  const off_t data = os.lseek(fd(file), static_cast<off_t>(offset), SEEK_DATA);
  if (data < 0 && errno == ENXIO)
    return -1;
  return data < 0 ? offset : data;
#else
  static_cast<void>(file);
  return offset;
#endif
}

bool flush(const File& file) { return os.fsync(fd(file)) == 0; }

bool setLength(const File& file, std::int64_t length) {
  return os.ftruncate(fd(file), static_cast<off_t>(length)) == 0;
}

// Without the directory's flush a rename may be lost; a directory the user
// may not read stands.
bool flushDirectory(const Place& at) {
  const File listing(os.openat(fd(at.directory), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!listing.isOpen())
    return errno == EACCES;
  return os.fsync(fd(listing)) == 0;
}

bool randomBytes(unsigned char* bytes, std::size_t count) {
  return os.getentropy(bytes, count) == 0;
}

Temporary::~Temporary() {
  if (at != nullptr && !name.empty())
    os.unlinkat(fd(at->directory), name.c_str(), 0);
}

// Locked at once, and the lock kept until it is in place: the kernel drops
// it when its maker dies, whatever process or namespace that ran in, so an
// unlocked one is a killed save's leftover.
Outcome createNew(Temporary& made, bool shared) {
  const int directory = fd(made.at->directory);
  made.file =
      File(os.openat(directory, made.name.c_str(),
                     O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, shared ? 0666 : 0600));
  if (!made.file.isOpen()) {
    const int error = errno;
    made.name.clear();
    if (error == EEXIST)
      return Outcome::Taken;
    return error == EACCES || error == EPERM || error == ENAMETOOLONG ? Outcome::Refused
                                                                      : Outcome::Failed;
  }
  // Another save's clean-up may have taken it for a leftover before the
  // lock, and removes it; a file system without locks goes without.
  struct stat atName {};
  struct stat opened {};
  if (os.flock(fd(made.file), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
    return Outcome::Taken;
  if (!statAt(directory, made.name.c_str(), atName) || os.fstat(fd(made.file), &opened) != 0)
    return Outcome::Failed;
  if (sameFile(atName, opened))
    return Outcome::Done;
  made.name.clear(); // the name is another file's now
  return Outcome::Taken;
}

// Owner and group first, then the attributes (the ACL among them), then the
// mode, which a change of owner may clear.
Outcome adopt(const File& to, const File& from) {
  struct stat old {};
  struct stat fresh {};
  if (os.fstat(fd(from), &old) != 0 || os.fstat(fd(to), &fresh) != 0)
    return Outcome::Failed;
  const bool owned = (fresh.st_uid == old.st_uid && fresh.st_gid == old.st_gid) ||
                     os.fchown(fd(to), old.st_uid, old.st_gid) == 0;
  if (!owned && errno != EPERM)
    return Outcome::Failed;
  if (!owned || !adoptAttributes(fd(to), fd(from)))
    return Outcome::Refused;
  return os.fchmod(fd(to), old.st_mode & 07777) == 0 ? Outcome::Done : Outcome::Failed;
}

// No ACL, no group or other bits.
bool makePrivate(const File& to, const File& from) {
  struct stat old {};
  return os.fstat(fd(from), &old) == 0 &&
         (os.fremovexattr(fd(to), "system.posix_acl_access") == 0 || errno == ENODATA ||
          errno == ENOTSUP) &&
         os.fchmod(fd(to), old.st_mode & 0600) == 0;
}

Outcome putOver(Temporary& fresh) {
  const int directory = fd(fresh.at->directory);
  if (os.renameat(directory, fresh.name.c_str(), directory, fresh.at->name.c_str()) != 0)
    return errno == EACCES || errno == EPERM || errno == EBUSY || errno == EXDEV ? Outcome::Refused
                                                                                 : Outcome::Failed;
  fresh.name.clear();
  return fresh.file.close() ? Outcome::Done : Outcome::Failed;
}

Outcome linkAs(const Place& at, const Name& from, const Name& to) {
  const int directory = fd(at.directory);
  if (os.linkat(directory, from.c_str(), directory, to.c_str(), 0) == 0)
    return Outcome::Done;
  return errno == EPERM || errno == EMLINK || errno == ENOTSUP ? Outcome::Refused : Outcome::Failed;
}

bool removeName(const Place& at, const Name& name) {
  return os.unlinkat(fd(at.directory), name.c_str(), 0) == 0;
}

// A second name made, then the first taken away (as the temporary goes):
// never over another file. Where no link can be made, renamed to the name
// while it is free.
Outcome putBeside(Temporary& fresh, const Name& name) {
  const Outcome linked = linkAs(*fresh.at, fresh.name, name);
  if (linked == Outcome::Failed)
    return errno == EEXIST ? Outcome::Refused : Outcome::Failed;
  if (linked == Outcome::Refused) {
    const int directory = fd(fresh.at->directory);
    if (isTaken(*fresh.at, name))
      return Outcome::Refused;
    if (os.renameat(directory, fresh.name.c_str(), directory, name.c_str()) != 0)
      return Outcome::Failed;
    fresh.name.clear();
  }
  return fresh.file.close() ? Outcome::Done : Outcome::Failed;
}

// A name the user could not remove (another user's file in a sticky
// directory) is passed over unopened, however many there are.
void removeUnheld(const Place& at, const std::function<bool(const Name&)>& isLeftover) {
  const int directory = os.openat(fd(at.directory), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  const std::unique_ptr<DIR, int (*)(DIR*)> stream(
      directory >= 0 ? os.fdopendir(directory) : nullptr, os.closedir);
  struct stat holder {};
  if (!stream || os.fstat(directory, &holder) != 0) {
    if (!stream && directory >= 0)
      os.close(directory);
    return;
  }
  const uid_t user = os.geteuid();
  const bool sticky = (holder.st_mode & S_ISVTX) != 0 && user != 0 && holder.st_uid != user;
  while (const dirent* entry = os.readdir(stream.get())) {
    struct stat status {};
    if (!isLeftover(entry->d_name) || !statAt(directory, entry->d_name, status) ||
        !S_ISREG(status.st_mode) || (sticky && status.st_uid != user))
      continue;
    const File leftover(
        os.openat(directory, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
    struct stat opened {};
    if (leftover.isOpen() && os.flock(fd(leftover), LOCK_EX | LOCK_NB) == 0 &&
        os.fstat(fd(leftover), &opened) == 0 && sameFile(status, opened))
      os.unlinkat(directory, entry->d_name, 0);
  }
}

} // namespace valdoria::files
