#pragma once
// What this machine measures and what it is made of, in one description that
// every surface reads: a figure the machine does not measure is absent there,
// never shown as a measured 0.
//
// The description is derived from the platform: the figures from the channels
// a delta of the machine's counters holds and from the sensors that answer;
// the processor's kinds of core, its GPUs (with their names and power caps),
// memory, battery and the packages' power limit from the host and registry
// ports. The facade keeps it current (see PowerMetrics::description).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/iohid_thermal.h"
#include "core/ioreport_sampler.h"
#include "core/platform/platform.h"
#include "core/records.h"
#include "core/smc_thermal.h"

namespace calorim {

// The figures of a snapshot the machine measures. Each is named as the
// snapshot's member (`figureNames`).
struct MeasuredFigures {
  bool cpuPower = false;
  bool gpuPower = false;
  bool anePower = false;
  bool dramPower = false;
  bool totalPower = false;
  bool eCpuPower = false;
  bool pCpuPower = false;
  bool cpuTemp = false;
  bool gpuTemp = false;
  bool coreTemps = false;
  bool cpuUsage = false;
  bool gpuUsage = false;
  bool eCpuUsage = false;
  bool pCpuUsage = false;
  bool gpuFreqMHz = false;
  bool memBandwidth = false;
  bool fans = false;
  bool platformPower = false;

  // The parts of the energy breakdown that have channels of their own.
  bool cpuCores = false;
  bool cpuClusters = false;
  bool amcc = false;
  bool dcs = false;
  bool display = false;
  bool displayExt = false;
  bool fabric = false;
  bool isp = false;
  bool media = false;

  // The snapshot members above that are measured, in the snapshot's order:
  // "cpuPower", "gpuPower", ..., "fans", "platformPower".
  [[nodiscard]] std::vector<std::string> names() const;
  // The parts of the breakdown that are measured, in the order above:
  // "cpuCores", "cpuClusters", ..., "media".
  [[nodiscard]] std::vector<std::string> partNames() const;

  bool operator==(const MeasuredFigures&) const = default;
};

// The machine's cores. Counts are physical cores (threads of one core count
// once); on a machine with one kind of core every core is a performance core.
struct CpuTopology {
  std::int64_t efficiencyCores = 0;
  std::int64_t performanceCores = 0;
  std::int64_t logicalCpus = 0;

  // Two kinds of core: only then is there an efficiency/performance split.
  [[nodiscard]] bool hybrid() const { return efficiencyCores > 0 && performanceCores > 0; }
  [[nodiscard]] std::int64_t cores() const { return efficiencyCores + performanceCores; }

  bool operator==(const CpuTopology&) const = default;
};

struct GpuDescription {
  std::string name;
  bool integrated = false;     // graphics of the processor's own package
  bool powerMeasured = false;  // its power is part of the GPU power
  std::optional<double> powerLimitW;

  bool operator==(const GpuDescription&) const = default;
};

// One GPU of a machine that lists its GPUs one by one, as one sample read
// it; a figure the machine does not measure for it is absent.
struct GpuFigures {
  std::string name;                   // as in its GpuDescription
  std::optional<double> watts;        // W over the sample
  std::optional<double> busy;         // fraction 0..1 of the sample
  std::optional<double> clockMHz;
  std::optional<double> temperatureC;  // at the end of the sample

  bool operator==(const GpuFigures&) const = default;
};

struct MachineDescription {
  MeasuredFigures measured;
  CpuTopology cpu;
  // The GPUs the platform lists one by one; empty where it lists none (a Mac's
  // single GPU is the chip's).
  std::vector<GpuDescription> gpus;
  // The packages' sustained power limit, W, where the system publishes one.
  std::optional<double> packagePowerLimitW;
  std::string chipName;
  double memoryGB = 0;  // installed, GB = 2^30 bytes
  bool battery = false;

  // The power budget the GPU power is judged by, W; 0 when unknown:
  //  - the sum of the power caps of the GPUs whose power is measured and that
  //    are not integrated, when each of them has one;
  //  - else, for integrated graphics whose power is measured, the packages'
  //    long-term limit;
  //  - else, for a chip whose name begins with the word "Apple", the chip's
  //    class by the whole words of its name: "Ultra" 120, "Max" 60, "Pro" 35,
  //    else 20 (`appleGpuBudgetW`).
  [[nodiscard]] double gpuPowerBudgetW() const;

  bool operator==(const MachineDescription&) const = default;
};

// The assumed GPU power budget of an Apple chip by the whole words of its
// name, letter case ignored; 0 for a name whose first word is not "Apple". Pure.
[[nodiscard]] double appleGpuBudgetW(std::string_view chipName);

// The machine's cores from the host's system values: per kind where the
// system tells two kinds apart ("hw.perflevel<n>.physicalcpu", else
// ".logicalcpu"), else "hw.physicalcpu" (else "hw.logicalcpu") performance cores.
[[nodiscard]] CpuTopology cpuTopology(HostPort& host);

// The parts of a description that the host and registry ports give: cores,
// GPUs, packages' limit, chip name, memory and battery. Figures stay unset.
[[nodiscard]] MachineDescription describeHardware(Platform& platform);

// The figures that one delta of the machine's counters shows: the core's own
// parsers are run over the delta with every energy channel given a large count
// and every state one tick of residency, so a figure moves exactly when the
// machine has a channel for it. Sensors, fans and CPU ticks are not in a delta
// and stay unset. Pure.
[[nodiscard]] MeasuredFigures figuresOf(CounterDelta delta, const IOReportSampler& sampler);

// The GPUs `gpus` (in the registry's order) with their figures: `devices`
// are the counters' readings of them in the same order, one for each GPU;
// temperatures are read from the registry now. A reading without a GPU to
// name it keeps its counters' name. Temperatures outside 0 to 150 °C are
// left out, as the sensor readers do. Empty without `devices`.
[[nodiscard]] std::vector<GpuFigures> gpuFigures(const std::vector<GpuDeviceReading>& devices,
                                                  const std::vector<GpuDescription>& gpus, RegistryPort& registry);

// `figures` with the sensor figures (temperatures and fans) of `snapshot`.
[[nodiscard]] MeasuredFigures withSensorsOf(MeasuredFigures figures, const PowerSnapshot& snapshot);
// The same from one reading of each thermal reader, as a snapshot would take them.
[[nodiscard]] MeasuredFigures withSensorsOf(MeasuredFigures figures, const ThermalReading& smc, const CoreTemps& hid);

}  // namespace calorim
