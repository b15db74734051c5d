#include "core/platform/simulated/simulated_machine.h"

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/all_power.h"
#include "core/ioreport_sampler.h"
#include "core/power_metrics.h"
#include "tests/core/line_cases.h"

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

// What the built-in profile describes is in the probe's golden transcript.
TEST(SimulatedMachineProfile, TheExampleCopyMatchesTheBuiltin) {
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

// The paced clock really waits, and the machine's time moves by what was asked
// for: a late wake-up changes nothing, a stopped sleep moves it by what passed.
TEST(SimulatedMachine, PacedClockMovesByTheSleepsAskedFor) {
  SimulatedMachine machine(builtinProfile(), 1, SimulatedClock::paced);
  EXPECT_EQ(machine.fakeClock(), nullptr);
  ClockPort& clock = *machine.platform()->clock;
  const auto start = clock.steadyNow();
  const auto wall = std::chrono::steady_clock::now();
  clock.sleep(0.02);
  EXPECT_GE(std::chrono::steady_clock::now() - wall, std::chrono::milliseconds(20));
  EXPECT_EQ(clock.steadyNow() - start, std::chrono::milliseconds(20));
  StopSource stop;
  stop.requestStop();
  EXPECT_FALSE(clock.sleep(5, stop.token()));
  EXPECT_LT(clock.steadyNow() - start, std::chrono::milliseconds(1000));

  // Two machines sampled alike read alike, however late the system woke them.
  SimulatedMachine one(builtinProfile(), 1, SimulatedClock::paced);
  PowerMetrics first(one.platform());
  const PowerSnapshot early = first.sample(0.05);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  SimulatedMachine two(builtinProfile(), 1, SimulatedClock::paced);
  PowerMetrics second(two.platform());
  const PowerSnapshot late = second.sample(0.05);
  EXPECT_EQ(early.totalPower(), late.totalPower());
  EXPECT_EQ(early.cpuUsagePerCore(), late.cpuUsagePerCore());
  EXPECT_EQ(early.cpuTemp(), late.cpuTemp());
}

// What the core readers make of the built-in laptop is in the probe's golden
// transcript; here what holds for every second of it.
TEST(SimulatedMachine, BuiltinLaptopReadingsWanderWithinTheirBounds) {
  SimulatedMachine machine(builtinProfile());
  Platform& platform = *machine.platform();
  const IOReportSampler sampler(*platform.counters, *platform.registry);
  std::vector<double> cpuWatts;
  for (int i = 0; i < 5; ++i) {
    const CounterDelta delta = deltaOver(machine, sampler, 1.0);
    cpuWatts.push_back(parseAllPower(delta, 1.0).cpuTotal());
    EXPECT_NEAR(cpuWatts.back(), 3.6, 0.36);
    // Busy and idle states wander against each other and always fill the second.
    std::uint64_t residency = 0;
    for (const ChannelState& state : channel(delta, "GPUPH").states) residency += state.residency;
    EXPECT_NEAR(static_cast<double>(residency), 24e6, 11);
  }
  EXPECT_NE(cpuWatts.front(), cpuWatts.back());

  const std::vector<CpuTicks> ticksBefore = *platform.host->processorTicks();
  machine.fakeClock()->sleep(10);
  const std::vector<CpuTicks> ticksAfter = *platform.host->processorTicks();
  const auto total = [](const CpuTicks& t) { return static_cast<double>(t.user + t.system + t.idle + t.nice); };
  EXPECT_NEAR(total(ticksAfter[3]) - total(ticksBefore[3]), 1000, 3);  // 100 ticks per second
  const auto user = static_cast<double>(ticksAfter[3].user - ticksBefore[3].user);
  EXPECT_NEAR(user / static_cast<double>(ticksAfter[3].user + ticksAfter[3].system - ticksBefore[3].user -
                                         ticksBefore[3].system),
              0.75, 0.02);  // busy time is three parts user to one part system
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

  EXPECT_NEAR(static_cast<double>(*platform.host->memoryUsedBytes()), 12079595520.0, 12079595520.0 * 0.03);
  EXPECT_THAT(*platform.hardwareReport->report("SPThunderboltDataType", {}), HasSubstr(R"("device_name_key":"TB4 Dock")"));
  EXPECT_FALSE(platform.hardwareReport->report("SPUSBDataType", {}));

  // Scripted readings still come first: one failed sample, then the simulation again.
  const IOReportSampler sampler(*platform.counters, *platform.registry);
  machine.fakes().counters->pushReading(std::nullopt);
  EXPECT_EQ(platform.counters->createSamples(sampler.subscription(), sampler.channels()), nullptr);
  EXPECT_NE(platform.counters->createSamples(sampler.subscription(), sampler.channels()), nullptr);
}

TEST(SimulatedMachineProfile, BadProfilesNameTheMember) {
  const auto errorOf = [](const std::string& json) -> std::string {
    try {
      (void)loadMachineProfile(json);
    } catch (const std::invalid_argument& e) {
      return e.what();
    }
    return "accepted";
  };
  EXPECT_LINE_CASES(GOLDEN_DIR "/profile_error_cases.txt", errorOf);
  // The JSON library's own words are not fixed here.
  EXPECT_THAT(errorOf("{\"counters\": ["), HasSubstr("not valid JSON"));
  EXPECT_THAT(errorOf("{\"name\": " + std::string(100'000, '[') + std::string(100'000, ']') + "}"),
              HasSubstr("nested deeper than 64"));

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
