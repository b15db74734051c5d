#pragma once
// The hardware-report port on Linux: the two reports the core reads, in the
// JSON layout of the platform's system profiler.
//
// "SPHardwareDataType": {"SPHardwareDataType":[{"_name":"hardware_overview",
//   "machine_name": <name>, "machine_model": <DMI product_name>}]} with the
//   name from DMI or the device tree (see machine_identity.h); absent when
//   neither knows a name. "machine_model" only when DMI has a real product name.
// "SPThunderboltDataType": {"SPThunderboltDataType":[<bus>...]}, one bus per
//   Thunderbolt / USB4 domain: {"_name": "thunderbolt_bus_<N>" (or
//   "thunderboltusb4_bus_<N>" when the host router is USB4), "device_name_key"
//   and "vendor_name_key" of the host router, "_items": [<device>...]}. Each
//   device router of the domain (host routers are not devices; routers behind
//   other devices are listed too, in route order) is {"_name",
//   "device_name_key", "vendor_name_key", "vendor_id_key", "device_id_key",
//   "switch_uid_key", "route_string_key", "mode_key" ("USB4", "Thunderbolt 3",
//   ...), "receptacle_upstream_ambiguous_tag": {"current_speed_key": "Up to 40
//   Gb/s" (per-lane speed × lanes), "link_lanes_key"}}, each key only when
//   known. Without Thunderbolt the bus list is empty.
// Any other data type: absent.
//
// Text from the kernel that is not UTF-8 is written with U+FFFD in its place.
// Never throws, except std::bad_alloc.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/hardware_report_port.h"
#include "core/platform/linux/thunderbolt.h"

namespace calorim::sysfs {

class LinuxHardwareReport final : public HardwareReportPort {
 public:
  explicit LinuxHardwareReport(std::filesystem::path root);

  std::optional<std::string> report(std::string_view dataType, const StopToken& stop) override;
  // A machine with neither DMI tables nor a device-tree model.
  [[nodiscard]] std::string_view unknownMachineName() const override { return "Unknown machine"; }

 private:
  std::filesystem::path root_;
};

namespace detail {

// The Thunderbolt report text for these domains and routers. Pure.
[[nodiscard]] std::string thunderboltReport(const std::vector<int>& domains,
                                            const std::vector<ThunderboltRouter>& routers);

// "Up to 40 Gb/s" for 20.0 Gb/s per lane over 2 lanes; "Up to 12.5 Gb/s" keeps
// one decimal when the total is not whole. Pure.
[[nodiscard]] std::string formatLinkSpeed(double gbpsPerLane, std::int64_t lanes);

}  // namespace detail
}  // namespace calorim::sysfs
