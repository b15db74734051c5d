#include "core/platform/linux/powercap.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <system_error>

#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {
namespace {

constexpr std::array<std::string_view, 3> kControlTypes = {"intel-rapl", "intel-rapl-tpmi", "intel-rapl-mmio"};

// "package-0", "package-1-die-0": "package-" then a number, optionally "-die-" and a number.
bool isPackageName(std::string_view name) {
  if (!name.starts_with("package-")) return false;
  name.remove_prefix(8);
  const std::size_t dash = name.find('-');
  if (!parseUnsigned(name.substr(0, dash))) return false;
  if (dash == std::string_view::npos) return true;
  const std::string_view rest = name.substr(dash);
  return rest.starts_with("-die-") && parseUnsigned(rest.substr(5)).has_value();
}

// The numeric path of a zone id after its control type: "0:1" gives {0, 1}.
std::optional<std::vector<std::uint64_t>> zonePath(std::string_view ids) {
  std::vector<std::uint64_t> path;
  while (true) {
    const std::size_t colon = ids.find(':');
    const std::string_view part = ids.substr(0, colon);
    std::uint64_t value = 0;
    if (part.empty() || part.size() > 8) return std::nullopt;
    for (char c : part) {
      int digit = 0;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else {
        return std::nullopt;
      }
      value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    path.push_back(value);
    if (colon == std::string_view::npos) return path;
    ids.remove_prefix(colon + 1);
  }
}

struct Candidate {
  std::vector<std::uint64_t> path;
  RaplZone zone;
};

// The readable zones of one control type; `refused` is set when a zone's
// counter could not be opened for want of permission.
std::vector<RaplZone> zonesOfType(const std::filesystem::path& powercap, std::string_view controlType,
                                  bool& refused) {
  std::vector<Candidate> found;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(powercap, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string id = it->path().filename().string();
    if (!id.starts_with(controlType) || id.size() <= controlType.size() + 1 || id[controlType.size()] != ':') continue;
    const std::optional<std::vector<std::uint64_t>> path =
        zonePath(std::string_view(id).substr(controlType.size() + 1));
    if (!path) continue;

    const std::optional<std::string> name = readAttribute(it->path() / "name");
    if (!name) continue;
    const RaplDomain domain = raplDomain(*name);
    if (domain == RaplDomain::other) continue;
    const std::filesystem::path energy = it->path() / "energy_uj";
    const AttributeRead reading = readAttributeOrError(energy);
    refused = refused || reading.error == EACCES || reading.error == EPERM;
    if (!reading.text || !parseUnsigned(*reading.text)) continue;
    const std::optional<std::string> range = readAttribute(it->path() / "max_energy_range_uj");
    const std::uint64_t rangeUj = range ? parseUnsigned(*range).value_or(0) : 0;
    found.push_back({*path, RaplZone{id, *name, domain, rangeUj, energy}});
  }
  std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) { return a.path < b.path; });
  std::vector<RaplZone> zones;
  zones.reserve(found.size());
  for (Candidate& c : found) zones.push_back(std::move(c.zone));
  return zones;
}

}  // namespace

RaplDomain raplDomain(std::string_view name) {
  if (isPackageName(name)) return RaplDomain::package;
  if (name == "core") return RaplDomain::core;
  if (name == "uncore") return RaplDomain::uncore;
  if (name == "dram") return RaplDomain::dram;
  if (name == "psys" || (name.starts_with("psys-") && parseUnsigned(name.substr(5)))) return RaplDomain::platform;
  return RaplDomain::other;
}

std::vector<RaplZone> findRaplZones(const std::filesystem::path& root) {
  const std::filesystem::path powercap = root / "sys/class/powercap";
  bool refused = false;
  for (std::string_view type : kControlTypes) {
    std::vector<RaplZone> zones = zonesOfType(powercap, type, refused);
    if (!zones.empty()) return zones;
  }
  return {};
}

std::optional<std::uint64_t> packageLongTermLimitUw(const std::filesystem::path& root) {
  const std::filesystem::path powercap = root / "sys/class/powercap";
  for (std::string_view type : kControlTypes) {
    std::uint64_t sum = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(powercap, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string id = it->path().filename().string();
      if (!id.starts_with(type) || id.size() <= type.size() + 1 || id[type.size()] != ':') continue;
      const std::optional<std::vector<std::uint64_t>> path = zonePath(std::string_view(id).substr(type.size() + 1));
      if (!path || path->size() != 1) continue;
      const std::optional<std::string> name = readAttribute(it->path() / "name");
      if (!name || raplDomain(*name) != RaplDomain::package) continue;
      for (int k = 0; k < 4; ++k) {
        const std::string constraint = "constraint_" + std::to_string(k);
        if (readAttribute(it->path() / (constraint + "_name")) != "long_term") continue;
        const std::optional<std::string> limit = readAttribute(it->path() / (constraint + "_power_limit_uw"));
        const std::uint64_t uw = limit ? parseUnsigned(*limit).value_or(0) : 0;
        // No package draws a kilowatt for long: a larger figure is not a limit.
        if (uw <= 1'000'000'000) sum += uw;
        break;
      }
    }
    if (sum > 0) return sum;
  }
  return std::nullopt;
}

RaplAccess raplAccess(const std::filesystem::path& root) {
  const std::filesystem::path powercap = root / "sys/class/powercap";
  bool refused = false;
  for (std::string_view type : kControlTypes) {
    if (!zonesOfType(powercap, type, refused).empty()) return RaplAccess::readable;
  }
  return refused ? RaplAccess::denied : RaplAccess::absent;
}

std::uint64_t energyDelta(std::uint64_t before, std::uint64_t after, std::uint64_t rangeUj) {
  if (after >= before) return after - before;
  if (before > rangeUj) return 0;
  return (rangeUj - before) + after;
}

}  // namespace calorim::sysfs
