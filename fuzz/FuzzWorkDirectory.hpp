#pragma once

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace valdoria::fuzzing {

namespace detail {

// A plain buffer, so it outlives every static object for the removal at exit.
inline char directoryName[4096];

inline void removeWorkDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(directoryName, ignored);
}

} // namespace detail

// One private, empty working directory for the whole fuzzing process, so the
// save files of one input never meet the next. A memory-backed one if the
// machine has it: every won battle flushes three files to disk.
inline std::filesystem::path workDirectory() {
  static const bool created = [] {
    std::error_code error;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, error) || ::access(base.c_str(), W_OK) != 0) {
      base = std::filesystem::temp_directory_path();
    }
    const std::string pattern = (base / "valdoria-fuzz-XXXXXX").string();
    if (pattern.size() >= sizeof detail::directoryName) {
      std::abort();
    }
    std::strcpy(detail::directoryName, pattern.c_str());
    if (::mkdtemp(detail::directoryName) == nullptr) {
      std::abort();
    }
    std::atexit(detail::removeWorkDirectory);
    std::filesystem::current_path(detail::directoryName);
    return true;
  }();
  static_cast<void>(created);
  return detail::directoryName;
}

// Empties the working directory, leaving the process inside it.
inline void clearWorkDirectory() {
  for (const auto& entry : std::filesystem::directory_iterator(workDirectory())) {
    std::filesystem::remove_all(entry.path());
  }
}

} // namespace valdoria::fuzzing
