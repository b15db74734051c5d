#include "core/platform/linux/linux_smc.h"

#include <bit>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "core/base/little_endian.h"
#include "linux_machine_tree.h"

namespace calorim::sysfs {
namespace {

namespace fs = std::filesystem;
using calorim::testing::MachineTree;

const fs::path kMachines = fs::path(FIXTURE_DIR) / "linux";

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

TEST(LinuxSmc, FansFoundAtOpenAndReadAfresh) {
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
