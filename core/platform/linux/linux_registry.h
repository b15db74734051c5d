#pragma once
// The registry port on Linux: the two classes of services the core asks for,
// built from sysfs under a root folder ("/" in the product).
//
// "AppleSmartBattery": one service while the machine has a battery of its own
// (sys/class/power_supply, type Battery, scope not Device), with
//   "CurrentCapacity"  int, % (the kernel's `capacity`, else energy or charge now/full)
//   "IsCharging"       bool, a battery's status is "Charging"
//   "FullyCharged"     bool, every battery's status is "Full"
//   "ExternalConnected" bool, a mains or USB supply is online
//   "Voltage"          int, mV of the first battery (when known)
//   "Amperage"         int, mA through the batteries, negative while discharging (when known)
//   "CycleCount"       int (when the firmware counts)
//   "AdapterDetails"   dictionary, only while a mains or USB supply is online:
//       "Watts" int W (the best PDO, else max voltage × max current, else the
//       supply's power), "AdapterVoltage" int mV and "Current" int mA (the
//       negotiated or present values), "Name", "Manufacturer", "SerialString"
//       (text, when the supply has them), "Description" (text: kind and supply
//       name, e.g. "USB-C PD (ucsi-source-psy-USBC000:001)"),
//       "UsbHvcMenu" (array of {"Index" int from 0 in offer order, "MaxVoltage"
//       int mV, "MaxCurrent" int mA, and "MinVoltage" int mV for ranges}, the
//       charger's source PDOs) and "UsbHvcHvcIndex" (int, the fixed PDO whose
//       voltage matches the PD contract; −1 when unknown);
//   "PowerTelemetryData" dictionary: "SystemVoltageIn" mV, "SystemCurrentIn" mA
//       and "SystemPowerIn" mW from the online input supply when it measures
//       them ("SystemVoltageIn" also from a USB-C contract, whose voltage is
//       the bus voltage; never a contract's current or power), and
//       "BatteryPower" mW while a battery is discharging.
// "IOUSBHostDevice": one service per USB device (root hubs included,
// interfaces not), in natural order of the sysfs names, with "USB Product
// Name" and "kUSBProductString" (product), "kUSBVendorString" and "USB Vendor
// Name" (manufacturer), "kUSBSerialNumberString" and "USB Serial Number"
// (serial), "UsbLinkSpeed" (int, bit/s), "idVendor", "idProduct",
// "bDeviceClass", "bcdUSB" (int, BCD), "USB Address" (int), each when known.
// "AppleARMIODevice": one service when the machine has GPUs whose clock is
// reported, with "voltage-states9": the table of GPU clocks, 8-byte records
// (Hz, 32-bit little-endian, then a zero voltage) for 1, 2, ... up to
// GpuSet::kMaxClockMHz MHz, so that GPU state "P<n>" runs at n MHz.
// "IOAccelerator": one service per GPU of the GPU set, in its order, with
// "model" (its display name), "Integrated" (bool: graphics of the processor's
// package, an APU's included), "PowerMeasured" (bool: its energy is counted,
// its own or RAPL's uncore), "PowerLimitMilliwatts" (int, its power cap,
// read afresh, when the driver reports one) and "PerformanceStatistics"
// (dictionary: "Temperature(C)", double °C, while its sensor reads).
// Every other class: no services.
//
// Integers are int64. Services only name what to read: their properties are
// read afresh on every call, so a kept battery service follows plugging and
// unplugging. Never throws, except std::bad_alloc.

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "core/platform/linux/gpus.h"
#include "core/platform/linux/power_supply.h"
#include "core/platform/linux/usb_devices.h"
#include "core/platform/linux/usb_power_delivery.h"
#include "core/platform/registry_port.h"

namespace calorim::sysfs {

class LinuxRegistry final : public RegistryPort {
 public:
  // `gpus`: the machine's GPUs (null or empty for none): their clock table and services.
  explicit LinuxRegistry(std::filesystem::path root, std::shared_ptr<GpuSet> gpus = nullptr);

  std::vector<std::unique_ptr<RegistryService>> matchingServices(std::string_view className) override;
  // Absent when the battery is gone, or the USB device was unplugged.
  std::optional<RegistryDictionary> properties(const RegistryService& service) override;
  std::optional<RegistryValue> property(const RegistryService& service, std::string_view key) override;

 private:
  std::optional<RegistryDictionary> batteryProperties(bool withPdos) const;

  std::filesystem::path root_;
  std::shared_ptr<GpuSet> gpus_;  // null or not empty
};

namespace detail {

// The battery service's properties from the supplies and the charger's PDOs;
// absent when no supply is a system battery. Pure.
[[nodiscard]] std::optional<RegistryDictionary> batteryDictionary(const std::vector<PowerSupply>& supplies,
                                                                  const std::vector<Pdo>& chargerPdos);

// A USB device's properties. Pure.
[[nodiscard]] RegistryDictionary usbDeviceDictionary(const UsbDevice& device);

// The GPU clock table for 1 to `maxMHz` MHz (at most 4294). Pure.
[[nodiscard]] RegistryBytes gpuClockTable(int maxMHz);

}  // namespace detail
}  // namespace calorim::sysfs
