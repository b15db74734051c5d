// One pass of sharing the CPU's power among processes and control groups on
// Linux, over a machine tree written once into a temporary folder: 1,000
// processes in proc/ (with proc/stat) and 200 control groups two levels deep
// (10 slices of 19 services each). A pass reads the process table and the
// groups and shares the power out against the previous reading, as the
// exporter and the application do each round. `ProcessTableRead` and
// `CgroupRead` time the two readings alone. Each reports its counted system
// calls per iteration (see io_calls.h); `strace -c -f` on
// `calorim_bench --benchmark_filter=ProcessPowerPass` adds the directory reads.

#if defined(__linux__)

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/io_calls.h"
#include "core/platform/linux/linux_processes.h"
#include "core/process_power.h"

namespace calorim {
namespace {

constexpr int kProcesses = 1000;
constexpr int kSlices = 10;
constexpr int kServicesPerSlice = 19;

void write(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::trunc) << text;
}

std::string cpuStat(std::uint64_t usage) {
  return "usage_usec " + std::to_string(usage) + "\nuser_usec 1\nsystem_usec 1\nnr_periods 0\n";
}

// The machine tree, made on first use and removed when the program ends.
class Machine {
 public:
  Machine() {
    std::string pattern = (std::filesystem::temp_directory_path() / "calorim-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) root_ = pattern;
    std::string stat;
    for (int cpu = 0; cpu < 16; ++cpu) stat += "cpu" + std::to_string(cpu) + " 4000 60 1400 47000 170 130 320 0 0 0\n";
    write(root_ / "proc/stat", stat);
    for (int pid = 1; pid <= kProcesses; ++pid) {
      write(root_ / "proc" / std::to_string(pid) / "stat",
            std::to_string(pid) + " (worker " + std::to_string(pid) +
                ") S 1 1 1 0 -1 4194560 981 0 0 0 " + std::to_string(pid * 7) + " " + std::to_string(pid * 3) +
                " 0 0 20 0 1 0 " + std::to_string(1000 + pid) +
                " 171180032 3357 18446744073709551615 1 1 0 0 0 0 0 4096 1260 0 0 0 17 2 0 0 0 0 0 0 0 0 0 0 0 0 0\n");
    }
    const std::filesystem::path cgroup = root_ / "sys/fs/cgroup";
    write(cgroup / "cgroup.controllers", "cpu io memory pids\n");
    write(cgroup / "cpu.stat", cpuStat(900'000'000));
    for (int slice = 0; slice < kSlices; ++slice) {
      const std::filesystem::path dir = cgroup / ("slice-" + std::to_string(slice) + ".slice");
      write(dir / "cpu.stat", cpuStat(50'000'000));
      for (int service = 0; service < kServicesPerSlice; ++service) {
        write(dir / ("service-" + std::to_string(service) + ".service") / "cpu.stat", cpuStat(2'000'000));
      }
    }
  }
  ~Machine() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  [[nodiscard]] const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
};

const Machine& machine() {
  static const Machine made;
  return made;
}

template <typename Body>
void countingCalls(benchmark::State& state, Body body) {
  const std::uint64_t before = bench::ioCalls().load(std::memory_order_relaxed);
  for (auto _ : state) body();
  const auto calls = static_cast<double>(bench::ioCalls().load(std::memory_order_relaxed) - before);
  state.counters["syscalls"] = benchmark::Counter(calls, benchmark::Counter::kAvgIterations);
}

void ProcessPowerPass(benchmark::State& state) {
  sysfs::LinuxProcesses port(machine().root(), 100);
  ProcessTable before = *port.processes();
  CgroupTable groupsBefore = *port.cgroups(2);
  countingCalls(state, [&] {
    ProcessTable after = *port.processes();
    CgroupTable groups = *port.cgroups(2);
    benchmark::DoNotOptimize(attributeProcesses(before, after, 1.0, 10.0));
    benchmark::DoNotOptimize(attributeCgroups(groupsBefore, groups, 1.0, 10.0));
    before = std::move(after);
    groupsBefore = std::move(groups);
  });
  state.counters["processes"] = static_cast<double>(before.processes.size());
  state.counters["cgroups"] = static_cast<double>(groupsBefore.groups.size());
}
BENCHMARK(ProcessPowerPass)->Unit(benchmark::kMicrosecond);

void ProcessTableRead(benchmark::State& state) {
  sysfs::LinuxProcesses port(machine().root(), 100);
  countingCalls(state, [&] { benchmark::DoNotOptimize(port.processes()); });
}
BENCHMARK(ProcessTableRead)->Unit(benchmark::kMicrosecond);

void CgroupRead(benchmark::State& state) {
  sysfs::LinuxProcesses port(machine().root(), 100);
  countingCalls(state, [&] { benchmark::DoNotOptimize(port.cgroups(2)); });
}
BENCHMARK(CgroupRead)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace calorim

#endif  // defined(__linux__)
