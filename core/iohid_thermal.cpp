#include "core/iohid_thermal.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <numeric>

namespace calorim {

namespace {

constexpr std::uint32_t kVendorUsagePage = 0xFF00;
constexpr std::uint32_t kTemperatureUsage = 5;
constexpr double kMaxPlausible = 150.0;

constexpr std::string_view kCorePrefix = "PMU tdie";

enum class SensorClass { gpu, core, cluster, soc, ignored };

// First matching rule wins; names are compared case-sensitively.
SensorClass classify(std::string_view name) {
  if (name.starts_with("GPU")) return SensorClass::gpu;
  if (name.starts_with("PMU TP") && name.ends_with("g")) return SensorClass::gpu;
  if (name.starts_with(kCorePrefix)) return SensorClass::core;
  if (name.starts_with("eACC") || name.starts_with("pACC")) return SensorClass::cluster;
  if (name.starts_with("SOC MTR Temp Sensor")) return SensorClass::soc;
  return SensorClass::ignored;
}

double mean(const std::vector<double>& values) {
  return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

}  // namespace

IOHIDThermal::IOHIDThermal(HidPort& hid) : hid_(hid) {}

std::optional<std::vector<HidSensor>> IOHIDThermal::sensors() {
  if (!client_) {
    client_ = hid_.createClient();
    if (!client_) return std::nullopt;
    client_->setMatching(kVendorUsagePage, kTemperatureUsage);
  }
  return client_->copyServices();
}

CoreTemps IOHIDThermal::read() {
  const std::optional<std::vector<HidSensor>> services = sensors();
  if (!services) return {};

  std::vector<double> gpuValues;
  std::vector<double> clusterValues;
  std::vector<double> socValues;
  std::map<std::int64_t, double> coreByIndex;

  for (const HidSensor& sensor : *services) {
    if (!sensor.product || !sensor.temperature) continue;
    const double v = *sensor.temperature;
    if (!(v > 0 && v < kMaxPlausible)) continue;
    switch (classify(*sensor.product)) {
      case SensorClass::gpu:
        gpuValues.push_back(v);
        break;
      case SensorClass::core:
        if (auto index = parseSensorIndex(*sensor.product, kCorePrefix)) coreByIndex[*index] = v;
        break;
      case SensorClass::cluster:
        clusterValues.push_back(v);
        break;
      case SensorClass::soc:
        socValues.push_back(v);
        break;
      case SensorClass::ignored:
        break;
    }
  }

  CoreTemps temps;
  std::vector<double> coreValues;
  coreValues.reserve(coreByIndex.size());
  for (const auto& [index, v] : coreByIndex) coreValues.push_back(v);

  if (!coreValues.empty()) {
    temps.cores = coreValues;
  } else if (!clusterValues.empty()) {
    temps.cores = clusterValues;
    std::sort(temps.cores.begin(), temps.cores.end());
  }

  if (!clusterValues.empty()) {
    temps.cpu = mean(clusterValues);
  } else if (!coreValues.empty()) {
    temps.cpu = mean(coreValues);
  } else if (!socValues.empty()) {
    temps.cpu = mean(socValues);
  }

  if (!gpuValues.empty()) temps.gpu = mean(gpuValues);
  return temps;
}

std::optional<std::int64_t> IOHIDThermal::parseSensorIndex(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix)) return std::nullopt;
  const std::string_view rest = name.substr(prefix.size());
  const auto digitsEnd = std::find_if(rest.begin(), rest.end(), [](char c) { return c < '0' || c > '9'; });
  const std::string_view digits = rest.substr(0, static_cast<std::size_t>(digitsEnd - rest.begin()));
  if (digits.empty()) return std::nullopt;
  std::int64_t index = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
  if (ec != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
  return index;
}

}  // namespace calorim
