#include "probe/calorim_probe.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/platform/fake/fake_platform.h"
#include "core/platform/simulated/simulated_machine.h"
#include "tests/support/golden.h"

#if defined(__linux__)
#include "core/platform/linux/linux_platform.h"
#include "tests/core/platform/linux_machine_clock.h"
#include "tests/core/platform/linux_machine_tree.h"
#endif

namespace calorim::probe {
namespace {

class ProbeTest : public ::testing::Test {
 protected:
  fake::FakeMachine machine;
  std::vector<std::string> lines;
  std::unique_ptr<CalorimProbe> server;

  void SetUp() override {
    machine.counters->pushReading(CounterDelta{{"Energy Model", "", "CPU Energy", "mJ", 0, {}}});
    auto service = std::make_shared<PowerService>(machine.platform);
    server = std::make_unique<CalorimProbe>(service, [this](std::string_view text) {
      EXPECT_TRUE(text.ends_with('\n'));
      lines.emplace_back(text.substr(0, text.size() - 1));
      return true;
    });
  }

  // Sends `line` and returns the one response, or null when none was written.
  Json exchange(std::string_view line) {
    const std::size_t before = lines.size();
    server->handleLine(line);
    EXPECT_LE(lines.size(), before + 1) << line;
    return lines.size() == before ? Json() : Json::parse(lines.back());
  }

  std::string callText(std::string_view name, const Json& arguments = Json::object()) {
    Json request = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/call"}};
    request["params"] = Json{{"name", name}, {"arguments", arguments}};
    return exchange(request.dump())["result"]["content"][0]["text"].get<std::string>();
  }
};

// What only a scripted machine shows: a failed sample is a protocol error, and
// a window whose starting sample failed is missing at its end.
TEST_F(ProbeTest, FailedSamples) {
  machine.counters->pushReading(std::nullopt);
  EXPECT_EQ(callText("power_begin_window", {{"name", "x"}}), R"({"status":"started","window":"x"})");
  EXPECT_EQ(callText("power_end_window", {{"name", "x"}}), R"({"error":"no window named 'x'"})");

  machine.counters->setDeltaFails(true);
  const Json reply = exchange(R"({"id":5,"method":"tools/call","params":{"name":"power_snapshot"}})");
  EXPECT_EQ(reply.dump(), R"({"jsonrpc":"2.0","id":5,"error":{"code":-32000,"message":"Failed to take IOReport sample"}})");
}

// Lines the strict reader refuses (its rules are tested with it) get no
// answer; the request after each is answered as usual.
TEST_F(ProbeTest, LinesTheStrictReaderRefusesAreIgnored) {
  const std::string hostile[] = {
      R"({"jsonrpc":"2.0","id":1,"method":"tools/list","params":)" + std::string(100'000, '[') + "}",
      std::string(R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})") + '\0' + "x",
  };
  for (const std::string& line : hostile) {
    EXPECT_TRUE(exchange(line).is_null());
    EXPECT_EQ(exchange(R"({"jsonrpc":"2.0","id":2,"method":"tools/list"})")["id"], 2);
  }
}

// The refusals of the window store, flagged as errors; refused names are not stored.
TEST_F(ProbeTest, OpenWindowsAreBoundedAndRefusalsFlagged) {
  const auto begin = [&](const std::string& name) { return callText("power_begin_window", {{"name", name}}); };
  for (std::size_t i = 1; i <= PowerMetrics::kMaxWindows; ++i) {
    ASSERT_NE(begin("w" + std::to_string(i)).find("started"), std::string::npos) << i;
  }
  EXPECT_EQ(begin(std::string(1025, 'n')), R"({"error":"window name too long: at most 1024 bytes"})");
  const Json refused =
      exchange(R"({"id":1,"method":"tools/call","params":{"name":"power_begin_window","arguments":{"name":"x"}}})");
  EXPECT_EQ(refused.dump(), R"({"jsonrpc":"2.0","id":1,"result":{"content":[{"type":"text","text":)"
                            R"("{\"error\":\"too many open windows: at most 1024\"}"}],"isError":true}})");
  EXPECT_EQ(callText("power_end_window", {{"name", "x"}}), R"({"error":"no window named 'x'"})");
  EXPECT_NE(callText("power_end_window", {{"name", "w7"}}).find("totalEnergy"), std::string::npos);
  EXPECT_EQ(begin("x"), R"({"status":"started","window":"x"})");
}

TEST_F(ProbeTest, RecordThatCannotBeWrittenBecomesEmptyObject) {
  const ThrottleStatus bad(false, std::nan(""), 0, 0, 0, std::nullopt);
  EXPECT_EQ(encodeRecord(bad), "{}");
}

// A transcript in tests/golden/ is a list of blocks: one request line, every
// line the server wrote for it (none for a notification), then a blank line.
// The requests run in order against one server whose machine moves only when
// the server sleeps on its clock, so every answer, timestamps and measured
// figures included, is fixed; the whole transcript is compared.
void replay(const std::string& name, std::shared_ptr<Platform> platform) {
  const std::filesystem::path path = std::filesystem::path(GOLDEN_DIR) / name;
  std::vector<std::string> requests;
  std::ifstream file(path);
  bool inBlock = false;
  for (std::string line; std::getline(file, line); inBlock = !line.empty()) {
    if (!inBlock && !line.empty()) requests.push_back(line);
  }
  ASSERT_FALSE(requests.empty()) << "no requests in " << path;

  std::string transcript;
  CalorimProbe server(std::make_shared<PowerService>(std::move(platform)), [&](std::string_view text) {
    transcript += text;
    return true;
  });
  for (const std::string& request : requests) {
    transcript += request + "\n";
    server.handleLine(request);
    transcript += "\n";
  }
  EXPECT_GOLDEN(path, transcript);
}

TEST(ProbeGolden, SimulatedLaptop) {
  fake::SimulatedMachine machine(fake::builtinProfile());
  replay("probe_sim.jsonl", machine.platform());
}

#if defined(__linux__)
// The laptop fixture, its counters advancing at a steady load while the server sleeps.
TEST(ProbeGolden, LinuxLaptop) {
  testing::MachineTree tree("laptop");
  tree.copyProc("laptop");
  auto clock = std::make_shared<testing::MachineClock>(tree.root());
  testing::setSteadyLaptopLoad(*clock);
  replay("probe_linux_laptop.jsonl", sysfs::makeLinuxPlatform(tree.root(), clock, ""));
}
#endif

TEST(ProbeLoop, DropsOverlongLinesAndStopsWhenOutputCloses) {
  fake::FakeMachine machine;
  machine.counters->pushReading(CounterDelta{{"Energy Model", "", "CPU Energy", "mJ", 0, {}}});
  std::vector<std::string> out;
  CalorimProbe server(std::make_shared<PowerService>(machine.platform), [&](std::string_view text) {
    out.emplace_back(text);
    return out.size() < 3;  // the reader goes away after the third message
  });
  std::string input = R"({"id":1,"method":"tools/list"})" "\r\n";
  input += std::string(CalorimProbe::kMaxLineBytes + 10, '{') + "\n";
  input += R"({"id":2,"method":"ping"})" "\n";
  input += R"({"id":3,"method":"ping"})" "\n";
  input += R"({"id":4,"method":"ping"})" "\n";
  input += R"({"id":5,"method":"ping"})";  // no terminator
  std::istringstream in(input);
  server.run(in);
  ASSERT_EQ(out.size(), 3u);  // stopped once output closed
  EXPECT_EQ(Json::parse(out[1])["id"], 2);
}

}  // namespace
}  // namespace calorim::probe
