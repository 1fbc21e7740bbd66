#pragma once

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace valdoria {

// Guards the party's files while they are read or written. It locks the
// working directory, shared for reading and exclusive for writing, so that
// two games in one directory never mix two battles' heroes; where the file
// system refuses the lock, or another process holds it for seconds, it goes
// on without. While writing, every signal that ends the program by default
// and can be caught (Ctrl-C, SIGTERM, SIGHUP and the like) is held back and
// takes effect once the guard is gone, and a file-size limit is ignored, so
// the write fails instead. Faults the program itself raises always get
// through.
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
  bool deferring = false;
#else
  int lock = -1;
  bool deferring = false;
  sigset_t previousMask{};
  struct sigaction previousFileSizeAction {};
#endif
};

} // namespace valdoria
