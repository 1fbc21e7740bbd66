#pragma once

#include <cstddef>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace valdoria::files {

// Every call the saves make on POSIX, each by its system name, in one table
// a test may change: it fails whichever call on whichever file it pleases.
// `os` holds the system's own (SmallFilePosix.cpp).
struct PosixCalls {
  int (*openat)(int directory, const char* name, int flags, mode_t mode);
  int (*fstatat)(int directory, const char* name, struct stat* status, int flags);
  int (*fstat)(int file, struct stat* status);
  ssize_t (*readlinkat)(int directory, const char* name, char* target, std::size_t size);
  ssize_t (*pread)(int file, void* buffer, std::size_t size, off_t offset);
  ssize_t (*pwrite)(int file, const void* data, std::size_t size, off_t offset);
  off_t (*lseek)(int file, off_t offset, int whence);
  int (*ftruncate)(int file, off_t length);
  int (*fsync)(int file);
  int (*close)(int file);
  int (*fchown)(int file, uid_t owner, gid_t group);
  int (*fchmod)(int file, mode_t mode);
  ssize_t (*flistxattr)(int file, char* names, std::size_t size);
  ssize_t (*fgetxattr)(int file, const char* name, void* value, std::size_t size);
  int (*fsetxattr)(int file, const char* name, const void* value, std::size_t size, int flags);
  int (*fremovexattr)(int file, const char* name);
  int (*linkat)(int fromDirectory, const char* from, int toDirectory, const char* to, int flags);
  int (*renameat)(int fromDirectory, const char* from, int toDirectory, const char* to);
  int (*unlinkat)(int directory, const char* name, int flags);
  int (*flock)(int file, int operation);
  int (*getentropy)(void* buffer, std::size_t size);
  uid_t (*geteuid)();
  DIR* (*fdopendir)(int directory);
  dirent* (*readdir)(DIR* listing);
  int (*closedir)(DIR* listing);
};

extern PosixCalls os;

} // namespace valdoria::files
