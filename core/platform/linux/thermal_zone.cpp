#include "core/platform/linux/thermal_zone.h"

#include "core/platform/linux/sysfs_dir.h"
#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {

std::vector<ThermalZone> readThermalZones(const std::filesystem::path& root) {
  const std::filesystem::path classDir = root / "sys/class/thermal";
  std::vector<ThermalZone> zones;
  for (const std::string& dir : listDirectory(classDir)) {
    if (!dir.starts_with("thermal_zone")) continue;
    std::optional<std::string> type = readAttribute(classDir / dir / "type");
    if (!type || type->empty()) continue;
    zones.push_back({dir, std::move(*type), classDir / dir / "temp"});
  }
  return zones;
}

}  // namespace calorim::sysfs
