#pragma once
// Thermal zones (sys/class/thermal/thermal_zoneN): a `type` naming the sensor
// ("x86_pkg_temp", "acpitz", "cpu-thermal", "soc-thermal", ...) and a `temp`
// in millidegrees Celsius. Zone numbers change between boots; zones are told
// apart by type. Cooling devices (cooling_deviceN) in the same folder are not zones.

#include <filesystem>
#include <string>
#include <vector>

namespace calorim::sysfs {

struct ThermalZone {
  std::string dir;             // "thermal_zone0"
  std::string type;            // the zone's `type`
  std::filesystem::path temp;  // its `temp` file (may be unreadable)
};

// Zones with a readable `type`, in natural order of their folders; empty when
// the class folder is missing.
[[nodiscard]] std::vector<ThermalZone> readThermalZones(const std::filesystem::path& root);

}  // namespace calorim::sysfs
