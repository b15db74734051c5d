#include "core/platform/native/native_platform.h"

#if defined(CALORIM_NATIVE_LINUX)
#include "core/platform/linux/linux_platform.h"
#elif defined(CALORIM_NATIVE_DARWIN)
#include "core/platform/darwin/darwin_platform.h"
#else
#include "core/platform/unsupported/unsupported_platform.h"
#endif

namespace calorim {

std::shared_ptr<Platform> makeNativePlatform() {
#if defined(CALORIM_NATIVE_LINUX)
  return sysfs::makeLinuxPlatform("/");
#elif defined(CALORIM_NATIVE_DARWIN)
  return darwin::makeDarwinPlatform();
#else
  return makeUnsupportedPlatform();
#endif
}

}  // namespace calorim
