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
//    When a GPU has energy of its own (a discrete card), "GPU Energy" and
//    "GPU" both give the sum of every GPU: the cards' own energy and the
//    uncore zones. A GPU without energy of its own (an APU, a card that only
//    reports a temperature) adds nothing.
//  - group "Energy Domains" (empty subgroup), unit "uJ", with the energy group
//    and in the same delta: the RAPL domains as the machine names them, each
//    the sum of its zones over the packages, in this order and only where
//    they exist: "Package", "Cores", "Graphics" (uncore), "DRAM" and
//    "Platform" (psys, the whole platform, packages included). They overlap
//    one another and the energy channels: they are to be shown, never added.
//  - group "CPU Stats", subgroup "CPU Core Performance States": one channel per
//    logical CPU of /proc/stat, "ECPU<n>" for efficiency and "PCPU<n>" for
//    performance cores (all "PCPU" on machines with one kind of core), with the
//    states "ACTIVE" (user+nice+system+irq+softirq ticks) and "IDLE"
//    (idle+iowait ticks).
//  - group "GPU Stats", subgroup "GPU Performance States", when the machine
//    has a GPU set: one channel, the GPU that used the most energy within the
//    delta (the first on a tie; the first GPU when the delta has no energy),
//    named as that GPU, with the states "IDLE" and "P<MHz>" (its clock, 1 to
//    GpuSet::kMaxClockMHz) or "ACTIVE" (clock unknown), whose residencies
//    split one million by the GPU's busy fraction; both 0 when the two
//    samples were taken at one moment. Absent from a delta when that GPU's
//    busy fraction could not be read. The delta tells the set which
//    GPU it chose, so that the sensors port reports the same GPU's temperature.
//  - group "GPU Devices" (empty subgroup), when the machine has a GPU set: one
//    channel per GPU in the set's order (the order of the registry's
//    "IOAccelerator" services), named as the GPU. Its value is the GPU's
//    energy over the delta with unit "uJ" (the card's own, or the uncore
//    zones' for integrated Intel graphics); unit "" and value 0 where that
//    energy is not known (an APU, a card without power files, a reading that
//    failed). Its states are those of the "GPU Stats" channel for that GPU;
//    without a busy fraction only "P<MHz>" with no residency where the clock
//    is known, else none.
//
// The energy channels are looked for again, while none was found, whenever the
// energy group is asked for and whenever `energyAccess` is: counters made
// readable while the program runs (an administrator granting access) are
// picked up then. Once found, the channels stay fixed.
//
// A raw sample holds each zone's `energy_uj` (kept open, re-read with pread)
// and the per-CPU ticks. A zone or CPU that cannot be read in one of the two
// samples contributes 0; taking a sample never fails.
//
// Samples and deltas may be taken on several threads at once (the facade
// begins and ends energy windows while a snapshot samples): the kept files are
// read under one lock, which also guards the search for energy channels, and
// everything else a sample or a delta reads is fixed once the energy
// channels were found (samples of the energy group exist only after that).

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/counter_report_port.h"
#include "core/platform/linux/gpus.h"
#include "core/platform/linux/powercap.h"
#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {

class LinuxCounterReports final : public CounterReportPort {
 public:
  static constexpr std::string_view kEnergyGroup = "Energy Model";
  static constexpr std::string_view kCpuGroup = "CPU Stats";
  static constexpr std::string_view kCpuSubgroup = "CPU Core Performance States";
  static constexpr std::string_view kEnergyUnit = "uJ";
  static constexpr std::string_view kGpuGroup = "GPU Stats";
  static constexpr std::string_view kGpuSubgroup = "GPU Performance States";
  static constexpr std::string_view kDomainGroup = "Energy Domains";
  static constexpr std::string_view kGpuDevicesGroup = "GPU Devices";

  // Discovers the zones and CPUs under `root` and opens the energy
  // counters; reads a few small files, never throws for missing ones. `gpus`
  // may be null: a machine with no GPU beyond RAPL's.
  explicit LinuxCounterReports(std::filesystem::path root, std::shared_ptr<GpuSet> gpus = nullptr);
  ~LinuxCounterReports() override;

  // Null for "Energy Model" without a readable zone or GPU energy, for "CPU
  // Stats" without per-CPU lines in /proc/stat, for "GPU Stats" and "GPU
  // Devices" without a GPU,
  // for a subgroup other than the group's own and for every other group.
  std::unique_ptr<ChannelSet> copyChannelsInGroup(std::string_view group,
                                                  std::optional<std::string_view> subgroup) override;
  void mergeChannels(ChannelSet& target, const ChannelSet& source) override;
  // `readable` when the energy group exists, else `denied` or `absent` by
  // the RAPL counters under <root>/sys/class/powercap, the folder it names.
  EnergyAccess energyAccess() override;
  // In Linux terms: the RAPL counters missing or refused to this user (by
  // `energyAccess`), a /proc/stat without per-CPU lines, a GPU set that is
  // not there, files that could not be read.
  std::string failureText(CounterFailure failure, std::string_view group) override;
  std::unique_ptr<CounterSubscription> createSubscription(const ChannelSet& channels,
                                                          std::unique_ptr<ChannelSet>& subscribed) override;
  // Reads the subscribed counters; blocks only for the file reads and for
  // another thread's reading of the energy counters. Null only for handles
  // that did not come from this port.
  std::unique_ptr<RawSample> createSamples(const CounterSubscription& subscription,
                                           const ChannelSet& subscribed) override;
  // Energy channels first, then the domains, then CPU channels in CPU order,
  // then the GPU channel, then the GPU devices; only the groups present in
  // both samples. Absent for samples that did not come from this port.
  std::optional<CounterDelta> createSamplesDelta(const RawSample& earlier, const RawSample& later) override;

  // The names of the energy channels, in delta order.
  [[nodiscard]] std::vector<std::string> energyChannelNames() const;

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
  enum class Energy { cpu, uncore, dram, rest, gpuTotal };
  struct EnergyChannel {
    std::string name;
    Energy kind;
  };
  struct DomainChannel {
    std::string name;
    RaplDomain domain;
  };

  // Looks for the energy zones and channels; under `mutex_`, while `energy_` is empty.
  void discoverEnergy();

  std::filesystem::path root_;
  mutable std::mutex mutex_;  // guards the kept files and the search for energy channels
  std::vector<Zone> zones_;
  std::vector<Cpu> cpus_;
  std::shared_ptr<GpuSet> gpus_;           // null or not empty
  std::vector<EnergyChannel> energy_;      // in delta order
  std::vector<DomainChannel> domains_;     // in delta order; only next to energy channels
  bool coreZones_ = false;                // "CPU Energy" sums core zones, not packages
};

}  // namespace calorim::sysfs
