#pragma once
// The clock port: the current time and a sleep, so that everything that waits
// can be tested without waiting.

#include <chrono>
#include <stop_token>

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
  // Like `sleep`, but ends early once `stop` is requested. Returns false when
  // it was stopped.
  virtual bool sleep(double seconds, std::stop_token stop) {
    if (stop.stop_requested()) return false;
    sleep(seconds);
    return !stop.stop_requested();
  }
};

// The system's own clocks.
class SystemClock final : public ClockPort {
 public:
  std::chrono::system_clock::time_point now() override;
  std::chrono::steady_clock::time_point steadyNow() override;
  void sleep(double seconds) override;
  bool sleep(double seconds, std::stop_token stop) override;
};

}  // namespace calorim
