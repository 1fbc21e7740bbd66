#include "save/SmallFile.hpp"

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <initializer_list>
#include <istream>
#include <memory>
#include <optional>
#include <streambuf>
#include <thread>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace valdoria {

namespace {

// openat takes its mode as a variadic argument: it needs a plain wrapper.
int openAt(int directory, const char* name, int flags, mode_t mode) {
  return ::openat(directory, name, flags, mode);
}
constexpr FileOps kSystemOps{openAt,   ::write,     ::ftruncate, ::fsync,    ::close, ::fchown,
                             ::fchmod, ::fsetxattr, ::linkat,    ::renameat, ::flock};
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

// Whether `name` is, right now, the file open as `file`.
bool nameLeadsTo(int directory, const std::string& name, int file) {
  struct stat atName {};
  struct stat opened {};
  return ::fstatat(directory, name.c_str(), &atName, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstat(file, &opened) == 0 && atName.st_dev == opened.st_dev &&
         atName.st_ino == opened.st_ino;
}

// ---- Where the name leads ----

// The directory that really holds the file, and its name and status there.
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
// over 40 links (a loop), or a link in a sticky, world-writable directory
// that is neither the user's nor the directory owner's, as for the kernel.
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
          length >= PATH_MAX ||
          ((holder.st_mode & S_ISVTX) != 0 && (holder.st_mode & S_IWOTH) != 0 &&
           at.status.st_uid != ::geteuid() && at.status.st_uid != holder.st_uid))
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
struct DescriptorReadBuffer : std::streambuf {
  explicit DescriptorReadBuffer(int fd) : fd(fd) {}
  int_type underflow() override {
    ssize_t count = -1;
    while (count < 0 && (count = ::read(fd, buffer.data(), buffer.size())) < 0 && errno == EINTR) {
    }
    if (count <= 0)
      return traits_type::eof();
    setg(buffer.data(), buffer.data(), buffer.data() + count);
    return traits_type::to_int_type(buffer.front());
  }

  int fd;
  std::array<char, 4096> buffer{};
};

// ---- A save, in the order it runs ----

enum class Outcome { Done, Failed, Refused };

// The directory takes no new file, or none over another user's.
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

// A new file beside the old, removed again unless it was put in place.
struct Temporary {
  int directory;
  std::string name;
  Descriptor file;
  ~Temporary() {
    if (!name.empty())
      ::unlinkat(directory, name.c_str(), 0);
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
  // Sized as they are, as most files have none; one changed meanwhile is refused.
  const auto sized = [](ssize_t size) {
    return std::vector<char>(size > 0 ? static_cast<std::size_t>(size) : 0);
  };
  const ssize_t listed = ::flistxattr(from, nullptr, 0);
  std::vector<char> names = sized(listed);
  if (listed < 0 ? errno != ENOTSUP : ::flistxattr(from, names.data(), names.size()) != listed)
    return Outcome::Refused;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    std::vector<char> value = sized(::fgetxattr(from, &names[at], nullptr, 0));
    if (::fgetxattr(from, &names[at], value.data(), value.size()) !=
            static_cast<ssize_t>(value.size()) ||
        ops.setAttribute(to, &names[at], value.data(), value.size(), 0) != 0)
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

// Writes the content of a new file: the record, or a copy's bytes.
using Filler = std::function<bool(const FileOps& ops, int file)>;

// A new file with the owner, attributes and mode of `model` (-1: none),
// filled, flushed and renamed over `target`. Refused where the directory
// takes no new file, or the new one cannot carry what the old one has.
Outcome putInPlace(const FileCalls& calls, const FileOps& ops, const Location& at,
                   const std::string& target, int model, const struct stat& old,
                   const Filler& fill) {
  removeLeftovers(at);
  // Owner-only until it has the old file's mode, which may be stricter.
  Temporary fresh{at.directory.fd, {}, {}};
  Descriptor& file = fresh.file;
  for (int attempt = 0; attempt < 8 && file.fd < 0; ++attempt) {
    const std::string name = temporaryName(at.name);
    Descriptor made(name.empty() ? -1
                                 : ops.openAt(at.directory.fd, name.c_str(),
                                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                              model >= 0 ? 0600 : 0666));
    if (made.fd < 0 && (name.empty() || errno != EEXIST))
      return model >= 0 && refusedByDirectory(errno) ? Outcome::Refused : Outcome::Failed;
    // Another save may have taken it for a leftover before the lock (and
    // will remove it); a file system without locks goes without.
    if (made.fd >= 0 && (ops.lock(made.fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) &&
        nameLeadsTo(at.directory.fd, name, made.fd)) {
      fresh.name = name;
      file = std::move(made);
    }
  }
  if (file.fd < 0)
    return Outcome::Failed;
  const Outcome adopted =
      model >= 0 ? adoptOwnerAttributesAndMode(ops, model, file.fd, old) : Outcome::Done;
  if (adopted != Outcome::Done)
    return adopted;
  if (!fill(ops, file.fd) || ops.sync(file.fd) != 0)
    return Outcome::Failed;
  if (ops.renameAt(at.directory.fd, fresh.name.c_str(), at.directory.fd, target.c_str()) != 0)
    return model >= 0 && refusedByDirectory(errno) ? Outcome::Refused : Outcome::Failed;
  fresh.name.clear();
  // Closed only now, as its lock marks it in use; without the directory's
  // flush the rename may be lost (a directory the user may not read stands).
  const Descriptor listing(::openat(at.directory.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return file.close(ops) && (listing.fd < 0 || calls.directory.sync(listing.fd) == 0)
             ? Outcome::Done
             : Outcome::Failed;
}

// The old bytes copied to NAME.bak as a save is written, in bounded memory
// and skipping holes: a damaged file may be huge, or sparse.
bool copyAside(const FileCalls& calls, const Location& at, int existing, const struct stat& old) {
  const Filler copy = [&](const FileOps& ops, int file) {
    std::vector<char> buffer(65536);
    for (off_t offset = 0; (offset = ::lseek(existing, offset, SEEK_DATA)) >= 0;) {
      const ssize_t count = ::pread(existing, buffer.data(), buffer.size(), offset);
      if (count <= 0 || ::lseek(file, offset, SEEK_SET) != offset ||
          !writeAll(ops, file, {buffer.data(), static_cast<std::size_t>(count)}))
        return false;
      offset += count;
    }
    return errno == ENXIO && ops.truncate(file, old.st_size) == 0;
  };
  return putInPlace(calls, calls.backup, at, at.name + ".bak", existing, old, copy) ==
         Outcome::Done;
}

// The old file itself as NAME.bak, through a hard link, every attribute
// kept; refused where no link can be made.
Outcome linkAside(const FileCalls& calls, const Location& at, int existing) {
  const std::string backup = at.name + ".bak";
  const int directory = at.directory.fd;
  if (::unlinkat(directory, backup.c_str(), 0) != 0 && errno != ENOENT)
    return Outcome::Failed;
  if (calls.backup.linkAt(directory, at.name.c_str(), directory, backup.c_str(), 0) != 0)
    return errno == EPERM || errno == EMLINK || errno == EXDEV || errno == ENOTSUP
               ? Outcome::Refused
               : Outcome::Failed;
  return nameLeadsTo(directory, backup, existing) ? Outcome::Done : Outcome::Failed;
}

// The new bytes over the old, flushed, then the file cut to length: never
// empty. Until the cut, old bytes may follow a shorter record, which ends in
// a blank; loading reads seven numbers, so the file loads the new record.
bool writeInPlace(const FileOps& ops, Descriptor& file, std::string_view bytes,
                  const struct stat& old) {
  std::string previous(bytes.size(), '\0');
  const ssize_t kept = ::pread(file.fd, previous.data(), previous.size(), 0);
  ::lseek(file.fd, 0, SEEK_SET); // a copy may have moved it
  if (!writeAll(ops, file.fd, bytes)) {
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
  const Filler record = [bytes](const FileOps& ops, int file) {
    return writeAll(ops, file, bytes);
  };
  const std::optional<Location> at = locate(name);
  if (!at || !at->exists)
    return at && putInPlace(calls, calls.temporary, *at, at->name, -1, {}, record) == Outcome::Done;
  // Only what a plain open for writing accepts; read too, to undo a write
  // in place that breaks off.
  struct stat old {};
  Descriptor existing = openRegular(calls.saveFile, *at, O_RDWR, old);
  if (existing.fd < 0 && errno == EACCES)
    existing = openRegular(calls.saveFile, *at, O_WRONLY, old);
  if (existing.fd < 0)
    return false;
  // Every name must see the new bytes; a linked NAME.bak is not the player's.
  const bool linkedBackup = nameLeadsTo(at->directory.fd, at->name + ".bak", existing.fd);
  if (old.st_nlink - (linkedBackup ? 1 : 0) == 1) {
    const Outcome linked =
        keep == OldBytes::Kept ? linkAside(calls, *at, existing.fd) : Outcome::Done;
    if (linked == Outcome::Failed ||
        (linked == Outcome::Refused && !copyAside(calls, *at, existing.fd, old)))
      return false;
    keep = linked == Outcome::Refused ? OldBytes::Dropped : keep; // the copy is made
    const Outcome replaced =
        putInPlace(calls, calls.temporary, *at, at->name, existing.fd, old, record);
    if (replaced != Outcome::Refused)
      return replaced == Outcome::Done;
    // Written in place after all: the link would see the new bytes.
    if (keep == OldBytes::Kept)
      ::unlinkat(at->directory.fd, (at->name + ".bak").c_str(), 0);
  }
  // In place: no new file allowed, or it cannot carry the owner or an
  // attribute, or the file has more names.
  return (keep == OldBytes::Dropped || copyAside(calls, *at, existing.fd, old)) &&
         writeInPlace(calls.saveFile, existing, bytes, old);
}

PartyGuard::PartyGuard(Use use) : lock(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  // Another game's save takes milliseconds: a lock held for seconds is no game's.
  const int operation = (use == Use::Reading ? LOCK_SH : LOCK_EX) | LOCK_NB;
  for (int tries = 300; lock >= 0 && ::flock(lock, operation) != 0; --tries) {
    if (tries == 0 || (errno != EWOULDBLOCK && errno != EINTR)) {
      ::close(std::exchange(lock, -1));
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (use == Use::Reading)
    return;
  // Ignored, not held back: held, it would end the program as the guard goes.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &previousFileSizeAction);
  sigset_t deferred{};
  sigemptyset(&deferred);
  for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGPIPE,
                           SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSTKFLT})
    sigaddset(&deferred, signal);
  // The real-time signals end the program too unless it handles them.
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
    sigaddset(&deferred, signal);
  ::pthread_sigmask(SIG_BLOCK, &deferred, &previousMask);
  deferring = true;
}

PartyGuard::~PartyGuard() {
  if (deferring) {
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::sigaction(SIGXFSZ, &previousFileSizeAction, nullptr);
  }
  if (lock >= 0)
    ::close(lock);
}

} // namespace valdoria
