#include "save/FileDescriptor.hpp"

#include "save/FileCalls.hpp"

#include <utility>

namespace valdoria {

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept
    : descriptor(std::exchange(other.descriptor, -1)) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    close();
    descriptor = std::exchange(other.descriptor, -1);
  }
  return *this;
}

FileDescriptor::~FileDescriptor() { close(); }

bool FileDescriptor::close() {
  if (descriptor < 0) {
    return true;
  }
  // Never retried: the descriptor is gone after the first close, whatever it reports.
  return fileCalls().close(std::exchange(descriptor, -1)) == 0;
}

} // namespace valdoria
