#include "core/platform/linux/linux_hid.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/iohid_thermal.h"
#include "core/platform/linux/hwmon.h"
#include "core/platform/linux/sysfs_dir.h"
#include "linux_machine_tree.h"

namespace calorim::sysfs {
namespace {

namespace fs = std::filesystem;
using calorim::testing::MachineTree;
using detail::HidSource;

const fs::path kMachines = fs::path(FIXTURE_DIR) / "linux";

std::vector<std::string> namesOf(const fs::path& root) {
  std::vector<std::string> names;
  for (const HidSource& s : detail::findHidSources(root)) names.push_back(s.product);
  return names;
}

TEST(LinuxHid, ClientReadsAfreshAndHonoursMatching) {
  MachineTree tree("laptop");
  LinuxHid hid(tree.root());
  auto client = hid.createClient();
  client->setMatching(0xFF00, 5);
  tree.write("sys/class/hwmon/hwmon3/temp2_input", "61500");
  const auto sensors = client->copyServices();
  ASSERT_TRUE(sensors.has_value());
  EXPECT_EQ((*sensors)[1], (HidSensor{"PMU tdie0", 61.5}));
  tree.write("sys/class/hwmon/hwmon3/temp2_input", "garbage");
  EXPECT_EQ((*client->copyServices())[1], (HidSensor{"PMU tdie0", std::nullopt}));

  client->setMatching(0x0001, 6);  // a keyboard's usage: no temperature sensors match
  EXPECT_EQ(client->copyServices(), std::vector<HidSensor>{});
}

TEST(LinuxHid, NamesAcrossChipsAndZones) {
  MachineTree tree;
  // Two packages, the second found first: cores of package 1 continue after package 0's.
  tree.write("sys/class/hwmon/hwmon0/name", "coretemp");
  tree.write("sys/class/hwmon/hwmon0/temp1_label", "Package id 1");
  tree.write("sys/class/hwmon/hwmon0/temp1_input", "50000");
  tree.write("sys/class/hwmon/hwmon0/temp2_label", "Core 0");
  tree.write("sys/class/hwmon/hwmon0/temp2_input", "50000");
  tree.write("sys/class/hwmon/hwmon1/name", "coretemp");
  tree.write("sys/class/hwmon/hwmon1/temp1_label", "Package id 0");
  tree.write("sys/class/hwmon/hwmon1/temp1_input", "50000");
  tree.write("sys/class/hwmon/hwmon1/temp2_label", "Core 0");
  tree.write("sys/class/hwmon/hwmon1/temp2_input", "50000");
  tree.write("sys/class/hwmon/hwmon1/temp3_label", "Core 4");
  tree.write("sys/class/hwmon/hwmon1/temp3_input", "50000");
  // A GPU without a DRM link is named after its chip folder; nouveau has no labels.
  tree.write("sys/class/hwmon/hwmon2/name", "nouveau");
  tree.write("sys/class/hwmon/hwmon2/temp1_input", "45000");
  // An old driver keeps its files in the device folder.
  tree.write("sys/class/hwmon/hwmon10/device/name", "radeon");
  tree.write("sys/class/hwmon/hwmon10/device/temp1_input", "40000");
  // amdgpu belongs to the GPU set.
  tree.write("sys/class/hwmon/hwmon11/name", "amdgpu");
  tree.write("sys/class/hwmon/hwmon11/temp1_label", "edge");
  tree.write("sys/class/hwmon/hwmon11/temp1_input", "40000");
  tree.write("sys/class/thermal/thermal_zone0/type", "x86_pkg_temp");  // coretemp covers it
  tree.write("sys/class/thermal/thermal_zone0/temp", "50000");
  tree.write("sys/class/thermal/thermal_zone1/type", "gpu-thermal");
  tree.write("sys/class/thermal/thermal_zone1/temp", "40000");
  tree.write("sys/class/thermal/thermal_zone2/type", "cpu-thermal");  // a CPU chip exists
  tree.write("sys/class/thermal/thermal_zone2/temp", "40000");
  EXPECT_EQ(namesOf(tree.root()),
            (std::vector<std::string>{"pACC package 0", "PMU tdie0", "PMU tdie4", "pACC package 1", "PMU tdie5",
                                      "GPU hwmon2", "GPU hwmon10", "GPU gpu-thermal"}));

  // Tdie beats Tctl; a second AMD chip says which package it is; the package zone is covered.
  MachineTree amd;
  amd.write("sys/class/thermal/thermal_zone0/type", "x86_pkg_temp");
  amd.write("sys/class/thermal/thermal_zone0/temp", "50000");
  for (const char* chip : {"hwmon0", "hwmon1"}) {
    const std::string dir = std::string("sys/class/hwmon/") + chip;
    amd.write(dir + "/name", chip == std::string("hwmon0") ? "k10temp" : "zenpower");
    amd.write(dir + "/temp1_label", "Tctl");
    amd.write(dir + "/temp1_input", "60000");
    amd.write(dir + "/temp2_label", "Tdie");
    amd.write(dir + "/temp2_input", "50000");
    amd.write(dir + "/temp3_label", "Tccd2");
    amd.write(dir + "/temp3_input", "50000");
  }
  const std::vector<HidSource> sources = detail::findHidSources(amd.root());
  ASSERT_EQ(sources.size(), 4u);
  EXPECT_EQ(sources[0], (HidSource{"pACC package 0", amd.root() / "sys/class/hwmon/hwmon0/temp2_input"}));
  EXPECT_EQ(sources[1].product, "pACC ccd2");
  EXPECT_EQ(sources[2].product, "pACC package 1");
  EXPECT_EQ(sources[3].product, "pACC package 1 ccd2");

  // Without a CPU chip (coretemp not loaded) the package zone stands in.
  amd.remove("sys/class/hwmon");
  EXPECT_EQ(detail::findHidSources(amd.root()),
            (std::vector<HidSource>{{"pACC package 0", amd.root() / "sys/class/thermal/thermal_zone0/temp"}}));
}

TEST(SysfsHwmon, ParsersAndOrder) {
  EXPECT_EQ(parseChannelIndex("temp12_input", "temp", "input"), 12);
  EXPECT_EQ(parseChannelIndex("fan1_input", "fan", "input"), 1);
  for (const char* other : {"temp_input", "temp1_label", "fan1_input", "temp1x_input", "tempA_input", "temp1input",
                            "temp-1_input", "temp99999999999_input"}) {
    EXPECT_FALSE(parseChannelIndex(other, "temp", "input").has_value()) << other;
  }
  EXPECT_EQ(parseMillidegrees("48625\n"), 48.625);
  EXPECT_EQ(parseMillidegrees("-5000"), -5.0);
  EXPECT_FALSE(parseMillidegrees("").has_value());
  EXPECT_FALSE(parseMillidegrees("48.6").has_value());

  EXPECT_TRUE(naturalLess("hwmon2", "hwmon10"));
  EXPECT_FALSE(naturalLess("hwmon10", "hwmon2"));
  EXPECT_TRUE(naturalLess("1-2", "1-10"));
  EXPECT_TRUE(naturalLess("1-9", "usb1"));
  EXPECT_TRUE(naturalLess("a01", "a1") != naturalLess("a1", "a01"));
  EXPECT_FALSE(naturalLess("pd0", "pd0"));
  EXPECT_EQ(listDirectory(kMachines / "laptop/sys/class/hwmon"),
            (std::vector<std::string>{"hwmon0", "hwmon1", "hwmon2", "hwmon3", "hwmon10"}));
  EXPECT_TRUE(listDirectory(kMachines / "vm/sys/class/hwmon").empty());
}

}  // namespace
}  // namespace calorim::sysfs
