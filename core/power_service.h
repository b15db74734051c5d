#pragma once
// Answers about the machine built from samples taken on demand: a snapshot,
// whether it is thermally throttling, how much of the GPU's power budget is in
// use, a wait until it has cooled, and the energy of named windows. Also holds
// the machine's description, taken once at creation.
//
// Every sampling call blocks for its interval (0.5 s for throttling and
// headroom, 1 s per step of a cooldown wait) and throws the facade's PMError
// when a sample cannot be taken. A requested `stop` cuts the wait short: the
// call then returns at once with an answer from a partial interval, which the
// caller is expected to drop.

#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform/stop_signal.h"
#include "core/power_metrics.h"
#include "core/records.h"
#include "core/service_records.h"
#include "core/system_info.h"

namespace calorim {

class PowerService {
 public:
  static constexpr double kThrottleInterval = 0.5;
  static constexpr double kCooldownStep = 1.0;
  static constexpr double kCooldownFinalSample = 0.5;

  // Called after each sample of a cooldown wait with the seconds waited so far.
  using CooldownProgress = std::function<void(double waitedSeconds)>;

  // Creates the facade, then takes the machine's description. Throws the
  // facade's PMError. With `startUp` in the background the facade probes the
  // SMC and the hardware report is produced on workers: the constructor
  // returns once the counter sampler exists, and the first sample and the
  // first `info` wait for what they need.
  explicit PowerService(std::shared_ptr<Platform> platform, StartUpWork startUp = StartUpWork::inCreation);

  // The machine's description, taken once. Blocks while the hardware report
  // is still being produced in the background.
  [[nodiscard]] const SystemInfo& info();
  [[nodiscard]] PowerMetrics& metrics() { return *metrics_; }

  // A snapshot, as every answer below is built from: one that overran its
  // interval (the machine slept between its readings) is taken once more,
  // and the second stands.
  [[nodiscard]] PowerSnapshot snapshot(double interval, StopToken stop = {});
  // See PowerMetrics::beginWindow.
  [[nodiscard]] std::optional<PowerMetrics::WindowRefusal> beginWindow(const std::string& name);
  [[nodiscard]] std::optional<EnergyMetrics> endWindow(const std::string& name);
  [[nodiscard]] ThrottleStatus isThrottling(StopToken stop = {});
  // The GPU's power against the machine's GPU power budget
  // (MachineDescription::gpuPowerBudgetW); with no known budget, 0 W and 0 %
  // used, and whether work can be added rests on the temperature alone.
  [[nodiscard]] HeadroomStatus headroom(StopToken stop = {});
  // Samples once a second until the hotter temperature is above 0 and below
  // `targetTemp`, or `timeout` seconds have passed; then one last half-second
  // sample gives the final temperature. A timeout of 0 or less only takes that
  // last sample; a stop skips it (and ends a sample under way: the result then
  // has the hotter temperature of the last whole sample, 0 before the first).
  [[nodiscard]] CooldownResult waitForCooldown(double targetTemp, double timeout,
                                               const CooldownProgress& progress = {}, StopToken stop = {});

  // The hotter of the snapshot's CPU and GPU temperatures; a missing one counts as 0.
  [[nodiscard]] static double hotterTemp(const PowerSnapshot& snapshot);

 private:
  std::unique_ptr<PowerMetrics> metrics_;
  std::future<std::string> machineName_;  // the background hardware report's machine name
  std::once_flag described_;
  std::optional<SystemInfo> info_;
};

}  // namespace calorim
