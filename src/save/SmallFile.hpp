#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#if defined(_WIN32)
#include <cstdint>
#else
#include <sys/types.h>
#endif

namespace valdoria {

// The byte level of a save: one small file read, or replaced so that it
// always holds its old or its new bytes, whatever fails or whoever else is
// at work in the same directory. A name is followed through its links; only
// a regular file at the end of them is ever opened, so a pipe, a socket, a
// device or a directory is a failed read at once and a failed save.

// What becomes of a file's old bytes when it is replaced.
enum class OldBytes {
  Dropped, // replaced by the new ones
  Kept,    // kept beside it as NAME.bak: the game never read them
};

// The file a system call of a save acts on, so that a test can make one step
// fail on one file.
enum class FileRole { SaveFile, Temporary, Directory, Backup };

#if defined(_WIN32)
// The Windows calls through which a save opens, writes, flushes, cuts,
// closes, replaces, moves, links and deletes, with Windows' types spelt out
// (a handle is a void*, a DWORD an unsigned long, a BOOL an int) so that the
// game needs no <windows.h>; each is told which file it acts on. Tests hand
// in a table whose calls fail on one role and set the last error.
struct FileCalls {
  void* (*createFile)(FileRole role, const wchar_t* path, unsigned long access,
                      unsigned long sharing, unsigned long disposition, unsigned long flags);
  int (*writeFile)(FileRole role, void* file, const void* data, unsigned long size,
                   unsigned long* written);
  int (*flushFileBuffers)(FileRole role, void* file);
  int (*setLength)(FileRole role, void* file, std::int64_t length);
  int (*closeHandle)(FileRole role, void* file);
  int (*replaceFile)(FileRole role, const wchar_t* replaced, const wchar_t* replacement);
  int (*moveFile)(FileRole role, const wchar_t* from, const wchar_t* to, unsigned long flags);
  int (*createHardLink)(FileRole role, const wchar_t* link, const wchar_t* target);
  int (*deleteFile)(FileRole role, const wchar_t* path);
};
#else
// The system calls through which a save opens, writes, flushes, cuts,
// carries attributes over, links, renames and locks; each is told which file
// it acts on. Tests hand in a table whose calls fail on one role.
struct FileCalls {
  int (*openAt)(FileRole role, int directory, const char* name, int flags, mode_t mode);
  ssize_t (*write)(FileRole role, int descriptor, const void* data, std::size_t size);
  int (*truncate)(FileRole role, int descriptor, off_t length);
  int (*sync)(FileRole role, int descriptor);
  int (*close)(FileRole role, int descriptor);
  int (*changeOwner)(FileRole role, int descriptor, uid_t owner, gid_t group);
  int (*changeMode)(FileRole role, int descriptor, mode_t mode);
  int (*setAttribute)(FileRole role, int descriptor, const char* name, const void* value,
                      std::size_t size);
  int (*linkAt)(FileRole role, int fromDirectory, const char* from, int toDirectory,
                const char* to);
  int (*renameAt)(FileRole role, int fromDirectory, const char* from, int toDirectory,
                  const char* to);
  int (*lock)(FileRole role, int descriptor, int operation);
};
#endif

// The system's own calls.
const FileCalls& systemFileCalls();

// Hands the regular file at `name` to `parse` as a stream; false when there
// is no such file or it cannot be opened, otherwise what `parse` returns.
bool readSmallFile(const std::string& name, const std::function<bool(std::istream&)>& parse);

// Makes `bytes` the whole content of the file at `name`, flushed to disk,
// keeping the file's owner, group, mode, attributes and links. False when any
// step fails; the file then still holds its old or its new bytes.
bool replaceSmallFile(const std::string& name, std::string_view bytes, OldBytes old,
                      const FileCalls& calls = systemFileCalls());

// Held while the party's files are read (shared) or written (exclusive), so
// that two games in one directory never mix the heroes of two battles. A
// file system that refuses the lock is used without it.
class PartyLock {
public:
  enum class Mode { Shared, Exclusive };

  explicit PartyLock(Mode mode);
  PartyLock(const PartyLock&) = delete;
  PartyLock& operator=(const PartyLock&) = delete;
  ~PartyLock();

private:
#if defined(_WIN32)
  void* handle = nullptr;
#else
  int descriptor = -1;
#endif
};

} // namespace valdoria
