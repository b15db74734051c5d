#pragma once
// How busy each logical CPU was between two readings of the kernel's
// cumulative tick counters. Nice time counts as busy; only idle time does not.

#include <vector>

#include "core/platform/host_port.h"

namespace calorim {

class CPUUsageSampler {
 public:
  struct Usage {
    double total = 0;             // busy share of all CPUs together, 0..1
    std::vector<double> perCore;  // busy share per logical CPU, in processor order
  };

  // Takes the first reading at once, so the first `sample` covers the time since creation.
  explicit CPUUsageSampler(HostPort& host);

  // Usage since the previous reading; the current reading becomes the baseline.
  // When no counters can be read, or the number of CPUs changed, `total` is 0
  // and `perCore` empty. A CPU whose counters went backwards (a wrap or a
  // reset) counts as idle for that interval. Not thread-safe.
  [[nodiscard]] Usage sample();

 private:
  [[nodiscard]] std::vector<CpuTicks> readTicks();

  HostPort& host_;
  std::vector<CpuTicks> prevTicks_;
};

}  // namespace calorim
