#include "core/platform/simulated/simulated_machine.h"

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/all_power.h"
#include "core/cpu_usage_sampler.h"
#include "core/iohid_thermal.h"
#include "core/ioreport_sampler.h"
#include "core/power_metrics.h"
#include "core/smc_thermal.h"

namespace calorim::fake {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// A delta of the subscribed counters over `seconds` of the machine's fake time.
CounterDelta deltaOver(SimulatedMachine& machine, const IOReportSampler& sampler, double seconds) {
  CounterReportPort& counters = *machine.platform()->counters;
  auto before = counters.createSamples(sampler.subscription(), sampler.channels());
  machine.fakeClock()->sleep(seconds);
  auto after = counters.createSamples(sampler.subscription(), sampler.channels());
  return *counters.createSamplesDelta(*before, *after);
}

const Channel& channel(const CounterDelta& delta, std::string_view name) {
  for (const Channel& c : delta) {
    if (c.name == name) return c;
  }
  throw std::out_of_range(std::string(name));
}

TEST(SimulatedMachineProfile, BuiltinLoadsAndTheExampleCopyMatches) {
  const MachineProfile profile = builtinProfile();
  EXPECT_EQ(profile.cpus.size(), 12u);
  EXPECT_EQ(profile.systemIntegers.at("hw.memsize"), 18LL << 30);
  EXPECT_EQ(profile.os, (OsVersion{"macOS", 15, 1, 0}));

  // The seed corpus of the profile fuzzer carries a copy of the built-in profile.
  std::ifstream file(std::string(FIXTURE_DIR) + "/../../fuzz/corpus/profile/builtin_laptop.json");
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), builtinProfileJson()) << "copy builtinProfileJson() into fuzz/corpus/profile/";
}

TEST(SimulatedMachine, CountersAdvanceExactlyByRateTimesFakeTimeWithoutVariation) {
  const MachineProfile profile = loadMachineProfile(R"({
    "variation": 0,
    "counters": [
      {"group": "Energy Model", "name": "CPU Energy", "unit": "mJ", "watts": 2.5},
      {"group": "Energy Model", "name": "GPU Energy", "unit": "nJ", "watts": 1.25},
      {"group": "Energy Model", "name": "ANE", "unit": "uJ", "watts": 0},
      {"group": "GPU Stats", "subgroup": "GPU Performance States", "name": "GPUPH",
       "residency": {"OFF": 2, "IDLE": 1, "P1": 0.5, "P2": 0.5}},
      {"group": "GPU Stats", "subgroup": "GPU Other States", "name": "GPU", "residency": {"ON": 1}}
    ],
    "registry": [{"class": "AppleARMIODevice", "properties": {"voltage-states9": {"$dvfsMHz": [400, 800]}}}]
  })");
  SimulatedMachine machine(profile);
  const IOReportSampler sampler(*machine.platform()->counters, *machine.platform()->registry);
  EXPECT_THAT(sampler.gpuDVFS(), ElementsAre(400.0, 800.0));

  const CounterDelta delta = deltaOver(machine, sampler, 2.0);
  EXPECT_EQ(channel(delta, "CPU Energy").value, 5000);
  EXPECT_EQ(channel(delta, "GPU Energy").value, 2'500'000'000);
  EXPECT_EQ(channel(delta, "ANE").value, 0);
  EXPECT_EQ(channel(delta, "GPUPH").states,
            (std::vector<ChannelState>{{"OFF", 24'000'000}, {"IDLE", 12'000'000}, {"P1", 6'000'000}, {"P2", 6'000'000}}));
  EXPECT_THROW(channel(delta, "GPU"), std::out_of_range);  // another subgroup: not subscribed
  EXPECT_DOUBLE_EQ(IOReportSampler::parsePower(delta, 2.0).cpu, 2.5);
  EXPECT_DOUBLE_EQ(IOReportSampler::parseUsage(delta).gpu, 0.25);
  EXPECT_DOUBLE_EQ(sampler.parseGPUFreq(delta), 600.0);
}

TEST(SimulatedMachine, BuiltinLaptopFeedsTheCoreReaders) {
  SimulatedMachine machine(builtinProfile());
  Platform& platform = *machine.platform();

  const IOReportSampler sampler(*platform.counters, *platform.registry);
  EXPECT_THAT(sampler.gpuDVFS(), ElementsAre(338, 618, 796, 924, 952, 1056, 1103, 1305, 1398));

  // Each one-second delta lies within the ±10 % band around the base rates,
  // and the readings move from one second to the next.
  std::vector<double> cpuWatts;
  for (int i = 0; i < 5; ++i) {
    const CounterDelta delta = deltaOver(machine, sampler, 1.0);
    const EnergyBreakdown split = parseAllPower(delta, 1.0);
    cpuWatts.push_back(split.cpuTotal());
    EXPECT_NEAR(split.cpuTotal(), 3.6, 0.36);
    EXPECT_NEAR(split.gpuEnergy(), 1.6, 0.16);  // a nanojoule channel
    EXPECT_EQ(split.cpuClusters().size(), 3u);
    EXPECT_EQ(split.cpuCores().size(), 12u);
    EXPECT_EQ(split.dtlChannels().size(), 4u);
    EXPECT_EQ(split.other().size(), 2u);  // "GPU SRAM" and "SOC_AON"
    const UsageReading usage = IOReportSampler::parseUsage(delta);
    EXPECT_NEAR(usage.eCpu, 0.287, 0.03);
    EXPECT_NEAR(usage.pCpu, 0.142, 0.015);
    EXPECT_NEAR(usage.gpu, 0.2, 0.02);
    EXPECT_GT(sampler.parseGPUFreq(delta), 338);
    EXPECT_LT(sampler.parseGPUFreq(delta), 1398);
    // Busy and idle states wander against each other and always fill the second.
    std::uint64_t residency = 0;
    for (const ChannelState& state : channel(delta, "GPUPH").states) residency += state.residency;
    EXPECT_NEAR(static_cast<double>(residency), 24e6, 11);
  }
  EXPECT_NE(cpuWatts.front(), cpuWatts.back());

  const std::vector<CpuTicks> ticksBefore = *platform.host->processorTicks();
  CPUUsageSampler cpu(*platform.host);
  machine.fakeClock()->sleep(10);
  const std::vector<CpuTicks> ticksAfter = *platform.host->processorTicks();
  const auto total = [](const CpuTicks& t) { return static_cast<double>(t.user + t.system + t.idle + t.nice); };
  EXPECT_NEAR(total(ticksAfter[3]) - total(ticksBefore[3]), 1000, 3);  // 100 ticks per second
  const CPUUsageSampler::Usage load = cpu.sample();
  ASSERT_EQ(load.perCore.size(), 12u);
  EXPECT_NEAR(load.perCore[0], 0.32, 0.04);
  EXPECT_NEAR(load.perCore[11], 0.11, 0.02);

  // The controller's probing (5 reads 50 ms apart) accepts every die key.
  SMCThermal smc(*platform.smc, *platform.clock);
  EXPECT_THAT(smc.cpuKeys(), ElementsAre("Tp01", "Tp05", "Tp09"));
  EXPECT_THAT(smc.gpuKeys(), ElementsAre("Tg05", "Tg0d"));
  const ThermalReading thermal = smc.read();
  EXPECT_NEAR(*thermal.cpu, 47.5, 2.5);
  ASSERT_EQ(thermal.fans.size(), 2u);
  EXPECT_NEAR(thermal.fans[1].rpm, 1302, 70);

  IOHIDThermal hid(*platform.hid);
  const CoreTemps temps = hid.read();
  EXPECT_EQ(temps.cores.size(), 6u);
  EXPECT_NEAR(temps.cpu, 47.2, 2.5);  // the cluster sensors' mean
  EXPECT_NEAR(*temps.gpu, 42.4, 2);
}

TEST(SimulatedMachine, BuiltinLaptopChannelsHoldTheirParts) {
  const MachineProfile profile = builtinProfile();
  SimulatedMachine machine(profile);
  const IOReportSampler sampler(*machine.platform()->counters, *machine.platform()->registry);
  PowerMetrics metrics(machine.platform());
  const std::vector<std::optional<std::size_t>> parents = energyParents(profile.counters);
  std::size_t pairs = 0;
  for (int sample = 0; sample < 100; ++sample) {
    const CounterDelta delta = deltaOver(machine, sampler, 1.0);
    std::map<std::string, double> parts;
    for (std::size_t i = 0; i < profile.counters.size(); ++i) {
      if (const auto parent = parents[i]) {
        parts[profile.counters[*parent].name] +=
            *calorim::detail::energyWatts(channel(delta, profile.counters[i].name), 1.0);
      }
    }
    pairs = parts.size();
    for (const auto& [name, sum] : parts) {
      EXPECT_GE(*calorim::detail::energyWatts(channel(delta, name), 1.0), sum) << name << " at sample " << sample;
    }
    const PowerSnapshot snapshot = metrics.sample(1.0);
    EXPECT_LE(snapshot.eCpuPower() + snapshot.pCpuPower(), snapshot.cpuPower()) << "at sample " << sample;
  }
  EXPECT_EQ(pairs, 5u);  // CPU Energy, three clusters, GPU Energy
}

TEST(SimulatedMachine, RegistryHostAndReportsFollowTheProfile) {
  SimulatedMachine machine(builtinProfile());
  Platform& platform = *machine.platform();

  const auto battery = platform.registry->matchingServices("AppleSmartBattery");
  ASSERT_EQ(battery.size(), 1u);
  for (int i = 0; i < 3; ++i) {
    const RegistryDictionary props = *platform.registry->properties(*battery[0]);
    const auto& adapter = *props.find("AdapterDetails")->as<RegistryDictionary>();
    EXPECT_EQ(*adapter.find("Watts")->as<std::int64_t>(), 96);
    EXPECT_EQ(adapter.find("UsbHvcMenu")->as<RegistryArray>()->size(), 4u);
    // Input power, voltage and current share one wander, so P = V · I holds.
    const auto& telemetry = *props.find("PowerTelemetryData")->as<RegistryDictionary>();
    const auto watts = static_cast<double>(*telemetry.find("SystemPowerIn")->as<std::int64_t>());
    const auto volts = static_cast<double>(*telemetry.find("SystemVoltageIn")->as<std::int64_t>());
    const auto amps = static_cast<double>(*telemetry.find("SystemCurrentIn")->as<std::int64_t>());
    EXPECT_NEAR(watts, 31500, 3150);
    EXPECT_NEAR(watts, volts * amps / 1000, 20);
    machine.fakeClock()->sleep(7);
  }
  EXPECT_EQ(platform.registry->matchingServices("IOUSBHostDevice").size(), 2u);
  const auto gpu = platform.registry->matchingServices("AGXAccelerator");
  EXPECT_EQ(*platform.registry->property(*gpu.at(0), "gpu-core-count")->as<std::int64_t>(), 18);

  EXPECT_EQ(platform.host->systemText("machdep.cpu.brand_string"), "Apple M3 Pro");
  EXPECT_EQ(platform.host->systemInteger("hw.perflevel1.logicalcpu"), 6);
  EXPECT_NEAR(static_cast<double>(*platform.host->memoryUsedBytes()), 12079595520.0, 12079595520.0 * 0.03);
  EXPECT_THAT(*platform.hardwareReport->report("SPHardwareDataType"), HasSubstr(R"x("machine_name":"MacBook Pro (simulated)")x"));
  EXPECT_THAT(*platform.hardwareReport->report("SPThunderboltDataType"), HasSubstr(R"("device_name_key":"TB4 Dock")"));
  EXPECT_FALSE(platform.hardwareReport->report("SPUSBDataType"));

  // Scripted readings still come first: one failed sample, then the simulation again.
  const IOReportSampler sampler(*platform.counters, *platform.registry);
  machine.fakes().counters->pushReading(std::nullopt);
  EXPECT_EQ(platform.counters->createSamples(sampler.subscription(), sampler.channels()), nullptr);
  EXPECT_NE(platform.counters->createSamples(sampler.subscription(), sampler.channels()), nullptr);
}

TEST(SimulatedMachine, EqualSeedAndTimeGiveEqualReadings) {
  const MachineProfile profile = builtinProfile();
  const auto readings = [&](std::uint64_t seed) {
    SimulatedMachine machine(profile, seed);
    Platform& p = *machine.platform();
    machine.fakeClock()->sleep(12.5);
    auto set = p.counters->copyChannelsInGroup("Energy Model", std::nullopt);
    std::unique_ptr<ChannelSet> subscribed;
    auto subscription = p.counters->createSubscription(*set, subscribed);
    auto before = p.counters->createSamples(*subscription, *subscribed);
    machine.fakeClock()->sleep(1);
    auto after = p.counters->createSamples(*subscription, *subscribed);
    const auto battery = p.registry->matchingServices("AppleSmartBattery");
    return std::tuple(*p.counters->createSamplesDelta(*before, *after), *p.host->processorTicks(),
                      *p.hid->createClient()->copyServices(), *p.registry->properties(*battery.at(0)),
                      *p.host->swapUsedBytes());
  };
  const auto first = readings(7);
  EXPECT_EQ(first, readings(7));
  const auto other = readings(8);
  EXPECT_NE(std::get<0>(first), std::get<0>(other));
  EXPECT_NE(std::get<1>(first), std::get<1>(other));
  EXPECT_NE(std::get<2>(first), std::get<2>(other));
  EXPECT_NE(std::get<3>(first), std::get<3>(other));
}

TEST(SimulatedMachine, RealClockVariantUsesTheSystemClock) {
  SimulatedMachine machine(builtinProfile(), 1, SimulatedClock::real);
  EXPECT_EQ(machine.fakeClock(), nullptr);
  EXPECT_EQ(machine.fakes().clock, nullptr);
  const auto skew = machine.platform()->clock->now() - std::chrono::system_clock::now();
  EXPECT_LT(std::chrono::abs(skew), std::chrono::minutes(1));  // not the fake clock's fixed date
  const IOReportSampler sampler(*machine.platform()->counters, *machine.platform()->registry);
  EXPECT_EQ(sampler.gpuDVFS().size(), 9u);
}

TEST(SimulatedMachineProfile, BadProfilesNameTheMember) {
  const auto errorOf = [](std::string_view json) -> std::string {
    try {
      (void)loadMachineProfile(json);
    } catch (const std::invalid_argument& e) {
      return e.what();
    }
    return "accepted";
  };
  EXPECT_THAT(errorOf("{\"counters\": ["), HasSubstr("not valid JSON"));
  EXPECT_THAT(errorOf("{\"name\": " + std::string(100'000, '[') + std::string(100'000, ']') + "}"),
              HasSubstr("nested deeper than 64"));
  EXPECT_THAT(errorOf("[]"), HasSubstr("expected an object"));
  EXPECT_THAT(errorOf(R"({"countres": []})"), HasSubstr("countres: unknown member"));
  EXPECT_THAT(errorOf(R"({"variation": 1})"), HasSubstr("variation: expected a fraction"));
  EXPECT_THAT(errorOf(R"({"counters": [{"group": "E", "name": "X", "watts": "3"}]})"),
              HasSubstr("counters[0].watts: expected a number"));
  EXPECT_THAT(errorOf(R"({"counters": [{"group": "E", "name": "X", "watts": -1}]})"),
              HasSubstr("counters[0].watts: expected a number >= 0"));
  EXPECT_THAT(errorOf(R"({"counters": [{"group": "E", "name": "X", "watts": 1, "unit": "kJ"}]})"),
              HasSubstr("counters[0].unit"));
  EXPECT_THAT(errorOf(R"({"counters": [{"group": "E", "name": "X", "watts": 1, "residency": {"A": 1}}]})"),
              HasSubstr("counters[0]: expected exactly one"));
  EXPECT_THAT(errorOf(R"({"counters": [{"group": "S", "name": "X", "residency": {"IDLE": -0.5, "P1": 1}}]})"),
              HasSubstr("counters[0].residency.IDLE"));
  EXPECT_THAT(errorOf(R"({"counters": [{"group": "S", "name": "X", "residency": {"IDLE": 0}}]})"),
              HasSubstr("sum above 0"));
  EXPECT_THAT(errorOf(R"({"counters": [{"name": "X", "watts": 1}]})"), HasSubstr("counters[0].group: missing"));
  EXPECT_THAT(errorOf(R"({"counters": [{"group": "E", "name": "C", "watts": 1, "within": "P"},
                                       {"group": "E", "name": "P", "watts": 2}]})"),
              HasSubstr("counters[0].within: expected the name of an earlier energy channel"));
  EXPECT_THAT(errorOf(R"({"counters": [{"group": "E", "name": "P", "watts": 2},
                                       {"group": "F", "name": "C", "watts": 1, "within": "P"}]})"),
              HasSubstr("counters[1].within"));
  EXPECT_THAT(errorOf(R"({"counters": [{"group": "E", "name": "P", "watts": 1},
                                       {"group": "E", "name": "C", "watts": 0.6, "within": "P"},
                                       {"group": "E", "name": "D", "watts": 0.6, "within": "P"}]})"),
              HasSubstr("counters[0].watts: expected at least the sum"));
  EXPECT_THAT(errorOf(R"({"counters": [{"group": "S", "name": "X", "residency": {"IDLE": 1}, "within": "Y"}]})"),
              HasSubstr("counters[0].within: only energy channels"));
  EXPECT_THAT(errorOf(R"({"cpus": [{"busy": 1.5}]})"), HasSubstr("cpus[0].busy"));
  EXPECT_THAT(errorOf(R"({"smc": [{"key": "Tp001", "type": "flt ", "value": 40}]})"), HasSubstr("smc[0].key"));
  EXPECT_THAT(errorOf(R"({"smc": [{"key": "Tp01", "type": "sp78", "value": 200}]})"), HasSubstr("smc[0].value"));
  EXPECT_THAT(errorOf(R"({"smc": [{"key": "FNum", "type": "ui8 ", "value": 1}, {"key": "FNum", "type": "ui8 ", "value": 2}]})"),
              HasSubstr("smc[1].key: duplicate"));
  EXPECT_THAT(errorOf(R"({"systemValues": {"hw.memsize": 1.5}})"), HasSubstr("systemValues.hw.memsize"));
  EXPECT_THAT(errorOf(R"({"memory": {"usedBytes": -1}})"), HasSubstr("memory.usedBytes"));
  EXPECT_THAT(errorOf(R"({"os": {"name": "macOS", "major": 15, "minor": 1}})"), HasSubstr("os.patch: missing"));
  EXPECT_THAT(errorOf(R"({"hardwareReports": {"SPHardwareDataType": 3}})"), HasSubstr("hardwareReports.SPHardwareDataType"));
  EXPECT_THAT(errorOf(R"({"registry": [{"class": "B", "properties": {"A": [{"$vary": 1}]}}]})"),
              HasSubstr("registry[0].properties.A[0]: a varying value cannot stand inside an array"));
  EXPECT_THAT(errorOf(R"({"registry": [{"class": "B", "properties": {"A": {"$bytes": "abc"}}}]})"),
              HasSubstr("registry[0].properties.A.$bytes"));
  EXPECT_THAT(errorOf(R"({"registry": [{"class": "B", "properties": {"A": {"$dvfsMHz": [5000]}}}]})"),
              HasSubstr("$dvfsMHz[0]"));
  EXPECT_THAT(errorOf(R"({"registry": [{"class": "B", "properties": {"A": {"$x": 1}}}]})"), HasSubstr("unknown escape"));
  EXPECT_THAT(errorOf(R"({"registry": [{"class": "B", "properties": {"A": null}}]})"), HasSubstr("properties.A"));
  EXPECT_THAT(errorOf(R"({"registry": [{"class": "B", "properties": {"A": )" + std::string(40, '[') +
                      std::string(40, ']') + "}}]}"),
              HasSubstr("nested too deeply"));

  // A profile built in code is checked the same way.
  MachineProfile negative;
  negative.counters.push_back({"Energy Model", "", "CPU Energy", "mJ", -2.0, {}, std::nullopt, {}});
  EXPECT_THROW(SimulatedMachine{negative}, std::invalid_argument);
}

TEST(SimulatedMachineProfile, RegistryEscapesBecomeTypedValues) {
  const MachineProfile profile = loadMachineProfile(R"({"variation": 0, "registry": [{"class": "C", "properties": {
    "raw": {"$bytes": "00ff7A"}, "table": {"$dvfsMHz": [1.5]}, "list": [1, 2.5, "x", true, {"k": {"$bytes": ""}}],
    "outer": {"inner": {"$vary": 41.6}}, "count": {"$vary": 7, "$variation": 0.5}}}]})");
  SimulatedMachine machine(profile);
  const auto service = machine.platform()->registry->matchingServices("C");
  const RegistryDictionary props = *machine.platform()->registry->properties(*service.at(0));
  EXPECT_EQ(*props.find("raw")->as<RegistryBytes>(), (RegistryBytes{0x00, 0xff, 0x7a}));
  // 1,500,000 Hz little-endian, then a voltage.
  EXPECT_THAT(*props.find("table")->as<RegistryBytes>(), ::testing::ElementsAre(0x60, 0xe3, 0x16, 0x00, 88, 2, 0, 0));
  EXPECT_EQ(*props.find("list"), (RegistryValue{RegistryArray{1, 2.5, "x", true, RegistryDictionary{{"k", RegistryBytes{}}}}}));
  EXPECT_DOUBLE_EQ(*props.find("outer")->as<RegistryDictionary>()->find("inner")->as<double>(), 41.6);
  const std::int64_t count = *props.find("count")->as<std::int64_t>();  // stays an integer while it wanders
  EXPECT_GE(count, 3);
  EXPECT_LE(count, 11);
}

}  // namespace
}  // namespace calorim::fake
