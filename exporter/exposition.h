#pragma once
// The exporter's view of the machine at one moment (`MetricsState`) and its
// exposition as Prometheus text format 0.0.4 or OpenMetrics 1.0.
//
// Units are those of the metric names: joules, watts, ratios 0..1, hertz,
// degrees Celsius, revolutions per minute, bytes, Unix seconds. A figure the
// machine cannot give is absent from the state and so from the exposition; it
// is never written as 0. A family without any series is left out whole.
//
// Power and energy come at three levels that are never mixed in one family:
// the parts of the machine that do not overlap (`domain`: cpu, gpu, ane, dram,
// and other, the rest of the total that no part of its own counts), whose sum
// is the total; the total itself; and the CPU's clusters, parts of `cpu`.
// The whole platform (RAPL's psys on a PC), where the machine measures it, is
// a family of its own: it holds the total and more, so it is never summed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calorim::exporter {

// One series of a family with a single label: that label's value and the sample.
struct LabelledValue {
  std::string label;
  double value = 0;

  bool operator==(const LabelledValue&) const = default;
};

// One process's series: its id and name as labels, and the sample.
struct ProcessValue {
  std::int64_t pid = 0;
  std::string name;
  double value = 0;

  bool operator==(const ProcessValue&) const = default;
};

struct MachineLabels {
  std::string chip;
  std::string machine;
  std::string os;
  bool simulated = false;

  bool operator==(const MachineLabels&) const = default;
};

struct MetricsState {
  std::vector<LabelledValue> energyJoules;   // by domain, since the exporter started
  std::vector<LabelledValue> powerWatts;     // by domain, averaged over the last interval
  std::optional<double> totalEnergyJoules;   // the sum of the domains, where the machine counts a total
  std::optional<double> totalPowerWatts;
  std::optional<double> platformEnergyJoules;  // the whole platform, where the machine measures it
  std::optional<double> platformPowerWatts;
  std::vector<LabelledValue> clusterEnergyJoules;  // by CPU cluster: "efficiency", "performance"
  std::vector<LabelledValue> clusterPowerWatts;
  // Why energy is not measured ("no_counters", "permission_denied",
  // "counters_unreadable", "sample_failed"); empty while it is.
  std::string energyUnavailableReason;
  std::vector<LabelledValue> cgroupEnergyJoules;  // CPU energy by control group, since the exporter started
  std::vector<ProcessValue> processPowerWatts;    // CPU power of the largest processes over the last interval
  std::string processMethod;                      // how `processPowerWatts` was found; empty without it
  std::vector<LabelledValue> cpuUsage;       // by CPU kind: "all", "efficiency", "performance"
  std::vector<double> coreUsage;             // by logical CPU, in processor order
  std::optional<double> gpuUsage;
  std::optional<double> gpuFrequencyHz;
  std::vector<LabelledValue> temperatures;   // °C by sensor: "cpu", "gpu", "core0", ...
  std::vector<LabelledValue> fans;           // rpm by fan number
  std::optional<double> batteryCharge;       // 0..1
  std::optional<bool> batteryCharging;
  std::optional<double> adapterWatts;        // the connected adapter's rated power
  std::optional<std::uint64_t> memoryUsedBytes;
  std::optional<std::uint64_t> swapUsedBytes;
  MachineLabels machine;
  std::uint64_t sampleFailures = 0;
  std::optional<double> lastSampleTime;      // Unix seconds of the latest finished reading

  bool operator==(const MetricsState&) const = default;
};

enum class ExpositionFormat {
  prometheusText,  // text/plain; version=0.0.4
  openMetrics,     // application/openmetrics-text; version=1.0.0
};

// The whole exposition of `state`: HELP and TYPE (and in OpenMetrics UNIT,
// for a family whose name ends in its unit) before each family, every
// series of a family in one block, label values escaped (backslash, double
// quote, line feed) and repaired to UTF-8. OpenMetrics ends with "# EOF".
// Numbers are written with at most 15 significant digits, the precision a
// double holds, in the shortest form (3.6608, not 3.6607999999999996): the
// noise of the arithmetic does not show.
// Never throws except std::bad_alloc.
[[nodiscard]] std::string formatExposition(const MetricsState& state, ExpositionFormat format);

// The format an `Accept` header asks for: OpenMetrics when it accepts
// "application/openmetrics-text" (version 1.0.0 or unversioned) at least as
// willingly as the text format, else the text format. Pure.
[[nodiscard]] ExpositionFormat negotiateFormat(std::string_view accept);

// The `Content-Type` of an exposition in `format`.
[[nodiscard]] std::string_view contentType(ExpositionFormat format);

}  // namespace calorim::exporter
