// The power service on the Linux backend over a copy of the laptop fixture,
// with a clock whose sleeps make the machine's energy and tick counters run on
// at known rates: every figure of a snapshot and of an energy window follows
// from those rates.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/platform/linux/linux_platform.h"
#include "core/power_service.h"
#include "tests/core/platform/linux_machine_clock.h"
#include "tests/core/platform/linux_machine_tree.h"

namespace calorim::sysfs {
namespace {

constexpr std::uint64_t kRangeUj = 262143328850;

TEST(LinuxService, SnapshotAndWindowFollowTheCounterRates) {
  testing::MachineTree tree("laptop");
  tree.copyProc("laptop");
  // The package counter wraps within the first second.
  tree.write("sys/class/powercap/intel-rapl:0/energy_uj", std::to_string(kRangeUj - 3'000'000));
  auto clock = std::make_shared<testing::MachineClock>(tree.root());
  testing::setSteadyLaptopLoad(*clock);
  std::shared_ptr<Platform> platform = makeLinuxPlatform(tree.root(), clock, "");

  PowerService service(platform);
  EXPECT_EQ(service.info().chipName(), "12th Gen Intel(R) Core(TM) i7-1260P");
  EXPECT_EQ(service.info().eCores(), 8);
  EXPECT_EQ(service.info().pCores(), 8);
  EXPECT_EQ(service.info().osVersion(), "Linux 6.1.0");

  const PowerSnapshot first = service.snapshot(1.0);
  EXPECT_DOUBLE_EQ(clock->slept(), 1.0);
  EXPECT_DOUBLE_EQ(first.duration(), 1.0);
  EXPECT_DOUBLE_EQ(first.cpuPower(), 5.0);
  EXPECT_DOUBLE_EQ(first.gpuPower(), 2.0);
  EXPECT_DOUBLE_EQ(first.dramPower(), 1.5);
  // Core, graphics, memory and the 5 W rest of the package; the platform zone
  // already holds all of these and is not added.
  EXPECT_DOUBLE_EQ(first.totalPower(), 13.5);
  EXPECT_DOUBLE_EQ(first.energyBreakdown().cpuTotal(), 5.0);
  ASSERT_EQ(first.energyBreakdown().other().size(), 1u);
  EXPECT_EQ(first.energyBreakdown().other()[0].name(), "Package rest");
  EXPECT_DOUBLE_EQ(first.energyBreakdown().other()[0].watts(), 5.0);
  EXPECT_DOUBLE_EQ(first.anePower(), 0.0);

  // Busy ticks are user, nice, system, irq and softirq; iowait is idle and steal
  // is not this machine's time.
  EXPECT_DOUBLE_EQ(first.pCpuUsage(), 0.6);
  EXPECT_DOUBLE_EQ(first.eCpuUsage(), 0.25);
  EXPECT_DOUBLE_EQ(first.cpuUsage(), (8 * 60 + 8 * 25) / 1600.0);
  ASSERT_EQ(first.cpuUsagePerCore().size(), 16u);
  EXPECT_DOUBLE_EQ(first.cpuUsagePerCore()[0], 0.6);
  EXPECT_DOUBLE_EQ(first.cpuUsagePerCore()[15], 0.25);
  // The integrated graphics: busy when not in RC6, at their actual clock.
  EXPECT_DOUBLE_EQ(first.gpuUsage(), 0.1);
  EXPECT_DOUBLE_EQ(first.gpuFreqMHz(), 700.0);

  // A window spanning a snapshot and a further second and a half.
  EXPECT_FALSE(service.beginWindow("build"));
  const PowerSnapshot second = service.snapshot(1.0);
  EXPECT_DOUBLE_EQ(second.totalPower(), 13.5);
  EXPECT_DOUBLE_EQ(second.cpuUsage(), first.cpuUsage());
  clock->sleep(1.5);
  const std::optional<EnergyMetrics> energy = service.endWindow("build");
  ASSERT_TRUE(energy.has_value());
  EXPECT_DOUBLE_EQ(energy->duration(), 2.5);
  EXPECT_DOUBLE_EQ(energy->cpuEnergy(), 12.5);
  EXPECT_DOUBLE_EQ(energy->gpuEnergy(), 5.0);
  EXPECT_DOUBLE_EQ(energy->dramEnergy(), 3.75);
  EXPECT_DOUBLE_EQ(energy->totalEnergy(), 33.75);
  EXPECT_FALSE(service.endWindow("build").has_value());
}

}  // namespace
}  // namespace calorim::sysfs
