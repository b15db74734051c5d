#pragma once
// `PowerSample`: one published reading of the live monitor, the facade's
// snapshot joined with the battery, adapter and memory readings that only the
// application shows. Units: W for powers, °C for temperatures, fractions 0..1
// for usage, MHz for frequency, GB = 2^30 bytes for memory, % for the charge.

#include <QUuid>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "app/model/battery_readers.h"
#include "core/machine_description.h"
#include "core/process_power.h"
#include "core/records.h"

namespace calorim::app {

// The breakdown of a sample before anything was measured: every list empty and
// every power 0. Built once per process.
[[nodiscard]] const EnergyBreakdown& emptyBreakdown();

// Fields in their published order; a plain value, copied freely.
struct PowerSample {
  QUuid id;                                  // new for every sample: its identity in lists
  std::chrono::system_clock::time_point time;  // the snapshot's timestamp
  double cpu = 0;
  double gpu = 0;
  double ane = 0;
  double dram = 0;
  double total = 0;  // whole chip
  double eCpu = 0;
  double pCpu = 0;
  double cpuTemp = 0;  // °C; 0 when the snapshot had none
  double gpuTemp = 0;  // °C; 0 when the snapshot had none
  std::vector<double> coreTemps;
  double cpuUsage = 0;
  double gpuUsage = 0;
  double eCpuUsage = 0;
  double pCpuUsage = 0;
  double gpuFreqMHz = 0;
  std::vector<FanInfo> fans;
  EnergyBreakdown breakdown = emptyBreakdown();
  // W of the whole platform, where the machine measures it; never part of `total`.
  std::optional<double> platform;
  double systemPower = 0;          // W drawn at the system's power input ("SystemPowerIn")
  std::int64_t batteryPercent = 0;
  bool isCharging = false;
  std::int64_t adapterWatts = 0;   // the adapter's rating
  double adapterVoltage = 0;       // V
  double chargingPower = 0;        // W flowing into the battery while charging, else 0
  double batteryDischargeW = 0;    // W drawn from the battery ("BatteryPower" while not charging), else 0
  double ramUsedGB = 0;
  double ramTotalGB = 0;
  double swapUsedGB = 0;
  // False when the energy counters could not be read: `cpu` through `pCpu`
  // and `breakdown` are then absent, not 0, and are shown as "—".
  bool hasPower = true;
  // The GPUs one by one with their own figures, where the machine lists them
  // so (empty otherwise, and on a Mac, whose one GPU is the chip's).
  std::vector<GpuFigures> gpus;
  // What the machine measures and is made of, as the facade described it when
  // the sample was taken; null before the first sample (then every figure is
  // shown, as it is unknown which ones the machine lacks).
  std::shared_ptr<const MachineDescription> machine;

  // The CPU power shared out among the processes over the sample's interval,
  // the largest first (at most `kProcessesKept`, the rest in its "other");
  // absent while no view shows processes, or without power.
  std::optional<ProcessAttribution> processes;

  static constexpr std::size_t kProcessesKept = 10;

  // A new id, `time`, every number 0, not charging, empty lists, `emptyBreakdown()`.
  [[nodiscard]] static PowerSample zero(std::chrono::system_clock::time_point time);
};

// What the monitor reads besides the snapshot for one sample.
struct SampleReadings {
  double systemPower = 0;   // W, "SystemPowerIn"
  double chargePower = 0;   // W into the battery (`BatteryReadings::chargePower`)
  BatteryInfo battery;
  double batteryPower = 0;  // W, "BatteryPower"
  MemoryInfo memory;
};

// The sample of `snapshot` and `readings`, with a new id. A temperature the
// snapshot lacks becomes 0; `chargingPower` is the charge power while the
// battery is charging, else 0. The snapshot's duration, per-core usage and
// memory bandwidth are not carried over. Pure apart from the new id.
[[nodiscard]] PowerSample makeSample(const PowerSnapshot& snapshot, const SampleReadings& readings);

}  // namespace calorim::app
