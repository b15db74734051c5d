#include "core/platform/linux/cpu_topology.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>

#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {
namespace {

// CPU numbers above this are not real (the kernel's own limit is 8192).
constexpr std::uint64_t kMaxCpu = 1 << 16;

std::optional<int> cpuNumber(std::string_view text) {
  const std::optional<std::uint64_t> n = parseUnsigned(text);
  if (!n || *n > kMaxCpu) return std::nullopt;
  return static_cast<int>(*n);
}

std::optional<std::vector<int>> readCpuListFile(const std::filesystem::path& path) {
  const std::optional<std::string> text = readAttribute(path);
  if (!text) return std::nullopt;
  return parseCpuList(*text);
}

}  // namespace

std::optional<std::vector<int>> parseCpuList(std::string_view text) {
  text = trim(text);
  std::vector<int> cpus;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    const std::size_t dash = item.find('-');
    const std::optional<int> first = cpuNumber(item.substr(0, dash));
    const std::optional<int> last = dash == std::string_view::npos ? first : cpuNumber(item.substr(dash + 1));
    if (!first || !last || *last < *first) return std::nullopt;
    if (cpus.size() + static_cast<std::size_t>(*last - *first) >= kMaxCpu) return std::nullopt;
    for (int cpu = *first; cpu <= *last; ++cpu) cpus.push_back(cpu);
  }
  std::sort(cpus.begin(), cpus.end());
  cpus.erase(std::unique(cpus.begin(), cpus.end()), cpus.end());
  return cpus;
}

std::optional<std::vector<int>> readOnlineCpus(const std::filesystem::path& root) {
  return readCpuListFile(root / "sys/devices/system/cpu/online");
}

bool CpuKinds::isEfficiency(int cpu) const { return std::binary_search(efficiency.begin(), efficiency.end(), cpu); }

CpuKinds readCpuKinds(const std::filesystem::path& root, const std::vector<int>& cpus) {
  std::vector<int> efficiencyCpus;
  if (std::optional<std::vector<int>> atom = readCpuListFile(root / "sys/devices/cpu_atom/cpus")) {
    efficiencyCpus = std::move(*atom);
  } else {
    std::vector<std::pair<int, std::uint64_t>> capacities;
    std::uint64_t largest = 0;
    for (int cpu : cpus) {
      const std::optional<std::string> text =
          readAttribute(root / "sys/devices/system/cpu" / ("cpu" + std::to_string(cpu)) / "cpu_capacity");
      const std::optional<std::uint64_t> capacity = text ? parseUnsigned(*text) : std::nullopt;
      if (!capacity) continue;
      capacities.emplace_back(cpu, *capacity);
      largest = std::max(largest, *capacity);
    }
    for (const auto& [cpu, capacity] : capacities) {
      if (capacity < largest) efficiencyCpus.push_back(cpu);
    }
    std::sort(efficiencyCpus.begin(), efficiencyCpus.end());
  }

  CpuKinds kinds;
  for (int cpu : cpus) {
    (std::binary_search(efficiencyCpus.begin(), efficiencyCpus.end(), cpu) ? kinds.efficiency : kinds.performance)
        .push_back(cpu);
  }
  if (kinds.performance.empty()) std::swap(kinds.performance, kinds.efficiency);
  std::sort(kinds.performance.begin(), kinds.performance.end());
  std::sort(kinds.efficiency.begin(), kinds.efficiency.end());
  return kinds;
}

std::size_t countPhysicalCores(const std::filesystem::path& root, const std::vector<int>& cpus) {
  // A core is known by the lowest CPU among its threads.
  std::set<int> cores;
  for (int cpu : cpus) {
    const std::optional<std::vector<int>> siblings = readCpuListFile(
        root / "sys/devices/system/cpu" / ("cpu" + std::to_string(cpu)) / "topology/thread_siblings_list");
    const bool listed = siblings && std::binary_search(siblings->begin(), siblings->end(), cpu);
    cores.insert(listed ? siblings->front() : cpu);
  }
  return cores.size();
}

}  // namespace calorim::sysfs
