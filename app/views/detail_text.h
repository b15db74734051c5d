#pragma once
// The texts of the detail window, built from a sample without any widget.
// Numbers are written with the C locale's decimal point; "—" stands for a
// figure that cannot be shown.

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "app/model/power_sample.h"
#include "app/model/preferences.h"
#include "core/system_info.h"

namespace calorim::app {

// `w` with `decimals` decimals and " W": "7.2 W".
[[nodiscard]] QString wattsText(double w, int decimals);
// `v` truncated toward zero, or "—" where it is not a finite number an int64 holds.
[[nodiscard]] QString wholeText(double v);
// GB of memory (2^30 bytes) rounded to whole GB, the one rounding of every
// memory figure; "—" where it is not a finite figure of a real machine.
[[nodiscard]] QString memoryGBText(double gb);

// The hero card's figures.
// The figure beside the total: the power at the system's input where the
// machine reports it, else the whole platform's (which holds the total).
struct HeroTexts {
  std::optional<QString> systemCaption;  // "System Total", " ⚡" while charging, or "Platform"; absent without either
  std::optional<QString> systemValue;    // "31.5 W"
  QString systemSpoken;                  // the caption a screen reader says: "System Total", "Platform"
  QString socCaption;                    // "SoC Total"; "Total" on a machine naming its own energy domains (a PC)
  QString socValue;                      // "8.0 W"; "—" without power figures
  QString peak;                          // "Peak: 8.0 W"
  QString avg;                           // "Avg: 7.6 W"
};
[[nodiscard]] HeroTexts heroTexts(const PowerSample& s, double peak, double avg);

// The battery line (texts "detail.charging" and "detail.boost"); absent without a battery (under 1 %). Each optional part
// is absent where it is hidden.
struct BatteryTexts {
  QString percent;                 // "76% ⚡" while charging, else "76%"
  QString icon;                    // "battery.100.bolt" while charging, else "battery.75"
  std::optional<QString> adapter;  // "96 W @ 20 V" from 1 W of adapter
  std::optional<QString> charging; // "⚡ 30W charging" above 1 W
  std::optional<QString> boost;    // "🔋 13W boost" above 1 W of discharge
};
[[nodiscard]] std::optional<BatteryTexts> batteryTexts(const PowerSample& s);

// The memory line (texts "detail.ram" and "detail.swap"); absent without a RAM size.
struct MemoryTexts {
  QString ram;                  // "RAM 11/18 GB"
  std::optional<QString> swap;  // "Swap 0.4 GB" above 0.01 GB
};
[[nodiscard]] std::optional<MemoryTexts> memoryTexts(const PowerSample& s);

// The machine card's items: "8E+4P", "10 GPU" ("detail.gpuCores"), "24 GB".
struct MachineTexts {
  QString cores;
  QString gpuCores;
  QString memory;
};
[[nodiscard]] MachineTexts machineTexts(const SystemInfo& info);

// The processes over `share` of the CPU's power, the largest first, at most
// `limit` of them.
[[nodiscard]] std::vector<ProcessPower> significantProcesses(const ProcessAttribution& processes, double share,
                                                             std::size_t limit);
// How the processes' power was found, as the panel's caption ends:
// "processes.estimated" or "processes.measured".
[[nodiscard]] QString methodText(AttributionMethod method);
// A process's name as shown; "pid N" ("detail.processId") for a process
// without one.
[[nodiscard]] QString processName(const ProcessPower& process);
// A process's CPU time over the interval in percent of one CPU: "38%".
[[nodiscard]] QString cpuPercentText(double percent);

// A fan's speed: the fraction cut off, then " RPM" ("999 RPM" for 999.9);
// "—" where `wholeText` gives "—".
[[nodiscard]] QString fanSpeedText(double rpm);
// Small figures of the cards: "1296 MHz", "(2)" for a count.
[[nodiscard]] QString frequencyText(double mhz);
// One GPU's figures in the GPU card's list, "31.00 W · 37% · 1835 MHz · 41°C",
// each one the machine does not measure as "—" with its unit ("— W").
[[nodiscard]] QString gpuFiguresText(const GpuFigures& gpu, TempUnit unit);
[[nodiscard]] QString countText(std::size_t n);

}  // namespace calorim::app
