#pragma once
// The count of file system calls (open, openat, fstat, read, pread, close)
// that the Linux benchmarks' own code has made, kept by the linker's wrappers
// in linux_sample_bench.cpp. Directory listings (getdents) are not counted.

#include <atomic>
#include <cstdint>

namespace calorim::bench {

[[nodiscard]] std::atomic<std::uint64_t>& ioCalls();

}  // namespace calorim::bench
