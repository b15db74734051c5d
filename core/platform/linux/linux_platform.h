#pragma once
// The Linux backend as a whole: every port reading the kernel's interfaces
// under `root` ("/" on a real machine, a fixture tree in tests).

#include <filesystem>
#include <memory>

#include "core/platform/platform.h"

namespace calorim::sysfs {

[[nodiscard]] std::shared_ptr<Platform> makeLinuxPlatform(const std::filesystem::path& root);

}  // namespace calorim::sysfs
