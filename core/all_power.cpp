#include "core/all_power.h"

#include <string>
#include <vector>

#include "core/base/text.h"
#include "core/ioreport_sampler.h"

namespace calorim {
namespace {

// Whether the last non-empty "_"-separated piece of `name` is exactly "CPU"
// (case kept): a cluster channel such as PACC0_CPU, not a core like PACC0_CPU2.
bool isClusterName(std::string_view name) {
  while (name.ends_with('_')) name.remove_suffix(1);
  const std::size_t cut = name.rfind('_');
  const std::string_view last = cut == std::string_view::npos ? name : name.substr(cut + 1);
  return last == "CPU";
}

}  // namespace

EnergyBreakdown parseAllPower(const CounterDelta& delta, double duration) {
  std::vector<ChannelPower> cpuCores, cpuClusters, dtlChannels, other, domains;
  double cpuTotal = 0, gpu = 0, gpuEnergy = 0, ane = 0, dram = 0, amcc = 0, dcs = 0, display = 0, displayExt = 0,
         fabric = 0, isp = 0, media = 0;

  for (const Channel& channel : delta) {
    if (const std::optional<double> watts = detail::domainWatts(channel, duration)) {
      domains.emplace_back(channel.name, *watts);
      continue;
    }
    const std::optional<double> watts = detail::energyWatts(channel, duration);
    if (!watts) continue;
    const double w = *watts;
    const std::string name = lowerCase(channel.name);

    if (name == "cpu energy") {
      cpuTotal = w;
    } else if (name == "gpu energy") {
      gpuEnergy = w;
    } else if (name == "gpu") {
      gpu = w;
    } else if (contains(name, "dtl")) {
      dtlChannels.emplace_back(channel.name, w);
    } else if (name.starts_with("eacc_cpu") || name.starts_with("pacc")) {
      (isClusterName(channel.name) ? cpuClusters : cpuCores).emplace_back(channel.name, w);
    } else if (contains(name, "ane")) {
      ane += w;
    } else if (name == "dram") {
      dram = w;
    } else if (name == "amcc") {
      amcc = w;
    } else if (name == "dcs") {
      dcs = w;
    } else if (name == "disp") {
      display = w;
    } else if (name == "dispext") {
      displayExt = w;
    } else if (name == "afr") {
      fabric = w;
    } else if (name == "isp") {
      isp = w;
    } else if (name == "ave" || name == "msr" || name == "prores" || name == "avd") {
      media += w;
    } else {
      other.emplace_back(channel.name, w);
    }
  }

  return EnergyBreakdown(std::move(cpuCores), std::move(cpuClusters), cpuTotal, gpu, gpuEnergy, ane, dram, amcc, dcs,
                         display, displayExt, fabric, isp, media, std::move(dtlChannels), std::move(other),
                         std::move(domains));
}

std::optional<double> platformWatts(const EnergyBreakdown& breakdown) {
  for (const ChannelPower& domain : breakdown.domains()) {
    if (domain.name() == IOReportSampler::kPlatformDomain) return domain.watts();
  }
  return std::nullopt;
}

}  // namespace calorim
