#include "core/ioreport_sampler.h"

#include <array>
#include <charconv>
#include <utility>

#include "core/base/little_endian.h"
#include "core/base/text.h"
#include "core/base/units.h"

namespace calorim {
namespace {

bool isInactiveState(std::string_view name) { return name == "IDLE" || name == "OFF"; }

// The state number n of a GPU state "P<n>"; absent when the rest is not a decimal integer.
std::optional<long long> gpuStateNumber(std::string_view name) {
  std::string_view digits = name.substr(1);
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  long long n = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) return std::nullopt;
  return n;
}

// The power of one kind of CPU core. A chip may report a cluster channel (EACC_CPU,
// PACC0_CPU, ECPU) next to the channels of the cluster's cores (EACC_CPU0, PCPU3); the
// cluster already holds its cores, so the cores count only where no cluster is reported.
struct CpuKindSums {
  double clusters = 0;
  double cores = 0;
  bool anyCluster = false;

  void add(std::string_view lowerName, double watts) {
    const bool core = !lowerName.empty() && lowerName.back() >= '0' && lowerName.back() <= '9';
    if (core) {
      cores += watts;
    } else {
      clusters += watts;
      anyCluster = true;
    }
  }
  [[nodiscard]] double total() const { return anyCluster ? clusters : cores; }
};

}  // namespace

namespace detail {

std::optional<double> energyWatts(const Channel& channel, double duration) {
  if (channel.group != IOReportSampler::kEnergyGroup || channel.value < 1) return std::nullopt;
  if (!(duration > 0)) return 0.0;
  return static_cast<double>(channel.value) / unitsPerJoule(channel.unitLabel) / duration;
}

std::optional<double> domainWatts(const Channel& channel, double duration) {
  if (channel.group != IOReportSampler::kDomainGroup) return std::nullopt;
  if (!(duration > 0) || channel.value < 1) return 0.0;
  return static_cast<double>(channel.value) / unitsPerJoule(channel.unitLabel) / duration;
}

}  // namespace detail

MemoryBandwidth BandwidthReading::toMemoryBandwidth() const {
  return MemoryBandwidth(cpuRead, cpuWrite, gpuRead, gpuWrite, mediaRead, mediaWrite, totalRead, totalWrite);
}

IOReportSampler::IOReportSampler(CounterReportPort& counters, RegistryPort& registry, EnergyCounters energy) {
  std::unique_ptr<ChannelSet> merged = counters.copyChannelsInGroup(kEnergyGroup, std::nullopt);
  hasEnergy_ = merged != nullptr;
  const auto missingEnergy = [&] {
    return PMError::channelNotFound(std::string(kEnergyGroup),
                                    counters.failureText(CounterFailure::groupMissing, kEnergyGroup));
  };
  if (!merged && energy == EnergyCounters::required) throw missingEnergy();
  for (auto [group, subgroup] : {std::pair(kCpuGroup, kCpuSubgroup), std::pair(kGpuGroup, kGpuSubgroup),
                                 std::pair(kGpuDevicesGroup, std::string_view())}) {
    std::unique_ptr<ChannelSet> more = counters.copyChannelsInGroup(group, subgroup);
    if (!more) continue;
    if (merged) {
      counters.mergeChannels(*merged, *more);
    } else {
      merged = std::move(more);
    }
  }
  if (!merged) throw missingEnergy();

  std::unique_ptr<ChannelSet> subscribed;
  subscription_ = counters.createSubscription(*merged, subscribed);
  if (!subscription_ || !subscribed) {
    throw PMError::subscriptionFailed(counters.failureText(CounterFailure::subscriptionFailed, {}));
  }
  channels_ = std::move(subscribed);
  gpuDVFS_ = loadGPUDVFS(registry);
}

std::vector<double> IOReportSampler::loadGPUDVFS(RegistryPort& registry) {
  static constexpr std::array<std::string_view, 3> kTableKeys = {"voltage-states9", "voltage-states9-sram",
                                                                  "voltage-states11-sram"};
  // Only the table's own properties are read: a device's whole property set
  // is large, and there are many devices of this class.
  for (const auto& service : registry.matchingServices("AppleARMIODevice")) {
    for (std::string_view key : kTableKeys) {
      const std::optional<RegistryValue> value = registry.property(*service, key);
      const RegistryBytes* bytes = value ? value->as<RegistryBytes>() : nullptr;
      if (bytes == nullptr) continue;
      // Records of 8 bytes: frequency in Hz (32-bit little-endian), then a voltage.
      std::vector<double> table;
      for (std::size_t at = 0; at + 4 <= bytes->size(); at += 8) {
        const double mhz = loadLE32(*bytes, at) / kHzPerMHz;
        if (mhz > 0) table.push_back(mhz);
      }
      if (!table.empty()) return table;
    }
  }
  return {};
}

PowerReading IOReportSampler::parsePower(const CounterDelta& delta, double duration) {
  PowerReading r;
  CpuKindSums efficiency, performance;
  for (const Channel& channel : delta) {
    const std::optional<double> watts = detail::energyWatts(channel, duration);
    if (!watts) continue;
    const double w = *watts;
    const std::string name = lowerCase(channel.name);
    const bool dtl = contains(name, "dtl");

    if (name == "cpu energy") {
      r.cpu = w;
    } else if (name == "gpu energy") {
      r.gpu = w;
    } else if (contains(name, "ane") && !dtl) {
      r.ane += w;
    } else if (name == "dram") {
      r.dram = w;
    }

    if (dtl) continue;
    const bool shortName = characterCount(name) < 12;
    CpuKindSums* kind = nullptr;
    if (contains(name, "eacc") || (contains(name, "ecpu") && shortName)) {
      kind = &efficiency;
    } else if (contains(name, "pacc") || (contains(name, "pcpu") && shortName)) {
      kind = &performance;
    }
    if (kind != nullptr) kind->add(name, w);
  }
  r.eCpu = efficiency.total();
  r.pCpu = performance.total();
  return r;
}

UsageReading IOReportSampler::parseUsage(const CounterDelta& delta) {
  std::uint64_t eActive = 0, eTotal = 0, pActive = 0, pTotal = 0, gpuActive = 0, gpuTotal = 0;
  for (const Channel& channel : delta) {
    if (channel.states.empty()) continue;
    if (channel.group == kCpuGroup) {
      const std::string_view name = channel.name;
      const bool efficiency = contains(name, "ECPU") || contains(name, "ecpu");
      const bool performance =
          !efficiency && (contains(name, "PCPU") || contains(name, "pcpu") || contains(name, "PACC"));
      std::uint64_t active = 0, total = 0;
      for (const ChannelState& state : channel.states) {
        total += state.residency;
        if (!isInactiveState(state.name)) active += state.residency;
      }
      (performance ? pActive : eActive) += active;
      (performance ? pTotal : eTotal) += total;
    } else if (channel.group == kGpuGroup) {
      for (const ChannelState& state : channel.states) {
        gpuTotal += state.residency;
        if (!isInactiveState(state.name)) gpuActive += state.residency;
      }
    }
  }
  auto share = [](std::uint64_t part, std::uint64_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
  };
  UsageReading u;
  u.cpu = share(eActive + pActive, eTotal + pTotal);
  u.gpu = share(gpuActive, gpuTotal);
  u.eCpu = share(eActive, eTotal);
  u.pCpu = share(pActive, pTotal);
  return u;
}

double IOReportSampler::parseGPUFreq(const CounterDelta& delta) const {
  double weighted = 0;
  std::uint64_t residencies = 0;
  for (const Channel& channel : delta) {
    if (channel.group != kGpuGroup || channel.states.size() <= 1) continue;
    for (const ChannelState& state : channel.states) {
      if (state.residency == 0 || isInactiveState(state.name) || !state.name.starts_with("P")) continue;
      const std::optional<long long> n = gpuStateNumber(state.name);
      if (!n || *n <= 0 || static_cast<unsigned long long>(*n) > gpuDVFS_.size()) continue;
      weighted += gpuDVFS_[static_cast<std::size_t>(*n - 1)] * static_cast<double>(state.residency);
      residencies += state.residency;
    }
  }
  return residencies == 0 ? 0.0 : weighted / static_cast<double>(residencies);
}

std::vector<GpuDeviceReading> IOReportSampler::parseGpuDevices(const CounterDelta& delta, double duration) const {
  std::vector<GpuDeviceReading> readings;
  for (const Channel& channel : delta) {
    if (channel.group != kGpuDevicesGroup) continue;
    GpuDeviceReading r;
    r.id = channel.name;
    if (!channel.unitLabel.empty() && duration > 0 && channel.value >= 0) {
      r.watts = static_cast<double>(channel.value) / unitsPerJoule(channel.unitLabel) / duration;
    }
    std::uint64_t active = 0, total = 0;
    for (const ChannelState& state : channel.states) {
      total += state.residency;
      if (isInactiveState(state.name)) continue;
      active += state.residency;
      const std::optional<long long> n = state.name.starts_with("P") ? gpuStateNumber(state.name) : std::nullopt;
      if (!r.clockMHz && n && *n > 0 && static_cast<unsigned long long>(*n) <= gpuDVFS_.size()) {
        r.clockMHz = gpuDVFS_[static_cast<std::size_t>(*n - 1)];
      }
    }
    if (total > 0) r.busy = static_cast<double>(active) / static_cast<double>(total);
    readings.push_back(std::move(r));
  }
  return readings;
}

BandwidthReading IOReportSampler::parseBandwidth(const CounterDelta& delta, double duration) {
  BandwidthReading b;
  for (const Channel& channel : delta) {
    const std::string_view name = channel.name;
    if (channel.group != "AMC Stats" || !contains(name, "DCS") || channel.value <= 0) continue;
    const double gbs = duration > 0 ? static_cast<double>(channel.value) / duration / kBytesPerGB : 0.0;
    bool read = false;
    if (name.ends_with("RD")) {
      read = true;
    } else if (!name.ends_with("WR")) {
      continue;
    }
    if (name.starts_with("AFI")) {
      (read ? b.totalRead : b.totalWrite) = gbs;
    } else if (name.starts_with("ECPU") || name.starts_with("PCPU")) {
      (read ? b.cpuRead : b.cpuWrite) += gbs;
    } else if (name.starts_with("GFX")) {
      (read ? b.gpuRead : b.gpuWrite) += gbs;
    } else if (name.starts_with("AVE") || name.starts_with("AVD") || name.starts_with("MSR") ||
               name.starts_with("PRORES") || name.starts_with("ISP")) {
      (read ? b.mediaRead : b.mediaWrite) += gbs;
    }
  }
  if (b.totalRead == 0) b.totalRead = b.cpuRead + b.gpuRead + b.mediaRead;
  if (b.totalWrite == 0) b.totalWrite = b.cpuWrite + b.gpuWrite + b.mediaWrite;
  return b;
}

}  // namespace calorim
