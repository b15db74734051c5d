#include "core/platform/linux/linux_counter_reports.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/ioreport_sampler.h"
#include "core/platform/fake/fake_platform.h"
#include "core/platform/linux/cpu_topology.h"
#include "core/platform/linux/powercap.h"
#include "core/platform/linux/proc_stat.h"
#include "tests/core/platform/linux_machine_tree.h"
#include "tests/core/platform/locked_counters.h"

namespace calorim::sysfs {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kIntelRange = 262143328850;
constexpr std::uint64_t kDramRange = 65712999613;

// A copy of a fixture machine whose counters a test rewrites between samples.
struct MachineCopy : testing::MachineTree {
  explicit MachineCopy(const std::string& machine) : MachineTree(machine) { copyProc(machine); }
  void setEnergy(const std::string& zone, std::uint64_t uj) const {
    write("sys/class/powercap/" + zone + "/energy_uj", std::to_string(uj));
  }
  // proc/stat with one line per CPU: user nice system idle iowait irq softirq.
  void setStat(const std::map<int, std::vector<std::uint64_t>>& cpus) const {
    std::string text = "cpu  0 0 0 0 0 0 0 0 0 0\n";
    for (const auto& [cpu, f] : cpus) {
      text += "cpu" + std::to_string(cpu);
      for (std::uint64_t v : f) text += " " + std::to_string(v);
      text += " 0 0 0\n";
    }
    write("proc/stat", text + "intr 0\nctxt 0\nbtime 1717398021");
  }
};

// Subscribes to every group the port offers and returns the delta of two
// samples, taken before and after `between` runs.
template <typename Between>
CounterDelta deltaAround(LinuxCounterReports& port, Between between) {
  std::unique_ptr<ChannelSet> all = port.copyChannelsInGroup("Energy Model", std::nullopt);
  std::unique_ptr<ChannelSet> cpu = port.copyChannelsInGroup("CPU Stats", "CPU Core Performance States");
  if (!all) all = std::move(cpu);
  else if (cpu) port.mergeChannels(*all, *cpu);
  std::unique_ptr<ChannelSet> subscribed;
  std::unique_ptr<CounterSubscription> subscription = port.createSubscription(*all, subscribed);
  std::unique_ptr<RawSample> a = port.createSamples(*subscription, *subscribed);
  between();
  std::unique_ptr<RawSample> b = port.createSamples(*subscription, *subscribed);
  EXPECT_TRUE(a && b);
  return port.createSamplesDelta(*a, *b).value_or(CounterDelta{});
}

std::map<std::string, std::int64_t> energyByName(const CounterDelta& delta, std::string_view group = "Energy Model") {
  std::map<std::string, std::int64_t> values;
  for (const Channel& c : delta) {
    if (c.group == group) values[c.name] = c.value;
  }
  return values;
}

TEST(SysfsPowercap, EnergyDeltaWrapsOnceAtTheZoneRange) {
  EXPECT_EQ(energyDelta(1000, 6000, kIntelRange), 5000u);
  EXPECT_EQ(energyDelta(6000, 6000, kIntelRange), 0u);
  // Just below the range, then just after the wrap.
  EXPECT_EQ(energyDelta(kIntelRange - 1000, 3000, kIntelRange), 4000u);
  EXPECT_EQ(energyDelta(kIntelRange - 1, 0, kIntelRange), 1u);
  EXPECT_EQ(energyDelta(kIntelRange, 250, kIntelRange), 250u);
  // A fall that no wrap explains is a reset.
  EXPECT_EQ(energyDelta(kDramRange + 10, 5, kDramRange), 0u);
  EXPECT_EQ(energyDelta(500, 100, 0), 0u);
}

TEST(SysfsPowercap, DomainsAndZoneDiscovery) {
  EXPECT_EQ(raplDomain("package-1-die-0"), RaplDomain::package);
  EXPECT_EQ(raplDomain("psys-1"), RaplDomain::platform);
  EXPECT_EQ(raplDomain("package-"), RaplDomain::other);
  EXPECT_EQ(raplDomain("package-0-die"), RaplDomain::other);

  // Ids are hex and order by value; the MMIO zones count when they are all there is.
  MachineCopy copy("laptop");
  const fs::path powercap = copy.root() / "sys/class/powercap";
  fs::rename(powercap / "intel-rapl:0", powercap / "intel-rapl:10");
  fs::rename(powercap / "intel-rapl:1", powercap / "intel-rapl:a");
  copy.write("sys/class/powercap/intel-rapl:a/name", "package-1");
  std::vector<std::string> ids;
  for (const RaplZone& zone : findRaplZones(copy.root())) ids.push_back(zone.id);
  EXPECT_EQ(ids, (std::vector<std::string>{"intel-rapl:0:0", "intel-rapl:0:1", "intel-rapl:0:2", "intel-rapl:a",
                                            "intel-rapl:10"}));
  for (const std::string& id : ids) copy.makeUnreadable("sys/class/powercap/" + id + "/energy_uj");
  const std::vector<RaplZone> zones = findRaplZones(copy.root());
  ASSERT_EQ(zones.size(), 1u);
  EXPECT_EQ(zones[0].id, "intel-rapl-mmio:0");
}

TEST(ProcStat, ParsesPerCpuLinesOnly) {
  const std::vector<ProcStatCpu> cpus = parseProcStat(
      "cpu  10 1 5 100 2 1 1 0 0 0\n"
      "cpu2 7 0 3 50 1 0 1 4 0 0\n"
      "cpu0 3 1 2 50 1 1 0\n"
      "cpu5 1 2 3\n"        // too short
      "cpu6 1 2 x 4\n"      // malformed
      "cpu7 9 9 9 9\n"      // an older kernel: four columns
      "cpufreq 1 2 3 4\n"
      "intr 1234 0 5\n"
      "ctxt 99\n");
  ASSERT_EQ(cpus.size(), 3u);
  EXPECT_EQ(cpus[0], (ProcStatCpu{0, 3, 1, 2, 50, 1, 1, 0, 0}));
  EXPECT_EQ(cpus[1], (ProcStatCpu{2, 7, 0, 3, 50, 1, 0, 1, 4}));
  EXPECT_EQ(cpus[2], (ProcStatCpu{7, 9, 9, 9, 9, 0, 0, 0, 0}));
  EXPECT_EQ(cpus[1].active(), 11u);  // steal is not time this CPU ran
  EXPECT_EQ(cpus[1].idleAll(), 51u);
  EXPECT_TRUE(parseProcStat("").empty());
}

TEST(SysfsCpuList, ParsesRangesAndRejectsMalformedLists) {
  EXPECT_EQ(parseCpuList("0-3,8,10-11\n"), (std::vector<int>{0, 1, 2, 3, 8, 10, 11}));
  EXPECT_EQ(parseCpuList("2-3,0-2"), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(parseCpuList("\n"), std::vector<int>{});
  for (const char* bad : {"3-1", "a", "0,,1", "1-", "-1", "0-99999999"}) {
    EXPECT_FALSE(parseCpuList(bad).has_value()) << bad;
  }
}

TEST(LinuxCounters, EnergyPerDomainWithWrapsAndUnreadableZones) {
  MachineCopy laptop("laptop");
  laptop.setEnergy("intel-rapl:0", kIntelRange - 1000);
  laptop.setEnergy("intel-rapl:0:0", 50'000'000);
  laptop.setEnergy("intel-rapl:0:1", 7'000'000);
  LinuxCounterReports port(laptop.root());
  CounterDelta delta = deltaAround(port, [&] {
    laptop.setEnergy("intel-rapl:0", 4'999'000);  // wrapped: 5,000,000 µJ in all
    laptop.setEnergy("intel-rapl:0:0", 52'000'000);
    laptop.setEnergy("intel-rapl:0:1", 7'500'000);
    laptop.setEnergy("intel-rapl:0:2", 16'433'718'237 + 700'000);  // memory: outside the package
    laptop.setEnergy("intel-rapl:1", 183'455'201'907 + 9'000'000);  // psys: only a domain
    laptop.setEnergy("intel-rapl-mmio:0", 999'999'999'999);  // mirror: not counted
  });
  EXPECT_EQ(energyByName(delta),
            (std::map<std::string, std::int64_t>{
                {"CPU Energy", 2'000'000}, {"GPU", 500'000}, {"DRAM", 700'000}, {"Package rest", 2'500'000}}));
  // The same zones as the machine names them, the platform (which holds the rest) among them.
  EXPECT_EQ(energyByName(delta, "Energy Domains"),
            (std::map<std::string, std::int64_t>{{"Package", 5'000'000},
                                                 {"Cores", 2'000'000},
                                                 {"Graphics", 500'000},
                                                 {"DRAM", 700'000},
                                                 {"Platform", 9'000'000}}));

  // Core and uncore may run ahead of the package within one interval: the rest stays at 0.
  delta = deltaAround(port, [&] {
    laptop.setEnergy("intel-rapl:0", 5'999'000);
    laptop.setEnergy("intel-rapl:0:0", 53'000'000);
    laptop.setEnergy("intel-rapl:0:1", 7'600'000);
  });
  EXPECT_EQ(energyByName(delta)["Package rest"], 0);
  EXPECT_EQ(energyByName(delta)["CPU Energy"], 1'000'000);

  // A zone that cannot be read contributes nothing.
  laptop.setEnergy("intel-rapl:0", 240'422'366'267);
  laptop.setEnergy("intel-rapl:0:0", 98'213'374'112);
  delta = deltaAround(port, [&] {
    laptop.setEnergy("intel-rapl:0", 240'422'366'267 + 900);
    laptop.setEnergy("intel-rapl:0:0", 98'213'374'112 + 300);
    laptop.makeUnreadable("sys/class/powercap/intel-rapl:0:1/energy_uj");
  });
  EXPECT_EQ(energyByName(delta),
            (std::map<std::string, std::int64_t>{
                {"CPU Energy", 300}, {"GPU", 0}, {"DRAM", 0}, {"Package rest", 600}}));

  // A zone gone for good (its directory removed) is skipped as well.
  fs::remove_all(laptop.root() / "sys/class/powercap/intel-rapl:0:0");
  EXPECT_EQ(energyByName(deltaAround(port, [] {}))["CPU Energy"], 0);

  // A core zone that cannot be read counts as missing: the package is the CPU.
  MachineCopy rootOnly("laptop");
  rootOnly.makeUnreadable("sys/class/powercap/intel-rapl:0:0/energy_uj");
  EXPECT_EQ(LinuxCounterReports(rootOnly.root()).energyChannelNames(),
            (std::vector<std::string>{"CPU Energy", "GPU", "DRAM"}));

  // Server: both packages make up the CPU, both DRAM zones wrap at their own range.
  MachineCopy server("server");
  server.setEnergy("intel-rapl:0:0", kDramRange - 100);
  LinuxCounterReports serverPort(server.root());
  delta = deltaAround(serverPort, [&] {
    server.setEnergy("intel-rapl:0", 126'710'457'281 + 3'000'000);
    server.setEnergy("intel-rapl:1", 119'004'738'526 + 2'000'000);
    server.setEnergy("intel-rapl:0:0", 400);
    server.setEnergy("intel-rapl:1:0", 21'977'102'418 + 1'000);
  });
  EXPECT_EQ(energyByName(delta),
            (std::map<std::string, std::int64_t>{{"CPU Energy", 5'000'000}, {"DRAM", 1'500}}));
  EXPECT_EQ(energyByName(delta, "Energy Domains"),
            (std::map<std::string, std::int64_t>{{"Package", 5'000'000}, {"DRAM", 1'500}}));
}

// The description of the error a sampler that needs energy fails with.
std::string energyFailure(CounterReportPort& port, RegistryPort& registry) {
  try {
    IOReportSampler sampler(port, registry);
  } catch (const PMError& e) {
    return e.kind() == PMError::Kind::channelNotFound ? e.description() : e.caseName();
  }
  return "no failure";
}

TEST(LinuxCounters, TellsCountersRefusedToThisUserFromNoCounters) {
  using State = EnergyAccess::State;
  MachineCopy laptop("laptop");
  const std::string folder = (laptop.root() / "sys/class/powercap").string();
  fake::FakeRegistry registry;
  {
    testing::LockedCounters locked(laptop.root());
    ASSERT_TRUE(locked.locked());
    LinuxCounterReports port(laptop.root());
    EXPECT_EQ(port.energyAccess(), (EnergyAccess{State::denied, folder}));
    EXPECT_EQ(port.copyChannelsInGroup("Energy Model", std::nullopt), nullptr);
    EXPECT_NE(port.copyChannelsInGroup("CPU Stats", "CPU Core Performance States"), nullptr);
    IOReportSampler withoutEnergy(port, registry, EnergyCounters::optional);
    EXPECT_FALSE(withoutEnergy.hasEnergy());
    // The failure speaks of what is missing on Linux, not of the Mac's counter library.
    EXPECT_EQ(energyFailure(port, registry), "the RAPL energy counters in " + folder + " are not readable by this user");

    // Access granted while the port lives: the next look finds the counters.
    locked.grant();
    EXPECT_EQ(port.energyAccess(), (EnergyAccess{State::readable, folder}));
    EXPECT_EQ(port.energyChannelNames(), (std::vector<std::string>{"CPU Energy", "GPU", "DRAM", "Package rest"}));
    EXPECT_TRUE(IOReportSampler(port, registry).hasEnergy());
  }
  // Counters that are not numbers: nothing to grant (no powercap folder is in the vm's golden file).
  for (const char* zone : {"intel-rapl:0", "intel-rapl:0:0", "intel-rapl:0:1", "intel-rapl:0:2", "intel-rapl-mmio:0"}) {
    laptop.write(std::string("sys/class/powercap/") + zone + "/energy_uj", "busy");
  }
  LinuxCounterReports without(laptop.root());
  EXPECT_EQ(without.energyAccess().state, State::absent);
  EXPECT_EQ(energyFailure(without, registry), "no RAPL energy counters in " + folder);
}

TEST(LinuxCounters, CpuResidenciesFromTicks) {
  MachineCopy laptop("laptop");
  std::map<int, std::vector<std::uint64_t>> ticks;
  for (int cpu = 0; cpu < 16; ++cpu) ticks[cpu] = {1000, 10, 300, 5000, 40, 20, 30};
  laptop.setStat(ticks);
  LinuxCounterReports port(laptop.root());
  const CounterDelta delta = deltaAround(port, [&] {
    ticks[0] = {1100, 15, 330, 5050, 45, 22, 33};  // +100 +5 +30 idle +50 iowait +5 +2 +3
    ticks[9] = {1000, 10, 300, 5100, 10, 20, 30};  // iowait fell by 30: that part counts 0
    ticks.erase(3);                                // went offline
    laptop.setStat(ticks);
  });
  // Four energy channels and five domains before the CPUs.
  ASSERT_EQ(delta.size(), 4u + 5u + 16u);
  using Pair = std::pair<std::uint64_t, std::uint64_t>;
  const auto states = [&](std::size_t cpu) {
    return Pair{delta[9 + cpu].states[0].residency, delta[9 + cpu].states[1].residency};
  };
  EXPECT_EQ(states(0), (Pair{140, 55}));
  EXPECT_EQ(states(9), (Pair{0, 100}));
  EXPECT_EQ(states(3), (Pair{0, 0}));
  EXPECT_EQ(states(15), (Pair{0, 0}));

  const UsageReading usage = IOReportSampler::parseUsage(delta);
  EXPECT_DOUBLE_EQ(usage.pCpu, 140.0 / 195.0);
  EXPECT_DOUBLE_EQ(usage.eCpu, 0.0);
}

TEST(LinuxCounters, SamplesOnSeveralThreadsAtOnce) {
  // The facade takes samples for energy windows on other threads while a
  // snapshot samples on its own. One zone's kept descriptor cannot be re-read
  // (a pipe answers pread with ESPIPE), so each of its reads closes and
  // reopens the file: the path where unguarded threads would close each
  // other's descriptors.
  MachineCopy laptop("laptop");
  const auto descriptorsBefore = testing::openDescriptors();
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  const std::string uncore = "4127730841\n";
  ASSERT_EQ(::write(pipeEnds[1], uncore.data(), uncore.size()), static_cast<ssize_t>(uncore.size()));
  const fs::path uncoreFile = laptop.root() / "sys/class/powercap/intel-rapl:0:1/energy_uj";
  fs::remove(uncoreFile);
  fs::create_symlink("/proc/self/fd/" + std::to_string(pipeEnds[0]), uncoreFile);
  std::map<int, std::vector<std::uint64_t>> ticks;
  for (int cpu = 0; cpu < 16; ++cpu) ticks[cpu] = {1000, 10, 300, 5000, 40, 20, 30};
  laptop.setStat(ticks);

  {
    LinuxCounterReports port(laptop.root());
    std::unique_ptr<ChannelSet> all = port.copyChannelsInGroup("Energy Model", std::nullopt);
    port.mergeChannels(*all, *port.copyChannelsInGroup("CPU Stats", std::nullopt));
    std::unique_ptr<ChannelSet> subscribed;
    const std::unique_ptr<CounterSubscription> subscription = port.createSubscription(*all, subscribed);
    const std::unique_ptr<RawSample> baseline = port.createSamples(*subscription, *subscribed);
    ASSERT_NE(baseline, nullptr);

    // Every later sample, on any thread, gives the first one's delta: a reading
    // lost or taken from another file shows.
    laptop.setEnergy("intel-rapl:0", 240'422'366'267 + 9'000);
    laptop.setEnergy("intel-rapl:0:0", 98'213'374'112 + 4'000);
    laptop.setEnergy("intel-rapl:0:2", 16'433'718'237 + 1'000);
    for (auto& [cpu, f] : ticks) f = {1000 + 60u * cpu, 10, 300, 5000 + 7, 40, 20, 30};
    laptop.setStat(ticks);

    const CounterDelta expected = *port.createSamplesDelta(*baseline, *port.createSamples(*subscription, *subscribed));
    ASSERT_EQ(energyByName(expected),
              (std::map<std::string, std::int64_t>{
                  {"CPU Energy", 4'000}, {"GPU", 0}, {"DRAM", 1'000}, {"Package rest", 5'000}}));
    ASSERT_EQ(expected.size(), 4u + 5u + 16u);
    ASSERT_EQ(expected.back().states[0].residency, 60u * 15);
    constexpr int kThreads = 4;
    constexpr int kRounds = 500;
    std::atomic<int> wrong = 0;
    {
      std::vector<std::jthread> threads;
      for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
          for (int round = 0; round < kRounds; ++round) {
            const std::unique_ptr<RawSample> later = port.createSamples(*subscription, *subscribed);
            if (!later || port.createSamplesDelta(*baseline, *later) != expected) ++wrong;
          }
        });
      }
    }
    EXPECT_EQ(wrong.load(), 0);
  }
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  // Threads that raced through a reopen would have leaked descriptors.
  EXPECT_EQ(testing::openDescriptors(), descriptorsBefore);
}

}  // namespace
}  // namespace calorim::sysfs
