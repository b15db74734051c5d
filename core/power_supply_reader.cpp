#include "core/power_supply_reader.h"

#include <cstdint>

namespace calorim {

PowerSupplyReader::PowerSupplyReader(RegistryPort& registry) : registry_(registry) {}

PowerSupplyReading PowerSupplyReader::read() {
  PowerSupplyReading reading;
  if (!service_) {
    auto found = registry_.matchingServices("AppleSmartBattery");
    if (found.empty()) return reading;
    service_ = std::move(found.front());
  }
  const std::optional<RegistryDictionary> all = registry_.properties(*service_);
  if (!all) return reading;
  if (const RegistryValue* v = all->find("CurrentCapacity")) {
    if (const auto* percent = v->as<std::int64_t>(); percent && *percent >= 0 && *percent <= 100) {
      reading.chargeRatio = static_cast<double>(*percent) / 100.0;
    }
  }
  if (const RegistryValue* v = all->find("IsCharging")) {
    if (const auto* charging = v->as<bool>()) reading.charging = *charging;
  }
  if (const RegistryValue* v = all->find("AdapterDetails")) {
    if (const auto* adapter = v->as<RegistryDictionary>()) {
      if (const RegistryValue* w = adapter->find("Watts")) {
        if (const auto* watts = w->as<std::int64_t>(); watts && *watts > 0) {
          reading.adapterWatts = static_cast<double>(*watts);
        }
      }
    }
  }
  return reading;
}

}  // namespace calorim
