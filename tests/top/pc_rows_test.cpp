// calorim-top's power rows on PCs read through the Linux backend: the
// machine's own domain names, each discrete card by its name, the total, and
// the whole platform below it.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/platform/linux/linux_platform.h"
#include "core/power_metrics.h"
#include "tests/core/platform/linux_machine_clock.h"
#include "tests/core/platform/linux_machine_tree.h"
#include "top/screen.h"

namespace calorim::top {
namespace {

TEST(TopOnPcs, PowerRowsNamedAsTheMachineNamesThem) {
  const struct {
    const char* machine;
    std::vector<std::string> rows;
  } cases[] = {
      // The platform holds the package and more: below the total, never in it.
      {"laptop", {"Package 12.00", "Cores 5.00", "Graphics 2.00", "DRAM 1.50", "Total 13.50", "Platform 20.00"}},
      // Two cards by their names (without a PCI ids file, the driver's and the
      // card's), cut to the column; the Radeon draws 31 W.
      {"dualgpu", {"Package 12.00", "Cores 5.00", "AMD GPU card0 31.00", "Intel GPU car 95.00", "Total 138.00"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.machine);
    testing::MachineTree tree(c.machine);
    tree.copyProc(c.machine);
    auto clock = std::make_shared<testing::MachineClock>(tree.root());
    testing::setSteadyLaptopLoad(*clock);
    clock->setCounterRate("sys/class/hwmon/hwmon4/energy1_input", 95'000'000);
    PowerMetrics metrics(sysfs::makeLinuxPlatform(tree.root(), clock, ""));
    const Reading reading{metrics.sample(1.0), std::nullopt, {}, metrics.gpuFigures()};
    std::vector<std::string> rows;
    for (const PowerRow& row : powerRows(metrics.description(), true, reading)) {
      rows.push_back(row.name + " " + (row.watts ? fixedDecimal(*row.watts, 2) : "-"));
    }
    EXPECT_EQ(rows, c.rows);
  }
}

}  // namespace
}  // namespace calorim::top
