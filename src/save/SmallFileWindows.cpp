#include "save/FileSystem.hpp"
#include "save/WindowsCalls.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>
#include <string>

namespace valdoria::files {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handle(const File& file) { return reinterpret_cast<HANDLE>(file.native()); }
// A mutex that is not there is no handle, nor -1: no file either.
File own(HANDLE handle) { return File(handle == nullptr ? -1 : reinterpret_cast<Native>(handle)); }

// Not allowed here, or no such thing on this file system: another way may be.
bool refused(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_PRIVILEGE_NOT_HELD ||
         error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_TOO_MANY_LINKS;
}

std::optional<std::wstring> finalPath(const File& file) {
  std::wstring path(32768, L'\0'); // the longest path Windows has
  const DWORD length = os.getFinalPathName(handle(file), path.data(),
                                           static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
  if (length == 0 || length >= path.size())
    return std::nullopt;
  path.resize(length);
  return path;
}

File openAttributes(const Name& path, DWORD flags = FILE_FLAG_BACKUP_SEMANTICS) {
  return own(os.createFile(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           flags, nullptr));
}

std::wstring folderOf(const Name& path) {
  return path.native().substr(0, path.native().find_last_of(L'\\') + 1);
}

// Held from before a temporary file exists until it is in place or gone:
// ReplaceFileW opens the file with no sharing, so it is closed first, and
// this keeps another game's clean-up off it meanwhile. Windows drops it as
// its maker ends, however that ends.
std::wstring markOf(const Name& temporary) {
  return L"Global\\valdoria-temporary-" +
         temporary.native().substr(temporary.native().size() - kTemporaryDigits);
}

// The owner's alone. Without ACLs (FAT) there is none to gain.
bool ownerOnly(const File& file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  alignas(ACL) std::array<char, sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE>
      list{};
  auto* acl = reinterpret_cast<ACL*>(list.data());
  DWORD error = os.getSecurityInfo(handle(file), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                   nullptr, nullptr, nullptr, &descriptor);
  if (error == ERROR_SUCCESS)
    error =
        InitializeAcl(acl, list.size(), ACL_REVISION) != 0 &&
                AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, owner) != 0
            ? os.setSecurityInfo(handle(file), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                 nullptr, nullptr, acl, nullptr)
            : ERROR_INVALID_ACL;
  LocalFree(descriptor);
  return error == ERROR_SUCCESS || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

bool seek(const File& file, std::int64_t offset) {
  LARGE_INTEGER position{};
  position.QuadPart = offset;
  return os.setFilePointer(handle(file), position, nullptr, FILE_BEGIN) != 0;
}

} // namespace

constinit WindowsCalls os;

bool closeNative(Native native) { return os.closeHandle(reinterpret_cast<HANDLE>(native)) != 0; }

// The whole path, its links followed; nothing where a folder on the way is
// missing.
std::optional<Place> locate(const std::string& path) {
  std::wstring wide(std::min<std::size_t>(path.size(), INT_MAX), L'\0');
  wide.resize(static_cast<std::size_t>(
      std::max(MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(wide.size()),
                                   wide.data(), static_cast<int>(wide.size())),
               0)));
  File file = openAttributes(wide);
  const bool missing = !file.isOpen() && GetLastError() == ERROR_FILE_NOT_FOUND;
  std::error_code unknown;
  if (missing && !isTaken({}, wide)) {
    const std::filesystem::path full = std::filesystem::absolute(wide, unknown);
    return unknown || wide.empty() ? std::nullopt : std::optional(Place{{}, full, false});
  }
  // Missing, yet the name is taken: a link that leads nowhere. Its target is
  // made through it, to learn where that is, and goes again as the handle
  // closes; the save makes it. Only an empty file goes (Wine reports one
  // there before): it holds nothing to lose.
  LARGE_INTEGER size{};
  FILE_DISPOSITION_INFO gone{TRUE};
  if (missing)
    file = own(os.createFile(wide.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                             OPEN_ALWAYS, 0, nullptr));
  const bool made =
      missing && file.isOpen() && os.getFileSize(handle(file), &size) != 0 && size.QuadPart == 0;
  const std::optional<std::wstring> final = file.isOpen() ? finalPath(file) : std::nullopt;
  if (!final ||
      (made && os.setFileInformation(handle(file), FileDispositionInfo, &gone, sizeof gone) == 0))
    return std::nullopt;
  return Place{{}, *final, !made};
}

bool sameDirectory(const Place& one, const Place& other) {
  return folderOf(one.name) == folderOf(other.name);
}

bool isTaken(const Place&, const Name& name) {
  WIN32_FIND_DATAW found{};
  const HANDLE search =
      os.findFirstFile(name.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE)
    return GetLastError() != ERROR_FILE_NOT_FOUND;
  os.findClose(search);
  return true;
}

// Never a read-only file, which Wine, as root, opens for writing; never a
// file that a link at the name leads to.
Outcome openRegular(const Place&, const Name& name, Access access, File& opened) {
  const DWORD rights = access == Access::Read    ? GENERIC_READ
                       : access == Access::Write ? GENERIC_WRITE
                                                 : GENERIC_READ | GENERIC_WRITE;
  opened = own(os.createFile(name.c_str(), rights, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!opened.isOpen())
    return GetLastError() == ERROR_ACCESS_DENIED ? Outcome::Refused : Outcome::Failed;
  BY_HANDLE_FILE_INFORMATION about{};
  const DWORD refusedKinds =
      FILE_ATTRIBUTE_DIRECTORY | (access == Access::Read ? 0 : FILE_ATTRIBUTE_READONLY);
  if (os.getFileType(handle(opened)) == FILE_TYPE_DISK &&
      os.getFileInformation(handle(opened), &about) != 0 &&
      (about.dwFileAttributes & refusedKinds) == 0 &&
      finalPath(opened).value_or(name.native()) == name.native())
    return Outcome::Done;
  opened = File();
  return Outcome::Failed;
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
  if (os.getFileInformation(handle(file), &about) == 0)
    return false;
  stamp = {about.dwVolumeSerialNumber, join(about.nFileIndexHigh, about.nFileIndexLow),
           static_cast<std::int64_t>(join(about.nFileSizeHigh, about.nFileSizeLow)),
           static_cast<std::int64_t>(
               join(about.ftLastWriteTime.dwHighDateTime, about.ftLastWriteTime.dwLowDateTime))};
  if (links != nullptr)
    *links = about.nNumberOfLinks;
  return true;
}

std::int64_t readSome(const File& file, std::int64_t offset, char* buffer, std::int64_t size) {
  DWORD read = 0;
  if (!seek(file, offset) ||
      os.readFile(handle(file), buffer, static_cast<DWORD>(std::min<std::int64_t>(size, MAXDWORD)),
                  &read, nullptr) == 0)
    return -1;
  return read;
}

std::int64_t writeSome(const File& file, std::int64_t offset, std::string_view bytes) {
  const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), MAXDWORD));
  DWORD written = 0;
  if (!seek(file, offset) ||
      os.writeFile(handle(file), bytes.data(), size, &written, nullptr) == 0 || written > size)
    return -1;
  return written;
}

std::int64_t nextData(const File&, std::int64_t offset) { return offset; }

bool flush(const File& file) { return os.flushFileBuffers(handle(file)) != 0; }

bool setLength(const File& file, std::int64_t length) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = length;
  return os.setFileInformation(handle(file), FileEndOfFileInfo, &end, sizeof end) != 0;
}

// Windows' moves are written through instead.
bool flushDirectory(const Place&) { return true; }

bool randomBytes(unsigned char* bytes, std::size_t count) {
  return BCRYPT_SUCCESS(
      os.genRandom(nullptr, bytes, static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

Temporary::~Temporary() {
  file = File(); // Windows removes no file while it is open
  if (at != nullptr && !name.empty())
    os.deleteFile(name.c_str());
}

// What the folder gives new files might reach bytes the old file gave
// nobody: one that is not to be shared is the owner's alone at once.
Outcome createNew(Temporary& made, bool shared) {
  made.mark = own(os.createMutex(nullptr, FALSE, markOf(made.name).c_str()));
  made.file = own(os.createFile(made.name.c_str(), GENERIC_READ | GENERIC_WRITE | WRITE_DAC,
                                FILE_SHARE_DELETE, nullptr, CREATE_NEW, 0, nullptr));
  if (made.file.isOpen())
    return shared || ownerOnly(made.file) ? Outcome::Done : Outcome::Failed;
  const DWORD error = GetLastError();
  made.name.clear();
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
    return Outcome::Taken;
  return refused(error) ? Outcome::Refused : Outcome::Failed;
}

// A replacement takes the old file's attributes and security descriptor
// from ReplaceFileW. A copy keeps what it was made with, the owner's alone:
// no access the old file did not give, though others it gave lose theirs.
Outcome adopt(const File&, const File&) { return Outcome::Done; }

bool makePrivate(const File& to, const File&) { return ownerOnly(to); }

Outcome putOver(Temporary& fresh) {
  const Name& name = fresh.at->name;
  if (!fresh.at->exists) {
    if (os.moveFile(fresh.name.c_str(), name.c_str(),
                    MOVEFILE_WRITE_THROUGH | MOVEFILE_REPLACE_EXISTING) == 0)
      return Outcome::Failed;
    fresh.name.clear();
    return fresh.file.close() ? Outcome::Done : Outcome::Failed;
  }
  if (!fresh.file.close())
    return Outcome::Failed;
  if (os.replaceFile(name.c_str(), fresh.name.c_str(), nullptr, 0, nullptr, nullptr) != 0) {
    fresh.name.clear();
    return Outcome::Done;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT)
    return Outcome::Stranded;
  return refused(error) ? Outcome::Refused : Outcome::Failed;
}

Outcome putBeside(Temporary& fresh, const Name& name) {
  if (os.moveFile(fresh.name.c_str(), name.c_str(), MOVEFILE_WRITE_THROUGH) == 0)
    return isTaken(*fresh.at, name) ? Outcome::Refused : Outcome::Failed;
  fresh.name.clear();
  return fresh.file.close() ? Outcome::Done : Outcome::Failed;
}

Outcome linkAs(const Place&, const Name& from, const Name& to) {
  if (os.createHardLink(to.c_str(), from.c_str(), nullptr) != 0)
    return Outcome::Done;
  return refused(GetLastError()) ? Outcome::Refused : Outcome::Failed;
}

// Renamed first: Windows keeps a removed name while the file is open; a
// leftover's name is cleared away if this save is killed meanwhile.
bool removeName(const Place& at, const Name& name) {
  const Name away = temporaryName(at);
  return !away.empty() && os.moveFile(name.c_str(), away.c_str(), 0) != 0 &&
         os.deleteFile(away.c_str()) != 0;
}

// A file a running save holds open, or has marked, stays.
void removeUnheld(const Place& at, const std::function<bool(const Name&)>& isLeftover) {
  const std::wstring folder = folderOf(at.name);
  WIN32_FIND_DATAW found{};
  const HANDLE search = os.findFirstFile((folder + L"*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
  for (bool more = search != INVALID_HANDLE_VALUE; more;
       more = os.findNextFile(search, &found) != 0) {
    const Name leftover = folder + found.cFileName;
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        !isLeftover(leftover) ||
        own(os.openMutex(SYNCHRONIZE, FALSE, markOf(leftover).c_str())).isOpen() ||
        GetLastError() != ERROR_FILE_NOT_FOUND)
      continue;
    // Goes as this handle closes.
    const File removed(
        own(os.createFile(leftover.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
  }
  if (search != INVALID_HANDLE_VALUE)
    os.findClose(search);
}

} // namespace valdoria::files
