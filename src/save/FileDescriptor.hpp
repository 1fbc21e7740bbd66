#pragma once

namespace valdoria {

// Owns one open file descriptor and closes it when it goes.
class FileDescriptor {
public:
  FileDescriptor() = default;
  explicit FileDescriptor(int descriptor) : descriptor(descriptor) {}
  FileDescriptor(FileDescriptor&& other) noexcept;
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();

  int get() const { return descriptor; }
  bool isOpen() const { return descriptor >= 0; }

  // Closes now; false when the close reports an error, which for a written
  // file can mean its data never reached the disk.
  bool close();

private:
  int descriptor = -1;
};

} // namespace valdoria
