#pragma once
// The hardware-report port: the system's hardware report for one data type
// ("SPHardwareDataType", "SPThunderboltDataType") as JSON text.

#include <optional>
#include <string>
#include <string_view>

#include "core/platform/stop_signal.h"

namespace calorim {

class HardwareReportPort {
 public:
  virtual ~HardwareReportPort() = default;
  // The report's JSON text; absent when no report can be produced. May block
  // while a reporting tool runs, until `stop` is requested: then it ends
  // promptly with nothing.
  [[nodiscard]] virtual std::optional<std::string> report(std::string_view dataType, const StopToken& stop) = 0;
  // What the machine is called when its hardware report names it not.
  [[nodiscard]] virtual std::string_view unknownMachineName() const { return "Unknown Mac"; }
};

}  // namespace calorim
