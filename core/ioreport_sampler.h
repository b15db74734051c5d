#pragma once
// The counter sampler: subscribes to the energy and performance-state counter
// groups and turns the delta of two raw samples into powers (W), usage
// fractions (0..1), a mean GPU frequency (MHz) and memory bandwidth (GB/s,
// 1 GB = 2^30 bytes), plus the per-domain energy breakdown.
//
// Every parse is one pass over the delta in channel order, keeps its
// accumulators local and is safe to call from several threads at once.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/counter_report_port.h"
#include "core/platform/registry_port.h"
#include "core/records.h"

namespace calorim {

// Average powers of one interval, W.
struct PowerReading {
  double cpu = 0;
  double gpu = 0;
  double ane = 0;
  double dram = 0;
  double eCpu = 0;
  double pCpu = 0;
};

// Active-state shares of one interval, 0..1.
struct UsageReading {
  double cpu = 0;
  double gpu = 0;
  double eCpu = 0;
  double pCpu = 0;
};

// One GPU's figures over one interval, each absent where the machine did not
// measure it: power in W, the busy fraction 0..1, the clock in MHz.
struct GpuDeviceReading {
  std::string id;  // the channel's name: the GPU as the counters know it
  std::optional<double> watts;
  std::optional<double> busy;
  std::optional<double> clockMHz;

  bool operator==(const GpuDeviceReading&) const = default;
};

// Memory traffic of one interval, GB/s.
struct BandwidthReading {
  double cpuRead = 0;
  double cpuWrite = 0;
  double gpuRead = 0;
  double gpuWrite = 0;
  double mediaRead = 0;
  double mediaWrite = 0;
  double totalRead = 0;
  double totalWrite = 0;

  [[nodiscard]] MemoryBandwidth toMemoryBandwidth() const;
};

// Whether a sampler may do without the energy group: a monitor that still
// shows usage and temperatures where the energy counters cannot be read.
enum class EnergyCounters { required, optional };

class IOReportSampler {
 public:
  static constexpr std::string_view kEnergyGroup = "Energy Model";
  static constexpr std::string_view kCpuGroup = "CPU Stats";
  static constexpr std::string_view kCpuSubgroup = "CPU Core Performance States";
  static constexpr std::string_view kGpuGroup = "GPU Stats";
  static constexpr std::string_view kGpuSubgroup = "GPU Performance States";
  // The machine's own energy domains, named as the machine names them, in the
  // energy group's unit. A platform may give them with the energy group, in
  // the same delta. They overlap one another and the energy channels: they
  // are listed (EnergyBreakdown::domains), never added. The domain named
  // `kPlatformDomain` is the whole platform (PowerSnapshot::platformPower).
  static constexpr std::string_view kDomainGroup = "Energy Domains";
  static constexpr std::string_view kPlatformDomain = "Platform";
  // One channel per GPU of a machine that lists them one by one: its energy
  // (no unit where it is not measured) and its busy and clock states.
  static constexpr std::string_view kGpuDevicesGroup = "GPU Devices";

  // Subscribes to the energy group and, when they exist, the CPU and GPU
  // performance-state groups and the GPU devices, then loads the GPU
  // frequency table.
  // Throws PMError: channelNotFound("Energy Model") when the energy group does
  // not exist (with `optional` energy: when none of the three groups exists),
  // subscriptionFailed when the subscription cannot be made.
  IOReportSampler(CounterReportPort& counters, RegistryPort& registry,
                  EnergyCounters energy = EnergyCounters::required);

  // Whether the energy group is among the subscribed ones.
  [[nodiscard]] bool hasEnergy() const { return hasEnergy_; }

  [[nodiscard]] const CounterSubscription& subscription() const { return *subscription_; }
  [[nodiscard]] const ChannelSet& channels() const { return *channels_; }
  // Frequency (MHz) of GPU state "P<k+1>" at index k; may be empty.
  [[nodiscard]] const std::vector<double>& gpuDVFS() const { return gpuDVFS_; }

  // Average powers of the energy channels over `duration` seconds (all 0 when
  // the duration is not above 0).
  [[nodiscard]] static PowerReading parsePower(const CounterDelta& delta, double duration);
  // CPU cluster and GPU usage from the state residencies; 0 where no residency was seen.
  [[nodiscard]] static UsageReading parseUsage(const CounterDelta& delta);
  // Residency-weighted mean GPU frequency over the active states, MHz; 0 when none is known.
  [[nodiscard]] double parseGPUFreq(const CounterDelta& delta) const;
  // One reading per channel of the GPU devices group, in channel order; empty
  // without that group. Power is the channel's energy over `duration` seconds
  // (absent without a unit, or without a duration), busy the share of its
  // active states (absent without residency), the clock that of its "P<n>"
  // state by the frequency table, also while the GPU idles.
  [[nodiscard]] std::vector<GpuDeviceReading> parseGpuDevices(const CounterDelta& delta, double duration) const;
  // Memory traffic from the memory-controller channels over `duration` seconds.
  [[nodiscard]] static BandwidthReading parseBandwidth(const CounterDelta& delta, double duration);

  // The GPU frequency table from the first I/O device that publishes one; empty when none does.
  [[nodiscard]] static std::vector<double> loadGPUDVFS(RegistryPort& registry);

 private:
  std::unique_ptr<CounterSubscription> subscription_;
  std::unique_ptr<ChannelSet> channels_;
  std::vector<double> gpuDVFS_;
  bool hasEnergy_ = false;
};

namespace detail {

// Watts of one energy channel over `duration` seconds; absent when the channel
// is not an energy channel or its value is below 1.
[[nodiscard]] std::optional<double> energyWatts(const Channel& channel, double duration);
// Watts of one channel of the domain group over `duration` seconds (0 for
// no energy); absent for a channel of any other group.
[[nodiscard]] std::optional<double> domainWatts(const Channel& channel, double duration);

}  // namespace detail
}  // namespace calorim
