#include "core/cpu_usage_sampler.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/platform/fake/fake_platform.h"

namespace calorim {
namespace {

CpuTicks ticks(std::uint64_t user, std::uint64_t system, std::uint64_t idle, std::uint64_t nice) {
  return {user, system, idle, nice};
}

TEST(CPUUsageSampler, BusyShareSinceThePreviousReading) {
  fake::FakeHost host;
  host.pushTicks(std::vector{ticks(100, 100, 100, 100), ticks(0, 0, 0, 0), ticks(5, 5, 5, 5)});
  host.pushTicks(std::vector{ticks(100, 100, 100, 100), ticks(0, 0, 0, 0), ticks(5, 5, 5, 5)});
  host.pushTicks(std::vector{ticks(105, 103, 190, 102), ticks(0, 0, 100, 0), ticks(55, 5, 5, 5)});
  CPUUsageSampler sampler(host);

  const auto still = sampler.sample();  // no tick passed since creation
  EXPECT_EQ(still.total, 0.0);
  EXPECT_EQ(still.perCore, (std::vector<double>{0.0, 0.0, 0.0}));

  const auto busy = sampler.sample();
  ASSERT_EQ(busy.perCore.size(), 3u);
  EXPECT_DOUBLE_EQ(busy.perCore[0], 0.1);  // nice counts as busy
  EXPECT_DOUBLE_EQ(busy.perCore[1], 0.0);
  EXPECT_DOUBLE_EQ(busy.perCore[2], 1.0);
  EXPECT_DOUBLE_EQ(busy.total, 60.0 / 250.0);
}

TEST(CPUUsageSampler, CountChangesAndFailedReadingsGiveNothingOnce) {
  fake::FakeHost host;
  host.pushTicks(std::vector{ticks(0, 0, 0, 0), ticks(0, 0, 0, 0)});
  host.pushTicks(std::vector{ticks(10, 0, 90, 0)});                       // a CPU went offline
  host.pushTicks(std::vector{ticks(20, 0, 180, 0)});                      // normal again
  host.pushTicks(std::nullopt);                                           // the kernel could not be asked
  host.pushTicks(std::vector{ticks(30, 0, 270, 0)});                      // differs from the empty baseline
  host.pushTicks(std::vector{ticks(40, 0, 360, 0)});
  CPUUsageSampler sampler(host);

  auto u = sampler.sample();
  EXPECT_EQ(u.total, 0.0);
  EXPECT_TRUE(u.perCore.empty());
  u = sampler.sample();
  EXPECT_DOUBLE_EQ(u.total, 0.1);
  u = sampler.sample();
  EXPECT_TRUE(u.perCore.empty());
  u = sampler.sample();
  EXPECT_TRUE(u.perCore.empty());
  u = sampler.sample();
  EXPECT_DOUBLE_EQ(u.total, 0.1);
}

TEST(CPUUsageSampler, CounterGoingBackwardsCountsAsIdle) {
  fake::FakeHost host;
  host.pushTicks(std::vector{ticks(4'000'000'000, 10, 10, 0), ticks(50, 50, 50, 50), ticks(10, 10, 1000, 0)});
  // CPU 0's user counter wrapped; CPU 2's idle counter alone went back.
  host.pushTicks(std::vector{ticks(5, 20, 20, 0), ticks(60, 60, 60, 60), ticks(20, 20, 5, 0)});
  CPUUsageSampler sampler(host);
  const auto u = sampler.sample();
  ASSERT_EQ(u.perCore.size(), 3u);
  EXPECT_EQ(u.perCore[0], 0.0);
  EXPECT_EQ(u.perCore[2], 0.0);
  EXPECT_DOUBLE_EQ(u.perCore[1], 0.75);
  EXPECT_DOUBLE_EQ(u.total, 0.75);
  EXPECT_TRUE(std::isfinite(u.total));
}

}  // namespace
}  // namespace calorim
