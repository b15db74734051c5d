#pragma once
// The counter-reports port on Linux: RAPL energy counters and /proc/stat CPU
// time, read under a root directory ("/" in the product, a fixture tree in tests).
//
// Channels, fixed once at construction:
//  - group "Energy Model" (empty subgroup), unit "uJ", in this order and only
//    when their zones exist and are readable:
//      "CPU Energy"   the core zones, or the package zones when there is no core zone;
//      "GPU"          the uncore (integrated graphics) zones;
//      "DRAM"         the dram zones;
//      "Package rest" packages minus core minus uncore, never below 0; only next
//                     to core zones (otherwise "CPU Energy" already is the package).
//  - group "CPU Stats", subgroup "CPU Core Performance States": one channel per
//    logical CPU of /proc/stat, "ECPU<n>" for efficiency and "PCPU<n>" for
//    performance cores (all "PCPU" on machines with one kind of core), with the
//    states "ACTIVE" (user+nice+system+irq+softirq ticks) and "IDLE"
//    (idle+iowait ticks).
// There is no "GPU Stats" group.
//
// A raw sample holds each zone's `energy_uj` (kept open, re-read with pread)
// and the per-CPU ticks. A zone or CPU that cannot be read in one of the two
// samples contributes 0; taking a sample never fails.
//
// Samples and deltas may be taken on several threads at once (the facade
// begins and ends energy windows while a snapshot samples): the kept files are
// read under one lock, and everything else a sample or a delta reads is fixed
// at construction.

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/counter_report_port.h"
#include "core/platform/linux/powercap.h"
#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {

class LinuxCounterReports final : public CounterReportPort {
 public:
  static constexpr std::string_view kEnergyGroup = "Energy Model";
  static constexpr std::string_view kCpuGroup = "CPU Stats";
  static constexpr std::string_view kCpuSubgroup = "CPU Core Performance States";
  static constexpr std::string_view kEnergyUnit = "uJ";

  // Discovers the zones and CPUs under `root` once and opens the energy
  // counters; reads a few small files, never throws for missing ones.
  explicit LinuxCounterReports(std::filesystem::path root);
  ~LinuxCounterReports() override;

  // Null for "Energy Model" without a readable zone, for "CPU Stats" without
  // per-CPU lines in /proc/stat, for a subgroup other than the group's own and
  // for every other group.
  std::unique_ptr<ChannelSet> copyChannelsInGroup(std::string_view group,
                                                  std::optional<std::string_view> subgroup) override;
  void mergeChannels(ChannelSet& target, const ChannelSet& source) override;
  std::unique_ptr<CounterSubscription> createSubscription(const ChannelSet& channels,
                                                          std::unique_ptr<ChannelSet>& subscribed) override;
  // Reads the subscribed counters; blocks only for the file reads and for
  // another thread's reading of the energy counters. Null only for handles
  // that did not come from this port.
  std::unique_ptr<RawSample> createSamples(const CounterSubscription& subscription,
                                           const ChannelSet& subscribed) override;
  // Energy channels first, then CPU channels in CPU order; only the groups
  // present in both samples. Absent for samples that did not come from this port.
  std::optional<CounterDelta> createSamplesDelta(const RawSample& earlier, const RawSample& later) override;

  // The names of the energy channels and CPU channels, in delta order.
  [[nodiscard]] std::vector<std::string> energyChannelNames() const;
  [[nodiscard]] std::vector<std::string> cpuChannelNames() const;

 private:
  struct Zone {
    RaplDomain domain;
    std::uint64_t maxEnergyRangeUj;
    KeptFile energy;
  };
  struct Cpu {
    int number;
    std::string name;
  };

  std::filesystem::path root_;
  std::mutex mutex_;  // guards the kept files
  std::vector<Zone> zones_;
  std::vector<Cpu> cpus_;
  std::vector<std::string> energyNames_;  // in delta order
  bool coreZones_ = false;                // "CPU Energy" sums core zones, not packages
};

}  // namespace calorim::sysfs
