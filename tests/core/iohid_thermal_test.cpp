#include "core/iohid_thermal.h"

#include <limits>

#include <gtest/gtest.h>

#include "core/platform/fake/fake_platform.h"

namespace calorim {
namespace {

using fake::FakeHid;

CoreTemps readWith(std::vector<HidSensor> sensors) {
  FakeHid hid;
  hid.setSensors(std::move(sensors));
  return IOHIDThermal(hid).read();
}

TEST(IOHIDThermal, CpuAndCoresFromCoreClusterOrSocSensors) {
  CoreTemps t = readWith({{"PMU tdie3", 50}, {"PMU tdie1", 40}, {"PMU tdie2", 45}, {"SOC MTR Temp Sensor0", 90}});
  EXPECT_EQ(t.cores, (std::vector<double>{40, 45, 50}));
  EXPECT_DOUBLE_EQ(t.cpu, 45);
  EXPECT_FALSE(t.gpu);

  // Cluster sensors set the CPU temperature; the cores still come from the per-core sensors.
  t = readWith({{"PMU tdie1", 70}, {"eACC MTR Temp Sensor0", 40}, {"PMU tdie0", 30}, {"pACC MTR Temp Sensor5", 60}});
  EXPECT_DOUBLE_EQ(t.cpu, 50);
  EXPECT_EQ(t.cores, (std::vector<double>{30, 70}));

  t = readWith({{"pACC MTR Temp Sensor5", 60}, {"eACC MTR Temp Sensor0", 40}});
  EXPECT_EQ(t, (CoreTemps{50, {40, 60}, std::nullopt}));

  t = readWith({{"SOC MTR Temp Sensor0", 35}, {"SOC MTR Temp Sensor1", 45}, {"soc MTR Temp Sensor2", 99}});
  EXPECT_EQ(t, (CoreTemps{40, {}, std::nullopt}));
}

TEST(IOHIDThermal, GpuFromGpuAndPmuTpgSensors) {
  const CoreTemps t = readWith({{"GPU MTR Temp Sensor1", 55}, {"PMU TP3g", 65}, {"PMU TP3s", 99}, {"gpu 2", 99}});
  EXPECT_EQ(t, (CoreTemps{0, {}, 60.0}));
}

TEST(IOHIDThermal, LeavesOutImplausibleUnnamedAndUnindexedSensors) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const CoreTemps t = readWith({{"PMU tdie1", 150.0},
                                {"PMU tdie2", 0.0},
                                {"PMU tdie3", nan},
                                {"PMU tdie4", std::nullopt},
                                {std::nullopt, 60},
                                {"PMU tdie", 90},
                                {"PMU tdiex", 90},
                                {"PMU tdie99999999999999999999", 90},
                                {"PMU tdie5", 40},
                                {"PMU tdie5", 44},  // same core: replaces 40
                                {"PMU tdie0", 149.5}});
  EXPECT_EQ(t.cores, (std::vector<double>{149.5, 44}));
  EXPECT_DOUBLE_EQ(t.cpu, (149.5 + 44) / 2);

  EXPECT_EQ(readWith({}), CoreTemps{});
  FakeHid noList;
  noList.setSensors(std::nullopt);
  EXPECT_EQ(IOHIDThermal(noList).read(), CoreTemps{});
}

TEST(IOHIDThermal, CreatesTheClientOnceRetryingAfterFailures) {
  FakeHid hid;
  hid.setSensors(std::vector<HidSensor>{{"PMU tdie1", 40}});
  hid.failClientCreations(2);
  IOHIDThermal thermal(hid);
  EXPECT_EQ(hid.clientsCreated(), 0);
  EXPECT_EQ(thermal.read(), CoreTemps{});
  EXPECT_EQ(thermal.read(), CoreTemps{});
  EXPECT_DOUBLE_EQ(thermal.read().cpu, 40);
  (void)thermal.read();
  EXPECT_EQ(hid.clientsCreated(), 1);
  EXPECT_EQ(hid.matching(), (std::pair<std::uint32_t, std::uint32_t>{0xFF00, 5}));

  // Sensors are listed afresh on every read.
  hid.setSensors(std::vector<HidSensor>{{"PMU tdie1", 42}});
  EXPECT_DOUBLE_EQ(thermal.read().cpu, 42);
}

TEST(IOHIDThermal, ParsesTheIndexAfterThePrefix) {
  constexpr std::string_view p = "PMU tdie";
  EXPECT_EQ(IOHIDThermal::parseSensorIndex("PMU tdie1", p), 1);
  EXPECT_EQ(IOHIDThermal::parseSensorIndex("PMU tdie12a", p), 12);
  EXPECT_EQ(IOHIDThermal::parseSensorIndex("PMU tdie007", p), 7);
  EXPECT_EQ(IOHIDThermal::parseSensorIndex("PMU tdie9223372036854775807", p), 9223372036854775807);
  for (std::string_view none : {"PMU tdie", "PMU tdiex", "PMU tdie-1", "PMU tdie 1", "xPMU tdie1", "PMU tdi",
                                "PMU tdie9223372036854775808"}) {
    EXPECT_FALSE(IOHIDThermal::parseSensorIndex(none, p)) << none;
  }
}

}  // namespace
}  // namespace calorim
