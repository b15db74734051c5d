#include "core/process_power.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "core/base/utf8.h"

namespace calorim {
namespace {

double nonNegative(double value) { return std::isfinite(value) && value > 0 ? value : 0; }

// Seconds of `units` in a table's unit.
double toSeconds(std::uint64_t units, const CpuTimeUnit& unit) {
  if (unit.units == 0) return 0;
  return static_cast<double>(units) * (static_cast<double>(unit.nanoseconds) / static_cast<double>(unit.units)) * 1e-9;
}

// How much a counter moved: the difference, or the whole of `after` when it
// went backwards (a new owner of the same id that started within the interval).
std::uint64_t moved(std::optional<std::uint64_t> before, std::uint64_t after) {
  return before && after >= *before ? after - *before : after;
}

double percentOf(double part, double seconds) { return seconds > 0 ? 100 * part / seconds : 0; }

// The share of `whole` that `part` is, out of `total` (0 when nothing was used).
double share(double part, double total, double whole) { return total > 0 ? whole * part / total : 0; }

}  // namespace

std::string_view methodName(AttributionMethod method) {
  return method == AttributionMethod::osEnergy ? "osEnergy" : "cpuTimeShare";
}

void ProcessAttribution::keepFirst(std::size_t limit) {
  if (processes.size() <= limit) return;
  for (std::size_t i = limit; i < processes.size(); ++i) otherPowerW += processes[i].powerW;
  processes.resize(limit);
}

ProcessAttribution attributeProcesses(const ProcessTable& before, const ProcessTable& after, double seconds,
                                      double cpuPowerW) {
  seconds = nonNegative(seconds);
  cpuPowerW = nonNegative(cpuPowerW);

  std::unordered_map<std::int64_t, const ProcessTimes*> earlier;
  earlier.reserve(before.processes.size());
  for (const ProcessTimes& p : before.processes) earlier.emplace(p.pid, &p);

  const bool osEnergy =
      !after.processes.empty() && std::all_of(after.processes.begin(), after.processes.end(),
                                              [](const ProcessTimes& p) { return p.energyNanojoules.has_value(); });

  // The machine's busy time covers also the processes that are gone.
  std::optional<double> busyTime;
  if (before.busyTime && after.busyTime && *after.busyTime >= *before.busyTime) {
    busyTime = toSeconds(*after.busyTime - *before.busyTime, after.unit);
  }

  struct Used {
    const ProcessTimes* process;
    double cpuSeconds;
    double joules;
  };
  std::vector<Used> used;
  double cpuSum = 0;
  for (const ProcessTimes& p : after.processes) {
    const auto it = earlier.find(p.pid);
    const ProcessTimes* same = it != earlier.end() && it->second->startTime == p.startTime ? it->second : nullptr;
    // A counter that went backwards belongs to another process than before;
    // its time and energy are then both counted from its start.
    const bool continued = same && p.cpuTime >= same->cpuTime;
    double cpuSeconds = toSeconds(moved(continued ? std::optional(same->cpuTime) : std::nullopt, p.cpuTime),
                                  after.unit);
    // A process first seen now may only have become readable now: it cannot
    // have used more than the whole machine did.
    if (!continued && busyTime) cpuSeconds = std::min(cpuSeconds, *busyTime);
    double joules = 0;
    if (osEnergy) {
      const std::optional<std::uint64_t> start = continued ? same->energyNanojoules : std::nullopt;
      joules = static_cast<double>(moved(start, *p.energyNanojoules)) * 1e-9;
    }
    if (cpuSeconds <= 0 && joules <= 0) continue;
    cpuSum += cpuSeconds;
    used.push_back({&p, cpuSeconds, joules});
  }

  ProcessAttribution result;
  result.method = osEnergy ? AttributionMethod::osEnergy : AttributionMethod::cpuTimeShare;
  result.seconds = seconds;
  result.cpuPowerW = cpuPowerW;

  // Where the machine's busy time is not known, or rounding made it smaller
  // than the processes' own sum, that sum stands in.
  const double busy = std::max(cpuSum, busyTime.value_or(0));

  double listed = 0;
  result.processes.reserve(used.size());
  for (const Used& u : used) {
    ProcessPower power;
    power.pid = u.process->pid;
    power.name = repairUtf8(u.process->name);
    power.uid = u.process->uid;
    power.cpuPercent = percentOf(u.cpuSeconds, seconds);
    if (osEnergy) {
      power.energyJ = u.joules;
      power.powerW = seconds > 0 ? u.joules / seconds : 0;
    } else {
      power.powerW = share(u.cpuSeconds, busy, cpuPowerW);
      power.energyJ = power.powerW * seconds;
    }
    listed += power.powerW;
    result.processes.push_back(std::move(power));
  }
  std::sort(result.processes.begin(), result.processes.end(), [](const ProcessPower& a, const ProcessPower& b) {
    return a.powerW != b.powerW ? a.powerW > b.powerW : a.pid < b.pid;
  });
  result.otherPowerW = std::max(0.0, cpuPowerW - listed);
  return result;
}

CgroupAttribution attributeCgroups(const CgroupTable& before, const CgroupTable& after, double seconds,
                                   double cpuPowerW) {
  seconds = nonNegative(seconds);
  cpuPowerW = nonNegative(cpuPowerW);

  std::unordered_map<std::string_view, std::uint64_t> earlier;
  earlier.reserve(before.groups.size());
  for (const CgroupUsage& g : before.groups) earlier.emplace(g.path, g.usageMicroseconds);

  std::vector<double> usedSeconds;
  usedSeconds.reserve(after.groups.size());
  double topSum = 0;
  for (const CgroupUsage& g : after.groups) {
    const auto it = earlier.find(g.path);
    const double s =
        static_cast<double>(moved(it != earlier.end() ? std::optional(it->second) : std::nullopt, g.usageMicroseconds)) *
        1e-6;
    usedSeconds.push_back(s);
    if (g.path.find('/') == std::string::npos) topSum += s;
  }
  double busy = topSum;
  if (before.totalMicroseconds && after.totalMicroseconds && *after.totalMicroseconds >= *before.totalMicroseconds) {
    busy = std::max(busy, static_cast<double>(*after.totalMicroseconds - *before.totalMicroseconds) * 1e-6);
  }

  CgroupAttribution result;
  result.seconds = seconds;
  result.cpuPowerW = cpuPowerW;
  result.groups.reserve(after.groups.size());
  double topPower = 0;
  for (std::size_t i = 0; i < after.groups.size(); ++i) {
    CgroupPower power;
    power.path = repairUtf8(after.groups[i].path);
    power.cpuPercent = percentOf(usedSeconds[i], seconds);
    power.powerW = std::min(cpuPowerW, share(usedSeconds[i], busy, cpuPowerW));
    power.energyJ = power.powerW * seconds;
    if (after.groups[i].path.find('/') == std::string::npos) topPower += power.powerW;
    result.groups.push_back(std::move(power));
  }
  result.otherPowerW = std::max(0.0, cpuPowerW - topPower);
  return result;
}

// ---- meter ------------------------------------------------------------------

ProcessMeter::ProcessMeter(ProcessPort* port, ClockPort& clock, int cgroupDepth, bool readProcesses)
    : port_(port), clock_(clock), cgroupDepth_(cgroupDepth), readProcesses_(readProcesses) {}

void ProcessMeter::restart() {
  forget();
  if (!port_) return;
  time_ = clock_.steadyNow();
  if (readProcesses_) table_ = port_->processes();
  if (cgroupDepth_ > 0) cgroups_ = port_->cgroups(cgroupDepth_);
}

void ProcessMeter::forget() {
  time_.reset();
  table_.reset();
  cgroups_.reset();
}

ProcessMeter::Result ProcessMeter::next(double cpuPowerW) {
  Result result;
  if (!port_) return result;
  const auto now = clock_.steadyNow();
  std::optional<ProcessTable> table = readProcesses_ ? port_->processes() : std::nullopt;
  std::optional<CgroupTable> cgroups = cgroupDepth_ > 0 ? port_->cgroups(cgroupDepth_) : std::nullopt;
  if (time_) {
    const double seconds = std::chrono::duration<double>(now - *time_).count();
    if (table_ && table) result.processes = attributeProcesses(*table_, *table, seconds, cpuPowerW);
    if (cgroups_ && cgroups) result.cgroups = attributeCgroups(*cgroups_, *cgroups, seconds, cpuPowerW);
  }
  time_ = now;
  table_ = std::move(table);
  cgroups_ = std::move(cgroups);
  return result;
}

}  // namespace calorim
