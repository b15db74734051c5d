#include "app/model/battery_readers.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/model/power_sample.h"
#include "core/platform/fake/fake_platform.h"
#include "core/power_metrics.h"

#ifdef __linux__
#include "core/platform/linux/linux_registry.h"
#endif

namespace calorim::app {
namespace {

// Counts the service look-ups and property reads made through it.
class CountingRegistry final : public RegistryPort {
 public:
  explicit CountingRegistry(RegistryPort& inner) : inner_(inner) {}
  int lookups = 0;
  int reads = 0;

  std::vector<std::unique_ptr<RegistryService>> matchingServices(std::string_view className) override {
    ++lookups;
    return inner_.matchingServices(className);
  }
  std::optional<RegistryDictionary> properties(const RegistryService& s) override {
    ++reads;
    return inner_.properties(s);
  }
  std::optional<RegistryValue> property(const RegistryService& s, std::string_view key) override {
    ++reads;
    return inner_.property(s, key);
  }

 private:
  RegistryPort& inner_;
};

TEST(BatteryReaders, TelemetryEntriesAsWatts) {
  struct Case {
    RegistryValue entry;
    double watts;
  };
  const std::vector<Case> cases = {
      {std::int64_t{45000}, 45.0}, {std::int64_t{1}, 0.001}, {std::int64_t{0}, 0},
      {std::int64_t{-12000}, 0},   {45000.0, 0},             {"45000", 0},
      {true, 0},
  };
  for (const Case& c : cases) {
    const RegistryValue telemetry = RegistryDictionary{{"SystemPowerIn", c.entry}};
    EXPECT_DOUBLE_EQ(detail::telemetryWatts(&telemetry, "SystemPowerIn"), c.watts);
  }
  const RegistryValue notADictionary = std::int64_t{45000};
  EXPECT_EQ(detail::telemetryWatts(&notADictionary, "SystemPowerIn"), 0);
  EXPECT_EQ(detail::telemetryWatts(nullptr, "SystemPowerIn"), 0);
}

TEST(BatteryReaders, ServiceIsLookedUpUntilFoundThenKept) {
  fake::FakeRegistry fakes;
  CountingRegistry registry(fakes);
  BatteryReaders readers(registry);

  EXPECT_EQ(readers.read(), BatteryReadings{});
  EXPECT_EQ(readers.read(), BatteryReadings{});
  EXPECT_EQ(registry.lookups, 2);  // nothing found: every read looks again

  fakes.addService("AppleSmartBattery", RegistryDictionary{{"CurrentCapacity", 55}});
  EXPECT_EQ(readers.read().info.percent, 55);
  EXPECT_EQ(readers.read().info.percent, 55);
  EXPECT_EQ(registry.lookups, 3);
  EXPECT_EQ(registry.reads, 2);  // one copy of the properties per sample
}

// Every reader on one battery service's properties.
TEST(BatteryReaders, ReadingsOfTheBatteryService) {
  struct Case {
    const char* name;
    std::optional<RegistryDictionary> properties;
    BatteryInfo info;
    double system, battery, charge;
  };
  const RegistryDictionary telemetry{{"SystemPowerIn", 31500}, {"BatteryPower", 11800}};
  const RegistryDictionary adapter{{"Watts", 96}, {"AdapterVoltage", 20000}};
  const std::vector<Case> cases = {
      {"adapter", RegistryDictionary{{"CurrentCapacity", 76}, {"IsCharging", true}, {"AdapterDetails", adapter}},
       {76, true, 96, 20.0}, 0, 0, 0},
      {"adapter without voltage",
       RegistryDictionary{{"CurrentCapacity", 40}, {"AdapterDetails", RegistryDictionary{{"Watts", 65}}}},
       {40, false, 65, 0}, 0, 0, 0},
      {"wrong types",
       RegistryDictionary{{"CurrentCapacity", "76"},
                          {"IsCharging", std::int64_t{1}},
                          {"AdapterDetails", RegistryDictionary{{"Watts", 96.0}, {"AdapterVoltage", "20000"}}}},
       {}, 0, 0, 0},
      {"adapter details not a dictionary", RegistryDictionary{{"AdapterDetails", 96}}, {}, 0, 0, 0},
      {"properties unreadable", std::nullopt, {}, 0, 0, 0},
      // The charge is the voltage times a positive current; the current wins over the telemetry entry.
      {"charging current", RegistryDictionary{{"IsCharging", true}, {"Voltage", 12410}, {"Amperage", 951}},
       {0, true, 0, 0}, 0, 0, 12.410 * 0.951},
      {"current and telemetry",
       RegistryDictionary{
           {"IsCharging", true}, {"Voltage", 12000}, {"Amperage", 1000}, {"PowerTelemetryData", telemetry}},
       {0, true, 0, 0}, 31.5, 0, 12.0},
      // While charging the battery entry is the power going in: nothing is drawn from the battery.
      {"telemetry while charging", RegistryDictionary{{"IsCharging", true}, {"PowerTelemetryData", telemetry}},
       {0, true, 0, 0}, 31.5, 0, 11.8},
      {"telemetry while discharging",
       RegistryDictionary{{"CurrentCapacity", 12}, {"IsCharging", false}, {"PowerTelemetryData", telemetry}},
       {12, false, 0, 0}, 31.5, 11.8, 0},
      {"discharging current", RegistryDictionary{{"IsCharging", false}, {"Voltage", 12410}, {"Amperage", -1500}}, {},
       0, 0, 0},
      {"voltage missing", RegistryDictionary{{"IsCharging", true}, {"Amperage", 951}}, {0, true, 0, 0}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    fake::FakeRegistry registry;
    registry.addService("AppleSmartBattery", c.properties);
    BatteryReaders readers(registry);
    const BatteryReadings r = readers.read();
    EXPECT_EQ(r.info, c.info) << c.name;
    EXPECT_NEAR(r.systemPower, c.system, 1e-9) << c.name;
    EXPECT_NEAR(r.batteryPower, c.battery, 1e-9) << c.name;
    EXPECT_NEAR(r.chargePower, c.charge, 1e-9) << c.name;
  }

  EXPECT_EQ(chargingPower(false, 30), 0);  // not charging: 0 whatever the battery says
  EXPECT_EQ(chargingPower(true, -3), 0);
  EXPECT_EQ(chargingPower(true, 11.5), 11.5);
}

#ifdef __linux__
// A Linux battery that reports its current, charging and then discharging: the power is its voltage × current.
TEST(BatteryReaders, LinuxBatteryThroughTheRegistry) {
  sysfs::PowerSupply battery;
  battery.name = "BAT0";
  battery.type = "Battery";
  battery.present = 1;
  battery.voltageNow = 12'600'000;  // µV
  battery.currentNow = 2'000'000;   // µA
  for (const bool charging : {true, false}) {
    battery.status = charging ? "Charging" : "Discharging";
    fake::FakeRegistry registry;
    registry.addService("AppleSmartBattery", sysfs::detail::batteryDictionary({battery}, {}));
    BatteryReaders readers(registry);
    const BatteryReadings r = readers.read();
    EXPECT_NEAR(r.chargePower, charging ? 25.2 : 0, 1e-9);
    EXPECT_NEAR(r.batteryPower, charging ? 0 : 25.2, 1e-9);
    EXPECT_EQ(r.info.charging, charging);
  }
}
#endif

TEST(MemoryReader, BytesAsGigabytesAndMissingFiguresAsZero) {
  fake::FakeHost host;
  EXPECT_EQ(readMemoryInfo(host), MemoryInfo{});

  host.setSystemInteger("hw.memsize", std::int64_t{16} << 30);
  host.setMemoryUsed(std::uint64_t{6} << 29);  // 3 GB
  host.setSwapUsed(std::uint64_t{1} << 28);    // 0.25 GB
  EXPECT_EQ(readMemoryInfo(host), (MemoryInfo{3.0, 16.0, 0.25}));

  host.setSystemInteger("hw.memsize", -1);
  host.setMemoryUsed(std::nullopt);
  EXPECT_EQ(readMemoryInfo(host), (MemoryInfo{0, 0, 0.25}));
}

TEST(PowerSample, AbsentTemperaturesReadAsZeroAndChargingPowerOnlyWhileCharging) {
  auto snapshot = [](std::optional<double> cpuTemp, std::optional<double> gpuTemp) {
    return PowerSnapshot({}, 0.5, 1.5, 2.5, 0.25, 0.75, 6.0, 0.5, 1.0, cpuTemp, gpuTemp, {}, 0.3, 0.4, 0.1, 0.6, {},
                         900, MemoryBandwidth::zero(), {}, EnergyBreakdown::empty(), std::nullopt);
  };
  SampleReadings readings;
  readings.chargePower = 11.8;
  readings.battery = {76, false, 96, 20.0};

  const PowerSample cold = makeSample(snapshot(std::nullopt, std::nullopt), readings);
  EXPECT_EQ(cold.cpuTemp, 0);
  EXPECT_EQ(cold.gpuTemp, 0);
  EXPECT_EQ(cold.chargingPower, 0);  // not charging, whatever the battery reports
  EXPECT_EQ(cold.adapterWatts, 96);

  readings.battery.charging = true;
  const PowerSample warm = makeSample(snapshot(71.5, 48.0), readings);
  EXPECT_EQ(warm.cpuTemp, 71.5);
  EXPECT_EQ(warm.gpuTemp, 48.0);
  EXPECT_EQ(warm.chargingPower, 11.8);
  EXPECT_NE(warm.id, cold.id);
}

}  // namespace
}  // namespace calorim::app
