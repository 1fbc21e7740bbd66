#include "save/TemporaryFile.hpp"

#include "save/FileCalls.hpp"

#include <cerrno>
#include <charconv>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace valdoria {

namespace {

constexpr int kMaxNameTries = 100;
constexpr std::string_view kMarker = ".tmp";

std::string temporaryName(const std::string& saveFileName, pid_t process, int attempt) {
  return saveFileName + std::string(kMarker) + std::to_string(process) + "-" +
         std::to_string(attempt);
}

// The process a temporary file of `saveFileName` was made by, if `name` is one.
std::optional<pid_t> writerOf(std::string_view name, std::string_view saveFileName) {
  if (!name.starts_with(saveFileName) || !name.substr(saveFileName.size()).starts_with(kMarker)) {
    return std::nullopt;
  }
  name.remove_prefix(saveFileName.size() + kMarker.size());
  if (name.starts_with('0')) {
    return std::nullopt; // never written with a leading zero
  }
  long long process = 0;
  const auto [dash, error] = std::from_chars(name.data(), name.data() + name.size(), process);
  const std::string_view attempt = name.substr(static_cast<std::size_t>(dash - name.data()));
  if (error != std::errc{} || process <= 0 || process > std::numeric_limits<pid_t>::max() ||
      attempt.size() < 2 || attempt.front() != '-' ||
      attempt.find_first_not_of("0123456789", 1) != std::string_view::npos) {
    return std::nullopt;
  }
  return static_cast<pid_t>(process);
}

// This process never leaves a temporary file behind while it runs, so one
// with its own id was left by an earlier process that had the same id.
bool isRunning(pid_t process) {
  return process != ::getpid() && (::kill(process, 0) == 0 || errno != ESRCH);
}

} // namespace

TemporaryFile::TemporaryFile(int directory, const std::string& saveFileName, mode_t mode)
    : directory(directory) {
  for (int attempt = 0; attempt < kMaxNameTries; ++attempt) {
    name = temporaryName(saveFileName, ::getpid(), attempt);
    descriptor = FileDescriptor(fileCalls().openAt(
        directory, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (descriptor.isOpen()) {
      error = 0;
      return;
    }
    error = errno;
    if (error != EEXIST) {
      break;
    }
  }
  name.clear();
}

TemporaryFile::~TemporaryFile() {
  if (!name.empty()) {
    ::unlinkat(directory, name.c_str(), 0);
  }
}

int TemporaryFile::replace(const std::string& saveFileName) {
  if (fileCalls().renameAt(directory, name.c_str(), directory, saveFileName.c_str()) != 0) {
    return errno;
  }
  name.clear();
  return 0;
}

void removeAbandonedTemporaryFiles(int directory, const std::string& saveFileName) {
  const int listingDescriptor = ::fcntl(directory, F_DUPFD_CLOEXEC, 0);
  if (listingDescriptor < 0) {
    return;
  }
  const std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(listingDescriptor), ::closedir);
  if (!listing) {
    ::close(listingDescriptor);
    return;
  }
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::optional<pid_t> writer = writerOf(entry->d_name, saveFileName);
    if (writer && !isRunning(*writer)) {
      ::unlinkat(directory, entry->d_name, 0);
    }
  }
}

} // namespace valdoria
