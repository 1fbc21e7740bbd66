#include "save/FileSystem.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/xattr.h>
#endif

namespace valdoria {

namespace {

// openat takes its mode as a variadic argument: it needs a plain wrapper.
int openAt(int directory, const char* name, int flags, mode_t mode) {
  return ::openat(directory, name, flags, mode);
}
#if defined(__linux__)
constexpr auto setAttribute = ::fsetxattr;
constexpr auto removeAttribute = ::fremovexattr;
#else
// Nothing but the mode and owner is carried where there are no attributes.
int setAttribute(int, const char*, const void*, std::size_t, int) { return errno = ENOTSUP, -1; }
int removeAttribute(int, const char*) { return errno = ENOTSUP, -1; }
#endif
constexpr FileOps kSystemOps{openAt,   ::fstatat,  ::write,  ::ftruncate,  ::fsync,
                             ::close,  ::fchown,   ::fchmod, setAttribute, removeAttribute,
                             ::linkat, ::renameat, ::flock};
const FileCalls kSystemCalls{kSystemOps, kSystemOps, kSystemOps, kSystemOps};

bool sameFile(const struct stat& one, const struct stat& other) {
  return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}
bool statAt(int directory, const char* name, struct stat& status) {
  return ::fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) == 0;
}

// A trailing slash asks for a directory: its last part "." is never a file.
std::deque<std::string> splitPath(const std::string& path) {
  std::deque<std::string> parts;
  for (const std::filesystem::path& part : std::filesystem::path(path))
    parts.push_back(part.empty() ? "." : part.string());
  return parts;
}

// Linux opens a directory the user may only pass through.
files::File openDirectory(int directory, const char* name) {
#if defined(__linux__)
  return files::File(::openat(directory, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
#else
  return files::File(::openat(directory, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
#endif
}

} // namespace

const FileCalls& systemFileCalls() { return kSystemCalls; }

namespace files {

const Native File::kClosed = -1;
File::File(Native native) : handle(native) {}
File::~File() {
  if (isOpen())
    ::close(handle);
}
bool File::isOpen() const { return handle >= 0; }
bool File::close(const FileOps& ops) { return ops.close(std::exchange(handle, kClosed)) == 0; }

// Nothing when the name cannot be followed: a missing directory on the way,
// over 40 links (a loop), or a link in a sticky, world-writable directory
// that is neither the user's nor the directory owner's, as for the kernel.
std::optional<Place> locate(const std::string& path) {
  std::deque<std::string> parts = splitPath(path);
  Place at{openDirectory(AT_FDCWD, "."), {}, false};
  struct stat status {};
  struct stat holder {};
  for (int links = 0; at.directory.isOpen() && !parts.empty();) {
    at.name = std::move(parts.front());
    parts.pop_front();
    if (at.name == "/")
      at.directory = openDirectory(AT_FDCWD, "/");
    if (at.name == "/" || (at.name == "." && !parts.empty()))
      continue;
    if (!statAt(at.directory.native(), at.name.c_str(), status))
      return errno == ENOENT && parts.empty() ? std::optional(std::move(at)) : std::nullopt;
    if (S_ISLNK(status.st_mode)) {
      std::string target(PATH_MAX, '\0');
      const ssize_t length =
          ::readlinkat(at.directory.native(), at.name.c_str(), target.data(), target.size());
      if (++links > 40 || ::fstat(at.directory.native(), &holder) != 0 || length <= 0 ||
          length >= PATH_MAX ||
          ((holder.st_mode & S_ISVTX) != 0 && (holder.st_mode & S_IWOTH) != 0 &&
           status.st_uid != ::geteuid() && status.st_uid != holder.st_uid))
        return std::nullopt;
      target.resize(static_cast<std::size_t>(length));
      const std::deque<std::string> targetParts = splitPath(target);
      parts.insert(parts.begin(), targetParts.begin(), targetParts.end());
    } else if (parts.empty()) {
      at.exists = true;
      return at;
    } else if (S_ISDIR(status.st_mode)) {
      at.directory = openDirectory(at.directory.native(), at.name.c_str());
    } else {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

bool sameDirectory(const Place& one, const Place& other) {
  struct stat mine {};
  struct stat theirs {};
  return ::fstat(one.directory.native(), &mine) == 0 &&
         ::fstat(other.directory.native(), &theirs) == 0 && sameFile(mine, theirs);
}

bool isTaken(const Place& at, const Name& name) {
  struct stat status {};
  return statAt(at.directory.native(), name.c_str(), status) || errno != ENOENT;
}

// Looked at first, as opening a device may act on it; opened without
// blocking or following a link, in case the name changed meanwhile.
File openRegular(const FileOps& ops, const Place& at, const Name& name, bool writing) {
  struct stat status {};
  const auto open = [&](int access) {
    return statAt(at.directory.native(), name.c_str(), status) && S_ISREG(status.st_mode)
               ? File(ops.openAt(at.directory.native(), name.c_str(),
                                 access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0))
               : File();
  };
  File file = open(writing ? O_RDWR : O_RDONLY);
  if (writing && !file.isOpen() && errno == EACCES)
    file = open(O_WRONLY);
  if (!file.isOpen() || ::fstat(file.native(), &status) != 0 || !S_ISREG(status.st_mode))
    return {};
  return file;
}

bool leadsTo(const Place& at, const Name& name, const File& file) {
  struct stat atName {};
  struct stat opened {};
  return statAt(at.directory.native(), name.c_str(), atName) &&
         ::fstat(file.native(), &opened) == 0 && sameFile(atName, opened);
}

bool stampOf(const File& file, FileStamp& stamp, std::uint64_t* links) {
  struct stat status {};
  if (::fstat(file.native(), &status) != 0)
    return false;
  stamp = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
           static_cast<std::int64_t>(status.st_size),
           static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
  if (links != nullptr)
    *links = static_cast<std::uint64_t>(status.st_nlink);
  return true;
}

std::int64_t readAt(const File& file, std::int64_t offset, char* buffer, std::int64_t size) {
  std::int64_t count = 0;
  while (count < size) {
    const ssize_t read =
        ::pread(file.native(), buffer + count, static_cast<std::size_t>(size - count),
                static_cast<off_t>(offset + count));
    if (read == 0 || (read < 0 && errno != EINTR))
      return read < 0 ? -1 : count;
    count += read > 0 ? read : 0;
  }
  return count;
}

bool writeAt(const FileOps& ops, const File& file, std::int64_t offset, std::string_view bytes) {
  if (::lseek(file.native(), static_cast<off_t>(offset), SEEK_SET) != offset)
    return false;
  while (!bytes.empty()) {
    const ssize_t written = ops.write(file.native(), bytes.data(), bytes.size());
    if (written <= 0 && (written == 0 || errno != EINTR))
      return false;
    bytes.remove_prefix(written > 0 ? static_cast<std::size_t>(written) : 0);
  }
  return true;
}

bool flush(const FileOps& ops, const File& file) { return ops.sync(file.native()) == 0; }

bool setLength(const FileOps& ops, const File& file, std::int64_t length) {
  return ops.truncate(file.native(), static_cast<off_t>(length)) == 0;
}

bool copyAll(const FileOps& ops, const File& from, const File& to) {
  struct stat status {};
  std::vector<char> buffer(65536);
  if (::fstat(from.native(), &status) != 0)
    return false;
  for (off_t offset = 0; offset < status.st_size;) {
#if defined(__linux__)
    // Holes are skipped: a damaged file may be huge, and sparse.
    const off_t data = ::lseek(from.native(), offset, SEEK_DATA);
    if (data < 0 && errno == ENXIO)
      break;
    offset = data < 0 ? offset : data;
#endif
    const std::int64_t count =
        readAt(from, offset, buffer.data(), static_cast<std::int64_t>(buffer.size()));
    if (count <= 0 || !writeAt(ops, to, offset, {buffer.data(), static_cast<std::size_t>(count)}))
      return false;
    offset += static_cast<off_t>(count);
  }
  return ops.truncate(to.native(), status.st_size) == 0;
}

// Without the directory's flush a rename may be lost; a directory the user
// may not read stands.
bool flushDirectory(const FileOps& ops, const Place& at) {
  const File listing(ops.openAt(at.directory.native(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!listing.isOpen())
    return errno == EACCES;
  return ops.sync(listing.native()) == 0;
}

Temporary::~Temporary() {
  if (at != nullptr && !name.empty())
    ::unlinkat(at->directory.native(), name.c_str(), 0);
}

// Locked at once, and the lock kept until it is in place: the kernel drops
// it when its maker dies, whatever process or namespace that ran in, so an
// unlocked one is a killed save's leftover.
Outcome makeTemporary(const FileOps& ops, const Place& at, bool shared, Temporary& made) {
  const int directory = at.directory.native();
  made.at = &at;
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::array<unsigned char, kTemporaryDigits / 2> random{};
    if (::getentropy(random.data(), random.size()) != 0)
      return Outcome::Failed;
    made.name = withSuffix(at.name, kTemporaryMarker);
    for (const unsigned char byte : random) {
      made.name += "0123456789abcdef"[byte >> 4U];
      made.name += "0123456789abcdef"[byte & 15U];
    }
    made.file =
        File(ops.openAt(directory, made.name.c_str(),
                        O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, shared ? 0666 : 0600));
    if (!made.file.isOpen()) {
      const int error = errno;
      made.name.clear();
      if (error == EEXIST)
        continue;
      return error == EACCES || error == EPERM || error == ENAMETOOLONG ? Outcome::Refused
                                                                        : Outcome::Failed;
    }
    // Another save's clean-up may have taken it for a leftover before the
    // lock, and removes it; a file system without locks goes without.
    struct stat atName {};
    struct stat opened {};
    if (ops.lock(made.file.native(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
      continue;
    if (ops.statAt(directory, made.name.c_str(), &atName, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstat(made.file.native(), &opened) != 0)
      return Outcome::Failed;
    if (sameFile(atName, opened))
      return Outcome::Done;
    made.name.clear(); // the name is another file's now
  }
  return Outcome::Failed;
}

#if defined(__linux__)
// The names of a file's extended attributes (none where there are none).
std::optional<std::vector<char>> attributeNames(int file) {
  const ssize_t size = ::flistxattr(file, nullptr, 0);
  if (size < 0)
    return errno == ENOTSUP ? std::optional(std::vector<char>()) : std::nullopt;
  std::vector<char> names(static_cast<std::size_t>(size));
  return ::flistxattr(file, names.data(), names.size()) == size ? std::optional(names)
                                                                : std::nullopt;
}

bool hasName(const std::vector<char>& names, const char* name) {
  for (std::size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    if (std::strcmp(&names[at], name) == 0)
      return true;
  }
  return false;
}

// Exactly `from`'s attributes: an ACL `to` inherited from the directory's
// default ACL would give access the old file never gave.
bool adoptAttributes(const FileOps& ops, int to, int from) {
  const std::optional<std::vector<char>> theirs = attributeNames(from);
  const std::optional<std::vector<char>> mine = attributeNames(to);
  if (!theirs || !mine)
    return false;
  for (std::size_t at = 0; at < mine->size(); at += std::strlen(&(*mine)[at]) + 1) {
    if (!hasName(*theirs, &(*mine)[at]) && ops.removeAttribute(to, &(*mine)[at]) != 0)
      return false;
  }
  for (std::size_t at = 0; at < theirs->size(); at += std::strlen(&(*theirs)[at]) + 1) {
    const char* name = &(*theirs)[at];
    std::vector<char> value(
        static_cast<std::size_t>(std::max<ssize_t>(::fgetxattr(from, name, nullptr, 0), 0)));
    if (::fgetxattr(from, name, value.data(), value.size()) != static_cast<ssize_t>(value.size()) ||
        ops.setAttribute(to, name, value.data(), value.size(), 0) != 0)
      return false;
  }
  return true;
}
#else
bool adoptAttributes(const FileOps&, int, int) { return true; }
#endif

// Owner and group first, then the attributes (the ACL among them), then the
// mode, which a change of owner may clear.
Outcome adopt(const FileOps& ops, const File& to, const File& from, bool orPrivate) {
  struct stat old {};
  struct stat fresh {};
  if (::fstat(from.native(), &old) != 0 || ::fstat(to.native(), &fresh) != 0)
    return Outcome::Failed;
  bool exact = (fresh.st_uid == old.st_uid && fresh.st_gid == old.st_gid) ||
               ops.changeOwner(to.native(), old.st_uid, old.st_gid) == 0;
  if (!exact && errno != EPERM)
    return Outcome::Failed;
  exact = exact && adoptAttributes(ops, to.native(), from.native());
  if (!exact && !orPrivate)
    return Outcome::Refused;
  // Else the user's alone: no ACL, no group or other bits.
  if (!exact && ops.removeAttribute(to.native(), "system.posix_acl_access") != 0 &&
      errno != ENODATA && errno != ENOTSUP)
    return Outcome::Failed;
  return ops.changeMode(to.native(), old.st_mode & (exact ? 07777 : 0600)) == 0 ? Outcome::Done
                                                                                : Outcome::Failed;
}

Outcome putOver(const FileOps& ops, Temporary& fresh) {
  const int directory = fresh.at->directory.native();
  if (ops.renameAt(directory, fresh.name.c_str(), directory, fresh.at->name.c_str()) != 0)
    return errno == EACCES || errno == EPERM || errno == EBUSY || errno == EXDEV ? Outcome::Refused
                                                                                 : Outcome::Failed;
  fresh.name.clear();
  return fresh.file.close(ops) ? Outcome::Done : Outcome::Failed;
}

Outcome linkAs(const FileOps& ops, const Place& at, const Name& from, const Name& to) {
  const int directory = at.directory.native();
  if (ops.linkAt(directory, from.c_str(), directory, to.c_str(), 0) == 0)
    return Outcome::Done;
  return errno == EPERM || errno == EMLINK || errno == ENOTSUP ? Outcome::Refused : Outcome::Failed;
}

bool removeName(const Place& at, const Name& name) {
  return ::unlinkat(at.directory.native(), name.c_str(), 0) == 0;
}

// A second name made, then the first taken away (as the temporary goes):
// never over another file. Where no link can be made, renamed to the name
// while it is free.
Outcome putBeside(const FileOps& ops, Temporary& fresh, const Name& name) {
  const Outcome linked = linkAs(ops, *fresh.at, fresh.name, name);
  if (linked == Outcome::Failed)
    return errno == EEXIST ? Outcome::Refused : Outcome::Failed;
  if (linked == Outcome::Refused) {
    const int directory = fresh.at->directory.native();
    if (isTaken(*fresh.at, name))
      return Outcome::Refused;
    if (ops.renameAt(directory, fresh.name.c_str(), directory, name.c_str()) != 0)
      return Outcome::Failed;
    fresh.name.clear();
  }
  return fresh.file.close(ops) ? Outcome::Done : Outcome::Failed;
}

// A name the user could not remove (another user's file in a sticky
// directory) is passed over unopened, however many there are.
void removeUnheld(const Place& at, const std::function<bool(const Name&)>& isLeftover) {
  const int directory = ::openat(at.directory.native(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const std::unique_ptr<DIR, int (*)(DIR*)> stream(
      directory >= 0 ? ::fdopendir(directory) : nullptr, ::closedir);
  struct stat holder {};
  if (!stream || ::fstat(directory, &holder) != 0) {
    if (!stream && directory >= 0)
      ::close(directory);
    return;
  }
  const uid_t user = ::geteuid();
  const bool sticky = (holder.st_mode & S_ISVTX) != 0 && user != 0 && holder.st_uid != user;
  while (const dirent* entry = ::readdir(stream.get())) {
    struct stat status {};
    if (!isLeftover(entry->d_name) || !statAt(directory, entry->d_name, status) ||
        !S_ISREG(status.st_mode) || (sticky && status.st_uid != user))
      continue;
    const File leftover(
        ::openat(directory, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened {};
    if (leftover.isOpen() && ::flock(leftover.native(), LOCK_EX | LOCK_NB) == 0 &&
        ::fstat(leftover.native(), &opened) == 0 && sameFile(status, opened))
      ::unlinkat(directory, entry->d_name, 0);
  }
}

} // namespace files

} // namespace valdoria
