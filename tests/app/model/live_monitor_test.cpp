#include "app/model/live_monitor.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <algorithm>

#include "app/model/strings.h"
#include "tests/app/app_test_support.h"

namespace calorim::app {
namespace {

using testing::SimulatedRig;
using testing::SteppingClock;
using testing::waitUntil;

PowerSample withTotal(double total) {
  PowerSample s = testing::sampleWith(0);
  s.total = total;
  return s;
}

TEST(LiveMonitor, PublicationKeepsTheNewestThirtyWithTheirPeakAndMean) {
  SimulatedRig sim(LiveMonitor::kStartDelay);  // the loop never starts
  const auto constructed = sim.machine.fakeClock()->now();
  auto monitor = sim.makeMonitor();

  // Until the first publication: a zero sample of its own, made now.
  EXPECT_FALSE(monitor->latest().id.isNull());
  EXPECT_NE(PowerSample::zero({}).id, monitor->latest().id);
  EXPECT_EQ(monitor->latest().time, constructed);
  EXPECT_EQ(monitor->latest().total, 0);
  EXPECT_EQ(monitor->latest().breakdown, EnergyBreakdown::empty());
  EXPECT_TRUE(monitor->history().empty());
  EXPECT_EQ(monitor->peakPower(), 0);
  EXPECT_FALSE(monitor->error());
  EXPECT_FALSE(monitor->updateAvailable());
  // The worker reads the machine's description, off the UI thread.
  ASSERT_TRUE(waitUntil([&] { return monitor->systemInfo().has_value(); }));
  EXPECT_EQ(monitor->systemInfo()->chipName(), "Apple M3 Pro");
  EXPECT_EQ(monitor->energyAccess().state, EnergyAccess::State::readable);

  std::vector<std::string> order;
  QObject::connect(monitor.get(), &LiveMonitor::latestChanged, [&] { order.push_back("latest"); });
  QObject::connect(monitor.get(), &LiveMonitor::historyChanged, [&] { order.push_back("history"); });
  QObject::connect(monitor.get(), &LiveMonitor::peakPowerChanged, [&] { order.push_back("peak"); });
  QObject::connect(monitor.get(), &LiveMonitor::avgPowerChanged, [&] { order.push_back("avg"); });
  QObject::connect(monitor.get(), &LiveMonitor::published, [&] { order.push_back("published"); });

  // The first sample is the peak: it must leave with its sample, not linger
  // as an all-time peak.
  std::vector<double> totals = {50};
  for (int w = 3; w <= 32; ++w) totals.push_back(w);
  for (std::size_t i = 0; i < 30; ++i) monitor->publish(withTotal(totals[i]));
  EXPECT_DOUBLE_EQ(monitor->peakPower(), 50);

  order.clear();
  monitor->publish(withTotal(totals[30]));
  EXPECT_EQ(order, (std::vector<std::string>{"latest", "history", "peak", "avg", "published"}));
  EXPECT_EQ(monitor->history(), std::vector<double>(totals.begin() + 1, totals.end()));
  EXPECT_DOUBLE_EQ(monitor->latest().total, 32);
  EXPECT_DOUBLE_EQ(monitor->peakPower(), 32);
  EXPECT_DOUBLE_EQ(monitor->avgPower(), 17.5);  // (3 + ... + 32) / 30

  // An equal peak is not a change; history always is.
  order.clear();
  monitor->publish(withTotal(32));
  EXPECT_EQ(order, (std::vector<std::string>{"latest", "history", "avg", "published"}));

  // Destroyed during the held start delay, it returns at once.
  ASSERT_TRUE(waitUntil([&] { return sim.clock->holding() == 1; }));
  monitor.reset();
  EXPECT_EQ(sim.clock->holding(), 0);
  EXPECT_EQ(sim.clock->waits(), std::vector<double>{LiveMonitor::kStartDelay});
}

TEST(LiveMonitor, SamplingLoopPublishesOnTheUiThreadRetriesPausesAndStops) {
  SimulatedRig sim(LiveMonitor::kPause);
  auto monitor = sim.makeMonitor();
  QSignalSpy published(monitor.get(), &LiveMonitor::published);
  std::vector<double> totals;
  bool offThread = false;
  QObject::connect(monitor.get(), &LiveMonitor::published, [&] {
    offThread = offThread || QThread::currentThread() != monitor->thread();
    totals.push_back(monitor->latest().total);
  });
  ASSERT_TRUE(waitUntil([&] { return published.count() == 1 && sim.clock->holding() == 1; }));

  // A failed sample is retried after the usual pause, without publishing.
  sim.machine.fakes().counters->pushReading(std::nullopt);
  sim.clock->release();
  ASSERT_TRUE(waitUntil([&] { return sim.clock->holding() == 1 && sim.clock->waits().size() == 3; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(published.count(), 1);
  sim.clock->release();
  ASSERT_TRUE(waitUntil([&] { return published.count() == 2 && sim.clock->holding() == 1; }));
  EXPECT_EQ(sim.clock->waits(), (std::vector<double>{LiveMonitor::kStartDelay, LiveMonitor::kPause,
                                                     LiveMonitor::kPause, LiveMonitor::kPause}));

  sim.clock->release(29);
  ASSERT_TRUE(waitUntil([&] { return published.count() == 31 && sim.clock->holding() == 1; }));
  EXPECT_FALSE(offThread);
  EXPECT_EQ(monitor->history(), std::vector<double>(totals.begin() + 1, totals.end()));
  // The simulated laptop is charging from a 96 W adapter: every reader fed the sample.
  const PowerSample& s = monitor->latest();
  EXPECT_GT(s.systemPower, 20);
  EXPECT_EQ(s.batteryPercent, 76);
  EXPECT_EQ(s.adapterWatts, 96);
  EXPECT_TRUE(s.chargingPower > 5 && s.chargingPower < 20);
  EXPECT_EQ(s.batteryDischargeW, 0);  // no boost while charging
  EXPECT_GT(s.ramTotalGB, 0);
  // Start delay, then a 2 s pause after each sample or failure; nothing else waited.
  const std::vector<double> loopWaits = sim.clock->waits();
  EXPECT_EQ(loopWaits.size(), 33u);
  EXPECT_TRUE(std::all_of(loopWaits.begin() + 1, loopWaits.end(), [](double w) { return w == LiveMonitor::kPause; }));

  monitor->setPaused(true);
  const QUuid before = monitor->latest().id;
  const int samplesBefore = sim.machine.fakes().counters->samplesTaken();
  const std::size_t waitsBefore = sim.clock->waits().size();
  sim.clock->release();  // the pause after the last sample ends; the loop now finds the flag set
  ASSERT_TRUE(waitUntil([&] { return sim.clock->waits().size() >= waitsBefore + 20; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(sim.machine.fakes().counters->samplesTaken(), samplesBefore);
  EXPECT_EQ(published.count(), 31);
  EXPECT_EQ(monitor->latest().id, before);

  monitor->setPaused(false);
  ASSERT_TRUE(waitUntil([&] { return published.count() == 32 && sim.clock->holding() == 1; }));
  EXPECT_NE(monitor->latest().id, before);
  // While paused the loop only ever waited 0.1 s at a time, so the cleared
  // flag was seen within 0.1 s (of the monitor's clock).
  const std::vector<double> waits = sim.clock->waits();
  const std::vector<double> whilePaused(waits.begin() + static_cast<std::ptrdiff_t>(waitsBefore),
                                        waits.end() - 1);  // the last is the pause after the new sample
  ASSERT_FALSE(whilePaused.empty());
  EXPECT_TRUE(std::all_of(whilePaused.begin(), whilePaused.end(),
                          [](double w) { return w == LiveMonitor::kPausedPoll; }));

  // Destroyed during a held pause, it returns at once.
  monitor.reset();
  EXPECT_EQ(sim.clock->holding(), 0);
}

// Processes are read, twice a sample, only while some view watches them; the
// simulated laptop's busiest process then comes first.
TEST(LiveMonitor, ProcessesAreReadOnlyWhileWatched) {
  SimulatedRig sim(LiveMonitor::kPause);
  auto monitor = sim.makeMonitor();
  QSignalSpy published(monitor.get(), &LiveMonitor::published);
  const fake::FakeProcesses& processes = *sim.machine.fakes().processes;
  ASSERT_TRUE(waitUntil([&] { return published.count() == 1 && sim.clock->holding() == 1; }));
  EXPECT_EQ(processes.tablesRead(), 0);
  EXPECT_FALSE(monitor->latest().processes);

  monitor->watchProcesses(true);
  monitor->watchProcesses(true);
  monitor->watchProcesses(false);  // one of two views closed: still watched
  EXPECT_TRUE(monitor->processesWatched());
  sim.clock->release();
  ASSERT_TRUE(waitUntil([&] { return published.count() == 2 && sim.clock->holding() == 1; }));
  EXPECT_EQ(processes.tablesRead(), 2);
  const PowerSample& s = monitor->latest();
  ASSERT_TRUE(s.processes);
  EXPECT_EQ(s.processes->method, AttributionMethod::cpuTimeShare);
  EXPECT_DOUBLE_EQ(s.processes->seconds, LiveMonitor::kSampleInterval);
  EXPECT_DOUBLE_EQ(s.processes->cpuPowerW, s.cpu);
  ASSERT_EQ(s.processes->processes.size(), PowerSample::kProcessesKept);
  EXPECT_EQ(s.processes->processes.front().name, "Xcode");
  double sum = s.processes->otherPowerW;
  for (const ProcessPower& p : s.processes->processes) sum += p.powerW;
  EXPECT_NEAR(sum, s.cpu, 1e-9);

  monitor->watchProcesses(false);
  EXPECT_FALSE(monitor->processesWatched());
  sim.clock->release();
  ASSERT_TRUE(waitUntil([&] { return published.count() == 3 && sim.clock->holding() == 1; }));
  EXPECT_EQ(processes.tablesRead(), 2);
  EXPECT_FALSE(monitor->latest().processes);
}

TEST(LiveMonitor, FailingFacadeSetsTheErrorWritesOneLineRetriesAndStillChecksForUpdates) {
  fake::FakeMachine machine;  // no counter group at all: not even a facade without energy starts
  testing::CannedHttpServer server;
  server.answer(200, R"({"version":"99.0","url":"https://example.com/download"})");
  LiveMonitorOptions options;
  options.updateUrl = server.url();
  auto clock = std::make_shared<SteppingClock>(*machine.clock, LiveMonitor::kPause);
  options.clock = clock;

  ::testing::internal::CaptureStdout();
  auto monitor = std::make_unique<LiveMonitor>(machine.platform, options);
  QSignalSpy published(monitor.get(), &LiveMonitor::published);
  ASSERT_TRUE(waitUntil([&] { return monitor->error().has_value() && clock->holding() == 1; }));
  clock->release(3);  // three more tries, each after a pause
  ASSERT_TRUE(waitUntil([&] { return clock->waits().size() == 5 && clock->holding() == 1; }));
  const std::string out = ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(out, "PowerMetrics init failed: IOReport channel group 'Energy Model' not found\n");
  EXPECT_EQ(*monitor->error(), localized("error.initFailed"));
  // The fake cannot tell why: no energy, as far as anyone can show.
  EXPECT_EQ(monitor->energyAccess(), (EnergyAccess{EnergyAccess::State::absent, ""}));
  EXPECT_FALSE(monitor->latest().hasPower);

  ASSERT_TRUE(waitUntil([&] { return monitor->updateAvailable().has_value(); }));
  EXPECT_EQ(monitor->updateAvailable()->version, QStringLiteral("99.0"));
  EXPECT_EQ(server.requests(), 1);
  monitor.reset();  // the worker has ended
  EXPECT_EQ(published.count(), 0);
}

}  // namespace
}  // namespace calorim::app
