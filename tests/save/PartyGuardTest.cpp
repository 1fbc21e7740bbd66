#include "save/PartyGuard.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

namespace valdoria {
namespace {

volatile std::sig_atomic_t deliveries = 0;

std::vector<int> blockedAmong(const std::vector<int>& signals) {
  sigset_t mask{};
  ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  std::vector<int> blocked;
  for (const int signal : signals) {
    if (sigismember(&mask, signal) == 1) {
      blocked.push_back(signal);
    }
  }
  return blocked;
}

// Whether another open file description of the working directory can take
// the lock as `operation` says.
bool directoryLockFree(int operation) {
  const int directory = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool free = ::flock(directory, operation | LOCK_NB) == 0;
  ::close(directory);
  return free;
}

// While the party is written, a signal that would end the program is held
// back, then delivered; faults the program itself raises, and signals that
// do not end it, get through; a file-size limit is ignored, so the write
// that reaches it fails instead; and no other game may read or write.
// Readers only keep writers out.
TEST(PartyGuardTest, WritingHoldsBackEndingSignalsAndOtherGames) {
  const std::vector<int> ending = {SIGHUP,    SIGINT,   SIGQUIT,      SIGTERM, SIGALRM,
                                   SIGUSR1,   SIGUSR2,  SIGPIPE,      SIGXCPU, SIGPOLL,
                                   SIGVTALRM, SIGPROF,  SIGTSTP,      SIGTTIN, SIGTTOU,
                                   SIGPWR,    SIGRTMIN, SIGRTMIN + 5, SIGRTMAX};
  const std::vector<int> passing = {SIGSEGV, SIGBUS,  SIGFPE,  SIGILL,   SIGTRAP, SIGABRT,
                                    SIGSYS,  SIGCHLD, SIGCONT, SIGWINCH, SIGURG,  SIGXFSZ};
  std::vector<int> all = ending;
  all.insert(all.end(), passing.begin(), passing.end());
  ASSERT_TRUE(blockedAmong(all).empty());

  const auto previous = std::signal(SIGUSR1, [](int) { deliveries = deliveries + 1; });
  deliveries = 0;
  {
    const PartyGuard guard(PartyGuard::Use::Writing);
    EXPECT_EQ(blockedAmong(all), ending);
    std::raise(SIGUSR1);
    EXPECT_EQ(deliveries, 0);
    EXPECT_EQ(std::signal(SIGXFSZ, SIG_IGN), SIG_IGN);
    EXPECT_FALSE(directoryLockFree(LOCK_SH));
  }
  EXPECT_EQ(deliveries, 1);
  EXPECT_TRUE(blockedAmong(all).empty());
  EXPECT_EQ(std::signal(SIGXFSZ, SIG_DFL), SIG_DFL);
  std::signal(SIGUSR1, previous);
  {
    const PartyGuard guard(PartyGuard::Use::Reading);
    EXPECT_TRUE(blockedAmong(all).empty());
    EXPECT_EQ(std::pair(directoryLockFree(LOCK_SH), directoryLockFree(LOCK_EX)),
              std::pair(true, false));
  }
  EXPECT_TRUE(directoryLockFree(LOCK_EX));
}

} // namespace
} // namespace valdoria
