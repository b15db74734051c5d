#include "app/ports/port_readers.h"

#include <algorithm>
#include <array>
#include <utility>

#include "app/model/battery_readers.h"
#include "core/base/text.h"
#include "core/json.h"

namespace calorim::ports {
namespace {

// A property of the expected type, or nothing.
template <class T>
std::optional<T> typed(const RegistryValue* value) {
  if (value == nullptr) return std::nullopt;
  if (const T* v = value->as<T>()) return *v;
  return std::nullopt;
}

template <class T>
std::optional<T> typed(const std::optional<RegistryValue>& value) {
  return typed<T>(value ? &*value : nullptr);
}

double thousandths(std::optional<std::int64_t> value) { return static_cast<double>(value.value_or(0)) / 1000.0; }


}  // namespace

std::string usbSpeedWords(std::optional<std::int64_t> bitsPerSecond) {
  static constexpr std::array<std::pair<std::int64_t, const char*>, 6> kKnown = {{
      {1'500'000, "1.5 Mb/s (USB 1.0)"},
      {12'000'000, "12 Mb/s (USB 1.1)"},
      {480'000'000, "480 Mb/s (USB 2.0)"},
      {5'000'000'000, "5 Gb/s (USB 3.0)"},
      {10'000'000'000, "10 Gb/s (USB 3.1)"},
      {20'000'000'000, "20 Gb/s (USB 3.2)"},
  }};
  if (!bitsPerSecond || *bitsPerSecond <= 0) return "Unknown";
  for (const auto& [speed, words] : kKnown) {
    if (*bitsPerSecond == speed) return words;
  }
  return std::to_string(*bitsPerSecond / 1'000'000) + " Mb/s";
}

std::vector<USBDevice> readUSBDevices(RegistryPort& registry) {
  std::vector<USBDevice> devices;
  for (const auto& service : registry.matchingServices("IOUSBHostDevice")) {
    // The second name key counts only when the first is missing or not text.
    std::optional<std::string> name = typed<std::string>(registry.property(*service, "USB Product Name"));
    if (!name) name = typed<std::string>(registry.property(*service, "kUSBProductString"));
    if (!name || name->empty()) continue;
    const std::string lower = lowerCase(*name);
    if (contains(lower, "root hub") || contains(lower, "host controller")) continue;
    devices.push_back(USBDevice{
        QUuid::createUuid(), std::move(*name),
        typed<std::string>(registry.property(*service, "kUSBVendorString")).value_or(""),
        usbSpeedWords(typed<std::int64_t>(registry.property(*service, "UsbLinkSpeed")))});
  }
  return devices;
}

std::vector<TBPort> parseThunderboltReport(std::string_view json) {
  const std::optional<Json> parsed = readJson(json);
  if (!parsed || !parsed->is_object()) return {};
  const Json& report = *parsed;
  const auto buses = report.find("SPThunderboltDataType");
  if (buses == report.end() || !buses->is_array()) return {};
  const auto allObjects = [](const Json& array) {
    return std::all_of(array.begin(), array.end(), [](const Json& item) { return item.is_object(); });
  };
  if (!allObjects(*buses)) return {};

  const auto text = [](const Json& object, const char* key) -> std::optional<std::string> {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
  };

  std::vector<TBPort> ports;
  for (const Json& bus : *buses) {
    const auto items = bus.find("_items");
    if (items == bus.end() || !items->is_array() || !allObjects(*items)) continue;
    for (const Json& device : *items) {
      std::string deviceName = text(device, "device_name_key").value_or("Unknown");
      if (deviceName == "MacBook Pro") continue;  // the host computer as seen from the bus
      std::string speed;
      for (const auto& [key, value] : device.items()) {
        if (!contains(key, "receptacle") || !contains(key, "upstream") || !value.is_object() || value.empty()) {
          continue;
        }
        if (std::optional<std::string> current = text(value, "current_speed_key")) {
          speed = std::move(*current);
          break;
        }
      }
      if (speed.empty()) speed = text(device, "mode_key").value_or("");
      ports.push_back(TBPort{QUuid::createUuid(), std::move(deviceName), text(device, "vendor_name_key").value_or(""),
                             std::move(speed)});
    }
  }
  return ports;
}

std::vector<TBPort> readThunderboltPorts(HardwareReportPort& reports, const StopToken& stop) {
  const std::optional<std::string> report = reports.report("SPThunderboltDataType", stop);
  return report ? parseThunderboltReport(*report) : std::vector<TBPort>{};
}

std::optional<AdapterInfo> readAdapterInfo(RegistryPort& registry) {
  const std::optional<RegistryDictionary> properties = app::BatteryReaders(registry).properties();
  if (!properties || properties->empty()) return std::nullopt;
  const RegistryValue* adapter = properties->find("AdapterDetails");
  const RegistryDictionary* details = adapter != nullptr ? adapter->as<RegistryDictionary>() : nullptr;
  if (details == nullptr) return std::nullopt;

  const auto text = [&](const char* key) { return typed<std::string>(details->find(key)).value_or(""); };
  const auto integer = [](const RegistryDictionary& d, const char* key) { return typed<std::int64_t>(d.find(key)); };

  AdapterInfo info;
  info.name = text("Name");
  info.manufacturer = text("Manufacturer");
  info.watts = integer(*details, "Watts").value_or(0);
  info.voltage = thousandths(integer(*details, "AdapterVoltage"));
  info.current = thousandths(integer(*details, "Current"));
  info.serial = text("SerialString");
  info.description = text("Description");
  info.activeHvcIndex = integer(*details, "UsbHvcHvcIndex").value_or(-1);

  if (const RegistryValue* menu = details->find("UsbHvcMenu")) {
    const RegistryArray* offers = menu->as<RegistryArray>();
    const bool allDictionaries =
        offers != nullptr && std::all_of(offers->begin(), offers->end(), [](const RegistryValue& offer) {
          return offer.as<RegistryDictionary>() != nullptr;
        });
    if (allDictionaries) {
      for (const RegistryValue& offer : *offers) {
        const RegistryDictionary& pdo = *offer.as<RegistryDictionary>();
        info.pdMenu.push_back(PDO{integer(pdo, "Index").value_or(0), thousandths(integer(pdo, "MaxVoltage")),
                                  thousandths(integer(pdo, "MaxCurrent"))});
      }
    }
  }

  if (const RegistryValue* telemetry = properties->find("PowerTelemetryData")) {
    if (const RegistryDictionary* live = telemetry->as<RegistryDictionary>()) {
      info.systemPowerW = thousandths(integer(*live, "SystemPowerIn"));
      info.actualVoltage = thousandths(integer(*live, "SystemVoltageIn"));
      info.actualCurrent = thousandths(integer(*live, "SystemCurrentIn"));
    }
  }
  return info;
}

}  // namespace calorim::ports
