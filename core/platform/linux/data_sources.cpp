#include "core/platform/linux/data_sources.h"

#include <cerrno>
#include <string_view>
#include <system_error>
#include <utility>

#include "core/base/text.h"
#include "core/platform/linux/hwmon.h"
#include "core/platform/linux/sysfs_dir.h"
#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {
namespace {

// The inputs of one chip tried before it counts as unreadable: a chip has a
// few dozen at most, and the first readable one settles it.
constexpr std::size_t kMaxInputsTried = 64;

DataSource source(std::string_view kind, std::string name, const std::filesystem::path& path,
                  std::optional<std::string> problem) {
  return {std::string(kind), std::move(name), path.string(), !problem, problem.value_or("")};
}

void addPowercapZones(const std::filesystem::path& root, std::vector<DataSource>& out) {
  const std::filesystem::path classDir = root / "sys/class/powercap";
  std::size_t listed = 0;
  for (const std::string& dir : listDirectory(classDir)) {
    // "intel-rapl:0:1" is a zone; "intel-rapl" is its control type.
    if (dir.find(':') == std::string::npos) continue;
    if (listed++ == kMaxSourcesPerKind) break;
    const std::filesystem::path path = classDir / dir;
    out.push_back(source("powercap", readText(path / "name").value_or(""), path, numberProblem(path / "energy_uj")));
  }
}

// Why no input of `chip` reads; absent when one does.
std::optional<std::string> chipProblem(const HwmonChip& chip) {
  std::optional<std::string> first;
  std::size_t tried = 0;
  for (const char* type : {"temp", "fan", "power", "energy"}) {
    for (const HwmonChannel& channel : readHwmonChannels(chip, type)) {
      if (tried++ == kMaxInputsTried) return first;
      std::optional<std::string> problem = numberProblem(channel.input);
      if (!problem) return std::nullopt;
      if (!first) first = std::move(problem);
    }
  }
  return first ? first : std::optional<std::string>("no temperature, fan, power or energy inputs");
}

void addHwmonChips(const std::filesystem::path& root, std::vector<DataSource>& out) {
  const std::filesystem::path classDir = root / "sys/class/hwmon";
  std::size_t listed = 0;
  for (const std::string& dir : listDirectory(classDir)) {
    if (listed++ == kMaxSourcesPerKind) break;
    const std::filesystem::path path = classDir / dir;
    std::optional<std::string> name = readText(path / "name");
    if (!name) name = readText(path / "device/name");
    const HwmonChip chip{dir, name.value_or(""), path};
    out.push_back(source("hwmon", chip.name, path, chipProblem(chip)));
  }
}

void addThermalZones(const std::filesystem::path& root, std::vector<DataSource>& out) {
  const std::filesystem::path classDir = root / "sys/class/thermal";
  std::size_t listed = 0;
  for (const std::string& dir : listDirectory(classDir)) {
    if (!dir.starts_with("thermal_zone")) continue;
    if (listed++ == kMaxSourcesPerKind) break;
    const std::filesystem::path path = classDir / dir;
    out.push_back(source("thermal", readText(path / "type").value_or(""), path, numberProblem(path / "temp")));
  }
}

}  // namespace

std::optional<std::string> numberProblem(const std::filesystem::path& path) {
  const AttributeRead read = readAttributeOrError(path);
  if (read.text) {
    if (parseSigned(*read.text)) return std::nullopt;
    return "not a number";
  }
  if (read.error == EACCES || read.error == EPERM) return "permission denied";
  if (read.error == ENOENT) return "missing";
  return lowerCase(std::generic_category().message(read.error));
}

std::vector<DataSource> readDataSources(const std::filesystem::path& root) {
  std::vector<DataSource> sources;
  addPowercapZones(root, sources);
  addHwmonChips(root, sources);
  addThermalZones(root, sources);
  return sources;
}

}  // namespace calorim::sysfs
