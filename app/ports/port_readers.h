#pragma once
// The readers of the ports window: USB devices and the power adapter from the
// registry, Thunderbolt / USB4 devices from the hardware report. Plain
// functions without state; every call reads afresh and gives every device a
// new random id, so identities do not survive a refresh. They never fail:
// anything missing or malformed gives defaults, shorter lists or no result.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QUuid>

#include "core/platform/hardware_report_port.h"
#include "core/platform/registry_port.h"
#include "core/platform/stop_signal.h"

namespace calorim::ports {

struct USBDevice {
  QUuid id;
  std::string name;    // product name; never empty
  std::string vendor;  // empty when the device reports none
  std::string speed;   // link speed in words, e.g. "480 Mb/s (USB 2.0)", or "Unknown"
};

struct TBPort {
  QUuid id;
  std::string deviceName;  // "Unknown" when the report has none
  std::string vendorName;  // empty when absent
  std::string speed;       // the report's link speed, else the device's mode, else empty
};

// One USB Power Delivery offer of the adapter.
struct PDO {
  std::int64_t index = 0;
  double maxVoltage = 0;  // V
  double maxCurrent = 0;  // A

  bool operator==(const PDO&) const = default;
};

struct AdapterInfo {
  std::string name;
  std::string manufacturer;
  std::int64_t watts = 0;  // rated
  double voltage = 0;      // V, negotiated
  double current = 0;      // A, negotiated
  std::string serial;
  std::string description;
  std::vector<PDO> pdMenu;
  std::int64_t activeHvcIndex = -1;  // `index` of the offer in use; -1 when unknown
  double systemPowerW = 0;           // W flowing in now
  double actualVoltage = 0;          // V
  double actualCurrent = 0;          // A

  bool operator==(const AdapterInfo&) const = default;
};

// USB devices in registry order, without root hubs and host controllers.
[[nodiscard]] std::vector<USBDevice> readUSBDevices(RegistryPort& registry);

// Words for a link speed in bits per second (the registry's "UsbLinkSpeed").
[[nodiscard]] std::string usbSpeedWords(std::optional<std::int64_t> bitsPerSecond);

// Devices on the Thunderbolt / USB4 buses, buses and devices in report order.
// May block while the system's reporting tool runs, until `stop` is requested.
[[nodiscard]] std::vector<TBPort> readThunderboltPorts(HardwareReportPort& reports, const StopToken& stop = {});

// The devices of one "SPThunderboltDataType" report text.
[[nodiscard]] std::vector<TBPort> parseThunderboltReport(std::string_view json);

// The adapter as the battery controller sees it (read through the live
// monitor's reader of its service); absent without a battery
// controller or without an adapter description.
[[nodiscard]] std::optional<AdapterInfo> readAdapterInfo(RegistryPort& registry);

}  // namespace calorim::ports
