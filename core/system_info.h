#pragma once
// The machine's description: chip, core counts, GPU cores, installed memory
// (GiB, 2^30 bytes), model name and operating-system version, and the
// functions that read it from a platform.

#include <cstdint>
#include <string>
#include <utility>

#include "core/platform/platform.h"
#include "core/platform/stop_signal.h"

namespace calorim {

class SystemInfo {
 public:
  SystemInfo(std::string chipName, std::int64_t eCores, std::int64_t pCores, std::int64_t gpuCores,
             double totalMemoryGB, std::string machineName, std::string osVersion);

  [[nodiscard]] const std::string& chipName() const { return chipName_; }
  // Physical cores of each kind; every core is a performance core on a
  // machine with one kind.
  [[nodiscard]] std::int64_t eCores() const { return eCores_; }  // efficiency cores
  [[nodiscard]] std::int64_t pCores() const { return pCores_; }  // performance cores
  [[nodiscard]] std::int64_t gpuCores() const { return gpuCores_; }
  [[nodiscard]] double totalMemoryGB() const { return totalMemoryGB_; }
  [[nodiscard]] const std::string& machineName() const { return machineName_; }
  // The running system's name and its major.minor.patch, e.g. "macOS 14.5.0".
  [[nodiscard]] const std::string& osVersion() const { return osVersion_; }

  bool operator==(const SystemInfo&) const = default;

 private:
  std::string chipName_;
  std::int64_t eCores_;
  std::int64_t pCores_;
  std::int64_t gpuCores_;
  double totalMemoryGB_;
  std::string machineName_;
  std::string osVersion_;
};

// The machine's description, read afresh from the platform on each call.
// These block only on the platform's own calls, never fail, and never throw
// except std::bad_alloc; each falls back to its default: "" for the chip,
// 0 for counts and memory, the hardware report's unknown-machine name, and
// "Unknown" for the system version. A stop request ends the wait for the
// hardware report (the machine name then is the unknown-machine name).
[[nodiscard]] SystemInfo systemInfo(Platform& platform, const StopToken& stop = {});
// The same with the machine name already known (from `machineName`).
[[nodiscard]] SystemInfo systemInfo(Platform& platform, std::string machineName);
// The processor's brand text up to its first NUL, ill-formed UTF-8 repaired.
[[nodiscard]] std::string chipName(HostPort& host);
// (efficiency, performance) logical cores; all counted as performance cores
// on a machine with one kind.
[[nodiscard]] std::pair<std::int64_t, std::int64_t> coreCounts(HostPort& host);
[[nodiscard]] std::int64_t gpuCoreCount(RegistryPort& registry);
[[nodiscard]] std::string machineName(HardwareReportPort& reports, const StopToken& stop = {});
// The running system's name and its major.minor.patch.
[[nodiscard]] std::string osVersion(HostPort& host);

}  // namespace calorim
