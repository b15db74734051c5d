#pragma once
// On-die temperatures (°C) from the HID temperature sensors of the vendor
// usage page, condensed into a CPU temperature, per-core temperatures and a
// GPU temperature. Sensors are classed by their "Product" name.

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "core/platform/hid_port.h"

namespace calorim {

struct CoreTemps {
  double cpu = 0;              // °C: mean of the CPU sensors; 0 when none was read
  std::vector<double> cores;   // °C per core, by core index (or sorted cluster values); empty when none
  std::optional<double> gpu;   // °C: mean of the GPU sensors; absent when none was read

  bool operator==(const CoreTemps&) const = default;
};

class IOHIDThermal {
 public:
  // Creates no client yet; never fails. `hid` must outlive the reader.
  explicit IOHIDThermal(HidPort& hid);

  // Reads every matching sensor afresh. The client is created on the first
  // call and again on each later call until that succeeds; without a client or
  // without services the result is cpu 0, no cores and no gpu. Values not
  // strictly between 0 and 150 °C are left out. Never throws; not thread-safe.
  [[nodiscard]] CoreTemps read();

  // Every matching sensor as the system lists it now, through the same client
  // (created as `read` creates it); absent without a client or a list. For
  // diagnostics. Never throws; not thread-safe.
  [[nodiscard]] std::optional<std::vector<HidSensor>> sensors();

  // The number right after `prefix` in `name`: the leading run of ASCII digits,
  // as a decimal integer. Absent when `name` does not begin with `prefix`, no
  // digit follows, or the number does not fit. "PMU tdie12a" → 12.
  [[nodiscard]] static std::optional<std::int64_t> parseSensorIndex(std::string_view name, std::string_view prefix);

 private:
  HidPort& hid_;
  std::unique_ptr<HidClient> client_;
};

}  // namespace calorim
