// The process port over the process information calls: every process id from
// proc_listallpids, and for each its resource usage from proc_pid_rusage
// (RUSAGE_INFO_V6, which holds the energy the system has billed it, falling
// back to RUSAGE_INFO_V4 on systems that refuse V6), its name from proc_name
// and its user from the short BSD information. CPU and start times are in Mach
// absolute time units, whose length mach_timebase_info gives (not 1 ns on
// Apple Silicon). Processes the system will not describe (another user's,
// without privileges) are only counted; those gone meanwhile are skipped.
// macOS has no control groups.

#include <libproc.h>
#include <mach/mach.h>
#include <mach/mach_time.h>
#include <sys/proc_info.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <vector>

#include "core/platform/darwin/darwin_platform.h"
#include "core/platform/darwin/handles.h"

namespace calorim::darwin {
namespace {

// More ids than any system runs; a larger count is not believed.
constexpr int kMaxProcesses = 1 << 20;
// The host's CPU tick counters run at 100 per second.
constexpr std::uint64_t kNanosecondsPerTick = 10'000'000;

std::vector<pid_t> allProcessIds() {
  const int count = proc_listallpids(nullptr, 0);
  if (count <= 0 || count > kMaxProcesses) return {};
  // Room for processes started between the two calls.
  std::vector<pid_t> pids(static_cast<std::size_t>(count) + 64);
  const int listed = proc_listallpids(pids.data(), static_cast<int>(pids.size() * sizeof(pid_t)));
  if (listed <= 0) return {};
  pids.resize(std::min(pids.size(), static_cast<std::size_t>(listed)));
  return pids;
}

// CPU time every CPU spent busy since boot, in Mach time units.
std::optional<std::uint64_t> busyTime(host_t host, const mach_timebase_info_data_t& base) {
  natural_t cpuCount = 0;
  processor_info_array_t info = nullptr;
  mach_msg_type_number_t infoCount = 0;
  if (host_processor_info(host, PROCESSOR_CPU_LOAD_INFO, &cpuCount, &info, &infoCount) != KERN_SUCCESS ||
      info == nullptr) {
    return std::nullopt;
  }
  unsigned __int128 ticks = 0;
  const std::size_t cpus = std::min<std::size_t>(cpuCount, infoCount / CPU_STATE_MAX);
  for (std::size_t i = 0; i < cpus; ++i) {
    const integer_t* cpu = info + i * CPU_STATE_MAX;
    for (int state : {CPU_STATE_USER, CPU_STATE_SYSTEM, CPU_STATE_NICE}) ticks += static_cast<std::uint32_t>(cpu[state]);
  }
  vm_deallocate(mach_task_self(), reinterpret_cast<vm_address_t>(info), infoCount * sizeof(integer_t));
  const unsigned __int128 units = ticks * kNanosecondsPerTick * base.denom / base.numer;
  if (units > std::numeric_limits<std::uint64_t>::max()) return std::nullopt;
  return static_cast<std::uint64_t>(units);
}

class MachProcesses final : public ProcessPort {
 public:
  std::optional<ProcessTable> processes() override {
    mach_timebase_info_data_t base{};
    if (mach_timebase_info(&base) != KERN_SUCCESS || base.numer == 0 || base.denom == 0) return std::nullopt;
    const std::vector<pid_t> pids = allProcessIds();
    if (pids.empty()) return std::nullopt;
    ProcessTable table;
    table.unit = {base.numer, base.denom};
    table.processes.reserve(pids.size());
    for (const pid_t pid : pids) {
      if (pid < 0) continue;
      ProcessTimes process;
      process.pid = pid;
      if (!readUsage(pid, process)) {
        if (errno == EPERM) ++table.refused;
        continue;
      }
      char name[2 * MAXCOMLEN + 1] = {};
      if (const int length = proc_name(pid, name, sizeof name); length > 0) {
        process.name.assign(name, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof name - 1));
      }
      proc_bsdshortinfo info{};
      if (proc_pidinfo(pid, PROC_PIDT_SHORTBSDINFO, 0, &info, PROC_PIDT_SHORTBSDINFO_SIZE) ==
          PROC_PIDT_SHORTBSDINFO_SIZE) {
        process.uid = info.pbsi_uid;
      }
      table.processes.push_back(std::move(process));
    }
    table.busyTime = busyTime(host_.get(), base);
    return table;
  }

  std::optional<CgroupTable> cgroups(int) override { return std::nullopt; }

 private:
  HostSendRight host_;

  // V6 where the system grants it (its energy), else V4. Leaves errno as the
  // failed call set it.
  bool readUsage(pid_t pid, ProcessTimes& process) {
    if (!v6Refused_) {
      rusage_info_v6 usage{};
      if (proc_pid_rusage(pid, RUSAGE_INFO_V6, reinterpret_cast<rusage_info_t*>(&usage)) == 0) {
        process.cpuTime = usage.ri_user_time + usage.ri_system_time;
        process.startTime = usage.ri_proc_start_abstime;
        process.energyNanojoules = usage.ri_energy_nj;
        return true;
      }
      if (errno != EINVAL) return false;
      v6Refused_ = true;  // an older system: no such flavour
    }
    rusage_info_v4 usage{};
    if (proc_pid_rusage(pid, RUSAGE_INFO_V4, reinterpret_cast<rusage_info_t*>(&usage)) != 0) return false;
    process.cpuTime = usage.ri_user_time + usage.ri_system_time;
    process.startTime = usage.ri_proc_start_abstime;
    return true;
  }

  bool v6Refused_ = false;
};

}  // namespace

std::unique_ptr<ProcessPort> makeProcesses() { return std::make_unique<MachProcesses>(); }

}  // namespace calorim::darwin
