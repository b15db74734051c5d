#pragma once
// USB devices (sys/bus/usb/devices).
//
// Entries are devices ("usb1" root hubs, "1-2", "1-2.1" behind hubs) and their
// interfaces ("1-2.1:1.0"); only devices are read. Strings come from the
// device's descriptors and are absent when it has none. `speed` is the link
// speed in Mbit/s ("1.5", "12", "480", "5000", "10000", "20000").

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calorim::sysfs {

struct UsbDevice {
  std::string name;                         // "1-2.1", "usb1"
  std::optional<std::string> product;
  std::optional<std::string> manufacturer;
  std::optional<std::string> serial;
  std::optional<std::int64_t> speedBitsPerSecond;
  std::optional<std::int64_t> vendorId;     // idVendor
  std::optional<std::int64_t> productId;    // idProduct
  std::optional<std::int64_t> deviceClass;  // bDeviceClass (0x09 = hub)
  std::optional<std::int64_t> bcdUsb;       // USB version as BCD: 0x0310 for " 3.10"
  std::optional<std::int64_t> busNumber;
  std::optional<std::int64_t> deviceNumber;
};

// Whether an entry of sys/bus/usb/devices is a device rather than an
// interface: "usbN" or "B-P[.P...]". Pure.
[[nodiscard]] bool isUsbDeviceName(std::string_view name);

// Device folders of sys/bus/usb/devices (root hubs included), in natural order;
// empty when the folder is missing.
[[nodiscard]] std::vector<std::filesystem::path> listUsbDevices(const std::filesystem::path& root);

// One device folder; absent attributes stay absent.
[[nodiscard]] UsbDevice readUsbDevice(const std::filesystem::path& dir);

// A `speed` in Mbit/s as bits per second: "480" → 480000000, "1.5" → 1500000.
// Absent for "unknown" and anything else that is not a number. Pure.
[[nodiscard]] std::optional<std::int64_t> parseUsbSpeed(std::string_view text);

// Hexadecimal without prefix ("046d", "09") or with "0x". Absent when empty,
// not hexadecimal or above the largest signed 64-bit value. Pure.
[[nodiscard]] std::optional<std::int64_t> parseHex(std::string_view text);

// A `version` (" 2.00", " 3.10") as BCD (0x0200, 0x0310). Absent otherwise. Pure.
[[nodiscard]] std::optional<std::int64_t> parseBcdVersion(std::string_view text);

}  // namespace calorim::sysfs
