#pragma once
// The per-CPU lines of /proc/stat: cumulative time of each logical CPU since
// boot, in USER_HZ ticks (normally 10 ms), split by what the CPU was doing.
// `guest` and `guest_nice` are already inside `user` and `nice` and are not kept.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace calorim::sysfs {

struct ProcStatCpu {
  int cpu = 0;  // the N of "cpuN"
  std::uint64_t user = 0;
  std::uint64_t nice = 0;
  std::uint64_t system = 0;
  std::uint64_t idle = 0;
  std::uint64_t iowait = 0;
  std::uint64_t irq = 0;
  std::uint64_t softirq = 0;
  std::uint64_t steal = 0;

  // Ticks spent running: user + nice + system + irq + softirq.
  [[nodiscard]] std::uint64_t active() const { return user + nice + system + irq + softirq; }
  // Ticks spent idle: idle + iowait (iowait is idle time spent waiting on I/O).
  [[nodiscard]] std::uint64_t idleAll() const { return idle + iowait; }

  bool operator==(const ProcStatCpu&) const = default;
};

// The "cpuN" lines of a /proc/stat text, ascending by N (a repeated N keeps its
// first line). The all-CPU "cpu" line and every other line are ignored. Older
// kernels print fewer columns: those missing read as 0, but a line needs at
// least user, nice, system and idle; a shorter or malformed line is skipped.
[[nodiscard]] std::vector<ProcStatCpu> parseProcStat(std::string_view text);

// The per-CPU lines of <root>/proc/stat; absent when the file cannot be read.
[[nodiscard]] std::optional<std::vector<ProcStatCpu>> readProcStat(const std::filesystem::path& root);

}  // namespace calorim::sysfs
