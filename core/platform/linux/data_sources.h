#pragma once
// The places the Linux backend reads sensors and energy from, each tried once,
// for a diagnosis (HostPort::dataSources):
//   "powercap"  each zone of sys/class/powercap (every control type, the
//               platform zone and MMIO mirrors included; the control types'
//               own folders are not zones), named by its `name`; readable when
//               its `energy_uj` reads as a number;
//   "hwmon"     each chip of sys/class/hwmon, named by its `name` (or its
//               device's); readable when one of its temperature, fan, power or
//               energy inputs reads as a number;
//   "thermal"   each thermal zone of sys/class/thermal, named by its `type`;
//               readable when its `temp` reads as a number.
// Kinds in that order, each in natural order of its folders and cut after
// kMaxSourcesPerKind, so a strange tree cannot make the list long; names are
// at most one attribute (a page) long. Paths are under the root given.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/host_port.h"

namespace calorim::sysfs {

inline constexpr std::size_t kMaxSourcesPerKind = 128;

// The sources under `root`. Never throws, except std::bad_alloc.
[[nodiscard]] std::vector<DataSource> readDataSources(const std::filesystem::path& root);

// Why the attribute at `path` does not read as a (signed, decimal) number:
// "permission denied" (EACCES, EPERM), "missing" (ENOENT), "not a number",
// else the system's words for the errno in lower case ("is a directory",
// "input/output error"). Absent when it reads as a number.
[[nodiscard]] std::optional<std::string> numberProblem(const std::filesystem::path& path);

}  // namespace calorim::sysfs
