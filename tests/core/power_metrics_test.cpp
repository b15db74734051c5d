#include "core/power_metrics.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <thread>

#include "core/base/little_endian.h"
#include "core/json.h"
#include "core/platform/fake/fake_platform.h"
#include "core/platform/stop_signal.h"
#include "tests/support/golden.h"
#include "tests/support/stretching_clock.h"

namespace calorim {
namespace {

constexpr const char* kGpuSubgroup = "GPU Performance States";

Channel energy(std::string name, double millijoules) {
  return Channel{"Energy Model", "", std::move(name), "mJ", static_cast<std::int64_t>(millijoules), {}};
}

Channel gpuStates(std::uint64_t off, std::uint64_t p1, std::uint64_t p2) {
  return Channel{"GPU Stats", kGpuSubgroup, "GPUPH", "", 0, {{"OFF", off}, {"P1", p1}, {"P2", p2}}};
}

class PowerMetricsTest : public ::testing::Test {
 protected:
  fake::FakeMachine machine;

  void SetUp() override {
    machine.registry->addService("AppleARMIODevice", RegistryDictionary{{"voltage-states9", frequencyTable()}});
    machine.host->pushTicks(std::vector<CpuTicks>{{0, 0, 0, 0}, {0, 0, 0, 0}});
    machine.counters->pushReading(CounterDelta{energy("CPU Energy", 0), gpuStates(0, 0, 0)});
  }

  static RegistryBytes frequencyTable() {
    RegistryBytes bytes;
    for (std::uint32_t hz : {400'000'000u, 800'000'000u}) {
      appendLE32(bytes, hz);
      appendLE32(bytes, 0);
    }
    return bytes;
  }

  // The two readings one sample takes: from nothing to `channels`.
  void script(CounterDelta channels) {
    CounterDelta zero = channels;
    for (Channel& c : zero) {
      c.value = 0;
      for (ChannelState& s : c.states) s.residency = 0;
    }
    machine.counters->pushReading(std::move(zero));
    machine.counters->pushReading(std::move(channels));
  }

  std::unique_ptr<PowerMetrics> make() {
    auto metrics = std::make_unique<PowerMetrics>(machine.platform);
    // Drop the reading that only declared the groups.
    machine.counters->pushReading(std::nullopt);
    EXPECT_THROW((void)metrics->sample(0), PMError);
    return metrics;
  }
};

TEST_F(PowerMetricsTest, SnapshotFieldsFromEveryReader) {
  machine.smc->addKey("Tp01", "sp78", 2);
  machine.smc->pushCelsius("Tp01", 52.5);
  machine.smc->addKey("FNum", "ui8 ", 1);
  machine.smc->pushValue("FNum", std::vector<std::uint8_t>{2});
  machine.smc->addKey("F0Ac", "flt ", 4);
  machine.smc->pushCelsius("F0Ac", -1.0);
  machine.smc->addKey("F1Ac", "flt ", 4);
  machine.smc->pushCelsius("F1Ac", 2400.0);
  machine.hid->setSensors(std::vector<HidSensor>{{"PMU tdie2", 45.0}, {"PMU tdie1", 40.0}});
  auto metrics = make();

  machine.host->pushTicks(std::vector<CpuTicks>{{30, 0, 70, 0}, {0, 0, 100, 0}});
  script({energy("CPU Energy", 4000), energy("GPU Energy", 1000), energy("ANE", 500), energy("DRAM", 300),
          energy("EACC_CPU", 1000), energy("PACC0_CPU", 3000), energy("Mystery", 200), gpuStates(50, 30, 20)});
  const auto before = machine.clock->now();
  const PowerSnapshot s = metrics->sample(2.0);

  // The HID sensors win over the SMC; without a "GPU" channel the GPU's power
  // is that of "GPU Energy"; fan 0's negative speed leaves it out.
  EXPECT_EQ(s.timestamp(), before);
  EXPECT_GOLDEN(GOLDEN_DIR "/core_snapshot.json", Json(s).dump(2) + "\n");
  EXPECT_DOUBLE_EQ(machine.clock->slept(), 5 * 0.05 + 2.0);  // probing Tp01, then the interval
}

TEST_F(PowerMetricsTest, TemperatureAndGpuFallbacks) {
  machine.smc->addKey("Tp01", "sp78", 2);
  machine.smc->pushCelsius("Tp01", 52.5);
  machine.smc->addKey("Tg05", "sp78", 2);
  machine.smc->pushCelsius("Tg05", 61.0);
  auto metrics = make();

  script({energy("GPU", 0), energy("GPU Energy", 3000)});
  PowerSnapshot s = metrics->sample(1.0);
  EXPECT_DOUBLE_EQ(s.cpuTemp().value(), 52.5);  // HID gave 0
  EXPECT_DOUBLE_EQ(s.gpuTemp().value(), 61.0);
  EXPECT_DOUBLE_EQ(s.gpuPower(), 3.0);

  machine.hid->setSensors(std::vector<HidSensor>{{"GPU MTR Temp Sensor1", 70.0}});
  script({energy("GPU", 1000), energy("GPU Energy", 3000)});
  s = metrics->sample(1.0);
  EXPECT_DOUBLE_EQ(s.gpuTemp().value(), 70.0);
  EXPECT_DOUBLE_EQ(s.gpuPower(), 1.0);

  // An instant sample: powers are 0, usage and temperatures still come.
  script({energy("CPU Energy", 5000), gpuStates(10, 10, 0)});
  s = metrics->sample(0);
  EXPECT_EQ(s.cpuPower(), 0.0);
  EXPECT_DOUBLE_EQ(s.gpuUsage(), 0.5);
  EXPECT_TRUE(s.cpuTemp().has_value());
}

TEST_F(PowerMetricsTest, PowerIsOverTheMeasuredSpanAndASpanOverTwiceTheIntervalOverruns) {
  testing::StretchingClock& clock = testing::stretchClock(*machine.platform);
  auto metrics = make();

  for (const double stretch : {1.0, 1.5, 2.0, 3.0, 3600.0}) {
    SCOPED_TRACE(stretch);
    clock.stretch = stretch;
    script({energy("CPU Energy", 3000 * stretch), energy("GPU Energy", 600 * stretch)});
    const PowerSnapshot s = metrics->sample(1.0);
    EXPECT_DOUBLE_EQ(s.duration(), stretch);
    EXPECT_DOUBLE_EQ(s.cpuPower(), 3.0);
    EXPECT_DOUBLE_EQ(s.gpuPower(), 0.6);
    EXPECT_EQ(PowerMetrics::overran(s, 1.0), stretch > 2.0);
  }
}

// A stop request during the wait skips the rest of the sample.
TEST_F(PowerMetricsTest, AStopDuringTheWaitSkipsTheSample) {
  auto metrics = make();
  script({energy("CPU Energy", 3000)});
  StopSource stopping;
  stopping.requestStop();
  EXPECT_THROW((void)metrics->sample(1.0, stopping.token()), PMError);
}

// Without sensors the temperatures are absent; a failed reading fails the sample.
TEST_F(PowerMetricsTest, NoTemperatureSourceAndFailedReadings) {
  auto metrics = make();
  script({energy("CPU Energy", 1000)});
  const PowerSnapshot s = metrics->sample(1.0);
  EXPECT_FALSE(s.cpuTemp() || s.gpuTemp());
  EXPECT_TRUE(s.fans().empty());

  machine.counters->pushReading(std::nullopt);  // first reading
  EXPECT_THROW((void)metrics->sample(1.0), PMError);
  machine.counters->pushReading(CounterDelta{energy("CPU Energy", 0)});
  machine.counters->pushReading(std::nullopt);  // second reading
  EXPECT_THROW((void)metrics->sample(1.0), PMError);
  machine.counters->setDeltaFails(true);
  try {
    (void)metrics->sample(1.0);
    FAIL();
  } catch (const PMError& e) {
    EXPECT_EQ(e.kind(), PMError::Kind::sampleFailed);
  }
}

TEST_F(PowerMetricsTest, WindowsMeasureFromTheLatestBeginAndEndOnce) {
  auto metrics = make();
  EXPECT_FALSE(metrics->endWindow("never"));

  machine.counters->pushReading(CounterDelta{energy("CPU Energy", 0), energy("GPU", 0)});
  EXPECT_FALSE(metrics->beginWindow("task"));
  machine.clock->advance(3);
  machine.counters->pushReading(CounterDelta{energy("CPU Energy", 6000), energy("GPU", 0)});
  (void)metrics->beginWindow("task");  // starts afresh
  machine.clock->advance(10);
  machine.counters->pushReading(CounterDelta{energy("CPU Energy", 26000), energy("GPU", 5000)});
  const std::optional<EnergyMetrics> e = metrics->endWindow("task");
  ASSERT_TRUE(e);
  EXPECT_DOUBLE_EQ(e->duration(), 10.0);
  EXPECT_DOUBLE_EQ(e->cpuEnergy(), 20.0);  // 10 s at 2 W
  EXPECT_DOUBLE_EQ(e->gpuEnergy(), 5.0);
  EXPECT_DOUBLE_EQ(e->totalEnergy(), 25.0);
  EXPECT_DOUBLE_EQ(e->cpuPowerAvg(), 2.0);
  EXPECT_FALSE(metrics->endWindow("task"));

  // A begin whose sample fails stores nothing and keeps the earlier window.
  machine.counters->pushReading(CounterDelta{energy("CPU Energy", 0)});
  (void)metrics->beginWindow("kept");
  machine.counters->pushReading(std::nullopt);
  EXPECT_FALSE(metrics->beginWindow("kept"));  // a failed sample is no refusal
  (void)metrics->beginWindow("lost");  // the queue is dry: this one works
  machine.counters->pushReading(std::nullopt);
  EXPECT_FALSE(metrics->endWindow("lost"));  // closing sample failed: consumed anyway
  EXPECT_FALSE(metrics->endWindow("lost"));
  machine.clock->advance(1);
  machine.counters->pushReading(CounterDelta{energy("CPU Energy", 1000)});
  EXPECT_TRUE(metrics->endWindow("kept"));
}

// Each split gives the stretch since the one before and goes on from its
// reading: the stretches add up to the whole; a failed reading keeps the
// window open from its last good one.
TEST_F(PowerMetricsTest, SplitWindowsGiveConsecutiveStretches) {
  auto metrics = make();
  EXPECT_FALSE(metrics->splitWindow("never"));

  machine.counters->pushReading(CounterDelta{energy("CPU Energy", 0), energy("GPU", 0)});
  (void)metrics->beginWindow("run");
  const struct {
    double seconds;
    double cpuMillijoules;  // the counter's reading at the split
    double gpuMillijoules;
    double cpuJoules;  // the stretch's
    double gpuJoules;
  } kStretches[] = {{1, 4000, 1000, 4, 1}, {2, 10000, 1000, 6, 0}, {0.5, 10500, 3000, 0.5, 2}};
  double duration = 0;
  double total = 0;
  for (const auto& stretch : kStretches) {
    SCOPED_TRACE(stretch.seconds);
    machine.clock->advance(stretch.seconds);
    machine.counters->pushReading(
        CounterDelta{energy("CPU Energy", stretch.cpuMillijoules), energy("GPU", stretch.gpuMillijoules)});
    const std::optional<EnergyMetrics> e = metrics->splitWindow("run");
    ASSERT_TRUE(e);
    EXPECT_DOUBLE_EQ(e->duration(), stretch.seconds);
    EXPECT_DOUBLE_EQ(e->cpuEnergy(), stretch.cpuJoules);
    EXPECT_DOUBLE_EQ(e->gpuEnergy(), stretch.gpuJoules);
    duration += e->duration();
    total += e->totalEnergy();
  }
  machine.clock->advance(1);
  machine.counters->pushReading(std::nullopt);
  EXPECT_FALSE(metrics->splitWindow("run"));
  machine.clock->advance(1);
  machine.counters->pushReading(CounterDelta{energy("CPU Energy", 12500), energy("GPU", 3000)});
  const std::optional<EnergyMetrics> last = metrics->endWindow("run");
  ASSERT_TRUE(last);
  EXPECT_DOUBLE_EQ(last->duration(), 2.0);  // from the last good split
  EXPECT_DOUBLE_EQ(last->cpuEnergy(), 2.0);
  EXPECT_DOUBLE_EQ(duration + last->duration(), 5.5);
  EXPECT_DOUBLE_EQ(total + last->totalEnergy(), 12.5 + 3.0);
  EXPECT_FALSE(metrics->splitWindow("run"));
}

TEST_F(PowerMetricsTest, OpenWindowsAndTheirNamesAreBounded) {
  auto metrics = make();
  using Refusal = PowerMetrics::WindowRefusal;
  const std::string longest(PowerMetrics::kMaxWindowNameBytes, 'n');
  EXPECT_EQ(metrics->beginWindow(longest + "n"), Refusal::nameTooLong);
  EXPECT_FALSE(metrics->endWindow(longest + "n"));
  EXPECT_FALSE(metrics->beginWindow(longest));
  for (std::size_t i = 1; i < PowerMetrics::kMaxWindows; ++i) {
    ASSERT_FALSE(metrics->beginWindow("w" + std::to_string(i)));
  }
  EXPECT_EQ(metrics->beginWindow("one too many"), Refusal::tooManyWindows);
  EXPECT_FALSE(metrics->endWindow("one too many"));  // nothing was stored
  EXPECT_FALSE(metrics->beginWindow("w1"));          // restarting an open one takes no slot
  EXPECT_TRUE(metrics->endWindow(longest));
  EXPECT_FALSE(metrics->beginWindow("one too many"));  // the freed slot
  EXPECT_EQ(metrics->beginWindow("another"), Refusal::tooManyWindows);
}

TEST_F(PowerMetricsTest, WindowsFromManyThreadsWhileSampling) {
  auto metrics = make();
  std::atomic<bool> done = false;
  std::atomic<int> ended = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        const std::string name = "w" + std::to_string(t) + "-" + std::to_string(i % 5);
        (void)metrics->beginWindow(name);
        if (metrics->endWindow(name)) ++ended;
      }
    });
  }
  std::thread sampler([&] {
    while (!done) (void)metrics->sample(0.01);
  });
  for (auto& t : threads) t.join();
  done = true;
  sampler.join();
  EXPECT_EQ(ended, 800);
}

TEST_F(PowerMetricsTest, StreamDeliversUntilStoppedAndPausesAfterFailures) {
  auto metrics = make();
  auto stream = metrics->stream(1.0);
  for (int i = 0; i < 3; ++i) {
    const std::optional<PowerSnapshot> s = stream->next();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->duration(), 1.0);
  }
  stream->stop();
  while (stream->next()) {
  }
  EXPECT_FALSE(stream->next());

  // Over a zero interval only the pause after each failure moves the clock.
  machine.counters->setDeltaFails(true);
  const double before = machine.clock->slept();
  auto failing = metrics->stream(0.0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (machine.clock->slept() < before + 10 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  failing.reset();  // must not hang
  EXPECT_GE(machine.clock->slept(), before + 10);
}

TEST(StopSignalTest, StopEndsEverySleepOfItsTokens) {
  // A token of no source never stops; sleeps of nothing return at once.
  const StopToken none;
  EXPECT_FALSE(none.stopRequested());
  for (double nothing : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) EXPECT_TRUE(none.sleepFor(nothing));

  StopSource source;
  const StopToken token = source.token();
  EXPECT_TRUE(token.sleepFor(0.001));

  // Sleeps far longer than the test may take end when a stop is requested.
  bool longSleepCompleted = true;
  std::thread sleeper([&] { longSleepCompleted = token.sleepFor(std::numeric_limits<double>::infinity()); });
  std::thread waiter([copy = token] { copy.waitForStop(); });
  source.requestStop();
  sleeper.join();
  waiter.join();
  EXPECT_FALSE(longSleepCompleted);

  // Once requested, the stop stays: later sleeps return at once, as stopped.
  source.requestStop();
  EXPECT_TRUE(source.stopRequested());
  EXPECT_TRUE(token.stopRequested());
  EXPECT_FALSE(token.sleepFor(3600));
}

}  // namespace
}  // namespace calorim
