#include "core/platform/linux/linux_host.h"

#include <string>

#include <gtest/gtest.h>

#include "core/platform/linux/linux_hardware_report.h"
#include "core/platform/linux/machine_identity.h"
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

// Chains, second domains and peers are in the golden file of the workstation fixture.
TEST(SysfsThunderbolt, Parsers) {
  EXPECT_EQ(detail::formatLinkSpeed(20.0, 2), "Up to 40 Gb/s");
  EXPECT_EQ(detail::formatLinkSpeed(6.25, 2), "Up to 12.5 Gb/s");
  EXPECT_EQ(detail::formatLinkSpeed(10.0, 0), "Up to 10 Gb/s");
  EXPECT_EQ(parseRouterName("0-0"), (std::pair<int, std::uint64_t>{0, 0}));
  EXPECT_EQ(parseRouterName("1-301"), (std::pair<int, std::uint64_t>{1, 0x301}));
  for (const char* other : {"domain0", "0-0:1.1", "0-1.1", "usb4_port1", "-1", "0-", "0-xyz", "0--1"}) {
    EXPECT_FALSE(parseRouterName(other).has_value()) << other;
  }
  EXPECT_EQ(parseLinkSpeed("20.0 Gb/s\n"), 20.0);
  EXPECT_FALSE(parseLinkSpeed("20.0").has_value());
  EXPECT_FALSE(parseLinkSpeed("fast Gb/s").has_value());
  EXPECT_EQ(parseUeventValue("DRIVER=thunderbolt\nDEVTYPE=thunderbolt_device\n", "DEVTYPE"), "thunderbolt_device");
  EXPECT_FALSE(parseUeventValue("DEVTYPEX=a\n", "DEVTYPE").has_value());
}

TEST(SysfsMachineIdentity, NamesFromDmiAndDeviceTree) {
  for (const char* filler : {"To be filled by O.E.M.", "TO BE FILLED BY O.E.M.", "System Product Name", "Default string",
                             "  ", "0123456789", "--", "Not Applicable"}) {
    EXPECT_TRUE(isPlaceholder(filler)) << filler;
  }
  EXPECT_FALSE(isPlaceholder("21AHCTO1WW"));
  EXPECT_EQ(shortVendorName("Dell Inc."), "Dell");
  EXPECT_EQ(shortVendorName("HPE"), "HPE");
  EXPECT_EQ(shortVendorName("innotek GmbH"), "innotek");
  EXPECT_EQ(shortVendorName("Tongfang Hongkong Co.,Ltd."), "Tongfang Hongkong");

  using Dmi = DmiIdentity;
  EXPECT_EQ(machineNameFromDmi(Dmi{"Dell Inc.", "XPS 13 9310", "", "", ""}), "Dell XPS 13 9310");
  EXPECT_EQ(machineNameFromDmi(Dmi{"HP", "HP EliteBook 840 G8 Notebook PC", {}, {}, {}}),
            "HP EliteBook 840 G8 Notebook PC");
  EXPECT_EQ(machineNameFromDmi(Dmi{"LENOVO", "21AHCTO1WW", "None", {}, {}}), "Lenovo 21AHCTO1WW");
  EXPECT_EQ(machineNameFromDmi(Dmi{"QEMU", "Standard PC (Q35 + ICH9, 2009)", "pc-q35-7.2", {}, {}}),
            "QEMU Standard PC (Q35 + ICH9, 2009)");
  EXPECT_EQ(machineNameFromDmi(Dmi{"Default string", "Default string", {}, "Default string", "X570 AORUS ELITE"}),
            "X570 AORUS ELITE");
  EXPECT_FALSE(machineNameFromDmi(Dmi{"System manufacturer", "System Product Name", {}, {}, "Default string"}));

  // DMI wins over the device tree (found under proc on the rk3399board fixture).
  testing::MachineTree tree;
  tree.write("proc/device-tree/model", "Pine64 RockPro64 v2.1");
  tree.write("sys/class/dmi/id/sys_vendor", "Ampere");
  tree.write("sys/class/dmi/id/product_name", "Mt. Jade");
  EXPECT_EQ(readMachineName(tree.root()), "Ampere Mt. Jade");
  tree.makeUnreadable("sys/class/dmi/id/product_name");
  EXPECT_EQ(readMachineName(tree.root()), "Pine64 RockPro64 v2.1");
}

}  // namespace
}  // namespace calorim::sysfs
