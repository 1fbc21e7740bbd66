#include "save/PartyGuard.hpp"

#include <cerrno>
#include <chrono>
#include <initializer_list>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

namespace valdoria {

PartyGuard::PartyGuard(Use use) : lock(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  // Another game's save takes milliseconds; a lock held for seconds is no
  // game's, and is not waited for.
  const int operation = (use == Use::Reading ? LOCK_SH : LOCK_EX) | LOCK_NB;
  for (int tries = 300; lock >= 0 && ::flock(lock, operation) != 0; --tries) {
    if (tries == 0 || (errno != EWOULDBLOCK && errno != EINTR)) {
      ::close(std::exchange(lock, -1));
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (use == Use::Reading)
    return;
  // Ignored, not held back: held, it would end the program as the guard goes.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &previousFileSizeAction);
  sigset_t deferred{};
  sigemptyset(&deferred);
  for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGPIPE,
                           SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSTKFLT})
    sigaddset(&deferred, signal);
  // The real-time signals end the program too unless it handles them.
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
    sigaddset(&deferred, signal);
  ::pthread_sigmask(SIG_BLOCK, &deferred, &previousMask);
  deferring = true;
}

PartyGuard::~PartyGuard() {
  if (deferring) {
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::sigaction(SIGXFSZ, &previousFileSizeAction, nullptr);
  }
  if (lock >= 0)
    ::close(lock);
}

} // namespace valdoria
