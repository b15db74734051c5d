#include "app/model/power_sample.h"

namespace calorim::app {

const EnergyBreakdown& emptyBreakdown() {
  static const EnergyBreakdown breakdown = EnergyBreakdown::empty();
  return breakdown;
}

PowerSample PowerSample::zero(std::chrono::system_clock::time_point time) {
  PowerSample sample;
  sample.id = QUuid::createUuid();
  sample.time = time;
  return sample;
}

}  // namespace calorim::app

namespace calorim::app {

PowerSample makeSample(const PowerSnapshot& snapshot, const SampleReadings& readings) {
  return PowerSample{
      .id = QUuid::createUuid(),
      .time = snapshot.timestamp(),
      .cpu = snapshot.cpuPower(),
      .gpu = snapshot.gpuPower(),
      .ane = snapshot.anePower(),
      .dram = snapshot.dramPower(),
      .total = snapshot.totalPower(),
      .eCpu = snapshot.eCpuPower(),
      .pCpu = snapshot.pCpuPower(),
      .cpuTemp = snapshot.cpuTemp().value_or(0),
      .gpuTemp = snapshot.gpuTemp().value_or(0),
      .coreTemps = snapshot.coreTemps(),
      .cpuUsage = snapshot.cpuUsage(),
      .gpuUsage = snapshot.gpuUsage(),
      .eCpuUsage = snapshot.eCpuUsage(),
      .pCpuUsage = snapshot.pCpuUsage(),
      .gpuFreqMHz = snapshot.gpuFreqMHz(),
      .fans = snapshot.fans(),
      .breakdown = snapshot.energyBreakdown(),
      .platform = snapshot.platformPower(),
      .systemPower = readings.systemPower,
      .batteryPercent = readings.battery.percent,
      .isCharging = readings.battery.charging,
      .adapterWatts = readings.battery.watts,
      .adapterVoltage = readings.battery.voltage,
      .chargingPower = chargingPower(readings.battery.charging, readings.chargePower),
      .batteryDischargeW = readings.batteryPower,
      .ramUsedGB = readings.memory.used,
      .ramTotalGB = readings.memory.total,
      .swapUsedGB = readings.memory.swap,
  };
}

}  // namespace calorim::app
