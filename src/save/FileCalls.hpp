#pragma once

#include <cstddef>

#include <sys/types.h>

namespace valdoria {

// The system calls through which save files are opened, written, flushed and
// replaced. Each entry can be swapped, so that tests make any one step fail.
struct FileCalls {
  int (*openAt)(int directory, const char* name, int flags, mode_t mode);
  ssize_t (*write)(int descriptor, const void* data, std::size_t size);
  int (*truncate)(int descriptor, off_t length);
  int (*sync)(int descriptor);
  int (*close)(int descriptor);
  int (*changeOwner)(int descriptor, uid_t owner, gid_t group);
  int (*changeMode)(int descriptor, mode_t mode);
  int (*renameAt)(int fromDirectory, const char* from, int toDirectory, const char* to);
};

// The calls in use: the system's own unless a test has replaced some.
FileCalls& fileCalls();

// The system's own calls, for a test's replacement to pass a call on to.
const FileCalls& systemFileCalls();

// Back to the system's own calls, as a run starts.
void resetFileCalls();

} // namespace valdoria
