#include "core/ioreport_sampler.h"

#include <gtest/gtest.h>

#include "core/all_power.h"
#include "core/json.h"
#include "core/platform/fake/fake_platform.h"
#include "tests/support/golden.h"

namespace calorim {
namespace {

Channel energy(std::string name, std::int64_t value, std::string unit = "mJ") {
  return Channel{"Energy Model", "", std::move(name), std::move(unit), value, {}};
}

// A channel of `watts` over one second.
Channel mw(std::string name, double watts) { return energy(std::move(name), std::llround(watts * 1000)); }

Channel states(std::string group, std::string name, std::vector<ChannelState> s) {
  return Channel{std::move(group), "", std::move(name), "", 0, std::move(s)};
}

Channel amc(std::string name, std::int64_t bytes) { return Channel{"AMC Stats", "", std::move(name), "", bytes, {}}; }

RegistryBytes table(std::initializer_list<std::uint32_t> hertz) {
  RegistryBytes bytes;
  for (std::uint32_t hz : hertz) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(hz >> (8 * i)));
    for (int i = 0; i < 4; ++i) bytes.push_back(0x11);  // voltage, unused
  }
  return bytes;
}

TEST(IOReportSamplerEnergy, UnitDivisorsAndDuration) {
  EXPECT_DOUBLE_EQ(*detail::energyWatts(energy("X", 5'000'000, "uJ"), 2.0), 2.5);
  EXPECT_DOUBLE_EQ(*detail::energyWatts(energy("X", 5'000'000, "\u00B5J"), 2.0), 2.5);
  EXPECT_DOUBLE_EQ(*detail::energyWatts(energy("X", 5'000'000, "nJ"), 2.0), 0.0025);
  EXPECT_DOUBLE_EQ(*detail::energyWatts(energy("X", 5'000'000, ""), 2.0), 2500.0);
  EXPECT_DOUBLE_EQ(*detail::energyWatts(energy("X", 5'000'000, "kJ"), 2.0), 2500.0);
  EXPECT_DOUBLE_EQ(*detail::energyWatts(energy("X", 5'000'000, "uJ"), 0.0), 0.0);
  EXPECT_DOUBLE_EQ(*detail::energyWatts(energy("X", 5'000'000, "uJ"), -1.0), 0.0);
  EXPECT_FALSE(detail::energyWatts(energy("X", 0), 1.0));
  EXPECT_FALSE(detail::energyWatts(energy("X", -5), 1.0));
  Channel wrongGroup = energy("X", 5);
  wrongGroup.group = "energy model";
  EXPECT_FALSE(detail::energyWatts(wrongGroup, 1.0));
}

TEST(IOReportSamplerPower, NamedChannelsAndClusterRules) {
  const CounterDelta delta = {
      energy("CPU Energy", 4000), energy("GPU Energy", 1500), energy("ANE0", 200), energy("ANE_DTL", 999),
      energy("DRAM", 300),        energy("DRAM", 350),        energy("EACC_CPU", 700), energy("PACC0_CPU", 2000),
      energy("ECPU1", 50),        energy("PCPU0", 60),        energy("ecpu_dtl_x", 77), energy("ECPU_SRAM_BIG", 88),
  };
  const PowerReading p = IOReportSampler::parsePower(delta, 1.0);
  EXPECT_DOUBLE_EQ(p.cpu, 4.0);
  EXPECT_DOUBLE_EQ(p.gpu, 1.5);
  EXPECT_DOUBLE_EQ(p.ane, 0.2);    // the dtl channel is not the neural engine
  EXPECT_DOUBLE_EQ(p.dram, 0.35);  // a later channel of the same name wins
  // The cluster channels stand for their cores; a 12-character ecpu name is no E channel.
  EXPECT_DOUBLE_EQ(p.eCpu, 0.7);
  EXPECT_DOUBLE_EQ(p.pCpu, 2.0);

  const PowerReading zero = IOReportSampler::parsePower(delta, 0.0);
  EXPECT_EQ(zero.cpu, 0.0);
  EXPECT_EQ(zero.eCpu, 0.0);
}

TEST(IOReportSamplerPower, ClusterCountedOnceForEachKind) {
  struct Case {
    const char* what;
    CounterDelta delta;
    double eCpu, pCpu;
  };
  const std::vector<Case> cases = {
      {"clusters and their cores",
       {energy("EACC_CPU", 700), energy("EACC_CPU0", 300), energy("EACC_CPU1", 350), energy("PACC0_CPU", 2000),
        energy("PACC1_CPU", 1000), energy("PACC0_CPU2", 900), energy("PCPU3", 400)},
       0.7, 3.0},
      {"cores only", {energy("ECPU0", 100), energy("ECPU1", 200), energy("PCPU0", 500), energy("pacc0_cpu1", 600)},
       0.3, 1.1},
      {"E clusters, P cores", {energy("ECPU", 800), energy("ECPU2", 100), energy("PCPU0", 500)}, 0.8, 0.5},
      {"dtl channels never count",
       {energy("EACC_CPU_DTL", 900), energy("eacc_dtl0", 50), energy("ECPU0", 100), energy("PACC0_CPU", 2000),
        energy("PACC_DTL", 700), energy("pcpu_Dtl1", 60)},
       0.1, 2.0},
      {"only dtl channels", {energy("EACC_DTL", 900), energy("PACC0_DTL3", 70)}, 0.0, 0.0},
  };
  for (const Case& c : cases) {
    const PowerReading p = IOReportSampler::parsePower(c.delta, 1.0);
    EXPECT_DOUBLE_EQ(p.eCpu, c.eCpu) << c.what;
    EXPECT_DOUBLE_EQ(p.pCpu, c.pCpu) << c.what;
  }
}

TEST(IOReportSamplerUsage, ClusterAndGpuResidencies) {
  const CounterDelta delta = {
      states("CPU Stats", "ECPU000", {{"IDLE", 30}, {"V0P1", 10}}),
      states("CPU Stats", "PCPU100", {{"OFF", 10}, {"V1P3", 90}}),
      states("CPU Stats", "PACC0", {{"IDLE", 100}}),
      states("CPU Stats", "MYSTERY", {{"ACTIVE", 60}}),  // neither marker: an E channel
      states("GPU Stats", "GPUPH", {{"OFF", 50}, {"IDLE", 10}, {"P1", 30}, {"P2", 10}}),
      states("Other", "ECPU9", {{"ACTIVE", 1000}}),
  };
  const UsageReading u = IOReportSampler::parseUsage(delta);
  EXPECT_DOUBLE_EQ(u.eCpu, 70.0 / 100.0);
  EXPECT_DOUBLE_EQ(u.pCpu, 90.0 / 200.0);
  EXPECT_DOUBLE_EQ(u.cpu, 160.0 / 300.0);
  EXPECT_DOUBLE_EQ(u.gpu, 0.4);

  const UsageReading none = IOReportSampler::parseUsage({energy("CPU Energy", 10)});
  EXPECT_EQ(none.cpu, 0.0);
  EXPECT_EQ(none.gpu, 0.0);
}

class IOReportSamplerCreation : public ::testing::Test {
 protected:
  fake::FakeMachine machine;

  void publish(CounterDelta channels) { machine.counters->pushReading(std::move(channels)); }
  IOReportSampler make() { return IOReportSampler(*machine.platform->counters, *machine.platform->registry); }
};

TEST_F(IOReportSamplerCreation, FailsWithoutEnergyGroupOrSubscription) {
  const auto failure = [&] {
    try {
      (void)make();
    } catch (const PMError& e) {
      return e.caseName() + ": " + e.description();
    }
    return std::string("made");
  };
  publish({states("CPU Stats", "ECPU0", {{"IDLE", 1}})});
  EXPECT_EQ(failure(), R"(channelNotFound("Energy Model"): IOReport channel group 'Energy Model' not found)");

  publish({energy("CPU Energy", 1)});
  machine.counters->setSubscriptionFails(true);
  EXPECT_EQ(failure(), "subscriptionFailed: Failed to create IOReport subscription");
  machine.counters->setSubscriptionFails(false);
  machine.counters->setSubscribedChannelsMissing(true);
  EXPECT_EQ(failure(), "subscriptionFailed: Failed to create IOReport subscription");
}

TEST_F(IOReportSamplerCreation, SubscribesOnlyEnergyAndStateGroups) {
  Channel cpu = states("CPU Stats", "PCPU0", {{"IDLE", 0}, {"ACTIVE", 0}});
  cpu.subgroup = "CPU Core Performance States";
  Channel otherCpu = states("CPU Stats", "PCPU0", {{"IDLE", 0}});
  otherCpu.subgroup = "CPU Complex Performance States";
  publish({energy("CPU Energy", 1000, "mJ"), cpu, otherCpu, amc("AFI DCS RD", 1 << 30)});
  Channel cpuLater = cpu;
  cpuLater.states = {{"IDLE", 25}, {"ACTIVE", 75}};
  publish({energy("CPU Energy", 3000, "mJ"), cpuLater, otherCpu, amc("AFI DCS RD", 3 << 30)});

  const IOReportSampler sampler = make();
  auto& counters = *machine.platform->counters;
  auto a = counters.createSamples(sampler.subscription(), sampler.channels());
  auto b = counters.createSamples(sampler.subscription(), sampler.channels());
  ASSERT_TRUE(a && b);
  const std::optional<CounterDelta> delta = counters.createSamplesDelta(*a, *b);
  ASSERT_TRUE(delta);
  ASSERT_EQ(delta->size(), 2u);  // no other subgroup, no memory-controller channels
  EXPECT_DOUBLE_EQ(IOReportSampler::parsePower(*delta, 1.0).cpu, 2.0);
  EXPECT_DOUBLE_EQ(IOReportSampler::parseUsage(*delta).pCpu, 0.75);
  EXPECT_EQ(IOReportSampler::parseBandwidth(*delta, 1.0).totalRead, 0.0);
}

TEST_F(IOReportSamplerCreation, GpuFrequencyTableFromFirstUsableDevice) {
  publish({energy("CPU Energy", 1)});
  auto& registry = *machine.registry;
  registry.addService("AppleARMIODevice", std::nullopt);  // unreadable
  registry.addService("AppleARMIODevice", RegistryDictionary{{"voltage-states9", "not bytes"},
                                                             {"voltage-states9-sram", table({0, 0})}});
  registry.addService("AppleARMIODevice",
                      RegistryDictionary{{"voltage-states11-sram", table({900'000'000})},
                                         {"voltage-states9-sram", table({0, 396'000'000, 720'000'000})}});
  registry.addService("AppleARMIODevice", RegistryDictionary{{"voltage-states9", table({1})}});
  EXPECT_EQ(make().gpuDVFS(), (std::vector<double>{396.0, 720.0}));

  // A record cut short after its frequency still counts; one cut inside it does not.
  RegistryBytes bytes = table({400'000'000, 800'000'000});
  bytes.resize(12);
  bytes.push_back(0x01);
  registry.clear();
  registry.addService("AppleARMIODevice", RegistryDictionary{{"voltage-states9", bytes}});
  EXPECT_EQ(make().gpuDVFS(), (std::vector<double>{400.0, 800.0}));

  registry.clear();
  EXPECT_TRUE(make().gpuDVFS().empty());
}

TEST_F(IOReportSamplerCreation, GpuFrequencyWeightsActiveStates) {
  publish({energy("CPU Energy", 1)});
  machine.registry->addService("AppleARMIODevice",
                               RegistryDictionary{{"voltage-states9", table({400'000'000, 800'000'000})}});
  const IOReportSampler sampler = make();

  const Channel gpu = states("GPU Stats", "GPUPH", {{"OFF", 50}, {"IDLE", 10}, {"P1", 30}, {"P2", 10}});
  EXPECT_DOUBLE_EQ(sampler.parseGPUFreq({gpu}), 500.0);

  // P5 has no table entry: ignored for the frequency, still active for the usage.
  const Channel beyond = states("GPU Stats", "GPUPH", {{"IDLE", 50}, {"P1", 25}, {"P5", 25}});
  EXPECT_DOUBLE_EQ(sampler.parseGPUFreq({beyond}), 400.0);
  EXPECT_DOUBLE_EQ(IOReportSampler::parseUsage({beyond}).gpu, 0.5);

  const Channel odd = states("GPU Stats", "GPUPH", {{"P0", 5}, {"Px", 5}, {"Q1", 5}, {"P-1", 5}, {"P2", 0}});
  EXPECT_EQ(sampler.parseGPUFreq({odd}), 0.0);
  EXPECT_EQ(sampler.parseGPUFreq({states("GPU Stats", "ONE", {{"P1", 10}})}), 0.0);  // needs two states
  EXPECT_EQ(sampler.parseGPUFreq({states("CPU Stats", "GPUPH", {{"P1", 10}, {"P2", 10}})}), 0.0);
}

TEST(IOReportSamplerBandwidth, AgentsTotalsAndDirections) {
  constexpr std::int64_t kGB = 1LL << 30;
  const BandwidthReading b = IOReportSampler::parseBandwidth(
      {amc("ECPU DCS RD", 2 * kGB), amc("PCPU DCS RD", 2 * kGB), amc("GFXC DCS WR", kGB), amc("ISP DCS RD", kGB),
       amc("PRORES DCS WR", kGB), amc("AVE DCS XX", kGB), amc("ANE DCS RD", kGB), amc("ECPU RD", kGB),
       amc("ecpu DCS RD", kGB), amc("PCPU DCS RD", -kGB), Channel{"Energy Model", "", "GFX DCS RD", "", kGB, {}}},
      2.0);
  EXPECT_DOUBLE_EQ(b.cpuRead, 2.0);
  EXPECT_DOUBLE_EQ(b.gpuWrite, 0.5);
  EXPECT_DOUBLE_EQ(b.mediaRead, 0.5);
  EXPECT_DOUBLE_EQ(b.mediaWrite, 0.5);
  EXPECT_DOUBLE_EQ(b.totalRead, 2.5);   // summed from the agents
  EXPECT_DOUBLE_EQ(b.totalWrite, 1.0);

  const BandwidthReading fabric =
      IOReportSampler::parseBandwidth({amc("AFI DCS RD", kGB), amc("ECPU DCS RD", 4 * kGB)}, 1.0);
  EXPECT_DOUBLE_EQ(fabric.totalRead, 1.0);  // the fabric's own figure replaces the sum

  const BandwidthReading none = IOReportSampler::parseBandwidth({energy("CPU Energy", 10)}, 1.0);
  EXPECT_EQ(none.toMemoryBandwidth(), MemoryBandwidth::zero());
  EXPECT_EQ(IOReportSampler::parseBandwidth({amc("ECPU DCS RD", kGB)}, 0.0).cpuRead, 0.0);
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
  EXPECT_GOLDEN(GOLDEN_DIR "/core_breakdown.json", Json(e).dump(2) + "\n");
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
