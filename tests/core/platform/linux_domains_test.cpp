// The fixture PCs through the whole core: the energy domains each shows by the
// names the machine has, the platform figure where RAPL offers psys, totals
// that never hold it, and a description that is the same before the first
// sample as after it.

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/platform/linux/linux_platform.h"
#include "core/platform/linux/sysfs_file.h"
#include "core/power_metrics.h"
#include "tests/core/platform/linux_machine_clock.h"
#include "tests/core/platform/linux_machine_tree.h"

namespace calorim::sysfs {
namespace {

namespace fs = std::filesystem;

// Every RAPL zone of the tree runs at a fixed power by its kind, µW.
void setZoneRates(const fs::path& root, testing::MachineClock& clock) {
  const std::map<std::string, std::uint64_t> rates = {
      {"package-0", 12'000'000}, {"package-1", 9'000'000}, {"core", 5'000'000},
      {"uncore", 2'000'000},     {"dram", 1'500'000},      {"psys", 20'000'000}};
  std::error_code ec;
  for (fs::directory_iterator it(root / "sys/class/powercap", ec), end; !ec && it != end; it.increment(ec)) {
    const std::optional<std::string> name = readAttribute(it->path() / "name");
    const auto rate = name ? rates.find(*name) : rates.end();
    if (rate != rates.end()) clock.setEnergyRate(it->path().filename().string(), rate->second);
  }
}

std::vector<std::string> namesOf(const std::vector<ChannelPower>& channels) {
  std::vector<std::string> names;
  for (const ChannelPower& c : channels) names.push_back(c.name());
  return names;
}

std::optional<double> wattsOf(const std::vector<ChannelPower>& channels, const std::string& name) {
  for (const ChannelPower& c : channels) {
    if (c.name() == name) return c.watts();
  }
  return std::nullopt;
}

TEST(LinuxDomains, NamesPlatformAndTotalsPerFixtureMachine) {
  struct Case {
    const char* machine;
    std::vector<std::string> domains;
    std::vector<std::string> other;  // what the domains' accounting leaves unclaimed
    std::optional<double> platformW;
    double packageW;
  };
  const Case cases[] = {
      {"laptop", {"Package", "Cores", "Graphics", "DRAM", "Platform"}, {"Package rest"}, 20.0, 12.0},
      {"desktop", {"Package", "Cores"}, {"Package rest"}, std::nullopt, 12.0},
      {"apulaptop", {"Package", "Cores"}, {"Package rest"}, std::nullopt, 12.0},
      {"arcdesktop", {"Package", "Cores"}, {"Package rest"}, std::nullopt, 12.0},
      {"dualgpu", {"Package", "Cores"}, {"Package rest"}, std::nullopt, 12.0},
      // Two sockets: one figure per domain, the sum over the packages.
      {"server", {"Package", "DRAM"}, {}, std::nullopt, 21.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.machine);
    testing::MachineTree tree(c.machine);
    tree.copyProc(c.machine);
    auto clock = std::make_shared<testing::MachineClock>(tree.root());
    setZoneRates(tree.root(), *clock);
    PowerMetrics metrics(makeLinuxPlatform(tree.root(), clock, ""));

    const MachineDescription before = metrics.description();
    const PowerSnapshot s = metrics.sample(1.0);
    const MachineDescription after = metrics.description();
    EXPECT_EQ(before.measured.names(), after.measured.names());
    EXPECT_EQ(after.measured.platformPower, c.platformW.has_value());

    const EnergyBreakdown& b = s.energyBreakdown();
    EXPECT_EQ(namesOf(b.domains()), c.domains);
    EXPECT_EQ(namesOf(b.other()), c.other);
    EXPECT_EQ(s.platformPower(), c.platformW);
    EXPECT_DOUBLE_EQ(wattsOf(b.domains(), "Package").value_or(0), c.packageW);
    // The domains overlap: the total is the channels' own sum, psys never in it.
    EXPECT_DOUBLE_EQ(s.totalPower(), b.socTotal());
    double channels = b.cpuTotal() + b.gpu() + b.dram();
    for (const ChannelPower& o : b.other()) channels += o.watts();
    EXPECT_DOUBLE_EQ(s.totalPower(), channels);
    EXPECT_DOUBLE_EQ(s.totalPower(), c.packageW + wattsOf(b.domains(), "DRAM").value_or(0) +
                                         (b.gpuEnergy() > 0 ? b.gpuEnergy() - wattsOf(b.domains(), "Graphics").value_or(0) : 0));
  }
}

}  // namespace
}  // namespace calorim::sysfs
