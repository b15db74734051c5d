#include "core/platform/linux/linux_registry.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "linux_machine_tree.h"

namespace calorim::sysfs {
namespace {

namespace fs = std::filesystem;
using calorim::testing::MachineTree;

const RegistryValue& at(const RegistryDictionary& d, std::string_view key) {
  const RegistryValue* v = d.find(key);
  if (v == nullptr) throw std::runtime_error("missing key " + std::string(key));
  return *v;
}
const RegistryDictionary& dict(const RegistryDictionary& d, std::string_view key) {
  return *at(d, key).as<RegistryDictionary>();
}

TEST(LinuxRegistry, KeptServicesFollowUnplugAndRemoval) {
  MachineTree tree("laptop");
  LinuxRegistry registry(tree.root());
  auto services = registry.matchingServices("AppleSmartBattery");
  ASSERT_EQ(services.size(), 1u);

  tree.write("sys/class/power_supply/BAT0/status", "Discharging");
  tree.write("sys/class/power_supply/AC/online", "0");
  tree.write("sys/class/power_supply/ucsi-source-psy-USBC000:001/online", "0");
  std::optional<RegistryDictionary> b = registry.properties(*services.front());
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(at(*b, "IsCharging"), RegistryValue(false));
  EXPECT_EQ(at(*b, "ExternalConnected"), RegistryValue(false));
  EXPECT_EQ(b->find("AdapterDetails"), nullptr);
  EXPECT_EQ(dict(*b, "PowerTelemetryData"), (RegistryDictionary{{"BatteryPower", std::int64_t{18560}}}));

  // Charging stopped at the threshold with the charger still in: adapter yes, discharge no.
  tree.write("sys/class/power_supply/BAT0/status", "Not charging");
  tree.write("sys/class/power_supply/ucsi-source-psy-USBC000:001/online", "1");
  b = registry.properties(*services.front());
  EXPECT_NE(b->find("AdapterDetails"), nullptr);
  EXPECT_EQ(dict(*b, "PowerTelemetryData").find("BatteryPower"), nullptr);

  // A broken file is just absent (charge from energy without `capacity` is on the t480 and handheld).
  tree.makeUnreadable("sys/class/power_supply/BAT0/voltage_now");
  EXPECT_EQ(registry.properties(*services.front())->find("Voltage"), nullptr);

  tree.remove("sys/class/power_supply/BAT0");
  EXPECT_FALSE(registry.properties(*services.front()).has_value());
  EXPECT_FALSE(registry.property(*services.front(), "PowerTelemetryData").has_value());
  // The mouse's battery (scope Device) is not the machine's.
  EXPECT_TRUE(registry.matchingServices("AppleSmartBattery").empty());

  const auto usb = registry.matchingServices("IOUSBHostDevice");
  ASSERT_FALSE(usb.empty());
  tree.remove("sys/bus/usb/devices/1-2");
  EXPECT_FALSE(registry.properties(*usb[0]).has_value());
  EXPECT_FALSE(registry.property(*usb[0], "USB Product Name").has_value());
}

PowerSupply battery(std::string name, std::string status) {
  PowerSupply s;
  s.name = std::move(name);
  s.type = "Battery";
  s.status = std::move(status);
  return s;
}

// Two batteries (t480) and a charger that measures what flows (handheld) are in
// the golden files of those fixture machines.
TEST(LinuxRegistryBattery, ShapesFromSupplies) {
  PowerSupply bat0 = battery("BAT0", "Charging");
  PowerSupply mouse = battery("hidpp_battery_0", "Discharging");
  mouse.scope = "Device";
  // A PPS contract names no fixed offer (the laptop's PD one does); a plain mains adapter says only what it is.
  PowerSupply ucsi;
  ucsi.name = "ucsi-source-psy-USBC000:001";
  ucsi.type = "USB";
  ucsi.online = 1;
  ucsi.usbType = "PD_PPS";
  ucsi.voltageNow = 9'000'000;
  const std::vector<Pdo> pdos = {{1, PdoKind::fixedSupply, 5000, std::nullopt, 3000},
                                 {2, PdoKind::fixedSupply, 9000, std::nullopt, 3000}};
  const RegistryDictionary pps = *detail::batteryDictionary({bat0, ucsi}, pdos);
  EXPECT_EQ(at(dict(pps, "AdapterDetails"), "UsbHvcHvcIndex"), RegistryValue(-1));

  PowerSupply ac;
  ac.name = "AC";
  ac.type = "Mains";
  ac.online = 1;
  EXPECT_EQ(dict(*detail::batteryDictionary({bat0, ac}, {}), "AdapterDetails"),
            (RegistryDictionary{{"Description", "Mains"}, {"UsbHvcHvcIndex", std::int64_t{-1}}}));

  // Only peripherals, or an empty battery bay: no battery service.
  PowerSupply bay = battery("BAT1", "Unknown");
  bay.present = 0;
  EXPECT_FALSE(detail::batteryDictionary({mouse, bay, ac}, {}).has_value());
}

TEST(SysfsPowerSupply, ParsersAndChargerOffers) {
  EXPECT_EQ(parseActiveUsbType("[C] PD PD_PPS"), "C");
  EXPECT_EQ(parseActiveUsbType("Unknown SDP [DCP] CDP"), "DCP");
  EXPECT_EQ(parseActiveUsbType("USB"), "USB");
  EXPECT_FALSE(parseActiveUsbType("C PD").has_value());
  EXPECT_FALSE(parseActiveUsbType(" ").has_value());

  EXPECT_EQ(parsePdoFolderName("12:programmable_supply"), (std::pair{12, PdoKind::programmableSupply}));
  EXPECT_FALSE(parsePdoFolderName("0:battery").has_value());
  EXPECT_FALSE(parsePdoFolderName("3:adjustable_voltage_supply").has_value());
  EXPECT_FALSE(parsePdoFolderName("fixed_supply").has_value());
  EXPECT_FALSE(parseUnitValue("5000mA", "mV").has_value());
  EXPECT_FALSE(parseUnitValue("mV", "mV").has_value());
  EXPECT_FALSE(parseUnitValue("-5mV", "mV").has_value());
  EXPECT_FALSE(parseUnitValue("99999999999999999999mV", "mV").has_value());

  // Without Type-C links the PD object that asks for no power is the charger;
  // a battery PDO states power, turned into current at its top voltage.
  MachineTree tree("laptop");
  tree.remove("sys/class/typec");
  tree.write("sys/class/usb_power_delivery/pd0/source-capabilities/6:battery/maximum_voltage", "20000mV");
  tree.write("sys/class/usb_power_delivery/pd0/source-capabilities/6:battery/minimum_voltage", "5000mV");
  tree.write("sys/class/usb_power_delivery/pd0/source-capabilities/6:battery/maximum_power", "45000mW");
  tree.makeUnreadable("sys/class/usb_power_delivery/pd0/source-capabilities/2:fixed_supply/voltage");
  std::vector<Pdo> pdos = readChargerPdos(tree.root());
  ASSERT_EQ(pdos.size(), 5u);
  EXPECT_EQ(pdos[1].position, 3);
  EXPECT_EQ(pdos.back(), (Pdo{6, PdoKind::battery, 20000, 5000, 2250}));

  // A partner of a port that is the source (a phone being charged) offers nothing to the laptop.
  MachineTree sourcing("laptop");
  sourcing.write("sys/class/typec/port0/power_role", "[source] sink");
  sourcing.remove("sys/class/usb_power_delivery/pd0");
  EXPECT_TRUE(readChargerPdos(sourcing.root()).empty());
}

TEST(SysfsUsb, NamesAndValues) {
  for (const char* device : {"usb1", "usb12", "1-2", "1-2.1", "3-10.4.2"}) EXPECT_TRUE(isUsbDeviceName(device)) << device;
  for (const char* other : {"1-0:1.0", "1-2.1:1.1", "usb", "usbx", "1-", "-2", "1-2.", "1-a"}) {
    EXPECT_FALSE(isUsbDeviceName(other)) << other;
  }
  EXPECT_EQ(parseUsbSpeed("20000"), 20'000'000'000);
  for (const char* bad : {"unknown", "", "-12", "1.", ".5", "1.5.0", "99999999999"}) {
    EXPECT_FALSE(parseUsbSpeed(bad).has_value()) << bad;
  }
  EXPECT_EQ(parseHex("0x8086"), 0x8086);
  EXPECT_FALSE(parseHex("xyz").has_value());
  EXPECT_FALSE(parseHex("ffffffffffffffff").has_value());
  EXPECT_EQ(parseBcdVersion(" 3.10\n"), 0x0310);
  EXPECT_FALSE(parseBcdVersion("3").has_value());
  EXPECT_FALSE(parseBcdVersion("3.1").has_value());
}

}  // namespace
}  // namespace calorim::sysfs
