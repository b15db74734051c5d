#pragma once
// The clock port: the current time and a sleep, so that everything that waits
// can be tested without waiting.

#include <chrono>

#include "core/platform/stop_signal.h"

namespace calorim {

class ClockPort {
 public:
  virtual ~ClockPort() = default;
  // Wall-clock time, for timestamps.
  [[nodiscard]] virtual std::chrono::system_clock::time_point now() = 0;
  // Monotonic time, for measuring how long something took; it keeps counting
  // while the machine sleeps. Its time points compare only with each other.
  [[nodiscard]] virtual std::chrono::steady_clock::time_point steadyNow() = 0;
  // Blocks the calling thread for `seconds` (nothing when not above 0).
  virtual void sleep(double seconds) = 0;
  // Like `sleep`, but ends early once `stop` is requested. Returns false when
  // it was stopped.
  virtual bool sleep(double seconds, StopToken stop) {
    if (stop.stopRequested()) return false;
    sleep(seconds);
    return !stop.stopRequested();
  }
};

// The system's own clocks.
class SystemClock final : public ClockPort {
 public:
  std::chrono::system_clock::time_point now() override;
  std::chrono::steady_clock::time_point steadyNow() override;
  void sleep(double seconds) override;
  bool sleep(double seconds, StopToken stop) override;
};

}  // namespace calorim
