#include "core/diagnosis.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/utf8.h"
#include "core/iohid_thermal.h"
#include "core/ioreport_sampler.h"
#include "core/machine_description.h"
#include "core/smc_thermal.h"
#include "core/system_info.h"

namespace calorim::diagnosis {
namespace {

// `text` cut to kMaxTextBytes before a character that would not fit, ill-formed UTF-8 repaired.
std::string text(std::string_view text) {
  if (text.size() > kMaxTextBytes) {
    std::size_t cut = kMaxTextBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = text.substr(0, cut);
  }
  return repairUtf8(text);
}

double rounded(double value, double scale) { return std::round(value * scale) / scale; }

// `items` written by `write` under `key` of `parent`, at most `max` of them;
// "<key>Omitted" counts the rest.
template <typename T, typename Write>
void putList(Json& parent, const std::string& key, const std::vector<T>& items, std::size_t max, Write write) {
  Json list = Json::array();
  for (std::size_t i = 0; i < items.size() && i < max; ++i) list.push_back(write(items[i]));
  parent[key] = std::move(list);
  if (items.size() > max) parent[key + "Omitted"] = items.size() - max;
}

template <typename T>
void putIfPresent(Json& parent, const char* key, const std::optional<T>& value) {
  if (value) parent[key] = *value;
}

Json figureNames(const std::vector<std::string>& names) {
  Json list = Json::array();
  for (const std::string& name : names) list.push_back(name);
  return list;
}

Json describe(const MachineDescription& d, std::int64_t gpuCores) {
  Json j = Json::object();
  if (!d.chipName.empty()) j["chip"] = text(d.chipName);
  if (d.memoryGB > 0) j["memoryGB"] = rounded(d.memoryGB, 100);
  j["battery"] = d.battery;
  j["cpu"] = {{"efficiencyCores", d.cpu.efficiencyCores},
              {"performanceCores", d.cpu.performanceCores},
              {"logicalCpus", d.cpu.logicalCpus}};
  putList(j, "gpus", d.gpus, kMaxGpus, [](const GpuDescription& gpu) {
    Json g = {{"name", text(gpu.name)}, {"integrated", gpu.integrated}, {"powerMeasured", gpu.powerMeasured}};
    putIfPresent(g, "powerLimitW", gpu.powerLimitW);
    return g;
  });
  if (gpuCores > 0) j["gpuCores"] = gpuCores;
  putIfPresent(j, "packagePowerLimitW", d.packagePowerLimitW);
  if (const double budget = d.gpuPowerBudgetW(); budget > 0) j["gpuPowerBudgetW"] = budget;
  j["measured"] = figureNames(d.measured.names());
  j["breakdown"] = figureNames(d.measured.partNames());
  return j;
}

// The logical and physical CPUs of the whole machine and of each performance
// level, as the host's system values give them.
Json cpuTopologyOf(HostPort& host) {
  Json j = Json::object();
  putIfPresent(j, "logicalCpus", host.systemInteger("hw.logicalcpu"));
  putIfPresent(j, "physicalCpus", host.systemInteger("hw.physicalcpu"));
  Json levels = Json::array();
  for (int n = 0; n < 2; ++n) {
    const std::string prefix = "hw.perflevel" + std::to_string(n) + ".";
    Json level = Json::object();
    if (const std::optional<std::string> name = host.systemText(prefix + "name")) level["name"] = text(*name);
    putIfPresent(level, "logicalCpus", host.systemInteger(prefix + "logicalcpu"));
    putIfPresent(level, "physicalCpus", host.systemInteger(prefix + "physicalcpu"));
    if (!level.empty()) levels.push_back(std::move(level));
  }
  j["levels"] = std::move(levels);
  return j;
}

Json energyAccessOf(CounterReportPort& counters) {
  const EnergyAccess access = counters.energyAccess();
  static constexpr const char* kStates[] = {"readable", "absent", "denied"};
  Json j = {{"state", kStates[static_cast<int>(access.state)]}};
  if (!access.folder.empty()) j["folder"] = text(access.folder);
  return j;
}

Json channelOf(const Channel& channel) {
  Json j = {{"group", text(channel.group)}, {"subgroup", text(channel.subgroup)}, {"name", text(channel.name)}};
  if (!channel.unitLabel.empty()) j["unit"] = text(channel.unitLabel);
  j["format"] = channel.states.empty() ? "simple" : "state";
  if (!channel.states.empty()) {
    putList(j, "states", channel.states, kMaxStates, [](const ChannelState& state) { return text(state.name); });
  }
  return j;
}

// The groups the counter sampler asks for, whether each exists, and the
// channels of one delta over the sampler's own subscription. Sets `figures`
// to what that delta shows.
Json countersOf(Platform& platform, MeasuredFigures& figures) {
  CounterReportPort& counters = *platform.counters;
  Json j = Json::object();
  const std::pair<std::string_view, std::string_view> groups[] = {
      {IOReportSampler::kEnergyGroup, ""},
      {IOReportSampler::kCpuGroup, IOReportSampler::kCpuSubgroup},
      {IOReportSampler::kGpuGroup, IOReportSampler::kGpuSubgroup}};
  Json present = Json::array();
  for (const auto& [group, subgroup] : groups) {
    const std::optional<std::string_view> only = subgroup.empty() ? std::nullopt : std::optional(subgroup);
    const bool exists = counters.copyChannelsInGroup(group, only) != nullptr;
    present.push_back({{"group", std::string(group)}, {"subgroup", std::string(subgroup)}, {"present", exists}});
  }
  j["groups"] = std::move(present);
  j["channels"] = Json::array();
  std::optional<IOReportSampler> sampler;
  try {
    sampler.emplace(counters, *platform.registry, EnergyCounters::optional);
  } catch (const PMError& e) {
    j["problem"] = text(e.description());
    return j;
  }
  const std::unique_ptr<RawSample> a = counters.createSamples(sampler->subscription(), sampler->channels());
  platform.clock->sleep(kSampleSeconds);
  const std::unique_ptr<RawSample> b = a ? counters.createSamples(sampler->subscription(), sampler->channels()) : nullptr;
  const std::optional<CounterDelta> delta = b ? counters.createSamplesDelta(*a, *b) : std::nullopt;
  if (!delta) {
    j["problem"] = text(PMError::sampleFailed(counters.failureText(CounterFailure::sampleFailed, {})).description());
    return j;
  }
  putList(j, "channels", *delta, kMaxChannels, channelOf);
  figures = figuresOf(*delta, *sampler);
  return j;
}

Json smcOf(const SMCThermal& smc) {
  return {{"connected", smc.connected()},
          {"cpuKeys", smc.cpuKeys()},
          {"gpuKeys", smc.gpuKeys()},
          {"fans", smc.fanCount()}};
}

Json hidSensorOf(const HidSensor& sensor) {
  Json j = Json::object();
  if (sensor.product) j["product"] = text(*sensor.product);
  if (sensor.temperature && std::isfinite(*sensor.temperature)) j["celsius"] = rounded(*sensor.temperature, 10);
  return j;
}

Json sourceOf(const DataSource& source) {
  Json j = {{"kind", text(source.kind)},
            {"name", text(source.name)},
            {"path", text(source.path)},
            {"readable", source.readable}};
  if (!source.problem.empty()) j["problem"] = text(source.problem);
  return j;
}

}  // namespace

Json report(Platform& platform, bool simulated) {
  Json j = {{"report", "calorim diagnosis"}, {"version", 1}, {"simulated", simulated}};
  j["machine"] = {{"name", text(machineName(*platform.hardwareReport))}, {"os", text(osVersion(*platform.host))}};

  MachineDescription description = describeHardware(platform);
  MeasuredFigures figures;
  Json counters = countersOf(platform, figures);
  figures.cpuUsage = description.measured.cpuUsage;
  SMCThermal smc(*platform.smc, *platform.clock);
  IOHIDThermal hid(*platform.hid);
  description.measured = withSensorsOf(figures, smc.read(), hid.read());
  j["description"] = describe(description, gpuCoreCount(*platform.registry));
  j["cpuTopology"] = cpuTopologyOf(*platform.host);
  j["energyAccess"] = energyAccessOf(*platform.counters);
  j["counters"] = std::move(counters);
  j["smc"] = smcOf(smc);
  putList(j, "hidSensors", hid.sensors().value_or(std::vector<HidSensor>{}), kMaxSensors, hidSensorOf);
  putList(j, "sources", platform.host->dataSources(), kMaxSources, sourceOf);
  return j;
}

}  // namespace calorim::diagnosis
