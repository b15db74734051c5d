#include "core/system_info.h"

#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "core/platform/fake/fake_platform.h"
#include "core/base/utf8.h"
#include "tests/core/line_cases.h"

namespace calorim {
namespace {

TEST(SystemInfoReaders, CoreCountsByLevelNameWithLogicalFallback) {
  fake::FakeHost host;
  host.setSystemInteger("hw.logicalcpu", 10);
  EXPECT_EQ(coreCounts(host), std::make_pair(std::int64_t{0}, std::int64_t{10}));

  host.setSystemInteger("hw.perflevel0.logicalcpu", 8);
  host.setSystemText("hw.perflevel0.name", "Performance");
  host.setSystemInteger("hw.perflevel1.logicalcpu", 4);
  EXPECT_EQ(coreCounts(host), std::make_pair(std::int64_t{4}, std::int64_t{8}));

  host.setSystemInteger("hw.perflevel0.logicalcpu", 4);
  host.setSystemText("hw.perflevel0.name", "Efficiency");
  host.setSystemInteger("hw.perflevel1.logicalcpu", 8);
  EXPECT_EQ(coreCounts(host), std::make_pair(std::int64_t{4}, std::int64_t{8}));

  host.setSystemInteger("hw.perflevel0.logicalcpu", 0);
  host.setSystemInteger("hw.perflevel1.logicalcpu", 0);
  EXPECT_EQ(coreCounts(host), std::make_pair(std::int64_t{0}, std::int64_t{10}));
}

TEST(SystemInfoReaders, MachineNameFallsBackOnAnythingUnusable) {
  fake::FakeHardwareReport reports;
  EXPECT_EQ(machineName(reports), "Unknown Mac");
  EXPECT_LINE_CASES(GOLDEN_DIR "/machine_name_cases.txt", [&](const std::string& json) {
    reports.setReport("SPHardwareDataType", json);
    return machineName(reports);
  });
}

TEST(SystemInfoReaders, AssemblyWithDefaultsAndRealValues) {
  fake::FakeMachine empty;
  const SystemInfo none = systemInfo(*empty.platform);
  EXPECT_EQ(none, SystemInfo("", 0, 0, 0, 0.0, "Unknown Mac", "Unknown"));

  fake::FakeMachine m;
  m.host->setSystemText("machdep.cpu.brand_string", std::string("Apple M3 Pro\0junk", 17));
  m.host->setSystemInteger("hw.logicalcpu", 12);
  m.host->setSystemInteger("hw.memsize", 25'769'803'776);
  m.host->setOsVersion(OsVersion{"macOS", 15, 0, 1});
  m.registry->addService("AGXAccelerator", RegistryDictionary{{"gpu-core-count", 18}});
  m.registry->addService("AGXAccelerator", RegistryDictionary{{"gpu-core-count", 99}});
  m.hardwareReport->setReport("SPHardwareDataType", R"({"SPHardwareDataType":[{"machine_name":"MacBook Pro"}]})");
  EXPECT_EQ(systemInfo(*m.platform),
            SystemInfo("Apple M3 Pro", 0, 12, 18, 24.0, "MacBook Pro", "macOS 15.0.1"));

  m.registry->clear();
  m.registry->addService("AGXAccelerator", RegistryDictionary{{"gpu-core-count", "18"}});
  EXPECT_EQ(gpuCoreCount(*m.registry), 0);
  m.host->setOsVersion(OsVersion{"Linux", 6, 1, 0});
  EXPECT_EQ(osVersion(*m.host), "Linux 6.1.0");
  m.host->setSystemText("machdep.cpu.brand_string", "Chip \xff\xfe");
  EXPECT_EQ(chipName(*m.host), "Chip \xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf8, ValidityAndRepair) {
  EXPECT_TRUE(isValidUtf8("plain \u00B0C \U0001F600"));
  EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(isValidUtf8("\xE2\x82"));          // cut short
  EXPECT_EQ(repairUtf8("a\xE2\x82" "b"), "a\xEF\xBF\xBD\xEF\xBF\xBD" "b");
}

}  // namespace
}  // namespace calorim
