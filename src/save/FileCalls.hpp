#pragma once

#include <cstddef>

#if defined(_WIN32)
#include <cstdint>
#else
#include <sys/stat.h>
#include <sys/types.h>
#endif

namespace valdoria {

#if defined(_WIN32)
// The Windows calls a save makes on one file, Windows' types spelt out (a
// handle is a void*, a DWORD an unsigned long, a BOOL an int), so that the
// game needs no <windows.h>. A failing call sets the last error.
struct FileOps {
  void* (*createFile)(const wchar_t* path, unsigned long access, unsigned long sharing,
                      unsigned long disposition, unsigned long flags);
  int (*writeFile)(void* file, const void* data, unsigned long size, unsigned long* written);
  int (*flushFileBuffers)(void* file);
  int (*setLength)(void* file, std::int64_t length);
  int (*closeHandle)(void* file);
  int (*replaceFile)(const wchar_t* replaced, const wchar_t* replacement);
  int (*moveFile)(const wchar_t* from, const wchar_t* to, unsigned long flags);
  int (*createHardLink)(const wchar_t* link, const wchar_t* target);
};
#else
// The system calls a save makes on one file.
struct FileOps {
  int (*openAt)(int directory, const char* name, int flags, mode_t mode);
  int (*statAt)(int directory, const char* name, struct stat* status, int flags);
  ssize_t (*write)(int file, const void* data, std::size_t size);
  int (*truncate)(int file, off_t length);
  int (*sync)(int file);
  int (*close)(int file);
  int (*changeOwner)(int file, uid_t owner, gid_t group);
  int (*changeMode)(int file, mode_t mode);
  int (*setAttribute)(int file, const char* name, const void* value, std::size_t size, int flags);
  int (*removeAttribute)(int file, const char* name);
  int (*linkAt)(int fromDirectory, const char* from, int toDirectory, const char* to, int flags);
  int (*renameAt)(int fromDirectory, const char* from, int toDirectory, const char* to);
  int (*lock)(int file, int operation);
};
#endif

// The calls by the file they act on, so a test can fail one step on one.
// Windows flushes no directory: there `directory` goes unused.
struct FileCalls {
  FileOps saveFile;
  FileOps temporary; // the new bytes, before they replace the old
  FileOps directory;
  FileOps backup; // a kept copy of the old bytes
};

const FileCalls& systemFileCalls();

} // namespace valdoria
