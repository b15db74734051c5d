#include "core/platform/linux/linux_processes.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "core/platform/linux/linux_platform.h"
#include "tests/core/platform/linux_machine_tree.h"

namespace calorim::sysfs {
namespace {

const std::filesystem::path kLaptop = std::filesystem::path(FIXTURE_DIR) / "linux" / "laptop";

TEST(LinuxProcessesTest, ReadsTheProcessesOfAMachine) {
  LinuxProcesses port(kLaptop, 100);
  const std::optional<ProcessTable> table = port.processes();
  ASSERT_TRUE(table);
  EXPECT_EQ(table->unit, (CpuTimeUnit{1'000'000'000, 100}));
  // The ACTIVE ticks of every CPU line of proc/stat.
  EXPECT_EQ(table->busyTime, 4607910U + 65820 + 1448193 + 131648 + 329130);
  std::vector<ProcessTimes> processes = table->processes;
  std::sort(processes.begin(), processes.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
  // 7002 has no stat file (it exited while the folder was listed); "sys" is no process.
  std::vector<std::string> names;
  for (const ProcessTimes& p : processes) names.push_back(std::to_string(p.pid) + " " + p.name);
  EXPECT_EQ(names, (std::vector<std::string>{"1 systemd", "2 kthreadd", "1187 (sd-pam)", "2043 gnome-shell",
                                             "4410 Web Content", "5120 tmux: server", "6001 a) b (c)"}));
  const ProcessTimes& shell = processes[3];
  EXPECT_EQ(shell.cpuTime, 158213U + 40117);  // utime + stime, not the children's
  EXPECT_EQ(shell.startTime, 3110U);
  EXPECT_EQ(shell.uid, ::getuid());  // the owner of its stat file
  EXPECT_FALSE(shell.energyNanojoules);
  EXPECT_EQ(processes[6].cpuTime, 4711U + 289);

  // Another USER_HZ only changes the unit.
  EXPECT_EQ(LinuxProcesses(kLaptop, 250).processes()->unit, (CpuTimeUnit{1'000'000'000, 250}));
  // The platform reads the running kernel's rate.
  EXPECT_EQ(makeLinuxPlatform(kLaptop)->processes->processes()->unit.units,
            static_cast<std::uint64_t>(::sysconf(_SC_CLK_TCK)));

  EXPECT_FALSE(LinuxProcesses(kLaptop / "no-such-folder", 100).processes());
}

TEST(LinuxProcessesTest, ParsesStatLinesAndRefusesBrokenOnes) {
  const std::optional<ProcessStat> odd = parseProcessStat(
      "77 (x) S 1 (y)) R 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21\n");
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->comm, "x) S 1 (y)");
  EXPECT_EQ(odd->utime, 11U);
  EXPECT_EQ(odd->stime, 12U);
  EXPECT_EQ(odd->starttime, 19U);
  EXPECT_EQ(parseProcessStat("5 () R 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19")->comm, "");
  for (const char* broken : {"", "5 (x R 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19",
                             "5 x) R 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19",
                             "5 (x) R 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18",  // cut short
                             "5 (x) R 1 2 3 4 5 6 7 8 9 10 -11 12 13 14 15 16 17 18 19",
                             "x (x) R 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19",
                             "5 (x) R 1 2 3 4 5 6 7 8 9 10 18446744073709551615 1 13 14 15 16 17 18 19",
                             "5 (x) R 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18\n19"}) {
    EXPECT_FALSE(parseProcessStat(broken)) << broken;
  }
  EXPECT_EQ(parseCgroupUsage("usage_usec 12\nuser_usec 3\n"), 12U);
  EXPECT_EQ(parseCgroupUsage("user_usec 3\nusage_usec x\n"), std::nullopt);
  EXPECT_EQ(parseCgroupUsage("nr_periods 0\n"), std::nullopt);
}

TEST(LinuxProcessesTest, WalksControlGroupsDownToTheDepth) {
  LinuxProcesses port(kLaptop, 100);
  const auto paths = [&](int depth) {
    std::vector<std::string> list;
    const std::optional<CgroupTable> table = port.cgroups(depth);
    for (const CgroupUsage& g : table.value().groups) list.push_back(g.path);
    return list;
  };
  EXPECT_EQ(paths(1), (std::vector<std::string>{"init.scope", "system.slice", "user.slice"}));
  EXPECT_EQ(paths(2), (std::vector<std::string>{"init.scope", "system.slice", "system.slice/NetworkManager.service",
                                                "system.slice/nginx.service", "user.slice",
                                                "user.slice/user-1000.slice"}));
  EXPECT_EQ(paths(3).size(), 8U);
  const CgroupTable table = port.cgroups(2).value();
  EXPECT_EQ(table.totalMicroseconds, 61234000000U);
  EXPECT_EQ(table.groups[3], (CgroupUsage{"system.slice/nginx.service", 2104330000}));
  EXPECT_FALSE(port.cgroups(0));

  // A v1 hierarchy (no cgroup.controllers at its root) and a missing one are no hierarchy.
  testing::MachineTree v1;
  v1.write("sys/fs/cgroup/cpu/cpu.stat", "nr_periods 0");
  EXPECT_FALSE(LinuxProcesses(v1.root(), 100).cgroups(2));
  EXPECT_FALSE(LinuxProcesses(v1.root() / "none", 100).cgroups(2));

  // A root without cpu.stat has no total; an unreadable group is left out.
  testing::MachineTree tree;
  tree.write("sys/fs/cgroup/cgroup.controllers", "cpu");
  tree.write("sys/fs/cgroup/a/cpu.stat", "usage_usec 5");
  tree.makeUnreadable("sys/fs/cgroup/b/cpu.stat");
  const CgroupTable bare = LinuxProcesses(tree.root(), 100).cgroups(2).value();
  EXPECT_FALSE(bare.totalMicroseconds);
  EXPECT_EQ(bare.groups, (std::vector<CgroupUsage>{{"a", 5}}));
}

TEST(LinuxProcessesTest, BoundsDeepHierarchies) {
  testing::MachineTree tree;
  tree.write("sys/fs/cgroup/cgroup.controllers", "cpu");
  std::string path = "sys/fs/cgroup";
  for (int level = 0; level < LinuxProcesses::kMaxCgroupDepth + 4; ++level) {
    path += "/g";
    tree.write(path + "/cpu.stat", "usage_usec 1");
  }
  EXPECT_EQ(LinuxProcesses(tree.root(), 100).cgroups(1000)->groups.size(),
            static_cast<std::size_t>(LinuxProcesses::kMaxCgroupDepth));
}

}  // namespace
}  // namespace calorim::sysfs
