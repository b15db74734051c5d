#include "core/platform/darwin/darwin_platform.h"

namespace calorim {
namespace darwin {

std::shared_ptr<Platform> makeDarwinPlatform() {
  auto platform = std::make_shared<Platform>();
  platform->counters = makeCounterReports();
  platform->registry = makeRegistry();
  platform->smc = makeSmc();
  platform->hid = makeHid();
  platform->host = makeHost();
  platform->hardwareReport = makeHardwareReport();
  platform->processes = makeProcesses();
  platform->clock = std::make_unique<SystemClock>();
  return platform;
}

}  // namespace darwin

}  // namespace calorim
