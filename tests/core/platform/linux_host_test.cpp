#include "core/platform/linux/linux_host.h"

#include <string>

#include <gtest/gtest.h>

#include "linux_machine_tree.h"

namespace calorim::sysfs {
namespace {

TEST(LinuxHostParse, KernelReleaseMeminfoAndModelName) {
  EXPECT_EQ(parseKernelRelease("6.8"), (OsVersion{"Linux", 6, 8, 0}));
  EXPECT_EQ(parseKernelRelease("6.9-rc3"), (OsVersion{"Linux", 6, 9, 0}));
  EXPECT_FALSE(parseKernelRelease("").has_value());
  EXPECT_FALSE(parseKernelRelease("Linux 6.1").has_value());

  const MemInfo info = parseMemInfo(
      "MemTotal:       16084868 kB\n"
      "MemFree:         5338112 kB\n"
      "MemAvailable:   10212540 kB\n"
      "SwapTotal:       2097148\n"  // no unit: not trusted
      "SwapFree:        garbage kB\n"
      "HugePages_Total:       0\n");
  EXPECT_EQ(info.totalBytes, 16084868ull * 1024);
  EXPECT_EQ(info.availableBytes, 10212540ull * 1024);
  EXPECT_FALSE(info.swapTotalBytes.has_value());
  EXPECT_FALSE(info.swapFreeBytes.has_value());

  EXPECT_EQ(parseCpuModelName("processor\t: 0\nmodel\t\t: 154\nmodel name\t: AMD Ryzen 7 5800X 8-Core Processor\n"
                              "model name\t: second\n"),
            "AMD Ryzen 7 5800X 8-Core Processor");
  EXPECT_FALSE(parseCpuModelName("processor\t: 0\nCPU part\t: 0xd08\nModel\t\t: Raspberry Pi 4\n").has_value());
  EXPECT_FALSE(parseCpuModelName("model name\t:\n").has_value());
}

// A machine without any source is in the golden files of every fixture machine.
TEST(LinuxHost, OldMeminfoAndStatWithoutCpuLines) {
  // A meminfo without MemAvailable (before Linux 3.14) gives no used memory but a size;
  // a proc/stat without per-CPU lines gives no ticks.
  testing::MachineTree tree;
  tree.write("proc/meminfo", "MemTotal:        1024 kB\nMemFree:          512 kB");
  tree.write("proc/stat", "cpu  1 2 3 4 5 6 7 0 0 0\nintr 0");
  LinuxHost old(tree.root());
  EXPECT_EQ(old.systemInteger("hw.memsize"), 1024 * 1024);
  EXPECT_FALSE(old.memoryUsedBytes().has_value());
  EXPECT_FALSE(old.processorTicks().has_value());
  EXPECT_FALSE(old.systemInteger("hw.logicalcpu").has_value());
}

}  // namespace
}  // namespace calorim::sysfs
