#pragma once

#include <signal.h>

namespace valdoria {

// Holds back, while it lives, every signal that ends the program by default
// and can be caught (Ctrl-C, SIGTERM, SIGHUP and the like): one that arrives
// meanwhile takes effect only once it is gone, so a save it guards is never
// cut off halfway. The faults the program itself may raise (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS) are never held back.
class DeferredSignals {
public:
  DeferredSignals();
  DeferredSignals(const DeferredSignals&) = delete;
  DeferredSignals& operator=(const DeferredSignals&) = delete;
  ~DeferredSignals();

private:
#if !defined(_WIN32)
  sigset_t previous{};
#endif
  bool deferring = false;
};

} // namespace valdoria
