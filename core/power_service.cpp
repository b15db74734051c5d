#include "core/power_service.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "core/base/text.h"

namespace calorim {

ThrottleStatus::ThrottleStatus(bool throttling, double cpuTemp, double gpuTemp, double gpuFreqMHz, double gpuUsage,
                               std::optional<std::string> reason)
    : throttling_(throttling),
      cpuTemp_(cpuTemp),
      gpuTemp_(gpuTemp),
      gpuFreqMHz_(gpuFreqMHz),
      gpuUsage_(gpuUsage),
      reason_(std::move(reason)) {}

HeadroomStatus::HeadroomStatus(double gpuPowerW, double estimatedTDPW, double usedPercent, bool thermalOk,
                               bool canAddWork)
    : gpuPowerW_(gpuPowerW),
      estimatedTDPW_(estimatedTDPW),
      usedPercent_(usedPercent),
      thermalOk_(thermalOk),
      canAddWork_(canAddWork) {}

CooldownResult::CooldownResult(bool cooledDown, double finalTemp, double waitedSeconds)
    : cooledDown_(cooledDown), finalTemp_(finalTemp), waitedSeconds_(waitedSeconds) {}

PowerService::PowerService(std::shared_ptr<Platform> platform, StartUpWork startUp)
    : metrics_(std::make_unique<PowerMetrics>(std::move(platform), startUp)) {
  Platform& machine = metrics_->platform();
  if (startUp == StartUpWork::inCreation) {
    info_ = systemInfo(machine);
  } else {
    machineName_ = std::async(std::launch::async,
                              [&reports = *machine.hardwareReport] { return machineName(reports); });
  }
}

const SystemInfo& PowerService::info() {
  std::call_once(described_, [this] {
    if (!info_) info_ = systemInfo(metrics_->platform(), machineName_.get());
  });
  return *info_;
}

PowerSnapshot PowerService::snapshot(double interval, StopToken stop) {
  PowerSnapshot first = metrics_->sample(interval, stop);
  if (!PowerMetrics::overran(first, interval)) return first;
  return metrics_->sample(interval, std::move(stop));
}

std::optional<PowerMetrics::WindowRefusal> PowerService::beginWindow(const std::string& name) {
  return metrics_->beginWindow(name);
}

std::optional<EnergyMetrics> PowerService::endWindow(const std::string& name) { return metrics_->endWindow(name); }

double PowerService::hotterTemp(const PowerSnapshot& snapshot) {
  return std::max(snapshot.cpuTemp().value_or(0.0), snapshot.gpuTemp().value_or(0.0));
}

ThrottleStatus PowerService::isThrottling(StopToken stop) {
  const PowerSnapshot s = snapshot(kThrottleInterval, std::move(stop));
  const double t = hotterTemp(s);
  const double f = s.gpuFreqMHz();
  const double u = s.gpuUsage();
  std::optional<std::string> reason;
  if (t > 95.0) {
    reason = "thermal";
  } else if (f > 0 && f < 500.0 && u > 0.5) {
    reason = "freq_drop";
  }
  return ThrottleStatus(reason.has_value(), s.cpuTemp().value_or(0.0), s.gpuTemp().value_or(0.0), f, u,
                        std::move(reason));
}

HeadroomStatus PowerService::headroom(StopToken stop) {
  const PowerSnapshot s = snapshot(kThrottleInterval, std::move(stop));
  const double budget = metrics_->description().gpuPowerBudgetW();
  const double power = s.gpuPower();
  const double ratio = budget > 0 ? power / budget : 0.0;
  const bool thermalOk = hotterTemp(s) < 90.0;
  return HeadroomStatus(power, budget, std::min(ratio * 100.0, 100.0), thermalOk, ratio < 0.8 && thermalOk);
}

CooldownResult PowerService::waitForCooldown(double targetTemp, double timeout, const CooldownProgress& progress,
                                             StopToken stop) {
  ClockPort& clock = *metrics_->platform().clock;
  const auto start = clock.steadyNow();
  const auto elapsed = [&] { return std::chrono::duration<double>(clock.steadyNow() - start).count(); };
  double t = 0;
  const auto stopped = [&] { return CooldownResult(false, t, elapsed()); };
  while (elapsed() < timeout) {
    try {
      t = hotterTemp(metrics_->sample(kCooldownStep, stop));
    } catch (const PMError&) {
      if (stop.stopRequested()) return stopped();
      throw;
    }
    const double waited = elapsed();
    if (stop.stopRequested()) return CooldownResult(false, t, waited);
    if (t < targetTemp && t > 0) return CooldownResult(true, t, waited);
    if (progress) progress(waited);
  }
  if (stop.stopRequested()) return stopped();
  try {
    t = hotterTemp(metrics_->sample(kCooldownFinalSample, stop));
  } catch (const PMError&) {
    if (stop.stopRequested()) return stopped();
    throw;
  }
  return CooldownResult(false, t, timeout);
}

}  // namespace calorim
