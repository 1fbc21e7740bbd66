#include "save/SmallFile.hpp"

// <windows.h> first: <bcrypt.h> needs its types.
#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

namespace valdoria {

namespace {

using Path = std::wstring;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A temporary file is named after the file it replaces: "Varen.txt.tmp"
// followed by random hexadecimal digits, so that no one can foresee it.
constexpr std::wstring_view kTemporaryMark = L".tmp";
constexpr std::size_t kRandomDigits = 16;
constexpr int kNameAttempts = 8;
constexpr std::wstring_view kBackupMark = L".bak";

// Replacing is refused, rather than failing, where the folder or the file
// rules it out: the file is then written in place.
bool isRefusal(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_UNABLE_TO_REMOVE_REPLACED ||
         error == ERROR_SHARING_VIOLATION || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_PARAMETER;
}

struct HandleCloser {
  const FileCalls* calls;
  FileRole role;
  void operator()(void* handle) const { calls->closeHandle(role, handle); }
};

using Handle = std::unique_ptr<void, HandleCloser>;

Handle adopt(const FileCalls& calls, FileRole role, void* handle) {
  return Handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle, HandleCloser{&calls, role});
}

// Closes now, as a temporary file's close may fail and fail the save.
bool close(Handle& file) {
  const HandleCloser closer = file.get_deleter();
  return closer.calls->closeHandle(closer.role, file.release()) != 0;
}

std::optional<Path> widen(const std::string& name) {
  if (name.empty() || name.size() > INT_MAX) {
    return std::nullopt;
  }
  const int length = static_cast<int>(name.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, name.data(), length, nullptr, 0);
  if (size <= 0) {
    return std::nullopt;
  }
  Path wide(static_cast<std::size_t>(size), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, name.data(), length, wide.data(), size) != size) {
    return std::nullopt;
  }
  return wide;
}

std::optional<Path> fullPath(const Path& path) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) {
    return std::nullopt;
  }
  Path full(size, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) {
    return std::nullopt;
  }
  full.resize(length);
  return full;
}

// The file a handle reaches, links followed; else the name's own full path.
std::optional<Path> finalPath(HANDLE file, const Path& path) {
  const DWORD size = GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED);
  if (size > 0) {
    Path final(size, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(file, final.data(), size, FILE_NAME_NORMALIZED);
    if (length > 0 && length < size) {
      final.resize(length);
      return final;
    }
  }
  return fullPath(path);
}

bool isRegularFile(HANDLE file, bool& readOnly) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileType(file) != FILE_TYPE_DISK || GetFileInformationByHandle(file, &information) == 0 ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  readOnly = (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  return true;
}

std::optional<Path> randomDigits() {
  std::array<unsigned char, kRandomDigits / 2> random{};
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random.data(), static_cast<ULONG>(random.size()),
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return std::nullopt;
  }
  constexpr std::wstring_view kHex = L"0123456789abcdef";
  Path digits;
  for (const unsigned char byte : random) {
    digits.push_back(kHex[byte >> 4U]);
    digits.push_back(kHex[byte & 15U]);
  }
  return digits;
}

bool isTemporaryName(std::wstring_view name, std::wstring_view fileName) {
  const std::size_t prefix = fileName.size() + kTemporaryMark.size();
  if (name.size() != prefix + kRandomDigits || !name.starts_with(fileName) ||
      name.substr(fileName.size(), kTemporaryMark.size()) != kTemporaryMark) {
    return false;
  }
  return name.substr(prefix).find_first_not_of(L"0123456789abcdef") == std::wstring_view::npos;
}

// Removes the temporary files that saves cut off left beside `path`; one
// another process still has open is its save in progress, and stays.
void removeLeftovers(const FileCalls& calls, const Path& path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  const Path folder = separator == Path::npos ? Path() : path.substr(0, separator + 1);
  const Path fileName = separator == Path::npos ? path : path.substr(separator + 1);
  WIN32_FIND_DATAW found{};
  const Path pattern = path + Path(kTemporaryMark) + L"*";
  HANDLE search =
      FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    return;
  }
  std::vector<Path> leftovers;
  do {
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
        isTemporaryName(found.cFileName, fileName)) {
      leftovers.push_back(folder + found.cFileName);
    }
  } while (FindNextFileW(search, &found) != 0);
  FindClose(search);
  for (const Path& leftover : leftovers) {
    // Opened by no one else, it goes when this handle closes.
    adopt(calls, FileRole::Temporary,
          calls.createFile(FileRole::Temporary, leftover.c_str(), DELETE, 0, OPEN_EXISTING,
                           FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT));
  }
}

// A new file beside `path` that no other process may open while it is
// written; empty, with the last error set, when none could be made.
Handle createTemporary(const FileCalls& calls, const Path& path, Path& temporary) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::optional<Path> digits = randomDigits();
    if (!digits) {
      return adopt(calls, FileRole::Temporary, nullptr);
    }
    temporary = path + Path(kTemporaryMark) + *digits;
    Handle file = adopt(calls, FileRole::Temporary,
                        calls.createFile(FileRole::Temporary, temporary.c_str(), GENERIC_WRITE, 0,
                                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
    if (file || GetLastError() != ERROR_FILE_EXISTS) {
      return file;
    }
  }
  return adopt(calls, FileRole::Temporary, nullptr);
}

bool writeAll(const FileCalls& calls, FileRole role, HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), MAXDWORD));
    DWORD written = 0;
    if (calls.writeFile(role, file, bytes.data(), size, &written) == 0 || written == 0 ||
        written > size) {
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

// The temporary file's bytes, flushed to the disk and closed.
bool finishTemporary(const FileCalls& calls, Handle& file, std::string_view bytes) {
  return writeAll(calls, FileRole::Temporary, file.get(), bytes) &&
         calls.flushFileBuffers(FileRole::Temporary, file.get()) != 0 && close(file);
}

std::optional<std::string> readAll(HANDLE file) {
  std::string bytes;
  std::array<char, 4096> buffer{};
  while (true) {
    DWORD read = 0;
    if (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) == 0) {
      return std::nullopt;
    }
    if (read == 0) {
      return bytes;
    }
    bytes.append(buffer.data(), read);
  }
}

bool replaceAt(const FileCalls& calls, const Path& path, std::string_view bytes, OldBytes old,
               FileRole role);

// NAME.bak as a second name of the old file: ReplaceFileW gives the save
// file's name to the new one and leaves the old one as it was.
bool keepByLink(const FileCalls& calls, const Path& path) {
  const Path backup = path + Path(kBackupMark);
  const std::optional<Path> digits = randomDigits();
  if (!digits) {
    return false;
  }
  removeLeftovers(calls, backup);
  const Path link = backup + Path(kTemporaryMark) + *digits;
  if (calls.createHardLink(FileRole::Backup, link.c_str(), path.c_str()) == 0) {
    return false;
  }
  if (calls.moveFile(FileRole::Backup, link.c_str(), backup.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
    return true;
  }
  calls.deleteFile(FileRole::Backup, link.c_str());
  return false;
}

// NAME.bak as a copy of the old bytes, saved as safely as the file itself.
bool keepByCopy(const FileCalls& calls, const Path& path, const std::string& oldBytes) {
  return replaceAt(calls, path + Path(kBackupMark), oldBytes, OldBytes::Dropped, FileRole::Backup);
}

// Where the file cannot be replaced: the new bytes over the old ones, flushed,
// and only then the file cut to their length. It never stands empty, and a
// shorter record followed by old bytes still loads as the new one.
bool writeInPlace(const FileCalls& calls, const Path& path, std::string_view bytes,
                  const std::optional<std::string>& oldBytes, FileRole role) {
  if (oldBytes && !keepByCopy(calls, path, *oldBytes)) {
    return false;
  }
  Handle file = adopt(calls, role,
                      calls.createFile(role, path.c_str(), GENERIC_WRITE, kShareAll, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL));
  return file && writeAll(calls, role, file.get(), bytes) &&
         calls.flushFileBuffers(role, file.get()) != 0 &&
         calls.setLength(role, file.get(), static_cast<std::int64_t>(bytes.size())) != 0 &&
         calls.flushFileBuffers(role, file.get()) != 0 && close(file);
}

// No file at the name yet: a temporary file moved into place, written
// through to the disk.
bool createAt(const FileCalls& calls, const Path& path, std::string_view bytes) {
  const std::optional<Path> full = fullPath(path);
  if (!full) {
    return false;
  }
  removeLeftovers(calls, *full);
  Path temporary;
  Handle file = createTemporary(calls, *full, temporary);
  if (!file) {
    return false;
  }
  if (finishTemporary(calls, file, bytes) &&
      calls.moveFile(FileRole::Temporary, temporary.c_str(), full->c_str(),
                     MOVEFILE_WRITE_THROUGH) != 0) {
    return true;
  }
  file.reset();
  calls.deleteFile(FileRole::Temporary, temporary.c_str());
  return false;
}

bool replaceAt(const FileCalls& calls, const Path& path, std::string_view bytes, OldBytes old,
               FileRole role) {
  Handle existing = adopt(calls, role,
                          calls.createFile(role, path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                           kShareAll, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  if (!existing) {
    // Only where nothing at all bears the name, not even a broken link.
    return GetLastError() == ERROR_FILE_NOT_FOUND &&
           GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
           createAt(calls, path, bytes);
  }
  bool readOnly = false;
  if (!isRegularFile(existing.get(), readOnly) || readOnly) {
    return false;
  }
  const std::optional<Path> target = finalPath(existing.get(), path);
  std::optional<std::string> oldBytes;
  if (old == OldBytes::Kept) {
    oldBytes = readAll(existing.get());
    if (!oldBytes) {
      return false;
    }
  }
  // ReplaceFileW opens the file itself.
  existing.reset();
  if (!target) {
    return false;
  }

  removeLeftovers(calls, *target);
  Path temporary;
  Handle file = createTemporary(calls, *target, temporary);
  if (!file) {
    // A folder that takes no new file, as a shared one may be.
    return GetLastError() == ERROR_ACCESS_DENIED &&
           writeInPlace(calls, *target, bytes, oldBytes, role);
  }
  const bool linked = oldBytes && keepByLink(calls, *target);
  if (!finishTemporary(calls, file, bytes) ||
      (oldBytes && !linked && !keepByCopy(calls, *target, *oldBytes))) {
    file.reset();
    calls.deleteFile(FileRole::Temporary, temporary.c_str());
    return false;
  }
  if (calls.replaceFile(role, target->c_str(), temporary.c_str()) != 0) {
    return true;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
    // The old file is gone already: the new one takes its place, if it can.
    calls.moveFile(FileRole::Temporary, temporary.c_str(), target->c_str(), MOVEFILE_WRITE_THROUGH);
    return false;
  }
  calls.deleteFile(FileRole::Temporary, temporary.c_str());
  if (!isRefusal(error)) {
    return false;
  }
  if (linked) {
    // Written in place, the linked file would change under NAME.bak too.
    calls.deleteFile(FileRole::Backup, (*target + Path(kBackupMark)).c_str());
  }
  return writeInPlace(calls, *target, bytes, oldBytes, role);
}

const FileCalls kSystemCalls{
    [](FileRole, const wchar_t* path, unsigned long access, unsigned long sharing,
       unsigned long disposition, unsigned long flags) -> void* {
      return CreateFileW(path, access, sharing, nullptr, disposition, flags, nullptr);
    },
    [](FileRole, void* file, const void* data, unsigned long size, unsigned long* written) {
      return static_cast<int>(WriteFile(file, data, size, written, nullptr));
    },
    [](FileRole, void* file) { return static_cast<int>(FlushFileBuffers(file)); },
    [](FileRole, void* file, std::int64_t length) {
      FILE_END_OF_FILE_INFO end{};
      end.EndOfFile.QuadPart = length;
      return static_cast<int>(
          SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end));
    },
    [](FileRole, void* file) { return static_cast<int>(CloseHandle(file)); },
    [](FileRole, const wchar_t* replaced, const wchar_t* replacement) {
      return static_cast<int>(ReplaceFileW(replaced, replacement, nullptr, 0, nullptr, nullptr));
    },
    [](FileRole, const wchar_t* from, const wchar_t* to, unsigned long flags) {
      return static_cast<int>(MoveFileExW(from, to, flags));
    },
    [](FileRole, const wchar_t* link, const wchar_t* target) {
      return static_cast<int>(CreateHardLinkW(link, target, nullptr));
    },
    [](FileRole, const wchar_t* path) { return static_cast<int>(DeleteFileW(path)); },
};

// The file's bytes for a parse that reads only as far as it needs.
class HandleReadBuffer : public std::streambuf {
public:
  explicit HandleReadBuffer(HANDLE file) : file(file) {}

protected:
  int_type underflow() override {
    DWORD read = 0;
    if (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) == 0 ||
        read == 0) {
      return traits_type::eof();
    }
    setg(buffer.data(), buffer.data(), buffer.data() + read);
    return traits_type::to_int_type(buffer.front());
  }

private:
  HANDLE file;
  std::array<char, 4096> buffer{};
};

} // namespace

const FileCalls& systemFileCalls() { return kSystemCalls; }

bool readSmallFile(const std::string& name, const std::function<bool(std::istream&)>& parse) {
  const std::optional<Path> path = widen(name);
  if (!path) {
    return false;
  }
  const Handle file = adopt(kSystemCalls, FileRole::SaveFile,
                            CreateFileW(path->c_str(), GENERIC_READ, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  bool readOnly = false;
  if (!file || !isRegularFile(file.get(), readOnly)) {
    return false;
  }
  HandleReadBuffer buffer(file.get());
  std::istream input(&buffer);
  return parse(input);
}

bool replaceSmallFile(const std::string& name, std::string_view bytes, OldBytes old,
                      const FileCalls& calls) {
  const std::optional<Path> path = widen(name);
  return path && replaceAt(calls, *path, bytes, old, FileRole::SaveFile);
}

// Two games in one folder: a mutex named after the folder (its volume and
// its number there, however it is reached), which every user's game in every
// session finds. Loads take it too; they are over in a moment.
PartyLock::PartyLock(Mode /*mode*/) {
  HANDLE folder = CreateFileW(L".", FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) {
    return;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  const bool known = GetFileInformationByHandle(folder, &information) != 0;
  CloseHandle(folder);
  if (!known) {
    return;
  }
  const std::wstring name = L"Global\\valdoria-party-" +
                            std::to_wstring(information.dwVolumeSerialNumber) + L"-" +
                            std::to_wstring(information.nFileIndexHigh) + L"-" +
                            std::to_wstring(information.nFileIndexLow);
  // A mutex another user made may be closed to this one: then no lock.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) {
    return;
  }
  const DWORD waited = WaitForSingleObject(mutex, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return;
  }
  handle = mutex;
}

PartyLock::~PartyLock() {
  if (handle != nullptr) {
    ReleaseMutex(handle);
    CloseHandle(handle);
  }
}

} // namespace valdoria
