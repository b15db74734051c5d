// End-to-end tests of the two server programs: each test starts the real
// executable as a child process and talks to it over pipes, as an MCP client
// does. Every read has a deadline, so a server that hangs fails the test
// instead of stalling it. The simulated machine runs on the real clock, so a
// snapshot takes about a second; most tools share one server process.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "core/json.h"
#include "tests/core/platform/linux_machine_tree.h"
#include "tests/support/child_process.h"

namespace calorim::probe {
namespace {

using Clock = std::chrono::steady_clock;
using testing::ChildProcess;

// The answers themselves are in the golden transcripts; here the program on
// the real clock and its framing of lines on standard input.
TEST(ProbeProcess, ServesTheSimulatedMachineOverPipes) {
  ChildProcess server({PROBE_SIM_BINARY});
  EXPECT_EQ(server.exchange(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{}})")["id"], 0);
  for (const char* line : {"", "   ", "[1,2,3]", "{\"id\":1,", "not json",
                           R"({"jsonrpc":"2.0","method":"notifications/initialized"})"}) {
    server.send(line);
  }
  const Json snapshot = server.callTool(1, "power_snapshot");
  EXPECT_EQ(snapshot["duration"], 1.0);
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

// The host closing either pipe ends the server at once and quietly, idle or
// while a cooldown waits (that wait would otherwise last a minute). A closed
// output is noticed at the next answer, or by the waiting cooldown, with
// standard input still open: without dying of SIGPIPE and without busy-looping.
TEST(ProbeProcess, HostClosingAPipeEndsTheServer) {
  for (const bool cooling : {false, true}) {
    for (const bool closeOutput : {false, true}) {
      SCOPED_TRACE(std::string(cooling ? "cooling, " : "idle, ") + (closeOutput ? "output closed" : "input closed"));
      ChildProcess server({PROBE_SIM_BINARY});
      if (cooling) {
        server.send(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"power_cooldown",)"
                    R"("arguments":{"target_temp":-1},"_meta":{"progressToken":"t"}}})");  // never reached
        const std::optional<std::string> progress = server.readLine();  // one second in: surely waiting
        ASSERT_NE(progress.value_or("").find("notifications/progress"), std::string::npos);
      }
      const auto closed = Clock::now();
      if (closeOutput) {
        server.closeOutput();
        if (!cooling) server.send(R"({"jsonrpc":"2.0","id":2,"method":"tools/list"})");
      } else {
        server.closeInput();
        EXPECT_EQ(server.restOfOutput(), "");
      }
      const ChildProcess::Exit exit = server.wait(10);
      EXPECT_EQ(exit.status, "exit 0");
      EXPECT_LT(std::chrono::duration<double>(Clock::now() - closed).count(), 3.0);
      EXPECT_LT(exit.cpuSeconds, 2.0);
      EXPECT_EQ(server.errorOutput(), "");
    }
  }
}

TEST(ProbeProcess, SimulatorProfileArgument) {
  const testing::MachineTree folder;  // an empty temporary folder
  const std::filesystem::path dir = folder.root();
  const auto writeFile = [&](const char* name, std::string_view text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    return (dir / name).string();
  };
  const std::string good = writeFile(
      "good.json",
      R"({"counters":[{"group":"Energy Model","name":"CPU Energy","watts":1}],)"
      R"("systemValues":{"machdep.cpu.brand_string":"Apple M9 Test"}})");
  const std::string bad = writeFile("bad.json", R"({"counters":5})");
  const std::string missing = (dir / "missing.json").string();

  {
    ChildProcess server({PROBE_SIM_BINARY, good});
    const Json info = server.callTool(1, "power_system_info");
    EXPECT_EQ(info["chipName"], "Apple M9 Test");
    EXPECT_EQ(info["machineName"], "Unknown Mac (simulated)");
    server.closeInput();
    EXPECT_EQ(server.wait().status, "exit 0");
  }
  // A device that never ends is refused at the size bound, not read for ever.
  for (const std::string& path : {bad, missing, std::string("/dev/zero")}) {
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
}

}  // namespace
}  // namespace calorim::probe
