#include "core/platform/linux/linux_platform.h"

#include "core/platform/linux/linux_counter_reports.h"
#include "core/platform/linux/linux_hardware_report.h"
#include "core/platform/linux/linux_hid.h"
#include "core/platform/linux/linux_host.h"
#include "core/platform/linux/linux_registry.h"
#include "core/platform/linux/linux_smc.h"
#include "core/platform/native_platform.h"

namespace calorim {
namespace sysfs {

std::shared_ptr<Platform> makeLinuxPlatform(const std::filesystem::path& root) {
  auto platform = std::make_shared<Platform>();
  platform->counters = std::make_unique<LinuxCounterReports>(root);
  platform->registry = std::make_unique<LinuxRegistry>(root);
  platform->smc = std::make_unique<LinuxSmc>(root);
  platform->hid = std::make_unique<LinuxHid>(root);
  platform->host = std::make_unique<LinuxHost>(root);
  platform->hardwareReport = std::make_unique<LinuxHardwareReport>(root);
  platform->clock = std::make_unique<SystemClock>();
  return platform;
}

}  // namespace sysfs

std::shared_ptr<Platform> makeNativePlatform() { return sysfs::makeLinuxPlatform("/"); }

}  // namespace calorim
