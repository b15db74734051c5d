#pragma once
// The registry port: services found by class name and their properties, as a
// dictionary of typed values. Shaped after the platform's device registry.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace calorim {

struct RegistryValue;

using RegistryBytes = std::vector<std::uint8_t>;
using RegistryArray = std::vector<RegistryValue>;

// Keys and values of one dictionary. Keys are unique; their order carries no meaning.
class RegistryDictionary {
 public:
  RegistryDictionary() = default;
  RegistryDictionary(std::initializer_list<std::pair<std::string, RegistryValue>> entries);

  // Sets `key`, replacing an earlier value of the same key.
  void set(std::string key, RegistryValue value);
  // The value under `key`; null when there is none.
  [[nodiscard]] const RegistryValue* find(std::string_view key) const;

  [[nodiscard]] const std::vector<std::pair<std::string, RegistryValue>>& entries() const { return entries_; }
  [[nodiscard]] bool empty() const;
  bool operator==(const RegistryDictionary&) const;

 private:
  std::vector<std::pair<std::string, RegistryValue>> entries_;
};

// One property value: boolean, integer, real, text, bytes, array or dictionary.
struct RegistryValue {
  std::variant<bool, std::int64_t, double, std::string, RegistryBytes, RegistryArray, RegistryDictionary> value;

  RegistryValue(bool v) : value(v) {}                                  // NOLINT(google-explicit-constructor)
  RegistryValue(std::int64_t v) : value(v) {}                          // NOLINT(google-explicit-constructor)
  RegistryValue(int v) : value(std::int64_t{v}) {}                     // NOLINT(google-explicit-constructor)
  RegistryValue(double v) : value(v) {}                                // NOLINT(google-explicit-constructor)
  RegistryValue(std::string v) : value(std::move(v)) {}                // NOLINT(google-explicit-constructor)
  RegistryValue(const char* v) : value(std::string(v)) {}              // NOLINT(google-explicit-constructor)
  RegistryValue(RegistryBytes v) : value(std::move(v)) {}              // NOLINT(google-explicit-constructor)
  RegistryValue(RegistryArray v) : value(std::move(v)) {}              // NOLINT(google-explicit-constructor)
  RegistryValue(RegistryDictionary v) : value(std::move(v)) {}         // NOLINT(google-explicit-constructor)

  // The value as type T; null when it holds another type.
  template <typename T>
  [[nodiscard]] const T* as() const { return std::get_if<T>(&value); }

  bool operator==(const RegistryValue&) const = default;
};

inline bool RegistryDictionary::empty() const { return entries_.empty(); }

// One service of the registry. Destroying the handle releases it.
// The GPUs of a machine whose backend describes them one by one (the Linux
// host does): one service each of class kGpuClass, with
//   kGpuModelKey        text, the name the GPU is known by;
//   kGpuIntegratedKey   bool, graphics of the processor's own package;
//   kGpuPowerKey        bool, whether its power is among the energy counters;
//   kGpuPowerLimitKey   int, its power cap in mW, where the driver sets one;
//   kGpuStatisticsKey   dictionary of its current readings, with
//     kGpuTemperatureKey  double, °C, while its sensor reads.
inline constexpr std::string_view kGpuClass = "IOAccelerator";
inline constexpr std::string_view kGpuModelKey = "model";
inline constexpr std::string_view kGpuIntegratedKey = "Integrated";
inline constexpr std::string_view kGpuPowerKey = "PowerMeasured";
inline constexpr std::string_view kGpuPowerLimitKey = "PowerLimitMilliwatts";
inline constexpr std::string_view kGpuStatisticsKey = "PerformanceStatistics";
inline constexpr std::string_view kGpuTemperatureKey = "Temperature(C)";

class RegistryService {
 public:
  virtual ~RegistryService() = default;
};

class RegistryPort {
 public:
  virtual ~RegistryPort() = default;

  // Services of class `className`, in registry order; empty when none match or
  // the lookup fails.
  [[nodiscard]] virtual std::vector<std::unique_ptr<RegistryService>> matchingServices(std::string_view className) = 0;

  // All properties of `service`; absent when they cannot be read.
  [[nodiscard]] virtual std::optional<RegistryDictionary> properties(const RegistryService& service) = 0;

  // One property of `service`; absent when it does not exist.
  [[nodiscard]] virtual std::optional<RegistryValue> property(const RegistryService& service, std::string_view key) = 0;
};

}  // namespace calorim
