#pragma once

#include "save/FileDescriptor.hpp"

#include <optional>
#include <string>

#include <sys/stat.h>

namespace valdoria {

// Where a save file's name leads once every link on the way is followed: the
// directory that really holds the file, and the file's own name in it.
class SaveLocation {
public:
  // Nothing when the name cannot be followed: a missing directory on the way,
  // a loop of links, or a link in a shared sticky directory (such as /tmp)
  // that belongs neither to the user nor to the directory's owner, which the
  // kernel's protection of such directories refuses to follow as well.
  static std::optional<SaveLocation> find(const std::string& fileName);

  // Opened relative to this, so the file cannot move under a save.
  int directory() const { return directoryDescriptor.get(); }
  const std::string& name() const { return fileName; }
  bool exists() const { return found; }

  // Opens the file for reading or writing (O_RDONLY or O_WRONLY) only if it
  // is a regular file: a pipe, a socket or a device is never opened, so
  // nothing can block here. `status` receives the opened file's status.
  FileDescriptor openRegularFile(int accessMode, struct stat& status) const;

private:
  SaveLocation(FileDescriptor directory, std::string name, bool found, mode_t type);

  FileDescriptor directoryDescriptor;
  std::string fileName;
  bool found;
  mode_t type;
};

} // namespace valdoria
