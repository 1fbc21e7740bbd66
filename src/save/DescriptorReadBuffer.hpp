#pragma once

#include <array>
#include <streambuf>

namespace valdoria {

// Reads an open file descriptor through a stream, so that a save file opened
// with care is parsed exactly as any text stream parses numbers. A read
// error ends the input.
class DescriptorReadBuffer : public std::streambuf {
public:
  explicit DescriptorReadBuffer(int descriptor);

protected:
  int_type underflow() override;

private:
  int descriptor;
  std::array<char, 4096> buffer{};
};

} // namespace valdoria
