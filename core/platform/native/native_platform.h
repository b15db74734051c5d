#pragma once
// The platform of the machine the program runs on: the backend of this build's
// operating system, chosen here and nowhere else. Where no backend exists
// every port answers "nothing".

#include <memory>

#include "core/platform/platform.h"

namespace calorim {

[[nodiscard]] std::shared_ptr<Platform> makeNativePlatform();

}  // namespace calorim
