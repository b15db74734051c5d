#include "core/platform/linux/linux_counter_reports.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "core/platform/linux/cpu_topology.h"
#include "core/platform/linux/proc_stat.h"

namespace calorim::sysfs {
namespace {

constexpr std::string_view kCpuEnergy = "CPU Energy";
constexpr std::string_view kGpu = "GPU";
constexpr std::string_view kDram = "DRAM";
constexpr std::string_view kPackageRest = "Package rest";
constexpr std::string_view kGpuTotal = "GPU Energy";
constexpr std::string_view kActive = "ACTIVE";
constexpr std::string_view kIdle = "IDLE";
// The RAPL domains by the names the machine's makers give them, in delta order.
constexpr std::pair<RaplDomain, std::string_view> kDomainNames[] = {{RaplDomain::package, "Package"},
                                                                     {RaplDomain::core, "Cores"},
                                                                     {RaplDomain::uncore, "Graphics"},
                                                                     {RaplDomain::dram, "DRAM"},
                                                                     {RaplDomain::platform, "Platform"}};
// GPU residencies split this many parts by the busy fraction.
constexpr std::uint64_t kGpuParts = 1'000'000;

// Which groups a set, subscription or sample covers. `owner` ties the handle to
// the port that made it.
struct Groups {
  const void* owner = nullptr;
  bool energy = false;
  bool cpu = false;
  bool gpu = false;
  bool devices = false;
};

struct SysfsChannelSet final : ChannelSet {
  explicit SysfsChannelSet(Groups g) : groups(g) {}
  Groups groups;
};

struct SysfsSubscription final : CounterSubscription {
  explicit SysfsSubscription(Groups g) : groups(g) {}
  Groups groups;
};

struct SysfsRawSample final : RawSample {
  Groups groups;
  std::vector<std::optional<std::uint64_t>> energyUj;  // per zone
  std::vector<std::optional<ProcStatCpu>> ticks;       // per CPU channel
  std::vector<GpuSample> gpus;                         // per GPU of the set
};

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

std::int64_t toValue(std::uint64_t uj) {
  return static_cast<std::int64_t>(std::min<std::uint64_t>(uj, std::numeric_limits<std::int64_t>::max()));
}

// A tick counter that went back (iowait can) adds nothing.
std::uint64_t forward(std::uint64_t before, std::uint64_t after) { return after > before ? after - before : 0; }

Channel energyChannel(std::string_view group, std::string_view name, std::uint64_t uj) {
  return Channel{std::string(group), "", std::string(name), std::string(LinuxCounterReports::kEnergyUnit), toValue(uj),
                 {}};
}

// The busy fraction of a GPU between two samples: its own reading at the
// later one, else its idle residency over the time between them.
std::optional<double> gpuBusy(const GpuSample& a, const GpuSample& b) {
  if (b.busy) return b.busy;
  if (!a.idleMs || !b.idleMs) return std::nullopt;
  return busyFromIdle(forward(*a.idleMs, *b.idleMs), std::chrono::duration<double, std::milli>(b.at - a.at).count());
}

// The state of a GPU running at `clockMHz`, "P<MHz>"; absent without a clock
// from 1 to GpuSet::kMaxClockMHz.
std::optional<std::string> clockState(std::optional<double> clockMHz) {
  if (!clockMHz || !(*clockMHz >= 0.5 && *clockMHz < GpuSet::kMaxClockMHz + 0.5)) return std::nullopt;
  return "P" + std::to_string(std::llround(*clockMHz));
}

// A GPU's states: "IDLE" and "P<MHz>" (or "ACTIVE" without a clock) splitting
// `parts` by its busy fraction.
std::vector<ChannelState> gpuStates(double busy, std::optional<double> clockMHz, std::uint64_t parts = kGpuParts) {
  const auto active = static_cast<std::uint64_t>(std::llround(busy * static_cast<double>(parts)));
  return {ChannelState{std::string(kIdle), parts - active},
          ChannelState{clockState(clockMHz).value_or(std::string(kActive)), active}};
}

}  // namespace

LinuxCounterReports::LinuxCounterReports(std::filesystem::path root, std::shared_ptr<GpuSet> gpus)
    : root_(std::move(root)), gpus_(gpus && gpus->size() > 0 ? std::move(gpus) : nullptr) {
  std::vector<int> numbers;
  if (std::optional<std::vector<ProcStatCpu>> stat = readProcStat(root_)) {
    for (const ProcStatCpu& cpu : *stat) numbers.push_back(cpu.cpu);
  }
  const CpuKinds kinds = readCpuKinds(root_, numbers);
  for (int n : numbers) {
    cpus_.push_back(Cpu{n, (kinds.isEfficiency(n) ? "ECPU" : "PCPU") + std::to_string(n)});
  }
  std::lock_guard lock(mutex_);
  discoverEnergy();
}

void LinuxCounterReports::discoverEnergy() {
  for (RaplZone& zone : findRaplZones(root_)) {
    zones_.push_back(Zone{zone.domain, zone.maxEnergyRangeUj, KeptFile(std::move(zone.energyPath))});
  }
  auto has = [&](RaplDomain d) {
    return std::any_of(zones_.begin(), zones_.end(), [d](const Zone& z) { return z.domain == d; });
  };
  const bool package = has(RaplDomain::package);
  coreZones_ = has(RaplDomain::core);
  bool ownEnergy = false;
  for (std::size_t i = 0; gpus_ && i < gpus_->size(); ++i) {
    ownEnergy = ownEnergy || gpus_->device(i).energySource() == GpuEnergySource::own;
  }
  if (package || coreZones_) energy_.push_back({std::string(kCpuEnergy), Energy::cpu});
  // Every GPU's energy is the GPU's: the cards' own and the integrated
  // graphics' (uncore) together, so that the GPU figure is the same wherever
  // it is read.
  if (ownEnergy) {
    energy_.push_back({std::string(kGpuTotal), Energy::gpuTotal});
    energy_.push_back({std::string(kGpu), Energy::gpuTotal});
  } else if (has(RaplDomain::uncore)) {
    energy_.push_back({std::string(kGpu), Energy::uncore});
  }
  if (has(RaplDomain::dram)) energy_.push_back({std::string(kDram), Energy::dram});
  if (package && coreZones_) energy_.push_back({std::string(kPackageRest), Energy::rest});
  if (energy_.empty()) return;
  for (const auto& [domain, name] : kDomainNames) {
    if (has(domain)) domains_.push_back({std::string(name), domain});
  }
}

LinuxCounterReports::~LinuxCounterReports() = default;

EnergyAccess LinuxCounterReports::energyAccess() {
  std::string folder = (root_ / "sys/class/powercap").string();
  {
    std::lock_guard lock(mutex_);
    if (energy_.empty()) discoverEnergy();
    if (!energy_.empty()) return {EnergyAccess::State::readable, std::move(folder)};
  }
  const bool denied = raplAccess(root_) == RaplAccess::denied;
  return {denied ? EnergyAccess::State::denied : EnergyAccess::State::absent, std::move(folder)};
}

std::string LinuxCounterReports::failureText(CounterFailure failure, std::string_view group) {
  switch (failure) {
    case CounterFailure::groupMissing:
      if (group == kEnergyGroup) {
        const EnergyAccess access = energyAccess();
        if (access.state == EnergyAccess::State::denied) {
          return "the RAPL energy counters in " + access.folder + " are not readable by this user";
        }
        return "no RAPL energy counters in " + access.folder;
      }
      if (group == kCpuGroup) return "no per-CPU lines in " + (root_ / "proc/stat").string();
      return "no GPU with usage figures";
    case CounterFailure::subscriptionFailed: return "the energy and CPU time counters could not be opened";
    case CounterFailure::sampleFailed: return "the energy and CPU time counters could not be read";
  }
  return {};
}

std::vector<std::string> LinuxCounterReports::energyChannelNames() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  names.reserve(energy_.size());
  for (const EnergyChannel& e : energy_) names.push_back(e.name);
  return names;
}

std::unique_ptr<ChannelSet> LinuxCounterReports::copyChannelsInGroup(std::string_view group,
                                                                     std::optional<std::string_view> subgroup) {
  if (group == kEnergyGroup && (!subgroup || subgroup->empty())) {
    std::lock_guard lock(mutex_);
    if (energy_.empty()) discoverEnergy();
    return energy_.empty() ? nullptr : std::make_unique<SysfsChannelSet>(Groups{this, true, false, false, false});
  }
  if (group == kCpuGroup && (!subgroup || *subgroup == kCpuSubgroup) && !cpus_.empty()) {
    return std::make_unique<SysfsChannelSet>(Groups{this, false, true, false, false});
  }
  if (group == kGpuGroup && (!subgroup || *subgroup == kGpuSubgroup) && gpus_) {
    return std::make_unique<SysfsChannelSet>(Groups{this, false, false, true, false});
  }
  if (group == kGpuDevicesGroup && (!subgroup || subgroup->empty()) && gpus_) {
    return std::make_unique<SysfsChannelSet>(Groups{this, false, false, false, true});
  }
  return nullptr;
}

void LinuxCounterReports::mergeChannels(ChannelSet& target, const ChannelSet& source) {
  auto* into = dynamic_cast<SysfsChannelSet*>(&target);
  const auto* from = dynamic_cast<const SysfsChannelSet*>(&source);
  if (into == nullptr || from == nullptr || into->groups.owner != this || from->groups.owner != this) return;
  into->groups.energy = into->groups.energy || from->groups.energy;
  into->groups.cpu = into->groups.cpu || from->groups.cpu;
  into->groups.gpu = into->groups.gpu || from->groups.gpu;
  into->groups.devices = into->groups.devices || from->groups.devices;
}

std::unique_ptr<CounterSubscription> LinuxCounterReports::createSubscription(const ChannelSet& channels,
                                                                             std::unique_ptr<ChannelSet>& subscribed) {
  const auto* set = dynamic_cast<const SysfsChannelSet*>(&channels);
  if (set == nullptr || set->groups.owner != this) {
    subscribed = nullptr;
    return nullptr;
  }
  subscribed = std::make_unique<SysfsChannelSet>(set->groups);
  return std::make_unique<SysfsSubscription>(set->groups);
}

std::unique_ptr<RawSample> LinuxCounterReports::createSamples(const CounterSubscription& subscription,
                                                              const ChannelSet& subscribed) {
  const auto* sub = dynamic_cast<const SysfsSubscription*>(&subscription);
  const auto* set = dynamic_cast<const SysfsChannelSet*>(&subscribed);
  if (sub == nullptr || set == nullptr || sub->groups.owner != this || set->groups.owner != this) return nullptr;

  auto sample = std::make_unique<SysfsRawSample>();
  sample->groups = set->groups;
  if (sample->groups.energy) {
    std::lock_guard lock(mutex_);
    sample->energyUj.reserve(zones_.size());
    for (Zone& zone : zones_) {
      const std::optional<std::string> text = zone.energy.read();
      sample->energyUj.push_back(text ? parseUnsigned(*text) : std::nullopt);
    }
  }
  if (gpus_ && (sample->groups.energy || sample->groups.gpu || sample->groups.devices)) sample->gpus = gpus_->sample();
  if (sample->groups.cpu) {
    sample->ticks.resize(cpus_.size());
    if (std::optional<std::vector<ProcStatCpu>> stat = readProcStat(root_)) {
      // Both lists ascend by CPU number; CPUs that went offline have no line.
      auto line = stat->begin();
      for (std::size_t i = 0; i < cpus_.size(); ++i) {
        while (line != stat->end() && line->cpu < cpus_[i].number) ++line;
        if (line != stat->end() && line->cpu == cpus_[i].number) sample->ticks[i] = *line;
      }
    }
  }
  return sample;
}

std::optional<CounterDelta> LinuxCounterReports::createSamplesDelta(const RawSample& earlier, const RawSample& later) {
  const auto* a = dynamic_cast<const SysfsRawSample*>(&earlier);
  const auto* b = dynamic_cast<const SysfsRawSample*>(&later);
  if (a == nullptr || b == nullptr || a->groups.owner != this || b->groups.owner != this) return std::nullopt;

  CounterDelta delta;
  const bool energySamples = a->groups.energy && b->groups.energy && a->energyUj.size() == zones_.size() &&
                             b->energyUj.size() == zones_.size();
  // Energy by domain, in µJ, indexed by RaplDomain.
  std::uint64_t sums[static_cast<std::size_t>(RaplDomain::other) + 1] = {};
  for (std::size_t i = 0; energySamples && i < zones_.size(); ++i) {
    if (!a->energyUj[i] || !b->energyUj[i]) continue;
    std::uint64_t& sum = sums[static_cast<std::size_t>(zones_[i].domain)];
    sum = saturatingAdd(sum, energyDelta(*a->energyUj[i], *b->energyUj[i], zones_[i].maxEnergyRangeUj));
  }
  const auto energyOf = [&](RaplDomain d) { return sums[static_cast<std::size_t>(d)]; };
  const std::uint64_t package = energyOf(RaplDomain::package), core = energyOf(RaplDomain::core),
                      uncore = energyOf(RaplDomain::uncore), dram = energyOf(RaplDomain::dram);
  // Each GPU's energy over the delta, where it is known: the uncore zones'
  // only when the energy group was sampled.
  const bool gpuSamples = gpus_ && a->gpus.size() == gpus_->size() && b->gpus.size() == gpus_->size();
  std::vector<std::optional<std::uint64_t>> gpuUj(gpuSamples ? gpus_->size() : 0);
  for (std::size_t i = 0; i < gpuUj.size(); ++i) {
    switch (gpus_->device(i).energySource()) {
      case GpuEnergySource::own:
        if (a->gpus[i].energyUj && b->gpus[i].energyUj) {
          gpuUj[i] = energyDelta(*a->gpus[i].energyUj, *b->gpus[i].energyUj, 0);
        }
        break;
      case GpuEnergySource::raplUncore:
        if (energySamples) gpuUj[i] = uncore;
        break;
      case GpuEnergySource::none: break;
    }
  }

  if (energySamples) {
    const std::uint64_t parts = saturatingAdd(core, uncore);
    std::uint64_t gpuTotal = 0;
    for (std::size_t i = 0; i < gpuUj.size(); ++i) {
      if (gpus_->device(i).energySource() == GpuEnergySource::own) gpuTotal = saturatingAdd(gpuTotal, gpuUj[i].value_or(0));
    }
    if (!gpuUj.empty()) {
      const auto most = std::max_element(gpuUj.begin(), gpuUj.end(),
                                         [](const auto& x, const auto& y) { return x.value_or(0) < y.value_or(0); });
      gpus_->setLead(static_cast<std::size_t>(most - gpuUj.begin()));
    }
    for (const EnergyChannel& e : energy_) {
      std::uint64_t uj = 0;
      switch (e.kind) {
        case Energy::cpu: uj = coreZones_ ? core : package; break;
        case Energy::uncore: uj = uncore; break;
        case Energy::dram: uj = dram; break;
        case Energy::rest: uj = package > parts ? package - parts : 0; break;
        case Energy::gpuTotal: uj = saturatingAdd(gpuTotal, uncore); break;
      }
      delta.push_back(energyChannel(kEnergyGroup, e.name, uj));
    }
    for (const DomainChannel& d : domains_) delta.push_back(energyChannel(kDomainGroup, d.name, energyOf(d.domain)));
  }

  if (a->groups.cpu && b->groups.cpu && a->ticks.size() == cpus_.size() && b->ticks.size() == cpus_.size()) {
    for (std::size_t i = 0; i < cpus_.size(); ++i) {
      std::uint64_t active = 0, idle = 0;
      if (a->ticks[i] && b->ticks[i]) {
        const ProcStatCpu& x = *a->ticks[i];
        const ProcStatCpu& y = *b->ticks[i];
        active = forward(x.user, y.user) + forward(x.nice, y.nice) + forward(x.system, y.system) +
                 forward(x.irq, y.irq) + forward(x.softirq, y.softirq);
        idle = forward(x.idle, y.idle) + forward(x.iowait, y.iowait);
      }
      delta.push_back(Channel{std::string(kCpuGroup), std::string(kCpuSubgroup), cpus_[i].name, "", 0,
                              {ChannelState{std::string(kActive), active}, ChannelState{std::string(kIdle), idle}}});
    }
  }

  if (a->groups.gpu && b->groups.gpu && gpus_ && a->gpus.size() == gpus_->size() && b->gpus.size() == gpus_->size()) {
    const std::size_t lead = std::min(gpus_->lead().value_or(0), gpus_->size() - 1);
    const GpuSample& x = a->gpus[lead];
    const GpuSample& y = b->gpus[lead];
    if (const std::optional<double> busy = gpuBusy(x, y)) {
      delta.push_back(Channel{std::string(kGpuGroup), std::string(kGpuSubgroup), gpus_->device(lead).name(), "", 0,
                              gpuStates(*busy, y.clockMHz)});
    } else if (x.idleMs && y.idleMs && x.at == y.at) {
      // Two samples at one moment (the first look at a machine): the GPU tells
      // its busy time, but none passed, so the channel is there with none.
      delta.push_back(Channel{std::string(kGpuGroup), std::string(kGpuSubgroup), gpus_->device(lead).name(), "", 0,
                              gpuStates(0, y.clockMHz, 0)});
    }
  }

  if (a->groups.devices && b->groups.devices && gpuSamples) {
    for (std::size_t i = 0; i < gpuUj.size(); ++i) {
      Channel channel{std::string(kGpuDevicesGroup), "", gpus_->device(i).name(),
                      gpuUj[i] ? std::string(kEnergyUnit) : std::string(), gpuUj[i] ? toValue(*gpuUj[i]) : 0, {}};
      if (const std::optional<double> busy = gpuBusy(a->gpus[i], b->gpus[i])) {
        channel.states = gpuStates(*busy, b->gpus[i].clockMHz);
      } else if (std::optional<std::string> clock = clockState(b->gpus[i].clockMHz)) {
        channel.states = {ChannelState{std::move(*clock), 0}};  // its clock alone
      }
      delta.push_back(std::move(channel));
    }
  }
  return delta;
}

}  // namespace calorim::sysfs
