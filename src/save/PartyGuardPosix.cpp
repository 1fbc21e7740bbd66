#include "save/PartyGuard.hpp"

#include <chrono>
#include <thread>
#include <utility>

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

namespace valdoria {

struct PartyGuard::Held {
  int lock = -1;
  bool deferring = false;
  sigset_t previousMask{};
  struct sigaction previousFileSizeAction {};
};

PartyGuard::PartyGuard(Use use) : held(std::make_unique<Held>()) {
  constexpr std::chrono::milliseconds kPause{10};
  int& lock = held->lock = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int operation = (use == Use::Reading ? LOCK_SH : LOCK_EX) | LOCK_NB;
  for (auto tries = kPartyLockWait / kPause; lock >= 0 && ::flock(lock, operation) != 0; --tries) {
    if (tries == 0 || (errno != EWOULDBLOCK && errno != EINTR)) {
      ::close(std::exchange(lock, -1));
      break;
    }
    std::this_thread::sleep_for(kPause);
  }
  if (use == Use::Reading)
    return;
  // Ignored, not held back: held, it would end the program as the guard goes.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &held->previousFileSizeAction);
  // Stopped (Ctrl-Z) halfway, the game would keep the lock from others.
  sigset_t deferred{};
  sigemptyset(&deferred);
  for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGPIPE,
                           SIGXCPU, SIGVTALRM, SIGPROF, SIGTSTP, SIGTTIN, SIGTTOU})
    sigaddset(&deferred, signal);
#if defined(__linux__)
  for (const int signal : {SIGPOLL, SIGPWR, SIGSTKFLT})
    sigaddset(&deferred, signal);
  // The real-time signals end the program too unless it handles them.
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
    sigaddset(&deferred, signal);
#endif
  ::pthread_sigmask(SIG_BLOCK, &deferred, &held->previousMask);
  held->deferring = true;
}

PartyGuard::~PartyGuard() {
  if (held->deferring) {
    ::pthread_sigmask(SIG_SETMASK, &held->previousMask, nullptr);
    ::sigaction(SIGXFSZ, &held->previousFileSizeAction, nullptr);
  }
  if (held->lock >= 0)
    ::close(held->lock);
}

// The files are on the disk already, flushed.
PartyGuard::Stored PartyGuard::commit() { return Stored::Yes; }

} // namespace valdoria
