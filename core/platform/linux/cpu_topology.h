#pragma once
// Logical CPUs and their kinds, from sysfs:
//  - sys/devices/system/cpu/online: the CPUs the kernel runs on, as a cpulist;
//  - sys/devices/cpu_atom/cpus and sys/devices/cpu_core/cpus: efficiency and
//    performance cores of a hybrid Intel part (its two perf PMUs);
//  - sys/devices/system/cpu/cpu<N>/cpu_capacity: relative capacity on Arm
//    (biggest = 1024); CPUs below the largest capacity are efficiency cores;
//  - sys/devices/system/cpu/cpu<N>/topology/thread_siblings_list: the logical
//    CPUs (SMT threads) that share CPU N's physical core.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace calorim::sysfs {

// A kernel cpulist ("0-3,8,10-11") as ascending CPU numbers without repeats.
// Empty text gives an empty list; a malformed list (a reversed range, a
// non-number) is absent.
[[nodiscard]] std::optional<std::vector<int>> parseCpuList(std::string_view text);

// The online CPUs, ascending; absent when the `online` file is missing or malformed.
[[nodiscard]] std::optional<std::vector<int>> readOnlineCpus(const std::filesystem::path& root);

// The split of a set of CPUs into performance and efficiency cores. On a
// machine with one kind of core every CPU is a performance core.
struct CpuKinds {
  std::vector<int> performance;  // ascending
  std::vector<int> efficiency;   // ascending

  [[nodiscard]] bool hybrid() const { return !performance.empty() && !efficiency.empty(); }
  [[nodiscard]] bool isEfficiency(int cpu) const;
};

// The kinds of `cpus` (ascending): Intel's cpu_atom list first, else Arm
// capacities. A CPU named by neither source counts as a performance core; when
// every CPU would be an efficiency core, all of them count as performance cores.
[[nodiscard]] CpuKinds readCpuKinds(const std::filesystem::path& root, const std::vector<int>& cpus);

// The number of physical cores among `cpus`: CPUs that are threads of one core
// count once. A CPU whose sibling list is missing or malformed counts as a core
// of its own.
[[nodiscard]] std::size_t countPhysicalCores(const std::filesystem::path& root, const std::vector<int>& cpus);

}  // namespace calorim::sysfs
