#pragma once
// The host port on Linux, read under a root directory ("/" in the product, a
// fixture tree in tests). Every call reads its files afresh; nothing is cached.
//
//  - processor ticks: the per-CPU lines of proc/stat, ascending by CPU number;
//    `system` holds system + irq + softirq and `idle` holds idle + iowait, so
//    that busy time here is the "ACTIVE" time of the CPU Stats channels.
//  - system values:
//      "machdep.cpu.brand_string"  proc/cpuinfo "model name", else the
//                                  device-tree model (Arm boards);
//      "hw.logicalcpu"             online CPUs (sys/devices/system/cpu/online,
//                                  else the CPUs of proc/stat);
//      "hw.perflevel0.logicalcpu", "hw.perflevel0.name" ("Performance"),
//      "hw.perflevel1.logicalcpu", "hw.perflevel1.name" ("Efficiency")
//                                  only on machines with two kinds of core;
//      "hw.physicalcpu"            physical cores among the online CPUs (SMT
//                                  threads of one core count once);
//      "hw.perflevel0.physicalcpu", "hw.perflevel1.physicalcpu"
//                                  the same per kind, only on hybrid machines;
//      "hw.memsize"                MemTotal of proc/meminfo, bytes;
//      kPackagePowerLimitName      the packages' long-term (sustained) RAPL
//                                  power limit, mW.
//  - memory used: MemTotal − MemAvailable; swap used: SwapTotal − SwapFree (bytes).
//  - OS version: "Linux" and the kernel's major.minor.patch from
//    proc/sys/kernel/osrelease.
//  - data sources: the powercap zones, hwmon chips and thermal zones
//    (data_sources.h).
// Anything whose source is missing or malformed is absent. Nothing throws.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/host_port.h"

namespace calorim::sysfs {

class LinuxHost final : public HostPort {
 public:
  explicit LinuxHost(std::filesystem::path root);

  std::optional<std::vector<CpuTicks>> processorTicks() override;
  std::optional<std::string> systemText(std::string_view name) override;
  std::optional<std::int64_t> systemInteger(std::string_view name) override;
  std::optional<std::uint64_t> memoryUsedBytes() override;
  std::optional<std::uint64_t> swapUsedBytes() override;
  std::optional<OsVersion> osVersion() override;
  std::vector<DataSource> dataSources() override;

 private:
  std::filesystem::path root_;
};

// The fields of proc/meminfo the host reports, converted from kB (KiB) to bytes.
// A field that is missing, not in kB or not a number is absent.
struct MemInfo {
  std::optional<std::uint64_t> totalBytes;
  std::optional<std::uint64_t> availableBytes;
  std::optional<std::uint64_t> swapTotalBytes;
  std::optional<std::uint64_t> swapFreeBytes;
};
[[nodiscard]] MemInfo parseMemInfo(std::string_view text);

// The value of the first "model name" line of a proc/cpuinfo text; absent when
// there is none or it is empty (arm64 prints none).
[[nodiscard]] std::optional<std::string> parseCpuModelName(std::string_view text);

// The version triple at the start of a kernel release: "6.1.0-18-amd64" gives
// 6.1.0, "6.6.31+rpt-rpi-v8" gives 6.6.31, "6.8" gives 6.8.0. Name "Linux".
// Absent when the text does not begin with a number.
[[nodiscard]] std::optional<OsVersion> parseKernelRelease(std::string_view text);

}  // namespace calorim::sysfs
