#include "core/all_power.h"

#include <gtest/gtest.h>

#include "core/json.h"
#include "tests/support/golden.h"

namespace calorim {
namespace {

// A channel of `watts` over one second.
Channel mw(std::string name, double watts) {
  return Channel{"Energy Model", "", std::move(name), "mJ", static_cast<std::int64_t>(watts * 1000), {}};
}

TEST(ChannelClassification, RulesInOrderWithCaseKept) {
  const EnergyBreakdown e = parseAllPower(
      {
          mw("CPU Energy", 5),     mw("GPU Energy", 2),   mw("GPU", 1.5),        mw("PACC0_CPU", 3),
          mw("PACC0_CPU2", 1),     mw("EACC_CPU", 0.5),   mw("EACC_CPU3", 0.25), mw("PACC1_CPU_", 0.4),
          mw("pacc_cpu", 0.1),     mw("ECPU0", 0.125),    mw("ANE0", 0.75),      mw("ANE1", 0.25),
          mw("ANE_DTL", 9),        mw("PACC_DTL0", 8),    mw("DRAM", 1),         mw("DRAM", 0.5),
          mw("AMCC", 0.3),         mw("DCS", 0.2),        mw("DISP", 0.6),       mw("DISPEXT", 0.7),
          mw("AFR", 0.05),         mw("ISP", 0.15),       mw("ProRes", 0.1),     mw("PRORES", 0.2),
          mw("AVE", 0.3),          mw("MSR", 0.4),        mw("AVD", 0.5),        mw("GPU SRAM", 0.35),
          Channel{"CPU Stats", "", "ECPU1", "", 5000, {}},
      },
      1.0);

  // Clusters and cores keep their order and case; the dtl channels are listed
  // apart; a later DRAM channel replaces the earlier; the media blocks add up.
  testing::expectGolden(GOLDEN_DIR "/core_breakdown.json", Json(e).dump(2) + "\n");
  // Cores, clusters, dtl channels and "gpu energy" stay out of the chip total.
  EXPECT_NEAR(e.socTotal(), 5 + 1.5 + 1.0 + 0.5 + 0.3 + 0.2 + 0.6 + 0.7 + 0.05 + 0.15 + 1.5 + 0.125 + 0.35, 1e-12);
}

TEST(ChannelClassification, EmptyDeltaAndZeroDuration) {
  const EnergyBreakdown empty = parseAllPower({}, 1.0);
  EXPECT_EQ(empty, EnergyBreakdown::empty());
  EXPECT_EQ(empty.socTotal(), 0.0);

  // Over no time every channel is still sorted, at 0 W.
  const EnergyBreakdown instant = parseAllPower({mw("PACC0_CPU", 3), mw("Mystery", 1)}, 0.0);
  ASSERT_EQ(instant.cpuClusters().size(), 1u);
  EXPECT_EQ(instant.cpuClusters()[0].watts(), 0.0);
  ASSERT_EQ(instant.other().size(), 1u);
  EXPECT_EQ(instant.socTotal(), 0.0);
}

}  // namespace
}  // namespace calorim
