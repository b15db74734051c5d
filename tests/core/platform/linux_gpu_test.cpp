// GPUs on the Linux backend: fixture machines whose counters a test clock
// advances, sampled through the core's own facade, and NVIDIA's library
// replaced by the tests' stand-in.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/platform/linux/gpus.h"
#include "core/platform/linux/pci_ids.h"
#include "core/platform/linux/linux_platform.h"
#include "core/machine_description.h"
#include "core/power_metrics.h"
#include "tests/core/platform/linux_machine_clock.h"
#include "tests/core/platform/linux_machine_tree.h"
#include "tests/support/golden.h"

namespace calorim::sysfs {
namespace {

namespace fs = std::filesystem;
using testing::MachineClock;
using testing::MachineTree;

// Points the stand-in library at a folder of the tree for as long as it lives.
class FakeNvml {
 public:
  explicit FakeNvml(const MachineTree& tree) : dir_(tree.root() / "nvml") {
    fs::create_directories(dir_);
    ::setenv("CALORIM_FAKE_NVML", dir_.c_str(), 1);
  }
  ~FakeNvml() { ::unsetenv("CALORIM_FAKE_NVML"); }
  FakeNvml(const FakeNvml&) = delete;
  FakeNvml& operator=(const FakeNvml&) = delete;

  [[nodiscard]] const fs::path& dir() const { return dir_; }

 private:
  fs::path dir_;
};

void nvmlGpu(const MachineTree& tree, int index, const std::string& name, const std::string& file,
             const std::string& value, int util, int clock, int temp) {
  const std::string dir = "nvml/gpu" + std::to_string(index) + "/";
  tree.write(dir + "name", name);
  tree.write(dir + file, value);
  tree.write(dir + "util", std::to_string(util));
  tree.write(dir + "clock_mhz", std::to_string(clock));
  tree.write(dir + "temp_c", std::to_string(temp));
}

const std::string kRadeon = "sys/devices/pci0000:00/0000:00:03.1/0000:09:00.0/";

TEST(LinuxGpu, SnapshotsPerMachine) {
  const auto desktopLoad = [](MachineTree&, MachineClock& clock) {
    clock.setEnergyRate("intel-rapl:0", 60'000'000);
    clock.setEnergyRate("intel-rapl:0:0", 40'000'000);
  };
  const struct {
    const char* name;
    const char* fixture;
    std::function<void(MachineTree&, MachineClock&)> setUp;
  } machines[] = {
      // The Radeon's 31 W average integrated over the second; its own clock
      // (freq1_input) and its edge sensor; the package's rest is the CPU's.
      {"discrete Radeon", "desktop", desktopLoad},
      // Asleep (the driver refuses reads) and then garbage: no power and no
      // busy time, but the sensor still reads.
      {"Radeon refusing reads", "desktop",
       [&](MachineTree& tree, MachineClock& clock) {
         desktopLoad(tree, clock);
         tree.makeUnreadable(kRadeon + "gpu_busy_percent");
         tree.write("sys/class/hwmon/hwmon2/power1_average", "-31000000");
       }},
      {"Radeon busy beyond 100 %", "desktop",
       [&](MachineTree& tree, MachineClock& clock) {
         desktopLoad(tree, clock);
         tree.write(kRadeon + "gpu_busy_percent", "250");
       }},
      // The APU's power1_input is the whole package: already in RAPL's package,
      // so it is not a GPU channel. Its clock comes from the DPM table.
      {"AMD APU", "apulaptop",
       [](MachineTree&, MachineClock& clock) {
         clock.setEnergyRate("intel-rapl:0", 25'000'000);
         clock.setEnergyRate("intel-rapl:0:0", 12'000'000);
       }},
      // An amdgpu card that reports only its temperature has no energy: no
      // GPU power at all, rather than 0 W for ever.
      {"Radeon without power files", "desktop",
       [&](MachineTree& tree, MachineClock& clock) {
         desktopLoad(tree, clock);
         tree.remove("sys/class/hwmon/hwmon2/power1_average");
       }},
      // Two cards: the Radeon's 31 W and the Arc's 95 W are both the GPU's.
      {"Radeon and Arc", "dualgpu",
       [&](MachineTree& tree, MachineClock& clock) {
         desktopLoad(tree, clock);
         clock.setCounterRate("sys/class/hwmon/hwmon4/energy1_input", 95'000'000);
       }},
      // The Arc card's energy counter, busy from the render GT's idle residency.
      {"Arc on xe", "arcdesktop",
       [](MachineTree&, MachineClock& clock) {
         clock.setEnergyRate("intel-rapl:0", 80'000'000);
         clock.setEnergyRate("intel-rapl:0:0", 55'000'000);
         clock.setCounterRate("sys/class/hwmon/hwmon1/energy1_input", 95'000'000);
         clock.setCounterRate(
             "sys/devices/pci0000:00/0000:00:01.0/0000:01:00.0/0000:02:01.0/0000:03:00.0/tile0/gt0/gtidle/"
             "idle_residency_ms",
             250);
       }},
      // Intel graphics and two NVIDIA cards, one counting energy and one only
      // reporting power: the power is their sum, the rest is the busiest
      // card's (most energy), its temperature alone included.
      {"Intel and NVIDIA", "laptop",
       [](MachineTree& tree, MachineClock& clock) {
         testing::setSteadyLaptopLoad(clock);
         nvmlGpu(tree, 0, "NVIDIA GeForce RTX 4070 Laptop GPU", "energy_mj", "912345678", 55, 1980, 67);
         nvmlGpu(tree, 1, "NVIDIA RTX A500 Laptop GPU", "power_mw", "15000", 90, 1200, 58);
         clock.setCounterRate("nvml/gpu0/energy_mj", 80'000);
         tree.write("nvml/gpu0/power_limit_mw", "115000");
       }},
  };
  std::ostringstream out;
  out.precision(12);
  for (const auto& m : machines) {
    MachineTree tree(m.fixture);
    if (fs::exists(fs::path(FIXTURE_DIR) / "linux" / m.fixture / "proc")) tree.copyProc(m.fixture);
    FakeNvml nvml(tree);
    auto clock = std::make_shared<MachineClock>(tree.root());
    m.setUp(tree, *clock);
    PowerMetrics metrics(makeLinuxPlatform(tree.root(), clock, FAKE_NVML));

    const PowerSnapshot s = metrics.sample(1.0);
    out << m.name << ": GPU " << s.gpuPower() << " W, busy " << s.gpuUsage() << ", " << s.gpuFreqMHz() << " MHz, "
        << s.gpuTemp().value_or(-1) << " °C; total " << s.totalPower() << " W\n";
    const MachineDescription d = metrics.description();
    out << m.name << ": breakdown GPU " << s.energyBreakdown().gpu() << " W, budget " << d.gpuPowerBudgetW() << " W;";
    for (const GpuDescription& gpu : d.gpus) out << " " << gpu.name << ";";
    out << " measured";
    for (const std::string& name : d.measured.names()) out << " " << name;
    out << "\n";
    for (const ChannelPower& c : s.energyBreakdown().other()) {
      out << m.name << ": other " << c.name() << " " << c.watts() << " W\n";
    }
    // Each GPU with its own figures, "-" for one the machine does not measure.
    const auto figure = [&](std::optional<double> value, const char* unit) {
      if (value) {
        out << " " << *value << unit;
      } else {
        out << " -" << unit;
      }
    };
    for (const GpuFigures& gpu : metrics.gpuFigures()) {
      out << m.name << ": " << gpu.name << ":";
      figure(gpu.watts, " W");
      figure(gpu.busy, " busy");
      figure(gpu.clockMHz, " MHz");
      figure(gpu.temperatureC, " °C");
      out << "\n";
    }
  }
  EXPECT_GOLDEN(fs::path(GOLDEN_DIR) / "linux_gpu_snapshots.txt", out.str());
}

TEST(LinuxGpu, NvidiaLibraryPresentFailingOrAbsent) {
  struct Case {
    const char* name;
    bool withGpus;
    bool initFails;
    std::string library;
    std::vector<std::string> gpus;
    bool shutDown;  // the library was initialised, so it is shut down with the set
  };
  const Case cases[] = {
      // A name that the breakdown would count as the neural engine gets a plain one.
      {"two GPUs", true, false, FAKE_NVML, {"NVIDIA L4", "GPU nvidia1"}, true},
      {"no GPU", false, false, FAKE_NVML, {}, true},
      {"initialisation fails", true, true, FAKE_NVML, {}, false},
      {"no library", true, false, "/nonexistent/libnvidia-ml.so.1", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MachineTree tree;
    FakeNvml nvml(tree);
    if (c.withGpus) {
      nvmlGpu(tree, 0, "NVIDIA L4", "power_mw", "72000", 10, 1500, 40);
      nvmlGpu(tree, 1, "Arcane Accelerator", "power_mw", "1000", 10, 1500, 40);
    }
    if (c.initFails) tree.write("nvml/init_fails", "1");
    {
      GpuSet set(tree.root(), std::make_shared<MachineClock>(tree.root()), c.library);
      std::vector<std::string> names;
      for (std::size_t i = 0; i < set.size(); ++i) names.push_back(set.device(i).name());
      EXPECT_EQ(names, c.gpus);
      // Kept until the set goes, unless it has no GPU to keep it for.
      EXPECT_EQ(fs::exists(nvml.dir() / "shut_down"), c.shutDown && c.gpus.empty());
    }
    EXPECT_EQ(fs::exists(nvml.dir() / "shut_down"), c.shutDown);
  }
}

TEST(LinuxGpu, DpmTableMarkedLine) {
  const std::vector<std::pair<const char*, std::optional<double>>> cases = {
      {"0: 500Mhz \n1: 1835Mhz *\n2: 2575Mhz \n", 1835},
      {"S: 400Mhz *\n0: 500Mhz \n1: 2100Mhz \n", 400},  // deep sleep; fine-grained: the APU snapshot
      {"0: 96Mhz *\n", 96},
      {"1: 1835MHz *", 1835},
      {"0: 500Mhz \n1: 1835Mhz \n", std::nullopt},  // nothing marked
      {"1: 8.0GT/s, x16 *", std::nullopt},          // a PCIe table
      {"1: 1835 *", std::nullopt},
      {": 1835Mhz *", std::nullopt},
      {"1: -5Mhz *", std::nullopt},
      {"1: 99999999999999999999Mhz *", std::nullopt},
      {"1: 2000000Mhz *", std::nullopt},
      {"*", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, mhz] : cases) EXPECT_EQ(parseDpmClock(text), mhz) << text;

  EXPECT_EQ(busyFromIdle(250, 1000), 0.75);
  EXPECT_EQ(busyFromIdle(1200, 1000), 0.0);  // residency runs ahead of the wall clock at times
  EXPECT_EQ(busyFromIdle(0, 0), std::nullopt);
}

// Names from the PCI ids database: the vendor's device, never a subsystem or
// another vendor's; a damaged file (an endless line, text cut short, more
// than the byte limit) gives no name rather than a wrong one.
TEST(PciIds, DeviceNamesFromTheDatabase) {
  const std::string ids =
      "# comment\n"
      "1002  Advanced Micro Devices, Inc. [AMD/ATI]\n"
      "\t73a5  Navi 21 [Radeon RX 6950 XT]\n"
      "\t\t1002 73bf  Not a device line\n"
      "\t" + std::string(2000, 'x') + "\n"
      "\t73bf  Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]\n"
      "\t1638  Cezanne [Radeon Vega Series / Radeon Vega Mobile Series]\n"
      "10de  NVIDIA Corporation\n"
      "\t2684  AD102 [GeForce RTX 4090]\n"
      "8086  Intel Corporation\n"
      "\t46a6  Alder Lake-P GT2 [Iris Xe Graphics]\n"
      "\t56a0  DG2 [Arc A770]\n"
      "\t9a49  TigerLake-LP GT2\n"
      "C 03  Display controller\n"
      "\t00  VGA compatible controller\n";
  auto lookUp = [&](std::uint16_t vendor, std::uint16_t device, std::size_t limit = kPciIdsMaxBytes) {
    std::istringstream in(ids);
    return pciDeviceName(in, vendor, device, limit);
  };
  EXPECT_EQ(lookUp(0x1002, 0x73bf), "Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]");
  EXPECT_EQ(lookUp(0x8086, 0x9a49), "TigerLake-LP GT2");
  EXPECT_EQ(lookUp(0x10de, 0x2684), "AD102 [GeForce RTX 4090]");
  EXPECT_EQ(lookUp(0x1002, 0x2684), std::nullopt);  // another vendor's device
  EXPECT_EQ(lookUp(0x1002, 0x1002), std::nullopt);  // a subsystem, not a device
  EXPECT_EQ(lookUp(0x1234, 0x0001), std::nullopt);
  EXPECT_EQ(lookUp(0x8086, 0x0003), std::nullopt);  // the classes that follow are no devices
  EXPECT_EQ(lookUp(0x8086, 0x56a0, 200), std::nullopt);  // beyond the byte limit
  std::istringstream cut("1002  AMD\n\t73b");
  EXPECT_EQ(pciDeviceName(cut, 0x1002, 0x73bf), std::nullopt);
  std::istringstream endless(std::string(1 << 20, 'a'));
  EXPECT_EQ(pciDeviceName(endless, 0x1002, 0x73bf), std::nullopt);

  EXPECT_EQ(gpuDisplayName(0x1002, "Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]"), "AMD Radeon RX 6800/6800 XT / 6900 XT");
  EXPECT_EQ(gpuDisplayName(0x8086, "DG2 [Arc A770]"), "Intel Arc A770");
  EXPECT_EQ(gpuDisplayName(0x8086, "TigerLake-LP GT2"), "Intel TigerLake-LP GT2");
  EXPECT_EQ(gpuDisplayName(0x10de, "AD102 [GeForce RTX 4090]"), "NVIDIA GeForce RTX 4090");
  EXPECT_EQ(gpuDisplayName(0x1234, "Odd [AMD thing]"), "GPU AMD thing");
  EXPECT_EQ(gpuDisplayName(0x1002, "Odd []"), "AMD Odd []");
}

}  // namespace
}  // namespace calorim::sysfs
