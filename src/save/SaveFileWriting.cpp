#include "save/SaveFileWriting.hpp"

#include "save/FileCalls.hpp"
#include "save/FileDescriptor.hpp"
#include "save/SaveLocation.hpp"
#include "save/TemporaryFile.hpp"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

namespace valdoria {

namespace {

enum class Replacement { Done, Failed, Refused };

// The directory will not take a new file, or not over another user's.
bool refusedByDirectory(int error) {
  return error == EACCES || error == EPERM || error == ENAMETOOLONG;
}

bool writeAll(int descriptor, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t result =
        fileCalls().write(descriptor, text.data() + written, text.size() - written);
    if (result < 0 && errno == EINTR) {
      continue;
    }
    if (result <= 0) {
      return false;
    }
    written += static_cast<std::size_t>(result);
  }
  return true;
}

// Every error counts, the close's too: it may be the first to report that
// the data never reached the disk.
bool writeFlushAndClose(FileDescriptor& file, const std::string& text) {
  const bool written = writeAll(file.get(), text) && fileCalls().sync(file.get()) == 0;
  const bool closed = file.close();
  return written && closed;
}

// The new file takes the old one's owner and group, then its permission bits
// (changing the owner may clear some of them).
Replacement adoptOwnerAndMode(int descriptor, const struct stat& old) {
  struct stat fresh {};
  if (::fstat(descriptor, &fresh) != 0) {
    return Replacement::Failed;
  }
  if ((fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) &&
      fileCalls().changeOwner(descriptor, old.st_uid, old.st_gid) != 0) {
    return errno == EPERM ? Replacement::Refused : Replacement::Failed;
  }
  if (fileCalls().changeMode(descriptor, old.st_mode & 07777) != 0) {
    return Replacement::Failed;
  }
  return Replacement::Done;
}

// `old` is the status of the file being replaced, or null for a new file.
Replacement replaceThroughTemporaryFile(const SaveLocation& location, const std::string& text,
                                        const struct stat* old) {
  FileDescriptor listing(::openat(location.directory(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing.isOpen()) {
    removeAbandonedTemporaryFiles(listing.get(), location.name());
  }
  // Owner-only until it carries the old file's mode, which may be stricter
  // than the umask's.
  TemporaryFile temporary(location.directory(), location.name(), old != nullptr ? 0600 : 0666);
  if (!temporary.isOpen()) {
    return old != nullptr && refusedByDirectory(temporary.creationError()) ? Replacement::Refused
                                                                           : Replacement::Failed;
  }
  if (old != nullptr) {
    const Replacement adopted = adoptOwnerAndMode(temporary.file().get(), *old);
    if (adopted != Replacement::Done) {
      return adopted;
    }
  }
  if (!writeFlushAndClose(temporary.file(), text)) {
    return Replacement::Failed;
  }
  const int renameError = temporary.replace(location.name());
  if (renameError != 0) {
    return old != nullptr && refusedByDirectory(renameError) ? Replacement::Refused
                                                             : Replacement::Failed;
  }
  // Without this the rename itself may be lost in a power cut. A directory
  // the user may not read cannot be flushed; the rename stands all the same.
  if (listing.isOpen() && fileCalls().sync(listing.get()) != 0) {
    return Replacement::Failed;
  }
  return Replacement::Done;
}

// The truncating write, through the descriptor that showed the file writable.
bool writeInPlace(FileDescriptor& file, const std::string& text) {
  return fileCalls().truncate(file.get(), 0) == 0 && writeFlushAndClose(file, text);
}

} // namespace

bool writeSaveFile(const SaveLocation& location, const std::string& text) {
  if (!location.exists()) {
    return replaceThroughTemporaryFile(location, text, nullptr) == Replacement::Done;
  }
  // Only what a plain open for writing would accept is replaced.
  struct stat old {};
  FileDescriptor existing = location.openRegularFile(O_WRONLY, old);
  if (!existing.isOpen()) {
    return false;
  }
  switch (replaceThroughTemporaryFile(location, text, &old)) {
  case Replacement::Done:
    return true;
  case Replacement::Refused:
    return writeInPlace(existing, text);
  case Replacement::Failed:
    break;
  }
  return false;
}

} // namespace valdoria
