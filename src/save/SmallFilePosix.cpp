#include "save/SmallFile.hpp"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <istream>
#include <memory>
#include <optional>
#include <streambuf>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace valdoria {

namespace {

int openAt(int directory, const char* name, int flags, mode_t mode) {
  return ::openat(directory, name, flags, mode);
}
int setAttribute(int file, const char* name, const void* value, std::size_t size) {
  return ::fsetxattr(file, name, value, size, 0);
}
int linkAt(int fromDirectory, const char* from, int toDirectory, const char* to) {
  return ::linkat(fromDirectory, from, toDirectory, to, 0);
}
constexpr FileOps kSystemOps{openAt,   ::write,      ::ftruncate, ::fsync,    ::close, ::fchown,
                             ::fchmod, setAttribute, linkAt,      ::renameat, ::flock};
const FileCalls kSystemCalls{kSystemOps, kSystemOps, kSystemOps, kSystemOps};

// Owns a descriptor. A close whose error counts goes through the calls.
struct Descriptor {
  int fd = -1;

  Descriptor() = default;
  explicit Descriptor(int fd) : fd(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd, other.fd);
    return *this;
  }
  ~Descriptor() {
    if (fd >= 0)
      ::close(fd);
  }
  // Never retried: the descriptor is gone after the first close, whatever it reports.
  bool close(const FileOps& ops) { return ops.close(std::exchange(fd, -1)) == 0; }
};

bool sameFile(const struct stat& one, const struct stat& other) {
  return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// Whether `name` is, right now, the file open as `file`.
bool nameLeadsTo(int directory, const std::string& name, int file) {
  struct stat atName {};
  struct stat opened {};
  return ::fstatat(directory, name.c_str(), &atName, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstat(file, &opened) == 0 && sameFile(atName, opened);
}

// ---- Where the name leads ----

// The directory that really holds the file, held open so that the file
// cannot move under a save, and the file's name and status there.
struct Location {
  Descriptor directory;
  std::string name;
  bool exists = false;
  struct stat status {};
};

// A trailing slash asks for a directory: its last part "." is never a file.
std::deque<std::string> splitPath(const std::string& path) {
  std::deque<std::string> parts;
  for (const std::filesystem::path& part : std::filesystem::path(path))
    parts.push_back(part.empty() ? "." : part.string());
  return parts;
}

Descriptor openDirectory(int directory, const char* name) {
  return Descriptor(::openat(directory, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// Nothing when the name cannot be followed: a missing directory on the way,
// more than 40 links (a loop, as for the kernel), or a link in a sticky,
// world-writable directory that is neither the user's nor the directory
// owner's, which the kernel's own protection would not follow either.
std::optional<Location> locate(const std::string& path) {
  std::deque<std::string> parts = splitPath(path);
  Location at{openDirectory(AT_FDCWD, "."), {}, false, {}};
  struct stat holder {};
  for (int links = 0; at.directory.fd >= 0 && !parts.empty();) {
    at.name = std::move(parts.front());
    parts.pop_front();
    if (at.name == "/")
      at.directory = openDirectory(AT_FDCWD, "/");
    if (at.name == "/" || (at.name == "." && !parts.empty()))
      continue;
    if (::fstatat(at.directory.fd, at.name.c_str(), &at.status, AT_SYMLINK_NOFOLLOW) != 0)
      return errno == ENOENT && parts.empty() ? std::optional(std::move(at)) : std::nullopt;
    if (S_ISLNK(at.status.st_mode)) {
      std::string target(PATH_MAX, '\0');
      const ssize_t length =
          ::readlinkat(at.directory.fd, at.name.c_str(), target.data(), target.size());
      if (++links > 40 || ::fstat(at.directory.fd, &holder) != 0 || length <= 0 ||
          length >= PATH_MAX)
        return std::nullopt;
      if ((holder.st_mode & S_ISVTX) != 0 && (holder.st_mode & S_IWOTH) != 0 &&
          at.status.st_uid != ::geteuid() && at.status.st_uid != holder.st_uid)
        return std::nullopt;
      target.resize(static_cast<std::size_t>(length));
      const std::deque<std::string> targetParts = splitPath(target);
      parts.insert(parts.begin(), targetParts.begin(), targetParts.end());
    } else if (parts.empty()) {
      at.exists = true;
      return at;
    } else if (S_ISDIR(at.status.st_mode)) {
      at.directory = openDirectory(at.directory.fd, at.name.c_str());
    } else {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// Only a regular file is opened: without blocking or following a link, in
// case the name changed since it was looked at, and checked once open.
Descriptor openRegular(const FileOps& ops, const Location& at, int access, struct stat& status) {
  if (!at.exists || !S_ISREG(at.status.st_mode))
    return {};
  Descriptor file(ops.openAt(at.directory.fd, at.name.c_str(),
                             access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
  if (file.fd < 0 || ::fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode))
    return {};
  return file;
}

// A read error ends the input, as the end of the file does.
class DescriptorReadBuffer : public std::streambuf {
public:
  explicit DescriptorReadBuffer(int fd) : fd(fd) {}

protected:
  int_type underflow() override {
    ssize_t count = -1;
    while (count < 0 && (count = ::read(fd, buffer.data(), buffer.size())) < 0 && errno == EINTR) {
    }
    if (count <= 0)
      return traits_type::eof();
    setg(buffer.data(), buffer.data(), buffer.data() + count);
    return traits_type::to_int_type(buffer.front());
  }

private:
  int fd;
  std::array<char, 4096> buffer{};
};

// ---- A save, in the order it runs ----

enum class Outcome { Done, Failed, Refused };

// The directory takes no new file, or not over another user's.
bool refusedByDirectory(int error) {
  return error == EACCES || error == EPERM || error == ENAMETOOLONG;
}

// "NAME.tmp-" and sixteen hex digits from the kernel's random source: no
// other process can predict the name, nor take every name in advance.
constexpr std::string_view kMarker = ".tmp-";
constexpr std::size_t kRandomDigits = 16;

std::string temporaryName(const std::string& name) {
  std::uint64_t random = 0;
  std::array<char, kRandomDigits + 1> digits{};
  if (::getrandom(&random, sizeof random, 0) != sizeof random)
    return {};
  std::snprintf(digits.data(), digits.size(), "%016llx", static_cast<unsigned long long>(random));
  return name + std::string(kMarker) + digits.data();
}

// A temporary file stays locked by its maker while in use, and the kernel
// drops the lock when the maker dies, whatever process or namespace it ran
// in: one that can be locked is a killed save's leftover.
void removeLeftovers(const Location& at) {
  Descriptor listing(::openat(at.directory.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const std::unique_ptr<DIR, int (*)(DIR*)> stream(
      listing.fd >= 0 ? ::fdopendir(listing.fd) : nullptr, ::closedir);
  if (!stream)
    return;
  const int directory = std::exchange(listing.fd, -1);
  const std::string prefix = at.name + std::string(kMarker);
  while (const dirent* entry = ::readdir(stream.get())) {
    const std::string_view name = entry->d_name;
    struct stat status {};
    if (name.size() != prefix.size() + kRandomDigits || !name.starts_with(prefix) ||
        name.find_first_not_of("0123456789abcdef", prefix.size()) != std::string_view::npos ||
        ::fstatat(directory, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode))
      continue;
    const Descriptor leftover(
        ::openat(directory, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (leftover.fd >= 0 && ::flock(leftover.fd, LOCK_EX | LOCK_NB) == 0 &&
        nameLeadsTo(directory, entry->d_name, leftover.fd))
      ::unlinkat(directory, entry->d_name, 0);
  }
}

// A new file beside the save file, locked while it lives; removed again
// unless it was renamed into place.
struct Temporary {
  const FileOps& ops;
  int directory;
  std::string name;
  Descriptor file;

  ~Temporary() {
    if (!name.empty())
      ::unlinkat(directory, name.c_str(), 0);
  }

  // 0, or why no file could be made (an errno value).
  int create(const std::string& saveName, mode_t mode) {
    for (int attempt = 0; attempt < 8; ++attempt) {
      const std::string candidate = temporaryName(saveName);
      if (candidate.empty())
        return EIO;
      Descriptor made(ops.openAt(directory, candidate.c_str(),
                                 O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
      if (made.fd < 0 && errno != EEXIST)
        return errno;
      // Another save may have taken it for a leftover before the lock.
      if (made.fd >= 0 && ops.lock(made.fd, LOCK_EX | LOCK_NB) == 0 &&
          nameLeadsTo(directory, candidate, made.fd)) {
        name = candidate;
        file = std::move(made);
        return 0;
      }
    }
    return EEXIST;
  }

  // 0, or why the rename failed (an errno value).
  int renameTo(const std::string& target) {
    if (ops.renameAt(directory, name.c_str(), directory, target.c_str()) != 0)
      return errno;
    name.clear();
    return 0;
  }
};

// The new file takes the old one's owner and group, its extended attributes
// (the ACL among them), then its mode, which a change of owner may clear.
// Refused where the process may not give one of them.
Outcome adoptOwnerAttributesAndMode(const FileOps& ops, int from, int to, const struct stat& old) {
  struct stat fresh {};
  if (::fstat(to, &fresh) != 0)
    return Outcome::Failed;
  if ((fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) &&
      ops.changeOwner(to, old.st_uid, old.st_gid) != 0)
    return errno == EPERM ? Outcome::Refused : Outcome::Failed;
  std::vector<char> names(XATTR_LIST_MAX);
  std::vector<char> value(XATTR_SIZE_MAX);
  const ssize_t listed = ::flistxattr(from, names.data(), names.size());
  if (listed < 0 && errno != ENOTSUP)
    return Outcome::Refused;
  for (std::size_t at = 0; static_cast<ssize_t>(at) < listed; at += std::strlen(&names[at]) + 1) {
    const ssize_t size = ::fgetxattr(from, &names[at], value.data(), value.size());
    if (size < 0 ||
        ops.setAttribute(to, &names[at], value.data(), static_cast<std::size_t>(size)) != 0)
      return Outcome::Refused;
  }
  return ops.changeMode(to, old.st_mode & 07777) == 0 ? Outcome::Done : Outcome::Failed;
}

bool writeAll(const FileOps& ops, int file, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ops.write(file, bytes.data(), bytes.size());
    if (written <= 0 && (written == 0 || errno != EINTR))
      return false;
    bytes.remove_prefix(written > 0 ? static_cast<std::size_t>(written) : 0);
  }
  return true;
}

// The old bytes copied to NAME.bak in bounded memory, skipping holes (a
// damaged file may be huge, or sparse), and written as safely as a save.
bool copyAside(const FileCalls& calls, const Location& at, const struct stat& old) {
  struct stat status {};
  const Descriptor source = openRegular(calls.saveFile, at, O_RDONLY, status);
  Temporary copy{calls.backup, at.directory.fd, {}, {}};
  if (source.fd < 0 || !sameFile(status, old) || copy.create(at.name, 0600) != 0 ||
      adoptOwnerAttributesAndMode(calls.backup, source.fd, copy.file.fd, old) != Outcome::Done)
    return false;
  std::vector<char> buffer(65536);
  for (off_t offset = 0; (offset = ::lseek(source.fd, offset, SEEK_DATA)) >= 0;) {
    const ssize_t count = ::pread(source.fd, buffer.data(), buffer.size(), offset);
    if (count <= 0 || ::lseek(copy.file.fd, offset, SEEK_SET) != offset ||
        !writeAll(calls.backup, copy.file.fd, {buffer.data(), static_cast<std::size_t>(count)}))
      return false;
    offset += count;
  }
  return errno == ENXIO && calls.backup.truncate(copy.file.fd, status.st_size) == 0 &&
         calls.backup.sync(copy.file.fd) == 0 && copy.renameTo(at.name + ".bak") == 0 &&
         copy.file.close(calls.backup);
}

// The replaced file itself becomes NAME.bak through a hard link: nothing
// copied, every attribute kept. Refused where no link can be made. Were it
// cut off after the older copy went, the file still holds the same bytes.
Outcome linkAside(const FileCalls& calls, const Location& at, int existing) {
  const std::string backup = at.name + ".bak";
  const int directory = at.directory.fd;
  if (::unlinkat(directory, backup.c_str(), 0) != 0 && errno != ENOENT)
    return Outcome::Failed;
  if (calls.backup.linkAt(directory, at.name.c_str(), directory, backup.c_str()) != 0)
    return errno == EPERM || errno == EMLINK || errno == EXDEV || errno == ENOTSUP
               ? Outcome::Refused
               : Outcome::Failed;
  return nameLeadsTo(directory, backup, existing) ? Outcome::Done : Outcome::Failed;
}

// `existing` is the old file, open for writing, or -1 for a new file.
Outcome replaceThroughTemporary(const FileCalls& calls, const Location& at, std::string_view bytes,
                                int existing, const struct stat& old, OldBytes keep) {
  removeLeftovers(at);
  // Owner-only until it has the old file's mode, which may be stricter than
  // the umask's.
  Temporary fresh{calls.temporary, at.directory.fd, {}, {}};
  const int error = fresh.create(at.name, existing >= 0 ? 0600 : 0666);
  if (error != 0)
    return existing >= 0 && refusedByDirectory(error) ? Outcome::Refused : Outcome::Failed;
  const Outcome adopted =
      existing >= 0 ? adoptOwnerAttributesAndMode(calls.temporary, existing, fresh.file.fd, old)
                    : Outcome::Done;
  if (adopted != Outcome::Done)
    return adopted;
  if (!writeAll(calls.temporary, fresh.file.fd, bytes) || calls.temporary.sync(fresh.file.fd) != 0)
    return Outcome::Failed;
  const bool linked = existing >= 0 && keep == OldBytes::Kept;
  if (linked) {
    const Outcome kept = linkAside(calls, at, existing);
    if (kept == Outcome::Failed || (kept == Outcome::Refused && !copyAside(calls, at, old)))
      return Outcome::Failed;
  }
  const int renameError = fresh.renameTo(at.name);
  if (renameError != 0 && existing >= 0 && refusedByDirectory(renameError)) {
    // Written in place instead: a link would see the new bytes, so it goes.
    if (linked && nameLeadsTo(at.directory.fd, at.name + ".bak", existing))
      ::unlinkat(at.directory.fd, (at.name + ".bak").c_str(), 0);
    return Outcome::Refused;
  }
  // Closed only now, as the lock marks it in use; the directory flushed, or
  // the rename may be lost in a power cut (an unreadable one cannot be).
  const Descriptor listing(::openat(at.directory.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return renameError == 0 && fresh.file.close(calls.temporary) &&
                 (listing.fd < 0 || calls.directory.sync(listing.fd) == 0)
             ? Outcome::Done
             : Outcome::Failed;
}

// The new bytes over the old, flushed, then the file cut to length: never
// empty on the way. Until the cut a shorter record is followed by old bytes;
// a record ends in a blank and loading reads seven numbers, so the file
// loads the new record. A write that breaks off puts the old bytes back.
bool writeInPlace(const FileOps& ops, Descriptor& file, std::string_view bytes,
                  const struct stat& old) {
  std::string previous(bytes.size(), '\0');
  const ssize_t kept = ::pread(file.fd, previous.data(), previous.size(), 0);
  if (!writeAll(ops, file.fd, bytes)) {
    // The save has failed whether or not this works.
    const bool restored =
        kept >= 0 && ::pwrite(file.fd, previous.data(), static_cast<std::size_t>(kept), 0) >= 0 &&
        ::ftruncate(file.fd, old.st_size) == 0;
    static_cast<void>(restored);
    return false;
  }
  return ops.sync(file.fd) == 0 && ops.truncate(file.fd, static_cast<off_t>(bytes.size())) == 0 &&
         ops.sync(file.fd) == 0 && file.close(ops);
}

} // namespace

const FileCalls& systemFileCalls() { return kSystemCalls; }

bool readSmallFile(const std::string& name, const std::function<bool(std::istream&)>& parse) {
  const std::optional<Location> at = locate(name);
  struct stat status {};
  const Descriptor file = at ? openRegular(kSystemOps, *at, O_RDONLY, status) : Descriptor();
  if (file.fd < 0)
    return false;
  DescriptorReadBuffer buffer(file.fd);
  std::istream input(&buffer);
  return parse(input);
}

bool replaceSmallFile(const std::string& name, std::string_view bytes, OldBytes keep,
                      const FileCalls& calls) {
  const std::optional<Location> at = locate(name);
  if (!at || !at->exists)
    return at && replaceThroughTemporary(calls, *at, bytes, -1, {}, keep) == Outcome::Done;
  // Only what a plain open for writing accepts is replaced. Read too, where
  // allowed, so that a write in place that breaks off can be undone.
  struct stat old {};
  Descriptor existing = openRegular(calls.saveFile, *at, O_RDWR, old);
  if (existing.fd < 0 && errno == EACCES)
    existing = openRegular(calls.saveFile, *at, O_WRONLY, old);
  if (existing.fd < 0)
    return false;
  // Every name of the file must see the new bytes, but NAME.bak made by
  // linking is not one of the player's names.
  struct stat backup {};
  const bool linkedBackup =
      ::fstatat(at->directory.fd, (at->name + ".bak").c_str(), &backup, AT_SYMLINK_NOFOLLOW) == 0 &&
      sameFile(backup, old);
  if (old.st_nlink - (linkedBackup ? 1 : 0) == 1) {
    const Outcome replaced = replaceThroughTemporary(calls, *at, bytes, existing.fd, old, keep);
    if (replaced != Outcome::Refused)
      return replaced == Outcome::Done;
  }
  // In place: the directory takes no new file, the new one could not carry
  // the owner or an attribute, or the file has more names.
  return (keep == OldBytes::Dropped || copyAside(calls, *at, old)) &&
         writeInPlace(calls.saveFile, existing, bytes, old);
}

} // namespace valdoria
