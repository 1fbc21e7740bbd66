#include "save/DeferredSignals.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include <pthread.h>

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

// A signal that would end the program is held back until the outermost
// guard ends, then delivered; faults the program itself raises, and signals
// that do not end it, always get through.
TEST(DeferredSignalsTest, EndingSignalsWaitForTheGuardToEnd) {
  const std::vector<int> ending = {SIGHUP,  SIGINT,  SIGQUIT,  SIGTERM,      SIGALRM, SIGUSR1,
                                   SIGUSR2, SIGPIPE, SIGXCPU,  SIGXFSZ,      SIGPOLL, SIGVTALRM,
                                   SIGPROF, SIGPWR,  SIGRTMIN, SIGRTMIN + 5, SIGRTMAX};
  const std::vector<int> passing = {SIGSEGV, SIGBUS,  SIGFPE,  SIGILL,  SIGTRAP,  SIGABRT,
                                    SIGSYS,  SIGCHLD, SIGCONT, SIGTSTP, SIGWINCH, SIGURG};
  std::vector<int> all = ending;
  all.insert(all.end(), passing.begin(), passing.end());
  ASSERT_TRUE(blockedAmong(all).empty());

  const auto previous = std::signal(SIGUSR1, [](int) { deliveries = deliveries + 1; });
  deliveries = 0;
  {
    const DeferredSignals outer;
    {
      const DeferredSignals inner;
      EXPECT_EQ(blockedAmong(all), ending);
      std::raise(SIGUSR1);
      EXPECT_EQ(deliveries, 0);
    }
    EXPECT_EQ(blockedAmong(all), ending);
    EXPECT_EQ(deliveries, 0);
  }
  EXPECT_EQ(deliveries, 1);
  EXPECT_TRUE(blockedAmong(all).empty());
  std::signal(SIGUSR1, previous);
}

} // namespace
} // namespace valdoria
