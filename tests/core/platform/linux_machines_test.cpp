// Every fixture machine as the Linux ports report it, one fact per line, compared
// with tests/golden/linux_<machine>.txt; then the host and identity parsers on
// what no fixture shows. The readers' handling of broken, changing or hostile
// trees of the other ports is tested case by case in the other files.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

#include "core/iohid_thermal.h"
#include "core/machine_description.h"
#include "core/platform/fake/fake_platform.h"
#include "core/platform/linux/linux_hardware_report.h"
#include "core/platform/linux/linux_host.h"
#include "core/platform/linux/linux_platform.h"
#include "core/platform/linux/machine_identity.h"
#include "core/smc_thermal.h"
#include "core/system_info.h"
#include "linux_machine_tree.h"
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
  for (const char* serviceClass : {"AppleSmartBattery", "IOUSBHostDevice", "AppleSMC", "IOAccelerator"}) {
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
                           "hw.physicalcpu_max", "hw.physicalcpu", "hw.perflevel0.physicalcpu",
                           "hw.perflevel1.physicalcpu", kPackagePowerLimitName.data()}) {
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

  const MachineDescription d = describeHardware(*platform);
  facts["description"] = {{"cores", {d.cpu.efficiencyCores, d.cpu.performanceCores, d.cpu.logicalCpus}},
                          {"chipName", d.chipName},
                          {"packagePowerLimitW", optional(d.packagePowerLimitW)},
                          {"gpuPowerBudgetW", d.gpuPowerBudgetW()},
                          {"gpus", Json::array()}};
  for (const GpuDescription& gpu : d.gpus) {
    facts["description"]["gpus"].push_back({gpu.name, gpu.integrated, gpu.powerMeasured, optional(gpu.powerLimitW)});
  }

  for (const char* type : {"SPHardwareDataType", "SPThunderboltDataType", "SPDisplaysDataType"}) {
    const std::optional<std::string> report = platform->hardwareReport->report(type, {});
    facts["report"][type] = report ? Json::parse(*report).at(type) : Json();
  }
  facts["report"]["machineName"] = machineName(*platform->hardwareReport);
  return facts;
}

TEST(LinuxMachines, EveryPortPerFixtureMachine) {
  for (const char* machine : {"apulaptop", "arcdesktop", "armboard", "desktop", "dualgpu", "epycserver", "laptop",
                              "rk3399board",
                              "server", "t480", "handheld", "vm", "workstation", "no-such-machine"}) {
    SCOPED_TRACE(machine);
    std::string text;
    flatten(machineFacts(fs::path(FIXTURE_DIR) / "linux" / machine), "", text);
    EXPECT_GOLDEN(fs::path(GOLDEN_DIR) / ("linux_" + std::string(machine) + ".txt"), text);
  }
}

TEST(LinuxHostParse, KernelReleaseMeminfoAndModelName) {
  EXPECT_EQ(parseKernelRelease("6.8"), (OsVersion{"Linux", 6, 8, 0}));
  EXPECT_EQ(parseKernelRelease("6.9-rc3"), (OsVersion{"Linux", 6, 9, 0}));
  EXPECT_FALSE(parseKernelRelease("").has_value());
  EXPECT_FALSE(parseKernelRelease("Linux 6.1").has_value());

  // Sizes with their unit are in the fixture machines' golden files.
  const MemInfo info = parseMemInfo(
      "MemTotal:       16084868 kB\n"
      "MemFree:         5338112 kB\n"
      "MemAvailable:   10212540 kB\n"
      "SwapTotal:       2097148\n"  // no unit: not trusted
      "SwapFree:        garbage kB\n"
      "HugePages_Total:       0\n");
  EXPECT_FALSE(info.swapTotalBytes.has_value());
  EXPECT_FALSE(info.swapFreeBytes.has_value());

  EXPECT_EQ(parseCpuModelName("processor\t: 0\nmodel\t\t: 154\nmodel name\t: AMD Ryzen 7 5800X 8-Core Processor\n"
                              "model name\t: second\n"),
            "AMD Ryzen 7 5800X 8-Core Processor");
  EXPECT_FALSE(parseCpuModelName("processor\t: 0\nCPU part\t: 0xd08\nModel\t\t: Raspberry Pi 4\n").has_value());
  EXPECT_FALSE(parseCpuModelName("model name\t:\n").has_value());
}

// A machine without any source is in the golden files of every fixture machine.
TEST(LinuxHost, OldMeminfoAndStatWithoutCpuLines) {
  // A meminfo without MemAvailable (before Linux 3.14) gives no used memory but a size;
  // a proc/stat without per-CPU lines gives no ticks.
  testing::MachineTree tree;
  tree.write("proc/meminfo", "MemTotal:        1024 kB\nMemFree:          512 kB");
  tree.write("proc/stat", "cpu  1 2 3 4 5 6 7 0 0 0\nintr 0");
  LinuxHost old(tree.root());
  EXPECT_EQ(old.systemInteger("hw.memsize"), 1024 * 1024);
  EXPECT_FALSE(old.memoryUsedBytes().has_value());
  EXPECT_FALSE(old.processorTicks().has_value());
  EXPECT_FALSE(old.systemInteger("hw.logicalcpu").has_value());
}

// Chains, second domains and peers are in the golden file of the workstation fixture.
TEST(SysfsThunderbolt, Parsers) {
  EXPECT_EQ(detail::formatLinkSpeed(6.25, 2), "Up to 12.5 Gb/s");
  EXPECT_EQ(detail::formatLinkSpeed(10.0, 0), "Up to 10 Gb/s");
  for (const char* other : {"domain0", "0-0:1.1", "0-1.1", "usb4_port1", "-1", "0-", "0-xyz", "0--1"}) {
    EXPECT_FALSE(parseRouterName(other).has_value()) << other;
  }
  EXPECT_FALSE(parseLinkSpeed("20.0").has_value());
  EXPECT_FALSE(parseLinkSpeed("fast Gb/s").has_value());
  EXPECT_FALSE(parseUeventValue("DEVTYPEX=a\n", "DEVTYPE").has_value());
}

TEST(SysfsMachineIdentity, NamesFromDmiAndDeviceTree) {
  for (const char* filler : {"To be filled by O.E.M.", "TO BE FILLED BY O.E.M.", "System Product Name", "Default string",
                             "  ", "0123456789", "--", "Not Applicable"}) {
    EXPECT_TRUE(isPlaceholder(filler)) << filler;
  }
  EXPECT_EQ(shortVendorName("Dell Inc."), "Dell");
  EXPECT_EQ(shortVendorName("HPE"), "HPE");
  EXPECT_EQ(shortVendorName("innotek GmbH"), "innotek");
  EXPECT_EQ(shortVendorName("Tongfang Hongkong Co.,Ltd."), "Tongfang Hongkong");

  using Dmi = DmiIdentity;
  EXPECT_EQ(machineNameFromDmi(Dmi{"Dell Inc.", "XPS 13 9310", "", "", ""}), "Dell XPS 13 9310");
  EXPECT_EQ(machineNameFromDmi(Dmi{"HP", "HP EliteBook 840 G8 Notebook PC", {}, {}, {}}),
            "HP EliteBook 840 G8 Notebook PC");
  EXPECT_EQ(machineNameFromDmi(Dmi{"LENOVO", "21AHCTO1WW", "None", {}, {}}), "Lenovo 21AHCTO1WW");
  EXPECT_EQ(machineNameFromDmi(Dmi{"QEMU", "Standard PC (Q35 + ICH9, 2009)", "pc-q35-7.2", {}, {}}),
            "QEMU Standard PC (Q35 + ICH9, 2009)");
  EXPECT_EQ(machineNameFromDmi(Dmi{"Default string", "Default string", {}, "Default string", "X570 AORUS ELITE"}),
            "X570 AORUS ELITE");
  EXPECT_FALSE(machineNameFromDmi(Dmi{"System manufacturer", "System Product Name", {}, {}, "Default string"}));

  // DMI wins over the device tree (found under proc on the rk3399board fixture).
  testing::MachineTree tree;
  tree.write("proc/device-tree/model", "Pine64 RockPro64 v2.1");
  tree.write("sys/class/dmi/id/sys_vendor", "Ampere");
  tree.write("sys/class/dmi/id/product_name", "Mt. Jade");
  EXPECT_EQ(readMachineName(tree.root()), "Ampere Mt. Jade");
  tree.makeUnreadable("sys/class/dmi/id/product_name");
  EXPECT_EQ(readMachineName(tree.root()), "Pine64 RockPro64 v2.1");
}

}  // namespace
}  // namespace calorim::sysfs
