#pragma once
// The HID sensors port: an event-system client matched on a usage page and
// usage, and the current temperature of each matching sensor service.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace calorim {

// One sensor service: its "Product" name (absent when missing or not text) and
// its current temperature event's level in °C (absent when it has no event).
struct HidSensor {
  std::optional<std::string> product;
  std::optional<double> temperature;

  bool operator==(const HidSensor&) const = default;
};

class HidClient {
 public:
  virtual ~HidClient() = default;
  virtual void setMatching(std::uint32_t primaryUsagePage, std::uint32_t primaryUsage) = 0;
  // The services matching now, in the system's order; absent when the system
  // gives no list.
  [[nodiscard]] virtual std::optional<std::vector<HidSensor>> copyServices() = 0;
};

class HidPort {
 public:
  virtual ~HidPort() = default;
  // A new event-system client; null when none can be created.
  [[nodiscard]] virtual std::unique_ptr<HidClient> createClient() = 0;
};

}  // namespace calorim
