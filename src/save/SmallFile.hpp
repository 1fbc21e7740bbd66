#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#if defined(_WIN32)
#include <cstdint>
#else
#include <signal.h>
#include <sys/types.h>
#endif

namespace valdoria {

// The byte level of the party's files: a small file read, or replaced so
// that it holds its old or its new bytes whatever fails and whoever else is
// at work in the same directory. A name is followed through its links; only
// a regular file at the end of them is ever opened, never a pipe or device.

// Kept: beside the file as NAME.bak, since the game never read them.
enum class OldBytes { Dropped, Kept };

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
  int (*deleteFile)(const wchar_t* path);
};
#else
// The system calls a save makes on one file.
struct FileOps {
  int (*openAt)(int directory, const char* name, int flags, mode_t mode);
  ssize_t (*write)(int file, const void* data, std::size_t size);
  int (*truncate)(int file, off_t length);
  int (*sync)(int file);
  int (*close)(int file);
  int (*changeOwner)(int file, uid_t owner, gid_t group);
  int (*changeMode)(int file, mode_t mode);
  int (*setAttribute)(int file, const char* name, const void* value, std::size_t size, int flags);
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
  FileOps backup; // NAME.bak
};

const FileCalls& systemFileCalls();

// Hands the regular file at `name` to `parse`; false when there is no such
// file or it cannot be opened, otherwise what `parse` returns.
bool readSmallFile(const std::string& name, const std::function<bool(std::istream&)>& parse);

// Makes `bytes` the whole content of the file at `name`, flushed to disk,
// with its owner, group, mode, attributes and links. False when any step
// fails; the file then still loads its old or its new bytes.
bool replaceSmallFile(const std::string& name, std::string_view bytes, OldBytes old,
                      const FileCalls& calls = systemFileCalls());

// Held while the party is read or written: the working directory is locked
// (shared to read, exclusive to write) so that two games never mix two
// battles' heroes; a lock refused, or held for seconds, is done without.
// While writing, signals that end the program (Ctrl-C, SIGTERM, SIGHUP...)
// wait until it goes, and a file-size limit makes the write fail instead.
class PartyGuard {
public:
  enum class Use { Reading, Writing };

  explicit PartyGuard(Use use);
  PartyGuard(const PartyGuard&) = delete;
  PartyGuard& operator=(const PartyGuard&) = delete;
  ~PartyGuard();

private:
#if defined(_WIN32)
  void* lock = nullptr;
#else
  int lock = -1;
  sigset_t previousMask{};
  struct sigaction previousFileSizeAction {};
#endif
  bool deferring = false;
};

} // namespace valdoria
