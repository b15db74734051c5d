#include "core/platform/linux/linux_hardware_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/platform/linux/machine_identity.h"

namespace calorim::sysfs {
namespace {

using Json = nlohmann::ordered_json;

std::string dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string modeName(std::int64_t generation) {
  switch (generation) {
    case 1:
      return "Thunderbolt";
    case 2:
      return "Thunderbolt 2";
    case 3:
      return "Thunderbolt 3";
    default:
      return generation >= 4 ? "USB4" : "";
  }
}

std::string hexRoute(std::uint64_t route) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%llx", static_cast<unsigned long long>(route));
  return buffer;
}

void setIf(Json& j, const char* key, const std::optional<std::string>& value) {
  if (value) j[key] = *value;
}

Json deviceJson(const ThunderboltRouter& r) {
  Json d = Json::object();
  if (r.deviceName) d["_name"] = *r.deviceName;
  setIf(d, "device_name_key", r.deviceName);
  setIf(d, "vendor_name_key", r.vendorName);
  setIf(d, "vendor_id_key", r.vendorId);
  setIf(d, "device_id_key", r.deviceId);
  setIf(d, "switch_uid_key", r.uniqueId);
  setIf(d, "switch_version_key", r.nvmVersion);
  d["route_string_key"] = hexRoute(r.route);
  if (r.generation && !modeName(*r.generation).empty()) d["mode_key"] = modeName(*r.generation);
  // The link to the parent router; the slower direction bounds the link.
  std::optional<double> speed = r.rxSpeedGbps;
  std::int64_t lanes = r.rxLanes.value_or(1);
  if (r.txSpeedGbps && (!speed || *r.txSpeedGbps * static_cast<double>(r.txLanes.value_or(1)) <
                                      *speed * static_cast<double>(lanes))) {
    speed = r.txSpeedGbps;
    lanes = r.txLanes.value_or(1);
  }
  lanes = std::max<std::int64_t>(lanes, 1);
  if (speed && *speed > 0) {
    Json port = Json::object();
    port["current_speed_key"] = detail::formatLinkSpeed(*speed, lanes);
    port["link_lanes_key"] = lanes;
    d["receptacle_upstream_ambiguous_tag"] = std::move(port);
  }
  return d;
}

}  // namespace

namespace detail {

std::string formatLinkSpeed(double gbpsPerLane, std::int64_t lanes) {
  const double total = gbpsPerLane * static_cast<double>(std::max<std::int64_t>(lanes, 1));
  char buffer[64];
  if (std::isfinite(total) && std::fabs(total - std::round(total)) < 1e-9 && total < 1e15) {
    std::snprintf(buffer, sizeof buffer, "Up to %.0f Gb/s", total);
  } else {
    std::snprintf(buffer, sizeof buffer, "Up to %.1f Gb/s", total);
  }
  return buffer;
}

std::string thunderboltReport(const std::vector<int>& domains, const std::vector<ThunderboltRouter>& routers) {
  std::vector<int> buses = domains;
  for (const ThunderboltRouter& r : routers) buses.push_back(r.domain);
  std::sort(buses.begin(), buses.end());
  buses.erase(std::unique(buses.begin(), buses.end()), buses.end());

  Json list = Json::array();
  for (int domain : buses) {
    const auto host = std::find_if(routers.begin(), routers.end(),
                                   [&](const ThunderboltRouter& r) { return r.domain == domain && r.isHost(); });
    const bool usb4 = host != routers.end() && host->generation.value_or(0) >= 4;
    Json bus = Json::object();
    bus["_name"] = (usb4 ? "thunderboltusb4_bus_" : "thunderbolt_bus_") + std::to_string(domain);
    if (host != routers.end()) {
      setIf(bus, "device_name_key", host->deviceName);
      setIf(bus, "vendor_name_key", host->vendorName);
    }
    Json items = Json::array();
    for (const ThunderboltRouter& r : routers) {
      if (r.domain == domain && !r.isHost()) items.push_back(deviceJson(r));
    }
    bus["_items"] = std::move(items);
    list.push_back(std::move(bus));
  }
  Json report = Json::object();
  report["SPThunderboltDataType"] = std::move(list);
  return dump(report);
}

}  // namespace detail

LinuxHardwareReport::LinuxHardwareReport(std::filesystem::path root) : root_(std::move(root)) {}

// Files only, read at once: nothing to stop.
std::optional<std::string> LinuxHardwareReport::report(std::string_view dataType, const StopToken& /*stop*/) {
  if (dataType == "SPHardwareDataType") {
    const std::optional<std::string> name = readMachineName(root_);
    if (!name) return std::nullopt;
    Json overview = Json::object();
    overview["_name"] = "hardware_overview";
    overview["machine_name"] = *name;
    const DmiIdentity dmi = readDmiIdentity(root_);
    if (dmi.productName && !isPlaceholder(*dmi.productName)) overview["machine_model"] = *dmi.productName;
    Json report = Json::object();
    report["SPHardwareDataType"] = Json::array({std::move(overview)});
    return dump(report);
  }
  if (dataType == "SPThunderboltDataType") {
    return detail::thunderboltReport(readThunderboltDomains(root_), readThunderboltRouters(root_));
  }
  return std::nullopt;
}

}  // namespace calorim::sysfs
