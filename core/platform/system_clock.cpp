#include "core/platform/clock_port.h"

#include <thread>

namespace calorim {

std::chrono::system_clock::time_point SystemClock::now() { return std::chrono::system_clock::now(); }

std::chrono::steady_clock::time_point SystemClock::steadyNow() { return std::chrono::steady_clock::now(); }

void SystemClock::sleep(double seconds) {
  if (!(seconds > 0)) return;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

bool SystemClock::sleep(double seconds, StopToken stop) { return stop.sleepFor(seconds); }

}  // namespace calorim
