// End-to-end tests of the two server programs: each test starts the real
// executable as a child process and talks to it over pipes, as an MCP client
// does. Every read has a deadline, so a server that hangs fails the test
// instead of stalling it. The simulated machine runs on the real clock, so a
// snapshot takes about a second; most tools share one server process.

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "core/json.h"
#include "tests/support/child_process.h"

namespace calorim::probe {
namespace {

using Clock = std::chrono::steady_clock;
using testing::ChildProcess;

Json toolCall(const Json& id, std::string_view name, const Json& arguments = Json::object()) {
  Json request = {{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"}};
  request["params"] = Json{{"name", name}, {"arguments", arguments}};
  return request;
}

// The tool text of a successful call answering `id`, parsed as JSON (null when
// the text is not JSON). A text that is an {"error":...} object must come
// with "isError": true beside the content, and any other without it. The
// reply may be anything: a faulty server must fail the test, not crash it.
Json toolText(const Json& reply, const Json& id) {
  const Json::json_pointer idPath("/id"), typePath("/result/content/0/type"), textPath("/result/content/0/text");
  EXPECT_TRUE(reply.contains(idPath) && reply.at(idPath) == id) << reply.dump();
  if (!reply.contains(textPath) || !reply.at(textPath).is_string() || !reply.contains(typePath) ||
      reply.at(typePath) != "text" || reply.at("result").at("content").size() != 1) {
    ADD_FAILURE() << "not one text item: " << reply.dump();
    return nullptr;
  }
  Json text = Json::parse(reply.at(textPath).get<std::string>(), nullptr, false);
  const Json& result = reply.at("result");
  const bool isError = text.is_object() && text.contains("error");
  EXPECT_EQ(result.size(), isError ? 2u : 1u) << reply.dump();
  EXPECT_EQ(result.contains("isError") && result.at("isError") == true, isError) << reply.dump();
  return text;
}

// Whether this machine has an energy counter the native backend could read.
bool hasReadableEnergyZone() {
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/sys/class/powercap", ec), end; !ec && it != end; it.increment(ec)) {
    std::ifstream energy(it->path() / "energy_uj");
    std::uint64_t microjoules = 0;
    if (energy >> microjoules) return true;
  }
  return false;
}

// The answers themselves are in the golden transcripts; here the program on
// the real clock and its framing of lines on standard input.
TEST(ProbeProcess, ServesTheSimulatedMachineOverPipes) {
  ChildProcess server({PROBE_SIM_BINARY});
  EXPECT_EQ(server.exchange(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{}})")["result"]["serverInfo"]
                .dump(),
            R"({"name":"calorim-power","version":"0.2.0"})");
  for (const char* line : {"", "   ", "[1,2,3]", "{\"id\":1,", "not json",
                           R"({"jsonrpc":"2.0","method":"notifications/initialized"})"}) {
    server.send(line);
  }
  Json snapshot = toolText(server.exchange(toolCall(1, "power_snapshot").dump()), 1);
  EXPECT_EQ(snapshot["duration"], 1.0);
  EXPECT_TRUE(std::regex_match(snapshot.value("timestamp", ""), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
      << snapshot["timestamp"];
  EXPECT_GT(snapshot.value("totalPower", 0.0), 0.0);

  // CR LF, then a last line without terminator.
  server.write("{\"jsonrpc\":\"2.0\",\"id\":14,\"method\":\"tools/list\"}\r\n");
  const std::optional<std::string> crlf = server.readLine();
  ASSERT_TRUE(crlf.has_value());
  EXPECT_EQ(crlf->find('\r'), std::string::npos);
  EXPECT_EQ(Json::parse(*crlf)["id"], 14);
  server.write(R"({"jsonrpc":"2.0","id":15,"method":"tools/list"})");
  server.closeInput();
  const std::optional<std::string> last = server.readLine();
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(Json::parse(*last)["id"], 15);

  EXPECT_EQ(server.restOfOutput(), "");
  EXPECT_EQ(server.errorOutput(), "");
  EXPECT_EQ(server.wait().status, "exit 0");
}

TEST(ProbeProcess, EndOfInputWithoutRequests) {
  ChildProcess silent({PROBE_SIM_BINARY});
  ChildProcess ignored({PROBE_SIM_BINARY});  // both start at once: starting takes a second
  silent.closeInput();
  ignored.write("\n\r\n[]\n{\"method\":\"notifications/initialized\"}");
  ignored.closeInput();
  for (ChildProcess* server : {&silent, &ignored}) {
    EXPECT_EQ(server->restOfOutput(), "");
    EXPECT_EQ(server->errorOutput(), "");
    EXPECT_EQ(server->wait().status, "exit 0");
  }
}

TEST(ProbeProcess, ClientClosingOutputEndsTheServerQuietly) {
  ChildProcess server({PROBE_SIM_BINARY});
  ASSERT_EQ(server.exchange(R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})")["id"], 1);
  server.closeOutput();
  // The answer cannot be written. Standard input stays open: the server must
  // notice by itself, without dying of SIGPIPE and without busy-looping.
  server.send(R"({"jsonrpc":"2.0","id":2,"method":"tools/list"})");
  const ChildProcess::Exit exit = server.wait();
  EXPECT_EQ(exit.status, "exit 0");
  EXPECT_LT(exit.cpuSeconds, 2.0);
  EXPECT_EQ(server.errorOutput(), "");
}

// The host closing its end of a pipe while a cooldown waits ends the server
// at once, quietly; the wait would otherwise last a minute.
TEST(ProbeProcess, HostGoneEndsAWaitingCooldown) {
  for (const bool closeOutput : {true, false}) {
    SCOPED_TRACE(closeOutput ? "standard output closed" : "standard input closed");
    ChildProcess server({PROBE_SIM_BINARY});
    Json cooldown = toolCall(1, "power_cooldown", {{"target_temp", -1}});  // never reached
    cooldown["params"]["_meta"] = {{"progressToken", "t"}};
    server.send(cooldown.dump());
    const std::optional<std::string> progress = server.readLine();  // one second in: surely waiting
    ASSERT_TRUE(progress.has_value());
    ASSERT_NE(progress->find("notifications/progress"), std::string::npos) << *progress;
    const auto closed = Clock::now();
    if (closeOutput) {
      server.closeOutput();
    } else {
      server.closeInput();
    }
    const ChildProcess::Exit exit = server.wait(10);
    const double seconds = std::chrono::duration<double>(Clock::now() - closed).count();
    std::printf("%s: the server ended %.3f s after it\n", closeOutput ? "standard output closed" : "standard input closed", seconds);
    EXPECT_EQ(exit.status, "exit 0");
    EXPECT_LT(seconds, 3.0);
    if (!closeOutput) {
      EXPECT_EQ(server.restOfOutput(), "");
    }
    EXPECT_EQ(server.errorOutput(), "");
  }
}

TEST(ProbeProcess, StartFailureOnAMachineWithoutEnergyCounters) {
  if (hasReadableEnergyZone()) {
    GTEST_SKIP() << "this machine has a readable energy counter under /sys/class/powercap, "
                    "so calorim-probe starts here and its start failure cannot be seen";
  }
  ChildProcess server({PROBE_BINARY});  // standard input stays open: it must not wait for it
  // The first line for callers that match it, then which case this machine is in.
  const std::string errors = server.errorOutput();
  const std::string first = "Failed to start: channelNotFound(\"Energy Model\")\n";
  EXPECT_EQ(errors.substr(0, first.size()), first);
  const std::string second = errors.substr(std::min(first.size(), errors.size()));
  EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 1) << second;
  EXPECT_NE(second.find("/sys/class/powercap"), std::string::npos) << second;
  EXPECT_NE(second.find("\"Granting energy access\" in the README"), std::string::npos) << second;
  EXPECT_EQ(server.restOfOutput(), "");
  EXPECT_EQ(server.wait().status, "exit 1");
}

TEST(ProbeProcess, SimulatorProfileArgument) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("calorim_probe_process_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto writeFile = [&](const char* name, std::string_view text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    return (dir / name).string();
  };
  const std::string good = writeFile(
      "good.json",
      R"({"counters":[{"group":"Energy Model","name":"CPU Energy","watts":1}],)"
      R"("systemValues":{"machdep.cpu.brand_string":"Apple M9 Test"}})");
  const std::string bad = writeFile("bad.json", R"({"counters":5})");
  const std::string deep =
      writeFile("deep.json", R"({"name":)" + std::string(100'000, '[') + std::string(100'000, ']') + "}");
  const std::string missing = (dir / "missing.json").string();

  {
    ChildProcess server({PROBE_SIM_BINARY, good});
    const Json info = toolText(server.exchange(toolCall(1, "power_system_info").dump()), 1);
    EXPECT_EQ(info["chipName"], "Apple M9 Test");
    EXPECT_EQ(info["machineName"], "Unknown Mac (simulated)");
    server.closeInput();
    EXPECT_EQ(server.wait().status, "exit 0");
  }
  // A device that never ends is refused at the size bound, not read for ever.
  for (const std::string& path : {bad, deep, missing, std::string("/dev/zero")}) {
    ChildProcess server({PROBE_SIM_BINARY, path});
    const std::string message = server.errorOutput();
    EXPECT_NE(message.find(path), std::string::npos) << message;
    EXPECT_EQ(server.restOfOutput(), "");
    EXPECT_EQ(server.wait().status, "exit 2") << path;
  }
  {
    ChildProcess server({PROBE_SIM_BINARY, good, good});
    EXPECT_NE(server.errorOutput().find("usage:"), std::string::npos);
    EXPECT_EQ(server.wait().status, "exit 2");
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace calorim::probe
