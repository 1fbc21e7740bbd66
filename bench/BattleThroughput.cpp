// Plays a scripted session in-process again and again, on string streams
// with the clock frozen, and reports battles per second.
//
//   BattleThroughput SCRIPT CLOCK SECONDS [DIRECTORY]
//
// SCRIPT is what the player types, made for the frozen CLOCK; each run starts
// from a fresh run state and no save files, inside DIRECTORY (default: a new
// temporary one), where the won battles' saves are written.

#include "game/MainLoop.hpp"
#include "game/RunState.hpp"
#include "random/Clock.hpp"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string readScript(const char* name) {
  std::ifstream file(name, std::ios::binary);
  if (!file) {
    std::cerr << "cannot read " << name << "\n";
    std::exit(2);
  }
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The number in "You fought N battles." at the end of the output.
long battlesFought(const std::string& output) {
  const std::size_t summary = output.rfind("You fought ");
  if (summary == std::string::npos) {
    return -1;
  }
  return std::strtol(output.c_str() + summary + 11, nullptr, 10);
}

long peakResidentKilobytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void removeSaveFiles() {
  for (const char* name : {"Varen.txt", "Gorak.txt", "Mirel.txt"}) {
    std::error_code ignored;
    fs::remove(name, ignored);
  }
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: BattleThroughput SCRIPT CLOCK SECONDS [DIRECTORY]\n";
    return 2;
  }
  const std::string script = readScript(argv[1]);
  const std::int64_t clock = std::strtoll(argv[2], nullptr, 10);
  const double seconds = std::strtod(argv[3], nullptr);

  std::string directory;
  if (argc > 4) {
    directory = argv[4];
  } else {
    directory = (fs::temp_directory_path() / "valdoria-bench-XXXXXX").string();
    if (::mkdtemp(directory.data()) == nullptr) {
      std::cerr << "cannot create a temporary directory\n";
      return 2;
    }
  }
  fs::current_path(directory);

  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  long runs = 0;
  long battles = 0;
  long peakAfterFirst = 0;
  double elapsed = 0;
  do {
    removeSaveFiles();
    std::istringstream in(script);
    std::ostringstream out;
    valdoria::startRun(in, out, valdoria::frozenClock(clock));
    valdoria::runMainLoop();
    const long fought = battlesFought(out.str());
    if (fought <= 0) {
      std::cerr << "the script played no battle\n";
      return 1;
    }
    battles += fought;
    if (++runs == 1) {
      peakAfterFirst = peakResidentKilobytes();
    }
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds);

  valdoria::resetRunState();
  removeSaveFiles();
  if (argc <= 4) {
    fs::current_path(fs::temp_directory_path());
    fs::remove(directory);
  }
  // The peak must not grow with the number of battles played.
  std::printf("%ld battles in %ld sessions in %.2f s: %.0f battles per second; peak memory %ld kB "
              "after the first session, %ld kB after the last\n",
              battles, runs, elapsed, static_cast<double>(battles) / elapsed, peakAfterFirst,
              peakResidentKilobytes());
  return 0;
}
