#include "core/platform/clock_port.h"

#include <time.h>

#include <thread>

namespace calorim {

std::chrono::system_clock::time_point SystemClock::now() { return std::chrono::system_clock::now(); }

// The standard library's steady clock stops while the machine sleeps (on
// macOS it is the uptime clock), so a span with a sleep in it would look
// short; these clocks go on counting through it.
std::chrono::steady_clock::time_point SystemClock::steadyNow() {
  timespec now{};
#if defined(__APPLE__)
  const clockid_t clock = CLOCK_MONOTONIC;
#else
  const clockid_t clock = CLOCK_BOOTTIME;
#endif
  clock_gettime(clock, &now);  // cannot fail for a clock the system has
  const auto sinceStart = std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
  return std::chrono::steady_clock::time_point(
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(sinceStart));
}

void SystemClock::sleep(double seconds) {
  if (!(seconds > 0)) return;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

bool SystemClock::sleep(double seconds, StopToken stop) { return stop.sleepFor(seconds); }

}  // namespace calorim
