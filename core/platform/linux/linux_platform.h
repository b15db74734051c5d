#pragma once
// The Linux backend as a whole: every port reading the kernel's interfaces
// under `root` ("/" on a real machine, a fixture tree in tests).

#include <filesystem>
#include <memory>
#include <string_view>

#include "core/platform/linux/gpus.h"
#include "core/platform/platform.h"

namespace calorim::sysfs {

// `clock` (the system's clocks when null) is the platform's clock and also
// times the GPUs' power readings; replace it here, not in the platform
// afterwards. NVIDIA GPUs are found through `nvmlLibrary`, the driver's
// library by its usual name.
[[nodiscard]] std::shared_ptr<Platform> makeLinuxPlatform(const std::filesystem::path& root,
                                                          std::shared_ptr<ClockPort> clock = nullptr,
                                                          std::string_view nvmlLibrary = GpuSet::kNvmlLibrary);

}  // namespace calorim::sysfs
