#pragma once
// The process port on Linux, read under a root directory ("/" in the product,
// a fixture tree in tests). Every call reads its files afresh.
//
//  - processes: each numeric directory of proc/ whose stat file can be read:
//    the id, the command name ("comm", the text between the first "(" and
//    the last ")", which may itself hold spaces and parentheses), utime +
//    stime and the start time (clock ticks since boot) from proc/PID/stat; the
//    user id is the owner of that file. Processes that vanish or cannot be
//    read while the table is made are skipped. The machine's busy time is the
//    ACTIVE time of the per-CPU lines of proc/stat. Linux keeps no energy per
//    process.
//  - control groups: a cgroup v2 hierarchy at sys/fs/cgroup (recognised by
//    its cgroup.controllers file), each group's "usage_usec" from cpu.stat,
//    walked from the root down to the asked depth, children by name; the
//    root's own cpu.stat, where the kernel keeps one, is the total.
// Counts, depths and lengths are bounded, so a hostile or broken tree cannot
// make a reading grow without end. Nothing throws, except std::bad_alloc.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform/process_port.h"

namespace calorim::sysfs {

class LinuxProcesses final : public ProcessPort {
 public:
  // The most processes and groups one reading holds, and the deepest walk.
  static constexpr std::size_t kMaxProcesses = std::size_t{1} << 22;
  static constexpr std::size_t kMaxCgroups = 16384;
  static constexpr int kMaxCgroupDepth = 16;

  // `ticksPerSecond` is the kernel's USER_HZ, the unit of proc/PID/stat
  // (sysconf(_SC_CLK_TCK) on the running system).
  LinuxProcesses(std::filesystem::path root, std::uint64_t ticksPerSecond);

  std::optional<ProcessTable> processes() override;
  std::optional<CgroupTable> cgroups(int depth) override;

 private:
  std::filesystem::path root_;
  std::uint64_t ticksPerSecond_;
};

// The fields of one proc/PID/stat text that the port keeps.
struct ProcessStat {
  std::int64_t pid = 0;
  std::string comm;
  std::uint64_t utime = 0;  // clock ticks
  std::uint64_t stime = 0;
  std::uint64_t starttime = 0;  // clock ticks after boot

  bool operator==(const ProcessStat&) const = default;
};

// Absent for text that is not a stat line: no "(" or ")", a field missing or
// not a number.
[[nodiscard]] std::optional<ProcessStat> parseProcessStat(std::string_view text);

// The "usage_usec" of a cpu.stat text; absent when there is none.
[[nodiscard]] std::optional<std::uint64_t> parseCgroupUsage(std::string_view text);

}  // namespace calorim::sysfs
