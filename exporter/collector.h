#pragma once
// The exporter's measuring side: one round after another it takes a sample
// through the core, adds the battery, adapter and memory figures, and
// publishes the result as an immutable `MetricsState`. Scrapes only take the
// latest published state (a pointer copy under a short lock) and format it;
// they never wait for a sample.
//
// Energy is counted from the exporter's start: every sample adds its domains'
// joules (average power × interval, the counters' own difference). Without
// energy counters (none on the machine, not readable, or a sample that failed)
// no power or energy series is published, and everything else still is, with
// the reason in `energyUnavailableReason`; the counters are looked for again
// every round, and the totals go on from where they stood once samples
// succeed again.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/cpu_usage_sampler.h"
#include "core/iohid_thermal.h"
#include "core/machine_description.h"
#include "core/platform/platform.h"
#include "core/platform/stop_signal.h"
#include "core/power_metrics.h"
#include "core/power_supply_reader.h"
#include "core/process_power.h"
#include "core/smc_thermal.h"
#include "exporter/exposition.h"

namespace calorim::exporter {

// The power domains the machine's counters may give, in the order they are
// exported: four parts of the machine, its total, the CPU's two clusters, the
// whole platform (which holds all the others).
enum class Domain { cpu, gpu, ane, dram, soc, efficiencyCpu, performanceCpu, platform };
inline constexpr std::size_t kDomainCount = 8;

// What the exporter tells of the processes and control groups using the CPU.
struct ProcessExport {
  int cgroupDepth = 0;   // levels of control groups whose CPU energy is counted; 0: none
  int topProcesses = 0;  // how many of the processes using the most have their power exported; 0: none
};

class Collector {
 public:
  // Reads the machine's description and starts the core's sampler (when the
  // machine's energy counters can be read; see above). Publishes a first state
  // holding the description only. `interval` is in seconds and above 0
  // (std::invalid_argument otherwise). The platform's clock paces the rounds.
  // Control groups and processes, as `processes` asks, are shared the CPU
  // power of each round while energy is measured.
  Collector(std::shared_ptr<Platform> platform, double interval, bool simulated, ProcessExport processes = {});
  ~Collector();
  Collector(const Collector&) = delete;
  Collector& operator=(const Collector&) = delete;

  // One round: a sample over the interval (blocking for it), then publication.
  // A failed sample counts in `sampleFailures` and the round waits out the
  // rest of the interval. Returns false, publishing nothing, when `stop` was
  // requested. Runs on one thread at a time.
  bool collect(StopToken stop = {});

  // The latest published state; any thread.
  [[nodiscard]] std::shared_ptr<const MetricsState> latest() const;
  // The latest state formatted; any thread.
  [[nodiscard]] std::string scrape(ExpositionFormat format) const;
  // Whether the core's sampler runs (energy is measured).
  [[nodiscard]] bool measuresEnergy() const;
  // Why the sampler is not running (the core's error); empty while it runs.
  [[nodiscard]] std::string energyProblem() const;

 private:
  // The readers used while the sampler cannot run.
  struct Readers;

  void startSampler();
  void publish(MetricsState state);
  // Shares the round's CPU power among the control groups and processes.
  void shareCpuPower(MetricsState& state, const PowerSnapshot& snapshot);

  std::shared_ptr<Platform> platform_;
  double interval_;
  std::unique_ptr<PowerMetrics> metrics_;
  std::unique_ptr<Readers> readers_;
  MeasuredFigures measured_;  // what the machine measures, from the core's description
  std::string energyProblem_;
  PowerSupplyReader powerSupply_;
  double energy_[kDomainCount] = {};
  double otherEnergy_ = 0;  // the part of the total no domain of its own covers
  ProcessExport processExport_;
  std::unique_ptr<ProcessMeter> processMeter_;  // while there is something to tell of processes
  std::map<std::string, double, std::less<>> cgroupEnergy_;  // joules by group, of the groups there now
  MetricsState current_;  // the worker's copy of what was last published

  mutable std::mutex mutex_;  // guards `latest_` and `energyProblem_` reads from other threads
  std::shared_ptr<const MetricsState> latest_;
};

// Runs `Collector::collect` round after round on a thread of its own until
// destroyed; destruction ends a round in progress promptly and joins.
class SamplingWorker {
 public:
  explicit SamplingWorker(Collector& collector);
  ~SamplingWorker();
  SamplingWorker(const SamplingWorker&) = delete;
  SamplingWorker& operator=(const SamplingWorker&) = delete;

 private:
  StopSource stopping_;
  std::thread thread_;
};

namespace detail {

// The `reason` label of calorim_energy_available for a sampler that could not
// start (or a sample that failed) with `error`, the counters' access being
// `access`. Pure.
[[nodiscard]] std::string unavailableReason(PMError::Kind error, EnergyAccess::State access);

}  // namespace detail
}  // namespace calorim::exporter
