#pragma once

#include "save/FileStamp.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The steps a save is made of, each the platform's own calls and no choice
// (SmallFilePosix.cpp, SmallFileWindows.cpp, each through its table of
// calls, PosixCalls.hpp or WindowsCalls.hpp); SmallFile.cpp decides which
// run, in what order, and what their outcomes mean.
namespace valdoria::files {

// A descriptor or a handle: -1 is none on either platform.
using Native = std::intptr_t;
// A name in the platform's own characters.
using Name = std::filesystem::path;

// Done; Refused: not allowed here, another way may be; Taken: the name is
// another file's; Stranded: the old file is gone and the new one did not
// take its name (Windows); Failed: an error.
enum class Outcome { Done, Failed, Refused, Taken, Stranded };

bool closeNative(Native native);

// Owns an open file or directory. A close is never retried.
class File {
public:
  File() = default;
  explicit File(Native native) : handle(native) {}
  File(File&& other) noexcept : handle(std::exchange(other.handle, kClosed)) {}
  File& operator=(File&& other) noexcept {
    std::swap(handle, other.handle);
    return *this;
  }
  ~File() {
    if (isOpen())
      closeNative(handle);
  }
  bool isOpen() const { return handle != kClosed; }
  Native native() const { return handle; }
  // True for a file closed already.
  bool close() { return !isOpen() || closeNative(std::exchange(handle, kClosed)); }

private:
  static constexpr Native kClosed = -1;
  Native handle = kClosed;
};

// Where a name leads, its links followed: the directory that holds the
// file (POSIX; on Windows the name is the whole path) and its name there.
struct Place {
  File directory;
  Name name;
  bool exists = false;
};

enum class Access { Read, Write, ReadWrite };

std::optional<Place> locate(const std::string& path);
bool sameDirectory(const Place& one, const Place& other);
bool isTaken(const Place& at, const Name& name);
// A regular file and nothing else; Refused where the access is denied.
Outcome openRegular(const Place& at, const Name& name, Access access, File& opened);
// Whether `name` is, right now, the file open as `file`.
bool leadsTo(const Place& at, const Name& name, const File& file);
bool stampOf(const File& file, FileStamp& stamp, std::uint64_t* links = nullptr);

// One read or write at `offset`, again where a signal broke it off: the
// count, or -1.
std::int64_t readSome(const File& file, std::int64_t offset, char* buffer, std::int64_t size);
std::int64_t writeSome(const File& file, std::int64_t offset, std::string_view bytes);
// Where bytes start again after `offset`, past a hole; -1: only a hole follows.
std::int64_t nextData(const File& file, std::int64_t offset);
bool flush(const File& file);
bool setLength(const File& file, std::int64_t length);
// Refused where the directory may not be read; any other error fails.
bool flushDirectory(const Place& at);
bool randomBytes(unsigned char* bytes, std::size_t count);

// A new file beside the old one, marked in use as long as it is open, and
// removed again unless it is put in place.
struct Temporary {
  const Place* at = nullptr;
  Name name;
  File file;
  File mark; // Windows' sign that it is in use (see SmallFileWindows.cpp)
  Temporary() = default;
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary();
};
inline constexpr std::string_view kTemporaryMarker = ".tmp-";
inline constexpr std::size_t kTemporaryDigits = 16;

// `at`'s name, the marker and random hex digits nobody can foresee; empty
// where no random bytes come (SmallFile.cpp).
Name temporaryName(const Place& at);
// A file made at `made.name`, never over anything, and open; `shared`: as
// readable as a new file is, else the owner's alone. Taken where the name
// is another file's; the name is then cleared unless the file is this
// save's to remove.
Outcome createNew(Temporary& made, bool shared);
// The owner, group, attributes (and no others) and mode of `from`; Refused
// where one may not be given.
Outcome adopt(const File& to, const File& from);
// The user's alone, with no more access for the user than `from` gives.
bool makePrivate(const File& to, const File& from);
// Put at `at`'s own name, over what is there; Refused where that is not allowed.
Outcome putOver(Temporary& fresh);
// Put at `name`, never over anything; Refused where the name is taken.
Outcome putBeside(Temporary& fresh, const Name& name);
// A second name `to` for the file at `from`, never over anything; Refused
// where the file system makes no second names.
Outcome linkAs(const Place& at, const Name& from, const Name& to);
bool removeName(const Place& at, const Name& name);
// Removes each file at `at` that `isLeftover` names and nobody holds.
void removeUnheld(const Place& at, const std::function<bool(const Name&)>& isLeftover);

} // namespace valdoria::files
