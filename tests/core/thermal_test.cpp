// The two temperature readers: the HID sensors' and the SMC's.

#include <algorithm>
#include <initializer_list>
#include <limits>

#include <gtest/gtest.h>

#include "core/iohid_thermal.h"
#include "core/platform/fake/fake_platform.h"
#include "core/smc_thermal.h"
#include "tests/core/line_cases.h"

namespace calorim {
namespace {

using fake::FakeClock;
using fake::FakeHid;
using fake::FakeSmc;

// Cores by their index, the CPU from the cluster sensors, else the cores,
// else the SoC's; the GPU from its own and the PMU's "g" sensors. Readings
// outside (0, 150) and names without a plain index are left out.
TEST(IOHIDThermal, SensorsSortedIntoCpuCoresAndGpu) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    std::optional<std::vector<HidSensor>> sensors;
    CoreTemps expected;
  } cases[] = {
      {std::vector<HidSensor>{{"PMU tdie3", 50}, {"PMU tdie1", 40}, {"PMU tdie2", 45}, {"SOC MTR Temp Sensor0", 90}},
       {45, {40, 45, 50}, std::nullopt}},
      {std::vector<HidSensor>{{"PMU tdie1", 70}, {"eACC MTR Temp Sensor0", 40}, {"PMU tdie0", 30},
                              {"pACC MTR Temp Sensor5", 60}},
       {50, {30, 70}, std::nullopt}},
      {std::vector<HidSensor>{{"pACC MTR Temp Sensor5", 60}, {"eACC MTR Temp Sensor0", 40}}, {50, {40, 60}, std::nullopt}},
      {std::vector<HidSensor>{{"SOC MTR Temp Sensor0", 35}, {"SOC MTR Temp Sensor1", 45}, {"soc MTR Temp Sensor2", 99}},
       {40, {}, std::nullopt}},
      {std::vector<HidSensor>{{"GPU MTR Temp Sensor1", 55}, {"PMU TP3g", 65}, {"PMU TP3s", 99}, {"gpu 2", 99}},
       {0, {}, 60.0}},
      {std::vector<HidSensor>{{"PMU tdie1", 150.0}, {"PMU tdie2", 0.0}, {"PMU tdie3", nan}, {"PMU tdie4", std::nullopt},
                              {std::nullopt, 60}, {"PMU tdie", 90}, {"PMU tdiex", 90},
                              {"PMU tdie99999999999999999999", 90}, {"PMU tdie5", 40},
                              {"PMU tdie5", 44},  // same core: replaces 40
                              {"PMU tdie0", 149.5}},
       {(149.5 + 44) / 2, {149.5, 44}, std::nullopt}},
      {std::vector<HidSensor>{}, {}},
      {std::nullopt, {}},
  };
  for (const auto& c : cases) {
    FakeHid hid;
    hid.setSensors(c.sensors);
    EXPECT_EQ(IOHIDThermal(hid).read(), c.expected) << (c.sensors ? c.sensors->size() : 0);
  }
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
  EXPECT_LINE_CASES(GOLDEN_DIR "/sensor_index_cases.txt", [](const std::string& name) {
    const auto index = IOHIDThermal::parseSensorIndex(name, "PMU tdie");
    return index ? std::to_string(*index) : std::string("none");
  });
}

void addTemp(FakeSmc& smc, const std::string& key, std::initializer_list<std::optional<double>> values,
             const std::string& type = "sp78", std::uint32_t size = 2) {
  smc.addKey(key, type, size);
  for (const auto& v : values) smc.pushCelsius(key, v);
}

// Passes probing with five readings of `probe`, then queues `later`.
void addSteady(FakeSmc& smc, const std::string& key, double probe, std::initializer_list<std::optional<double>> later,
               const std::string& type = "sp78", std::uint32_t size = 2) {
  addTemp(smc, key, {probe, probe, probe, probe, probe}, type, size);
  for (const auto& v : later) smc.pushCelsius(key, v);
}

TEST(SMCThermalDecode, Sp78IsSignedEightDotEight) {
  EXPECT_EQ(detail::decodeSp78(0x2A, 0x80), 42.5);
  EXPECT_EQ(detail::decodeSp78(0xFF, 0x80), -0.5);
  EXPECT_EQ(detail::decodeSp78(0x80, 0x00), -128.0);
}

TEST(SMCThermalProbe, KeepsPlausibleSteadyKeysInCandidateOrder) {
  FakeSmc smc;
  FakeClock clock;
  addTemp(smc, "Tp00", {40, 41, 40.5, std::nullopt, 42});  // four kept, spread 2
  addTemp(smc, "Tp01", {14, 15, 16, 17, 120});              // only 16 and 17 kept
  addTemp(smc, "Tp02", {30, 60, 45, 50, 40});               // spread 30 ≥ 20
  addTemp(smc, "Tp0a", {50}, "flt ", 4);
  addTemp(smc, "Tp0A", {50}, "flt ", 4);  // keys are case-sensitive: both are probed
  addTemp(smc, "Tp0D", {55});             // the upper-case form some machines use
  addTemp(smc, "Tp13", {60});
  addTemp(smc, "Tp14", {60});  // past the last candidate
  addTemp(smc, "Tp04", {50}, "flt ", 2);
  addTemp(smc, "Tp05", {50}, "sp78", 4);
  addTemp(smc, "Tp06", {50}, "ui8 ", 1);
  addTemp(smc, "Tg00", {30, 60, 45, 50, 40});  // spread 30 is not below 30
  addTemp(smc, "Tg01", {30, 59, 45, 50, 40});
  addTemp(smc, "Tg0f", {70});
  addTemp(smc, "Tg0E", {70});
  addTemp(smc, "Tg10", {70});

  SMCThermal thermal(smc, clock);
  EXPECT_TRUE(thermal.connected());
  EXPECT_EQ(thermal.cpuKeys(), (std::vector<std::string>{"Tp00", "Tp0a", "Tp0A", "Tp0D", "Tp13"}));
  EXPECT_EQ(thermal.gpuKeys(), (std::vector<std::string>{"Tg01", "Tg0E", "Tg0f"}));
  // Eleven keys of a usable type and size, 0.25 s each; the others are never read.
  EXPECT_DOUBLE_EQ(clock.slept(), 11 * 0.25);
  EXPECT_EQ(thermal.fanCount(), 0);
}

TEST(SMCThermalRead, MedianOfValidValuesIsStickyAndSeededWithTheHighest) {
  FakeSmc smc;
  FakeClock clock;
  // Queued per key: seed, then four reads.
  addSteady(smc, "Tp00", 40, {40, std::nullopt, 50, 50, 1});
  addSteady(smc, "Tp01", 40, {45, 5, 52, 52, 2});
  addSteady(smc, "Tp02", 40, {3, 5, 70, 54, 3});
  addSteady(smc, "Tp03", 40, {std::nullopt, std::nullopt, 4, 70, std::nullopt});
  addSteady(smc, "Tg00", 60, {60, 60}, "flt ", 4);
  addSteady(smc, "Tg01", 70, {70, 70, 71}, "flt ", 4);

  SMCThermal thermal(smc, clock);
  ASSERT_EQ(thermal.cpuKeys().size(), 4u);

  const int callsBefore = smc.calls();
  ThermalReading r = thermal.read();
  EXPECT_EQ(r.cpu, 45.0);  // nothing above 5: the seed, the highest seed value
  EXPECT_EQ(r.gpu, 65.0);
  EXPECT_TRUE(r.fans.empty());
  EXPECT_EQ(smc.calls() - callsBefore, 6);  // one call per key, key info cached

  r = thermal.read();
  EXPECT_EQ(r.cpu, 52.0);  // 4 dropped, median of 50, 52, 70
  EXPECT_EQ(r.gpu, 65.5);
  EXPECT_EQ(thermal.read().cpu, 53.0);  // 50, 52, 54, 70
  EXPECT_EQ(thermal.read().cpu, 53.0);  // all at or below 5: kept
}

TEST(SMCThermalRead, ReportsFansReadingZeroOrMore) {
  FakeSmc smc;
  FakeClock clock;
  smc.addKey("FNum", "ui8 ", 1);
  smc.pushValue("FNum", std::vector<std::uint8_t>{4});
  addTemp(smc, "F0Ac", {1200.5}, "flt ", 4);
  addTemp(smc, "F1Ac", {-1}, "flt ", 4);
  addTemp(smc, "F2Ac", {0}, "flt ", 4);
  addTemp(smc, "F4Ac", {900}, "flt ", 4);  // beyond the fan count

  SMCThermal thermal(smc, clock);
  EXPECT_EQ(thermal.fanCount(), 4);
  EXPECT_EQ(thermal.read().fans, (std::vector<FanReading>{{0, 1200.5}, {2, 0}}));

  // A speed key without key info at creation is read uncached every time,
  // as sp78, costing a key-info call each read.
  addTemp(smc, "F3Ac", {100});
  int before = smc.calls();
  EXPECT_EQ(thermal.read().fans.back(), (FanReading{3, 100}));
  EXPECT_EQ(smc.calls() - before, 5);
  before = smc.calls();
  (void)thermal.read();
  EXPECT_EQ(smc.calls() - before, 5);

  // A read the controller answers with a failure result byte (and zeroed
  // data) is a missing speed, not a stopped fan.
  smc.setReadResult("F2Ac", smc::kKeyNotFound);
  EXPECT_EQ(thermal.read().fans, (std::vector<FanReading>{{0, 1200.5}, {3, 100}}));
}

TEST(SMCThermalRead, NothingWithoutAConnection) {
  FakeSmc smc;
  FakeClock clock;
  addTemp(smc, "Tp00", {50});
  smc.setOpenFails(true);
  SMCThermal closed(smc, clock);
  EXPECT_FALSE(closed.connected());
  EXPECT_EQ(closed.read(), ThermalReading{});
  EXPECT_EQ(smc.calls(), 0);
  EXPECT_EQ(clock.slept(), 0);
}

// Records every block sent, to check the layout the controller expects.
class RecordingSmc final : public SmcPort {
 public:
  explicit RecordingSmc(FakeSmc& inner) : inner_(inner) {}
  std::unique_ptr<SmcConnection> open() override { return std::make_unique<Conn>(*this, inner_.open()); }
  std::vector<std::pair<std::uint32_t, SmcParamBlock>> sent;

 private:
  struct Conn final : SmcConnection {
    Conn(RecordingSmc& owner, std::unique_ptr<SmcConnection> inner) : owner(owner), inner(std::move(inner)) {}
    std::optional<SmcParamBlock> call(std::uint32_t selector, const SmcParamBlock& input) override {
      owner.sent.emplace_back(selector, input);
      return inner->call(selector, input);
    }
    RecordingSmc& owner;
    std::unique_ptr<SmcConnection> inner;
  };
  FakeSmc& inner_;
};

TEST(SMCThermalRead, SendsBlocksWithOnlyKeySizeAndCommandSet) {
  EXPECT_EQ(smc::keyCode("FNum"), 0x464E756Du);
  EXPECT_EQ(smc::keyCode("F10Ac"), 0u);  // fans from index 10 on find no key info
  EXPECT_EQ(smc::keyCode("Tp0"), 0u);

  FakeSmc smc;
  FakeClock clock;
  addTemp(smc, "Tp01", {50});
  RecordingSmc recording(smc);
  SMCThermal thermal(recording, clock);
  ASSERT_EQ(thermal.cpuKeys(), std::vector<std::string>{"Tp01"});

  auto expected = [](std::uint8_t command, std::uint8_t size) {
    SmcParamBlock b{};
    b[0] = '1', b[1] = '0', b[2] = 'p', b[3] = 'T';  // "Tp01" as a little-endian word
    b[28] = size;
    b[42] = command;
    return b;
  };
  int infos = 0, reads = 0;
  for (const auto& [selector, block] : recording.sent) {
    EXPECT_EQ(selector, 2u);
    if (!std::equal(block.begin(), block.begin() + 4, expected(0, 0).begin())) continue;
    if (block == expected(9, 0)) ++infos;
    else if (block == expected(5, 2)) ++reads;
    else ADD_FAILURE() << "unexpected block for Tp01, command " << int(block[42]);
  }
  EXPECT_EQ(infos, 1);
  EXPECT_EQ(reads, 6);  // five probe reads and the seed
}

}  // namespace
}  // namespace calorim
