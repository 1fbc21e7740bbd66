#include "save/DeferredSignals.hpp"

#include <initializer_list>

#include <pthread.h>

namespace valdoria {

DeferredSignals::DeferredSignals() {
  sigset_t deferred{};
  sigemptyset(&deferred);
  for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGPIPE,
                           SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSTKFLT}) {
    sigaddset(&deferred, signal);
  }
  // The real-time signals end the program too unless it handles them.
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
    sigaddset(&deferred, signal);
  }
  deferring = ::pthread_sigmask(SIG_BLOCK, &deferred, &previous) == 0;
}

DeferredSignals::~DeferredSignals() {
  if (deferring) {
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
}

} // namespace valdoria
