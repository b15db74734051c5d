// The hardware-report port over the system profiler, run as a child process.

#include <string>

#include "core/platform/darwin/darwin_platform.h"
#include "core/platform/darwin/darwin_values.h"
#include "core/platform/run_process.h"
#include "core/base/utf8.h"

namespace calorim::darwin {
namespace {

class SystemProfiler final : public HardwareReportPort {
 public:
  std::optional<std::string> report(std::string_view dataType, const StopToken& stop) override {
    if (!isReportDataType(dataType)) return std::nullopt;
    ProcessLimits limits;
    limits.stop = stop;
    std::optional<std::string> output =
        runProcess("/usr/sbin/system_profiler", {std::string(dataType), "-json"}, limits);
    if (!output || !isValidUtf8(*output)) return std::nullopt;
    return output;
  }
};

}  // namespace

std::unique_ptr<HardwareReportPort> makeHardwareReport() { return std::make_unique<SystemProfiler>(); }

}  // namespace calorim::darwin
