#pragma once

#include <cstdint>

namespace valdoria {

// A file as the game saw it: while it is the same file, with the same size
// and time of its last write, nobody has changed it since.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  std::int64_t size = 0;
  std::int64_t written = 0;
  bool operator==(const FileStamp&) const = default;
};

} // namespace valdoria
