#include "core/machine_description.h"

#include <gtest/gtest.h>

#include "core/platform/simulated/machine_profile.h"
#include "core/platform/simulated/simulated_machine.h"
#include "core/power_metrics.h"

namespace calorim {
namespace {

GpuDescription card(std::optional<double> cap) { return {"card", false, true, cap}; }

// The GPU budget by the machine's own limits: a card's cap, the package's
// long-term limit for integrated graphics, the Apple table only for Apple
// chips (by whole words), and 0 where nothing is known.
TEST(MachineDescription, GpuBudgetByTheMachinesOwnLimit) {
  struct Case {
    const char* what;
    std::vector<GpuDescription> gpus;
    std::optional<double> packageLimit;
    const char* chip;
    double budget;
  };
  const GpuDescription integrated{"Intel Iris Xe Graphics", true, true, std::nullopt};
  const GpuDescription unmeasured{"AMD GPU card1", false, false, 150.0};
  const Case cases[] = {
      {"a card's cap", {card(263)}, std::nullopt, "AMD Ryzen 7 5800X 8-Core Processor", 263},
      {"two cards' caps", {card(203), card(225)}, 65, "AMD Ryzen 7 5800X 8-Core Processor", 428},
      {"a card without a cap", {card(203), card(std::nullopt)}, 65, "AMD Ryzen 7 5800X", 0},
      {"a card beside integrated graphics", {integrated, card(120)}, 28, "Intel(R) Core(TM) i7-1260P", 120},
      {"integrated: the package's limit", {integrated}, 28, "12th Gen Intel(R) Core(TM) i7-1260P", 28},
      {"integrated without a limit", {integrated}, std::nullopt, "Intel(R) Core(TM) i7 Processor", 0},
      {"a card whose power is not measured", {unmeasured}, std::nullopt, "AMD Ryzen 5 5600G", 0},
      {"no Pro in Processor", {}, std::nullopt, "Intel(R) Core(TM) i7 Processor", 0},
      {"not an Apple chip", {}, std::nullopt, "Applesauce Max", 0},
      {"M2 Ultra", {}, std::nullopt, "Apple M2 ULTRA", 120},
      {"Max before Pro", {}, std::nullopt, "Apple M1 Max Pro", 60},
      {"Pro", {}, std::nullopt, "apple m4 pro", 35},
      {"Pro only as a word", {}, std::nullopt, "Apple M3 Prototype", 20},
      {"plain", {}, std::nullopt, "Apple M3", 20},
      {"no name", {}, std::nullopt, "", 0},
  };
  for (const Case& c : cases) {
    MachineDescription d;
    d.gpus = c.gpus;
    d.packagePowerLimitW = c.packageLimit;
    d.chipName = c.chip;
    EXPECT_EQ(d.gpuPowerBudgetW(), c.budget) << c.what;
  }
}

// The simulated Apple laptop measures every figure its records show but the
// memory traffic, which the sampler does not subscribe to; before a sample
// and after one the description agrees.
TEST(MachineDescription, SimulatedLaptopMeasuresWhatItShows) {
  fake::SimulatedMachine machine(fake::builtinProfile());
  PowerMetrics metrics(machine.platform());
  const MachineDescription before = metrics.description();
  EXPECT_EQ(before.measured.names(),
            (std::vector<std::string>{"cpuPower", "gpuPower", "anePower", "dramPower", "totalPower", "eCpuPower",
                                      "pCpuPower", "cpuTemp", "gpuTemp", "coreTemps", "cpuUsage", "gpuUsage",
                                      "eCpuUsage", "pCpuUsage", "gpuFreqMHz", "fans"}));
  EXPECT_EQ(before.cpu, (CpuTopology{6, 6, 12}));
  EXPECT_TRUE(before.cpu.hybrid());
  EXPECT_TRUE(before.battery);
  (void)metrics.sample(1.0);
  EXPECT_EQ(metrics.description(), before);
}

}  // namespace
}  // namespace calorim
