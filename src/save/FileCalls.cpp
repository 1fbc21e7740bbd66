#include "save/FileCalls.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace valdoria {

namespace {

// openat takes its mode as a variadic argument, so it needs a plain wrapper.
int openAt(int directory, const char* name, int flags, mode_t mode) {
  return ::openat(directory, name, flags, mode);
}

const FileCalls kSystemCalls{openAt,  ::write,  ::ftruncate, ::fsync,
                             ::close, ::fchown, ::fchmod,    ::renameat};

} // namespace

FileCalls& fileCalls() {
  static FileCalls calls = kSystemCalls;
  return calls;
}

const FileCalls& systemFileCalls() { return kSystemCalls; }

void resetFileCalls() { fileCalls() = kSystemCalls; }

} // namespace valdoria
