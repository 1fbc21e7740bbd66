#include "save/SaveLocation.hpp"

#include "save/FileCalls.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <deque>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace valdoria {

namespace {

// More links than this on one name is a loop, as for the kernel.
constexpr int kMaxLinks = 40;

// The parts of a path; a trailing slash asks for a directory, so it leaves a
// last part "." that can never be a save file.
std::deque<std::string> splitPath(const std::string& path) {
  std::deque<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    if (end > start) {
      parts.emplace_back(path, start, end - start);
    }
    start = end + 1;
  }
  if (!path.empty() && path.back() == '/') {
    parts.emplace_back(".");
  }
  return parts;
}

FileDescriptor openDirectory(int directory, const char* name) {
  return FileDescriptor(::openat(directory, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// In a sticky, world-writable directory anyone may plant a link; only links
// of the user or of the directory's owner are followed there.
bool mayFollow(int directory, const struct stat& link) {
  struct stat holder {};
  if (::fstat(directory, &holder) != 0) {
    return false;
  }
  const bool shared = (holder.st_mode & S_ISVTX) != 0 && (holder.st_mode & S_IWOTH) != 0;
  return !shared || link.st_uid == ::geteuid() || link.st_uid == holder.st_uid;
}

std::optional<std::string> readLink(int directory, const std::string& name) {
  std::string target(PATH_MAX, '\0');
  const ssize_t length = ::readlinkat(directory, name.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
    return std::nullopt;
  }
  target.resize(static_cast<std::size_t>(length));
  return target;
}

} // namespace

SaveLocation::SaveLocation(FileDescriptor directory, std::string name, bool found, mode_t type)
    : directoryDescriptor(std::move(directory)), fileName(std::move(name)), found(found),
      type(type) {}

std::optional<SaveLocation> SaveLocation::find(const std::string& fileName) {
  std::deque<std::string> parts = splitPath(fileName);
  FileDescriptor directory = openDirectory(AT_FDCWD, fileName.starts_with('/') ? "/" : ".");
  int links = 0;
  while (directory.isOpen() && !parts.empty()) {
    const std::string part = std::move(parts.front());
    parts.pop_front();
    const bool last = parts.empty();
    if (part == "." && !last) {
      continue;
    }
    struct stat status {};
    if (::fstatat(directory.get(), part.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (last && errno == ENOENT) {
        return SaveLocation(std::move(directory), part, false, 0);
      }
      return std::nullopt;
    }
    if (S_ISLNK(status.st_mode)) {
      const std::optional<std::string> target = readLink(directory.get(), part);
      if (++links > kMaxLinks || !mayFollow(directory.get(), status) || !target) {
        return std::nullopt;
      }
      std::deque<std::string> targetParts = splitPath(*target);
      parts.insert(parts.begin(), targetParts.begin(), targetParts.end());
      if (target->starts_with('/')) {
        directory = openDirectory(AT_FDCWD, "/");
      }
      continue;
    }
    if (last) {
      return SaveLocation(std::move(directory), part, true, status.st_mode & S_IFMT);
    }
    if (!S_ISDIR(status.st_mode)) {
      return std::nullopt;
    }
    directory = openDirectory(directory.get(), part.c_str());
  }
  return std::nullopt;
}

FileDescriptor SaveLocation::openRegularFile(int accessMode, struct stat& status) const {
  if (!found || !S_ISREG(type)) {
    return {};
  }
  // Non-blocking and not through a link, in case the name was changed into a
  // pipe or a link since it was looked at; checked again once open.
  FileDescriptor file(fileCalls().openAt(directory(), fileName.c_str(),
                                         accessMode | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
  if (!file.isOpen() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return {};
  }
  return file;
}

} // namespace valdoria
