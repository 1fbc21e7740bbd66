#include "save/FileSystem.hpp"

// <aclapi.h> and <bcrypt.h> need the types of <windows.h>.
#include <windows.h>

#include <aclapi.h>
#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>
#include <utility>
#include <vector>

namespace valdoria {

namespace {

using files::File;
using files::Name;
using files::Outcome;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

const FileOps kSystemOps{
    [](const wchar_t* path, unsigned long access, unsigned long sharing, unsigned long disposition,
       unsigned long flags) -> void* {
      return CreateFileW(path, access, sharing, nullptr, disposition, flags, nullptr);
    },
    [](void* file, const void* data, unsigned long size, unsigned long* written) -> int {
      return WriteFile(file, data, size, written, nullptr);
    },
    FlushFileBuffers,
    [](void* file, std::int64_t length) -> int {
      FILE_END_OF_FILE_INFO end{};
      end.EndOfFile.QuadPart = length;
      return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end);
    },
    CloseHandle,
    // Keeps the replaced file's attributes, security descriptor and streams.
    [](const wchar_t* replaced, const wchar_t* replacement) -> int {
      return ReplaceFileW(replaced, replacement, nullptr, 0, nullptr, nullptr);
    },
    MoveFileExW,
    [](const wchar_t* link, const wchar_t* target) -> int {
      return CreateHardLinkW(link, target, nullptr);
    },
};
const FileCalls kSystemCalls{kSystemOps, kSystemOps, kSystemOps, kSystemOps};

// Not allowed here, or no such thing on this file system: another way may be.
bool refused(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_PRIVILEGE_NOT_HELD ||
         error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_TOO_MANY_LINKS;
}

std::optional<Name> finalPath(const File& file) {
  Name path(32768, L'\0'); // the longest path Windows has
  const DWORD length = GetFinalPathNameByHandleW(
      file.native(), path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
  if (length == 0 || length >= path.size())
    return std::nullopt;
  path.resize(length);
  return path;
}

File openAttributes(const Name& path, DWORD flags = FILE_FLAG_BACKUP_SEMANTICS) {
  return File(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                          flags, nullptr));
}

Name folderOf(const Name& path) { return path.substr(0, path.find_last_of(L'\\') + 1); }

// NAME.tmp- and random hex digits; empty where no random digits come.
Name temporaryName(const files::Place& at) {
  std::array<unsigned char, files::kTemporaryDigits / 2> random{};
  Name name = files::withSuffix(at.name, files::kTemporaryMarker);
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random.data(), static_cast<ULONG>(random.size()),
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    return {};
  for (const unsigned char byte : random)
    name += {L"0123456789abcdef"[byte >> 4U], L"0123456789abcdef"[byte & 15U]};
  return name;
}

// Held from before a temporary file exists until it is in place or gone:
// ReplaceFileW opens the file with no sharing, so it is closed first, and
// this keeps another game's clean-up off it meanwhile. Windows drops it as
// its maker ends, however that ends.
Name markOf(const Name& temporary) {
  return L"Global\\valdoria-temporary-" +
         temporary.substr(temporary.size() - files::kTemporaryDigits);
}

// The owner's alone: what the folder gives new files might reach bytes the
// old file gave nobody. Without ACLs (FAT) there is none to gain.
bool makePrivate(const File& file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  alignas(ACL) std::array<char, sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE>
      list{};
  auto* acl = reinterpret_cast<ACL*>(list.data());
  DWORD error = GetSecurityInfo(file.native(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                nullptr, nullptr, nullptr, &descriptor);
  if (error == ERROR_SUCCESS)
    error = InitializeAcl(acl, list.size(), ACL_REVISION) != 0 &&
                    AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, owner) != 0
                ? SetSecurityInfo(file.native(), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, acl, nullptr)
                : ERROR_INVALID_ACL;
  LocalFree(descriptor);
  return error == ERROR_SUCCESS || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

} // namespace

const FileCalls& systemFileCalls() { return kSystemCalls; }

namespace files {

const Native File::kClosed = INVALID_HANDLE_VALUE;
File::File(Native native) : handle(native == nullptr ? kClosed : native) {}
File::~File() {
  if (isOpen())
    CloseHandle(handle);
}
bool File::isOpen() const { return handle != kClosed; }
bool File::close(const FileOps& ops) {
  return ops.closeHandle(std::exchange(handle, kClosed)) != 0;
}

// The whole path, its links followed; nothing where a folder on the way is
// missing.
std::optional<Place> locate(const std::string& path) {
  Name wide(std::min<std::size_t>(path.size(), INT_MAX), L'\0');
  wide.resize(static_cast<std::size_t>(
      std::max(MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(wide.size()),
                                   wide.data(), static_cast<int>(wide.size())),
               0)));
  File file = openAttributes(wide);
  const bool missing = !file.isOpen() && GetLastError() == ERROR_FILE_NOT_FOUND;
  std::error_code unknown;
  if (missing && !isTaken({}, wide)) {
    const std::filesystem::path full = std::filesystem::absolute(wide, unknown);
    return unknown || wide.empty() ? std::nullopt : std::optional(Place{{}, full.wstring(), false});
  }
  // Missing, yet the name is taken: a link that leads nowhere. Its target is
  // made through it, to learn where that is, and goes again as the handle
  // closes; the save makes it. Only an empty file goes (Wine reports one
  // there before): it holds nothing to lose.
  LARGE_INTEGER size{};
  FILE_DISPOSITION_INFO gone{TRUE};
  if (missing)
    file = File(CreateFileW(wide.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                            OPEN_ALWAYS, 0, nullptr));
  const bool made =
      missing && file.isOpen() && GetFileSizeEx(file.native(), &size) != 0 && size.QuadPart == 0;
  const std::optional<Name> final = file.isOpen() ? finalPath(file) : std::nullopt;
  if (!final || (made && SetFileInformationByHandle(file.native(), FileDispositionInfo, &gone,
                                                    sizeof gone) == 0))
    return std::nullopt;
  return Place{{}, *final, !made};
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
// file that a link at the name leads to.
File openRegular(const FileOps& ops, const Place&, const Name& name, bool writing) {
  const auto open = [&](DWORD access) {
    return File(ops.createFile(name.c_str(), access, kShareAll, OPEN_EXISTING, 0));
  };
  File file = open(writing ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ);
  if (writing && !file.isOpen() && GetLastError() == ERROR_ACCESS_DENIED)
    file = open(GENERIC_WRITE);
  BY_HANDLE_FILE_INFORMATION about{};
  const DWORD refusedKinds = FILE_ATTRIBUTE_DIRECTORY | (writing ? FILE_ATTRIBUTE_READONLY : 0);
  if (!file.isOpen() || GetFileType(file.native()) != FILE_TYPE_DISK ||
      GetFileInformationByHandle(file.native(), &about) == 0 ||
      (about.dwFileAttributes & refusedKinds) != 0 || finalPath(file).value_or(name) != name)
    return {};
  return file;
}

bool leadsTo(const Place&, const Name& name, const File& file) {
  FileStamp mine;
  FileStamp theirs;
  const File there = openAttributes(name, FILE_FLAG_OPEN_REPARSE_POINT);
  return there.isOpen() && stampOf(there, mine) && stampOf(file, theirs) &&
         mine.device == theirs.device && mine.index == theirs.index;
}

bool stampOf(const File& file, FileStamp& stamp, std::uint64_t* links) {
  BY_HANDLE_FILE_INFORMATION about{};
  const auto join = [](DWORD high, DWORD low) { return (std::uint64_t{high} << 32U) | low; };
  if (GetFileInformationByHandle(file.native(), &about) == 0)
    return false;
  stamp = {about.dwVolumeSerialNumber, join(about.nFileIndexHigh, about.nFileIndexLow),
           static_cast<std::int64_t>(join(about.nFileSizeHigh, about.nFileSizeLow)),
           static_cast<std::int64_t>(
               join(about.ftLastWriteTime.dwHighDateTime, about.ftLastWriteTime.dwLowDateTime))};
  if (links != nullptr)
    *links = about.nNumberOfLinks;
  return true;
}

bool seek(const File& file, std::int64_t offset) {
  LARGE_INTEGER position{};
  position.QuadPart = offset;
  return SetFilePointerEx(file.native(), position, nullptr, FILE_BEGIN) != 0;
}

std::int64_t readAt(const File& file, std::int64_t offset, char* buffer, std::int64_t size) {
  std::int64_t count = 0;
  for (DWORD read = 1; count < size && read > 0; count += read) {
    if ((count == 0 && !seek(file, offset)) ||
        ReadFile(file.native(), buffer + count,
                 static_cast<DWORD>(std::min<std::int64_t>(size - count, MAXDWORD)), &read,
                 nullptr) == 0)
      return -1;
  }
  return count;
}

bool writeAt(const FileOps& ops, const File& file, std::int64_t offset, std::string_view bytes) {
  for (DWORD written = 0; !bytes.empty(); bytes.remove_prefix(written)) {
    const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), MAXDWORD));
    if ((written == 0 && !seek(file, offset)) ||
        ops.writeFile(file.native(), bytes.data(), size, &written) == 0 || written == 0 ||
        written > size)
      return false;
  }
  return true;
}

bool flush(const FileOps& ops, const File& file) {
  return ops.flushFileBuffers(file.native()) != 0;
}

bool setLength(const FileOps& ops, const File& file, std::int64_t length) {
  return ops.setLength(file.native(), length) != 0;
}

bool copyAll(const FileOps& ops, const File& from, const File& to) {
  std::vector<char> buffer(65536);
  for (std::int64_t offset = 0;;) {
    const std::int64_t count =
        readAt(from, offset, buffer.data(), static_cast<std::int64_t>(buffer.size()));
    if (count <= 0 || !writeAt(ops, to, offset, {buffer.data(), static_cast<std::size_t>(count)}))
      return count == 0;
    offset += count;
  }
}

// Windows' moves are written through instead.
bool flushDirectory(const FileOps&, const Place&) { return true; }

Temporary::~Temporary() {
  file = File(); // Windows removes no file while it is open
  if (at != nullptr && !name.empty())
    DeleteFileW(name.c_str());
}

Outcome makeTemporary(const FileOps& ops, const Place& at, bool shared, Temporary& made) {
  made.at = &at;
  for (int attempt = 0; attempt < 8; ++attempt) {
    made.name = temporaryName(at);
    if (made.name.empty())
      return Outcome::Failed;
    made.mark = File(CreateMutexW(nullptr, FALSE, markOf(made.name).c_str()));
    made.file = File(ops.createFile(made.name.c_str(), GENERIC_READ | GENERIC_WRITE | WRITE_DAC,
                                    FILE_SHARE_DELETE, CREATE_NEW, 0));
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
// from ReplaceFileW. A copy keeps what it was made with, the owner's alone:
// no access the old file did not give, though others it gave lose theirs.
Outcome adopt(const FileOps&, const File&, const File&, bool) { return Outcome::Done; }

Outcome putOver(const FileOps& ops, Temporary& fresh) {
  const Name& name = fresh.at->name;
  const auto moved = [&](const Name& to, DWORD flags) {
    const bool done = ops.moveFile(fresh.name.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH | flags);
    fresh.name = done ? Name() : fresh.name;
    return done;
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
  // The old file is gone already: the new one, moved to the name, is saved;
  // else its bytes stay under the first free copy name, which nothing
  // removes, or failing that where they are, never removed by this save.
  if (moved(name, 0))
    return Outcome::Done;
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

Outcome linkAs(const FileOps& ops, const Place&, const Name& from, const Name& to) {
  if (ops.createHardLink(to.c_str(), from.c_str()) != 0)
    return Outcome::Done;
  return refused(GetLastError()) ? Outcome::Refused : Outcome::Failed;
}

// Renamed first: Windows keeps a removed name while the file is open; a
// leftover's name is cleared away if this save is killed meanwhile.
bool removeName(const Place& at, const Name& name) {
  const Name away = temporaryName(at);
  return !away.empty() && MoveFileExW(name.c_str(), away.c_str(), 0) != 0 &&
         DeleteFileW(away.c_str()) != 0;
}

// A file a running save holds open, or has marked, stays.
void removeUnheld(const Place& at, const std::function<bool(const Name&)>& isLeftover) {
  const Name folder = folderOf(at.name);
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
    const Name leftover = folder + found.cFileName;
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        !isLeftover(leftover) ||
        File(OpenMutexW(SYNCHRONIZE, FALSE, markOf(leftover).c_str())).isOpen() ||
        GetLastError() != ERROR_FILE_NOT_FOUND)
      continue;
    // Goes as this handle closes.
    const File removed(CreateFileW(leftover.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
  }
  if (search != INVALID_HANDLE_VALUE)
    FindClose(search);
}

} // namespace files

} // namespace valdoria
