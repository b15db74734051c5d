#include "core/power_service.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "core/base/little_endian.h"
#include "core/json.h"
#include "core/platform/fake/fake_platform.h"
#include "tests/support/golden.h"
#include "tests/support/stretching_clock.h"

namespace calorim {
namespace {

class PowerServiceTest : public ::testing::Test {
 protected:
  fake::FakeMachine machine;
  std::unique_ptr<PowerService> service;

  void SetUp() override {
    RegistryBytes table;
    for (std::uint32_t hz : {400'000'000u, 800'000'000u}) {
      appendLE32(table, hz);
      appendLE32(table, 0);
    }
    machine.registry->addService("AppleARMIODevice", RegistryDictionary{{"voltage-states9", table}});
    machine.host->setSystemText("machdep.cpu.brand_string", "Apple M3 Pro");
    machine.counters->pushReading(CounterDelta{gpu(0, 0, 0, 0), {"Energy Model", "", "GPU", "mJ", 0, {}}});
    service = std::make_unique<PowerService>(machine.platform);
    (void)service->beginWindow("setup");  // takes the reading that only declared the groups
  }

  // GPU power in mJ over the sample and residencies of OFF, P1 (400 MHz), P2 (800 MHz).
  static Channel gpu(double millijoules, std::uint64_t off, std::uint64_t p1, std::uint64_t p2) {
    return Channel{"GPU Stats", "GPU Performance States", "GPUPH", "", static_cast<std::int64_t>(millijoules),
                   {{"OFF", off}, {"P1", p1}, {"P2", p2}}};
  }

  // The next sample sees these temperatures (0 = none), GPU states and GPU watts over `interval`.
  void next(double cpuTemp, double gpuTemp, std::uint64_t off, std::uint64_t p1, std::uint64_t p2,
            double gpuWatts = 0, double interval = PowerService::kThrottleInterval) {
    std::vector<HidSensor> sensors;
    if (cpuTemp > 0) sensors.push_back({"pACC MTR Temp Sensor0", cpuTemp});
    if (gpuTemp > 0) sensors.push_back({"GPU MTR Temp Sensor1", gpuTemp});
    machine.hid->setSensors(sensors);
    const auto mj = static_cast<std::int64_t>(gpuWatts * interval * 1000);
    machine.counters->pushReading(CounterDelta{gpu(0, 0, 0, 0), {"Energy Model", "", "GPU", "mJ", 0, {}}});
    machine.counters->pushReading(CounterDelta{gpu(0, off, p1, p2), {"Energy Model", "", "GPU", "mJ", mj, {}}});
  }
};

TEST_F(PowerServiceTest, ASnapshotThatOverranIsTakenOnceMore) {
  service.reset();
  testing::StretchingClock& clock = testing::stretchClock(*machine.platform);
  machine.counters->pushReading(CounterDelta{gpu(0, 0, 0, 0), {"Energy Model", "", "GPU", "mJ", 0, {}}});
  service = std::make_unique<PowerService>(machine.platform);
  (void)service->beginWindow("setup");

  // The machine sleeps through ten times the interval at 1 W; the sample
  // taken again then measures a second at 3 W.
  clock.stretches = {10.0};
  next(60, 0, 0, 1, 0, 1.0, 10.0);
  next(60, 0, 0, 1, 0, 3.0, 1.0);
  const PowerSnapshot again = service->snapshot(1.0);
  EXPECT_DOUBLE_EQ(again.duration(), 1.0);
  EXPECT_DOUBLE_EQ(again.gpuPower(), 3.0);

  // The answers are built on such snapshots. Twice the interval is no
  // overrun: that sample stands, over its real span.
  clock.stretches = {2.0};
  next(60, 0, 0, 1, 0, 2.0, 2 * PowerService::kThrottleInterval);
  EXPECT_DOUBLE_EQ(service->headroom().gpuPowerW(), 2.0);
}

// One record a line, for each step: thermal wins over the frequency drop;
// exactly half busy and exactly 95 °C do not throttle, nor fast and busy.
TEST_F(PowerServiceTest, ThrottlingThresholds) {
  struct Step {
    double cpuTemp, gpuTemp;
    std::uint64_t off, p1, p2;
  };
  std::string records;
  for (const Step& step : {Step{96, 0, 20, 80, 0}, Step{70, 70, 40, 60, 0}, Step{70, 70, 50, 50, 0},
                           Step{95, 95, 100, 0, 0}, Step{70, 0, 0, 0, 100}}) {
    next(step.cpuTemp, step.gpuTemp, step.off, step.p1, step.p2);
    records += toJsonText(service->isThrottling()) + "\n";
  }
  EXPECT_GOLDEN(GOLDEN_DIR "/core_throttling.jsonl", records);
}

// At 30 W of the M3 Pro's 35 W budget, at 50 W (capped at 100 %), at 90 °C
// with 1 W, and just below both limits.
TEST_F(PowerServiceTest, HeadroomAgainstTheChipBudget) {
  std::string records;
  for (const auto& [temp, watts] : {std::pair{60.0, 30.0}, {60.0, 50.0}, {90.0, 1.0}, {89.9, 27.9}}) {
    next(temp, 0, 0, 1, 0, watts);
    records += toJsonText(service->headroom()) + "\n";
  }
  EXPECT_GOLDEN(GOLDEN_DIR "/core_headroom.jsonl", records);

  // A chip of no known budget: nothing is used of it, and only the
  // temperature decides.
  machine.host->setSystemText("machdep.cpu.brand_string", "Intel(R) Core(TM) i7 Processor");
  machine.counters->pushReading(CounterDelta{gpu(0, 0, 0, 0), {"Energy Model", "", "GPU", "mJ", 0, {}}});
  service = std::make_unique<PowerService>(machine.platform);
  (void)service->beginWindow("setup");
  next(60, 0, 0, 1, 0, 30);
  const HeadroomStatus unknown = service->headroom();
  EXPECT_EQ(unknown.estimatedTDPW(), 0);
  EXPECT_EQ(unknown.usedPercent(), 0);
  EXPECT_TRUE(unknown.canAddWork());
}

TEST_F(PowerServiceTest, CooldownReachedOrTimedOut) {
  next(60, 0, 1, 0, 0, 0, PowerService::kCooldownStep);
  CooldownResult c = service->waitForCooldown(80, 60);
  EXPECT_TRUE(c.cooledDown());
  EXPECT_EQ(c.finalTemp(), 60);
  EXPECT_DOUBLE_EQ(c.waitedSeconds(), 1.0);

  // No temperature at all never counts as cooled: the wait runs to its timeout.
  machine.hid->setSensors(std::vector<HidSensor>{});
  const double before = machine.clock->slept();
  int progress = 0;
  c = service->waitForCooldown(80, 60, [&](double) { ++progress; });
  EXPECT_FALSE(c.cooledDown());
  EXPECT_EQ(c.finalTemp(), 0);
  EXPECT_EQ(c.waitedSeconds(), 60);
  EXPECT_EQ(progress, 60);
  EXPECT_DOUBLE_EQ(machine.clock->slept() - before, 60.5);

  machine.hid->setSensors(std::vector<HidSensor>{{"pACC MTR Temp Sensor0", 99}});
  c = service->waitForCooldown(80, 0);  // skips the loop
  EXPECT_FALSE(c.cooledDown());
  EXPECT_EQ(c.finalTemp(), 99);
  EXPECT_EQ(c.waitedSeconds(), 0);

  machine.counters->setDeltaFails(true);
  EXPECT_THROW((void)service->waitForCooldown(80, 5), PMError);
}

TEST(PowerServiceCreation, FailsWithTheFacadeErrorAndTakesInfoOnce) {
  fake::FakeMachine empty;
  EXPECT_THROW(PowerService{empty.platform}, PMError);

  fake::FakeMachine machine;
  machine.counters->pushReading(CounterDelta{{"Energy Model", "", "CPU Energy", "mJ", 0, {}}});
  machine.host->setSystemInteger("hw.memsize", 17'179'869'184);
  PowerService service(machine.platform);
  machine.host->setSystemInteger("hw.memsize", 1);
  EXPECT_EQ(service.info().totalMemoryGB(), 16.0);
}

// Holds back the SMC and the hardware report until the test lets them go: a
// start that did that slow work before returning would never return.
struct Gate {
  std::mutex mutex;
  std::condition_variable opened;
  bool open = false;

  void pass() {
    std::unique_lock lock(mutex);
    opened.wait(lock, [this] { return open; });
  }
  void release() {
    std::lock_guard lock(mutex);
    open = true;
    opened.notify_all();
  }
};

struct GatedSmc final : SmcPort {
  GatedSmc(std::unique_ptr<SmcPort> inner, Gate& gate) : inner(std::move(inner)), gate(gate) {}
  std::unique_ptr<SmcConnection> open() override {
    gate.pass();
    return inner->open();
  }
  std::unique_ptr<SmcPort> inner;
  Gate& gate;
};

struct GatedReport final : HardwareReportPort {
  GatedReport(std::unique_ptr<HardwareReportPort> inner, Gate& gate) : inner(std::move(inner)), gate(gate) {}
  std::optional<std::string> report(std::string_view dataType, const StopToken& stop) override {
    gate.pass();
    return inner->report(dataType, stop);
  }
  std::unique_ptr<HardwareReportPort> inner;
  Gate& gate;
};

TEST(PowerServiceCreation, InTheBackgroundReturnsFirstAndWaitsWhereTheSlowWorkIsNeeded) {
  Gate gate;
  const auto gated = [&gate](fake::FakeMachine& machine) {
    machine.platform->smc = std::make_unique<GatedSmc>(std::move(machine.platform->smc), gate);
    machine.platform->hardwareReport =
        std::make_unique<GatedReport>(std::move(machine.platform->hardwareReport), gate);
  };
  // The counter sampler comes first: its failure fails the start before any slow work.
  fake::FakeMachine empty;
  gated(empty);
  EXPECT_THROW((PowerService{empty.platform, StartUpWork::inBackground}), PMError);

  fake::FakeMachine machine;
  machine.counters->pushReading(CounterDelta{{"Energy Model", "", "CPU Energy", "mJ", 0, {}}});
  machine.smc->addKey("Tp01", "sp78", 2);
  machine.smc->pushCelsius("Tp01", 52.5);
  machine.hardwareReport->setReport("SPHardwareDataType", R"({"SPHardwareDataType":[{"machine_name":"Mac mini"}]})");
  gated(machine);
  PowerService service(machine.platform, StartUpWork::inBackground);
  gate.release();
  EXPECT_EQ(service.snapshot(1).cpuTemp(), 52.5);
  EXPECT_EQ(service.info().machineName(), "Mac mini");
}

}  // namespace
}  // namespace calorim
