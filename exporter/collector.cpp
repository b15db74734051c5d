#include "exporter/collector.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "core/base/units.h"
#include "core/system_info.h"

namespace calorim::exporter {
namespace {

// Where each domain's figure goes: a part of the machine (the `domain` label),
// the total, a CPU cluster (the `cluster` label) or the whole platform.
enum class Level { part, total, cluster, platform };
struct DomainExport {
  Level level;
  std::string_view label;
};
constexpr DomainExport kDomainExports[kDomainCount] = {
    {Level::part, "cpu"},   {Level::part, "gpu"},         {Level::part, "ane"},         {Level::part, "dram"},
    {Level::total, "total"}, {Level::cluster, "efficiency"}, {Level::cluster, "performance"},
    {Level::platform, "platform"}};
// The part of the total that no counter of its own covers.
constexpr std::string_view kOtherPart = "other";

bool measures(const MeasuredFigures& m, std::size_t domain) {
  switch (static_cast<Domain>(domain)) {
    case Domain::cpu: return m.cpuPower;
    case Domain::gpu: return m.gpuPower;
    case Domain::ane: return m.anePower;
    case Domain::dram: return m.dramPower;
    case Domain::soc: return m.totalPower;
    case Domain::efficiencyCpu: return m.eCpuPower;
    case Domain::performanceCpu: return m.pCpuPower;
    case Domain::platform: return m.platformPower;
  }
  return false;
}

double domainPower(const PowerSnapshot& s, std::size_t domain) {
  switch (static_cast<Domain>(domain)) {
    case Domain::cpu: return s.cpuPower();
    case Domain::gpu: return s.gpuPower();
    case Domain::ane: return s.anePower();
    case Domain::dram: return s.dramPower();
    case Domain::soc: return s.totalPower();
    case Domain::efficiencyCpu: return s.eCpuPower();
    case Domain::performanceCpu: return s.pCpuPower();
    case Domain::platform: return s.platformPower().value_or(0);
  }
  return 0;
}

double unixSeconds(std::chrono::system_clock::time_point t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

void setTemperatures(MetricsState& state, std::optional<double> cpu, std::optional<double> gpu,
                     const std::vector<double>& cores) {
  state.temperatures.clear();
  if (cpu) state.temperatures.push_back({"cpu", *cpu});
  if (gpu) state.temperatures.push_back({"gpu", *gpu});
  for (std::size_t i = 0; i < cores.size(); ++i) state.temperatures.push_back({"core" + std::to_string(i), cores[i]});
}

void clearEnergy(MetricsState& state) {
  state.energyJoules.clear();
  state.powerWatts.clear();
  state.totalEnergyJoules.reset();
  state.totalPowerWatts.reset();
  state.platformEnergyJoules.reset();
  state.platformPowerWatts.reset();
  state.clusterEnergyJoules.clear();
  state.clusterPowerWatts.clear();
  state.cgroupEnergyJoules.clear();
  state.processPowerWatts.clear();
  state.processMethod.clear();
}

void setCpuUsage(MetricsState& state, double total, const std::vector<double>& perCore) {
  state.cpuUsage.clear();
  state.coreUsage = perCore;
  // No per-CPU figures means the tick counters could not be read this round.
  if (!perCore.empty()) state.cpuUsage.push_back({"all", total});
}

}  // namespace

struct Collector::Readers {
  explicit Readers(Platform& platform)
      : usage(*platform.host), smc(*platform.smc, *platform.clock), hid(*platform.hid) {}
  CPUUsageSampler usage;
  SMCThermal smc;
  IOHIDThermal hid;
};

namespace detail {

std::string unavailableReason(PMError::Kind error, EnergyAccess::State access) {
  if (access == EnergyAccess::State::denied) return "permission_denied";
  if (access == EnergyAccess::State::absent || error == PMError::Kind::channelNotFound) return "no_counters";
  if (error == PMError::Kind::sampleFailed) return "sample_failed";
  return "counters_unreadable";
}

}  // namespace detail

Collector::Collector(std::shared_ptr<Platform> platform, double interval, bool simulated, ProcessExport processes)
    : platform_(std::move(platform)),
      interval_(interval),
      powerSupply_(*platform_->registry),
      processExport_(processes) {
  if (!(interval > 0) || !std::isfinite(interval)) throw std::invalid_argument("sampling interval must be above 0");
  const SystemInfo info = systemInfo(*platform_);
  current_.machine = {info.chipName(), info.machineName(), info.osVersion(), simulated};
  startSampler();
  publish(current_);
}

Collector::~Collector() = default;

void Collector::startSampler() {
  try {
    auto metrics = std::make_unique<PowerMetrics>(platform_);
    // A sampler of its own shows which channels exist; the facade keeps its own.
    IOReportSampler sampler(*platform_->counters, *platform_->registry);
    CounterReportPort& counters = *platform_->counters;
    const auto a = counters.createSamples(sampler.subscription(), sampler.channels());
    const auto b = a ? counters.createSamples(sampler.subscription(), sampler.channels()) : nullptr;
    std::optional<CounterDelta> delta = b ? counters.createSamplesDelta(*a, *b) : std::nullopt;
    if (!delta) throw PMError::sampleFailed(counters.failureText(CounterFailure::sampleFailed, {}));
    // Until the first sample refreshes the machine's description.
    measured_ = figuresOf(std::move(*delta), sampler);
    readers_.reset();
    current_.energyUnavailableReason.clear();
    if (measures(measured_, static_cast<std::size_t>(Domain::cpu)) &&
        (processExport_.cgroupDepth > 0 || processExport_.topProcesses > 0)) {
      processMeter_ = std::make_unique<ProcessMeter>(platform_->processes.get(), *platform_->clock,
                                                     processExport_.cgroupDepth, processExport_.topProcesses > 0);
      processMeter_->restart();
    }
    std::lock_guard lock(mutex_);
    metrics_ = std::move(metrics);
    energyProblem_.clear();
  } catch (const PMError& e) {
    if (!readers_) readers_ = std::make_unique<Readers>(*platform_);
    current_.energyUnavailableReason = detail::unavailableReason(e.kind(), platform_->counters->energyAccess().state);
    std::lock_guard lock(mutex_);
    energyProblem_ = e.description();
  }
}

bool Collector::collect(StopToken stop) {
  ClockPort& clock = *platform_->clock;
  const auto begun = clock.steadyNow();
  if (!metrics_) startSampler();
  MetricsState& s = current_;
  if (metrics_) {
    std::optional<PowerSnapshot> snapshot;
    try {
      snapshot = metrics_->sample(interval_, stop);
    } catch (const PMError&) {
      if (stop.stopRequested()) return false;
      ++s.sampleFailures;
    }
    if (stop.stopRequested()) return false;
    if (snapshot && PowerMetrics::overran(*snapshot, interval_)) {
      // The machine slept between the readings: the energy counted is real
      // and is kept, but the span's averages are no reading.
      for (std::size_t d = 0; d < kDomainCount; ++d) {
        if (measures(measured_, d)) energy_[d] += domainPower(*snapshot, d) * snapshot->duration();
      }
      snapshot.reset();
    }
    if (snapshot) {
      measured_ = metrics_->description().measured;
      clearEnergy(s);
      s.energyUnavailableReason.clear();
      const double duration = snapshot->duration();
      double partsWatts = 0;
      for (std::size_t d = 0; d < kDomainCount; ++d) {
        if (!measures(measured_, d)) continue;
        const double watts = domainPower(*snapshot, d);
        energy_[d] += watts * duration;
        const auto [level, label] = kDomainExports[d];
        if (level == Level::part) {
          partsWatts += watts;
          s.energyJoules.push_back({std::string(label), energy_[d]});
          s.powerWatts.push_back({std::string(label), watts});
        } else if (level == Level::cluster) {
          s.clusterEnergyJoules.push_back({std::string(label), energy_[d]});
          s.clusterPowerWatts.push_back({std::string(label), watts});
        } else if (level == Level::platform) {
          s.platformEnergyJoules = energy_[d];
          s.platformPowerWatts = watts;
        } else {
          s.totalEnergyJoules = energy_[d];
          s.totalPowerWatts = watts;
        }
      }
      if (s.totalPowerWatts) {
        // Rounding may put the parts a hair above the total: the rest is then 0.
        const double otherWatts = std::max(0.0, *s.totalPowerWatts - partsWatts);
        otherEnergy_ += otherWatts * duration;
        s.energyJoules.push_back({std::string(kOtherPart), otherEnergy_});
        s.powerWatts.push_back({std::string(kOtherPart), otherWatts});
      }
      setCpuUsage(s, snapshot->cpuUsage(), snapshot->cpuUsagePerCore());
      if (measured_.eCpuUsage) s.cpuUsage.push_back({"efficiency", snapshot->eCpuUsage()});
      if (measured_.pCpuUsage) s.cpuUsage.push_back({"performance", snapshot->pCpuUsage()});
      s.gpuUsage = measured_.gpuUsage ? std::optional(snapshot->gpuUsage()) : std::nullopt;
      // A GPU that was never active in the interval has no mean frequency.
      s.gpuFrequencyHz = measured_.gpuFreqMHz && snapshot->gpuFreqMHz() > 0
                             ? std::optional(snapshot->gpuFreqMHz() * kHzPerMHz)
                             : std::nullopt;
      setTemperatures(s, snapshot->cpuTemp(), snapshot->gpuTemp(), snapshot->coreTemps());
      s.fans.clear();
      for (const FanInfo& fan : snapshot->fans()) s.fans.push_back({std::to_string(fan.id()), fan.rpm()});
      shareCpuPower(s, *snapshot);
      s.lastSampleTime = unixSeconds(clock.now());
    } else {
      // Nothing measured this round: the energy figures are unknown, the
      // other figures stay those of the last good sample.
      clearEnergy(s);
      s.energyUnavailableReason = detail::unavailableReason(PMError::Kind::sampleFailed, EnergyAccess::State::readable);
      if (processMeter_) processMeter_->forget();
      const double spent = std::chrono::duration<double>(clock.steadyNow() - begun).count();
      if (!clock.sleep(interval_ - spent, stop)) return false;
    }
  } else {
    if (!clock.sleep(interval_, stop)) return false;
    clearEnergy(s);
    const CPUUsageSampler::Usage usage = readers_->usage.sample();
    setCpuUsage(s, usage.total, usage.perCore);
    s.gpuUsage.reset();
    s.gpuFrequencyHz.reset();
    const ThermalReading smc = readers_->smc.read();
    const CoreTemps hid = readers_->hid.read();
    setTemperatures(s, hid.cpu > 0 ? std::optional(hid.cpu) : smc.cpu, hid.gpu ? hid.gpu : smc.gpu, hid.cores);
    s.fans.clear();
    for (const FanReading& fan : smc.fans) s.fans.push_back({std::to_string(fan.id), fan.rpm});
    s.lastSampleTime = unixSeconds(clock.now());
  }
  const PowerSupplyReading supply = powerSupply_.read();
  s.batteryCharge = supply.chargeRatio;
  s.batteryCharging = supply.charging;
  s.adapterWatts = supply.adapterWatts;
  s.memoryUsedBytes = platform_->host->memoryUsedBytes();
  s.swapUsedBytes = platform_->host->swapUsedBytes();
  publish(s);
  return true;
}

void Collector::shareCpuPower(MetricsState& s, const PowerSnapshot& snapshot) {
  if (!processMeter_) return;
  ProcessMeter::Result shared = processMeter_->next(snapshot.cpuPower());
  s.cgroupEnergyJoules.clear();
  if (shared.cgroups) {
    // Groups that are gone take their counters with them; one that comes back
    // starts again from 0, which Prometheus reads as a reset.
    std::map<std::string, double, std::less<>> energy;
    for (const CgroupPower& group : shared.cgroups->groups) {
      const auto before = cgroupEnergy_.find(group.path);
      const double joules = (before != cgroupEnergy_.end() ? before->second : 0) + group.powerW * snapshot.duration();
      energy.emplace(group.path, joules);
      s.cgroupEnergyJoules.push_back({group.path, joules});
    }
    cgroupEnergy_ = std::move(energy);
  }
  s.processPowerWatts.clear();
  s.processMethod.clear();
  if (shared.processes) {
    shared.processes->keepFirst(static_cast<std::size_t>(processExport_.topProcesses));
    for (const ProcessPower& p : shared.processes->processes) s.processPowerWatts.push_back({p.pid, p.name, p.powerW});
    s.processMethod = methodName(shared.processes->method);
  }
}

void Collector::publish(MetricsState state) {
  auto published = std::make_shared<const MetricsState>(std::move(state));
  std::lock_guard lock(mutex_);
  latest_ = std::move(published);
}

std::shared_ptr<const MetricsState> Collector::latest() const {
  std::lock_guard lock(mutex_);
  return latest_;
}

std::string Collector::scrape(ExpositionFormat format) const { return formatExposition(*latest(), format); }

bool Collector::measuresEnergy() const {
  std::lock_guard lock(mutex_);
  return metrics_ != nullptr;
}

std::string Collector::energyProblem() const {
  std::lock_guard lock(mutex_);
  return energyProblem_;
}

SamplingWorker::SamplingWorker(Collector& collector)
    : thread_([&collector, stop = stopping_.token()] {
        while (!stop.stopRequested() && collector.collect(stop)) {
        }
      }) {}

SamplingWorker::~SamplingWorker() {
  stopping_.requestStop();
  thread_.join();
}

}  // namespace calorim::exporter
