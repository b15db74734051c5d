#include "core/process_power.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "core/platform/fake/fake_platform.h"

namespace calorim {
namespace {

constexpr CpuTimeUnit kTicks100{1'000'000'000, 100};

ProcessTimes process(std::int64_t pid, std::string name, std::uint64_t cpu, std::uint64_t start = 1) {
  return {pid, std::move(name), 1000, start, cpu, std::nullopt};
}

ProcessTable table(std::vector<ProcessTimes> processes, std::optional<std::uint64_t> busy,
                   CpuTimeUnit unit = kTicks100) {
  return {unit, std::move(processes), busy, 0};
}

struct Expected {
  std::int64_t pid;
  const char* name;
  double powerW;
  double cpuPercent;
};

TEST(ProcessPowerTest, SharesTheCpuPowerOutAndAddsUp) {
  const struct {
    const char* what;
    ProcessTable before;
    ProcessTable after;
    double seconds;
    double cpuPowerW;
    AttributionMethod method;
    std::vector<Expected> expected;
    double otherPowerW;
  } cases[] = {
      {"shares of the machine's busy time; the rest is other",
       table({process(10, "a", 100), process(20, "b", 50)}, 1000),
       table({process(10, "a", 160), process(20, "b", 70)}, 1100), 1.0, 10.0, AttributionMethod::cpuTimeShare,
       {{10, "a", 6.0, 60.0}, {20, "b", 2.0, 20.0}}, 2.0},
      {"a process that exits mid-interval is part of other",
       table({process(10, "a", 100), process(30, "gone", 500)}, 1000),
       table({process(10, "a", 150)}, 1100), 1.0, 8.0, AttributionMethod::cpuTimeShare,
       {{10, "a", 4.0, 50.0}}, 4.0},
      {"a reused pid whose counter went backwards is a new process charged from its start",
       table({process(10, "old", 900)}, 1000),
       table({process(10, "new", 30)}, 1100), 1.0, 10.0, AttributionMethod::cpuTimeShare,
       {{10, "new", 3.0, 30.0}}, 7.0},
      {"a reused pid with another start time is a new process, also when its counter is larger",
       table({process(10, "old", 20, 5)}, 1000),
       table({process(10, "new", 40, 900)}, 1100), 1.0, 10.0, AttributionMethod::cpuTimeShare,
       {{10, "new", 4.0, 40.0}}, 6.0},
      {"a name with spaces and parentheses passes unchanged",
       table({process(7, "a) b (c", 0)}, 0), table({process(7, "a) b (c", 25)}, 50), 0.5, 4.0,
       AttributionMethod::cpuTimeShare, {{7, "a) b (c", 2.0, 50.0}}, 2.0},
      {"clock ticks at 250 per second",
       table({process(1, "x", 0)}, 0, {1'000'000'000, 250}), table({process(1, "x", 500)}, 1000, {1'000'000'000, 250}),
       2.0, 5.0, AttributionMethod::cpuTimeShare, {{1, "x", 2.5, 100.0}}, 2.5},
      {"Mach time base 125/3: 24,000,000 units are one second",
       table({process(1, "x", 0)}, 0, {125, 3}), table({process(1, "x", 24'000'000)}, 96'000'000, {125, 3}), 1.0,
       8.0, AttributionMethod::cpuTimeShare, {{1, "x", 2.0, 100.0}}, 6.0},
      {"without the machine's busy time the processes' own sum is the whole",
       table({process(1, "a", 0), process(2, "b", 0)}, std::nullopt),
       table({process(1, "a", 30), process(2, "b", 10)}, std::nullopt), 1.0, 4.0, AttributionMethod::cpuTimeShare,
       {{1, "a", 3.0, 30.0}, {2, "b", 1.0, 10.0}}, 0.0},
      {"busy time that rounding left below the processes' sum never gives more than the CPU power",
       table({process(1, "a", 0), process(2, "b", 0)}, 0),
       table({process(1, "a", 60), process(2, "b", 60)}, 100), 1.0, 6.0, AttributionMethod::cpuTimeShare,
       {{1, "a", 3.0, 60.0}, {2, "b", 3.0, 60.0}}, 0.0},
      {"a process first seen now is charged at most the machine's busy time",
       table({}, 1000), table({process(5, "late", 90'000)}, 1100), 1.0, 10.0, AttributionMethod::cpuTimeShare,
       {{5, "late", 10.0, 100.0}}, 0.0},
      {"idle processes are left out; no CPU time at all leaves everything to other",
       table({process(1, "a", 5)}, 100), table({process(1, "a", 5)}, 100), 1.0, 3.0, AttributionMethod::cpuTimeShare,
       {}, 3.0},
      {"a broken interval or power counts as 0", table({process(1, "a", 0)}, 0), table({process(1, "a", 10)}, 10),
       -1.0, std::numeric_limits<double>::quiet_NaN(), AttributionMethod::cpuTimeShare, {{1, "a", 0.0, 0.0}}, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ProcessAttribution result = attributeProcesses(c.before, c.after, c.seconds, c.cpuPowerW);
    EXPECT_EQ(result.method, c.method);
    ASSERT_EQ(result.processes.size(), c.expected.size());
    double sum = result.otherPowerW;
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(result.processes[i].pid, c.expected[i].pid);
      EXPECT_EQ(result.processes[i].name, c.expected[i].name);
      EXPECT_NEAR(result.processes[i].powerW, c.expected[i].powerW, 1e-9);
      EXPECT_NEAR(result.processes[i].cpuPercent, c.expected[i].cpuPercent, 1e-9);
      EXPECT_NEAR(result.processes[i].energyJ, result.processes[i].powerW * result.seconds, 1e-9);
      sum += result.processes[i].powerW;
    }
    EXPECT_NEAR(result.otherPowerW, c.otherPowerW, 1e-9);
    EXPECT_NEAR(sum, result.cpuPowerW, 1e-9);
  }
}

TEST(ProcessPowerTest, UsesTheEnergyTheSystemKeepsPerProcess) {
  ProcessTable before = table({process(1, "a", 0), process(2, "b", 0)}, 0, {125, 3});
  ProcessTable after = table({process(1, "a", 12'000'000), process(2, "b", 0), process(3, "new", 0)}, 0, {125, 3});
  before.processes[0].energyNanojoules = 1'000'000'000;
  before.processes[1].energyNanojoules = 0;
  after.processes[0].energyNanojoules = 4'000'000'000;  // 3 J over 2 s
  after.processes[1].energyNanojoules = 1'000'000'000;  // 1 J, with no CPU time the counter saw
  after.processes[2].energyNanojoules = 500'000'000;    // new: all of its 0.5 J

  ProcessAttribution result = attributeProcesses(before, after, 2.0, 5.0);
  EXPECT_EQ(result.method, AttributionMethod::osEnergy);
  EXPECT_EQ(methodName(result.method), "osEnergy");
  ASSERT_EQ(result.processes.size(), 3U);
  EXPECT_EQ(result.processes[0].pid, 1);
  EXPECT_DOUBLE_EQ(result.processes[0].energyJ, 3.0);
  EXPECT_DOUBLE_EQ(result.processes[0].powerW, 1.5);
  EXPECT_DOUBLE_EQ(result.processes[0].cpuPercent, 25.0);
  EXPECT_DOUBLE_EQ(result.processes[1].powerW, 0.5);
  EXPECT_DOUBLE_EQ(result.processes[2].powerW, 0.25);
  EXPECT_DOUBLE_EQ(result.otherPowerW, 5.0 - 2.25);

  // Measured energies are never scaled down to fit: what is left is then 0.
  result = attributeProcesses(before, after, 2.0, 1.0);
  EXPECT_DOUBLE_EQ(result.processes[0].powerW, 1.5);
  EXPECT_DOUBLE_EQ(result.otherPowerW, 0.0);

  // One process without energy makes the whole table an estimate.
  after.processes[2].energyNanojoules.reset();
  EXPECT_EQ(attributeProcesses(before, after, 2.0, 5.0).method, AttributionMethod::cpuTimeShare);
}

TEST(ProcessPowerTest, KeepsTheLargestAndAddsTheRestToOther) {
  std::vector<ProcessTimes> before;
  std::vector<ProcessTimes> after;
  for (int pid = 1; pid <= 20; ++pid) {
    before.push_back(process(pid, "p" + std::to_string(pid), 0));
    after.push_back(process(pid, "p" + std::to_string(pid), static_cast<std::uint64_t>(pid)));
  }
  after.push_back(process(99, std::string("bad\xff\xfe name", 10), 1));
  ProcessAttribution result = attributeProcesses(table(before, 0), table(after, 400), 1.0, 40.0);
  const std::string repaired = result.processes.back().name;
  EXPECT_EQ(repaired, "bad\xEF\xBF\xBD\xEF\xBF\xBD name");
  result.keepFirst(3);
  ASSERT_EQ(result.processes.size(), 3U);
  EXPECT_EQ(result.processes[0].pid, 20);
  EXPECT_EQ(result.processes[2].pid, 18);
  const double listed = std::accumulate(result.processes.begin(), result.processes.end(), 0.0,
                                        [](double s, const ProcessPower& p) { return s + p.powerW; });
  EXPECT_NEAR(listed + result.otherPowerW, 40.0, 1e-9);
  EXPECT_NEAR(listed, 40.0 * (20 + 19 + 18) / 400, 1e-9);
}

TEST(ProcessPowerTest, SharesOutControlGroupsByTheirTime) {
  const CgroupTable before{{{"system.slice", 1'000'000},
                            {"system.slice/nginx.service", 400'000},
                            {"user.slice", 5'000'000},
                            {"gone.slice", 7}},
                           10'000'000};
  const CgroupTable after{{{"system.slice", 1'500'000},
                           {"system.slice/nginx.service", 800'000},
                           {"user.slice", 5'250'000},
                           {"new.scope", 250'000}},
                          11'000'000};
  const CgroupAttribution result = attributeCgroups(before, after, 1.0, 20.0);
  EXPECT_EQ(result.method, AttributionMethod::cpuTimeShare);
  ASSERT_EQ(result.groups.size(), 4U);
  EXPECT_EQ(result.groups[1].path, "system.slice/nginx.service");
  EXPECT_DOUBLE_EQ(result.groups[0].powerW, 10.0);
  EXPECT_DOUBLE_EQ(result.groups[0].cpuPercent, 50.0);
  EXPECT_DOUBLE_EQ(result.groups[1].powerW, 8.0);
  EXPECT_DOUBLE_EQ(result.groups[2].powerW, 5.0);
  EXPECT_DOUBLE_EQ(result.groups[3].powerW, 5.0);
  EXPECT_DOUBLE_EQ(result.groups[3].energyJ, 5.0);
  EXPECT_DOUBLE_EQ(result.otherPowerW, 0.0);

  // Without the root's total the top-level groups are the whole.
  const CgroupAttribution noTotal = attributeCgroups({before.groups, std::nullopt}, {after.groups, std::nullopt}, 1.0, 20.0);
  EXPECT_DOUBLE_EQ(noTotal.groups[0].powerW, 10.0);
  EXPECT_DOUBLE_EQ(noTotal.otherPowerW, 0.0);
}

TEST(ProcessPowerTest, MeterMeasuresFromOneReadingToTheNext) {
  fake::FakeMachine machine;
  ProcessMeter meter(machine.platform->processes.get(), *machine.clock, 2);
  machine.processes->pushTable(table({process(1, "a", 0)}, 0));
  machine.processes->pushTable(table({process(1, "a", 100)}, 200));
  machine.processes->pushTable(std::nullopt);
  machine.processes->pushCgroups(CgroupTable{{{"a.slice", 0}}, 0});
  machine.processes->pushCgroups(CgroupTable{{{"a.slice", 1'000'000}}, 2'000'000});

  EXPECT_FALSE(meter.next(1.0).processes);  // the first reading only starts an interval
  machine.clock->sleep(2.0);
  const ProcessMeter::Result result = meter.next(4.0);
  ASSERT_TRUE(result.processes);
  EXPECT_DOUBLE_EQ(result.processes->seconds, 2.0);
  EXPECT_DOUBLE_EQ(result.processes->processes.at(0).powerW, 2.0);
  EXPECT_DOUBLE_EQ(result.processes->processes.at(0).cpuPercent, 50.0);
  ASSERT_TRUE(result.cgroups);
  EXPECT_DOUBLE_EQ(result.cgroups->groups.at(0).powerW, 2.0);
  EXPECT_FALSE(meter.next(4.0).processes);  // a failed reading gives nothing

  ProcessMeter none(nullptr, *machine.clock);
  none.restart();
  EXPECT_FALSE(none.next(1.0).processes);
}

}  // namespace
}  // namespace calorim
