#include "core/platform/linux/usb_power_delivery.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "core/platform/linux/sysfs_dir.h"
#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {
namespace {

// No PDO comes near a billion mV, mA or mW; the bound keeps voltage × current in range.
constexpr std::uint64_t kMaxUnitValue = 1'000'000'000;

std::optional<std::int64_t> unitValue(const std::filesystem::path& file, std::string_view suffix) {
  const std::optional<std::string> text = readAttribute(file);
  return text ? parseUnitValue(*text, suffix) : std::nullopt;
}

std::optional<Pdo> readPdo(const std::filesystem::path& dir, int position, PdoKind kind) {
  Pdo pdo;
  pdo.position = position;
  pdo.kind = kind;
  std::optional<std::int64_t> voltage;
  std::optional<std::int64_t> current;
  if (kind == PdoKind::fixedSupply) {
    voltage = unitValue(dir / "voltage", "mV");
    current = unitValue(dir / "maximum_current", "mA");
    // A sink PDO states the current it needs instead of an offer.
    if (!current) current = unitValue(dir / "operational_current", "mA");
  } else {
    voltage = unitValue(dir / "maximum_voltage", "mV");
    pdo.minVoltageMv = unitValue(dir / "minimum_voltage", "mV");
    if (kind == PdoKind::battery) {
      std::optional<std::int64_t> power = unitValue(dir / "maximum_power", "mW");
      if (!power) power = unitValue(dir / "operational_power", "mW");
      if (power && voltage && *voltage > 0) current = *power * 1000 / *voltage;
    } else {
      current = unitValue(dir / "maximum_current", "mA");
      if (!current) current = unitValue(dir / "operational_current", "mA");
    }
  }
  if (!voltage || !current) return std::nullopt;
  pdo.maxVoltageMv = *voltage;
  pdo.maxCurrentMa = *current;
  return pdo;
}

bool isSinkRole(std::string_view role) {
  role = trim(role);
  return role == "sink" || role.find("[sink]") != std::string_view::npos;
}

}  // namespace

std::optional<std::pair<int, PdoKind>> parsePdoFolderName(std::string_view name) {
  const std::size_t colon = name.find(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  int position = 0;
  const auto [end, ec] = std::from_chars(name.data(), name.data() + colon, position);
  if (ec != std::errc() || end != name.data() + colon || position < 1) return std::nullopt;
  const std::string_view type = name.substr(colon + 1);
  if (type == "fixed_supply") return std::pair{position, PdoKind::fixedSupply};
  if (type == "variable_supply") return std::pair{position, PdoKind::variableSupply};
  if (type == "battery") return std::pair{position, PdoKind::battery};
  if (type == "programmable_supply") return std::pair{position, PdoKind::programmableSupply};
  return std::nullopt;
}

std::optional<std::int64_t> parseUnitValue(std::string_view text, std::string_view suffix) {
  text = trim(text);
  if (suffix.empty() || !text.ends_with(suffix)) return std::nullopt;
  const std::optional<std::uint64_t> value = parseUnsigned(text.substr(0, text.size() - suffix.size()));
  if (!value || *value > kMaxUnitValue) return std::nullopt;
  return static_cast<std::int64_t>(*value);
}

std::vector<Pdo> readCapabilities(const std::filesystem::path& pdDir, std::string_view capabilities) {
  const std::filesystem::path dir = pdDir / capabilities;
  std::vector<Pdo> pdos;
  for (const std::string& entry : listDirectory(dir)) {
    const auto parsed = parsePdoFolderName(entry);
    if (!parsed) continue;
    if (std::optional<Pdo> pdo = readPdo(dir / entry, parsed->first, parsed->second)) pdos.push_back(*pdo);
  }
  std::sort(pdos.begin(), pdos.end(), [](const Pdo& a, const Pdo& b) { return a.position < b.position; });
  return pdos;
}

std::vector<Pdo> readChargerPdos(const std::filesystem::path& root) {
  const std::filesystem::path typec = root / "sys/class/typec";
  for (const std::string& entry : listDirectory(typec)) {
    constexpr std::string_view kPartner = "-partner";
    if (!entry.starts_with("port") || !entry.ends_with(kPartner)) continue;
    const std::string port = entry.substr(0, entry.size() - kPartner.size());
    // A port whose role cannot be read is taken as a sink: it has a partner that offers power.
    if (const std::optional<std::string> role = readAttribute(typec / port / "power_role"); role && !isSinkRole(*role)) {
      continue;
    }
    std::vector<Pdo> pdos = readCapabilities(typec / entry / "usb_power_delivery", "source-capabilities");
    if (!pdos.empty()) return pdos;
  }
  const std::filesystem::path classDir = root / "sys/class/usb_power_delivery";
  for (const std::string& pd : listDirectory(classDir)) {
    // A charger offers power and asks for none; the machine's own ports do both.
    if (isDirectory(classDir / pd / "sink-capabilities")) continue;
    std::vector<Pdo> pdos = readCapabilities(classDir / pd, "source-capabilities");
    if (!pdos.empty()) return pdos;
  }
  return {};
}

}  // namespace calorim::sysfs
