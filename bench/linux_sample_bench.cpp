// The Linux backend on the laptop fixture (read in place):
//  - `LinuxSample`: one `PowerMetrics::sample(0)`: both counter readings, the
//    tick sampler, the temperatures and the fan;
//  - `KeptRead` / `ReopenedRead`: one read of an energy counter the way the
//    backend reads the files it reads again and again (opened once, re-read
//    with pread at offset 0), against opening, reading and closing it on
//    every read.
// Each reports its system calls (open, openat, fstat, read, pread, close) per iteration,
// counted by the linker's wrappers below, which see every such call the
// program's own code makes.

#if defined(__linux__)

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <filesystem>

#include <benchmark/benchmark.h>

#include "core/platform/linux/linux_platform.h"
#include "core/platform/linux/sysfs_file.h"
#include "core/power_metrics.h"

#include "bench/io_calls.h"

namespace {

std::atomic<std::uint64_t> ioCalls{0};

// Whether open and openat take their mode argument: only with these flags.
bool takesMode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

}  // namespace

std::atomic<std::uint64_t>& calorim::bench::ioCalls() { return ::ioCalls; }

// The system calls, renamed by the linker (`--wrap`) in this program only.
extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_openat(int dir, const char* path, int flags, ...);
int __real_fstat(int fd, struct stat* status);
ssize_t __real_read(int fd, void* buffer, size_t size);
ssize_t __real_pread(int fd, void* buffer, size_t size, off_t offset);
int __real_close(int fd);

int __wrap_open(const char* path, int flags, ...) {
  ioCalls.fetch_add(1, std::memory_order_relaxed);
  va_list args;
  va_start(args, flags);
  const mode_t mode = takesMode(flags) ? static_cast<mode_t>(va_arg(args, int)) : 0;
  va_end(args);
  return __real_open(path, flags, mode);
}
int __wrap_openat(int dir, const char* path, int flags, ...) {
  ioCalls.fetch_add(1, std::memory_order_relaxed);
  va_list args;
  va_start(args, flags);
  const mode_t mode = takesMode(flags) ? static_cast<mode_t>(va_arg(args, int)) : 0;
  va_end(args);
  return __real_openat(dir, path, flags, mode);
}
int __wrap_fstat(int fd, struct stat* status) {
  ioCalls.fetch_add(1, std::memory_order_relaxed);
  return __real_fstat(fd, status);
}
ssize_t __wrap_read(int fd, void* buffer, size_t size) {
  ioCalls.fetch_add(1, std::memory_order_relaxed);
  return __real_read(fd, buffer, size);
}
ssize_t __wrap_pread(int fd, void* buffer, size_t size, off_t offset) {
  ioCalls.fetch_add(1, std::memory_order_relaxed);
  return __real_pread(fd, buffer, size, offset);
}
int __wrap_close(int fd) {
  ioCalls.fetch_add(1, std::memory_order_relaxed);
  return __real_close(fd);
}
}

namespace calorim {
namespace {

const std::filesystem::path kLaptop = std::filesystem::path(FIXTURE_DIR) / "linux" / "laptop";
const std::filesystem::path kEnergy = kLaptop / "sys/class/powercap/intel-rapl:0/energy_uj";

// Runs the loop of `state` over `body`, with its system calls per iteration.
template <typename Body>
void countingCalls(benchmark::State& state, Body body) {
  const std::uint64_t before = ioCalls.load(std::memory_order_relaxed);
  for (auto _ : state) body();
  const auto calls = static_cast<double>(ioCalls.load(std::memory_order_relaxed) - before);
  state.counters["syscalls"] = benchmark::Counter(calls, benchmark::Counter::kAvgIterations);
}

void LinuxSample(benchmark::State& state) {
  PowerMetrics metrics(sysfs::makeLinuxPlatform(kLaptop));
  countingCalls(state, [&] { benchmark::DoNotOptimize(metrics.sample(0)); });
}
BENCHMARK(LinuxSample);

void KeptRead(benchmark::State& state) {
  sysfs::KeptFile file(kEnergy);
  countingCalls(state, [&] { benchmark::DoNotOptimize(file.read()); });
}
BENCHMARK(KeptRead);

void ReopenedRead(benchmark::State& state) {
  countingCalls(state, [&] { benchmark::DoNotOptimize(sysfs::readAttribute(kEnergy)); });
}
BENCHMARK(ReopenedRead);

}  // namespace
}  // namespace calorim

#endif  // defined(__linux__)
