#pragma once
// A platform on which nothing can be reached: every port answers "nothing",
// exactly as the operating-system services do on a machine without that
// hardware, so each caller takes its own fallback. The clock is the real one.

#include <memory>

#include "core/platform/platform.h"

namespace calorim {

[[nodiscard]] std::shared_ptr<Platform> makeUnsupportedPlatform();

}  // namespace calorim
