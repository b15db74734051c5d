#pragma once
// The process port: the processes of the machine with their cumulative CPU
// time and, where the operating system keeps it, their cumulative energy; and
// the CPU time of each control group down to a depth where the system has
// them. Attribution of power to processes and groups is core code over these
// readings (process_power.h).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace calorim {

// The unit a table counts CPU time in, as a fraction of a nanosecond count:
// nanoseconds = units × nanoseconds / units. Clock ticks at 100 per second
// are {1'000'000'000, 100}; a Mach time base of 125/3 is {125, 3}.
struct CpuTimeUnit {
  std::uint64_t nanoseconds = 1;
  std::uint64_t units = 1;

  bool operator==(const CpuTimeUnit&) const = default;
};

// One process as the system describes it at one moment.
struct ProcessTimes {
  std::int64_t pid = 0;
  std::string name;                 // the executable's short name, as the system keeps it (any bytes)
  std::optional<std::uint32_t> uid; // the user it runs as; absent when unknown
  // When the process started, in the system's own unit; a process id seen
  // again with another start time is another process.
  std::uint64_t startTime = 0;
  std::uint64_t cpuTime = 0;  // user + system time since the process started, in the table's unit
  std::optional<std::uint64_t> energyNanojoules;  // cumulative, where the system keeps it

  bool operator==(const ProcessTimes&) const = default;
};

struct ProcessTable {
  CpuTimeUnit unit;
  std::vector<ProcessTimes> processes;  // those the caller may read; in no particular order
  // CPU time the whole machine spent running anything (every CPU together)
  // since it started, in `unit`; absent where the system does not tell.
  std::optional<std::uint64_t> busyTime;
  // Processes the system listed but refused to describe (another user's):
  // counted, never guessed.
  std::size_t refused = 0;

  bool operator==(const ProcessTable&) const = default;
};

// One control group: its path below the root of the hierarchy
// ("system.slice/nginx.service") and the CPU time of its processes and of all
// groups below it.
struct CgroupUsage {
  std::string path;
  std::uint64_t usageMicroseconds = 0;

  bool operator==(const CgroupUsage&) const = default;
};

struct CgroupTable {
  std::vector<CgroupUsage> groups;  // parents before their children
  // CPU time of the whole hierarchy (its root); absent where the root keeps none.
  std::optional<std::uint64_t> totalMicroseconds;

  bool operator==(const CgroupTable&) const = default;
};

class ProcessPort {
 public:
  virtual ~ProcessPort() = default;

  // The processes now; absent when the system cannot be asked at all.
  [[nodiscard]] virtual std::optional<ProcessTable> processes() = 0;

  // The control groups from one level below the root down to `depth` levels
  // (1: "system.slice"; 2: also "system.slice/nginx.service"); absent where
  // the system has no such hierarchy or `depth` is below 1.
  [[nodiscard]] virtual std::optional<CgroupTable> cgroups(int depth) = 0;
};

}  // namespace calorim
