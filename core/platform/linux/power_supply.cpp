#include "core/platform/linux/power_supply.h"

#include "core/platform/linux/sysfs_dir.h"
#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {
namespace {

std::optional<std::string> text(const std::filesystem::path& dir, const char* file) {
  return readText(dir / file);
}

std::optional<std::int64_t> number(const std::filesystem::path& dir, const char* file) {
  return readNumber(dir / file);
}

}  // namespace

bool PowerSupply::isSystemBattery() const {
  return type == "Battery" && scope.value_or("") != "Device" && present.value_or(1) != 0;
}

bool PowerSupply::isExternalSource() const { return type == "Mains" || type.starts_with("USB"); }

bool PowerSupply::reportsContract() const {
  return name.starts_with("ucsi-source-psy-") || name.starts_with("tcpm-source-psy-");
}

PowerSupply readPowerSupply(const std::filesystem::path& dir) {
  PowerSupply s;
  s.name = dir.filename().string();
  s.type = text(dir, "type").value_or("Unknown");
  s.scope = text(dir, "scope");
  s.status = text(dir, "status");
  if (const std::optional<std::string> usbTypes = readAttribute(dir / "usb_type")) s.usbType = parseActiveUsbType(*usbTypes);
  s.manufacturer = text(dir, "manufacturer");
  s.modelName = text(dir, "model_name");
  s.serialNumber = text(dir, "serial_number");
  s.present = number(dir, "present");
  s.online = number(dir, "online");
  s.capacity = number(dir, "capacity");
  s.cycleCount = number(dir, "cycle_count");
  s.voltageNow = number(dir, "voltage_now");
  s.voltageMax = number(dir, "voltage_max");
  s.currentNow = number(dir, "current_now");
  s.currentMax = number(dir, "current_max");
  s.powerNow = number(dir, "power_now");
  s.energyNow = number(dir, "energy_now");
  s.energyFull = number(dir, "energy_full");
  s.chargeNow = number(dir, "charge_now");
  s.chargeFull = number(dir, "charge_full");
  return s;
}

std::vector<PowerSupply> readPowerSupplies(const std::filesystem::path& root) {
  const std::filesystem::path classDir = root / "sys/class/power_supply";
  std::vector<PowerSupply> supplies;
  for (const std::string& name : listDirectory(classDir)) {
    if (!isDirectory(classDir / name)) continue;
    supplies.push_back(readPowerSupply(classDir / name));
  }
  return supplies;
}

std::optional<std::string> parseActiveUsbType(std::string_view text) {
  text = trim(text);
  std::vector<std::string_view> entries;
  while (!text.empty()) {
    const std::size_t space = text.find_first_of(" \t\n");
    entries.push_back(text.substr(0, space));
    text = space == std::string_view::npos ? std::string_view() : trim(text.substr(space));
  }
  for (std::string_view entry : entries) {
    if (entry.size() > 2 && entry.front() == '[' && entry.back() == ']') return std::string(entry.substr(1, entry.size() - 2));
  }
  if (entries.size() == 1) return std::string(entries.front());
  return std::nullopt;
}

}  // namespace calorim::sysfs
