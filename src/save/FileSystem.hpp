#pragma once

#include "save/FileCalls.hpp"
#include "save/SmallFile.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The steps a save is made of, each platform's own (SmallFilePosix.cpp,
// SmallFileWindows.cpp); SmallFile.cpp decides which run, in what order.
namespace valdoria::files {

#if defined(_WIN32)
using Native = void*;
using Name = std::wstring;
#else
using Native = int;
using Name = std::string;
#endif

// Done; Refused: not allowed here, another way may be; Failed: an error.
enum class Outcome { Done, Failed, Refused };

// Owns an open file or directory. A close whose error counts goes through
// the calls, and is never retried.
class File {
public:
  File() = default;
  explicit File(Native native);
  File(File&& other) noexcept : handle(std::exchange(other.handle, kClosed)) {}
  File& operator=(File&& other) noexcept {
    std::swap(handle, other.handle);
    return *this;
  }
  ~File();
  bool isOpen() const;
  Native native() const { return handle; }
  bool close(const FileOps& ops);

private:
  Native handle = kClosed;
  static const Native kClosed;
};

// Where a name leads, its links followed: the directory that holds the
// file (POSIX; on Windows the name is the whole path) and its name there.
struct Place {
  File directory;
  Name name;
  bool exists = false;
};

// `name` with an ASCII suffix, as NAME.bak.
inline Name withSuffix(const Name& name, std::string_view suffix) {
  return name + Name(suffix.begin(), suffix.end());
}

std::optional<Place> locate(const std::string& path);
bool sameDirectory(const Place& one, const Place& other);
bool isTaken(const Place& at, const Name& name);
// A regular file and nothing else, to read, or to write (and read where allowed).
File openRegular(const FileOps& ops, const Place& at, const Name& name, bool writing);
// Whether `name` is, right now, the file open as `file`.
bool leadsTo(const Place& at, const Name& name, const File& file);
bool stampOf(const File& file, FileStamp& stamp, std::uint64_t* links = nullptr);

// Reads until `size` bytes or the end: the count, or -1.
std::int64_t readAt(const File& file, std::int64_t offset, char* buffer, std::int64_t size);
bool writeAt(const FileOps& ops, const File& file, std::int64_t offset, std::string_view bytes);
bool flush(const FileOps& ops, const File& file);
bool setLength(const FileOps& ops, const File& file, std::int64_t length);
// All of `from` into the empty `to`, in bounded memory.
bool copyAll(const FileOps& ops, const File& from, const File& to);
// Refused where the directory may not be read; any other error fails.
bool flushDirectory(const FileOps& ops, const Place& at);

// A new file beside the old one, marked in use as long as it is open, and
// removed again unless it is put in place.
struct Temporary {
  const Place* at = nullptr;
  Name name;
  File file;
#if defined(_WIN32)
  File mark; // see SmallFileWindows.cpp
#endif
  Temporary() = default;
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary();
};
inline constexpr std::string_view kTemporaryMarker = ".tmp-";
inline constexpr std::size_t kTemporaryDigits = 16;

// Named `at`'s name, the marker and random hex digits nobody can foresee;
// `shared`: as readable as a new file is, else the owner's alone.
Outcome makeTemporary(const FileOps& ops, const Place& at, bool shared, Temporary& made);
// The owner, group, attributes (and no others) and mode of `from`. Refused
// where one may not be given; then `orPrivate` makes `to` the user's alone.
Outcome adopt(const FileOps& ops, const File& to, const File& from, bool orPrivate);
// Put at `at`'s own name, over what is there; Refused where that is not allowed.
Outcome putOver(const FileOps& ops, Temporary& fresh);
// Put at `name`, never over anything; Refused where the name is taken.
Outcome putBeside(const FileOps& ops, Temporary& fresh, const Name& name);
// A second name `to` for the file at `from`, never over anything; Refused
// where the file system makes no second names.
Outcome linkAs(const FileOps& ops, const Place& at, const Name& from, const Name& to);
bool removeName(const Place& at, const Name& name);
// Removes each file at `at` that `isLeftover` names and nobody holds.
void removeUnheld(const Place& at, const std::function<bool(const Name&)>& isLeftover);

} // namespace valdoria::files
