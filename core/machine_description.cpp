#include "core/machine_description.h"

#include <algorithm>
#include <utility>

#include "core/all_power.h"
#include "core/base/text.h"
#include "core/base/units.h"
#include "core/system_info.h"

namespace calorim {
namespace {

// Whether `word` is one of the words (runs of letters and digits) of `text`,
// letter case ignored.
bool hasWord(std::string_view text, std::string_view word) {
  const std::string lower = lowerCase(text);
  auto isWordChar = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
  std::size_t at = 0;
  while (at < lower.size()) {
    while (at < lower.size() && !isWordChar(lower[at])) ++at;
    std::size_t end = at;
    while (end < lower.size() && isWordChar(lower[end])) ++end;
    if (std::string_view(lower).substr(at, end - at) == word) return true;
    at = end;
  }
  return false;
}

std::optional<std::int64_t> positive(std::optional<std::int64_t> value) {
  return value && *value > 0 ? value : std::nullopt;
}

}  // namespace

CpuTopology cpuTopology(HostPort& host) {
  CpuTopology cpu;
  cpu.logicalCpus = std::max<std::int64_t>(0, host.systemInteger("hw.logicalcpu").value_or(0));
  const auto [eLogical, pLogical] = coreCounts(host);
  if (eLogical > 0) {
    // The levels' physical counts where the system gives them, else their logical ones.
    const bool performanceFirst = lowerCase(host.systemText("hw.perflevel0.name").value_or("")).find("performance") !=
                                  std::string::npos;
    const auto level = [&](int n) { return positive(host.systemInteger("hw.perflevel" + std::to_string(n) + ".physicalcpu")); };
    cpu.efficiencyCores = level(performanceFirst ? 1 : 0).value_or(eLogical);
    cpu.performanceCores = level(performanceFirst ? 0 : 1).value_or(pLogical);
  } else {
    cpu.performanceCores = positive(host.systemInteger("hw.physicalcpu")).value_or(pLogical);
  }
  return cpu;
}

namespace {

std::vector<GpuDescription> readGpus(RegistryPort& registry) {
  std::vector<GpuDescription> gpus;
  for (const auto& service : registry.matchingServices(kGpuClass)) {
    const std::optional<RegistryDictionary> properties = registry.properties(*service);
    if (!properties) continue;
    GpuDescription gpu;
    if (const RegistryValue* model = properties->find(kGpuModelKey); model && model->as<std::string>()) {
      gpu.name = *model->as<std::string>();
    }
    if (const RegistryValue* v = properties->find(kGpuIntegratedKey); v && v->as<bool>()) gpu.integrated = *v->as<bool>();
    if (const RegistryValue* v = properties->find(kGpuPowerKey); v && v->as<bool>()) gpu.powerMeasured = *v->as<bool>();
    if (const RegistryValue* v = properties->find(kGpuPowerLimitKey); v && v->as<std::int64_t>() && *v->as<std::int64_t>() > 0) {
      gpu.powerLimitW = static_cast<double>(*v->as<std::int64_t>()) / 1000.0;
    }
    gpus.push_back(std::move(gpu));
  }
  return gpus;
}

}  // namespace

std::vector<std::string> MeasuredFigures::names() const {
  const std::pair<bool, const char*> figures[] = {
      {cpuPower, "cpuPower"},   {gpuPower, "gpuPower"},   {anePower, "anePower"},     {dramPower, "dramPower"},
      {totalPower, "totalPower"}, {eCpuPower, "eCpuPower"}, {pCpuPower, "pCpuPower"}, {cpuTemp, "cpuTemp"},
      {gpuTemp, "gpuTemp"},     {coreTemps, "coreTemps"}, {cpuUsage, "cpuUsage"},     {gpuUsage, "gpuUsage"},
      {eCpuUsage, "eCpuUsage"}, {pCpuUsage, "pCpuUsage"}, {gpuFreqMHz, "gpuFreqMHz"}, {memBandwidth, "memBandwidth"},
      {fans, "fans"},           {platformPower, "platformPower"}};
  std::vector<std::string> out;
  for (const auto& [measured, name] : figures) {
    if (measured) out.emplace_back(name);
  }
  return out;
}

std::vector<std::string> MeasuredFigures::partNames() const {
  const std::pair<bool, const char*> parts[] = {
      {cpuCores, "cpuCores"}, {cpuClusters, "cpuClusters"}, {amcc, "amcc"}, {dcs, "dcs"},    {display, "display"},
      {displayExt, "displayExt"}, {fabric, "fabric"},       {isp, "isp"},   {media, "media"}};
  std::vector<std::string> out;
  for (const auto& [measured, name] : parts) {
    if (measured) out.emplace_back(name);
  }
  return out;
}

double appleGpuBudgetW(std::string_view chipName) {
  const std::string lower = lowerCase(chipName);
  if (!lower.starts_with("apple") || (lower.size() > 5 && lower[5] != ' ')) return 0;
  if (hasWord(chipName, "ultra")) return 120.0;
  if (hasWord(chipName, "max")) return 60.0;
  if (hasWord(chipName, "pro")) return 35.0;
  return 20.0;
}

double MachineDescription::gpuPowerBudgetW() const {
  double caps = 0;
  bool discrete = false;
  bool uncapped = false;
  bool integrated = false;
  for (const GpuDescription& gpu : gpus) {
    if (!gpu.powerMeasured) continue;
    if (gpu.integrated) {
      integrated = true;
      continue;
    }
    discrete = true;
    if (gpu.powerLimitW) {
      caps += *gpu.powerLimitW;
    } else {
      uncapped = true;
    }
  }
  if (discrete) return uncapped ? 0.0 : caps;
  if (integrated && packagePowerLimitW) return *packagePowerLimitW;
  return appleGpuBudgetW(chipName);
}

MachineDescription describeHardware(Platform& platform) {
  MachineDescription d;
  HostPort& host = *platform.host;
  d.cpu = cpuTopology(host);
  d.gpus = readGpus(*platform.registry);
  if (const std::optional<std::int64_t> mw = positive(host.systemInteger(kPackagePowerLimitName))) {
    d.packagePowerLimitW = static_cast<double>(*mw) / 1000.0;
  }
  d.chipName = chipName(host);
  d.memoryGB = static_cast<double>(std::max<std::int64_t>(0, host.systemInteger("hw.memsize").value_or(0))) / kBytesPerGB;
  d.battery = !platform.registry->matchingServices("AppleSmartBattery").empty();
  d.measured.cpuUsage = host.processorTicks().has_value();
  return d;
}

std::vector<GpuFigures> gpuFigures(const std::vector<GpuDeviceReading>& devices,
                                    const std::vector<GpuDescription>& gpus, RegistryPort& registry) {
  std::vector<GpuFigures> readings;
  if (devices.empty()) return readings;
  std::vector<std::optional<double>> temperatures;
  for (const auto& service : registry.matchingServices(kGpuClass)) {
    std::optional<double> celsius;
    const std::optional<RegistryValue> statistics = registry.property(*service, kGpuStatisticsKey);
    const RegistryDictionary* dictionary = statistics ? statistics->as<RegistryDictionary>() : nullptr;
    if (const RegistryValue* v = dictionary ? dictionary->find(kGpuTemperatureKey) : nullptr) {
      if (const double* d = v->as<double>()) celsius = *d;
      if (const std::int64_t* i = v->as<std::int64_t>()) celsius = static_cast<double>(*i);
    }
    if (celsius && !(*celsius > 0 && *celsius < 150)) celsius.reset();
    temperatures.push_back(celsius);
  }
  readings.reserve(devices.size());
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const GpuDeviceReading& d = devices[i];
    readings.push_back(GpuFigures{i < gpus.size() && !gpus[i].name.empty() ? gpus[i].name : d.id, d.watts, d.busy,
                                  d.clockMHz, i < temperatures.size() ? temperatures[i] : std::nullopt});
  }
  return readings;
}

MeasuredFigures figuresOf(CounterDelta delta, const IOReportSampler& sampler) {
  for (Channel& channel : delta) {
    if (channel.group == IOReportSampler::kEnergyGroup || channel.group == IOReportSampler::kDomainGroup) {
      channel.value = 1'000'000'000;
    }
    for (ChannelState& state : channel.states) state.residency = 1;
    if (channel.group == "AMC Stats") channel.value = 1'000'000'000;
  }
  const PowerReading power = IOReportSampler::parsePower(delta, 1.0);
  const EnergyBreakdown breakdown = parseAllPower(delta, 1.0);
  const UsageReading usage = IOReportSampler::parseUsage(delta);
  const BandwidthReading bandwidth = IOReportSampler::parseBandwidth(delta, 1.0);
  MeasuredFigures f;
  f.cpuPower = power.cpu > 0;
  f.gpuPower = power.gpu > 0 || breakdown.gpu() > 0;
  f.anePower = power.ane > 0;
  f.dramPower = power.dram > 0;
  f.totalPower = breakdown.socTotal() > 0;
  f.eCpuPower = power.eCpu > 0;
  f.pCpuPower = power.pCpu > 0;
  f.eCpuUsage = usage.eCpu > 0;
  f.pCpuUsage = usage.pCpu > 0;
  f.gpuUsage = usage.gpu > 0;
  f.gpuFreqMHz = f.gpuUsage && sampler.parseGPUFreq(delta) > 0;
  f.memBandwidth = bandwidth.totalRead > 0 || bandwidth.totalWrite > 0;
  f.cpuCores = !breakdown.cpuCores().empty();
  f.cpuClusters = !breakdown.cpuClusters().empty();
  f.amcc = breakdown.amcc() > 0;
  f.dcs = breakdown.dcs() > 0;
  f.display = breakdown.display() > 0;
  f.displayExt = breakdown.displayExt() > 0;
  f.fabric = breakdown.fabric() > 0;
  f.isp = breakdown.isp() > 0;
  f.media = breakdown.media() > 0;
  f.platformPower = platformWatts(breakdown).has_value();
  return f;
}

MeasuredFigures withSensorsOf(MeasuredFigures figures, const PowerSnapshot& snapshot) {
  figures.cpuTemp = snapshot.cpuTemp().has_value();
  figures.gpuTemp = snapshot.gpuTemp().has_value();
  figures.coreTemps = !snapshot.coreTemps().empty();
  figures.fans = !snapshot.fans().empty();
  return figures;
}

MeasuredFigures withSensorsOf(MeasuredFigures figures, const ThermalReading& smc, const CoreTemps& hid) {
  figures.cpuTemp = hid.cpu > 0 || smc.cpu.has_value();
  figures.gpuTemp = hid.gpu.has_value() || smc.gpu.has_value();
  figures.coreTemps = !hid.cores.empty();
  figures.fans = !smc.fans.empty();
  return figures;
}

}  // namespace calorim
