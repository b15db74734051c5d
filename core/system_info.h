#pragma once
// The machine's description: chip, core counts, GPU cores, installed memory
// (GiB, 2^30 bytes), model name and operating-system version.

#include <cstdint>
#include <string>

namespace calorim {

class SystemInfo {
 public:
  SystemInfo(std::string chipName, std::int64_t eCores, std::int64_t pCores, std::int64_t gpuCores,
             double totalMemoryGB, std::string machineName, std::string osVersion);

  [[nodiscard]] const std::string& chipName() const { return chipName_; }
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

}  // namespace calorim
