#include "app/model/battery_readers.h"

#include <cmath>
#include <optional>

#include "core/base/units.h"

namespace calorim::app {
namespace {

constexpr std::string_view kBatteryClass = "AppleSmartBattery";

std::optional<std::int64_t> integerIn(const RegistryDictionary& d, std::string_view key) {
  const RegistryValue* v = d.find(key);
  if (v == nullptr) return std::nullopt;
  if (const auto* i = v->as<std::int64_t>()) return *i;
  return std::nullopt;
}

}  // namespace

namespace detail {

double telemetryWatts(const RegistryValue* telemetry, std::string_view entry) {
  if (telemetry == nullptr) return 0;
  const auto* d = telemetry->as<RegistryDictionary>();
  if (d == nullptr) return 0;
  const std::optional<std::int64_t> mw = integerIn(*d, entry);
  if (!mw || *mw < 1) return 0;
  return static_cast<double>(*mw) / 1000.0;
}

}  // namespace detail

BatteryReaders::BatteryReaders(RegistryPort& registry) : registry_(registry) {}

const RegistryService* BatteryReaders::service() {
  if (!service_) {
    auto found = registry_.matchingServices(kBatteryClass);
    if (!found.empty()) service_ = std::move(found.front());
  }
  return service_.get();
}

std::optional<RegistryDictionary> BatteryReaders::properties() {
  const RegistryService* s = service();
  if (s == nullptr) return std::nullopt;
  return registry_.properties(*s);
}

namespace {

bool isCharging(const RegistryDictionary& all) {
  const RegistryValue* charging = all.find("IsCharging");
  return charging != nullptr && charging->as<bool>() != nullptr && *charging->as<bool>();
}

double chargePowerOf(const RegistryDictionary& all) {
  const std::optional<std::int64_t> mv = integerIn(all, "Voltage");
  const std::optional<std::int64_t> ma = integerIn(all, "Amperage");
  if (mv && ma && *mv > 0 && *ma > 0) {
    const double watts = static_cast<double>(*mv) * static_cast<double>(*ma) / 1e6;
    if (std::isfinite(watts)) return watts;
  }
  if (!isCharging(all)) return 0;
  return detail::telemetryWatts(all.find("PowerTelemetryData"), "BatteryPower");
}

BatteryInfo batteryInfoOf(const RegistryDictionary& all) {
  BatteryInfo info;
  info.percent = integerIn(all, "CurrentCapacity").value_or(0);
  info.charging = isCharging(all);
  if (const RegistryValue* v = all.find("AdapterDetails")) {
    if (const auto* adapter = v->as<RegistryDictionary>()) {
      info.watts = integerIn(*adapter, "Watts").value_or(0);
      if (const auto mv = integerIn(*adapter, "AdapterVoltage")) info.voltage = static_cast<double>(*mv) / 1000.0;
    }
  }
  return info;
}

}  // namespace

BatteryReadings BatteryReaders::read() {
  BatteryReadings readings;
  const std::optional<RegistryDictionary> all = properties();
  if (!all) return readings;
  readings.systemPower = detail::telemetryWatts(all->find("PowerTelemetryData"), "SystemPowerIn");
  // While charging, the entry is the power going into the battery, not out of it.
  readings.batteryPower =
      isCharging(*all) ? 0 : detail::telemetryWatts(all->find("PowerTelemetryData"), "BatteryPower");
  readings.chargePower = chargePowerOf(*all);
  readings.info = batteryInfoOf(*all);
  return readings;
}

MemoryInfo readMemoryInfo(HostPort& host) {
  MemoryInfo info;
  if (const auto total = host.systemInteger("hw.memsize"); total && *total > 0) {
    info.total = static_cast<double>(*total) / kBytesPerGB;
  }
  if (const auto used = host.memoryUsedBytes()) info.used = static_cast<double>(*used) / kBytesPerGB;
  if (const auto swap = host.swapUsedBytes()) info.swap = static_cast<double>(*swap) / kBytesPerGB;
  return info;
}

double chargingPower(bool charging, double chargeWatts) { return charging && chargeWatts > 0 ? chargeWatts : 0; }

}  // namespace calorim::app
