#pragma once
// The HID sensors port on Linux: temperature sensors from hwmon and thermal
// zones, named as the core's HID reader classifies them.
//
//   coretemp "Package id N"           → "pACC package N"
//   coretemp "Core K"                 → "PMU tdie<K>" (cores of later packages continue the numbering)
//   k10temp/zenpower Tdie, else Tctl  → "pACC package <P>" (P counts those chips from 0)
//   k10temp/zenpower TccdN            → "pACC ccdN" ("pACC package <P> ccdN" from the second chip on)
//   radeon "edge", nouveau            → "GPU <card>" (the DRM card, e.g. "GPU card0")
//   GPUs of the GPU set (amdgpu, Intel, NVIDIA)
//                                     → "GPU <card>" / "GPU <device name>"; once a delta
//                                       has named the GPU that used the most energy,
//                                       only that GPU's temperature is published
//   thermal zone x86_pkg_temp         → "pACC package <n>", only without a CPU hwmon chip
//   CPU/SoC thermal zones (Arm boards: "cpu-thermal", "soc-thermal", ...)
//                                     → "SOC MTR Temp Sensor<k>", only without a CPU hwmon chip
//   GPU thermal zones ("gpu-thermal") → "GPU <zone type>"
// Everything else (ACPI zones, NVMe, Wi-Fi, Super-I/O, the thermal zones' own
// hwmon copies) is not published, so each physical sensor appears once.
//
// A client finds its sensors when it is created and reads each one afresh on
// every `copyServices`: millidegrees become °C there; a sensor that cannot be
// read at that moment is listed without a temperature.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/platform/hid_port.h"
#include "core/platform/linux/gpus.h"

namespace calorim::sysfs {

class LinuxHid final : public HidPort {
 public:
  // `gpus` may be null: no GPU set.
  explicit LinuxHid(std::filesystem::path root, std::shared_ptr<GpuSet> gpus = nullptr);

  // Never null. Does not throw, except std::bad_alloc.
  std::unique_ptr<HidClient> createClient() override;

 private:
  std::filesystem::path root_;
  std::shared_ptr<GpuSet> gpus_;
};

namespace detail {

struct HidSource {
  std::string product;                // the published name
  std::filesystem::path millidegrees; // the file holding the reading

  bool operator==(const HidSource&) const = default;
};

// The sensors to publish from files, by the table above: coretemp chips by
// package, then the other chips in natural order of their folders, then
// thermal zones. The GPU set's sensors are not among them.
[[nodiscard]] std::vector<HidSource> findHidSources(const std::filesystem::path& root);

}  // namespace detail
}  // namespace calorim::sysfs
