// Temperatures and fans: the Linux sensor and SMC ports over hwmon trees.

#include <bit>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/base/little_endian.h"
#include "core/platform/linux/hwmon.h"
#include "core/platform/linux/linux_hid.h"
#include "core/platform/linux/linux_smc.h"
#include "core/platform/linux/sysfs_dir.h"
#include "linux_machine_tree.h"

namespace calorim::sysfs {
namespace {

namespace fs = std::filesystem;
using calorim::testing::MachineTree;
using detail::HidSource;

const fs::path kMachines = fs::path(FIXTURE_DIR) / "linux";


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
  for (const char* other : {"temp_input", "temp1_label", "fan1_input", "temp1x_input", "tempA_input", "temp1input",
                            "temp-1_input", "temp99999999999_input"}) {
    EXPECT_FALSE(parseChannelIndex(other, "temp", "input").has_value()) << other;
  }
  EXPECT_EQ(parseMillidegrees("-5000"), -5.0);
  EXPECT_FALSE(parseMillidegrees("").has_value());
  EXPECT_FALSE(parseMillidegrees("48.6").has_value());

  EXPECT_FALSE(naturalLess("hwmon10", "hwmon2"));
  EXPECT_TRUE(naturalLess("1-2", "1-10"));
  EXPECT_TRUE(naturalLess("1-9", "usb1"));
  EXPECT_TRUE(naturalLess("a01", "a1") != naturalLess("a1", "a01"));
  EXPECT_FALSE(naturalLess("pd0", "pd0"));
}

SmcParamBlock request(const std::string& key, std::uint8_t command, std::uint32_t size = 0) {
  SmcParamBlock b{};
  storeLE32(b, 0, smc::keyCode(key));
  storeLE32(b, 28, size);
  b[42] = command;
  return b;
}

// Whether the key's information call succeeds.
bool knows(SmcConnection& c, const std::string& key) { return c.call(2, request(key, 9)).has_value(); }

std::optional<std::uint8_t> readByte(SmcConnection& c, const std::string& key) {
  const auto out = c.call(2, request(key, 5, 1));
  if (!out) return std::nullopt;
  return (*out)[48];
}

std::optional<float> readFloat(SmcConnection& c, const std::string& key) {
  const auto out = c.call(2, request(key, 5, 4));
  if (!out) return std::nullopt;
  return std::bit_cast<float>(loadLE32(*out, 48));
}

TEST(LinuxSmc, AnswersFanKeysOnly) {
  // What each machine's fans read is in the golden files of the fixture machines.
  LinuxSmc laptop(kMachines / "laptop");
  auto c = laptop.open();
  ASSERT_NE(c, nullptr);
  EXPECT_FALSE(knows(*c, "F1Ac"));
  // Nothing but fans: temperature keys, other selectors and commands fail.
  EXPECT_FALSE(knows(*c, "Tp00"));
  EXPECT_FALSE(c->call(3, request("FNum", 9)).has_value());
  EXPECT_FALSE(c->call(2, request("FNum", 7)).has_value());
}

TEST(LinuxHwmon, SensorsAndFansReadAfresh) {
  MachineTree tree("desktop");
  tree.makeUnreadable("sys/class/hwmon/hwmon3/fan2_input");
  LinuxSmc smc(tree.root());
  auto c = smc.open();
  EXPECT_EQ(readByte(*c, "FNum"), 2);  // a fan that does not read at open is not a fan

  tree.write("sys/class/hwmon/hwmon3/fan1_input", "1420");
  EXPECT_EQ(readFloat(*c, "F1Ac"), 1420.0f);
  // A value that is no speed fails the call; the key itself stays known.
  tree.write("sys/class/hwmon/hwmon3/fan1_input", "-1");
  EXPECT_FALSE(readFloat(*c, "F1Ac").has_value());
  EXPECT_TRUE(knows(*c, "F1Ac"));

  LinuxHid hid(tree.root());
  auto client = hid.createClient();
  client->setMatching(0xFF00, 5);
  tree.write("sys/class/hwmon/hwmon1/temp3_input", "61500");
  EXPECT_EQ(client->copyServices()->at(1), (HidSensor{"pACC ccd1", 61.5}));
  tree.write("sys/class/hwmon/hwmon1/temp3_input", "garbage");
  EXPECT_EQ(client->copyServices()->at(1), (HidSensor{"pACC ccd1", std::nullopt}));
  client->setMatching(0x0001, 6);  // a keyboard's usage: no temperature sensors match
  EXPECT_EQ(client->copyServices(), std::vector<HidSensor>{});
}

TEST(LinuxSmc, AtMostTenFans) {
  MachineTree tree;
  for (int i = 1; i <= 12; ++i) tree.write("sys/class/hwmon/hwmon0/fan" + std::to_string(i) + "_input", "900");
  tree.write("sys/class/hwmon/hwmon0/name", "nct6799");
  EXPECT_EQ(detail::findFanInputs(tree.root()).size(), 10u);
  LinuxSmc smc(tree.root());
  auto c = smc.open();
  EXPECT_EQ(readByte(*c, "FNum"), 10);
  EXPECT_EQ(readFloat(*c, "F9Ac"), 900.0f);
}

}  // namespace
}  // namespace calorim::sysfs
