#include "core/platform/stop_signal.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>

namespace calorim {
namespace {

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
