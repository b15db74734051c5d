#pragma once
// Power supplies (sys/class/power_supply/<name>): batteries, mains adapters and
// USB / USB-C supplies, one folder each with one attribute per property.
//
// Units as the kernel writes them: µV, µA, µW, µWh, µAh; `capacity` in percent.
// Properties a driver does not provide are absent. Signs of current and power
// differ between drivers (the ACPI battery reports magnitudes), so users take
// the magnitude and the direction from `status`.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calorim::sysfs {

struct PowerSupply {
  std::string name;                      // folder name: "BAT0", "AC", "ucsi-source-psy-USBC000:001"
  std::string type;                      // "Battery", "Mains", "USB", "Wireless", ... ("Unknown" when unreadable)
  std::optional<std::string> scope;      // "System", "Device", "Unknown"
  std::optional<std::string> status;     // "Charging", "Discharging", "Not charging", "Full", "Unknown"
  std::optional<std::string> usbType;    // the active entry of `usb_type` ("PD", "C", "PD_PPS", ...)
  std::optional<std::string> manufacturer;
  std::optional<std::string> modelName;
  std::optional<std::string> serialNumber;
  std::optional<std::int64_t> present;   // 0 or 1
  std::optional<std::int64_t> online;    // 0 offline, 1 online, 2 online and programmable
  std::optional<std::int64_t> capacity;  // %
  std::optional<std::int64_t> cycleCount;
  std::optional<std::int64_t> voltageNow;   // µV
  std::optional<std::int64_t> voltageMax;   // µV
  std::optional<std::int64_t> currentNow;   // µA, sign as the driver writes it
  std::optional<std::int64_t> currentMax;   // µA
  std::optional<std::int64_t> powerNow;     // µW, sign as the driver writes it
  std::optional<std::int64_t> energyNow;    // µWh
  std::optional<std::int64_t> energyFull;   // µWh
  std::optional<std::int64_t> chargeNow;    // µAh
  std::optional<std::int64_t> chargeFull;   // µAh

  // A battery of the machine itself: type Battery, not of a peripheral (scope
  // Device) and not an empty battery bay (present 0).
  [[nodiscard]] bool isSystemBattery() const;
  // A supply that feeds the machine from outside: Mains, or any USB type.
  [[nodiscard]] bool isExternalSource() const;
  [[nodiscard]] bool isOnline() const { return online.value_or(0) >= 1; }
  // USB-C port-controller supplies (UCSI, TCPM) whose voltage and current are
  // the negotiated contract, not a measurement.
  [[nodiscard]] bool reportsContract() const;
};

// Every supply with a folder, in natural order of the names; empty when the
// class folder is missing.
[[nodiscard]] std::vector<PowerSupply> readPowerSupplies(const std::filesystem::path& root);

// One supply folder; absent properties stay absent.
[[nodiscard]] PowerSupply readPowerSupply(const std::filesystem::path& dir);

// The active entry of a `usb_type` list: "C [PD] PD_PPS" gives "PD". A list of
// one entry without brackets ("USB") gives that entry; an empty list or one
// where none is marked active among several is absent. Pure.
[[nodiscard]] std::optional<std::string> parseActiveUsbType(std::string_view text);

}  // namespace calorim::sysfs
