#include "probe/calorim_probe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "core/platform/fake/fake_platform.h"
#include "core/platform/simulated/simulated_machine.h"
#include "probe/tool_catalogue.h"
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
  std::size_t linesUntilOutputCloses = SIZE_MAX;
  std::unique_ptr<CalorimProbe> server;

  void SetUp() override {
    machine.counters->pushReading(CounterDelta{{"Energy Model", "", "CPU Energy", "mJ", 0, {}}});
    auto service = std::make_shared<PowerService>(machine.platform);
    server = std::make_unique<CalorimProbe>(service, [this](std::string_view text) {
      EXPECT_TRUE(text.ends_with('\n'));
      lines.emplace_back(text.substr(0, text.size() - 1));
      return lines.size() < linesUntilOutputCloses;
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

// The CPU power of the sample shared out, the list cut at `limit` with the
// rest in "otherPowerW"; a machine whose processes cannot be listed says so;
// a failed sample fails as a snapshot does. Arguments out of range are in the
// golden transcripts.
TEST_F(ProbeTest, TopProcesses) {
  const auto energy = [](std::int64_t mj) { return CounterDelta{{"Energy Model", "", "CPU Energy", "mJ", mj, {}}}; };
  const auto table = [](std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t busy) {
    return ProcessTable{{1'000'000'000, 100},
                        {{7, "Web (Content)", 501, 1, a, std::nullopt},
                         {8, "x", 0, 1, b, std::nullopt},
                         {9, "y", 0, 1, c, std::nullopt}},
                        busy,
                        0};
  };
  // Set up with 0 mJ: 4 W over the one-second sample.
  machine.counters->pushReading(energy(4000));
  // Every reading 50, 30 and 10 ticks later, the machine 100 busier.
  std::uint64_t readings = 0;
  machine.processes->setTableSource([&] {
    const std::uint64_t n = readings++;
    return std::optional(table(50 * n, 30 * n, 10 * n, 100 * n));
  });
  const Json top = Json::parse(callText("power_top_processes", {{"limit", 2}}));
  EXPECT_EQ(top["duration"], 1.0);
  EXPECT_EQ(top["method"], "cpuTimeShare");
  EXPECT_NEAR(top["cpuPowerW"].get<double>(), 4.0, 1e-12);
  ASSERT_EQ(top["processes"].size(), 2U);
  const Json& first = top["processes"][0];
  EXPECT_EQ(first["pid"], 7);
  EXPECT_EQ(first["name"], "Web (Content)");
  EXPECT_NEAR(first["cpuPercent"].get<double>(), 50.0, 1e-9);
  EXPECT_NEAR(first["powerW"].get<double>(), 2.0, 1e-9);
  EXPECT_NEAR(first["energyJ"].get<double>(), 2.0, 1e-9);
  EXPECT_NEAR(top["processes"][1]["powerW"].get<double>(), 1.2, 1e-9);
  // The third process (0.4 W) and the time no process used (0.4 W).
  EXPECT_NEAR(top["otherPowerW"].get<double>(), 0.8, 1e-9);
  const std::vector<std::string> keys = {"duration", "method", "cpuPowerW", "processes", "otherPowerW"};
  std::vector<std::string> order;
  for (const auto& [key, value] : top.items()) order.push_back(key);
  EXPECT_EQ(order, keys);

  machine.processes->pushTable(std::nullopt);
  EXPECT_EQ(callText("power_top_processes"), R"({"error":"the processes of this machine cannot be listed"})");

  machine.counters->setDeltaFails(true);
  const Json failed = exchange(R"({"id":5,"method":"tools/call","params":{"name":"power_top_processes"}})");
  EXPECT_EQ(failed["error"]["code"], -32000);
}

// A record that JSON cannot carry is an error, not a record that is not there.
TEST_F(ProbeTest, RecordThatCannotBeWrittenIsAnError) {
  const ToolResult result = recordResult(ThrottleStatus(false, std::nan(""), 0, 0, 0, std::nullopt));
  EXPECT_TRUE(result.isError);
  EXPECT_EQ(result.text, R"({"error":"the reading holds a number that JSON cannot carry"})");
  EXPECT_TRUE(result.structured.is_null());
}

// The revision a host asks for decides what it sees: annotations and
// instructions from "2025-03-26" on, titles, output schemas and structured
// results from "2025-06-18" on. A host that never initializes sees the oldest.
TEST_F(ProbeTest, TheAskedRevisionDecidesWhatTheHostSees) {
  struct Case {
    std::optional<Json> asked;  // std::nullopt: no initialize at all
    const char* answered;
    bool annotated;
    bool typed;
  };
  const Case cases[] = {
      {std::nullopt, "2024-11-05", false, false},   {Json("2024-11-05"), "2024-11-05", false, false},
      {Json("2025-03-26"), "2025-03-26", true, false}, {Json("2025-06-18"), "2025-06-18", true, true},
      {Json("2025-11-25"), "2025-11-25", true, true},  {Json("2099-01-01"), "2025-11-25", true, true},
      {Json(20251125), "2025-11-25", true, true},      {Json(), "2025-11-25", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.asked ? c.asked->dump() : "no initialize");
    SetUp();
    if (c.asked) {
      Json params = Json::object();
      if (!c.asked->is_null()) params["protocolVersion"] = *c.asked;
      const Json init = exchange(Json{{"id", 0}, {"method", "initialize"}, {"params", params}}.dump())["result"];
      EXPECT_EQ(init["protocolVersion"], c.answered);
      EXPECT_EQ(init.contains("instructions"), c.annotated);
    }
    EXPECT_EQ(server->protocolVersion(), c.answered);
    const Json tools = exchange(R"({"id":1,"method":"tools/list"})")["result"]["tools"];
    ASSERT_EQ(tools.size(), toolCatalogue().size());
    for (const Json& tool : tools) {
      EXPECT_EQ(tool.contains("annotations"), c.annotated) << tool["name"];
      EXPECT_EQ(tool.contains("title"), c.typed) << tool["name"];
      EXPECT_EQ(tool.contains("outputSchema"), c.typed) << tool["name"];
      EXPECT_FALSE(tool["inputSchema"].contains("required")) << tool["name"];
    }
    const Json result = exchange(R"({"id":2,"method":"tools/call","params":{"name":"power_system_info"}})")["result"];
    EXPECT_EQ(result.contains("structuredContent"), c.typed);
    if (c.typed) {
      EXPECT_EQ(result["structuredContent"], Json::parse(result["content"][0]["text"].get<std::string>()));
    }
  }
}

// Checks `value` against `schema` (the parts the output schemas use: type,
// properties, required, additionalProperties false, items), noting every
// schema path a value reached. Returns the first mismatch, or "".
std::string schemaMismatch(const Json& value, const Json& schema, const std::string& path, std::set<std::string>& reached) {
  reached.insert(path);
  const std::string type = schema.at("type");
  const bool typed = type == "object"    ? value.is_object()
                     : type == "array"   ? value.is_array()
                     : type == "string"  ? value.is_string()
                     : type == "boolean" ? value.is_boolean()
                     : type == "integer" ? value.is_number_integer()
                                         : type == "number" && value.is_number();
  if (!typed) return path + " is not of type " + type + ": " + value.dump();
  if (type == "object") {
    if (schema.at("additionalProperties") != false) return path + " allows members the writer never writes";
    for (const auto& [key, member] : value.items()) {
      if (!schema["properties"].contains(key)) return path + "." + key + " is written but not in the schema";
      if (std::string m = schemaMismatch(member, schema["properties"][key], path + "." + key, reached); !m.empty()) return m;
    }
    for (const Json& key : schema.at("required")) {
      if (!value.contains(key.get<std::string>())) return path + "." + key.get<std::string>() + " is required but not written";
    }
  }
  if (type == "array") {
    for (const Json& element : value) {
      if (std::string m = schemaMismatch(element, schema.at("items"), path + "[]", reached); !m.empty()) return m;
    }
  }
  return "";
}

// Every path of `schema`; each member must say what it is and in which unit.
void schemaPaths(const Json& schema, const std::string& path, std::set<std::string>& into) {
  into.insert(path);
  const Json properties = schema.value("properties", Json::object());
  for (const auto& [key, member] : properties.items()) {
    EXPECT_TRUE(member.contains("description")) << path << "." << key;
    schemaPaths(member, path + "." + key, into);
  }
  if (schema.contains("items")) schemaPaths(schema["items"], path + "[]", into);
}

// Each tool's output schema against what the records' own JSON writers write,
// with every optional member present and with every one absent: a member
// written but not described, described but never written, or of another type
// fails. So does a tool with an output schema and no records here.
TEST_F(ProbeTest, OutputSchemasMatchTheWriters) {
  const auto channels = [](const char* name) { return std::vector<ChannelPower>{{name, 0.5}}; };
  const auto breakdown = [&](bool lists) {
    const auto some = [&](const char* name) { return lists ? channels(name) : std::vector<ChannelPower>{}; };
    return EnergyBreakdown(some("EACC_CPU0"), some("PACC0_CPU"), 3, 1, 1, 0, 0.5, 0.3, 0.4, 0.9, 0, 0.2, 0, 0.1,
                           some("ANE_DTL"), some("SOC_AON"), some("Platform"));
  };
  const auto snapshot = [&](bool full) {
    const auto optional = [&](double v) { return full ? std::optional<double>(v) : std::nullopt; };
    const auto values = [&](double v) { return full ? std::vector<double>{v, v} : std::vector<double>{}; };
    return PowerSnapshot(std::chrono::system_clock::time_point{}, 1, 3, 1, 0, 0.5, 7, 1, 2, optional(47), optional(42),
                         values(45), 0.2, 0.2, 0.3, 0.1, values(0.3), 605, MemoryBandwidth::zero(),
                         full ? std::vector<FanInfo>{{0, 1250}} : std::vector<FanInfo>{}, breakdown(full),
                         optional(0.5));
  };
  const Json started = Json::parse(callText("power_begin_window", {{"name", "w"}}));
  const std::map<std::string, std::vector<Json>> written = {
      {"power_snapshot", {snapshot(true), snapshot(false)}},
      {"power_begin_window", {started}},
      {"power_end_window", {EnergyMetrics(1, 3, 1, 0, 0.5, 7)}},
      {"power_is_throttling",
       {ThrottleStatus(true, 95, 60, 400, 0.9, "thermal"), ThrottleStatus(false, 50, 0, 600, 0.1, std::nullopt)}},
      {"power_headroom", {HeadroomStatus(1.4, 35, 4, true, true)}},
      {"power_cooldown", {CooldownResult(false, 81.5, 60)}},
      {"power_system_info", {Json::parse(callText("power_system_info", Json::object()))}},
      {"power_top_processes",
       {topProcessesJson(ProcessAttribution{AttributionMethod::cpuTimeShare, 1, 4, {{7, "x", 501, 50, 2, 2}}, 2})}},
  };
  for (const Tool& tool : toolCatalogue()) {
    SCOPED_TRACE(tool.name);
    if (tool.outputSchema.is_null()) continue;
    const auto records = written.find(tool.name);
    ASSERT_NE(records, written.end()) << "no records to check the output schema of " << tool.name << " against";
    std::set<std::string> reached;
    for (const Json& record : records->second) EXPECT_EQ(schemaMismatch(record, tool.outputSchema, "", reached), "");
    std::set<std::string> described;
    schemaPaths(tool.outputSchema, "", described);
    for (const std::string& path : described) EXPECT_TRUE(reached.contains(path)) << path << " is never written";
  }
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

// A host of the first revision, and one of the newest; arguments the tools
// cannot use are the model's to correct (a tool error that names the argument
// and what it must be), a request that names no tool the host's fault
// ("Invalid params").
TEST(ProbeGolden, SimulatedLaptop) {
  for (const char* name : {"probe_sim.jsonl", "probe_sim_2025-11-25.jsonl", "probe_arguments.jsonl"}) {
    SCOPED_TRACE(name);
    fake::SimulatedMachine machine(fake::builtinProfile());
    replay(name, machine.platform());
  }
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

TEST_F(ProbeTest, TheLoopDropsOverlongLinesAndStopsWhenOutputCloses) {
  linesUntilOutputCloses = 3;  // the reader goes away after the third message
  std::string input = R"({"id":1,"method":"tools/list"})" "\r\n";
  input += std::string(CalorimProbe::kMaxLineBytes + 10, '{') + "\n";
  input += R"({"id":2,"method":"ping"})" "\n";
  input += R"({"id":3,"method":"ping"})" "\n";
  input += R"({"id":4,"method":"ping"})" "\n";
  input += R"({"id":5,"method":"ping"})";  // no terminator
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(input.data(), 1, input.size(), file), input.size());
  std::rewind(file);
  server->run(::fileno(file));
  std::fclose(file);
  ASSERT_EQ(lines.size(), 3u);  // stopped once output closed
  EXPECT_EQ(Json::parse(lines[1])["id"], 2);
}

}  // namespace
}  // namespace calorim::probe
