#pragma once
// RAPL energy counters under <root>/sys/class/powercap.
//
// Zones are directories "<control type>:<id>[:<id>...]", ids in hex; a top-level
// zone is a package (or the platform "psys"), its subzones are parts of it:
// "core" (all cores), "uncore" (integrated graphics), "dram". Each zone has a
// cumulative `energy_uj` (µJ) that wraps to 0 after `max_energy_range_uj`.
// `energy_uj` is readable only by root unless the administrator granted access;
// an unreadable counter is treated as a missing zone.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calorim::sysfs {

enum class RaplDomain {
  package,   // "package-N", "package-N-die-M"
  core,      // "core"
  uncore,    // "uncore"
  dram,      // "dram"
  platform,  // "psys", "psys-N": the whole platform, packages included
  other,
};

// The domain of a zone by the contents of its `name` file.
[[nodiscard]] RaplDomain raplDomain(std::string_view name);

struct RaplZone {
  std::string id;    // directory name, e.g. "intel-rapl:0:1"
  std::string name;  // e.g. "package-0", "core"
  RaplDomain domain = RaplDomain::other;
  std::uint64_t maxEnergyRangeUj = 0;  // 0 when the file is missing or unreadable
  std::filesystem::path energyPath;    // the zone's `energy_uj`
};

// The package, core, uncore, dram and platform (psys) zones of one control
// type, ordered by their numeric ids (packages before their subzones). Only zones whose
// `energy_uj` reads as a number now are listed. The control types are tried in
// the order intel-rapl, intel-rapl-tpmi, intel-rapl-mmio and the first one with
// such a zone wins: the MMIO zones mirror the MSR ones and must not be counted
// twice. Empty when there is none (no powercap, a VM, counters root-only).
[[nodiscard]] std::vector<RaplZone> findRaplZones(const std::filesystem::path& root);

// The sustained (long-term) power limit of the packages, in µW: the sum over
// the package zones of the control type `findRaplZones` picks of the limit of
// the constraint named "long_term" (constraint_<k>_name and
// constraint_<k>_power_limit_uw, k from 0 to 3). Absent when no package zone
// names one or every such limit is 0. Needs no root: the limits are readable by all.
[[nodiscard]] std::optional<std::uint64_t> packageLongTermLimitUw(const std::filesystem::path& root);

// Whether the energy counters under <root>/sys/class/powercap can be read,
// tried by opening and reading each zone's `energy_uj`: `readable` when one
// of the zones `findRaplZones` would list reads, `denied` when none does and
// at least one was refused for want of permission (EACCES, EPERM), `absent`
// otherwise (no powercap folder, no RAPL zone, counters that do not read as a
// number).
enum class RaplAccess { readable, denied, absent };
[[nodiscard]] RaplAccess raplAccess(const std::filesystem::path& root);

// The energy in µJ between two readings of one counter that wraps to 0 after
// `rangeUj`: `after - before`, or `(rangeUj - before) + after` when the counter
// went round once. A reading that went back and cannot be a wrap (`before`
// above the range, or the range unknown as 0) is a reset and gives 0. Pure.
[[nodiscard]] std::uint64_t energyDelta(std::uint64_t before, std::uint64_t after, std::uint64_t rangeUj);

}  // namespace calorim::sysfs
