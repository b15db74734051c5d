#include "core/platform/linux/linux_host.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace calorim::sysfs {
namespace {

namespace fs = std::filesystem;

const fs::path kMachines = fs::path(FIXTURE_DIR) / "linux";

TEST(LinuxHostParse, KernelReleaseMeminfoAndModelName) {
  EXPECT_EQ(parseKernelRelease("6.1.0-18-amd64\n"), (OsVersion{"Linux", 6, 1, 0}));
  EXPECT_EQ(parseKernelRelease("6.6.31+rpt-rpi-v8"), (OsVersion{"Linux", 6, 6, 31}));
  EXPECT_EQ(parseKernelRelease("5.14.0-427.13.1.el9_4.x86_64"), (OsVersion{"Linux", 5, 14, 0}));
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

TEST(LinuxHost, ValuesPerMachine) {
  struct Expected {
    const char* machine;
    const char* brand;
    std::int64_t logicalCpus;
    std::optional<std::int64_t> pCpus, eCpus;
    std::uint64_t memTotalKb, memAvailableKb, swapTotalKb, swapFreeKb;
    OsVersion os;
  };
  const Expected machines[] = {
      {"laptop", "12th Gen Intel(R) Core(TM) i7-1260P", 16, 8, 8, 16084868, 10212540, 2097148, 1843196,
       {"Linux", 6, 1, 0}},
      {"desktop", "AMD Ryzen 7 5800X 8-Core Processor", 16, {}, {}, 32785492, 25118304, 2097148, 2097148,
       {"Linux", 6, 8, 0}},
      {"server", "Intel(R) Xeon(R) Silver 4210R CPU @ 2.40GHz", 40, {}, {}, 197568448, 171993020, 8388604, 8125436,
       {"Linux", 5, 14, 0}},
      {"armboard", "Raspberry Pi 4 Model B Rev 1.4", 4, {}, {}, 3882236, 3141904, 102396, 102396,
       {"Linux", 6, 6, 31}},
      {"rk3399board", "Pine64 RockPro64 v2.1", 6, 2, 4, 3963268, 3302188, 1981628, 1981628, {"Linux", 6, 1, 0}},
      {"vm", "Intel Xeon Processor (Icelake)", 2, {}, {}, 4013456, 3105772, 0, 0, {"Linux", 5, 10, 0}},
  };
  for (const Expected& m : machines) {
    SCOPED_TRACE(m.machine);
    LinuxHost host(kMachines / m.machine);
    EXPECT_EQ(host.systemText("machdep.cpu.brand_string"), m.brand);
    EXPECT_EQ(host.systemInteger("hw.logicalcpu"), m.logicalCpus);
    EXPECT_EQ(host.systemInteger("hw.perflevel0.logicalcpu"), m.pCpus);
    EXPECT_EQ(host.systemInteger("hw.perflevel1.logicalcpu"), m.eCpus);
    using Text = std::optional<std::string>;
    EXPECT_EQ(host.systemText("hw.perflevel0.name"), m.pCpus ? Text("Performance") : std::nullopt);
    EXPECT_EQ(host.systemText("hw.perflevel1.name"), m.eCpus ? Text("Efficiency") : std::nullopt);
    EXPECT_EQ(host.systemInteger("hw.memsize"), static_cast<std::int64_t>(m.memTotalKb * 1024));
    EXPECT_EQ(host.memoryUsedBytes(), (m.memTotalKb - m.memAvailableKb) * 1024);
    EXPECT_EQ(host.swapUsedBytes(), (m.swapTotalKb - m.swapFreeKb) * 1024);
    EXPECT_EQ(host.osVersion(), m.os);
    const std::optional<std::vector<CpuTicks>> ticks = host.processorTicks();
    ASSERT_TRUE(ticks);
    EXPECT_EQ(static_cast<std::int64_t>(ticks->size()), m.logicalCpus);
    EXPECT_FALSE(host.systemText("hw.model").has_value());
    EXPECT_FALSE(host.systemInteger("hw.physicalcpu_max").has_value());
  }

  // cpu0 of the laptop: "cpu0 152856 2183 48040 3165937 17817 4367 10918 0 0 0". Interrupt
  // time is system time and I/O wait is idle time, as in the CPU Stats channels.
  EXPECT_EQ(LinuxHost(kMachines / "laptop").processorTicks()->front(),
            (CpuTicks{152856, 48040 + 4367 + 10918, 3165937 + 17817, 2183}));
}

TEST(LinuxHost, MissingSourcesAreAbsent) {
  LinuxHost nothing(kMachines / "no-such-machine");
  EXPECT_FALSE(nothing.processorTicks().has_value());
  EXPECT_FALSE(nothing.systemText("machdep.cpu.brand_string").has_value());
  EXPECT_FALSE(nothing.systemInteger("hw.logicalcpu").has_value());
  EXPECT_FALSE(nothing.systemInteger("hw.memsize").has_value());
  EXPECT_FALSE(nothing.memoryUsedBytes().has_value());
  EXPECT_FALSE(nothing.swapUsedBytes().has_value());
  EXPECT_FALSE(nothing.osVersion().has_value());

  // A meminfo without MemAvailable (before Linux 3.14) gives no used memory but a size;
  // a proc/stat without per-CPU lines gives no ticks.
  std::string pattern = (fs::temp_directory_path() / "calorim-host-XXXXXX").string();
  const fs::path root = ::mkdtemp(pattern.data());
  fs::create_directories(root / "proc");
  std::ofstream(root / "proc/meminfo") << "MemTotal:        1024 kB\nMemFree:          512 kB\n";
  std::ofstream(root / "proc/stat") << "cpu  1 2 3 4 5 6 7 0 0 0\nintr 0\n";
  LinuxHost old(root);
  EXPECT_EQ(old.systemInteger("hw.memsize"), 1024 * 1024);
  EXPECT_FALSE(old.memoryUsedBytes().has_value());
  EXPECT_FALSE(old.processorTicks().has_value());
  EXPECT_FALSE(old.systemInteger("hw.logicalcpu").has_value());
  fs::remove_all(root);
}

}  // namespace
}  // namespace calorim::sysfs
