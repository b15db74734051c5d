#include "core/platform/stop_signal.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace calorim {

namespace detail {
struct StopState {
  std::mutex mutex;
  std::condition_variable wake;
  bool stopped = false;
};
}  // namespace detail

namespace {

// Far beyond any wait of the program, and safe to add to the steady clock.
constexpr double kLongestSleep = 365.0 * 24 * 3600;

}  // namespace

bool StopToken::stopRequested() const {
  if (!state_) return false;
  std::lock_guard lock(state_->mutex);
  return state_->stopped;
}

bool StopToken::sleepFor(double seconds) const {
  const bool sleeps = seconds > 0;  // also false for NaN
  const auto span = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(sleeps ? std::min(seconds, kLongestSleep) : 0.0));
  if (!state_) {
    if (sleeps) std::this_thread::sleep_for(span);
    return true;
  }
  std::unique_lock lock(state_->mutex);
  if (sleeps) state_->wake.wait_for(lock, span, [this] { return state_->stopped; });
  return !state_->stopped;
}

void StopToken::waitForStop() const {
  if (!state_) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::unique_lock lock(state_->mutex);
  state_->wake.wait(lock, [this] { return state_->stopped; });
}

StopSource::StopSource() : state_(std::make_shared<detail::StopState>()) {}

void StopSource::requestStop() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopped = true;
  }
  state_->wake.notify_all();
}

bool StopSource::stopRequested() const { return StopToken(state_).stopRequested(); }

}  // namespace calorim
