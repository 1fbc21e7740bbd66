#include "save/DescriptorReadBuffer.hpp"

#include <cerrno>

#include <unistd.h>

namespace valdoria {

DescriptorReadBuffer::DescriptorReadBuffer(int descriptor) : descriptor(descriptor) {}

DescriptorReadBuffer::int_type DescriptorReadBuffer::underflow() {
  if (gptr() < egptr()) {
    return traits_type::to_int_type(*gptr());
  }
  ssize_t count = 0;
  do {
    count = ::read(descriptor, buffer.data(), buffer.size());
  } while (count < 0 && errno == EINTR);
  if (count <= 0) {
    return traits_type::eof();
  }
  setg(buffer.data(), buffer.data(), buffer.data() + count);
  return traits_type::to_int_type(buffer.front());
}

} // namespace valdoria
