#include "save/FileSystem.hpp"

// <bcrypt.h> and <aclapi.h> need the types of <windows.h>.
#include <windows.h>

#include <aclapi.h>
#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <climits>
#include <utility>
#include <vector>

namespace valdoria {

namespace {

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
};
const FileCalls kSystemCalls{kSystemOps, kSystemOps, kSystemOps, kSystemOps};

using files::File;
using files::Name;

// A path Windows writes into a buffer of the size it first asks for.
template <typename Fill> std::optional<Name> pathFrom(Fill fill) {
  const DWORD size = fill(nullptr, 0);
  Name path(size, L'\0');
  const DWORD length = size == 0 ? 0 : fill(path.data(), size);
  if (length == 0 || length >= size)
    return std::nullopt;
  path.resize(length);
  return path;
}

std::optional<Name> finalPath(const File& file) {
  return pathFrom([&](wchar_t* buffer, DWORD size) {
    return GetFinalPathNameByHandleW(file.native(), buffer, size, FILE_NAME_NORMALIZED);
  });
}

File openAttributes(const Name& path, DWORD flags = FILE_FLAG_BACKUP_SEMANTICS) {
  return File(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                          flags, nullptr));
}

// Not allowed here; another way may be.
bool refused(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_PRIVILEGE_NOT_HELD ||
         error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_FILENAME_EXCED_RANGE;
}

// Held from before a temporary file exists until it is in place or gone:
// it must be closed for ReplaceFileW, which opens it with no sharing, and
// the mark keeps another game's clean-up off it meanwhile. Windows drops
// it when its maker ends, however it ends.
Name markOf(const Name& temporary) {
  return L"Global\\valdoria-temporary-" + temporary.substr(temporary.size() - files::kTemporaryDigits);
}

// The user's alone, whatever the folder gives new files; no ACLs, no access to gain.
bool makePrivate(const File& file) {
  HANDLE token = nullptr;
  alignas(TOKEN_USER) std::array<char, sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE> user{};
  alignas(ACL) std::array<char, sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE>
      list{};
  DWORD size = 0;
  const bool known = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) != 0 &&
                     GetTokenInformation(token, TokenUser, user.data(), user.size(), &size) != 0;
  if (token != nullptr)
    CloseHandle(token);
  auto* acl = reinterpret_cast<ACL*>(list.data());
  if (!known || InitializeAcl(acl, list.size(), ACL_REVISION) == 0 ||
      AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS,
                          reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid) == 0)
    return false;
  const DWORD error = SetSecurityInfo(file.native(), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, acl, nullptr);
  return error == ERROR_SUCCESS || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

std::optional<Name> widen(const std::string& name) {
  if (name.empty() || name.size() > INT_MAX)
    return std::nullopt;
  const int length = static_cast<int>(name.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, name.data(), length, nullptr, 0);
  Name wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
  if (size <= 0 || MultiByteToWideChar(CP_ACP, 0, name.data(), length, wide.data(), size) != size)
    return std::nullopt;
  return wide;
}

Name folderOf(const Name& path) { return path.substr(0, path.find_last_of(L'\\') + 1); }

} // namespace

const FileCalls& systemFileCalls() { return kSystemCalls; }

namespace files {

const Native File::kClosed = INVALID_HANDLE_VALUE;
File::File(Native native) : handle(native == nullptr ? kClosed : native) {}
File::File(File&& other) noexcept : handle(std::exchange(other.handle, kClosed)) {}
File& File::operator=(File&& other) noexcept {
  std::swap(handle, other.handle);
  return *this;
}
File::~File() {
  if (isOpen())
    CloseHandle(handle);
}
bool File::isOpen() const { return handle != kClosed; }
bool File::close(const FileOps& ops) { return ops.closeHandle(std::exchange(handle, kClosed)) != 0; }

// The name is the file's whole final path, its links followed, as every
// name beside it is; nothing when a folder on the way is missing.
std::optional<Place> locate(const std::string& path) {
  const std::optional<Name> wide = widen(path);
  File file = wide ? openAttributes(*wide) : File();
  if (file.isOpen() || !wide || GetLastError() != ERROR_FILE_NOT_FOUND) {
    const std::optional<Name> final = file.isOpen() ? finalPath(file) : std::nullopt;
    return final ? std::optional(Place{{}, *final, true}) : std::nullopt;
  }
  if (isTaken({}, *wide)) {
    // A link that leads nowhere: its target made through it, to learn where
    // it is, and gone again as the handle closes; the save then makes it.
    file = File(CreateFileW(wide->c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                            OPEN_ALWAYS, 0, nullptr));
    const bool made = file.isOpen() && GetLastError() != ERROR_ALREADY_EXISTS;
    FILE_DISPOSITION_INFO gone{TRUE};
    const std::optional<Name> final = file.isOpen() ? finalPath(file) : std::nullopt;
    if (!final ||
        (made && SetFileInformationByHandle(file.native(), FileDispositionInfo, &gone,
                                            sizeof gone) == 0))
      return std::nullopt;
    return Place{{}, *final, !made};
  }
  const std::optional<Name> full = pathFrom([&](wchar_t* buffer, DWORD size) {
    return GetFullPathNameW(wide->c_str(), size, buffer, nullptr);
  });
  file = full ? openAttributes(folderOf(*full)) : File();
  const std::optional<Name> folder = file.isOpen() ? finalPath(file) : std::nullopt;
  if (!folder)
    return std::nullopt;
  return Place{{}, (folder->ends_with(L'\\') ? *folder : *folder + L'\\') + full->substr(folderOf(*full).size()), false};
}

bool sameDirectory(const Place& one, const Place& other) {
  return folderOf(one.name) == folderOf(other.name);
}

bool isTaken(const Place&, const Name& name) {
  WIN32_FIND_DATAW found{};
  const HANDLE search =
      FindFirstFileExW(name.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE)
    return GetLastError() != ERROR_FILE_NOT_FOUND;
  FindClose(search);
  return true;
}

// Never a read-only file, which Wine, as root, opens for writing; never a
// file a link at the name leads to.
File openRegular(const FileOps& ops, const Place&, const Name& name, bool writing) {
  const auto open = [&](DWORD access) {
    return File(ops.createFile(name.c_str(), access, kShareAll, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  };
  File file = open(writing ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ);
  if (writing && !file.isOpen() && GetLastError() == ERROR_ACCESS_DENIED)
    file = open(GENERIC_WRITE);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!file.isOpen() || GetFileType(file.native()) != FILE_TYPE_DISK ||
      GetFileInformationByHandle(file.native(), &information) == 0 ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      (writing && (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) ||
      finalPath(file) != name)
    return {};
  return file;
}

bool leadsTo(const Place&, const Name& name, const File& file) {
  const File there = openAttributes(name, FILE_FLAG_OPEN_REPARSE_POINT);
  FileStamp mine;
  FileStamp theirs;
  return there.isOpen() && stampOf(there, mine) && stampOf(file, theirs) &&
         mine.device == theirs.device && mine.index == theirs.index;
}

bool stampOf(const File& file, FileStamp& stamp, std::uint64_t* links) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileInformationByHandle(file.native(), &information) == 0)
    return false;
  const auto join = [](DWORD high, DWORD low) { return (std::uint64_t{high} << 32U) | low; };
  const FILETIME& written = information.ftLastWriteTime;
  stamp = {information.dwVolumeSerialNumber,
           join(information.nFileIndexHigh, information.nFileIndexLow),
           static_cast<std::int64_t>(join(information.nFileSizeHigh, information.nFileSizeLow)),
           static_cast<std::int64_t>(join(written.dwHighDateTime, written.dwLowDateTime))};
  if (links != nullptr)
    *links = information.nNumberOfLinks;
  return true;
}

std::int64_t readAt(const File& file, std::int64_t offset, char* buffer, std::int64_t size) {
  std::int64_t count = 0;
  while (count < size) {
    const auto at = static_cast<std::uint64_t>(offset + count);
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(at);
    position.OffsetHigh = static_cast<DWORD>(at >> 32U);
    DWORD read = 0;
    if (ReadFile(file.native(), buffer + count,
                 static_cast<DWORD>(std::min<std::int64_t>(size - count, MAXDWORD)), &read,
                 &position) == 0)
      return GetLastError() == ERROR_HANDLE_EOF ? count : -1;
    if (read == 0)
      return count;
    count += read;
  }
  return count;
}

bool writeAt(const FileOps& ops, const File& file, std::int64_t offset, std::string_view bytes) {
  LARGE_INTEGER position{};
  position.QuadPart = offset;
  if (SetFilePointerEx(file.native(), position, nullptr, FILE_BEGIN) == 0)
    return false;
  while (!bytes.empty()) {
    const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), MAXDWORD));
    DWORD written = 0;
    if (ops.writeFile(file.native(), bytes.data(), size, &written) == 0 || written == 0 ||
        written > size)
      return false;
    bytes.remove_prefix(written);
  }
  return true;
}

bool flush(const FileOps& ops, const File& file) { return ops.flushFileBuffers(file.native()) != 0; }

bool setLength(const FileOps& ops, const File& file, std::int64_t length) {
  return ops.setLength(file.native(), length) != 0;
}

bool copyAll(const FileOps& ops, const File& from, const File& to) {
  std::vector<char> buffer(65536);
  for (std::int64_t offset = 0;;) {
    const std::int64_t count =
        readAt(from, offset, buffer.data(), static_cast<std::int64_t>(buffer.size()));
    if (count <= 0)
      return count == 0;
    if (!writeAt(ops, to, offset, {buffer.data(), static_cast<std::size_t>(count)}))
      return false;
    offset += count;
  }
}

// Moves are written through to the disk instead.
bool flushDirectory(const FileOps&, const Place&) { return true; }

Temporary::~Temporary() {
  file = File(); // Windows removes no file while it is open
  if (at != nullptr && !name.empty())
    DeleteFileW(name.c_str());
}

Outcome makeTemporary(const FileOps& ops, const Place& at, bool shared, Temporary& made) {
  made.at = &at;
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::array<unsigned char, kTemporaryDigits / 2> random{};
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random.data(), static_cast<ULONG>(random.size()),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
      return Outcome::Failed;
    made.name = withSuffix(at.name, kTemporaryMarker);
    for (const unsigned char byte : random) {
      made.name += L"0123456789abcdef"[byte >> 4U];
      made.name += L"0123456789abcdef"[byte & 15U];
    }
    made.mark = File(CreateMutexW(nullptr, FALSE, markOf(made.name).c_str()));
    // Open, and marked, until it is in place: see markOf.
    made.file = File(ops.createFile(made.name.c_str(),
                                    GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC,
                                    FILE_SHARE_DELETE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
    if (made.file.isOpen())
      return shared || makePrivate(made.file) ? Outcome::Done : Outcome::Failed;
    const DWORD error = GetLastError();
    made.name.clear();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
      return refused(error) ? Outcome::Refused : Outcome::Failed;
  }
  return Outcome::Failed;
}

// A replacement takes the old file's attributes and security descriptor
// from ReplaceFileW. A copy keeps what it was made with, the user's alone:
// no access the old file did not give, though others it gave lose theirs.
Outcome adopt(const FileOps&, const File&, const File&, bool) { return Outcome::Done; }

Outcome putOver(const FileOps& ops, Temporary& fresh) {
  const Name& name = fresh.at->name;
  const auto moved = [&](const Name& to, DWORD flags) {
    if (ops.moveFile(fresh.name.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH | flags) == 0)
      return false;
    fresh.name.clear();
    return true;
  };
  if (!fresh.at->exists)
    return moved(name, MOVEFILE_REPLACE_EXISTING) && fresh.file.close(ops) ? Outcome::Done
                                                                            : Outcome::Failed;
  if (!fresh.file.close(ops))
    return Outcome::Failed;
  if (ops.replaceFile(name.c_str(), fresh.name.c_str()) != 0) {
    fresh.name.clear();
    return Outcome::Done;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_UNABLE_TO_MOVE_REPLACEMENT)
    return refused(error) ? Outcome::Refused : Outcome::Failed;
  // The old file is gone already: the new one, moved to the name, is saved.
  if (moved(name, 0))
    return Outcome::Done;
  // Else its bytes stay under the first free copy name, which nothing
  // removes (as SmallFile.cpp names copies), or where they are, never
  // removed by this save.
  for (int number = 1; number <= 9 && !fresh.name.empty(); ++number)
    moved(withSuffix(name, number == 1 ? ".bak" : ".bak." + std::to_string(number)), 0);
  fresh.name.clear();
  return Outcome::Failed;
}

Outcome putBeside(const FileOps& ops, Temporary& fresh, const Name& name) {
  if (ops.moveFile(fresh.name.c_str(), name.c_str(), MOVEFILE_WRITE_THROUGH) == 0)
    return isTaken(*fresh.at, name) ? Outcome::Refused : Outcome::Failed;
  fresh.name.clear();
  return fresh.file.close(ops) ? Outcome::Done : Outcome::Failed;
}

// A file a running save holds open, or has marked, stays.
void removeUnheld(const Place& at, const std::function<bool(const Name&)>& isLeftover) {
  const Name folder = folderOf(at.name);
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE)
    return;
  do {
    const Name leftover = folder + found.cFileName;
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        !isLeftover(leftover))
      continue;
    const File mark(OpenMutexW(SYNCHRONIZE, FALSE, markOf(leftover).c_str()));
    if (mark.isOpen() || GetLastError() != ERROR_FILE_NOT_FOUND)
      continue;
    // Goes as this handle closes.
    const File removed(CreateFileW(leftover.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
  } while (FindNextFileW(search, &found) != 0);
  FindClose(search);
}

} // namespace files

} // namespace valdoria
