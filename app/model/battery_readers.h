#pragma once
// Battery, power-adapter and memory readings for the live monitor, read
// through the platform's ports. None of them fails: whatever is missing or
// malformed reads as 0 (or false).
//
// Units: W for powers, V for the adapter voltage, % for the charge, GB
// (2^30 bytes) for memory.

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "core/platform/host_port.h"
#include "core/platform/registry_port.h"

namespace calorim::app {

struct BatteryInfo {
  std::int64_t percent = 0;  // "CurrentCapacity"
  bool charging = false;     // "IsCharging"
  std::int64_t watts = 0;    // "Watts" of "AdapterDetails"
  double voltage = 0;        // "AdapterVoltage" of "AdapterDetails" (mV) in V

  bool operator==(const BatteryInfo&) const = default;
};

struct MemoryInfo {
  double used = 0;   // GB of memory in use
  double total = 0;  // GB installed ("hw.memsize")
  double swap = 0;   // GB of swap in use

  bool operator==(const MemoryInfo&) const = default;
};

// The battery controller's figures for one sample.
struct BatteryReadings {
  // The telemetry entry "SystemPowerIn": the power arriving at the system's
  // input from the adapter, in W.
  double systemPower = 0;
  // The power drawn from the battery in W: the telemetry entry "BatteryPower"
  // while the battery is not "IsCharging", 0 while it is (the entry then
  // holds the power going in). On Linux it is published only while a battery
  // discharges.
  double batteryPower = 0;
  // The power flowing into the battery while it charges, in W; 0 while it
  // does not. From the battery's own figures, in this order:
  // 1. "Voltage" (mV) × "Amperage" (mA), when the current is positive;
  // 2. while "IsCharging", the telemetry entry "BatteryPower" (mW).
  //
  // This is the figure the live monitor shows as its charging power, read at
  // the battery rather than as a difference of two input-side figures:
  // - Linux: the input supply often measures nothing ("SystemPowerIn" absent),
  //   so the battery's voltage and current as the kernel's power_supply class
  //   reports them are the source ("BatteryPower" is published there only
  //   while discharging, so rule 2 never applies). A battery that reports
  //   its power but not its current publishes no "Amperage" and reads 0;
  // - macOS, and the simulated machine that imitates it: "SystemPowerIn" is
  //   what arrives from the adapter, of which the battery takes a share; the
  //   battery controller's "Voltage" and signed "Amperage" (positive while
  //   charging) give that share directly, where subtracting two input-side
  //   figures would also count conversion losses as charge. "BatteryPower",
  //   the power into the battery while charging, stands in when no current
  //   is published.
  double chargePower = 0;
  BatteryInfo info;

  bool operator==(const BatteryReadings&) const = default;
};

// The reads of the battery controller's registry service ("AppleSmartBattery").
//
// The service handle is looked up on the first read that needs it and, once
// found, kept for the life of this object; while none is found every read
// looks it up again. One object belongs to one monitor (and through it to one
// platform) rather than to the process, so two monitors on two platforms never
// share a handle. Not thread-safe: the monitor uses it from its sampling
// thread only. Reads block only as long as the registry port does.
class BatteryReaders {
 public:
  explicit BatteryReaders(RegistryPort& registry);

  // Every property of the battery controller's service; absent without one
  // or when the registry cannot read them.
  [[nodiscard]] std::optional<RegistryDictionary> properties();

  // Every figure of BatteryReadings from one read of the service's
  // properties (a large set: one copy per sample); all 0 without a service.
  [[nodiscard]] BatteryReadings read();

 private:
  // The cached service; null while none can be found.
  const RegistryService* service();

  RegistryPort& registry_;
  std::unique_ptr<RegistryService> service_;
};

// Memory in use, installed memory and swap in use, from the host port. A
// figure whose query fails stays 0. Never throws except std::bad_alloc.
[[nodiscard]] MemoryInfo readMemoryInfo(HostPort& host);

// The charging power a sample shows: `chargeWatts` while `charging` and when it
// is above 0, else 0. Pure.
[[nodiscard]] double chargingPower(bool charging, double chargeWatts);

namespace detail {

// One entry of a "PowerTelemetryData" dictionary in W: an integer of 1 mW or
// more gives mW / 1000; a missing dictionary or entry, a value of another
// type, or 0 or less gives 0. Pure.
[[nodiscard]] double telemetryWatts(const RegistryValue* telemetry, std::string_view entry);

}  // namespace detail
}  // namespace calorim::app
