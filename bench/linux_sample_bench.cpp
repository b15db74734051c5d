// One `PowerMetrics::sample(0)` on the laptop fixture (read in place): both
// counter readings, the tick sampler, the temperatures and the fan. Two ways
// of reading the files the backend reads again and again (energy counters,
// temperatures, fan speeds):
//  - kept: opened once, re-read with pread at offset 0 (the product);
//  - reopened: opened, read and closed on every read.
// proc/stat is read to its end afresh in both. Reported per sample: CPU time
// (user and system) and the file layer's system calls (open, read, pread,
// close), which are all the system calls a sample makes. `LinuxSampleKeptVsReopened`
// takes both kinds of sample in turn and reports both figures and their ratios
// in one run.

#if defined(__linux__)

#include <benchmark/benchmark.h>

#include <ctime>
#include <filesystem>
#include <memory>

#include "core/platform/linux/linux_platform.h"
#include "core/platform/linux/sysfs_file.h"
#include "core/power_metrics.h"

namespace calorim {
namespace {

const std::filesystem::path kLaptop = std::filesystem::path(FIXTURE_DIR) / "linux" / "laptop";

// CPU time of the process (user and system), which only this thread keeps busy
// while a benchmark runs. Microsecond steps, averaged over many samples.
double cpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Arg 0: kept descriptors; arg 1: every read opens its file.
void LinuxSample(benchmark::State& state) {
  const bool reopen = state.range(0) != 0;
  PowerMetrics metrics(sysfs::makeLinuxPlatform(kLaptop));
  sysfs::detail::setReopenEveryRead(reopen);
  sysfs::detail::resetIoCalls();
  for (auto _ : state) benchmark::DoNotOptimize(metrics.sample(0));
  const sysfs::detail::IoCalls calls = sysfs::detail::ioCalls();
  sysfs::detail::setReopenEveryRead(false);
  state.counters["syscalls"] = benchmark::Counter(static_cast<double>(calls.total), benchmark::Counter::kAvgIterations);
  state.counters["opens"] = benchmark::Counter(static_cast<double>(calls.opens), benchmark::Counter::kAvgIterations);
  state.SetLabel(reopen ? "reopened" : "kept");
}
BENCHMARK(LinuxSample)->ArgName("reopen")->Arg(0)->Arg(1);

void LinuxSampleKeptVsReopened(benchmark::State& state) {
  PowerMetrics metrics(sysfs::makeLinuxPlatform(kLaptop));
  double keptCpu = 0, reopenedCpu = 0;
  std::uint64_t keptCalls = 0, reopenedCalls = 0;
  for (auto _ : state) {
    for (const bool reopen : {false, true}) {
      sysfs::detail::setReopenEveryRead(reopen);
      sysfs::detail::resetIoCalls();
      const double start = cpuSeconds();
      benchmark::DoNotOptimize(metrics.sample(0));
      const double cpu = cpuSeconds() - start;
      const std::uint64_t calls = sysfs::detail::ioCalls().total;
      (reopen ? reopenedCpu : keptCpu) += cpu;
      (reopen ? reopenedCalls : keptCalls) += calls;
    }
  }
  sysfs::detail::setReopenEveryRead(false);
  const auto n = static_cast<double>(state.iterations());
  state.counters["kept_us"] = keptCpu / n * 1e6;
  state.counters["reopened_us"] = reopenedCpu / n * 1e6;
  state.counters["cpu_ratio"] = keptCpu > 0 ? reopenedCpu / keptCpu : 0;
  state.counters["kept_syscalls"] = static_cast<double>(keptCalls) / n;
  state.counters["reopened_syscalls"] = static_cast<double>(reopenedCalls) / n;
  state.counters["syscall_ratio"] =
      keptCalls > 0 ? static_cast<double>(reopenedCalls) / static_cast<double>(keptCalls) : 0;
}
BENCHMARK(LinuxSampleKeptVsReopened);

}  // namespace
}  // namespace calorim

#endif  // defined(__linux__)
