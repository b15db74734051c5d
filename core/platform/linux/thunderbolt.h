#pragma once
// Thunderbolt / USB4 routers (sys/bus/thunderbolt/devices).
//
// Entries: `domainN` per host controller, `N-0` its host router, `N-<route>`
// the device routers with the route string in hexadecimal ("0-1", "0-301");
// retimers ("0-0:1.1") and XDomain peers are other device types and are not
// routers. `rx_speed`/`tx_speed` ("20.0 Gb/s") are per lane and exist only on
// device routers.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace calorim::sysfs {

struct ThunderboltRouter {
  std::string name;                         // "0-1"
  int domain = 0;
  std::uint64_t route = 0;                  // 0 for the host router
  std::optional<std::string> vendorName;
  std::optional<std::string> deviceName;
  std::optional<std::string> vendorId;      // as written: "0x8086"
  std::optional<std::string> deviceId;
  std::optional<std::string> uniqueId;
  std::optional<std::string> nvmVersion;
  std::optional<std::int64_t> generation;   // 1-3 Thunderbolt 1-3, 4 USB4
  std::optional<std::int64_t> authorized;
  std::optional<double> rxSpeedGbps;        // per lane
  std::optional<std::int64_t> rxLanes;
  std::optional<double> txSpeedGbps;        // per lane
  std::optional<std::int64_t> txLanes;

  [[nodiscard]] bool isHost() const { return route == 0; }
};

// "0-301" → (0, 0x301). Absent for anything else ("domain0", "0-0:1.1"). Pure.
[[nodiscard]] std::optional<std::pair<int, std::uint64_t>> parseRouterName(std::string_view name);

// "20.0 Gb/s" → 20.0. Absent without the "Gb/s" unit or a number. Pure.
[[nodiscard]] std::optional<double> parseLinkSpeed(std::string_view text);

// The value of `key` in a `uevent` file ("DEVTYPE=thunderbolt_device" lines).
// Absent when no line has that key. Pure.
[[nodiscard]] std::optional<std::string> parseUeventValue(std::string_view text, std::string_view key);

// Routers, host routers included, by domain and then natural order of names.
// An entry whose `uevent` names another device type is left out. Empty when
// the bus folder is missing.
[[nodiscard]] std::vector<ThunderboltRouter> readThunderboltRouters(const std::filesystem::path& root);

// The numbers of the `domainN` entries, ascending.
[[nodiscard]] std::vector<int> readThunderboltDomains(const std::filesystem::path& root);

}  // namespace calorim::sysfs
