// Builds without a backend of their own measure nothing.

#include "core/platform/native_platform.h"
#include "core/platform/unsupported/unsupported_platform.h"

namespace calorim {

std::shared_ptr<Platform> makeNativePlatform() { return makeUnsupportedPlatform(); }

}  // namespace calorim
