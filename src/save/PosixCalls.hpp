#pragma once

#include <cstddef>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace valdoria::files {

// The calls that are no plain function of every POSIX system: openat's
// mode is variadic; attributes are Linux's (elsewhere there are none).
int openAtWithMode(int directory, const char* name, int flags, mode_t mode);
ssize_t listAttributes(int file, char* names, std::size_t size);
ssize_t getAttribute(int file, const char* name, void* value, std::size_t size);
int setAttribute(int file, const char* name, const void* value, std::size_t size, int flags);
int removeAttribute(int file, const char* name);

// Every call the saves make on POSIX, each by its system name, in one table
// a test may change: it fails whichever call on whichever file it pleases;
// `os = {}` puts the system's own back.
struct PosixCalls {
  int (*openat)(int directory, const char* name, int flags, mode_t mode) = openAtWithMode;
  int (*fstatat)(int directory, const char* name, struct stat* status, int flags) = ::fstatat;
  int (*fstat)(int file, struct stat* status) = ::fstat;
  ssize_t (*readlinkat)(int directory, const char* name, char* target,
                        std::size_t size) = ::readlinkat;
  ssize_t (*pread)(int file, void* buffer, std::size_t size, off_t offset) = ::pread;
  ssize_t (*pwrite)(int file, const void* data, std::size_t size, off_t offset) = ::pwrite;
  off_t (*lseek)(int file, off_t offset, int whence) = ::lseek;
  int (*ftruncate)(int file, off_t length) = ::ftruncate;
  int (*fsync)(int file) = ::fsync;
  int (*close)(int file) = ::close;
  int (*fchown)(int file, uid_t owner, gid_t group) = ::fchown;
  int (*fchmod)(int file, mode_t mode) = ::fchmod;
  ssize_t (*flistxattr)(int file, char* names, std::size_t size) = listAttributes;
  ssize_t (*fgetxattr)(int file, const char* name, void* value, std::size_t size) = getAttribute;
  int (*fsetxattr)(int file, const char* name, const void* value, std::size_t size,
                   int flags) = setAttribute;
  int (*fremovexattr)(int file, const char* name) = removeAttribute;
  int (*linkat)(int fromDirectory, const char* from, int toDirectory, const char* to,
                int flags) = ::linkat;
  int (*renameat)(int fromDirectory, const char* from, int toDirectory,
                  const char* to) = ::renameat;
  int (*unlinkat)(int directory, const char* name, int flags) = ::unlinkat;
  int (*flock)(int file, int operation) = ::flock;
  int (*getentropy)(void* buffer, std::size_t size) = ::getentropy;
  uid_t (*geteuid)() = ::geteuid;
  DIR* (*fdopendir)(int directory) = ::fdopendir;
  dirent* (*readdir)(DIR* listing) = ::readdir;
  int (*closedir)(DIR* listing) = ::closedir;
};

extern PosixCalls os;

} // namespace valdoria::files
