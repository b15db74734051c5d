#include "app/views/detail_text.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

#include "app/model/menu_bar_text.h"
#include "app/model/number_text.h"
#include "app/model/strings.h"

namespace calorim::app {
namespace {

const QString kDash = QStringLiteral("\u2014");
const QString kBolt = QStringLiteral(" \u26A1");

// `v` truncated toward zero, when it is a finite number an int64 can hold.
// 2^63 is exactly representable; every double below it and at or above
// -2^63 converts without overflow once truncated.
std::optional<std::int64_t> truncated(double v) {
  constexpr double kLimit = 9223372036854775808.0;
  if (!std::isfinite(v) || v >= kLimit || v < -kLimit) return std::nullopt;
  return static_cast<std::int64_t>(v);
}

}  // namespace

std::vector<ProcessPower> significantProcesses(const ProcessAttribution& processes, double share,
                                               std::size_t limit) {
  std::vector<ProcessPower> over;
  for (const ProcessPower& p : processes.processes) {
    if (over.size() >= limit || !(p.powerW > share * processes.cpuPowerW) || !(p.powerW > 0)) break;
    over.push_back(p);
  }
  return over;
}

QString methodText(AttributionMethod method) {
  return localized(method == AttributionMethod::osEnergy ? "processes.measured" : "processes.estimated");
}

QString processName(const ProcessPower& process) {
  if (!process.name.empty()) return QString::fromStdString(process.name);
  return localized("detail.processId").arg(process.pid);
}

QString cpuPercentText(double percent) { return fixedText(percent, 0) + QLatin1Char('%'); }

QString wattsText(double w, int decimals) { return fixedText(w, decimals) + QStringLiteral(" W"); }

QString memoryGBText(double gb) {
  // Beyond any machine's memory (or not a number) the figure is unknown.
  return std::isfinite(gb) && std::abs(gb) < 1e15 ? fixedText(gb, 0) : kDash;
}

QString wholeText(double v) {
  const std::optional<std::int64_t> n = truncated(v);
  return n ? integerText(*n) : kDash;
}

HeroTexts heroTexts(const PowerSample& s, double peak, double avg) {
  HeroTexts t;
  if (s.systemPower > 0) {
    t.systemSpoken = localized("detail.systemTotal");
    t.systemCaption = t.systemSpoken + (s.isCharging ? kBolt : QString());
    t.systemValue = wattsText(s.systemPower, 1);
  } else if (s.hasPower && s.platform) {
    t.systemSpoken = localized("menu.platform");
    t.systemCaption = t.systemSpoken;
    t.systemValue = wattsText(*s.platform, 1);
  }
  // A PC's total holds its package, memory and cards: no one chip's.
  t.socCaption = s.breakdown.domains().empty() ? localized("detail.socTotal") : localized("menu.total");
  t.socValue = s.hasPower ? wattsText(s.total, 1) : kDash;
  t.peak = localized("stat.peak") + QStringLiteral(": ") + wattsText(peak, 1);
  t.avg = localized("stat.avg") + QStringLiteral(": ") + wattsText(avg, 1);
  return t;
}

std::optional<BatteryTexts> batteryTexts(const PowerSample& s) {
  if (s.batteryPercent < 1) return std::nullopt;
  BatteryTexts t;
  t.percent = integerText(s.batteryPercent) + QLatin1Char('%') + (s.isCharging ? kBolt : QString());
  t.icon = s.isCharging ? QStringLiteral("battery.100.bolt") : QStringLiteral("battery.75");
  if (s.adapterWatts >= 1) {
    t.adapter = integerText(s.adapterWatts) + QStringLiteral(" W @ ") + fixedText(s.adapterVoltage, 0) + QStringLiteral(" V");
  }
  if (s.chargingPower > 1.0) t.charging = localized("detail.charging").arg(fixedText(s.chargingPower, 0));
  if (s.batteryDischargeW > 1.0) t.boost = localized("detail.boost").arg(fixedText(s.batteryDischargeW, 0));
  return t;
}

std::optional<MemoryTexts> memoryTexts(const PowerSample& s) {
  if (!(s.ramTotalGB > 0)) return std::nullopt;
  MemoryTexts t;
  t.ram = localized("detail.ram").arg(memoryGBText(s.ramUsedGB), memoryGBText(s.ramTotalGB));
  if (s.swapUsedGB > 0.01) t.swap = localized("detail.swap").arg(fixedText(s.swapUsedGB, 1));
  return t;
}

MachineTexts machineTexts(const SystemInfo& info) {
  // One kind of core: no split into efficiency and performance cores.
  const QString cores = info.eCores() > 0 ? integerText(info.eCores()) + QStringLiteral("E+") +
                                                integerText(info.pCores()) + QLatin1Char('P')
                                          : localized("detail.cores").arg(integerText(info.pCores()));
  return {cores,
          localized("detail.gpuCores").arg(integerText(info.gpuCores())),
          memoryGBText(info.totalMemoryGB()) + QStringLiteral(" GB")};
}

QString frequencyText(double mhz) { return fixedText(mhz, 0) + QStringLiteral(" MHz"); }

QString gpuFiguresText(const GpuFigures& gpu, TempUnit unit) {
  const QString dash = QStringLiteral("\u2014");
  const QString degrees = unit == TempUnit::fahrenheit ? QStringLiteral("\u00B0F") : QStringLiteral("\u00B0C");
  const QStringList figures = {
      (gpu.watts ? fixedText(*gpu.watts, 2) : dash) + QStringLiteral(" W"),
      (gpu.busy ? fixedText(std::clamp(*gpu.busy, 0.0, 1.0) * 100, 0) : dash) + QLatin1Char('%'),
      gpu.clockMHz ? frequencyText(*gpu.clockMHz) : dash + QStringLiteral(" MHz"),
      gpu.temperatureC ? QString::fromStdString(format(unit, *gpu.temperatureC)) : dash + degrees,
  };
  return figures.join(QStringLiteral(" \u00B7 "));
}

QString fanSpeedText(double rpm) {
  const std::optional<std::int64_t> n = truncated(rpm);
  return n ? integerText(*n) + QStringLiteral(" RPM") : kDash;
}

QString countText(std::size_t n) {
  return QLatin1Char('(') + integerText(static_cast<std::int64_t>(n)) + QLatin1Char(')');
}

}  // namespace calorim::app
