#pragma once

#include "save/FileDescriptor.hpp"

#include <string>

#include <sys/types.h>

namespace valdoria {

// A new file beside a save file, named after it and after the process that
// writes it ("Varen.txt.tmp<process id>-<n>"), that replaces the save file
// once complete. It is removed again if it never does.
class TemporaryFile {
public:
  // Creates the file in `directory` with `mode` (less the umask). A name
  // another file already has is skipped, not an error.
  TemporaryFile(int directory, const std::string& saveFileName, mode_t mode);
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  bool isOpen() const { return descriptor.isOpen(); }
  // Why the file could not be created (an errno value), 0 if it was.
  int creationError() const { return error; }
  FileDescriptor& file() { return descriptor; }

  // Renames the file over the save file: 0, or the errno value of the failure.
  int replace(const std::string& saveFileName);

private:
  int directory;
  std::string name;
  FileDescriptor descriptor;
  int error = 0;
};

// Removes what saves of `saveFileName` killed halfway left in `directory`
// (open for reading): the temporary files of processes no longer running.
void removeAbandonedTemporaryFiles(int directory, const std::string& saveFileName);

} // namespace valdoria
