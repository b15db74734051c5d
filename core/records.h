#pragma once
// The measurement records the metrics core hands to everything above it: one
// complete sample (`PowerSnapshot`) with its parts (`MemoryBandwidth`, `FanInfo`,
// `EnergyBreakdown`, `ChannelPower`), the energy of a named measuring window
// (`EnergyMetrics`), and the core's error type (`PMError`).
//
// Units everywhere: power in watts, energy in joules, temperature in degrees
// Celsius, usage as a fraction 0..1, frequency in MHz, bandwidth in GB/s with
// 1 GB = 2^30 bytes, fan speed in revolutions per minute, durations in seconds.
//
// Records are immutable values: every field is set once through a constructor
// that takes all fields in declaration order, and read through an accessor of
// the same name. Their JSON form lives in core/json.h.

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace calorim {

// Memory traffic of one interval by agent, in GB/s.
class MemoryBandwidth {
 public:
  MemoryBandwidth(double cpuReadGBs, double cpuWriteGBs, double gpuReadGBs, double gpuWriteGBs,
                  double mediaReadGBs, double mediaWriteGBs, double totalReadGBs,
                  double totalWriteGBs);

  // All eight figures 0: what a snapshot carries when nothing was measured.
  [[nodiscard]] static MemoryBandwidth zero();

  [[nodiscard]] double cpuReadGBs() const { return cpuReadGBs_; }
  [[nodiscard]] double cpuWriteGBs() const { return cpuWriteGBs_; }
  [[nodiscard]] double gpuReadGBs() const { return gpuReadGBs_; }
  [[nodiscard]] double gpuWriteGBs() const { return gpuWriteGBs_; }
  // Media engines and image processor.
  [[nodiscard]] double mediaReadGBs() const { return mediaReadGBs_; }
  [[nodiscard]] double mediaWriteGBs() const { return mediaWriteGBs_; }
  [[nodiscard]] double totalReadGBs() const { return totalReadGBs_; }
  [[nodiscard]] double totalWriteGBs() const { return totalWriteGBs_; }

  // `totalReadGBs` + `totalWriteGBs`. Derived: never written to JSON.
  [[nodiscard]] double totalGBs() const;

  bool operator==(const MemoryBandwidth&) const = default;

 private:
  double cpuReadGBs_;
  double cpuWriteGBs_;
  double gpuReadGBs_;
  double gpuWriteGBs_;
  double mediaReadGBs_;
  double mediaWriteGBs_;
  double totalReadGBs_;
  double totalWriteGBs_;
};

// One fan. `id` is the fan's index as the fan reader numbers it, from 0; a fan
// without a reading is left out of a list, so ids in a list can skip.
class FanInfo {
 public:
  FanInfo(std::int64_t id, double rpm);

  [[nodiscard]] std::int64_t id() const { return id_; }
  // Current speed in revolutions per minute.
  [[nodiscard]] double rpm() const { return rpm_; }

  bool operator==(const FanInfo&) const = default;

 private:
  std::int64_t id_;
  double rpm_;
};

// One named energy channel with its mean power over the interval, in watts.
// `name` is exactly what the platform reported (letter case kept); it is also
// the channel's identity in lists.
class ChannelPower {
 public:
  ChannelPower(std::string name, double watts);

  [[nodiscard]] const std::string& name() const { return name_; }
  [[nodiscard]] double watts() const { return watts_; }

  bool operator==(const ChannelPower&) const = default;

 private:
  std::string name_;
  double watts_;
};

// The power of one interval split by domain, in watts. Lists keep channel order.
class EnergyBreakdown {
 public:
  EnergyBreakdown(std::vector<ChannelPower> cpuCores, std::vector<ChannelPower> cpuClusters,
                  double cpuTotal, double gpu, double gpuEnergy, double ane, double dram,
                  double amcc, double dcs, double display, double displayExt, double fabric,
                  double isp, double media, std::vector<ChannelPower> dtlChannels,
                  std::vector<ChannelPower> other, std::vector<ChannelPower> domains);

  // Every figure 0 and every list empty.
  [[nodiscard]] static EnergyBreakdown empty();

  // Per-core CPU channels (parts of `cpuTotal`).
  [[nodiscard]] const std::vector<ChannelPower>& cpuCores() const { return cpuCores_; }
  // Per-cluster CPU channels (parts of `cpuTotal`).
  [[nodiscard]] const std::vector<ChannelPower>& cpuClusters() const { return cpuClusters_; }
  // Whole CPU.
  [[nodiscard]] double cpuTotal() const { return cpuTotal_; }
  // The channel named "gpu".
  [[nodiscard]] double gpu() const { return gpu_; }
  // The channel named "gpu energy"; not part of `socTotal`.
  [[nodiscard]] double gpuEnergy() const { return gpuEnergy_; }
  // Neural engine.
  [[nodiscard]] double ane() const { return ane_; }
  // Memory.
  [[nodiscard]] double dram() const { return dram_; }
  // Memory controller.
  [[nodiscard]] double amcc() const { return amcc_; }
  // Memory interface.
  [[nodiscard]] double dcs() const { return dcs_; }
  // Built-in display pipeline.
  [[nodiscard]] double display() const { return display_; }
  // External display pipeline.
  [[nodiscard]] double displayExt() const { return displayExt_; }
  [[nodiscard]] double fabric() const { return fabric_; }
  // Image signal processor.
  [[nodiscard]] double isp() const { return isp_; }
  // Media engines, summed.
  [[nodiscard]] double media() const { return media_; }
  // Every channel whose name holds "dtl"; not part of `socTotal`.
  [[nodiscard]] const std::vector<ChannelPower>& dtlChannels() const { return dtlChannels_; }
  // Channels that matched no domain.
  [[nodiscard]] const std::vector<ChannelPower>& other() const { return other_; }
  // The machine's own energy domains, named as the machine names them (on a
  // PC "Package", "Cores", "Graphics", "DRAM", "Platform"); empty where the
  // machine has none apart from its channels. They overlap one another and
  // the figures above, so they are listed, never added: not part of
  // `socTotal`. Written to JSON only when there are some.
  [[nodiscard]] const std::vector<ChannelPower>& domains() const { return domains_; }

  // Whole-chip power: `cpuTotal` + `gpu` + `ane` + `dram` + `amcc` + `dcs` +
  // `display` + `displayExt` + `fabric` + `isp` + `media` + the watts of `other`.
  // The sum over `other` is formed first, the named terms are added left to right
  // in that order, then the two partial sums are added. Derived: never in JSON.
  [[nodiscard]] double socTotal() const;

  bool operator==(const EnergyBreakdown&) const = default;

 private:
  std::vector<ChannelPower> cpuCores_;
  std::vector<ChannelPower> cpuClusters_;
  double cpuTotal_;
  double gpu_;
  double gpuEnergy_;
  double ane_;
  double dram_;
  double amcc_;
  double dcs_;
  double display_;
  double displayExt_;
  double fabric_;
  double isp_;
  double media_;
  std::vector<ChannelPower> dtlChannels_;
  std::vector<ChannelPower> other_;
  std::vector<ChannelPower> domains_;
};

// One complete sample over one interval.
class PowerSnapshot {
 public:
  PowerSnapshot(std::chrono::system_clock::time_point timestamp, double duration,
                double cpuPower, double gpuPower, double anePower, double dramPower,
                double totalPower, double eCpuPower, double pCpuPower,
                std::optional<double> cpuTemp, std::optional<double> gpuTemp,
                std::vector<double> coreTemps, double cpuUsage, double gpuUsage,
                double eCpuUsage, double pCpuUsage, std::vector<double> cpuUsagePerCore,
                double gpuFreqMHz, MemoryBandwidth memBandwidth, std::vector<FanInfo> fans,
                EnergyBreakdown energyBreakdown, std::optional<double> platformPower);

  // When the sample began (before the first counter reading).
  [[nodiscard]] std::chrono::system_clock::time_point timestamp() const { return timestamp_; }
  // The requested sampling interval in seconds (not a measured elapsed time).
  [[nodiscard]] double duration() const { return duration_; }
  // Powers in watts.
  [[nodiscard]] double cpuPower() const { return cpuPower_; }
  [[nodiscard]] double gpuPower() const { return gpuPower_; }
  [[nodiscard]] double anePower() const { return anePower_; }
  [[nodiscard]] double dramPower() const { return dramPower_; }
  // Whole chip: `energyBreakdown().socTotal()`.
  [[nodiscard]] double totalPower() const { return totalPower_; }
  // Efficiency and performance CPU clusters.
  [[nodiscard]] double eCpuPower() const { return eCpuPower_; }
  [[nodiscard]] double pCpuPower() const { return pCpuPower_; }
  // Degrees Celsius; absent when no source delivered one.
  [[nodiscard]] std::optional<double> cpuTemp() const { return cpuTemp_; }
  [[nodiscard]] std::optional<double> gpuTemp() const { return gpuTemp_; }
  // Per-core temperatures in °C, in the order of the temperature-sensor reader; may be empty.
  [[nodiscard]] const std::vector<double>& coreTemps() const { return coreTemps_; }
  // Usage fractions 0..1.
  [[nodiscard]] double cpuUsage() const { return cpuUsage_; }
  [[nodiscard]] double gpuUsage() const { return gpuUsage_; }
  [[nodiscard]] double eCpuUsage() const { return eCpuUsage_; }
  [[nodiscard]] double pCpuUsage() const { return pCpuUsage_; }
  // Busy fraction per logical CPU in processor order; empty on the first sample
  // after the number of CPUs changed.
  [[nodiscard]] const std::vector<double>& cpuUsagePerCore() const { return cpuUsagePerCore_; }
  // Residency-weighted mean GPU frequency in MHz; 0 when nothing active was seen.
  [[nodiscard]] double gpuFreqMHz() const { return gpuFreqMHz_; }
  // Always present; all zeros when nothing was measured.
  [[nodiscard]] const MemoryBandwidth& memBandwidth() const { return memBandwidth_; }
  // One entry per fan in the fan reader's order; empty on a fanless machine.
  [[nodiscard]] const std::vector<FanInfo>& fans() const { return fans_; }
  // Per-domain split of the same interval; always present.
  [[nodiscard]] const EnergyBreakdown& energyBreakdown() const { return energyBreakdown_; }
  // The whole platform's power (the processor's packages, memory, display
  // and more, as the platform's own counter measures it: the closest figure
  // to the power drawn from the wall); absent where the machine has no such
  // counter. It holds the figures above, so it is never added to them.
  [[nodiscard]] std::optional<double> platformPower() const { return platformPower_; }

  bool operator==(const PowerSnapshot&) const = default;

 private:
  std::chrono::system_clock::time_point timestamp_;
  double duration_;
  double cpuPower_;
  double gpuPower_;
  double anePower_;
  double dramPower_;
  double totalPower_;
  double eCpuPower_;
  double pCpuPower_;
  std::optional<double> cpuTemp_;
  std::optional<double> gpuTemp_;
  std::vector<double> coreTemps_;
  double cpuUsage_;
  double gpuUsage_;
  double eCpuUsage_;
  double pCpuUsage_;
  std::vector<double> cpuUsagePerCore_;
  double gpuFreqMHz_;
  MemoryBandwidth memBandwidth_;
  std::vector<FanInfo> fans_;
  EnergyBreakdown energyBreakdown_;
  std::optional<double> platformPower_;
};

// The energy of one named measuring window, in joules, over `duration` seconds
// measured between its start and its end.
class EnergyMetrics {
 public:
  EnergyMetrics(double duration, double cpuEnergy, double gpuEnergy, double aneEnergy,
                double dramEnergy, double totalEnergy);

  [[nodiscard]] double duration() const { return duration_; }
  [[nodiscard]] double cpuEnergy() const { return cpuEnergy_; }
  [[nodiscard]] double gpuEnergy() const { return gpuEnergy_; }
  [[nodiscard]] double aneEnergy() const { return aneEnergy_; }
  [[nodiscard]] double dramEnergy() const { return dramEnergy_; }
  [[nodiscard]] double totalEnergy() const { return totalEnergy_; }

  // Mean powers in watts: energy / `duration`, and 0 when `duration` is not
  // above 0. Derived: never written to JSON.
  [[nodiscard]] double cpuPowerAvg() const;
  [[nodiscard]] double gpuPowerAvg() const;
  [[nodiscard]] double anePowerAvg() const;
  [[nodiscard]] double totalPowerAvg() const;

  bool operator==(const EnergyMetrics&) const = default;

 private:
  double duration_;
  double cpuEnergy_;
  double gpuEnergy_;
  double aneEnergy_;
  double dramEnergy_;
  double totalEnergy_;
};

// The metrics core's error: thrown only where a measurement cannot be taken at
// all (creating the counter subscription, taking a raw sample). Each case has a
// fixed description and nothing more; `what()` returns that description.
class PMError : public std::exception {
 public:
  enum class Kind { channelNotFound, subscriptionFailed, smcConnectionFailed, sampleFailed };

  // Each case's description is the given one, the backend's own words, or
  // when that is empty the counter-reporting library's:
  // "IOReport channel group '<group>' not found"
  [[nodiscard]] static PMError channelNotFound(std::string group, std::string description = {});
  // "Failed to create IOReport subscription"
  [[nodiscard]] static PMError subscriptionFailed(std::string description = {});
  // "Failed to connect to SMC"
  [[nodiscard]] static PMError smcConnectionFailed();
  // "Failed to take IOReport sample"
  [[nodiscard]] static PMError sampleFailed(std::string description = {});

  [[nodiscard]] Kind kind() const noexcept { return kind_; }
  // The channel group of `channelNotFound`; empty for every other case.
  [[nodiscard]] const std::string& group() const noexcept { return group_; }
  [[nodiscard]] const std::string& description() const noexcept { return description_; }
  // The case as written in code: `channelNotFound("<group>")`, `subscriptionFailed`,
  // `smcConnectionFailed` or `sampleFailed`.
  [[nodiscard]] std::string caseName() const;

  [[nodiscard]] const char* what() const noexcept override { return description_.c_str(); }

 private:
  PMError(Kind kind, std::string group, std::string description);

  Kind kind_;
  std::string group_;
  std::string description_;
};

}  // namespace calorim
