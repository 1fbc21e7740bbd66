#pragma once

#include <cstdint>
#include <functional>

namespace valdoria {

// The clock the generator is seeded from: calendar time in whole seconds
// since 1970-01-01 UTC. Tests replace it to replay a session exactly.

using ClockSource = std::function<std::int64_t()>;

std::int64_t currentTime();

void setClock(ClockSource source);

// A clock that stands still at one second.
ClockSource frozenClock(std::int64_t seconds);

// Back to the system clock.
void resetClock();

} // namespace valdoria
