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
#include "core/platform/linux/linux_platform.h"
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
    for (const ChannelPower& c : s.energyBreakdown().other()) {
      out << m.name << ": other " << c.name() << " " << c.watts() << " W\n";
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

}  // namespace
}  // namespace calorim::sysfs
