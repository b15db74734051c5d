#pragma once
// NVIDIA GPUs through the driver's management library, loaded at run time:
// the program neither links against it nor needs its headers, and a machine
// without the library (or whose library fails to initialise) simply has no
// NVIDIA GPU. The library is shut down when the last device is gone.

#include <memory>
#include <string>
#include <vector>

#include "core/platform/linux/gpus.h"

namespace calorim::sysfs {

// One device per GPU the library counts, in its order; empty when `library`
// cannot be loaded, lacks a function or fails to initialise.
[[nodiscard]] std::vector<std::unique_ptr<GpuDevice>> findNvmlGpus(const std::string& library);

}  // namespace calorim::sysfs
