#pragma once
// A fake clock whose sleeps last longer than asked: a process held back by the
// system, or a machine that slept in the middle of an interval. Each sleep
// takes the next of `stretches` as its multiple (then `stretch`).

#include <chrono>
#include <deque>
#include <memory>
#include <utility>

#include "core/platform/clock_port.h"
#include "core/platform/fake/fake_platform.h"

namespace calorim::testing {

class StretchingClock final : public ClockPort {
 public:
  // Takes over the platform's clock, so that time keeps running from where it was.
  explicit StretchingClock(std::unique_ptr<ClockPort> time = std::make_unique<fake::FakeClock>())
      : time_(std::move(time)) {}

  std::chrono::system_clock::time_point now() override { return time_->now(); }
  std::chrono::steady_clock::time_point steadyNow() override { return time_->steadyNow(); }
  void sleep(double seconds) override {
    double multiple = stretch;
    if (!stretches.empty()) {
      multiple = stretches.front();
      stretches.pop_front();
    }
    time_->sleep(seconds * multiple);
  }

  std::deque<double> stretches;
  double stretch = 1;

 private:
  std::unique_ptr<ClockPort> time_;
};

// Puts a stretching clock in place of `platform`'s own.
inline StretchingClock& stretchClock(Platform& platform) {
  auto clock = std::make_unique<StretchingClock>(std::move(platform.clock));
  StretchingClock& stretching = *clock;
  platform.clock = std::move(clock);
  return stretching;
}

}  // namespace calorim::testing
