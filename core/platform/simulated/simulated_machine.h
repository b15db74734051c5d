#pragma once
// The simulated machine: the in-memory fakes driven by generators that follow
// a machine profile (machine_profile.h), so that the whole product runs, shows
// live-looking figures and can be tested end to end without the hardware.
//
// Every reading is a pure function of the profile, the seed and the time the
// machine's clock shows since the machine was made: equal seeds at equal clock
// times give equal readings. Each reading wanders slowly and smoothly around
// its base value (a few superposed sines, seeded per reading, at most
// ±variation of the base), and the cumulative counters are the exact integrals
// of those rates:
// - energy channels: joules in the channel's unit label (mJ, uJ, nJ), so a
//   delta over t seconds is about watts × t; a channel that others lie within
//   counts their joules plus its own, never less than its parts together;
// - state channels: residency ticks at `residencyHz` per state; the busy
//   states' share wanders and the idle ones ("IDLE", "OFF") make up the rest;
// - CPU ticks at `ticksPerSecond` per logical CPU: busy time splits 3:1 into
//   user and system; nice stays 0.
// SMC keys, HID sensors, memory and varying registry numbers are the wandering
// value itself. The machine's name in its hardware overview ends in
// " (simulated)", and a machine whose overview names none is called
// "Unknown Mac (simulated)". Counters behave as if the machine had been up for an hour.
//
// The fakes keep their scripting: a reading queued on a fake comes before the
// generated one, so a test can inject a failure into a running simulation.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/platform/fake/fake_platform.h"
#include "core/platform/simulated/machine_profile.h"
#include "core/platform/platform.h"

namespace calorim::fake {

enum class SimulatedClock {
  fake,  // a FakeClock: time moves only when something sleeps or a test advances it
  real,  // the system's clocks: time moves on its own and sleeps really sleep
  // Sleeps really sleep, and the machine's monotonic time moves by exactly the
  // time each sleep was asked for (by the time really slept when a sleep is
  // stopped early), so that one thread sampling with the same intervals sees
  // the same figures on every run, however late the system wakes it.
  paced,
};

class SimulatedMachine {
 public:
  // Builds the fakes and wires them to the profile's generators. Throws
  // std::invalid_argument (naming the member) for a profile that
  // `validateMachineProfile` rejects.
  explicit SimulatedMachine(const MachineProfile& profile, std::uint64_t seed = 1,
                            SimulatedClock clock = SimulatedClock::fake);

  [[nodiscard]] const std::shared_ptr<Platform>& platform() const { return fakes_.platform; }
  // The fakes behind the platform, for scripting on top of the simulation.
  // With the real or the paced clock `fakes().clock` is null.
  [[nodiscard]] FakeMachine& fakes() { return fakes_; }
  // The fake clock; null with the real or the paced clock.
  [[nodiscard]] FakeClock* fakeClock() { return fakes_.clock; }

 private:
  FakeMachine fakes_;
};

// The platform of a simulated machine, for callers that need nothing else.
// Throws as the constructor of `SimulatedMachine` does.
[[nodiscard]] std::shared_ptr<Platform> makeSimulatedPlatform(const MachineProfile& profile, std::uint64_t seed = 1,
                                                              SimulatedClock clock = SimulatedClock::fake);

// Why a program's simulate mode cannot use the machine profile it was given.
struct ProfileFailure {
  bool unreadable = false;  // the file could not be opened or read
  std::string reason;       // otherwise why the profile was refused
};

// The machine a program shows in its simulate mode: the profile file at
// `path`, or the built-in laptop without one, with seed 1 on `clock` (the
// fake clock is not for programs). Blocks on the read; never throws.
[[nodiscard]] std::variant<std::shared_ptr<Platform>, ProfileFailure> openSimulatedPlatform(
    const std::optional<std::string>& path, SimulatedClock clock = SimulatedClock::real);

// The line every program stops with for `failure` of the profile at `path`:
// "cannot read the profile PATH", or "PATH: reason" ("built-in profile: ..."
// without a path).
[[nodiscard]] std::string profileFailureText(const ProfileFailure& failure, const std::optional<std::string>& path);

namespace detail {

// The slow wander of one reading: the seeded sum of three sines with weights
// 0.6, 0.3 and 0.1 and periods near `period`, `period`·0.37 and `period`·0.13,
// so its value stays within −1..1. `integral` is its exact integral from 0 to
// `t`. Pure; never throws.
class Wander {
 public:
  Wander(std::uint64_t seed, std::string_view id, double period);
  [[nodiscard]] double value(double t) const;
  [[nodiscard]] double integral(double t) const;

 private:
  double omega_[3];
  double phase_[3];
};

}  // namespace detail
}  // namespace calorim::fake
