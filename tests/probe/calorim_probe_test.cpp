#include "probe/calorim_probe.h"

#include <gtest/gtest.h>

#include <sstream>

#include "core/platform/fake/fake_platform.h"

namespace calorim::probe {
namespace {

class ProbeTest : public ::testing::Test {
 protected:
  fake::FakeMachine machine;
  std::vector<std::string> lines;
  std::unique_ptr<CalorimProbe> server;

  void SetUp() override {
    machine.counters->pushReading(CounterDelta{{"Energy Model", "", "CPU Energy", "mJ", 0, {}}});
    machine.host->setSystemText("machdep.cpu.brand_string", "Apple M3 Pro");
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
    if (lines.size() == before) return nullptr;
    EXPECT_EQ(lines.back().find('\n'), std::string::npos);
    return Json::parse(lines.back());
  }

  std::string callText(std::string_view name, const Json& arguments = Json::object()) {
    Json request = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/call"}};
    request["params"] = Json{{"name", name}, {"arguments", arguments}};
    const Json reply = exchange(request.dump());
    EXPECT_EQ(reply["result"]["content"].size(), 1u) << reply.dump();
    EXPECT_EQ(reply["result"]["content"][0]["type"], "text");
    return reply["result"]["content"][0]["text"].get<std::string>();
  }
};

TEST_F(ProbeTest, IdsComeBackAsTheyWereSent) {
  EXPECT_EQ(exchange(R"({"jsonrpc":"2.0","id":7,"method":"tools/list"})")["id"].dump(), "7");
  EXPECT_EQ(exchange(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18"}})")
                .dump(),
            R"({"jsonrpc":"2.0","id":0,"result":{"protocolVersion":"2024-11-05","capabilities":{"tools":{}},)"
            R"("serverInfo":{"name":"calorim-power","version":"0.2.0"}}})");
  EXPECT_EQ(exchange(R"({"id":"abc","method":"tools/list"})")["id"], "abc");
  EXPECT_TRUE(exchange(R"({"method":"tools/list"})")["id"].is_null());
  EXPECT_TRUE(exchange(R"({"id":null,"method":"tools/list"})")["id"].is_null());
  EXPECT_EQ(exchange(R"({"id":-3,"method":"tools/list"})")["id"].dump(), "-3");
}

TEST_F(ProbeTest, LinesThatGetNoAnswer) {
  for (const char* line : {"", "\r", "[1,2]", "{not json", "42", R"({"method":"notifications/initialized"})",
                           R"({"method":"notifications/cancelled","params":{"requestId":3}})",
                           R"({"id":4,"method":"notifications/anything"})"}) {
    EXPECT_TRUE(exchange(line).is_null()) << line;
  }
  EXPECT_TRUE(lines.empty());
}

TEST_F(ProbeTest, UnknownMethodsAndCrLf) {
  Json reply = exchange(R"({"id":2,"method":"ping"})");
  EXPECT_EQ(reply["error"]["code"], -32601);
  EXPECT_EQ(reply["error"]["message"], "Unknown method: ping");
  EXPECT_EQ(exchange(R"({"id":3,"method":5})")["error"]["message"], "Unknown method: ");
  reply = exchange("{\"id\":9,\"method\":\"tools/list\"}\r");
  EXPECT_EQ(reply["result"]["tools"].size(), 7u);
}

TEST_F(ProbeTest, CatalogueWordForWord) {
  const Json tools = CalorimProbe::toolList();
  ASSERT_EQ(tools.size(), 7u);
  std::vector<std::string> names;
  for (const Json& t : tools) {
    names.push_back(t["name"]);
    EXPECT_EQ(t["inputSchema"].size(), 2u);
    EXPECT_EQ(t["inputSchema"]["type"], "object");
    EXPECT_FALSE(t["inputSchema"].contains("required"));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"power_snapshot", "power_begin_window", "power_end_window",
                                             "power_is_throttling", "power_headroom", "power_cooldown",
                                             "power_system_info"}));
  EXPECT_EQ(tools[5].dump(),
            R"({"name":"power_cooldown","description":"Wait for temperature to drop below threshold",)"
            R"("inputSchema":{"type":"object","properties":{"target_temp":{"type":"number",)"
            "\"description\":\"Target temp in \u00B0C (default 80)\"}}}}");
  EXPECT_EQ(tools[0]["inputSchema"]["properties"].dump(), "{}");
}

TEST_F(ProbeTest, WindowsByNameWithDefaultsAndEscaping) {
  EXPECT_EQ(callText("power_begin_window"), R"({"status":"started","window":"default"})");
  const Json energy = Json::parse(callText("power_end_window"));
  EXPECT_TRUE(energy.contains("totalEnergy"));
  EXPECT_EQ(callText("power_end_window"), R"({"error":"no window named 'default'"})");

  const std::string odd = "a \"quoted\" \\ name\n\x01";
  const Json started = Json::parse(callText("power_begin_window", {{"name", odd}}));
  EXPECT_EQ(started["window"], odd);
  EXPECT_EQ(Json::parse(callText("power_end_window", {{"name", "nope\""}}))["error"], "no window named 'nope\"'");
  EXPECT_EQ(Json::parse(callText("power_begin_window", {{"name", 5}}))["window"], "default");

  // A window whose starting sample failed is reported missing at its end.
  machine.counters->pushReading(std::nullopt);
  EXPECT_EQ(callText("power_begin_window", {{"name", "x"}}), R"({"status":"started","window":"x"})");
  EXPECT_EQ(callText("power_end_window", {{"name", "x"}}), R"({"error":"no window named 'x'"})");
}

TEST_F(ProbeTest, ToolsReturnRecordsAndFailuresBecomeErrors) {
  const Json snapshot = Json::parse(callText("power_snapshot"));
  EXPECT_EQ(snapshot["duration"], 1.0);
  EXPECT_EQ(snapshot.size(), 19u);
  EXPECT_EQ(Json::parse(callText("power_is_throttling")).dump(),
            R"({"throttling":false,"cpuTemp":0.0,"gpuTemp":0.0,"gpuFreqMHz":0.0,"gpuUsage":0.0})");
  EXPECT_EQ(Json::parse(callText("power_headroom"))["estimatedTDPW"], 35.0);
  EXPECT_EQ(Json::parse(callText("power_system_info"))["chipName"], "Apple M3 Pro");
  EXPECT_EQ(callText("no_such_tool"), R"({"error":"unknown tool: no_such_tool"})");
  EXPECT_EQ(Json::parse(exchange(R"({"id":1,"method":"tools/call"})")["result"]["content"][0]["text"].get<std::string>()),
            Json::parse(R"({"error":"unknown tool: "})"));

  machine.counters->setDeltaFails(true);
  const Json reply = exchange(R"({"id":5,"method":"tools/call","params":{"name":"power_snapshot"}})");
  EXPECT_EQ(reply["error"]["code"], -32000);
  EXPECT_EQ(reply["error"]["message"], "Failed to take IOReport sample");
  EXPECT_EQ(reply["id"], 5);
}

TEST_F(ProbeTest, CooldownArgumentsAndProgress) {
  machine.hid->setSensors(std::vector<HidSensor>{{"pACC MTR Temp Sensor0", 75.0}});
  Json result = Json::parse(callText("power_cooldown", {{"target_temp", 70}}));
  EXPECT_EQ(result["cooledDown"], false);
  EXPECT_EQ(result["waitedSeconds"], 60.0);
  result = Json::parse(callText("power_cooldown", {{"target_temp", "90"}}));  // not a number: 80
  EXPECT_EQ(result["cooledDown"], true);

  lines.clear();
  server->handleLine(R"({"id":8,"method":"tools/call","params":{"name":"power_cooldown","arguments":{"target_temp":10},"_meta":{"progressToken":"tok"}}})");
  ASSERT_EQ(lines.size(), 61u);
  const Json first = Json::parse(lines.front());
  EXPECT_EQ(first["method"], "notifications/progress");
  EXPECT_EQ(first["params"]["progressToken"], "tok");
  EXPECT_EQ(first["params"]["progress"], 1.0);
  EXPECT_EQ(first["params"]["total"], 60.0);
  EXPECT_EQ(Json::parse(lines.back())["id"], 8);
}

TEST_F(ProbeTest, RecordThatCannotBeWrittenBecomesEmptyObject) {
  const ThrottleStatus bad(false, std::nan(""), 0, 0, 0, std::nullopt);
  EXPECT_EQ(encodeRecord(bad), "{}");
}

TEST(ProbeLoop, ReadsUntilEndOfInputAndDropsOverlongLines) {
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

  std::vector<std::string> all;
  CalorimProbe reader(std::make_shared<PowerService>(machine.platform), [&](std::string_view text) {
    all.emplace_back(text);
    return true;
  });
  std::istringstream last(R"({"id":5,"method":"ping"})");
  reader.run(last);
  EXPECT_EQ(all.size(), 1u);
  std::istringstream nothing("");
  reader.run(nothing);
  EXPECT_EQ(all.size(), 1u);
}

}  // namespace
}  // namespace calorim::probe
