#pragma once
// CPU and GPU die temperatures (°C) and fan speeds (revolutions per minute)
// from the system management controller. At creation the reader probes a fixed
// set of candidate temperature keys and keeps those that give plausible, steady
// readings; each `read` then costs one controller call per kept key and per fan.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/clock_port.h"
#include "core/platform/smc_port.h"
#include "core/platform/stop_signal.h"

namespace calorim {

struct FanReading {
  std::int64_t id = 0;  // the fan's index, from 0
  double rpm = 0;       // revolutions per minute, never below 0

  bool operator==(const FanReading&) const = default;
};

struct ThermalReading {
  std::optional<double> cpu;  // °C; absent until some read found a valid value
  std::optional<double> gpu;  // °C; same
  std::vector<FanReading> fans;

  bool operator==(const ThermalReading&) const = default;
};

class SMCThermal {
 public:
  // Opens the controller and probes its temperature keys and fans. Blocks
  // (through `clock`) for 0.25 s per candidate key of a usable type, so on a
  // machine with many populated keys this takes seconds. Never throws; when
  // the controller cannot be opened the reader stays unconnected and reads
  // nothing. Once `stop` is requested the keys not yet probed are left out.
  // Both ports must outlive the reader.
  SMCThermal(SmcPort& smc, ClockPort& clock, const StopToken& stop = {});

  // CPU and GPU temperatures as the median of the kept keys' values above
  // 5 °C, and every fan whose speed reads ≥ 0. A temperature is sticky: when
  // no key gives a valid value the previous one is returned again. Unconnected:
  // no temperatures and no fans. Never throws; not thread-safe.
  [[nodiscard]] ThermalReading read();

  // What probing found, in candidate order; for tests and diagnostics.
  [[nodiscard]] const std::vector<std::string>& cpuKeys() const { return cpuKeys_; }
  [[nodiscard]] const std::vector<std::string>& gpuKeys() const { return gpuKeys_; }
  [[nodiscard]] std::int64_t fanCount() const { return fanCount_; }
  [[nodiscard]] bool connected() const { return connection_ != nullptr; }

 private:
  struct KeyInfo {
    std::uint32_t dataSize = 0;  // bytes
    std::uint32_t dataType = 0;  // four-character type code
  };

  [[nodiscard]] std::optional<SmcParamBlock> call(std::string_view key, std::uint8_t command, std::uint32_t dataSize);
  [[nodiscard]] std::optional<KeyInfo> getKeyInfo(std::string_view key);
  [[nodiscard]] std::optional<std::uint8_t> readSMCRaw(std::string_view key, std::uint32_t size);
  [[nodiscard]] std::optional<double> readSMCTemp(std::string_view key);
  [[nodiscard]] std::optional<double> readSMCTempCached(std::string_view key);
  [[nodiscard]] std::vector<std::string> probeKeys(const std::vector<std::string>& candidates, double maxSpread,
                                                   const StopToken& stop);
  [[nodiscard]] std::optional<double> medianOf(const std::vector<std::string>& keys);
  [[nodiscard]] std::optional<double> highestOf(const std::vector<std::string>& keys);

  ClockPort& clock_;
  std::unique_ptr<SmcConnection> connection_;
  std::vector<std::string> cpuKeys_;
  std::vector<std::string> gpuKeys_;
  std::map<std::uint32_t, KeyInfo> keyInfoCache_;
  std::int64_t fanCount_ = 0;
  std::optional<double> lastCpu_;
  std::optional<double> lastGpu_;
};

namespace detail {

// Decoders of the data bytes of a read. "sp78": signed 16-bit big-endian
// fixed point with 8 fraction bits. "flt ": little-endian IEEE single, absent
// when it is not finite.
[[nodiscard]] double decodeSp78(std::uint8_t high, std::uint8_t low);
[[nodiscard]] std::optional<double> decodeFlt(const std::uint8_t* bytes);

// The candidate temperature keys `prefix` followed by the two hex digits of
// 0 to count-1, each number's lower-case key first, then its upper-case one
// when that differs: "Tp0a", "Tp0A".
[[nodiscard]] std::vector<std::string> numberedKeys(std::string_view prefix, int count);

}  // namespace detail

}  // namespace calorim
