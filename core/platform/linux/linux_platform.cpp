#include "core/platform/linux/linux_platform.h"

#include <unistd.h>

#include "core/platform/linux/gpus.h"
#include "core/platform/linux/linux_counter_reports.h"
#include "core/platform/linux/linux_hardware_report.h"
#include "core/platform/linux/linux_hid.h"
#include "core/platform/linux/linux_host.h"
#include "core/platform/linux/linux_processes.h"
#include "core/platform/linux/linux_registry.h"
#include "core/platform/linux/linux_smc.h"

namespace calorim {
namespace sysfs {

namespace {

// The platform's clock, shared with the GPU set that times its power readings.
class SharedClock final : public ClockPort {
 public:
  explicit SharedClock(std::shared_ptr<ClockPort> clock) : clock_(std::move(clock)) {}
  std::chrono::system_clock::time_point now() override { return clock_->now(); }
  std::chrono::steady_clock::time_point steadyNow() override { return clock_->steadyNow(); }
  void sleep(double seconds) override { clock_->sleep(seconds); }
  bool sleep(double seconds, StopToken stop) override { return clock_->sleep(seconds, stop); }

 private:
  std::shared_ptr<ClockPort> clock_;
};

}  // namespace

std::shared_ptr<Platform> makeLinuxPlatform(const std::filesystem::path& root, std::shared_ptr<ClockPort> clock,
                                            std::string_view nvmlLibrary) {
  if (!clock) clock = std::make_shared<SystemClock>();
  auto gpus = std::make_shared<GpuSet>(root, clock, nvmlLibrary);
  auto platform = std::make_shared<Platform>();
  platform->counters = std::make_unique<LinuxCounterReports>(root, gpus);
  platform->registry = std::make_unique<LinuxRegistry>(root, gpus);
  platform->smc = std::make_unique<LinuxSmc>(root);
  platform->hid = std::make_unique<LinuxHid>(root, gpus);
  platform->host = std::make_unique<LinuxHost>(root);
  platform->hardwareReport = std::make_unique<LinuxHardwareReport>(root);
  const long ticks = ::sysconf(_SC_CLK_TCK);
  platform->processes = std::make_unique<LinuxProcesses>(root, ticks > 0 ? static_cast<std::uint64_t>(ticks) : 0);
  platform->clock = std::make_unique<SharedClock>(std::move(clock));
  return platform;
}

}  // namespace sysfs

}  // namespace calorim
