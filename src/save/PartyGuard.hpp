#pragma once

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace valdoria {

// Guards the party's files while they are read or written: the working
// directory is locked (shared to read, exclusive to write), so that two
// games there never mix two battles' heroes; a lock the file system refuses,
// or another process holds for seconds, is done without. While writing,
// every signal that ends the program and can be caught (Ctrl-C, SIGTERM,
// SIGHUP...) waits until the guard is gone, and a file-size limit is
// ignored, so that the write fails instead.
class PartyGuard {
public:
  enum class Use { Reading, Writing };

  explicit PartyGuard(Use use);
  PartyGuard(const PartyGuard&) = delete;
  PartyGuard& operator=(const PartyGuard&) = delete;
  ~PartyGuard();

private:
#if defined(_WIN32)
  void* lock = nullptr;
#else
  int lock = -1;
  sigset_t previousMask{};
  struct sigaction previousFileSizeAction {};
#endif
  bool deferring = false;
};

} // namespace valdoria
