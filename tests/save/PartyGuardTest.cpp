#include "save/PartyGuard.hpp"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/wait.h>
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

// Two games in one directory: while one writes the party, the other waits
// to read it, and reads as soon as the writer is done.
TEST(PartyGuardTest, AnotherGameWaitsWhileOneWrites) {
  using Clock = std::chrono::steady_clock;
  std::array<int, 2> toOther{};
  std::array<int, 2> fromOther{};
  ASSERT_EQ(::pipe(toOther.data()) | ::pipe(fromOther.data()), 0);
  // Started first: it must not share the writer's lock.
  const pid_t other = ::fork();
  if (other == 0) {
    char go = 0;
    const bool told = ::read(toOther[0], &go, 1) == 1;
    { const PartyGuard reading(PartyGuard::Use::Reading); }
    const Clock::rep entered = Clock::now().time_since_epoch().count();
    ::_exit(told && ::write(fromOther[1], &entered, sizeof entered) == sizeof entered ? 0 : 1);
  }
  std::optional<PartyGuard> writing(std::in_place, PartyGuard::Use::Writing);
  EXPECT_EQ(::write(toOther[1], "!", 1), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const Clock::rep released = Clock::now().time_since_epoch().count();
  writing.reset();
  Clock::rep entered = 0;
  EXPECT_EQ(::read(fromOther[0], &entered, sizeof entered), static_cast<ssize_t>(sizeof entered));
  ::waitpid(other, nullptr, 0);
  for (const int end : {toOther[0], toOther[1], fromOther[0], fromOther[1]}) {
    ::close(end);
  }
  EXPECT_GE(entered, released);
  EXPECT_LT(Clock::duration(entered - released), std::chrono::seconds(2));
}

} // namespace
} // namespace valdoria
