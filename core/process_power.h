#pragma once
// Which processes and which control groups use the CPU's power.
//
// Over an interval between two readings of the process port, each process is
// given a part of the measured CPU power:
//  - estimated ("cpuTimeShare"): its share of the CPU time the machine spent
//    running over the interval, times the CPU power;
//  - measured by the system ("osEnergy"): where the system keeps every
//    process's energy, that energy over the interval.
// Whatever no listed process accounts for (processes that exited or could not
// be read, another user's processes the system would not describe, time the
// kernel spent on nobody's behalf) is one "other" part, so that the parts add
// up to the CPU power. Control groups are shared out the same way, from their
// own CPU time. The method is part of every result.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/clock_port.h"
#include "core/platform/process_port.h"

namespace calorim {

enum class AttributionMethod { cpuTimeShare, osEnergy };

// "cpuTimeShare" or "osEnergy", as the programs write it.
[[nodiscard]] std::string_view methodName(AttributionMethod method);

struct ProcessPower {
  std::int64_t pid = 0;
  std::string name;  // valid UTF-8 (ill-formed bytes replaced)
  std::optional<std::uint32_t> uid;
  double cpuPercent = 0;  // CPU time over the interval, in percent of one CPU (can pass 100)
  double powerW = 0;
  double energyJ = 0;

  bool operator==(const ProcessPower&) const = default;
};

struct ProcessAttribution {
  AttributionMethod method = AttributionMethod::cpuTimeShare;
  double seconds = 0;    // the interval
  double cpuPowerW = 0;  // the measured CPU power shared out
  // The processes that used the CPU over the interval, by `powerW` from the
  // largest (equal ones by pid).
  std::vector<ProcessPower> processes;
  double otherPowerW = 0;  // the rest of `cpuPowerW`; never below 0

  // Keeps the first `limit` processes and adds the power of the others to
  // `otherPowerW`.
  void keepFirst(std::size_t limit);
};

// Shares `cpuPowerW`, measured over `seconds`, among the processes of two
// readings taken `seconds` apart. A process is matched by its id and start
// time; one that is new in `after`, or whose CPU time went backwards (its id
// was reused), started within the interval and is charged all its time. The
// OS-energy method is used when every process of `after` carries energy.
// Non-finite or negative `seconds` or `cpuPowerW` count as 0. Never throws
// except std::bad_alloc.
[[nodiscard]] ProcessAttribution attributeProcesses(const ProcessTable& before, const ProcessTable& after,
                                                    double seconds, double cpuPowerW);

struct CgroupPower {
  std::string path;  // valid UTF-8
  double cpuPercent = 0;
  double powerW = 0;
  double energyJ = 0;

  bool operator==(const CgroupPower&) const = default;
};

struct CgroupAttribution {
  AttributionMethod method = AttributionMethod::cpuTimeShare;
  double seconds = 0;
  double cpuPowerW = 0;
  // Every group of `after`, in its order. A group's power includes that of
  // the groups below it, so only the top-level ones add up.
  std::vector<CgroupPower> groups;
  double otherPowerW = 0;  // `cpuPowerW` less the top-level groups
};

// Shares `cpuPowerW` among the control groups of two readings by their CPU
// time, as `attributeProcesses` does among processes.
[[nodiscard]] CgroupAttribution attributeCgroups(const CgroupTable& before, const CgroupTable& after, double seconds,
                                                 double cpuPowerW);

// Readings of the process port one after another: each `next` shares the CPU
// power measured since the previous reading. Not safe for concurrent use.
class ProcessMeter {
 public:
  // `port` may be null (a platform without processes): every `next` is then
  // absent. `cgroupDepth` below 1 reads no control groups; without
  // `readProcesses` only control groups are read.
  ProcessMeter(ProcessPort* port, ClockPort& clock, int cgroupDepth = 0, bool readProcesses = true);

  // Takes a reading to measure from; an earlier one is forgotten.
  void restart();
  // Forgets the reading, so that the next `next` only starts a new interval.
  void forget();

  struct Result {
    std::optional<ProcessAttribution> processes;
    std::optional<CgroupAttribution> cgroups;
  };
  // Takes a reading and shares `cpuPowerW` over the time since the previous
  // one; the new reading starts the next interval. Absent parts where there
  // was no previous reading or one of the two failed.
  [[nodiscard]] Result next(double cpuPowerW);

 private:
  ProcessPort* port_;
  ClockPort& clock_;
  int cgroupDepth_;
  bool readProcesses_;
  std::optional<std::chrono::steady_clock::time_point> time_;
  std::optional<ProcessTable> table_;
  std::optional<CgroupTable> cgroups_;
};

}  // namespace calorim
