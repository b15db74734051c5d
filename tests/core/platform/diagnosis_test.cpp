// The diagnosis report: golden reports of fixture machines and of the
// simulated laptop, the description it gives against the facade's, sources
// this user may not read, bounds against a hostile platform, and the privacy
// of serial numbers and UUIDs.

#include "core/diagnosis.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/base/utf8.h"
#include "core/platform/fake/fake_platform.h"
#include "core/platform/linux/data_sources.h"
#include "core/platform/linux/linux_platform.h"
#include "core/platform/simulated/machine_profile.h"
#include "core/platform/simulated/simulated_machine.h"
#include "core/power_metrics.h"
#include "linux_machine_tree.h"
#include "locked_counters.h"
#include "tests/support/golden.h"

namespace calorim {
namespace {

namespace fs = std::filesystem;

constexpr const char* kNoNvml = "/nonexistent/libnvidia-ml.so.1";

// A fixture machine on a clock that only moves when slept on, so reports are fixed.
std::shared_ptr<Platform> linuxMachine(const fs::path& root) {
  return sysfs::makeLinuxPlatform(root, std::make_shared<fake::FakeClock>(), kNoNvml);
}

// `j` as JSON text for a golden file: objects over several lines, a list of
// objects one item per line, anything else compact.
void layOut(const Json& j, std::size_t indent, std::string& out) {
  const std::string inner(indent + 2, ' ');
  if (j.is_object() && !j.empty()) {
    out += "{";
    for (auto it = j.begin(); it != j.end(); ++it) {
      out += (it == j.begin() ? "\n" : ",\n") + inner + Json(it.key()).dump() + ": ";
      layOut(it.value(), indent + 2, out);
    }
    out += "\n" + std::string(indent, ' ') + "}";
  } else if (j.is_array() && !j.empty() && j.front().is_object()) {
    out += "[";
    for (std::size_t i = 0; i < j.size(); ++i) out += (i == 0 ? "\n" : ",\n") + inner + j[i].dump();
    out += "\n" + std::string(indent, ' ') + "]";
  } else {
    out += j.dump();
  }
}

// The report's text with the fixture's root taken out of its paths, as the
// same machine at "/" would show them.
std::string reportText(const Json& report, const fs::path& root) {
  std::string text;
  layOut(report, 0, text);
  text += "\n";
  const std::string prefix = root.string();
  for (std::size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at)) {
    text.erase(at, prefix.size());
  }
  return text;
}

// The facade's description after one sample, in the report's words.
void expectFacadeAgrees(const std::shared_ptr<Platform>& platform, const Json& report) {
  PowerMetrics metrics(platform, StartUpWork::inCreation, EnergyCounters::optional);
  (void)metrics.sample(diagnosis::kSampleSeconds);
  const MachineDescription d = metrics.description();
  const Json& described = report.at("description");
  EXPECT_EQ(described.at("measured"), Json(d.measured.names()));
  EXPECT_EQ(described.at("breakdown"), Json(d.measured.partNames()));
  EXPECT_EQ(described.value("chip", ""), d.chipName);
  EXPECT_EQ(described.at("gpus").size(), d.gpus.size());
  EXPECT_EQ(described.at("cpu").at("logicalCpus"), d.cpu.logicalCpus);
}

TEST(Diagnosis, GoldenReportPerMachine) {
  for (const std::string machine : {"laptop", "desktop", "dualgpu", "server", "epycserver", "armboard", "workstation",
                                    "vm", "no-such-machine", "simulated"}) {
    SCOPED_TRACE(machine);
    const bool simulated = machine == "simulated";
    const fs::path root = simulated ? fs::path("/nonexistent") : fs::path(FIXTURE_DIR) / "linux" / machine;
    const auto platform = [&]() -> std::shared_ptr<Platform> {
      return simulated ? fake::makeSimulatedPlatform(fake::builtinProfile()) : linuxMachine(root);
    };
    const Json report = diagnosis::report(*platform(), simulated);
    EXPECT_GOLDEN(fs::path(GOLDEN_DIR) / ("diagnosis_" + machine + ".json"), reportText(report, root));
    EXPECT_EQ(report.at("simulated"), simulated);
    EXPECT_EQ(report.at("machine").at("name").get<std::string>().ends_with("(simulated)"), simulated);
    // Without any counter the facade does not start.
    if (!report.at("counters").contains("problem")) expectFacadeAgrees(platform(), report);
  }
}

// Energy counters only root may read, sensor files that are a folder, that
// are missing or that hold text, a chip left without inputs: each source is
// listed as unreadable with its reason, and the rest of the report is all there.
TEST(Diagnosis, UnreadableSourcesSayWhy) {
  testing::MachineTree laptop("laptop");
  laptop.copyProc("laptop");
  laptop.makeUnreadable("sys/class/hwmon/hwmon1/temp1_input");
  laptop.remove("sys/class/hwmon/hwmon10/temp1_input");
  laptop.remove("sys/class/thermal/thermal_zone0/temp");
  laptop.write("sys/class/thermal/thermal_zone1/temp", "n/a");
  testing::LockedCounters locked(laptop.root());
  if (!locked.locked()) GTEST_SKIP() << "could not become the user nobody";
  const Json report = diagnosis::report(*linuxMachine(laptop.root()), false);

  EXPECT_EQ(report.at("energyAccess").at("state"), "denied");
  EXPECT_EQ(report.at("counters").at("groups").at(0).at("present"), false);
  EXPECT_FALSE(report.at("counters").at("channels").empty());  // CPU time still reads
  EXPECT_FALSE(report.at("counters").contains("problem"));
  std::string lines;
  for (const Json& source : report.at("sources")) {
    lines += source.at("kind").get<std::string>() + " " + source.at("name").get<std::string>() + ": " +
             (source.at("readable").get<bool>() ? "readable" : source.at("problem").get<std::string>()) + "\n";
  }
  EXPECT_GOLDEN(fs::path(GOLDEN_DIR) / "diagnosis_unreadable_sources.txt", lines);
  EXPECT_FALSE(report.at("description").at("chip").get<std::string>().empty());
  EXPECT_FALSE(report.at("hidSensors").empty());
}

// A host listing no end of sources with long, ill-formed names, sensors and
// channels beyond every bound: each list stops at its bound and says how
// much it left out, each text is cut at a character, and the report prints.
TEST(Diagnosis, BoundsWhatAPlatformGives) {
  class ManySources final : public HostPort {
   public:
    std::optional<std::vector<CpuTicks>> processorTicks() override { return std::nullopt; }
    std::optional<std::string> systemText(std::string_view) override { return std::string(5000, 'x') + "\xff"; }
    std::optional<std::int64_t> systemInteger(std::string_view) override { return std::nullopt; }
    std::optional<std::uint64_t> memoryUsedBytes() override { return std::nullopt; }
    std::optional<std::uint64_t> swapUsedBytes() override { return std::nullopt; }
    std::optional<OsVersion> osVersion() override { return std::nullopt; }
    std::vector<DataSource> dataSources() override {
      // "é" (two bytes) straddles the cut at 256 bytes.
      return std::vector<DataSource>(2000, {"hwmon", std::string(255, 'a') + "\xc3\xa9", "/sys", false, "\xfe"});
    }
  };
  fake::FakeMachine machine;
  machine.platform->host = std::make_unique<ManySources>();
  machine.hid->setSensors(std::vector<HidSensor>(300, {std::string(1000, 's'), 40.04}));
  CounterDelta channels;
  std::vector<ChannelState> states(100, {"P", 1});
  for (int i = 0; i < 3000; ++i) channels.push_back({"CPU Stats", "CPU Core Performance States", "PCPU", "", 0, states});
  machine.counters->pushReading(channels);

  const Json report = diagnosis::report(*machine.platform, false);
  EXPECT_EQ(report.at("sources").size(), diagnosis::kMaxSources);
  EXPECT_EQ(report.at("sourcesOmitted"), 2000 - diagnosis::kMaxSources);
  EXPECT_EQ(report.at("sources").at(0).at("name"), std::string(255, 'a'));
  EXPECT_EQ(report.at("sources").at(0).at("problem"), "\xef\xbf\xbd");
  EXPECT_EQ(report.at("hidSensors").size(), diagnosis::kMaxSensors);
  EXPECT_EQ(report.at("hidSensors").at(0).at("product").get<std::string>().size(), diagnosis::kMaxTextBytes);
  EXPECT_EQ(report.at("hidSensors").at(0).at("celsius"), 40.0);
  const Json& counters = report.at("counters");
  EXPECT_EQ(counters.at("channels").size(), diagnosis::kMaxChannels);
  EXPECT_EQ(counters.at("channelsOmitted"), 3000 - diagnosis::kMaxChannels);
  EXPECT_EQ(counters.at("channels").at(0).at("states").size(), diagnosis::kMaxStates);
  EXPECT_EQ(counters.at("channels").at(0).at("statesOmitted"), 100 - diagnosis::kMaxStates);
  EXPECT_EQ(report.at("description").at("chip").get<std::string>().size(), diagnosis::kMaxTextBytes);
  EXPECT_LT(report.dump().size(), std::size_t{2} << 20);
}

// The Linux backend looks at no more than its bound of folders per kind.
TEST(Diagnosis, LinuxSourcesStopAtTheirBound) {
  testing::MachineTree tree;
  for (std::size_t i = 0; i < sysfs::kMaxSourcesPerKind + 10; ++i) {
    tree.write("sys/class/thermal/thermal_zone" + std::to_string(i) + "/type", "zone" + std::to_string(i));
  }
  const std::vector<DataSource> sources = sysfs::readDataSources(tree.root());
  ASSERT_EQ(sources.size(), sysfs::kMaxSourcesPerKind);
  EXPECT_EQ(sources.back().name, "zone" + std::to_string(sysfs::kMaxSourcesPerKind - 1));
  EXPECT_EQ(sources.back().problem, "missing");
}

// Every value found under a name that holds serial numbers or UUIDs: the
// files of `root` so named, and the members of `json` so named.
void collectSecrets(const fs::path& root, std::vector<std::string>& out) {
  for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
    const std::string name = it->path().filename().string();
    if (!it->is_regular_file() || (name.find("serial") == std::string::npos && name.find("uuid") == std::string::npos &&
                                   name != "unique_id")) {
      continue;
    }
    std::stringstream text;
    text << std::ifstream(it->path()).rdbuf();
    std::string value = text.str();
    while (!value.empty() && (value.back() == '\n' || value.back() == '\0')) value.pop_back();
    if (!value.empty()) out.push_back(value);
  }
}

void collectSecrets(const Json& json, std::vector<std::string>& out) {
  for (const auto& [key, value] : json.items()) {
    std::string lower = key;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool secret = lower.find("serial") != std::string::npos || lower.find("uuid") != std::string::npos ||
                        lower.find("udid") != std::string::npos;
    if (secret && value.is_string()) out.push_back(value.get<std::string>());
    if (value.is_structured()) collectSecrets(value, out);
  }
}

// No serial number or UUID of any fixture machine (the firmware's own added
// to the laptop), nor of the simulated laptop's profile, appears in its report.
TEST(Diagnosis, NoSerialNumbersOrUuids) {
  testing::MachineTree laptop("laptop");
  laptop.copyProc("laptop");
  laptop.write("sys/class/dmi/id/product_serial", "PF3XAMPL");
  laptop.write("sys/class/dmi/id/product_uuid", "4c4c4544-0042-3510-8052-b4c04f4e5a31");
  laptop.write("sys/class/dmi/id/board_serial", "L1HF2XAMPLE");
  std::vector<fs::path> roots = {laptop.root()};
  for (const auto& entry : fs::directory_iterator(fs::path(FIXTURE_DIR) / "linux")) roots.push_back(entry.path());
  for (const fs::path& root : roots) {
    SCOPED_TRACE(root.string());
    std::vector<std::string> secrets;
    collectSecrets(root, secrets);
    const std::string text = diagnosis::report(*linuxMachine(root), false).dump();
    for (const std::string& secret : secrets) EXPECT_EQ(text.find(secret), std::string::npos) << secret;
  }
  std::vector<std::string> secrets;
  collectSecrets(Json::parse(fake::builtinProfileJson()), secrets);
  ASSERT_GE(secrets.size(), 3u);
  const std::string text = diagnosis::report(*fake::makeSimulatedPlatform(fake::builtinProfile()), true).dump();
  for (const std::string& secret : secrets) EXPECT_EQ(text.find(secret), std::string::npos) << secret;
}

}  // namespace
}  // namespace calorim
