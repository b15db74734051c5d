// calorim-probe reading a fixture machine mounted over /sys and /proc (see
// tests/support/child_process.h); skipped where that cannot be done. The
// answers on fixed counters are in the golden transcripts.

#if defined(__linux__)

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/json.h"
#include "tests/core/platform/linux_machine_clock.h"
#include "tests/core/platform/linux_machine_tree.h"
#include "tests/support/child_process.h"

namespace calorim::probe {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;

constexpr const char* kNeedsRoot =
    "calorim-probe against a fixture mounted over /sys and /proc needs root; run the tests as root to include it";

std::string noNamespace(const std::string& failure) {
  return "no private mount namespace here (" + failure + "); calorim-probe is not run against the fixture";
}

TEST(LinuxProbeProcess, ReadsTheMachineMountedOverSysAndProc) {
  if (::geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  testing::MachineTree tree("laptop");
  tree.copyProc("laptop");
  ChildProcess probe({PROBE_BINARY}, {.fixtureRoot = tree.root()});
  if (probe.failure()) GTEST_SKIP() << noNamespace(*probe.failure());

  EXPECT_EQ(probe.callTool(1, "power_system_info")["chipName"], "12th Gen Intel(R) Core(TM) i7-1260P");

  // The counters move only while the window is open. Energy is a difference of
  // two readings over the window's own time, so the joules are exact whatever
  // time the process measured.
  EXPECT_EQ(probe.callTool(2, "power_begin_window", {{"name", "e2e"}})["status"], "started");
  testing::MachineClock counters(tree.root());
  testing::setSteadyLaptopLoad(counters);
  counters.sleep(2.0);
  const Json energy = probe.callTool(3, "power_end_window", {{"name", "e2e"}});
  EXPECT_NEAR(energy["cpuEnergy"].get<double>(), 10.0, 1e-9);
  EXPECT_NEAR(energy["gpuEnergy"].get<double>(), 4.0, 1e-9);
  EXPECT_NEAR(energy["dramEnergy"].get<double>(), 3.0, 1e-9);
  EXPECT_NEAR(energy["totalEnergy"].get<double>(), 27.0, 1e-9);
  EXPECT_GT(energy["duration"].get<double>(), 0.0);

  probe.closeInput();
  EXPECT_EQ(probe.restOfOutput(), "");
  EXPECT_EQ(probe.errorOutput(), "");
  EXPECT_EQ(probe.wait().status, "exit 0");
}

// A machine whose energy the probe cannot read: it fails to start, with the
// line callers match first and then what the case is and where access is
// explained.
TEST(LinuxProbeProcess, WithoutReadableEnergyCountersTheProbeSaysWhy) {
  if (::geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  struct Case {
    const char* name;
    bool ordinaryUser;
    std::string secondLine;
  };
  const Case cases[] = {
      // The VM: /proc only, an empty /sys.
      {"vm", false,
       "This machine has no energy counters in /sys/class/powercap (a VM, a container or a processor without "
       "RAPL): see \"Granting energy access\" in the README.\n"},
      // The laptop as the kernel leaves it: every energy_uj root's alone.
      {"laptop", true,
       "The energy counters in /sys/class/powercap are there, but this user may not read them: see "
       "\"Granting energy access\" in the README.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::MachineTree tree(c.name);
    tree.copyProc(c.name);
    if (c.ordinaryUser) {
      for (const auto& entry : fs::recursive_directory_iterator(tree.root() / "sys/class/powercap")) {
        if (entry.path().filename() == "energy_uj") ::chmod(entry.path().c_str(), 0400);
      }
    }
    ChildProcess probe({PROBE_BINARY}, {.fixtureRoot = tree.root(), .asNobody = c.ordinaryUser});
    if (probe.failure()) GTEST_SKIP() << noNamespace(*probe.failure());

    EXPECT_EQ(probe.restOfOutput(), "");
    EXPECT_EQ(probe.wait().status, "exit 1");
    EXPECT_EQ(probe.errorOutput(), "Failed to start: channelNotFound(\"Energy Model\")\n" + c.secondLine);
  }
}

}  // namespace
}  // namespace calorim::probe

#endif  // defined(__linux__)
