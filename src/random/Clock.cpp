#include "random/Clock.hpp"

#include <ctime>
#include <utility>

namespace valdoria {

namespace {

std::int64_t systemTime() { return static_cast<std::int64_t>(std::time(nullptr)); }

ClockSource& clockSource() {
  static ClockSource source = systemTime;
  return source;
}

} // namespace

std::int64_t currentTime() { return clockSource()(); }

void setClock(ClockSource source) {
  if (!source) {
    source = systemTime;
  }
  clockSource() = std::move(source);
}

ClockSource frozenClock(std::int64_t seconds) {
  return [seconds] { return seconds; };
}

void resetClock() { clockSource() = systemTime; }

} // namespace valdoria
