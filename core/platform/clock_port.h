#pragma once
// The clock port: the current time and a sleep, so that everything that waits
// can be tested without waiting.

#include <chrono>

namespace calorim {

class ClockPort {
 public:
  virtual ~ClockPort() = default;
  // Wall-clock time, for timestamps.
  [[nodiscard]] virtual std::chrono::system_clock::time_point now() = 0;
  // Monotonic time, for measuring how long something took.
  [[nodiscard]] virtual std::chrono::steady_clock::time_point steadyNow() = 0;
  // Blocks the calling thread for `seconds` (nothing when not above 0).
  virtual void sleep(double seconds) = 0;
};

// The system's own clocks.
class SystemClock final : public ClockPort {
 public:
  std::chrono::system_clock::time_point now() override;
  std::chrono::steady_clock::time_point steadyNow() override;
  void sleep(double seconds) override;
};

}  // namespace calorim
