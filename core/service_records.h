#pragma once
// The answers of the power service: whether the machine is throttling, how
// much GPU power headroom is left, and how a cooldown wait ended. Their JSON
// form lives in core/json.h.

#include <optional>
#include <string>

namespace calorim {

class ThrottleStatus {
 public:
  ThrottleStatus(bool throttling, double cpuTemp, double gpuTemp, double gpuFreqMHz, double gpuUsage,
                 std::optional<std::string> reason);

  [[nodiscard]] bool throttling() const { return throttling_; }
  [[nodiscard]] double cpuTemp() const { return cpuTemp_; }  // °C; 0 when the sample had none
  [[nodiscard]] double gpuTemp() const { return gpuTemp_; }  // °C; 0 when the sample had none
  [[nodiscard]] double gpuFreqMHz() const { return gpuFreqMHz_; }
  [[nodiscard]] double gpuUsage() const { return gpuUsage_; }  // 0..1
  // "thermal" or "freq_drop"; absent when not throttling.
  [[nodiscard]] const std::optional<std::string>& reason() const { return reason_; }

  bool operator==(const ThrottleStatus&) const = default;

 private:
  bool throttling_;
  double cpuTemp_;
  double gpuTemp_;
  double gpuFreqMHz_;
  double gpuUsage_;
  std::optional<std::string> reason_;
};

class HeadroomStatus {
 public:
  HeadroomStatus(double gpuPowerW, double estimatedTDPW, double usedPercent, bool thermalOk, bool canAddWork);

  [[nodiscard]] double gpuPowerW() const { return gpuPowerW_; }
  [[nodiscard]] double estimatedTDPW() const { return estimatedTDPW_; }  // assumed GPU budget, W
  [[nodiscard]] double usedPercent() const { return usedPercent_; }      // share of the budget, capped at 100
  [[nodiscard]] bool thermalOk() const { return thermalOk_; }            // hotter of CPU and GPU below 90 °C
  [[nodiscard]] bool canAddWork() const { return canAddWork_; }          // below 80 % and thermally ok

  bool operator==(const HeadroomStatus&) const = default;

 private:
  double gpuPowerW_;
  double estimatedTDPW_;
  double usedPercent_;
  bool thermalOk_;
  bool canAddWork_;
};

class CooldownResult {
 public:
  CooldownResult(bool cooledDown, double finalTemp, double waitedSeconds);

  [[nodiscard]] bool cooledDown() const { return cooledDown_; }
  [[nodiscard]] double finalTemp() const { return finalTemp_; }          // hotter of CPU and GPU, °C
  [[nodiscard]] double waitedSeconds() const { return waitedSeconds_; }  // the timeout when never reached

  bool operator==(const CooldownResult&) const = default;

 private:
  bool cooledDown_;
  double finalTemp_;
  double waitedSeconds_;
};

}  // namespace calorim
