#include "core/records.h"

#include <utility>

namespace calorim {

namespace {

// Energy over a duration in seconds; 0 when the duration is not above 0
// (NaN included), so no average is ever non-finite because of the guard.
double perSecond(double joules, double seconds) { return seconds > 0 ? joules / seconds : 0.0; }

}  // namespace

MemoryBandwidth::MemoryBandwidth(double cpuReadGBs, double cpuWriteGBs, double gpuReadGBs,
                                 double gpuWriteGBs, double mediaReadGBs, double mediaWriteGBs,
                                 double totalReadGBs, double totalWriteGBs)
    : cpuReadGBs_(cpuReadGBs),
      cpuWriteGBs_(cpuWriteGBs),
      gpuReadGBs_(gpuReadGBs),
      gpuWriteGBs_(gpuWriteGBs),
      mediaReadGBs_(mediaReadGBs),
      mediaWriteGBs_(mediaWriteGBs),
      totalReadGBs_(totalReadGBs),
      totalWriteGBs_(totalWriteGBs) {}

MemoryBandwidth MemoryBandwidth::zero() { return {0, 0, 0, 0, 0, 0, 0, 0}; }

double MemoryBandwidth::totalGBs() const { return totalReadGBs_ + totalWriteGBs_; }

FanInfo::FanInfo(std::int64_t id, double rpm) : id_(id), rpm_(rpm) {}

ChannelPower::ChannelPower(std::string name, double watts) : name_(std::move(name)), watts_(watts) {}

EnergyBreakdown::EnergyBreakdown(std::vector<ChannelPower> cpuCores,
                                 std::vector<ChannelPower> cpuClusters, double cpuTotal,
                                 double gpu, double gpuEnergy, double ane, double dram,
                                 double amcc, double dcs, double display, double displayExt,
                                 double fabric, double isp, double media,
                                 std::vector<ChannelPower> dtlChannels,
                                 std::vector<ChannelPower> other,
                                 std::vector<ChannelPower> domains)
    : cpuCores_(std::move(cpuCores)),
      cpuClusters_(std::move(cpuClusters)),
      cpuTotal_(cpuTotal),
      gpu_(gpu),
      gpuEnergy_(gpuEnergy),
      ane_(ane),
      dram_(dram),
      amcc_(amcc),
      dcs_(dcs),
      display_(display),
      displayExt_(displayExt),
      fabric_(fabric),
      isp_(isp),
      media_(media),
      dtlChannels_(std::move(dtlChannels)),
      other_(std::move(other)),
      domains_(std::move(domains)) {}

EnergyBreakdown EnergyBreakdown::empty() {
  return {{}, {}, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, {}, {}, {}};
}

double EnergyBreakdown::socTotal() const {
  // The order of the additions is fixed so that every consumer sees the same
  // last bits: other first, then the named domains, then the two together.
  double otherSum = 0.0;
  for (const ChannelPower& channel : other_) otherSum += channel.watts();
  const double named = cpuTotal_ + gpu_ + ane_ + dram_ + amcc_ + dcs_ + display_ + displayExt_ +
                       fabric_ + isp_ + media_;
  return named + otherSum;
}

PowerSnapshot::PowerSnapshot(std::chrono::system_clock::time_point timestamp, double duration,
                             double cpuPower, double gpuPower, double anePower, double dramPower,
                             double totalPower, double eCpuPower, double pCpuPower,
                             std::optional<double> cpuTemp, std::optional<double> gpuTemp,
                             std::vector<double> coreTemps, double cpuUsage, double gpuUsage,
                             double eCpuUsage, double pCpuUsage,
                             std::vector<double> cpuUsagePerCore, double gpuFreqMHz,
                             MemoryBandwidth memBandwidth, std::vector<FanInfo> fans,
                             EnergyBreakdown energyBreakdown, std::optional<double> platformPower)
    : timestamp_(timestamp),
      duration_(duration),
      cpuPower_(cpuPower),
      gpuPower_(gpuPower),
      anePower_(anePower),
      dramPower_(dramPower),
      totalPower_(totalPower),
      eCpuPower_(eCpuPower),
      pCpuPower_(pCpuPower),
      cpuTemp_(cpuTemp),
      gpuTemp_(gpuTemp),
      coreTemps_(std::move(coreTemps)),
      cpuUsage_(cpuUsage),
      gpuUsage_(gpuUsage),
      eCpuUsage_(eCpuUsage),
      pCpuUsage_(pCpuUsage),
      cpuUsagePerCore_(std::move(cpuUsagePerCore)),
      gpuFreqMHz_(gpuFreqMHz),
      memBandwidth_(memBandwidth),
      fans_(std::move(fans)),
      energyBreakdown_(std::move(energyBreakdown)),
      platformPower_(platformPower) {}

EnergyMetrics::EnergyMetrics(double duration, double cpuEnergy, double gpuEnergy,
                             double aneEnergy, double dramEnergy, double totalEnergy)
    : duration_(duration),
      cpuEnergy_(cpuEnergy),
      gpuEnergy_(gpuEnergy),
      aneEnergy_(aneEnergy),
      dramEnergy_(dramEnergy),
      totalEnergy_(totalEnergy) {}

double EnergyMetrics::cpuPowerAvg() const { return perSecond(cpuEnergy_, duration_); }
double EnergyMetrics::gpuPowerAvg() const { return perSecond(gpuEnergy_, duration_); }
double EnergyMetrics::anePowerAvg() const { return perSecond(aneEnergy_, duration_); }
double EnergyMetrics::totalPowerAvg() const { return perSecond(totalEnergy_, duration_); }

PMError::PMError(Kind kind, std::string group, std::string description)
    : kind_(kind), group_(std::move(group)), description_(std::move(description)) {}

PMError PMError::channelNotFound(std::string group, std::string description) {
  if (description.empty()) description = "IOReport channel group '" + group + "' not found";
  return {Kind::channelNotFound, std::move(group), std::move(description)};
}

PMError PMError::subscriptionFailed(std::string description) {
  if (description.empty()) description = "Failed to create IOReport subscription";
  return {Kind::subscriptionFailed, {}, std::move(description)};
}

PMError PMError::smcConnectionFailed() {
  return {Kind::smcConnectionFailed, {}, "Failed to connect to SMC"};
}

PMError PMError::sampleFailed(std::string description) {
  if (description.empty()) description = "Failed to take IOReport sample";
  return {Kind::sampleFailed, {}, std::move(description)};
}

std::string PMError::caseName() const {
  switch (kind_) {
    case Kind::channelNotFound:
      return "channelNotFound(\"" + group_ + "\")";
    case Kind::subscriptionFailed:
      return "subscriptionFailed";
    case Kind::smcConnectionFailed:
      return "smcConnectionFailed";
    case Kind::sampleFailed:
      return "sampleFailed";
  }
  return {};
}

}  // namespace calorim
