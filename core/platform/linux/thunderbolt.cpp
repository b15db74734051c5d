#include "core/platform/linux/thunderbolt.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>

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

std::optional<double> speed(const std::filesystem::path& dir, const char* file) {
  const std::optional<std::string> value = readAttribute(dir / file);
  return value ? parseLinkSpeed(*value) : std::nullopt;
}

}  // namespace

std::optional<std::pair<int, std::uint64_t>> parseRouterName(std::string_view name) {
  const std::size_t dash = name.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash + 1 >= name.size()) return std::nullopt;
  int domain = 0;
  const auto [domainEnd, domainError] = std::from_chars(name.data(), name.data() + dash, domain);
  if (domainError != std::errc() || domainEnd != name.data() + dash || domain < 0) return std::nullopt;
  const std::string_view routeText = name.substr(dash + 1);
  if (routeText.size() > 16 || routeText.front() == '+' || routeText.front() == '-') return std::nullopt;
  std::uint64_t route = 0;
  const auto [routeEnd, routeError] = std::from_chars(routeText.data(), routeText.data() + routeText.size(), route, 16);
  if (routeError != std::errc() || routeEnd != routeText.data() + routeText.size()) return std::nullopt;
  return std::pair{domain, route};
}

std::optional<double> parseLinkSpeed(std::string_view text) {
  text = trim(text);
  constexpr std::string_view kUnit = "Gb/s";
  if (!text.ends_with(kUnit)) return std::nullopt;
  const std::string_view number = trim(text.substr(0, text.size() - kUnit.size()));
  if (number.empty() || number.size() > 16 || number.front() < '0' || number.front() > '9') return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec != std::errc() || end != number.data() + number.size()) return std::nullopt;
  return value;
}

std::optional<std::string> parseUeventValue(std::string_view text, std::string_view key) {
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const std::string_view line = trim(text.substr(0, newline));
    if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=') {
      return std::string(line.substr(key.size() + 1));
    }
    if (newline == std::string_view::npos) break;
    text.remove_prefix(newline + 1);
  }
  return std::nullopt;
}

std::vector<ThunderboltRouter> readThunderboltRouters(const std::filesystem::path& root) {
  const std::filesystem::path bus = root / "sys/bus/thunderbolt/devices";
  std::vector<ThunderboltRouter> routers;
  for (const std::string& name : listDirectory(bus)) {
    const auto parsed = parseRouterName(name);
    if (!parsed) continue;
    const std::filesystem::path dir = bus / name;
    if (const std::optional<std::string> uevent = readAttribute(dir / "uevent")) {
      const std::optional<std::string> type = parseUeventValue(*uevent, "DEVTYPE");
      if (type && *type != "thunderbolt_device") continue;
    }
    ThunderboltRouter r;
    r.name = name;
    r.domain = parsed->first;
    r.route = parsed->second;
    r.vendorName = text(dir, "vendor_name");
    r.deviceName = text(dir, "device_name");
    r.vendorId = text(dir, "vendor");
    r.deviceId = text(dir, "device");
    r.uniqueId = text(dir, "unique_id");
    r.nvmVersion = text(dir, "nvm_version");
    r.generation = number(dir, "generation");
    r.authorized = number(dir, "authorized");
    r.rxSpeedGbps = speed(dir, "rx_speed");
    r.rxLanes = number(dir, "rx_lanes");
    r.txSpeedGbps = speed(dir, "tx_speed");
    r.txLanes = number(dir, "tx_lanes");
    routers.push_back(std::move(r));
  }
  std::stable_sort(routers.begin(), routers.end(),
                   [](const ThunderboltRouter& a, const ThunderboltRouter& b) { return a.domain < b.domain; });
  return routers;
}

std::vector<int> readThunderboltDomains(const std::filesystem::path& root) {
  std::vector<int> domains;
  for (const std::string& name : listDirectory(root / "sys/bus/thunderbolt/devices")) {
    constexpr std::string_view kPrefix = "domain";
    if (!name.starts_with(kPrefix) || name.size() == kPrefix.size()) continue;
    int domain = 0;
    const char* first = name.data() + kPrefix.size();
    const auto [end, ec] = std::from_chars(first, name.data() + name.size(), domain);
    if (ec == std::errc() && end == name.data() + name.size() && domain >= 0) domains.push_back(domain);
  }
  std::sort(domains.begin(), domains.end());
  return domains;
}

}  // namespace calorim::sysfs
