#include "core/cpu_usage_sampler.h"

#include <optional>

namespace calorim {

CPUUsageSampler::CPUUsageSampler(HostPort& host) : host_(host), prevTicks_(readTicks()) {}

std::vector<CpuTicks> CPUUsageSampler::readTicks() { return host_.processorTicks().value_or(std::vector<CpuTicks>{}); }

CPUUsageSampler::Usage CPUUsageSampler::sample() {
  std::vector<CpuTicks> cur = readTicks();
  Usage usage;
  if (!cur.empty() && cur.size() == prevTicks_.size()) {
    std::uint64_t activeSum = 0, allSum = 0;
    usage.perCore.reserve(cur.size());
    for (std::size_t i = 0; i < cur.size(); ++i) {
      const CpuTicks& now = cur[i];
      const CpuTicks& before = prevTicks_[i];
      const bool wentBack = now.user < before.user || now.system < before.system || now.idle < before.idle ||
                            now.nice < before.nice;
      std::uint64_t active = 0, all = 0;
      if (!wentBack) {
        active = (now.user - before.user) + (now.system - before.system) + (now.nice - before.nice);
        all = active + (now.idle - before.idle);
      }
      usage.perCore.push_back(all == 0 ? 0.0 : static_cast<double>(active) / static_cast<double>(all));
      activeSum += active;
      allSum += all;
    }
    usage.total = allSum == 0 ? 0.0 : static_cast<double>(activeSum) / static_cast<double>(allSum);
  }
  prevTicks_ = std::move(cur);
  return usage;
}

}  // namespace calorim
