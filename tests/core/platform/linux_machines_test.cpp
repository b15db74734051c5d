// Every fixture machine as the Linux ports report it, one fact per line, compared
// with tests/golden/linux_<machine>.txt. The readers' handling of broken, changing
// or hostile trees is tested case by case in the other files.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

#include "core/iohid_thermal.h"
#include "core/platform/fake/fake_platform.h"
#include "core/platform/linux/linux_platform.h"
#include "core/smc_thermal.h"
#include "core/system_info.h"
#include "tests/support/golden.h"

namespace calorim::sysfs {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;  // keys sorted

template <typename T>
Json optional(const std::optional<T>& value) {
  return value ? Json(*value) : Json();
}

Json fromRegistry(const RegistryValue& value) {
  return std::visit(
      [](const auto& v) -> Json {
        using T = std::decay_t<decltype(v)>;
        Json out = std::is_same_v<T, RegistryDictionary> ? Json::object() : Json::array();
        if constexpr (std::is_same_v<T, RegistryArray>) {
          for (const RegistryValue& item : v) out.push_back(fromRegistry(item));
        } else if constexpr (std::is_same_v<T, RegistryDictionary>) {
          for (const auto& [key, item] : v.entries()) out[key] = fromRegistry(item);
        } else {
          out = v;
        }
        return out;
      },
      value.value);
}

// "path = value" for each leaf, in key order; non-UTF-8 text shows as U+FFFD.
void flatten(const Json& j, const std::string& path, std::string& out) {
  if (j.is_object() && !j.empty()) {
    for (const auto& [key, item] : j.items()) flatten(item, path.empty() ? key : path + "." + key, out);
  } else if (j.is_array() && !j.empty()) {
    for (std::size_t i = 0; i < j.size(); ++i) flatten(j[i], path + "[" + std::to_string(i) + "]", out);
  } else {
    out += path + " = " + j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  }
}

Json registryFacts(RegistryPort& registry) {
  Json facts;
  for (const char* serviceClass : {"AppleSmartBattery", "IOUSBHostDevice", "AppleSMC"}) {
    Json& list = facts[serviceClass] = Json::array();
    for (const auto& service : registry.matchingServices(serviceClass)) {
      const std::optional<RegistryDictionary> properties = registry.properties(*service);
      list.push_back(properties ? fromRegistry(*properties) : Json());
      if (!properties) continue;
      // One key at a time gives the same values.
      for (const auto& [key, value] : properties->entries()) {
        EXPECT_EQ(registry.property(*service, key), value) << serviceClass << " " << key;
      }
      EXPECT_FALSE(registry.property(*service, "NoSuchKey").has_value());
    }
  }
  return facts;
}

// Which groups exist, and each channel of a delta over every group offered:
// "group | subgroup | name | unit | states".
Json counterFacts(CounterReportPort& port) {
  static constexpr const char* kStates[] = {"readable", "absent", "denied"};
  Json facts;
  facts["energyAccess"] = kStates[static_cast<int>(port.energyAccess().state)];
  const std::pair<const char*, std::optional<std::string>> groups[] = {
      {"Energy Model", std::nullopt},
      {"CPU Stats", std::nullopt},
      {"CPU Stats", "CPU Core Performance States"},
      {"CPU Stats", "CPU Complex Performance States"},
      {"GPU Stats", "GPU Performance States"}};
  for (const auto& [group, subgroup] : groups) {
    facts["groups"][std::string(group) + " | " + subgroup.value_or("*")] =
        port.copyChannelsInGroup(group, subgroup) != nullptr;
  }
  std::unique_ptr<ChannelSet> all = port.copyChannelsInGroup("Energy Model", std::nullopt);
  std::unique_ptr<ChannelSet> cpu = port.copyChannelsInGroup("CPU Stats", "CPU Core Performance States");
  if (!all) all = std::move(cpu);
  else if (cpu) port.mergeChannels(*all, *cpu);
  if (!all) return facts;
  std::unique_ptr<ChannelSet> subscribed;
  const std::unique_ptr<CounterSubscription> subscription = port.createSubscription(*all, subscribed);
  const std::unique_ptr<RawSample> a = port.createSamples(*subscription, *subscribed);
  const std::unique_ptr<RawSample> b = port.createSamples(*subscription, *subscribed);
  for (const Channel& c : port.createSamplesDelta(*a, *b).value_or(CounterDelta{})) {
    std::string line = c.group + " | " + c.subgroup + " | " + c.name + " | " + c.unitLabel + " |";
    for (const ChannelState& s : c.states) line += " " + s.name;
    facts["channels"].push_back(line);
  }
  return facts;
}

Json hostFacts(HostPort& host) {
  Json facts;
  for (const char* name : {"machdep.cpu.brand_string", "hw.perflevel0.name", "hw.perflevel1.name", "hw.model"}) {
    facts[name] = optional(host.systemText(name));
  }
  for (const char* name : {"hw.logicalcpu", "hw.perflevel0.logicalcpu", "hw.perflevel1.logicalcpu", "hw.memsize",
                           "hw.physicalcpu_max"}) {
    facts[name] = optional(host.systemInteger(name));
  }
  facts["memoryUsedBytes"] = optional(host.memoryUsedBytes());
  facts["swapUsedBytes"] = optional(host.swapUsedBytes());
  facts["os"] = nullptr;
  if (const std::optional<OsVersion> os = host.osVersion()) facts["os"] = {os->name, os->major, os->minor, os->patch};
  facts["ticks"] = nullptr;
  if (const std::optional<std::vector<CpuTicks>> ticks = host.processorTicks()) {
    facts["ticks"]["cpus"] = ticks->size();
    const CpuTicks& t = ticks->front();
    facts["ticks"]["first user system idle nice"] = {t.user, t.system, t.idle, t.nice};
  }
  return facts;
}

Json machineFacts(const fs::path& root) {
  const std::shared_ptr<Platform> platform = makeLinuxPlatform(root, nullptr, "/nonexistent/libnvidia-ml.so.1");
  Json facts;
  facts["host"] = hostFacts(*platform->host);
  facts["registry"] = registryFacts(*platform->registry);
  facts["counters"] = counterFacts(*platform->counters);

  auto client = platform->hid->createClient();
  client->setMatching(0xFF00, 5);
  facts["hid"]["sensors"] = Json::array();
  for (const HidSensor& s : client->copyServices().value_or(std::vector<HidSensor>{})) {
    facts["hid"]["sensors"].push_back({optional(s.product), optional(s.temperature)});
  }
  const CoreTemps temps = IOHIDThermal(*platform->hid).read();
  facts["hid"]["condensed"] = {{"cpu", temps.cpu}, {"cores", temps.cores}, {"gpu", optional(temps.gpu)}};

  fake::FakeClock clock;
  SMCThermal smc(*platform->smc, clock);
  const ThermalReading thermal = smc.read();
  facts["smc"] = {{"cpuKeys", smc.cpuKeys()}, {"cpu", optional(thermal.cpu)}, {"gpu", optional(thermal.gpu)},
                  {"fans", Json::array()}};
  for (const FanReading& fan : thermal.fans) facts["smc"]["fans"].push_back({fan.id, fan.rpm});

  for (const char* type : {"SPHardwareDataType", "SPThunderboltDataType", "SPDisplaysDataType"}) {
    const std::optional<std::string> report = platform->hardwareReport->report(type);
    facts["report"][type] = report ? Json::parse(*report).at(type) : Json();
  }
  facts["report"]["machineName"] = machineName(*platform->hardwareReport);
  return facts;
}

TEST(LinuxMachines, EveryPortPerFixtureMachine) {
  for (const char* machine : {"apulaptop", "arcdesktop", "armboard", "desktop", "epycserver", "laptop", "rk3399board",
                              "server", "t480", "handheld", "vm", "workstation", "no-such-machine"}) {
    SCOPED_TRACE(machine);
    std::string text;
    flatten(machineFacts(fs::path(FIXTURE_DIR) / "linux" / machine), "", text);
    testing::expectGolden(fs::path(GOLDEN_DIR) / ("linux_" + std::string(machine) + ".txt"), text);
  }
}

}  // namespace
}  // namespace calorim::sysfs
