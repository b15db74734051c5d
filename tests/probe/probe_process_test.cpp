// End-to-end tests of the two server programs: each test starts the real
// executable as a child process and talks to it over pipes, as an MCP client
// does. Every read has a deadline, so a server that hangs fails the test
// instead of stalling it. The simulated machine runs on the real clock, so a
// snapshot takes about a second; most tools share one server process. Then
// calorim-probe reading a fixture machine mounted over /sys and /proc (see
// tests/support/child_process.h), skipped where that cannot be done; the
// answers on fixed counters are in the golden transcripts; and, with the real
// /proc, a busy child of the test first among the processes.

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "core/json.h"
#include "tests/core/platform/linux_machine_clock.h"
#include "tests/core/platform/linux_machine_tree.h"
#include "tests/support/child_process.h"

namespace calorim::probe {
namespace {

namespace fs = std::filesystem;
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
  // The span between the readings as measured: on the real clock, the second
  // asked for and a little more.
  EXPECT_GT(snapshot.value("duration", 0.0), 0.9);
  EXPECT_GT(snapshot.value("totalPower", 0.0), 0.0);

  // A last line without terminator (CR LF is the loop's test).
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

// A host's cancellation reaches a cooldown while it waits: the call ends
// unanswered and the next request is answered long before the minute the
// wait would have lasted. A cancellation naming another request, or one that
// arrives after its call ended, changes nothing.
TEST(ProbeProcess, CancellingAWaitingCall) {
  ChildProcess server({PROBE_SIM_BINARY});
  server.send(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"power_cooldown",)"
              R"("arguments":{"target_temp":-50},"_meta":{"progressToken":"t"}}})");  // never reached
  server.send(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":2}})");
  ASSERT_NE(server.readLine().value_or("").find("notifications/progress"), std::string::npos);
  ASSERT_NE(server.readLine().value_or("").find("notifications/progress"), std::string::npos);  // still waiting
  const auto cancelled = Clock::now();
  server.send(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":1,"reason":"done"}})");
  server.send(R"({"jsonrpc":"2.0","id":2,"method":"ping"})");
  std::optional<std::string> line;
  do {
    line = server.readLine(20);
  } while (line && line->find("notifications/progress") != std::string::npos);
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(*line, R"({"jsonrpc":"2.0","id":2,"result":{}})");
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - cancelled).count(), 10.0);

  server.send(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":1}})");
  EXPECT_EQ(server.exchange(R"({"jsonrpc":"2.0","id":3,"method":"ping"})")["id"], 3);
  server.closeInput();
  EXPECT_EQ(server.restOfOutput(), "");
  EXPECT_EQ(server.wait().status, "exit 0");
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
    EXPECT_EQ(server.wait().status, "exit 1") << path;
  }
  {
    ChildProcess server({PROBE_SIM_BINARY, good, good});
    EXPECT_EQ(server.errorOutput(),
              "calorim-probe-sim: unexpected argument '" + good + "' after PROFILE (see calorim-probe-sim --help)\n");
    EXPECT_EQ(server.wait().status, "exit 2");
  }
}

constexpr const char* kNeedsRoot =
    "calorim-probe against a fixture mounted over /sys and /proc needs root; run the tests as root to include it";

std::string noNamespace(const std::string& failure) {
  return "no private mount namespace here (" + failure + "); calorim-probe is not run against the fixture";
}

TEST(LinuxProbeProcess, ReadsTheMachineMountedOverSysAndProc) {
  if (::geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  testing::MachineTree tree("laptop");
  tree.copyProc("laptop");
  ChildProcess probe({PROBE_BINARY}, {.fixtureRoot = tree.root()});
  if (probe.failure()) GTEST_SKIP() << noNamespace(*probe.failure());

  EXPECT_EQ(probe.callTool(1, "power_system_info")["chipName"], "12th Gen Intel(R) Core(TM) i7-1260P");

  // The counters move only while the window is open. Energy is a difference of
  // two readings over the window's own time, so the joules are exact whatever
  // time the process measured.
  EXPECT_EQ(probe.callTool(2, "power_begin_window", {{"name", "e2e"}})["status"], "started");
  testing::MachineClock counters(tree.root());
  testing::setSteadyLaptopLoad(counters);
  counters.sleep(2.0);
  const Json energy = probe.callTool(3, "power_end_window", {{"name", "e2e"}});
  EXPECT_NEAR(energy["cpuEnergy"].get<double>(), 10.0, 1e-9);
  EXPECT_NEAR(energy["gpuEnergy"].get<double>(), 4.0, 1e-9);
  EXPECT_NEAR(energy["dramEnergy"].get<double>(), 3.0, 1e-9);
  EXPECT_NEAR(energy["totalEnergy"].get<double>(), 27.0, 1e-9);
  EXPECT_GT(energy["duration"].get<double>(), 0.0);

  probe.closeInput();
  EXPECT_EQ(probe.restOfOutput(), "");
  EXPECT_EQ(probe.errorOutput(), "");
  EXPECT_EQ(probe.wait().status, "exit 0");
}

// A child of the test that keeps a few CPUs busy at the highest priority, so
// that it uses most of the machine's CPU time even beside other work: in a
// session of its own, whose scheduling group (where the kernel groups
// sessions) also gets the highest priority.
class BusyChild {
 public:
  static constexpr const char* kName = "calorim-busy";

  BusyChild() {
    pid_ = ::fork();
    if (pid_ != 0) return;
    ::prctl(PR_SET_NAME, kName);
    ::setsid();
    if (const int group = ::open("/proc/self/autogroup", O_WRONLY); group >= 0) {
      (void)!::write(group, "-20", 3);
      ::close(group);
    }
    ::setpriority(PRIO_PROCESS, 0, -20);
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1U, 4U);
    for (unsigned i = 1; i < threads; ++i) std::thread(spin).detach();
    spin();
  }
  ~BusyChild() { stop(); }
  BusyChild(const BusyChild&) = delete;
  BusyChild& operator=(const BusyChild&) = delete;

  [[nodiscard]] pid_t pid() const { return pid_; }
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  [[noreturn]] static void spin() {
    volatile std::uint64_t n = 0;
    for (;;) n = n + 1;
  }

  pid_t pid_ = -1;
};

// Sets the nice value of this session's scheduling group, where the kernel
// keeps one, and puts the old one back when destroyed.
class AutogroupNice {
 public:
  explicit AutogroupNice(int nice) {
    std::ifstream in("/proc/self/autogroup");
    std::string name, word;
    int old = 0;
    if (in >> name >> word >> old && word == "nice") {
      old_ = old;
      set(nice);
    }
  }
  ~AutogroupNice() {
    if (old_) set(*old_);
  }
  AutogroupNice(const AutogroupNice&) = delete;
  AutogroupNice& operator=(const AutogroupNice&) = delete;

 private:
  static void set(int nice) { std::ofstream("/proc/self/autogroup") << nice; }

  std::optional<int> old_;
};

// The real /proc beside the fixture's energy counters: a busy child of the
// test comes first, with most of the CPU power. The fixture's proc/stat stands
// still, so the processes' own CPU time is the whole. The probe and the test
// run at the child's priority (the test's scheduling group too, until the
// test ends), so that it cannot starve them.
TEST(LinuxProbeProcess, TheBusiestProcessComesFirst) {
  if (::geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  testing::MachineTree tree("laptop");
  tree.copyProc("laptop");
  ChildProcess probe({PROBE_BINARY}, {.fixtureRoot = tree.root()});
  if (probe.failure()) GTEST_SKIP() << noNamespace(*probe.failure());
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(probe.pid()), -20);
  const AutogroupNice raised(-20);

  // Forked while this process has one thread only.
  BusyChild busy;
  // The counters gain 5 J in the core zone half-way through the tool's
  // one-second interval: one rewrite, while the probe is waiting.
  testing::MachineClock counters(tree.root());
  counters.setEnergyRate("intel-rapl:0", 12'000'000);
  counters.setEnergyRate("intel-rapl:0:0", 5'000'000);
  // Let the child get going before the interval starts.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::thread clock([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    counters.sleep(1.0);
  });
  const Json top = probe.callTool(1, "power_top_processes", {{"limit", 3}});
  const pid_t busyPid = busy.pid();
  busy.stop();
  clock.join();

  ASSERT_TRUE(top.is_object()) << top.dump();
  EXPECT_EQ(top["method"], "cpuTimeShare");
  ASSERT_FALSE(top["processes"].empty()) << top.dump();
  const Json& first = top["processes"][0];
  EXPECT_EQ(first["pid"], busyPid) << top.dump();
  EXPECT_EQ(first["name"], BusyChild::kName);
  const double cpu = top["cpuPowerW"].get<double>();
  // The counters advanced by 5 J; the watts are over the span the probe measured.
  EXPECT_NEAR(cpu * top["duration"].get<double>(), 5.0, 1e-6) << top.dump();
  EXPECT_GT(first["powerW"].get<double>(), 0.5 * cpu) << top.dump();
  EXPECT_GT(first["cpuPercent"].get<double>(), 50.0) << top.dump();
  double sum = top["otherPowerW"].get<double>();
  for (const Json& p : top["processes"]) sum += p["powerW"].get<double>();
  EXPECT_NEAR(sum, cpu, 1e-6);
  EXPECT_LE(top["processes"].size(), 3U);

  probe.closeInput();
  EXPECT_EQ(probe.wait().status, "exit 0");
}

// A machine whose energy the probe cannot read: it fails to start, with the
// line callers match first and then what the case is and where access is
// explained.
TEST(LinuxProbeProcess, WithoutReadableEnergyCountersTheProbeSaysWhy) {
  if (::geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  struct Case {
    const char* name;
    bool ordinaryUser;
    std::string secondLine;
  };
  const Case cases[] = {
      // The VM: /proc only, an empty /sys.
      {"vm", false,
       "This machine has no energy counters in /sys/class/powercap (a VM, a container or a processor without "
       "RAPL): calorim-probe-sim serves a simulated machine instead.\n"},
      // The laptop as the kernel leaves it: every energy_uj root's alone.
      {"laptop", true,
       "The energy counters in /sys/class/powercap are there, but this user may not read them: see "
       "\"Granting energy access\" in the README.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::MachineTree tree(c.name);
    tree.copyProc(c.name);
    if (c.ordinaryUser) {
      for (const auto& entry : fs::recursive_directory_iterator(tree.root() / "sys/class/powercap")) {
        if (entry.path().filename() == "energy_uj") ::chmod(entry.path().c_str(), 0400);
      }
    }
    ChildProcess probe({PROBE_BINARY}, {.fixtureRoot = tree.root(), .asNobody = c.ordinaryUser});
    if (probe.failure()) GTEST_SKIP() << noNamespace(*probe.failure());

    EXPECT_EQ(probe.restOfOutput(), "");
    EXPECT_EQ(probe.wait().status, "exit 1");
    EXPECT_EQ(probe.errorOutput(), "Failed to start: channelNotFound(\"Energy Model\")\n" + c.secondLine);
  }
}

}  // namespace
}  // namespace calorim::probe
