#pragma once
// A request to stop, for the loops and sleeps that wait on a worker thread:
// whoever owns a `StopSource` asks once, and every `StopToken` taken from it
// sees the request and wakes from its sleep at once. Copies of a token share
// the one signal; a default-constructed token is never stopped.

#include <chrono>
#include <memory>

namespace calorim {

namespace detail {
struct StopState;
}  // namespace detail

class StopToken {
 public:
  StopToken() = default;

  [[nodiscard]] bool stopRequested() const;

  // Blocks for `seconds` (nothing when not above 0), ending early once a stop
  // is requested. True when no stop was requested.
  bool sleepFor(double seconds) const;

  // Blocks until a stop is requested; for ever on a token of no source.
  void waitForStop() const;

 private:
  friend class StopSource;
  explicit StopToken(std::shared_ptr<detail::StopState> state) : state_(std::move(state)) {}

  std::shared_ptr<detail::StopState> state_;
};

class StopSource {
 public:
  StopSource();

  // Asks every token of this source to stop, and wakes their sleeps. Idempotent.
  void requestStop();
  [[nodiscard]] bool stopRequested() const;
  [[nodiscard]] StopToken token() const { return StopToken(state_); }

 private:
  std::shared_ptr<detail::StopState> state_;
};

}  // namespace calorim
