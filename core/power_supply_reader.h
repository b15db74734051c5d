#pragma once
// The battery and the power adapter as the battery controller's registry
// service ("AppleSmartBattery") publishes them, read through the registry
// port. Each figure is absent when the machine or the service does not give
// it: no battery, no adapter connected, or a property of an unexpected type.

#include <memory>
#include <optional>

#include "core/platform/registry_port.h"

namespace calorim {

struct PowerSupplyReading {
  std::optional<double> chargeRatio;   // "CurrentCapacity" (%) / 100
  std::optional<bool> charging;        // "IsCharging"
  std::optional<double> adapterWatts;  // "Watts" of "AdapterDetails": the adapter's rated power, W

  bool operator==(const PowerSupplyReading&) const = default;
};

// Looks the service up on the first read that needs it and, once found, keeps
// it for the life of this object. Not thread-safe; never throws except
// std::bad_alloc. `registry` must outlive the reader.
class PowerSupplyReader {
 public:
  explicit PowerSupplyReader(RegistryPort& registry);
  [[nodiscard]] PowerSupplyReading read();

 private:
  RegistryPort& registry_;
  std::unique_ptr<RegistryService> service_;
};

}  // namespace calorim
