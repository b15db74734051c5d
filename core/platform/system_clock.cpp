#include "core/platform/clock_port.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace calorim {

std::chrono::system_clock::time_point SystemClock::now() { return std::chrono::system_clock::now(); }

std::chrono::steady_clock::time_point SystemClock::steadyNow() { return std::chrono::steady_clock::now(); }

void SystemClock::sleep(double seconds) {
  if (!(seconds > 0)) return;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

bool SystemClock::sleep(double seconds, std::stop_token stop) {
  if (!(seconds > 0)) return !stop.stop_requested();
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock lock(mutex);
  // Nothing notifies `wake`: the wait ends when the time is up or `stop` is requested.
  wake.wait_for(lock, stop, std::chrono::duration<double>(seconds), [] { return false; });
  return !stop.stop_requested();
}

}  // namespace calorim
