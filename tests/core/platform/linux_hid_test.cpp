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

// Names across chips and zones are in the golden files of the workstation and EPYC fixtures.
TEST(LinuxHid, PackageZoneStandsInWithoutCpuChip) {
  MachineTree tree;
  tree.write("sys/class/hwmon/hwmon0/name", "amdgpu");  // the GPU set's
  tree.write("sys/class/hwmon/hwmon0/temp1_input", "40000");
  tree.write("sys/class/thermal/thermal_zone0/type", "x86_pkg_temp");
  tree.write("sys/class/thermal/thermal_zone0/temp", "50000");
  EXPECT_EQ(detail::findHidSources(tree.root()),
            (std::vector<HidSource>{{"pACC package 0", tree.root() / "sys/class/thermal/thermal_zone0/temp"}}));
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
