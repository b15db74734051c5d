#pragma once
// What calorim-run reports once the command has ended, and how: the energy
// of the stretches between readings added up, the command's share of the CPU
// time, and the report as text for people (like time's) or as one JSON object.
// Pure: everything here can be computed and formatted from given values.

#include <optional>
#include <string>
#include <vector>

#include "core/machine_description.h"
#include "core/platform/host_port.h"
#include "core/records.h"

namespace calorim::run {

// The energy of consecutive stretches of one run, added up.
class EnergyTally {
 public:
  // `interval` is the time between readings asked for, in seconds.
  explicit EnergyTally(double interval) : interval_(interval) {}

  void add(const EnergyMetrics& stretch);

  // The whole run's energy so far: durations and joules summed.
  [[nodiscard]] EnergyMetrics sum() const;
  // The highest mean power of one stretch, W, and never below the mean of
  // the whole. Stretches shorter than half the interval (the last one,
  // mostly) are too short to judge a peak by.
  [[nodiscard]] double peakWatts() const;

 private:
  double interval_;
  EnergyMetrics sum_{0, 0, 0, 0, 0, 0};
  std::optional<double> peak_;
};

// One domain of the machine's energy.
struct DomainEnergy {
  std::string key;   // in JSON: "cpu", "gpu", "ane", "dram"
  std::string name;  // for people: "CPU", "GPU", "ANE", "DRAM"
  double joules = 0;

  bool operator==(const DomainEnergy&) const = default;
};

// The domains `measured` says the machine has, with their part of `energy`,
// in that order: CPU, GPU, ANE, DRAM.
[[nodiscard]] std::vector<DomainEnergy> measuredDomains(const MeasuredFigures& measured, const EnergyMetrics& energy);

// The command's share of all the CPU time used while it ran, 0..1: its own
// CPU time (`commandSeconds`) against the busy time of every CPU over
// `elapsedSeconds`, from the CPUs' ticks before and after. Ticks tell each
// CPU's busy fraction, whatever their rate. A command that used more than the
// ticks show (they are coarse, and an idle machine rounds them down) has all
// of it. Absent when the ticks are missing, their CPUs changed, or they did
// not move.
[[nodiscard]] std::optional<double> cpuTimeShare(double commandSeconds, double elapsedSeconds,
                                                 const std::optional<std::vector<CpuTicks>>& before,
                                                 const std::optional<std::vector<CpuTicks>>& after);

struct RunReport {
  std::vector<std::string> command;
  // The machine's name where it is simulated (the report then says so); absent on a real one.
  std::optional<std::string> simulatedMachine;
  double elapsedSeconds = 0;
  int exitStatus = 0;
  std::optional<int> signal;  // the signal that ended the command
  double commandCpuSeconds = 0;
  std::optional<double> cpuShare;  // 0..1, an estimate

  // Energy, where the machine measures it: each measured domain, and the
  // whole with its mean and peak power where the machine counts a whole.
  std::vector<DomainEnergy> domains;
  std::optional<double> totalJoules;
  std::optional<double> meanWatts;
  std::optional<double> peakWatts;
  // Why no energy was measured; absent when it was.
  std::optional<std::string> energyNotice;

  // The command's part of the CPU's energy: its share of the CPU domain's
  // joules; absent without both.
  [[nodiscard]] std::optional<double> commandCpuJoules() const;
};

// The report for people, several lines each ending in a line end.
[[nodiscard]] std::string reportText(const RunReport& report);

// The report as one compact JSON object and a line end. Members that the
// machine did not measure are left out, never 0.
[[nodiscard]] std::string reportJson(const RunReport& report);

}  // namespace calorim::run
