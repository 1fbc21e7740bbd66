#include "save/SmallFile.hpp"

// <bcrypt.h> needs the types of <windows.h>.
#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <istream>
#include <optional>
#include <streambuf>
#include <utility>
#include <vector>

namespace valdoria {

namespace {

using Path = std::wstring;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

const FileOps kSystemOps{
    [](const wchar_t* path, unsigned long access, unsigned long sharing, unsigned long disposition,
       unsigned long flags) -> void* {
      return CreateFileW(path, access, sharing, nullptr, disposition, flags, nullptr);
    },
    [](void* file, const void* data, unsigned long size, unsigned long* written) -> int {
      return WriteFile(file, data, size, written, nullptr);
    },
    [](void* file) -> int { return FlushFileBuffers(file); },
    [](void* file, std::int64_t length) -> int {
      FILE_END_OF_FILE_INFO end{};
      end.EndOfFile.QuadPart = length;
      return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end);
    },
    [](void* file) -> int { return CloseHandle(file); },
    // Keeps the replaced file's attributes, security descriptor and streams.
    [](const wchar_t* replaced, const wchar_t* replacement) -> int {
      return ReplaceFileW(replaced, replacement, nullptr, 0, nullptr, nullptr);
    },
    [](const wchar_t* from, const wchar_t* to, unsigned long flags) -> int {
      return MoveFileExW(from, to, flags);
    },
    [](const wchar_t* link, const wchar_t* target) -> int {
      return CreateHardLinkW(link, target, nullptr);
    },
    [](const wchar_t* path) -> int { return DeleteFileW(path); },
};
const FileCalls kSystemCalls{kSystemOps, kSystemOps, kSystemOps, kSystemOps};

// Owns a handle. A close whose error counts goes through the calls.
struct Handle {
  HANDLE value = INVALID_HANDLE_VALUE;

  Handle() = default;
  explicit Handle(HANDLE value) : value(value == nullptr ? INVALID_HANDLE_VALUE : value) {}
  Handle(Handle&& other) noexcept : value(std::exchange(other.value, INVALID_HANDLE_VALUE)) {}
  Handle& operator=(Handle&& other) noexcept {
    std::swap(value, other.value);
    return *this;
  }
  ~Handle() {
    if (isOpen())
      CloseHandle(value);
  }
  bool isOpen() const { return value != INVALID_HANDLE_VALUE; }
  // Never retried: the handle is gone after the first close, whatever it reports.
  bool close(const FileOps& ops) {
    return ops.closeHandle(std::exchange(value, INVALID_HANDLE_VALUE)) != 0;
  }
};

using FileInformation = BY_HANDLE_FILE_INFORMATION;

std::optional<FileInformation> informationOf(HANDLE file) {
  FileInformation information{};
  if (GetFileInformationByHandle(file, &information) == 0)
    return std::nullopt;
  return information;
}

bool sameFile(const FileInformation& one, const FileInformation& other) {
  return one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
         one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

// Whether `path` is, right now, the file `old` describes.
bool pathLeadsTo(const Path& path, const FileInformation& old) {
  const Handle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const std::optional<FileInformation> information =
      file.isOpen() ? informationOf(file.value) : std::nullopt;
  return information && sameFile(*information, old);
}

// ---- Where the name leads ----

// The file's full path, its links followed, and whether anything is there.
struct Location {
  Path path;
  bool exists = false;
};

std::optional<Path> widen(const std::string& name) {
  if (name.empty() || name.size() > INT_MAX)
    return std::nullopt;
  const int length = static_cast<int>(name.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, name.data(), length, nullptr, 0);
  Path wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
  if (size <= 0 || MultiByteToWideChar(CP_ACP, 0, name.data(), length, wide.data(), size) != size)
    return std::nullopt;
  return wide;
}

std::optional<Path> fullPath(const Path& path) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  Path full(size, L'\0');
  const DWORD length = size == 0 ? 0 : GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size)
    return std::nullopt;
  full.resize(length);
  return full;
}

std::optional<Path> finalPath(HANDLE file) {
  const DWORD size = GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED);
  Path final(size, L'\0');
  const DWORD length =
      size == 0 ? 0 : GetFinalPathNameByHandleW(file, final.data(), size, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= size)
    return std::nullopt;
  final.resize(length);
  return final;
}

// Nothing when the name cannot be followed: a missing folder on the way, a
// link that leads nowhere, or a name the system will not open at all.
std::optional<Location> locate(const std::string& name) {
  const std::optional<Path> path = widen(name);
  if (!path)
    return std::nullopt;
  const Handle file(CreateFileW(path->c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (file.isOpen()) {
    std::optional<Path> target = finalPath(file.value);
    if (!target)
      target = fullPath(*path);
    return target ? std::optional(Location{std::move(*target), true}) : std::nullopt;
  }
  if (GetLastError() != ERROR_FILE_NOT_FOUND ||
      GetFileAttributesW(path->c_str()) != INVALID_FILE_ATTRIBUTES)
    return std::nullopt;
  const std::optional<Path> full = fullPath(*path);
  return full ? std::optional(Location{*full, false}) : std::nullopt;
}

// Only a regular file is opened, never a directory or a device, and checked
// once open.
Handle openRegular(const FileOps& ops, const Location& at, DWORD access,
                   FileInformation& information) {
  if (!at.exists)
    return {};
  Handle file(
      ops.createFile(at.path.c_str(), access, kShareAll, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  const std::optional<FileInformation> opened =
      file.isOpen() && GetFileType(file.value) == FILE_TYPE_DISK ? informationOf(file.value)
                                                                 : std::nullopt;
  if (!opened || (opened->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return {};
  information = *opened;
  return file;
}

// A read error ends the input, as the end of the file does.
class HandleReadBuffer : public std::streambuf {
public:
  explicit HandleReadBuffer(HANDLE file) : file(file) {}

protected:
  int_type underflow() override {
    DWORD count = 0;
    if (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &count, nullptr) == 0 ||
        count == 0)
      return traits_type::eof();
    setg(buffer.data(), buffer.data(), buffer.data() + count);
    return traits_type::to_int_type(buffer.front());
  }

private:
  HANDLE file;
  std::array<char, 4096> buffer{};
};

// ---- A save, in the order it runs ----

enum class Outcome { Done, Failed, Refused };

// The folder takes no new file from this user, or not one of this name.
bool refusedByDirectory(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_FILENAME_EXCED_RANGE;
}

// The file cannot be replaced: it is open elsewhere, its security cannot be
// carried over, or the file system has no such thing.
bool replaceRefused(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_PRIVILEGE_NOT_HELD ||
         error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

// No second name here: a file system without hard links, or a full count.
bool linkRefused(DWORD error) {
  return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_TOO_MANY_LINKS || error == ERROR_ACCESS_DENIED ||
         error == ERROR_PRIVILEGE_NOT_HELD;
}

// "NAME.tmp-" and sixteen hex digits from the system's random source: no
// other process can predict the name, nor take every name in advance.
constexpr std::wstring_view kMarker = L".tmp-";
constexpr std::size_t kRandomDigits = 16;
constexpr std::wstring_view kHexDigits = L"0123456789abcdef";

Path temporaryName(const Path& path) {
  std::array<unsigned char, kRandomDigits / 2> random{};
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random.data(), static_cast<ULONG>(random.size()),
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    return {};
  Path name = path + Path(kMarker);
  for (const unsigned char byte : random) {
    name += kHexDigits[byte >> 4U];
    name += kHexDigits[byte & 15U];
  }
  return name;
}

// A temporary file is open, with no sharing, while its save runs, and
// Windows closes it when that process ends however it ends: one that can be
// opened for deletion with no sharing is a killed save's leftover.
void removeLeftovers(const Location& at) {
  const std::size_t separator = at.path.find_last_of(L"\\/");
  const Path folder = at.path.substr(0, separator + 1);
  const Path prefix = at.path.substr(separator + 1) + Path(kMarker);
  WIN32_FIND_DATAW found{};
  const Path pattern = at.path + Path(kMarker) + L"*";
  const HANDLE search =
      FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE)
    return;
  std::vector<Path> leftovers;
  do {
    const std::wstring_view name = found.cFileName;
    if (name.size() == prefix.size() + kRandomDigits && name.starts_with(prefix) &&
        name.find_first_not_of(kHexDigits, prefix.size()) == std::wstring_view::npos &&
        (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
      leftovers.push_back(folder + Path(name));
  } while (FindNextFileW(search, &found) != 0);
  FindClose(search);
  for (const Path& leftover : leftovers) {
    // Goes as this handle closes.
    const Handle removed(CreateFileW(leftover.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                                     nullptr));
  }
}

// A new file beside the old, open with no sharing while it lives; removed
// again unless it was put in place.
struct Temporary {
  Path path;
  Handle file;
  ~Temporary() {
    file = Handle();
    if (!path.empty())
      DeleteFileW(path.c_str());
  }
};

bool writeAll(const FileOps& ops, HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), MAXDWORD));
    DWORD written = 0;
    if (ops.writeFile(file, bytes.data(), size, &written) == 0 || written == 0 || written > size)
      return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// Writes the content of a new file: the record, or a copy's bytes.
using Filler = std::function<bool(const FileOps& ops, HANDLE file)>;

// How a new file takes its place: at a name nothing bears yet, over the old
// file (ReplaceFileW, which keeps its attributes, security descriptor and
// streams), or over an older copy.
enum class Placing { New, Replacing, OverCopy };

// A new file filled, flushed and put at `target`: moved there written
// through to the disk, or put over the old file. Refused where the folder
// takes no new file or Windows will not replace the old one.
Outcome putInPlace(const FileOps& ops, const Location& at, const Path& target, Placing placing,
                   const Filler& fill) {
  removeLeftovers(at);
  Temporary fresh;
  for (int attempt = 0; attempt < 8 && !fresh.file.isOpen(); ++attempt) {
    Path name = temporaryName(at.path);
    Handle made(name.empty() ? INVALID_HANDLE_VALUE
                             : ops.createFile(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
    const DWORD error = GetLastError();
    if (!made.isOpen() &&
        (name.empty() || (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)))
      return placing == Placing::Replacing && refusedByDirectory(error) ? Outcome::Refused
                                                                        : Outcome::Failed;
    if (made.isOpen()) {
      fresh.path = std::move(name);
      fresh.file = std::move(made);
    }
  }
  // Closed before it moves: Windows moves no file that is open.
  if (!fresh.file.isOpen() || !fill(ops, fresh.file.value) ||
      ops.flushFileBuffers(fresh.file.value) == 0 || !fresh.file.close(ops))
    return Outcome::Failed;
  if (placing != Placing::Replacing) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH |
                        (placing == Placing::OverCopy ? DWORD{MOVEFILE_REPLACE_EXISTING} : 0);
    if (ops.moveFile(fresh.path.c_str(), target.c_str(), flags) == 0)
      return Outcome::Failed;
    fresh.path.clear();
    return Outcome::Done;
  }
  if (ops.replaceFile(target.c_str(), fresh.path.c_str()) != 0) {
    fresh.path.clear();
    return Outcome::Done;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
    // The old file is gone already: the new one takes its place if it can,
    // and is not thrown away if not.
    ops.moveFile(fresh.path.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    fresh.path.clear();
    return Outcome::Failed;
  }
  return replaceRefused(error) ? Outcome::Refused : Outcome::Failed;
}

Path backupPath(const Location& at) { return at.path + L".bak"; }

bool rewind(HANDLE file) {
  return SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN) != 0;
}

// The old bytes copied to NAME.bak as a save is written, read through the
// handle that showed the file writable, in bounded memory: a damaged file
// may be huge.
bool copyAside(const FileCalls& calls, const Location& at, HANDLE existing) {
  const Filler copy = [existing](const FileOps& ops, HANDLE file) {
    std::vector<char> buffer(65536);
    DWORD count = 1;
    while (count > 0) {
      if (ReadFile(existing, buffer.data(), static_cast<DWORD>(buffer.size()), &count, nullptr) ==
              0 ||
          !writeAll(ops, file, {buffer.data(), count}))
        return false;
    }
    return true;
  };
  return rewind(existing) &&
         putInPlace(calls.backup, at, backupPath(at), Placing::OverCopy, copy) == Outcome::Done;
}

// The old file itself as NAME.bak, through a hard link, every attribute
// kept; refused where no link can be made (FAT, for one).
Outcome linkAside(const FileCalls& calls, const Location& at, const FileInformation& old) {
  const Path backup = backupPath(at);
  if (DeleteFileW(backup.c_str()) == 0 && GetLastError() != ERROR_FILE_NOT_FOUND)
    return Outcome::Failed;
  if (calls.backup.createHardLink(backup.c_str(), at.path.c_str()) == 0)
    return linkRefused(GetLastError()) ? Outcome::Refused : Outcome::Failed;
  return pathLeadsTo(backup, old) ? Outcome::Done : Outcome::Failed;
}

bool setLength(HANDLE file, std::uint64_t length) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
  return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) != 0;
}

// The new bytes over the old, flushed, then the file cut to length: never
// empty. Until the cut, old bytes may follow a shorter record, which ends in
// a blank; loading reads seven numbers, so the file loads the new record.
bool writeInPlace(const FileOps& ops, Handle& file, std::string_view bytes,
                  const FileInformation& old) {
  std::string previous(bytes.size(), '\0');
  DWORD kept = 0;
  const bool read =
      rewind(file.value) && ReadFile(file.value, previous.data(),
                                     static_cast<DWORD>(previous.size()), &kept, nullptr) != 0;
  if (!rewind(file.value))
    return false;
  if (!writeAll(ops, file.value, bytes)) {
    DWORD restored = 0;
    if (read && rewind(file.value) &&
        WriteFile(file.value, previous.data(), kept, &restored, nullptr) != 0)
      setLength(file.value, (std::uint64_t{old.nFileSizeHigh} << 32U) | old.nFileSizeLow);
    return false;
  }
  return ops.flushFileBuffers(file.value) != 0 &&
         ops.setLength(file.value, static_cast<std::int64_t>(bytes.size())) != 0 &&
         ops.flushFileBuffers(file.value) != 0 && file.close(ops);
}

// Read too, where allowed, to undo a write in place that breaks off.
Handle openForWriting(const FileOps& ops, const Location& at, FileInformation& information) {
  Handle file = openRegular(ops, at, GENERIC_READ | GENERIC_WRITE, information);
  if (!file.isOpen() && GetLastError() == ERROR_ACCESS_DENIED)
    file = openRegular(ops, at, GENERIC_WRITE, information);
  return file;
}

// ---- The party's guard ----

// Shared with the console's handler, which Windows runs on a thread of its own.
SRWLOCK writers = SRWLOCK_INIT;
int liveWriters = 0;
bool endHeldBack = false;

// Ctrl-C, Ctrl-Break, closing the console window, logging off and shutting
// down end the program; while the party is written they wait for it.
BOOL WINAPI holdBackTheEnd(DWORD event) {
  AcquireSRWLockExclusive(&writers);
  const bool writing = liveWriters > 0;
  endHeldBack = endHeldBack || writing;
  ReleaseSRWLockExclusive(&writers);
  if (!writing)
    return FALSE; // Windows' own handler ends the program now
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
    return TRUE;
  // The program ends as soon as this returns, so it does not: the last
  // guard ends the program instead, within the seconds Windows allows.
  Sleep(INFINITE);
  return TRUE;
}

// One mutex a folder, named after its volume and its number there however
// it is reached, seen by every session's games; one another user made may be
// closed to this one: then there is no lock. A game's save takes
// milliseconds: a lock held for seconds is no game's.
HANDLE lockFolder() {
  const Handle folder(CreateFileW(L".", FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const std::optional<FileInformation> information =
      folder.isOpen() ? informationOf(folder.value) : std::nullopt;
  if (!information)
    return nullptr;
  const std::wstring name = L"Global\\valdoria-party-" +
                            std::to_wstring(information->dwVolumeSerialNumber) + L"-" +
                            std::to_wstring(information->nFileIndexHigh) + L"-" +
                            std::to_wstring(information->nFileIndexLow);
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  const DWORD waited = mutex == nullptr ? WAIT_FAILED : WaitForSingleObject(mutex, 3000);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
    return mutex;
  if (mutex != nullptr)
    CloseHandle(mutex);
  return nullptr;
}

} // namespace

const FileCalls& systemFileCalls() { return kSystemCalls; }

bool readSmallFile(const std::string& name, const std::function<bool(std::istream&)>& parse) {
  const std::optional<Location> at = locate(name);
  FileInformation information{};
  const Handle file = at ? openRegular(kSystemOps, *at, GENERIC_READ, information) : Handle();
  if (!file.isOpen())
    return false;
  HandleReadBuffer buffer(file.value);
  std::istream input(&buffer);
  return parse(input);
}

bool replaceSmallFile(const std::string& name, std::string_view bytes, OldBytes keep,
                      const FileCalls& calls) {
  const Filler record = [bytes](const FileOps& ops, HANDLE file) {
    return writeAll(ops, file, bytes);
  };
  const std::optional<Location> at = locate(name);
  if (!at || !at->exists)
    return at && putInPlace(calls.temporary, *at, at->path, Placing::New, record) == Outcome::Done;
  // Only what a plain open for writing accepts, and never a read-only file
  // (which Wine, as root, opens for writing).
  FileInformation old{};
  Handle existing = openForWriting(calls.saveFile, *at, old);
  if (!existing.isOpen() || (old.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
    return false;
  // Every name must see the new bytes; a linked NAME.bak is not the player's.
  if (old.nNumberOfLinks - (pathLeadsTo(backupPath(*at), old) ? 1 : 0) == 1) {
    const Outcome linked = keep == OldBytes::Kept ? linkAside(calls, *at, old) : Outcome::Done;
    if (linked == Outcome::Failed ||
        (linked == Outcome::Refused && !copyAside(calls, *at, existing.value)))
      return false;
    keep = linked == Outcome::Refused ? OldBytes::Dropped : keep; // the copy is made
    existing = Handle(); // Windows replaces no file that is open
    const Outcome replaced = putInPlace(calls.temporary, *at, at->path, Placing::Replacing, record);
    if (replaced != Outcome::Refused)
      return replaced == Outcome::Done;
    // Written in place after all: the link would see the new bytes.
    if (keep == OldBytes::Kept)
      DeleteFileW(backupPath(*at).c_str());
    FileInformation reopened{};
    existing = openForWriting(calls.saveFile, *at, reopened);
    if (!existing.isOpen() || !sameFile(reopened, old))
      return false;
  }
  // In place: no new file allowed, the old one may not be replaced, or the
  // file has more names.
  return (keep == OldBytes::Dropped || copyAside(calls, *at, existing.value)) &&
         writeInPlace(calls.saveFile, existing, bytes, old);
}

// A mutex has no shared side: reading games, too, take turns, for the
// moment a load lasts.
PartyGuard::PartyGuard(Use use) : lock(lockFolder()) {
  if (use == Use::Reading)
    return;
  static const bool handling = SetConsoleCtrlHandler(holdBackTheEnd, TRUE) != 0;
  if (!handling)
    return;
  AcquireSRWLockExclusive(&writers);
  ++liveWriters;
  ReleaseSRWLockExclusive(&writers);
  deferring = true;
}

PartyGuard::~PartyGuard() {
  if (lock != nullptr) {
    ReleaseMutex(lock);
    CloseHandle(lock);
  }
  if (!deferring)
    return;
  AcquireSRWLockExclusive(&writers);
  const bool ending = --liveWriters == 0 && endHeldBack;
  ReleaseSRWLockExclusive(&writers);
  if (ending)
    ExitProcess(STATUS_CONTROL_C_EXIT); // as Windows' own handler would have
}

} // namespace valdoria
